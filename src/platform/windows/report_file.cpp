#include "platform/report_file.h"

#include <windows.h>

#include <cerrno>
#include <cstring>

std::FILE* createReportFile(const char* name, std::string& why)
{
    errno = 0;
    std::FILE* file = std::fopen(name, "wt");
    if (file == nullptr) why = std::strerror(errno != 0 ? errno : EIO);
    return file;
}

bool replaceReportFile(const char* temporary, const char* name, std::string& why)
{
    // rename() refuses an existing target here; MoveFileEx replaces it in
    // one step on the same volume.
    if (MoveFileExA(temporary, name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) return true;
    const DWORD error = GetLastError();
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        text, sizeof text, nullptr);
    why = length > 0 ? std::string(text, length) : "system error " + std::to_string(error);
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' ' || why.back() == '.'))
        why.pop_back();
    return false;
}
