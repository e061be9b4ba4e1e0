#include "platform/report_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::FILE* createReportFile(const char* name, std::string& why)
{
    // Without waiting, and without emptying it yet: what the name leads to
    // is looked at first.
    const int descriptor = ::open(name, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        why = errno == ENXIO ? "a FIFO that nothing reads" : std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    const int flags = fcntl(descriptor, F_GETFL);
    if (fstat(descriptor, &info) != 0 || (S_ISREG(info.st_mode) && ftruncate(descriptor, 0) != 0) || flags < 0 ||
        fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        why = std::strerror(errno);
        ::close(descriptor);
        return nullptr;
    }
    std::FILE* file = fdopen(descriptor, "w");
    if (file == nullptr) {
        why = std::strerror(errno);
        ::close(descriptor);
    }
    return file;
}

bool replaceReportFile(const char* temporary, const char* name, std::string& why)
{
    if (std::rename(temporary, name) == 0) return true;
    why = std::strerror(errno);
    return false;
}
