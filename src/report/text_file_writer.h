// Buffered text output to a C file, for report files that can run to
// gigabytes: text is gathered in one large block and handed to the file in
// whole blocks, so the cost per number is the formatting alone.
//
// A failed write is remembered (the first errno) and everything after it is
// dropped; the owner decides how to tell the user. Large files can be
// written from a thread of their own while the next block is formatted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "report/block_writer_thread.h"
#include "report/decimal_format.h"

class TextFileWriter {
public:
    enum class Writes { direct, background };

    // `file` may be null: everything written is then dropped, silently.
    // With Writes::background the blocks are written on a thread of their
    // own (or inline when no thread can be had).
    explicit TextFileWriter(std::FILE* file, Writes writes = Writes::direct);
    TextFileWriter(const TextFileWriter&) = delete;
    TextFileWriter& operator=(const TextFileWriter&) = delete;

    // Room for `bytes` more characters (a few hundred at most): the caller
    // writes there and hands the end back through commit(). For loops that
    // format many numbers per call.
    char* room(size_t bytes)
    {
        if (static_cast<size_t>(limit_ - next_) < bytes) drain();
        return next_;
    }
    void commit(char* end) { next_ = end; }

    template <size_t N>
    void text(const char (&literal)[N])
    {
        write(literal, N - 1);
    }
    void write(const char* chars, size_t count);
    void character(char c)
    {
        char* at = room(1);
        *at = c;
        next_ = at + 1;
    }
    void number(int32_t value) { next_ = writeDecimal(room(maxDecimalChars), value); }
    void number(uint64_t value) { next_ = writeDecimal(room(maxDecimalChars), value); }

    // Hands what is gathered to the file and, with `flushFile`, drains the
    // file's own buffer too. Returns 0 or the errno of the first failure
    // since construction. Nothing may be written after it.
    int finish(bool flushFile);

    // Large enough that the file sees few, big writes; small enough to
    // stay in the processor's second-level cache.
    static constexpr size_t blockBytes = 256 * 1024;

private:
    void drain();

    void useBlock(char* block, size_t bytes);

    std::FILE* file_;
    std::unique_ptr<char[]> block_;
    BlockWriterThread background_;
    bool inBackground_ = false;
    char* start_ = nullptr;
    char* next_ = nullptr;
    char* limit_ = nullptr;
    int error_ = 0;
    // Used only when the large block cannot be had.
    char fallback_[4096];
};
