#include "analyse/mapped_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace analyse {

namespace {

// An empty file has no pages to map; this stands in for its range.
const char emptyFile[1] = {'\0'};

}  // namespace

MappedFile::~MappedFile() { close(); }

void MappedFile::close()
{
    if (data_ != nullptr && data_ != emptyFile) munmap(const_cast<char*>(data_), size_);
    if (descriptor_ >= 0) ::close(descriptor_);
    data_ = nullptr;
    size_ = 0;
    descriptor_ = -1;
}

bool MappedFile::open(const std::string& path, std::string& error)
{
    close();
    descriptor_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor_ < 0) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    struct stat info;
    if (fstat(descriptor_, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = path + ": not a regular file";
        close();
        return false;
    }
    size_ = static_cast<size_t>(info.st_size);
    if (size_ == 0) {
        data_ = emptyFile;
        return true;
    }
    void* mapped = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, descriptor_, 0);
    if (mapped == MAP_FAILED) {
        error = path + ": cannot map: " + std::strerror(errno);
        size_ = 0;
        close();
        return false;
    }
    // The parser reads front to back once: let the kernel read ahead.
    madvise(mapped, size_, MADV_SEQUENTIAL);
    data_ = static_cast<const char*>(mapped);
    return true;
}

}  // namespace analyse
