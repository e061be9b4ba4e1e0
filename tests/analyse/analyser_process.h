// Runs loopcheck-analyse as a user would, collecting what it printed and
// its exit status.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct AnalyserResult {
    std::string out;
    std::string err;
    int exitCode = -1;  // 128 + the signal when a signal ended it
};

// The analyser started in the background, so a test can act on its files
// while it reads them. Ended by its own process id if the test leaves it
// running.
class RunningAnalyser {
public:
    // `fileSizeLimit` (bytes, when not negative) makes every file it writes
    // past that size fail as on a full disk.
    explicit RunningAnalyser(const std::vector<std::string>& arguments, long long fileSizeLimit = -1);
    ~RunningAnalyser();
    RunningAnalyser(const RunningAnalyser&) = delete;
    RunningAnalyser& operator=(const RunningAnalyser&) = delete;

    pid_t pid() const { return child_; }
    // Whether it is amid reading `path` (of `size` bytes) at this moment:
    // it holds the file open and has read some of it but not all, or it
    // has the file mapped.
    bool isReading(const std::string& path, size_t size) const;
    AnalyserResult wait();

private:
    std::string scratch_;
    pid_t child_ = -1;
};

AnalyserResult runAnalyser(const std::vector<std::string>& arguments);
AnalyserResult runAnalyserWithFileLimit(const std::vector<std::string>& arguments, long long bytes);

std::string readFile(const std::string& path);
