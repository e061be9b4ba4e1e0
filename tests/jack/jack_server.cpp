#include "jack_server.h"

#include <dirent.h>
#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

void quiet(const char*) {}

// True once a client joins the server and sees its loopback ports.
bool serverAnswers(const std::string& name)
{
    jack_status_t status;
    jack_client_t* client =
        jack_client_open("probe", jack_options_t(JackNoStartServer | JackServerName), &status, name.c_str());
    if (client == nullptr)
        return false;
    const char** ports = jack_get_ports(client, "^loopback:", nullptr, 0);
    const bool found = ports != nullptr && ports[0] != nullptr;
    if (ports != nullptr)
        jack_free(ports);
    jack_client_close(client);
    return found;
}

}  // namespace

bool waitForExit(pid_t pid, int timeoutMs, int* status)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        const pid_t done = waitpid(pid, status, WNOHANG);
        if (done == pid || done < 0)
            return true;
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string scratchFile(const std::string& name)
{
    const char* base = std::getenv("TMPDIR");
    return std::string(base != nullptr ? base : "/tmp") + "/" + name;
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& output, const ToolEnvironment& environment)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || in < 0)
            _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        for (const auto& variable : environment)
            setenv(variable.first.c_str(), variable.second.c_str(), 1);
        // Its own process group, so that a tool's helpers go with it.
        setpgid(0, 0);
        execvp(args[0], args.data());
        _exit(127);
    }
    return child;
}

std::string uniqueServerName(const std::string& tag)
{
    static std::atomic<int> counter{0};
    return "lc-" + tag + "-" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
}

JackServer::JackServer(const std::string& tag, int period) : JackServer(ExactServerName{uniqueServerName(tag)}, period)
{
}

JackServer::JackServer(const ExactServerName& name, int period) : period_(period), name_(name.name)
{
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    logPath_ = scratchFile(name_ + ".log");
    ready_ = start();
}

bool JackServer::start()
{
    // A generous client time-out: on a busy machine (or under a sanitizer)
    // a late period is an xrun, not a client thrown out.
    pid_ = spawn({"jackd", "--no-realtime", "-t", "5000", "-n", name_, "-L", "2", "-d", "dummy", "-r", "48000", "-p",
                  std::to_string(period_)},
                 logPath_, {});
    if (pid_ <= 0)
        return false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
        int status;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;  // it ended by itself
            return false;
        }
        if (serverAnswers(name_))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// A server registering under a dead one's name takes over its slot, and
// leaves nothing behind when it stops in order. What the killed server
// left in shared memory carries its name, so it is ours to remove.
void JackServer::reclaim()
{
    start();
    stop();
    const std::string prefix = "jack_" + name_ + "_";
    const std::string semaphorePart = "_" + name_ + "_";
    if (DIR* dir = opendir("/dev/shm")) {
        while (dirent* entry = readdir(dir)) {
            const std::string file = entry->d_name;
            if (file.rfind(prefix, 0) == 0 ||
                (file.rfind("jack_sem.", 0) == 0 && file.find(semaphorePart) != std::string::npos))
                unlink(("/dev/shm/" + file).c_str());
        }
        closedir(dir);
    }
}

JackServer::~JackServer()
{
    stop();
    if (killed_)
        reclaim();
    unlink(logPath_.c_str());
}

std::string JackServer::log() const
{
    std::ifstream in(logPath_);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void JackServer::kill()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    int status;
    waitForExit(pid_, 10000, &status);
    pid_ = -1;
    killed_ = true;
}

void JackServer::freeze()
{
    if (pid_ > 0 && ::kill(pid_, SIGSTOP) == 0)
        frozen_ = true;
}

void JackServer::thaw()
{
    if (pid_ > 0 && frozen_)
        ::kill(pid_, SIGCONT);
    frozen_ = false;
}

void JackServer::stop()
{
    if (pid_ <= 0)
        return;
    thaw();
    ::kill(pid_, SIGTERM);
    int status;
    if (!waitForExit(pid_, 5000, &status)) {
        ::kill(pid_, SIGKILL);
        waitForExit(pid_, 10000, &status);
        killed_ = true;
    }
    pid_ = -1;
}

int runJackTool(const std::string& server, const std::vector<std::string>& arguments, int timeoutMs,
                std::string* output)
{
    return runTool({{"JACK_DEFAULT_SERVER", server}}, arguments, timeoutMs, output);
}

int runTool(const ToolEnvironment& environment, const std::vector<std::string>& arguments, int timeoutMs,
            std::string* output)
{
    const std::string path = scratchFile(uniqueServerName("tool") + ".out");
    // stdbuf keeps a tool's lines when it has to be stopped mid-way.
    std::vector<std::string> argv{"stdbuf", "-oL", "-eL"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const pid_t child = spawn(argv, path, environment);
    int status = 0;
    int result = -1;
    if (waitForExit(child, timeoutMs, &status)) {
        result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    } else {
        ::kill(child, SIGTERM);
        if (!waitForExit(child, 3000, &status)) {
            ::kill(child, SIGKILL);
            waitForExit(child, 3000, &status);
        }
    }
    if (output != nullptr) {
        std::ifstream in(path);
        std::ostringstream s;
        s << in.rdbuf();
        *output = s.str();
    }
    unlink(path.c_str());
    return result;
}
