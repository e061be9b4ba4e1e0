#include "platform/posix/registry_text.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace {

constexpr std::string_view spaces = " \t\r";

std::string_view trim(std::string_view text)
{
    const size_t first = text.find_first_not_of(spaces);
    if (first == std::string_view::npos)
        return {};
    const size_t last = text.find_last_not_of(spaces);
    return text.substr(first, last - first + 1);
}

bool startsCaseless(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalsCaseless(text.substr(0, prefix.size()), prefix);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads 1 to maxDigits hex digits from the front of text.
std::optional<uint32_t> takeHex(std::string_view& text, size_t maxDigits)
{
    uint32_t value = 0;
    size_t digits = 0;
    while (digits < text.size() && hexDigit(text[digits]) >= 0) {
        if (++digits > maxDigits)
            return std::nullopt;
        value = value * 16 + static_cast<uint32_t>(hexDigit(text[digits - 1]));
    }
    if (digits == 0)
        return std::nullopt;
    text.remove_prefix(digits);
    return value;
}

// A quoted name or text at the front of text, with \\ and \" escapes.
std::optional<std::string> takeQuoted(std::string_view& text)
{
    if (text.empty() || text.front() != '"')
        return std::nullopt;
    std::string out;
    for (size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            text.remove_prefix(i + 1);
            return out;
        }
        if (c == '\\') {
            if (i + 1 == text.size() || (text[i + 1] != '\\' && text[i + 1] != '"'))
                return std::nullopt;
            ++i;
        }
        out.push_back(text[i]);
    }
    return std::nullopt;
}

// Comma-separated two-digit hex bytes, as hex: data is written.
std::optional<std::vector<uint8_t>> takeHexBytes(std::string_view& text)
{
    std::vector<uint8_t> bytes;
    text = trim(text);
    while (!text.empty() && text.front() != ';') {
        const auto byte = takeHex(text, 2);
        if (!byte)
            return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(*byte));
        text = trim(text);
        if (!text.empty() && text.front() == ',')
            text = trim(text.substr(1));
        else
            break;
    }
    return bytes;
}

// Nothing but an optional comment may follow a value.
bool onlyCommentLeft(std::string_view rest)
{
    rest = trim(rest);
    return rest.empty() || rest.front() == ';';
}

bool isHeader(std::string_view line)
{
    return line == "Windows Registry Editor Version 5.00" || line == "REGEDIT4";
}

