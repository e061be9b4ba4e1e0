#include "analyse/output_names.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "analyse/wav_output.h"

namespace analyse {

namespace {

// A file as the system knows it: its device and inode when it exists, else
// its folder's and its own name within it, so that two spellings of one
// path (./o, o, dir/../o) meet; without a folder yet, its whole path.
struct Identity {
    bool known = false;
    bool regular = true;  // a device or a pipe may be shared by outputs
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;  // empty for a file that exists

    bool operator==(const Identity& other) const
    {
        return known && other.known && device == other.device && inode == other.inode && name == other.name;
    }
};

Identity identify(const std::string& path)
{
    Identity id;
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        id.known = true;
        id.regular = S_ISREG(info.st_mode);
        id.device = info.st_dev;
        id.inode = info.st_ino;
        return id;
    }
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    id.known = true;
    if (stat(folder.c_str(), &info) != 0) {
        // A folder still to be made (--wav's): only the spelling is known.
        std::error_code failed;
        id.name = std::filesystem::absolute(path, failed).lexically_normal().string();
        return id;
    }
    id.device = info.st_dev;
    id.inode = info.st_ino;
    id.name = slash == std::string::npos ? path : path.substr(slash + 1);
    return id;
}

struct Output {
    std::string shown;  // as the message names it
    std::string path;
    Identity id;
};

}  // namespace

bool checkOutputNames(const CommandLine& line, std::string& error)
{
    std::vector<Output> outputs;
    if (!line.jsonFile.empty()) outputs.push_back({"--json " + line.jsonFile, line.jsonFile, {}});
    if (!line.plotFile.empty()) outputs.push_back({"--plot " + line.plotFile, line.plotFile, {}});
    if (!line.wavFolder.empty())
        for (const std::string& file : line.files) {
            const std::string wav = line.wavFolder + "/" + wavFileName(file);
            outputs.push_back({"the WAV file " + wav + " of " + file, wav, {}});
        }
    for (Output& o : outputs) o.id = identify(o.path);

    for (const std::string& file : line.files) {
        const Identity input = identify(file);
        if (!input.name.empty()) continue;  // missing: reading it reports that
        for (const Output& o : outputs)
            if (o.id == input) {
                error = o.shown + " is the dump " + file + ": an output never replaces an input";
                return false;
            }
    }
    for (size_t i = 0; i < outputs.size(); ++i)
        for (size_t j = i + 1; j < outputs.size(); ++j)
            if (outputs[i].id.regular && outputs[i].id == outputs[j].id) {
                error = outputs[i].shown + " and " + outputs[j].shown + " are one file";
                return false;
            }
    return true;
}

}  // namespace analyse
