#include "wine_runner.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/bundled_driver.h"

namespace {

// Long enough for any case's runs on a slow, shared machine; short enough
// that a harness that hangs, or streams when it should not, ends the case
// rather than the whole suite.
constexpr int harnessTimeoutSeconds = 60;
constexpr int toolTimeoutSeconds = 60;
// A first boot creates the whole prefix.
constexpr int bootTimeoutSeconds = 300;

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeWhole(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

bool exists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// A console program's lines end in CR LF; the cases compare lines.
std::string withUnixLineEnds(const std::string& text)
{
    std::string converted;
    converted.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        converted += text[i];
    }
    return converted;
}

// Wine's drive Z: is the Unix root.
std::string windowsPath(const std::string& unixPath)
{
    std::string path = "Z:";
    for (char c : unixPath) path += c == '/' ? '\\' : c;
    return path;
}

// Holds the prefix's lock while a case changes its registry and runs.
class PrefixLock {
public:
    explicit PrefixLock(int file) : file_(file)
    {
        if (file_ >= 0) flock(file_, LOCK_EX);
    }
    ~PrefixLock()
    {
        if (file_ >= 0) flock(file_, LOCK_UN);
    }
    PrefixLock(const PrefixLock&) = delete;
    PrefixLock& operator=(const PrefixLock&) = delete;

private:
    int file_;
};

}  // namespace

struct WineRunner::Command {
    std::vector<std::string> arguments;  // what follows the loader, or a Wine tool and its arguments
    std::string input = "/dev/null";
    std::string output = "/dev/null";
    std::string error = "/dev/null";
    std::string folder = "/";
    int timeoutSeconds = toolTimeoutSeconds;
    bool boot = false;  // the prefix may not exist yet: give it the build's bitness
    bool tool = false;  // arguments[0] is a Unix program of Wine's (wineserver), not a Windows one
};

WineRunner::WineRunner(const std::string& buildFolder, const std::string& windowsArch, const std::string& prefix)
    : buildFolder_(buildFolder), windowsArch_(windowsArch), prefix_(prefix)
{
}

WineRunner::~WineRunner()
{
    if (lockFile_ >= 0) close(lockFile_);
    if (ownPrefix_) {
        // The server keeps the prefix in use until it is told to go.
        Command stop;
        stop.tool = true;
        stop.arguments = {"wineserver", "-k"};
        wine(stop);
    }
}

std::unique_ptr<WineRunner> WineRunner::fromEnvironment()
{
    const char* build = std::getenv("LOOPCHECK_E2E_WINE");
    if (build == nullptr || *build == '\0') return nullptr;
    const char* archText = std::getenv("LOOPCHECK_E2E_WINEARCH");
    const std::string arch = archText != nullptr && *archText != '\0' ? archText : "win32";
    char absolute[PATH_MAX];
    if (arch != "win32" && arch != "win64") {
        std::fprintf(stderr, "LOOPCHECK_E2E_WINEARCH must be win32 or win64, not %s\n", arch.c_str());
        std::exit(2);
    }
    if (realpath(build, absolute) == nullptr || !exists(std::string(absolute) + "/loopcheck.exe") ||
        !exists(std::string(absolute) + "/loopcheck_loopback.dll")) {
        std::fprintf(stderr, "LOOPCHECK_E2E_WINE=%s: no loopcheck.exe and loopcheck_loopback.dll there\n", build);
        std::exit(2);
    }
    const char* prefix = std::getenv("WINEPREFIX");
    return std::make_unique<WineRunner>(absolute, arch, prefix != nullptr ? prefix : "");
}

