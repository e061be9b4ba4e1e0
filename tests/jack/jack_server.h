// A private JACK server for one test: jackd on the dummy backend at
// 48 kHz with loopback ports, under a name no other test uses, stopped by
// its process id when the object goes (also when the test failed).
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

// A server name given as it is, for a registry written before the server starts.
struct ExactServerName {
    std::string name;
};

class JackServer {
public:
    // Starts the server and waits until a client can join it and its
    // loopback ports exist; ok() tells whether that happened.
    explicit JackServer(const std::string& tag, int period = 256);
    explicit JackServer(const ExactServerName& name, int period = 256);
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    bool ok() const { return ready_; }
    const std::string& name() const { return name_; }
    pid_t pid() const { return pid_; }
    // What the server wrote, for a failing test's message.
    std::string log() const;

    // Ends the server at once (SIGKILL), as a crash would. The server
    // leaves its slot in JACK's table of servers (a handful per machine)
    // taken; the destructor takes it back.
    void kill();
    // Ends it as an operator would (SIGTERM), waiting for it to go.
    void stop();
    // Stops the server's process where it is (SIGSTOP) and lets it go on
    // (SIGCONT); stopping the server lets it go on first.
    void freeze();
    void thaw();

private:
    bool start();
    void reclaim();

    int period_;
    bool killed_ = false;
    bool frozen_ = false;
    std::string name_;
    std::string logPath_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

// A server name for `tag` that no other test process uses at the same time.
std::string uniqueServerName(const std::string& tag);

// Runs a JACK command-line tool against `server` with `arguments`, waiting
// for it at most timeoutMs; its standard output (line-buffered) and
// standard error go into `output`. The exit status, or -1 when it had to
// be killed.
int runJackTool(const std::string& server, const std::vector<std::string>& arguments, int timeoutMs,
                std::string* output);

// Variables a started process gets on top of the test's own.
using ToolEnvironment = std::vector<std::pair<std::string, std::string>>;

// runJackTool with `environment` in place of a server name: a tool on
// another library (PipeWire's JACK library), or PipeWire's own.
int runTool(const ToolEnvironment& environment, const std::vector<std::string>& arguments, int timeoutMs,
            std::string* output);

// Starts argv[0] (found on PATH) in a process group of its own, standard
// input from /dev/null and both outputs into the file `output`.
pid_t spawn(const std::vector<std::string>& argv, const std::string& output, const ToolEnvironment& environment);
// Waits for a child of this process to end; false when it has not ended
// within timeoutMs.
bool waitForExit(pid_t pid, int timeoutMs, int* status);
// A path for `name` in the system's temporary folder.
std::string scratchFile(const std::string& name);
