#include "report/text_file_writer.h"

#include <cerrno>
#include <cstring>
#include <new>

TextFileWriter::TextFileWriter(std::FILE* file, Writes writes) : file_(file)
{
    if (file_ != nullptr && writes == Writes::background && background_.start(file_, blockBytes)) {
        inBackground_ = true;
        useBlock(background_.freeBlock(), blockBytes);
        return;
    }
    block_.reset(new (std::nothrow) char[blockBytes]);
    if (block_)
        useBlock(block_.get(), blockBytes);
    else
        useBlock(fallback_, sizeof fallback_);
}

void TextFileWriter::useBlock(char* block, size_t bytes)
{
    start_ = block;
    next_ = block;
    limit_ = block + bytes;
}

void TextFileWriter::drain()
{
    const size_t count = static_cast<size_t>(next_ - start_);
    if (inBackground_) {
        if (count == 0) return;
        background_.submit(start_, count);
        useBlock(background_.freeBlock(), blockBytes);
        return;
    }
    next_ = start_;
    if (count == 0 || file_ == nullptr || error_ != 0) return;
    errno = 0;
    if (std::fwrite(start_, 1, count, file_) != count) error_ = errno != 0 ? errno : EIO;
}

void TextFileWriter::write(const char* chars, size_t count)
{
    while (count > 0) {
        const size_t free = static_cast<size_t>(limit_ - next_);
        const size_t part = count < free ? count : free;
        std::memcpy(next_, chars, part);
        next_ += part;
        chars += part;
        count -= part;
        if (count > 0) drain();
    }
}

int TextFileWriter::finish(bool flushFile)
{
    std::FILE* const file = file_;
    if (inBackground_) {
        const size_t count = static_cast<size_t>(next_ - start_);
        if (count > 0) background_.submit(start_, count);
        const int error = background_.finish();
        if (error_ == 0) error_ = error;
        inBackground_ = false;
        // Whatever comes after is dropped into the fallback block.
        file_ = nullptr;
        useBlock(fallback_, sizeof fallback_);
    } else {
        drain();
    }
    if (flushFile && file != nullptr && error_ == 0) {
        errno = 0;
        if (std::fflush(file) != 0) error_ = errno != 0 ? errno : EIO;
    }
    return error_;
}
