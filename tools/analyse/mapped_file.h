// A whole file mapped read-only into memory: the dump parser walks it as
// one character range without copying it. Unmapped and closed on
// destruction.
#pragma once

#include <cstddef>
#include <string>

namespace analyse {

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // False with `error` set (naming the file) when it cannot be opened or
    // mapped. An empty file maps to an empty range.
    bool open(const std::string& path, std::string& error);

    const char* begin() const { return data_; }
    const char* end() const { return data_ + size_; }
    size_t size() const { return size_; }

private:
    void close();

    int descriptor_ = -1;
    const char* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace analyse
