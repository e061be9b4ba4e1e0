#include "harness_runner.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeWhole(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string escapeRegistryText(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        if (c == '\\' || c == '"') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

}  // namespace

TemporaryFolder::TemporaryFolder() : path_(makeTemporaryFolder()) {}

TemporaryFolder::~TemporaryFolder()
{
    if (path_.empty() || std::getenv("LOOPCHECK_E2E_KEEP") != nullptr) return;
    nftw(
        path_.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

bool HarnessResult::hasFile(const std::string& name) const
{
    struct stat info;
    return stat((folder + "/" + name).c_str(), &info) == 0;
}

std::string HarnessResult::file(const std::string& name) const { return readWhole(folder + "/" + name); }

std::vector<std::string> HarnessResult::files() const
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string makeTemporaryFolder()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/loopcheck-e2e-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const char* made = mkdtemp(buffer.data());
    return made != nullptr ? std::string(made) : std::string();
}

std::string registryText(const std::vector<VirtualDriverEntry>& drivers, const std::string& libraryPath)
{
    std::string text = "Windows Registry Editor Version 5.00\n\n";
    for (const VirtualDriverEntry& d : drivers) {
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\" + d.keyName + "]\n";
        text += "\"CLSID\"=\"" + d.clsid + "\"\n";
        if (!d.description.empty()) text += "\"Description\"=\"" + escapeRegistryText(d.description) + "\"\n";
        for (const auto& [name, value] : d.settings) text += "\"" + name + "\"=" + value + "\n";
        text += "\n";
        if (d.classRegistered) {
            text += "[HKEY_CLASSES_ROOT\\CLSID\\" + d.clsid + "\\InprocServer32]\n";
            text += "@=\"" + escapeRegistryText(libraryPath) + "\"\n";
            text += "\"ThreadingModel\"=\"Apartment\"\n\n";
        }
    }
    return text;
}

HarnessResult NativeRunner::run(const std::string& answers, const std::vector<VirtualDriverEntry>& drivers)
{
    return run(answers, drivers, RunStaging{});
}

HarnessResult NativeRunner::runWithArguments(const std::vector<std::string>& arguments,
                                             const std::vector<VirtualDriverEntry>& drivers)
{
    RunStaging staging;
    staging.arguments = arguments;
    return run("", drivers, staging);
}

HarnessResult NativeRunner::run(const std::string& answers, const std::vector<VirtualDriverEntry>& drivers,
                                const RunStaging& staging)
{
    HarnessResult result;
    result.scratch = std::make_shared<TemporaryFolder>();
    const std::string root = result.scratch->path();
    result.folder = root + "/work";
    mkdir(result.folder.c_str(), 0755);
    const std::string registry = root + "/drivers.reg";
    writeWhole(registry, registryText(drivers, LOOPCHECK_DRIVER_LIBRARY));
    writeWhole(root + "/answers", answers);
    if (staging.prepareFolder) staging.prepareFolder(result.folder);
    // Made before the fork: the child only calls what is safe there.
    std::vector<std::string> words = {LOOPCHECK_EXECUTABLE};
    words.insert(words.end(), staging.arguments.begin(), staging.arguments.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        const int in = open((root + "/answers").c_str(), O_RDONLY);
        const int out = open((root + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open((root + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || chdir(result.folder.c_str()) != 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        setenv("LOOPCHECK_REGISTRY", registry.c_str(), 1);
        if (staging.inHarnessProcess && !staging.inHarnessProcess()) _exit(125);
        execv(LOOPCHECK_EXECUTABLE, argv.data());
        _exit(127);
    }
    if (child > 0 && staging.whileRunning) staging.whileRunning(child, root + "/stdout");
    int status = 0;
    waitpid(child, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readWhole(root + "/stdout");
    result.err = readWhole(root + "/stderr");
    return result;
}
