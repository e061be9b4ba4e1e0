// Runs the harness as an operator would: answers on standard input, the
// drivers announced in a registry, a fresh working folder, and everything
// it wrote collected afterwards.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// One virtual driver to announce. `settings` are registry values in the
// export format's right-hand form: dword:00000010 or "text".
struct VirtualDriverEntry {
    std::string keyName;
    std::string clsid;  // {XXXXXXXX-...}
    std::string description;  // empty: no Description value
    std::vector<std::pair<std::string, std::string>> settings;
    bool classRegistered = true;  // false: the class has no server entry
};

// A folder under the system's temporary folder, removed with everything in
// it when the last result that refers to it is gone.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct HarnessResult {
    std::shared_ptr<TemporaryFolder> scratch;  // holds the working folder
    std::string out;
    std::string err;
    int exitCode = -1;
    std::string folder;  // the working folder it ran in

    bool hasFile(const std::string& name) const;
    std::string file(const std::string& name) const;  // whole content, "" when missing
    std::vector<std::string> files() const;           // names in the working folder, sorted
};

class HarnessRunner {
public:
    virtual ~HarnessRunner() = default;
    virtual HarnessResult run(const std::string& answers, const std::vector<VirtualDriverEntry>& drivers) = 0;
    // The harness started with these command-line arguments, standard
    // input empty.
    virtual HarnessResult runWithArguments(const std::vector<std::string>& arguments,
                                           const std::vector<VirtualDriverEntry>& drivers) = 0;
    // How the platform ends a line in files opened in text mode.
    virtual std::string lineEnd() const = 0;
};

// What a case stages around a native run: the working folder made
// unusable in some way, or limits on the harness's process.
struct RunStaging {
    // Called with the empty working folder before the harness starts.
    std::function<void(const std::string& folder)> prepareFolder;
    // Called in the harness's own process just before it starts; false
    // ends that process with status 125.
    std::function<bool()> inHarnessProcess;
    // Called in the test's process while the harness runs, with the
    // harness's process id and the file its standard output goes to; the
    // harness is waited for after it returns.
    std::function<void(int pid, const std::string& stdoutPath)> whileRunning;
    // The harness's command-line arguments.
    std::vector<std::string> arguments;
};

// The native build of the harness and its virtual driver library.
class NativeRunner : public HarnessRunner {
public:
    HarnessResult run(const std::string& answers, const std::vector<VirtualDriverEntry>& drivers) override;
    HarnessResult run(const std::string& answers, const std::vector<VirtualDriverEntry>& drivers,
                      const RunStaging& staging);
    HarnessResult runWithArguments(const std::vector<std::string>& arguments,
                                   const std::vector<VirtualDriverEntry>& drivers) override;
    std::string lineEnd() const override { return "\n"; }
};

// The registry text announcing `drivers`, with `libraryPath` as every
// class's server.
std::string registryText(const std::vector<VirtualDriverEntry>& drivers, const std::string& libraryPath);

// A fresh empty folder under the system's temporary folder.
std::string makeTemporaryFolder();