// Registry export files from Windows are UTF-16; everything here is 8-bit
// text (UTF-8 on this side), so those are turned into UTF-8 first.
std::string utf8FromUtf16le(std::string_view bytes)
{
    std::string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t unit = static_cast<uint8_t>(bytes[i]) | (static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
            const uint32_t low =
                static_cast<uint8_t>(bytes[i + 2]) | (static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 3])) << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (unit < 0x80) {
            out.push_back(static_cast<char>(unit));
        } else if (unit < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (unit >> 6)));
            out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        } else if (unit < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (unit >> 12)));
            out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (unit >> 18)));
            out.push_back(static_cast<char>(0x80 | ((unit >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        }
    }
    return out;
}

class Parser {
public:
    Parser(const std::string& fileName, const std::string& folder, RegistryTree& tree, std::ostream& warnings)
        : fileName_(fileName), folder_(folder), tree_(tree), warnings_(warnings)
    {
    }

    void line(std::string_view text, size_t number)
    {
        number_ = number;
        if (text.front() == '[')
            section(text);
        else if (isHeader(text) && !sectionSeen_)
            return;
        else
            value(text);
    }

private:
    void warn(std::string_view reason)
    {
        warnings_ << "warning: " << fileName_ << ':' << number_ << ": " << reason << ", line skipped\n";
        warnings_.flush();
    }

    void section(std::string_view text)
    {
        sectionSeen_ = true;
        key_ = nullptr;  // a section that cannot be used takes its values with it
        if (text.back() != ']')
            return warn("key section without closing bracket");
        std::string_view path = text.substr(1, text.size() - 2);
        const bool removal = !path.empty() && path.front() == '-';
        if (removal)
            path.remove_prefix(1);
        const size_t split = path.find('\\');
        const std::string_view root = path.substr(0, split);
        const std::string_view below = split == std::string_view::npos ? std::string_view() : path.substr(split + 1);
        if (below.find("\\\\") != std::string_view::npos || (!below.empty() && below.back() == '\\') ||
            (split != std::string_view::npos && below.empty()))
            return warn("key path with an empty name");

        RegistryKeyNode* base = nullptr;
        if (equalsCaseless(root, "HKEY_LOCAL_MACHINE") || equalsCaseless(root, "HKLM"))
            base = &tree_.localMachine;
        else if (equalsCaseless(root, "HKEY_CLASSES_ROOT") || equalsCaseless(root, "HKCR"))
            base = &tree_.classesRoot();
        else
            return warn("key outside HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT");

        if (removal) {
            base->remove(below);
            return;
        }
        key_ = &base->make(below);
    }

    void value(std::string_view text)
    {
        std::string name;
        if (text.front() == '@') {
            text.remove_prefix(1);
        } else {
            auto quoted = takeQuoted(text);
            if (!quoted)
                return warn(text.front() == '"' ? "value name without closing quote or with an unknown escape"
                                                : "neither a key section, a value nor a comment");
            name = std::move(*quoted);
        }
        text = trim(text);
        if (text.empty() || text.front() != '=')
            return warn("value without '='");
        text = trim(text.substr(1));

        bool removal = false;
        RegistryValue data;
        if (!text.empty() && text.front() == '"') {
            auto quoted = takeQuoted(text);
            if (!quoted)
                return warn("text without closing quote or with an unknown escape");
            data = textValue(*quoted);
        } else if (startsCaseless(text, "dword:")) {
            text.remove_prefix(6);
            const auto number = takeHex(text, 8);
            if (!number)
                return warn("dword value that is not 1 to 8 hex digits");
            data = dwordValue(*number);
        } else if (startsCaseless(text, "hex")) {
            text.remove_prefix(3);
            data.type = REG_BINARY;
            if (!text.empty() && text.front() == '(') {
                text.remove_prefix(1);
                const auto type = takeHex(text, 8);
                if (!type || text.empty() || text.front() != ')')
                    return warn("hex value with an unreadable type");
                text.remove_prefix(1);
                data.type = *type;
            }
            if (text.empty() || text.front() != ':')
                return warn("hex value without ':'");
            text.remove_prefix(1);
            auto bytes = takeHexBytes(text);
            if (!bytes)
                return warn("hex value with a byte that is not one or two hex digits");
            data.data = std::move(*bytes);
        } else if (!text.empty() && text.front() == '-') {
            text.remove_prefix(1);
            removal = true;
        } else {
            return warn("value data that is neither text, dword: nor hex:");
        }
        if (!onlyCommentLeft(text))
            return warn("text after the value");

        if (key_ == nullptr) {
            if (!sectionSeen_)
                warn("value outside any key section");
            return;
        }
        if (removal) {
            key_->values.erase(name);
            return;
        }
        if (name.empty() && (data.type == REG_SZ || data.type == REG_EXPAND_SZ) &&
            equalsCaseless(key_->name, "InprocServer32"))
            anchorServerPath(data);
        key_->values[name] = std::move(data);
    }

    // Server paths in a registry file are relative to that file, so a
    // fixture and the libraries it names can move together.
    void anchorServerPath(RegistryValue& data) const
    {
        // Text given as hex(1): bytes need not end in a zero, or hold any.
        const auto end = std::find(data.data.begin(), data.data.end(), uint8_t{0});
        const std::string path(data.data.begin(), end);
        if (!path.empty() && path.front() != '/') {
            const DWORD type = data.type;
            data = textValue(folder_ + "/" + path);
            data.type = type;
        }
    }

    const std::string& fileName_;
    const std::string& folder_;
    RegistryTree& tree_;
    std::ostream& warnings_;
    size_t number_ = 0;
    bool sectionSeen_ = false;
    RegistryKeyNode* key_ = nullptr;
};

}  // namespace

void parseRegistryText(std::string_view text, const std::string& fileName, const std::string& folder,
                       RegistryTree& tree, std::ostream& warnings)
{
    std::string converted;
    if (text.size() >= 2 && static_cast<uint8_t>(text[0]) == 0xFF && static_cast<uint8_t>(text[1]) == 0xFE) {
        converted = utf8FromUtf16le(text.substr(2));
        text = converted;
    } else if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }

    Parser parser(fileName, folder, tree, warnings);
    size_t number = 0;
    while (!text.empty()) {
        const size_t firstNumber = ++number;
        size_t end = std::min(text.find('\n'), text.size());
        std::string_view first = trim(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (first.empty() || first.front() == ';')
            continue;
        // hex: data goes on over lines that end in a backslash.
        std::string joined(first);
        while (!joined.empty() && joined.back() == '\\' && !text.empty()) {
            joined.pop_back();
            end = std::min(text.find('\n'), text.size());
            joined += trim(text.substr(0, end));
            text.remove_prefix(std::min(end + 1, text.size()));
            ++number;
        }
        // A line of nothing but continuations leaves nothing to read.
        if (!joined.empty())
            parser.line(joined, firstNumber);
    }
}
