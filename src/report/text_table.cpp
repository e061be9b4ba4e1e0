#include "report/text_table.h"

#include <algorithm>

void TextTable::write(std::ostream& out) const
{
    std::vector<size_t> widths;
    for (const auto& cells : rows_) {
        if (widths.size() < cells.size())
            widths.resize(cells.size(), 0);
        for (size_t i = 0; i < cells.size(); ++i)
            widths[i] = std::max(widths[i], cells[i].size());
    }
    for (const auto& cells : rows_) {
        std::string line = indent_;
        for (size_t i = 0; i < cells.size(); ++i) {
            line += cells[i];
            if (i + 1 < cells.size())
                line += std::string(widths[i] - cells[i].size() + 2, ' ');
        }
        // Empty cells at the end of a row leave no spaces behind.
        line.erase(line.find_last_not_of(' ') + 1);
        out << line << '\n';
    }
}
