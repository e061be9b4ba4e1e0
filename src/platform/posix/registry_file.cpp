#include "platform/posix/registry_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>

#include "platform/bundled_driver.h"
#include "platform/posix/registry_text.h"

namespace posix_registry {

namespace {

struct Cache {
    std::mutex mutex;
    std::shared_ptr<const RegistryTree> tree;
};

// A driver library carries its own copy of this reader and reads the same
// file as its host. The first copy to read a file names it here, so that
// the others in the process, or in a child forked to make a driver, do not
// warn about it again. The harness starts no other programs.
constexpr const char* warnedVariable = "LOOPCHECK_REGISTRY_WARNED";

bool warnedAlready(const char* path)
{
    const char* warned = std::getenv(warnedVariable);
    return warned != nullptr && std::strcmp(warned, path) == 0;
}

// Reached through a function so that it exists however early the first
// registry call comes: the driver list scans during static initialisation.

Cache& cache()
{
    static Cache instance;
    return instance;
}

// Closes a descriptor on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// The whole content of the regular file at path; false with the reason in
// why otherwise. Plain system calls, not streams: a stream's read error
// throws, and a FIFO opened for reading would wait for a writer for ever.
bool readRegularFile(const std::string& path, std::string& text, std::string& why)
{
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        why = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        why = S_ISDIR(status.st_mode) ? "it is a directory" : "it is not a regular file";
        return false;
    }
    char block[65536];
    for (;;) {
        const ssize_t got = ::read(file.get(), block, sizeof block);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            why = std::strerror(errno);
            return false;
        }
        text.append(block, static_cast<size_t>(got));
    }
}

std::shared_ptr<const RegistryTree> readFile(const std::string& path, std::ostream& warnings)
{
    auto tree = std::make_shared<RegistryTree>();
    std::string text;
    std::string why;
    if (!readRegularFile(path, text, why)) {
        warnings << "warning: registry file " << path << " cannot be read (" << why
                 << "); no drivers are registered\n";
        warnings.flush();
        return tree;
    }

    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        absolute = path;
    parseRegistryText(text, path, absolute.lexically_normal().parent_path().string(), *tree, warnings);
    return tree;
}

std::shared_ptr<const RegistryTree> readConfigured(std::ostream& warnings)
{
    const char* path = std::getenv(fileVariable);
    if (path != nullptr && *path != '\0')
        return readFile(path, warnings);
    return std::make_shared<RegistryTree>(builtInRegistry());
}

void replace(std::shared_ptr<const RegistryTree> tree)
{
    Cache& c = cache();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.tree = std::move(tree);
}

}  // namespace

std::shared_ptr<const RegistryTree> current()
{
    Cache& c = cache();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (!c.tree) {
        // The first read may come from a static constructor that runs
        // before the standard streams are set up; this makes sure they are.
        const std::ios_base::Init streams;
        const char* path = std::getenv(fileVariable);
        const bool warned = path != nullptr && warnedAlready(path);
        std::ostream quiet(nullptr);
        c.tree = readConfigured(warned ? quiet : std::cerr);
        // Read during start-up, before any thread of ours: setting the
        // environment is safe here.
        if (path != nullptr && !warned) setenv(warnedVariable, path, 1);
    }
    return c.tree;
}

void reload(std::ostream& warnings) { replace(readConfigured(warnings)); }

void loadFile(const std::string& path, std::ostream& warnings) { replace(readFile(path, warnings)); }

RegistryTree builtInRegistry()
{
    RegistryTree tree;
    RegistryKeyNode& driver = tree.localMachine.make("SOFTWARE\\ASIO\\" LOOPCHECK_BUNDLED_DRIVER_NAME);
    driver.values["CLSID"] = textValue(LOOPCHECK_BUNDLED_DRIVER_CLSID);
    driver.values["Description"] = textValue(LOOPCHECK_BUNDLED_DRIVER_NAME);

    RegistryKeyNode& server = tree.classesRoot().make("CLSID\\" LOOPCHECK_BUNDLED_DRIVER_CLSID "\\InprocServer32");
    server.values[""] = textValue(bundledDriverPath(executableFolder()));
    server.values["ThreadingModel"] = textValue("Apartment");
    return tree;
}

std::string bundledDriverPath(const std::string& executableFolder)
{
    // The build folder keeps the library beside the executable; an install
    // puts the executable in bin/ and the drivers in lib/loopcheck/.
    static const char* const places[] = {"", "/../lib/loopcheck"};
    for (const char* place : places) {
        const std::filesystem::path candidate =
            std::filesystem::path(executableFolder + place + "/" LOOPCHECK_BUNDLED_DRIVER_FILE).lexically_normal();
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error))
            return candidate.string();
    }
    return executableFolder + "/" LOOPCHECK_BUNDLED_DRIVER_FILE;
}

std::string executableFolder()
{
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !executable.has_parent_path())
        return ".";
    return executable.parent_path().string();
}

}  // namespace posix_registry
