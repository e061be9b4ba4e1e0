// The string and file calls: lower-casing, the multi-byte to UTF-16
// conversion and the file-existence probe. The 8-bit text of this side is
// UTF-8, so that is what the "ANSI" code page means here.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/posix/win32_shim.h"

namespace {

// Decodes UTF-8 into UTF-16 code units. A byte that does not start a
// well-formed sequence becomes U+FFFD, as Windows does without
// MB_ERR_INVALID_CHARS.
std::vector<WCHAR> utf16FromUtf8(const unsigned char* text, size_t length)
{
    std::vector<WCHAR> out;
    out.reserve(length);
    size_t i = 0;
    while (i < length) {
        const unsigned char lead = text[i];
        size_t extra = 0;
        uint32_t point = lead;
        uint32_t minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1, point = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2, point = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3, point = lead & 0x07, minimum = 0x10000;
        } else if (lead >= 0x80) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        size_t taken = 0;
        while (taken < extra && i + 1 + taken < length && (text[i + 1 + taken] & 0xC0) == 0x80) {
            point = (point << 6) | (text[i + 1 + taken] & 0x3F);
            ++taken;
        }
        if (taken < extra || point < minimum || point > 0x10FFFF || (point >= 0xD800 && point < 0xE000)) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        i += 1 + extra;
        if (point >= 0x10000) {
            point -= 0x10000;
            out.push_back(static_cast<WCHAR>(0xD800 + (point >> 10)));
            out.push_back(static_cast<WCHAR>(0xDC00 + (point & 0x3FF)));
        } else {
            out.push_back(static_cast<WCHAR>(point));
        }
    }
    return out;
}

WORD windowsErrorOf(int error)
{
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

}  // namespace

DWORD CharLowerBuffA(LPSTR text, DWORD length)
{
    if (text == nullptr)
        return 0;
    for (DWORD i = 0; i < length; ++i) {
        if (text[i] >= 'A' && text[i] <= 'Z')
            text[i] = static_cast<CHAR>(text[i] - 'A' + 'a');
    }
    return length;
}

// Returns 0 when the result does not fit: Windows fills what fits and
// fails, so callers must not rely on the buffer then.
int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int textLength, LPWSTR wide, int wideLength)
{
    if ((codePage != CP_ACP && codePage != CP_UTF8) || text == nullptr || textLength == 0 || textLength < -1 ||
        wideLength < 0 || (wide == nullptr && wideLength != 0))
        return 0;
    const size_t length = textLength == -1 ? std::strlen(text) + 1 : static_cast<size_t>(textLength);
    const std::vector<WCHAR> converted = utf16FromUtf8(reinterpret_cast<const unsigned char*>(text), length);
    const auto needed = static_cast<int>(converted.size());
    if (wideLength == 0)
        return needed;
    const int written = needed < wideLength ? needed : wideLength;
    std::memcpy(wide, converted.data(), static_cast<size_t>(written) * sizeof(WCHAR));
    return needed <= wideLength ? needed : 0;
}

// Only the existence probe (OF_EXIST) is provided: it succeeds for a
// regular file that can be opened for reading, as Windows' probe opens and
// closes the file. Directories fail, as they do on Windows; a pipe or device
// is not waited on.
HFILE OpenFile(LPCSTR fileName, OFSTRUCT* info, UINT style)
{
    if (fileName == nullptr || info == nullptr)
        return HFILE_ERROR;
    *info = OFSTRUCT{};
    info->cBytes = sizeof(OFSTRUCT);
    info->fFixedDisk = 1;
    std::snprintf(info->szPathName, sizeof info->szPathName, "%s", fileName);
    if ((style & OF_EXIST) == 0) {
        info->nErrCode = ERROR_INVALID_PARAMETER;
        return HFILE_ERROR;
    }

    const int descriptor = ::open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        info->nErrCode = windowsErrorOf(errno);
        return HFILE_ERROR;
    }
    struct stat status {};
    const bool regular = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
    ::close(descriptor);
    if (!regular) {
        info->nErrCode = ERROR_ACCESS_DENIED;
        return HFILE_ERROR;
    }
    return 1;
}
