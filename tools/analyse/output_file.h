// An output file that is either written in full or reported as not
// written. A regular file, or a name not taken yet, is written to a
// temporary file in the same folder and renamed over the name only once all
// of it is written: a failure leaves what was there before, and no half
// file. Anything else a name leads to (a device, a pipe, a terminal, a
// descriptor such as /dev/stdout) is written in place, since a file renamed
// over it would replace the node itself; its errors are reported all the
// same. Every message names the file as the user gave it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace analyse {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // removes a temporary file that was not committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // False with `error` set when nothing can be written under `path`.
    bool open(const std::string& path, std::string& error);

    // Writes all of it; the first failure is kept for `commit` to report.
    bool write(const void* data, size_t size);
    // A stdio stream over `write` for libraries that write to a FILE. The
    // library may close it; `commit` closes it otherwise. Closing it leaves
    // the file open for `commit`. Null when it cannot be had.
    FILE* stream();

    // The descriptor written to, for libraries that seek and read back.
    int descriptor() const { return descriptor_; }
    // Keeps `code` (an errno value) as the failure to report.
    void fail(int code);
    // False with `error` set once anything written so far has failed.
    bool ok(std::string& error) const;

    // Closes the file and, unless it is written in place, renames it over
    // the name asked for. False with `error` when any write, the close or
    // the rename failed; the temporary file is then removed.
    bool commit(std::string& error);

private:
    static int closeStream(void* cookie);
    std::string reason() const;

    std::string path_;       // as the user gave it
    std::string temporary_;  // empty when written in place
    std::string target_;     // what the temporary file replaces
    int descriptor_ = -1;
    int failure_ = 0;        // errno of the first failure
    FILE* stream_ = nullptr; // open until closed by whoever writes to it
};

}  // namespace analyse
