// A private PipeWire daemon for one test: the loop configuration kept with
// the tests (a dummy driver and a null sink with monitor ports, no
// hardware, no session manager), in a runtime folder of its own under a
// remote name no other test uses, stopped by its process id when the
// object goes (also when the test failed). Clients reach it through
// PipeWire's JACK library, never through a jackd.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "jack_server.h"

class PipeWireDaemon {
public:
    // The null sink's ports as JACK clients name them.
    static constexpr const char* playback1 = "Loop Sink:playback_AUX0";
    static constexpr const char* playback2 = "Loop Sink:playback_AUX1";
    static constexpr const char* monitor1 = "Loop Sink:monitor_AUX0";
    static constexpr const char* monitor2 = "Loop Sink:monitor_AUX1";

    // Starts the daemon at 48 kHz with `quantum` and waits until a client
    // sees the sink's ports; ok() tells whether that happened.
    explicit PipeWireDaemon(const std::string& tag, int quantum = 256);
    ~PipeWireDaemon();
    PipeWireDaemon(const PipeWireDaemon&) = delete;
    PipeWireDaemon& operator=(const PipeWireDaemon&) = delete;

    bool ok() const { return ready_; }
    // The remote's name, which is also the server name JACK clients give.
    const std::string& name() const { return name_; }
    pid_t pid() const { return pid_; }
    // What the daemon wrote, for a failing test's message.
    std::string log() const;

    // What a client needs to reach the daemon through PipeWire's JACK
    // library: its runtime folder, its name, and that library first on
    // the library path (as pw-jack does it).
    const ToolEnvironment& clientEnvironment() const { return environment_; }
    // Puts clientEnvironment() into this process's environment (for a
    // harness about to start); false when a variable could not be set.
    bool enterEnvironment() const;
    // Runs a JACK or PipeWire tool against the daemon (see runTool).
    int runTool(const std::vector<std::string>& arguments, int timeoutMs, std::string* output) const;
    // Sets a key of the daemon's "settings" metadata, as an operator does
    // with `pw-metadata -n settings 0 key value`; false when that failed.
    bool setSetting(const std::string& key, const std::string& value, std::string* output = nullptr) const;

    // Ends the daemon at once (SIGKILL), as a crash would.
    void kill();
    // Ends it as an operator would (SIGTERM), waiting for it to go.
    void stop();

private:
    bool start(int quantum);

    std::string name_;
    std::string folder_;  // runtime folder: socket, configuration, log
    ToolEnvironment environment_;
    pid_t pid_ = -1;
    bool ready_ = false;
};
