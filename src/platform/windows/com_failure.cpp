#include "platform/com_failure.h"

#include <cstdio>

std::string describeCreateFailure(HRESULT result)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(result), 0, text, sizeof text, nullptr);
    std::string message(text, length);
    // System messages end in a line break, which would split the warning.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    if (message.empty())
        return std::string("CoCreateInstance returned ") + code;
    return "CoCreateInstance returned " + std::string(code) + ": " + message;
}