int WineRunner::wine(const Command& command) const
{
    std::vector<std::string> words = {"timeout", "-k", "5", std::to_string(command.timeoutSeconds)};
    if (!command.tool) {
        // Debian's `wine` starts the 32-bit loader first, which a kernel
        // without 32-bit support cannot run: a 64-bit prefix is then served
        // by the loader WINELOADER names (wine64), as Wine itself does.
        const char* loader = std::getenv("WINELOADER");
        words.push_back(loader != nullptr && *loader != '\0' ? loader : "wine");
    }
    words.insert(words.end(), command.arguments.begin(), command.arguments.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        const int in = open(command.input.c_str(), O_RDONLY);
        const int out = open(command.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(command.error.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || chdir(command.folder.c_str()) != 0) _exit(126);
        // Every descriptor is a file: a wineserver started from here holds
        // on to them, and must not hold a pipe somebody waits on.
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        setenv("WINEPREFIX", prefix_.c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        // No Mono or Gecko: nothing here needs them, and a boot would offer
        // to download them.
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
        if (command.boot)
            setenv("WINEARCH", windowsArch_.c_str(), 1);
        else
            unsetenv("WINEARCH");  // an existing prefix knows its own
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (child < 0) return -1;
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool WineRunner::preparePrefix()
{
    if (prefixReady_) return true;
    if (prefix_.empty()) {
        ownPrefix_ = std::make_unique<TemporaryFolder>();
        prefix_ = ownPrefix_->path() + "/prefix";
    }
    if (!exists(prefix_ + "/system.reg")) {
        Command boot;
        boot.boot = true;
        boot.timeoutSeconds = bootTimeoutSeconds;
        boot.arguments = {"wineboot", "-i"};
        if (wine(boot) != 0) return false;
    }
    lockFile_ = open((prefix_ + "/loopcheck-e2e.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    prefixReady_ = true;
    return true;
}

std::string WineRunner::registryView() const
{
    // A 64-bit reg writes the 64-bit view unless told otherwise; the
    // harness reads the view of its own bitness.
    return is64Bit() ? "/reg:64" : "/reg:32";
}

bool WineRunner::setRegistry(const std::vector<VirtualDriverEntry>& drivers, const std::string& folder,
                             std::string* problem) const
{
    writeWhole(folder + "/drivers.reg", registryText(drivers, windowsPath(buildFolder_ + "/loopcheck_loopback.dll")));
    // The drivers of an earlier case go first. Classes of earlier cases
    // that no driver key names do no harm; those named now are written
    // afresh or, when a case leaves a class unregistered, removed. The
    // removals are reg delete rather than [-key] lines in the file: Wine's
    // reg import passes over those in a 64-bit prefix.
    std::vector<std::string> keys = {"HKLM\\SOFTWARE\\ASIO", "HKCR\\CLSID\\" LOOPCHECK_BUNDLED_DRIVER_CLSID};
    for (const VirtualDriverEntry& d : drivers) keys.push_back("HKCR\\CLSID\\" + d.clsid);
    std::string script = "@echo off\r\n";
    for (const std::string& key : keys) script += "reg delete \"" + key + "\" /f " + registryView() + " >nul 2>&1\r\n";
    script += "reg import \"" + windowsPath(folder + "/drivers.reg") + "\" " + registryView() + "\r\n";
    writeWhole(folder + "/drivers.bat", script);

    // One start of Wine for all of it.
    Command import;
    import.arguments = {"cmd", "/c", windowsPath(folder + "/drivers.bat")};
    import.output = folder + "/import.out";
    import.error = folder + "/import.err";
    const int code = wine(import);
    if (code == 0) return true;
    *problem = "setting the Wine registry failed with " + std::to_string(code) + ":\n" + readWhole(import.output) +
               readWhole(import.error);
    return false;
}

HarnessResult WineRunner::startHarness(const std::string& answers, HarnessResult result,
                                       const std::vector<std::string>& arguments) const
{
    const std::string root = result.scratch->path();
    writeWhole(root + "/answers", answers);
    Command harness;
    harness.arguments = {buildFolder_ + "/loopcheck.exe"};
    harness.arguments.insert(harness.arguments.end(), arguments.begin(), arguments.end());
    harness.input = root + "/answers";
    harness.output = root + "/stdout";
    harness.error = root + "/stderr";
    harness.folder = result.folder;
    harness.timeoutSeconds = harnessTimeoutSeconds;
    result.exitCode = wine(harness);
    result.out = withUnixLineEnds(readWhole(harness.output));
    result.err = withUnixLineEnds(readWhole(harness.error));
    if (result.exitCode == 124)
        result.err += "(stopped after " + std::to_string(harnessTimeoutSeconds) + " s)\n";
    return result;
}

bool WineRunner::startCase(HarnessResult& result)
{
    result.scratch = std::make_shared<TemporaryFolder>();
    result.folder = result.scratch->path() + "/work";
    mkdir(result.folder.c_str(), 0755);
    if (preparePrefix()) return true;
    result.err = "the Wine prefix " + prefix_ + " could not be booted\n";
    return false;
}

HarnessResult WineRunner::run(const std::string& answers, const std::vector<VirtualDriverEntry>& drivers)
{
    HarnessResult result;
    if (!startCase(result)) return result;
    PrefixLock lock(lockFile_);
    if (!setRegistry(drivers, result.scratch->path(), &result.err)) return result;
    return startHarness(answers, result);
}

HarnessResult WineRunner::runWithArguments(const std::vector<std::string>& arguments,
                                           const std::vector<VirtualDriverEntry>& drivers)
{
    HarnessResult result;
    if (!startCase(result)) return result;
    PrefixLock lock(lockFile_);
    if (!setRegistry(drivers, result.scratch->path(), &result.err)) return result;
    return startHarness("", result, arguments);
}

HarnessResult WineRunner::runSelfRegistered(const std::string& answers, HarnessResult* registration)
{
    HarnessResult result;
    if (!startCase(result)) return result;
    PrefixLock lock(lockFile_);
    const std::string root = result.scratch->path();
    if (!setRegistry({}, root, &result.err)) return result;

    Command regsvr32;
    regsvr32.arguments = {"regsvr32", "/s", windowsPath(buildFolder_ + "/loopcheck_loopback.dll")};
    regsvr32.output = root + "/regsvr32.out";
    regsvr32.error = root + "/regsvr32.err";
    registration->exitCode = wine(regsvr32);
    registration->out = withUnixLineEnds(readWhole(regsvr32.output));
    registration->err = withUnixLineEnds(readWhole(regsvr32.error));
    return startHarness(answers, result);
}
