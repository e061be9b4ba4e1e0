#include "analyser_process.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

RunningAnalyser::RunningAnalyser(const std::vector<std::string>& arguments, long long fileSizeLimit)
{
    char folder[] = "/tmp/loopcheck-analyser.XXXXXX";
    if (mkdtemp(folder) == nullptr) return;
    scratch_ = folder;
    const std::string out = scratch_ + "/stdout";
    const std::string err = scratch_ + "/stderr";
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(LOOPCHECK_ANALYSE));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    child_ = fork();
    if (child_ == 0) {
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        if (o < 0 || e < 0 || in < 0) _exit(126);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        if (fileSizeLimit >= 0) {
            // Writes past the limit then fail with EFBIG instead of ending
            // the process; an ignored signal stays ignored across exec.
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
        }
        execv(LOOPCHECK_ANALYSE, argv.data());
        _exit(127);
    }
}

RunningAnalyser::~RunningAnalyser()
{
    if (child_ > 0) {
        kill(child_, SIGKILL);
        waitpid(child_, nullptr, 0);
    }
    if (!scratch_.empty()) {
        unlink((scratch_ + "/stdout").c_str());
        unlink((scratch_ + "/stderr").c_str());
        rmdir(scratch_.c_str());
    }
}

bool RunningAnalyser::isReading(const std::string& path, size_t size) const
{
    if (child_ <= 0) return false;
    const std::string process = "/proc/" + std::to_string(child_);
    if (readFile(process + "/maps").find(path) != std::string::npos) return true;
    DIR* fds = opendir((process + "/fd").c_str());
    if (fds == nullptr) return false;
    bool reading = false;
    while (const dirent* entry = readdir(fds)) {
        char target[PATH_MAX];
        const ssize_t n = readlink((process + "/fd/" + entry->d_name).c_str(), target, sizeof target - 1);
        if (n <= 0 || std::string(target, static_cast<size_t>(n)) != path) continue;
        // "pos:\t<offset>" leads the descriptor's details.
        const std::string info = readFile(process + "/fdinfo/" + entry->d_name);
        const unsigned long long position = std::strtoull(info.c_str() + std::min<size_t>(info.size(), 4), nullptr, 10);
        if (position > 0 && position < size) reading = true;
    }
    closedir(fds);
    return reading;
}

AnalyserResult RunningAnalyser::wait()
{
    AnalyserResult result;
    if (child_ <= 0) return result;
    int status = 0;
    waitpid(child_, &status, 0);
    child_ = -1;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readFile(scratch_ + "/stdout");
    result.err = readFile(scratch_ + "/stderr");
    return result;
}

AnalyserResult runAnalyser(const std::vector<std::string>& arguments) { return RunningAnalyser(arguments).wait(); }

AnalyserResult runAnalyserWithFileLimit(const std::vector<std::string>& arguments, long long bytes)
{
    return RunningAnalyser(arguments, bytes).wait();
}
