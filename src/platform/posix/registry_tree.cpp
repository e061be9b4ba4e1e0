#include "platform/posix/registry_tree.h"

#include <algorithm>

namespace {

// Windows keeps subkeys sorted by their upper-cased names, which puts
// "_" after the letters; folding to upper case here gives the same order.
unsigned char upperAscii(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

// Calls visit(part) for each non-empty backslash-separated part of path;
// stops early when visit returns false.
template <class Visit>
bool forEachPart(std::string_view path, Visit visit)
{
    while (!path.empty()) {
        const size_t end = std::min(path.find('\\'), path.size());
        const std::string_view part = path.substr(0, end);
        path.remove_prefix(std::min(end + 1, path.size()));
        if (!part.empty() && !visit(part))
            return false;
    }
    return true;
}

}  // namespace

bool CaselessLess::operator()(std::string_view a, std::string_view b) const
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return upperAscii(x) < upperAscii(y);
    });
}

bool equalsCaseless(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return upperAscii(x) == upperAscii(y); });
}

const RegistryKeyNode* RegistryKeyNode::find(std::string_view path) const
{
    const RegistryKeyNode* node = this;
    const bool found = forEachPart(path, [&node](std::string_view part) {
        const auto it = node->subkeys.find(part);
        if (it == node->subkeys.end())
            return false;
        node = it->second.get();
        return true;
    });
    return found ? node : nullptr;
}

RegistryKeyNode& RegistryKeyNode::make(std::string_view path)
{
    RegistryKeyNode* node = this;
    forEachPart(path, [&node](std::string_view part) {
        auto it = node->subkeys.find(part);
        if (it == node->subkeys.end()) {
            auto child = std::make_unique<RegistryKeyNode>();
            child->name = std::string(part);
            it = node->subkeys.emplace(std::string(part), std::move(child)).first;
        }
        node = it->second.get();
        return true;
    });
    return *node;
}

void RegistryKeyNode::remove(std::string_view path)
{
    while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    const size_t split = path.find_last_of('\\');
    const std::string_view parentPath = split == std::string_view::npos ? std::string_view() : path.substr(0, split);
    const std::string_view leaf = split == std::string_view::npos ? path : path.substr(split + 1);
    // This node is not const, so neither is any node below it.
    auto* parent = const_cast<RegistryKeyNode*>(find(parentPath));
    if (parent == nullptr || leaf.empty())
        return;
    const auto it = parent->subkeys.find(leaf);
    if (it != parent->subkeys.end())
        parent->subkeys.erase(it);
}

RegistryValue textValue(std::string_view text)
{
    RegistryValue value;
    value.type = REG_SZ;
    value.data.assign(text.begin(), text.end());
    value.data.push_back(0);
    return value;
}

RegistryValue dwordValue(uint32_t number)
{
    RegistryValue value;
    value.type = REG_DWORD;
    for (int shift = 0; shift < 32; shift += 8)
        value.data.push_back(static_cast<uint8_t>(number >> shift));
    return value;
}
