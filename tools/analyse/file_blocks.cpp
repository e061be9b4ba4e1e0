#include "analyse/file_blocks.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace analyse {

FileBlocks::~FileBlocks() { close(); }

void FileBlocks::close()
{
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
}

bool FileBlocks::open(const std::string& path, std::string& error)
{
    close();
    path_ = path;
    read_ = 0;
    // Without waiting: opening a FIFO with no writer would block for ever,
    // before its kind could be looked at.
    descriptor_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
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
    const int flags = fcntl(descriptor_, F_GETFL);
    if (flags >= 0) fcntl(descriptor_, F_SETFL, flags & ~O_NONBLOCK);
    size_ = static_cast<uint64_t>(info.st_size);
    changed_ = info.st_mtim;
    // Read front to back once: let the kernel read well ahead.
    posix_fadvise(descriptor_, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

bool FileBlocks::read(char* into, size_t room, size_t& got, std::string& error)
{
    got = 0;
    while (got < room) {
        const ssize_t n = ::read(descriptor_, into + got, room - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = path_ + ": cannot read: " + std::strerror(errno);
            return false;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    read_ += got;
    return true;
}

size_t FileBlocks::readTail(char* into, size_t room) const
{
    const uint64_t start = size_ > room ? size_ - room : 0;
    const ssize_t n = pread(descriptor_, into, static_cast<size_t>(size_ - start), static_cast<off_t>(start));
    return n > 0 ? static_cast<size_t>(n) : 0;
}

bool FileBlocks::unchanged(std::string& error) const
{
    struct stat info;
    if (fstat(descriptor_, &info) != 0) {
        error = path_ + ": cannot read: " + std::strerror(errno);
        return false;
    }
    const uint64_t now = static_cast<uint64_t>(info.st_size);
    if (now == size_ && read_ == size_ && info.st_mtim.tv_sec == changed_.tv_sec &&
        info.st_mtim.tv_nsec == changed_.tv_nsec)
        return true;
    error = path_ + ": the file changed while it was read (" + std::to_string(size_) + " bytes when opened, " +
            std::to_string(now) + " now)";
    return false;
}

}  // namespace analyse
