#include "analyse/wav_output.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "analyse/output_file.h"

namespace analyse {

namespace {

// Frames interleaved and handed to the library at a time.
constexpr int64_t framesPerBlock = 65536;
// Sample bytes a WAV file's 32-bit chunk sizes still hold, with room for
// the header.
constexpr uint64_t wavDataLimit = 0xFFFFFFFFull - 4096;

struct SoundFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SoundFile = std::unique_ptr<SNDFILE, SoundFileCloser>;

bool makeFolder(const std::string& folder, std::string& error)
{
    if (mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST) return true;
    error = folder + ": cannot create the folder: " + std::strerror(errno);
    return false;
}

// libsndfile writes through these, so that every failure of the file,
// the header's rewrite at the end included, is kept by the output file.
sf_count_t fileLength(void* file)
{
    struct stat info {};
    return fstat(static_cast<OutputFile*>(file)->descriptor(), &info) == 0 ? info.st_size : -1;
}

sf_count_t fileSeek(sf_count_t offset, int whence, void* file)
{
    OutputFile& out = *static_cast<OutputFile*>(file);
    const off_t at = lseek(out.descriptor(), static_cast<off_t>(offset), whence);
    if (at < 0) out.fail(errno);
    return at;
}

sf_count_t fileRead(void* into, sf_count_t count, void* file)
{
    OutputFile& out = *static_cast<OutputFile*>(file);
    const ssize_t n = read(out.descriptor(), into, static_cast<size_t>(count));
    if (n < 0) out.fail(errno);
    return n < 0 ? 0 : n;
}

sf_count_t fileWrite(const void* data, sf_count_t count, void* file)
{
    return static_cast<OutputFile*>(file)->write(data, static_cast<size_t>(count)) ? count : 0;
}

sf_count_t fileTell(void* file)
{
    return lseek(static_cast<OutputFile*>(file)->descriptor(), 0, SEEK_CUR);
}

int32_t sampleAt(const std::vector<int32_t>& column, int64_t p)
{
    return p < static_cast<int64_t>(column.size()) ? column[static_cast<size_t>(p)] : 0;
}

}  // namespace

std::string wavFileName(const std::string& dumpPath)
{
    const size_t slash = dumpPath.find_last_of('/');
    std::string name = slash == std::string::npos ? dumpPath : dumpPath.substr(slash + 1);
    const std::string txt = ".txt";
    if (name.size() > txt.size() && name.compare(name.size() - txt.size(), txt.size(), txt) == 0)
        name.resize(name.size() - txt.size());
    return name + ".wav";
}

bool writeRunWav(const DumpData& dump, int bits, double rate, const std::string& folder, std::string& written,
                 std::string& error)
{
    if (!makeFolder(folder, error)) return false;
    written = folder + "/" + wavFileName(dump.path);
    const int channels = static_cast<int>(dump.columns.size());
    if (channels == 0) {
        error = written + ": the dump has no input to write";
        return false;
    }
    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(rate));
    info.channels = channels;
    // A plain WAV file unless the recording outgrows its 32-bit sizes.
    const uint64_t dataBytes = static_cast<uint64_t>(dump.rows) * static_cast<uint64_t>(channels) * (bits == 16 ? 2u : 4u);
    const int container = dataBytes < wavDataLimit ? SF_FORMAT_WAV : SF_FORMAT_RF64;
    info.format = container | (bits == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_32);
    OutputFile out;
    if (!out.open(written, error)) return false;
    SF_VIRTUAL_IO io{fileLength, fileSeek, fileRead, fileWrite, fileTell};
    SoundFile file(sf_open_virtual(&io, SFM_WRITE, &info, &out));
    if (!file) {
        if (out.ok(error)) error = written + ": cannot write: " + sf_strerror(nullptr);
        return false;
    }

    const int64_t frames = dump.rows;
    std::vector<int32_t> wide;
    std::vector<short> narrow;
    for (int64_t start = 0; start < frames; start += framesPerBlock) {
        const int64_t count = std::min(framesPerBlock, frames - start);
        const size_t values = static_cast<size_t>(count) * static_cast<size_t>(channels);
        sf_count_t done = 0;
        if (bits == 16) {
            narrow.resize(values);
            for (int64_t f = 0; f < count; ++f)
                for (int c = 0; c < channels; ++c)
                    narrow[static_cast<size_t>(f * channels + c)] =
                        static_cast<short>(std::clamp(sampleAt(dump.columns[static_cast<size_t>(c)], start + f), -32768, 32767));
            done = sf_writef_short(file.get(), narrow.data(), count);
        } else {
            wide.resize(values);
            for (int64_t f = 0; f < count; ++f)
                for (int c = 0; c < channels; ++c)
                    wide[static_cast<size_t>(f * channels + c)] = sampleAt(dump.columns[static_cast<size_t>(c)], start + f);
            done = sf_writef_int(file.get(), wide.data(), count);
        }
        if (done != count) {
            if (out.ok(error)) error = written + ": cannot write: " + sf_strerror(file.get());
            return false;
        }
    }
    if (sf_close(file.release()) != 0) {
        if (out.ok(error)) error = written + ": cannot finish the file";
        return false;
    }
    return out.commit(error);
}

}  // namespace analyse
