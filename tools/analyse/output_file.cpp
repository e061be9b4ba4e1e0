#include "analyse/output_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace analyse {

namespace {

std::string folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// /dev/stdout, /dev/fd/N and /proc/self/fd/N lead to a descriptor the
// process already has, also when that is a regular file: replacing the file
// would take it from under the descriptor.
bool namesADescriptor(const std::string& path)
{
    return path.compare(0, 5, "/dev/") == 0 || path.compare(0, 6, "/proc/") == 0;
}

// Where a symbolic link that leads nowhere yet would create its file.
std::string linkTarget(const std::string& path)
{
    char target[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0) return path;
    const std::string t(target, static_cast<size_t>(n));
    return t[0] == '/' ? t : folderOf(path) + "/" + t;
}

ssize_t streamWrite(void* cookie, const char* data, size_t size)
{
    return static_cast<OutputFile*>(cookie)->write(data, size) ? static_cast<ssize_t>(size) : -1;
}

}  // namespace

int OutputFile::closeStream(void* cookie)
{
    static_cast<OutputFile*>(cookie)->stream_ = nullptr;
    return 0;
}

OutputFile::~OutputFile()
{
    if (stream_ != nullptr) std::fclose(stream_);
    if (descriptor_ >= 0) ::close(descriptor_);
    if (!temporary_.empty()) unlink(temporary_.c_str());
}

bool OutputFile::open(const std::string& path, std::string& error)
{
    path_ = path;
    target_ = path;
    struct stat info {};
    const bool exists = stat(path.c_str(), &info) == 0;
    if (!exists && errno != ENOENT) {
        error = path + ": cannot write: " + std::strerror(errno);
        return false;
    }
    if (exists && S_ISDIR(info.st_mode)) {
        error = path + ": cannot write: " + std::strerror(EISDIR);
        return false;
    }
    struct stat link {};
    const bool isLink = lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    if (exists && (!S_ISREG(info.st_mode) || (isLink && namesADescriptor(path)))) {
        // Appending, so that a descriptor shared with standard output keeps
        // what was written before.
        // Without waiting: a FIFO that nothing reads would block for ever.
        descriptor_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (descriptor_ < 0) {
            error = path + ": cannot write: " + (errno == ENXIO ? "a FIFO that nothing reads" : std::strerror(errno));
            return false;
        }
        const int flags = fcntl(descriptor_, F_GETFL);
        if (flags >= 0) fcntl(descriptor_, F_SETFL, flags & ~O_NONBLOCK);
        return true;
    }
    if (isLink) {
        // The link stays; the file it leads to is the one replaced.
        char resolved[PATH_MAX];
        target_ = exists && realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : linkTarget(path);
    }

    const std::string stem = folderOf(target_) + "/." + nameOf(target_) + "." + std::to_string(getpid()) + ".";
    for (int attempt = 0; descriptor_ < 0; ++attempt) {
        temporary_ = stem + std::to_string(attempt) + ".tmp";
        descriptor_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor_ < 0 && (errno != EEXIST || attempt == 100)) {
            error = path + ": cannot write: " + std::strerror(errno);
            temporary_.clear();
            return false;
        }
    }
    // A file that is replaced keeps who may read it.
    if (exists) fchmod(descriptor_, info.st_mode & 07777);
    return true;
}

bool OutputFile::write(const void* data, size_t size)
{
    if (failure_ != 0) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(descriptor_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fail(n < 0 ? errno : ENOSPC);
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

FILE* OutputFile::stream()
{
    cookie_io_functions_t functions{};
    functions.write = streamWrite;
    functions.close = closeStream;
    stream_ = fopencookie(this, "w", functions);
    return stream_;
}

void OutputFile::fail(int code)
{
    if (failure_ == 0) failure_ = code != 0 ? code : EIO;
}

bool OutputFile::ok(std::string& error) const
{
    if (failure_ == 0) return true;
    error = reason();
    return false;
}

std::string OutputFile::reason() const { return path_ + ": cannot write: " + std::strerror(failure_); }

bool OutputFile::commit(std::string& error)
{
    // Flushes what the stream still holds through `write`.
    if (stream_ != nullptr && std::fclose(stream_) != 0) fail(EIO);
    if (descriptor_ >= 0 && ::close(descriptor_) != 0) fail(errno);
    descriptor_ = -1;
    if (failure_ == 0 && !temporary_.empty()) {
        if (rename(temporary_.c_str(), target_.c_str()) != 0)
            fail(errno);
        else
            temporary_.clear();
    }
    if (failure_ == 0) return true;
    error = reason();
    return false;
}

}  // namespace analyse
