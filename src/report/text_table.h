// Rows of text printed as columns, each as wide as its widest cell, two
// spaces apart; the last column is not padded.
#pragma once

#include <ostream>
#include <string>
#include <vector>

class TextTable {
public:
    explicit TextTable(std::string indent = "  ") : indent_(std::move(indent)) {}
    void row(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
    void write(std::ostream& out) const;

private:
    std::string indent_;
    std::vector<std::vector<std::string>> rows_;
};
