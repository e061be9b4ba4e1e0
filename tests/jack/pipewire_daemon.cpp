#include "pipewire_daemon.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

std::string readWhole(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

}  // namespace

PipeWireDaemon::PipeWireDaemon(const std::string& tag, int quantum) : name_(uniqueServerName("pw-" + tag))
{
    std::string pattern = scratchFile("loopcheck-pw-XXXXXX");
    if (mkdtemp(&pattern[0]) == nullptr)
        return;
    folder_ = pattern;
    environment_ = {{"PIPEWIRE_RUNTIME_DIR", folder_},
                    {"XDG_RUNTIME_DIR", folder_},
                    {"PIPEWIRE_REMOTE", name_},
                    {"LD_LIBRARY_PATH", PIPEWIRE_JACK_LIBRARY_DIR}};
    ready_ = start(quantum);
}

bool PipeWireDaemon::start(int quantum)
{
    std::string config = readWhole(PIPEWIRE_LOOP_CONFIG);
    if (config.empty())
        return false;
    replaceAll(config, "@REMOTE@", name_);
    replaceAll(config, "@QUANTUM@", std::to_string(quantum));
    const std::string configPath = folder_ + "/pipewire.conf";
    std::ofstream(configPath) << config;
    // Its own configuration folder too, so that no drop-in of the
    // machine's or the user's changes the loop.
    pid_ = spawn({"pipewire", "-c", configPath}, folder_ + "/pipewire.log",
                 {{"PIPEWIRE_RUNTIME_DIR", folder_},
                  {"XDG_RUNTIME_DIR", folder_},
                  {"XDG_CONFIG_HOME", folder_},
                  {"PIPEWIRE_CONFIG_DIR", folder_}});
    if (pid_ <= 0)
        return false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
        int status;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;  // it ended by itself
            return false;
        }
        // Answers once the sink's ports are there, as a JACK client sees them.
        std::string ports;
        if (runTool({"jack_lsp"}, 5000, &ports) == 0 && ports.find(monitor2) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

PipeWireDaemon::~PipeWireDaemon()
{
    stop();
    if (folder_.empty())
        return;
    // What the daemon leaves (its socket and lock) and the fixture's files.
    for (const std::string& file : {name_, name_ + ".lock", std::string("pipewire.conf"), std::string("pipewire.log")})
        unlink((folder_ + "/" + file).c_str());
    rmdir(folder_.c_str());
}

std::string PipeWireDaemon::log() const
{
    return folder_.empty() ? "no runtime folder" : readWhole(folder_ + "/pipewire.log");
}

bool PipeWireDaemon::enterEnvironment() const
{
    for (const auto& variable : environment_)
        if (setenv(variable.first.c_str(), variable.second.c_str(), 1) != 0)
            return false;
    return true;
}

int PipeWireDaemon::runTool(const std::vector<std::string>& arguments, int timeoutMs, std::string* output) const
{
    return ::runTool(environment_, arguments, timeoutMs, output);
}

bool PipeWireDaemon::setSetting(const std::string& key, const std::string& value, std::string* output) const
{
    std::string text;
    const int status = runTool({"pw-metadata", "-n", "settings", "0", key, value}, 10000, &text);
    if (output != nullptr)
        *output = text;
    return status == 0;
}

void PipeWireDaemon::kill()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    int status;
    waitForExit(pid_, 10000, &status);
    pid_ = -1;
}

void PipeWireDaemon::stop()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    int status;
    if (!waitForExit(pid_, 5000, &status)) {
        ::kill(pid_, SIGKILL);
        waitForExit(pid_, 10000, &status);
    }
    pid_ = -1;
}
