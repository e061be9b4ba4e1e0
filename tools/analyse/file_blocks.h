// A regular file read front to back in large blocks into the caller's
// buffer. What the file was when opened (its size and time of change) is
// kept, so that a file emptied or rewritten while it is read shows as
// changed rather than as a shorter or mixed text. Reading never maps the
// file: a file that shrinks under the reader cannot end the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace analyse {

class FileBlocks {
public:
    FileBlocks() = default;
    ~FileBlocks();
    FileBlocks(const FileBlocks&) = delete;
    FileBlocks& operator=(const FileBlocks&) = delete;

    // False with `error` set (naming the file) when it cannot be opened or
    // is not a regular file.
    bool open(const std::string& path, std::string& error);

    // Fills `into` with up to `room` bytes that follow what was read so far;
    // `got` is 0 at the end of the file. False with `error` on a read error.
    bool read(char* into, size_t room, size_t& got, std::string& error);

    // Up to `room` bytes that end the file as it was when opened, read
    // without moving on; what it could read.
    size_t readTail(char* into, size_t room) const;

    uint64_t sizeWhenOpened() const { return size_; }
    uint64_t bytesRead() const { return read_; }

    // False with `error` set when the file is no longer what was opened, or
    // what was read does not add up to its size.
    bool unchanged(std::string& error) const;

private:
    void close();

    std::string path_;
    int descriptor_ = -1;
    uint64_t size_ = 0;
    uint64_t read_ = 0;
    timespec changed_{};
};

}  // namespace analyse
