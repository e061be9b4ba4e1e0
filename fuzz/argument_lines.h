// Turns a fuzz input into a program's command line for the command-line
// targets: each line of the input is one argument.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Fills `arguments` with `program` and the input's lines. False, leaving
// the input alone, once there are more than `maxArguments` entries or a line
// longer than `maxChars`: inputs that would only make the fuzzer crawl.
inline bool argumentLines(const uint8_t* data, size_t size, const char* program,
                          std::vector<std::string>& arguments, size_t maxArguments = SIZE_MAX,
                          size_t maxChars = SIZE_MAX)
{
    arguments.assign(1, program);
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\n') {
            arguments.push_back(current);
            current.clear();
        } else {
            current += c;
        }
        if (current.size() > maxChars || arguments.size() > maxArguments) return false;
    }
    if (!current.empty()) arguments.push_back(current);
    return true;
}
