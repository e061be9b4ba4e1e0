#include "platform/report_file.h"

#include <cerrno>
#include <cstring>

std::FILE* createReportFile(const char* name, std::string& why)
{
    errno = 0;
    std::FILE* file = std::fopen(name, "wt");
    if (file == nullptr) why = std::strerror(errno != 0 ? errno : EIO);
    return file;
}
