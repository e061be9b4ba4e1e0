// Start-up of the harness as an operator meets it: the real executable is
// started in a scratch folder on the bundled virtual driver (2 outputs,
// 2 inputs, buffer 256 at 48 kHz), its questions are answered through a
// pipe as they appear, and every line is given the time it arrived.
//
// Figures (medians of the repetitions; printed, no target):
//   launch -> first prompt        from just before the process is made to
//                                 the arrival of "How many runs? ";
//   last answer -> first switch   from writing the sample-rate answer to the
//                                 driver's first buffer switch. The harness
//                                 prints nothing once it streams, so this is
//                                 measured in two parts: the last answer to
//                                 the line "Setup playback" (printed just
//                                 before the driver is started), plus the
//                                 driver's own start() to its first call,
//                                 measured here with the same library, the
//                                 same settings and the harness's buffer
//                                 switch (one period, 5.3 ms, by design).
// Lines starting with "STARTUP" are read by scripts/bench.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "loopback_host.h"

namespace {

constexpr int repetitions = 5;

struct Timings {
    std::vector<double> toFirstPrompt;  // ms
    std::vector<double> lastAnswerToSetup;
    std::vector<double> startToFirstSwitch;
};
Timings timings;

// A pipe end that closes itself.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// Runs the harness once. False with `why` set when it could not be run or
// did not reach "Setup playback".
bool runHarnessOnce(const std::filesystem::path& folder, double& toPrompt, double& answerToSetup, std::string& why)
{
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) {
        why = "no pipe";
        return false;
    }
    Fd childIn(toChild[1]), childOut(fromChild[0]);
    const int64_t launched = bench::nowNs();
    const pid_t child = fork();
    if (child == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) dup2(quiet, 2);
        close(toChild[0]);
        close(toChild[1]);
        close(fromChild[0]);
        close(fromChild[1]);
        if (chdir(folder.c_str()) != 0) _exit(126);
        execl(LOOPCHECK_EXECUTABLE, LOOPCHECK_EXECUTABLE, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    if (child < 0) {
        why = "cannot start the harness";
        return false;
    }

    // Each question with its answer; the time of the last answer counts.
    struct Step {
        const char* question;
        const char* answer;
    } steps[] = {
        {"How many runs? ", "1\n"},
        {"Duration of each run in milli-seconds (1000 ms = 1 s)? ", "100\n"},
        {"Frequency in Hz of sinusoid (0 for pulse, -1 for staircase): ", "220\n"},
        {"Enter sampling rate ID (left column):", "1\n"},
    };
    std::string seen;
    size_t next = 0;
    int64_t firstPrompt = 0, lastAnswer = 0, setup = 0;
    char chunk[4096];
    for (;;) {
        pollfd wait{childOut.get(), POLLIN, 0};
        if (poll(&wait, 1, 30000) <= 0) break;
        const ssize_t got = read(childOut.get(), chunk, sizeof chunk);
        if (got <= 0) break;
        const int64_t arrived = bench::nowNs();
        seen.append(chunk, static_cast<size_t>(got));
        while (next < std::size(steps) && seen.find(steps[next].question) != std::string::npos) {
            if (next == 0) firstPrompt = arrived;
            const std::string answer = steps[next].answer;
            if (next + 1 == std::size(steps)) lastAnswer = bench::nowNs();
            if (write(childIn.get(), answer.data(), answer.size()) != static_cast<ssize_t>(answer.size())) break;
            ++next;
        }
        if (setup == 0 && seen.find("Setup playback\n") != std::string::npos) setup = arrived;
    }
    childIn.reset();
    int status = 0;
    waitpid(child, &status, 0);
    if (firstPrompt == 0 || lastAnswer == 0 || setup == 0) {
        why = "the harness did not reach \"Setup playback\"; it wrote:\n" + seen;
        return false;
    }
    toPrompt = static_cast<double>(firstPrompt - launched) * 1e-6;
    answerToSetup = static_cast<double>(setup - lastAnswer) * 1e-6;
    return true;
}

void harnessBenchmark(benchmark::State& state)
{
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
        ("loopcheck-startup-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    for (auto _ : state) {
        double toPrompt = 0, answerToSetup = 0;
        std::string why;
        if (!runHarnessOnce(folder, toPrompt, answerToSetup, why)) {
            state.SkipWithError(why.c_str());
            break;
        }
        timings.toFirstPrompt.push_back(toPrompt);
        timings.lastAnswerToSetup.push_back(answerToSetup);
        state.SetIterationTime(toPrompt * 1e-3);
    }
    std::filesystem::remove_all(folder);
}

// The driver's share: start() to the first buffer switch with the
// settings the harness runs with above.
void driverStartBenchmark(benchmark::State& state)
{
    bench::LoopbackLibrary library(LOOPCHECK_DRIVER_LIBRARY);
    bench::DriverHandle driver = library.openDriver();
    if (!driver) {
        state.SkipWithError(("cannot load the driver: " + library.error()).c_str());
        return;
    }
    for (auto _ : state) {
        std::string why;
        if (!bench::createStream(driver.get(), 48000.0, 256, 1.0, why)) {
            state.SkipWithError(why.c_str());
            break;
        }
        const int64_t started = bench::nowNs();
        driver->start();
        while (bench::switchTimes.published.load(std::memory_order_acquire) == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        driver->stop();
        const double ms = static_cast<double>(bench::switchTimes.at[0] - started) * 1e-6;
        timings.startToFirstSwitch.push_back(ms);
        state.SetIterationTime(ms * 1e-3);
        bench::endStream(driver.get());
    }
}

BENCHMARK(harnessBenchmark)
    ->Name("startup/launchToFirstPrompt")
    ->Iterations(repetitions)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(driverStartBenchmark)
    ->Name("startup/driverStartToFirstSwitch/buffer256")
    ->Iterations(repetitions)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

double median(std::vector<double> values)
{
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void printFigures()
{
    const double prompt = median(timings.toFirstPrompt);
    const double setup = median(timings.lastAnswerToSetup);
    const double start = median(timings.startToFirstSwitch);
    std::printf("\nStart-up, medians of %d runs (bundled driver, 2+2, buffer 256, 48 kHz)\n", repetitions);
    std::printf("launch -> first prompt:                  %8.2f ms\n", prompt);
    std::printf("last answer -> \"Setup playback\":         %8.2f ms\n", setup);
    std::printf("driver start() -> first buffer switch:   %8.2f ms\n", start);
    std::printf("last answer -> first buffer switch:      %8.2f ms\n", setup + start);
    if (timings.toFirstPrompt.empty()) return;
    std::printf("STARTUP\tlaunch -> first prompt\t%.2f ms\n", prompt);
    std::printf("STARTUP\tlast answer -> first buffer switch (to \"Setup playback\" %.1f + driver start %.1f)\t%.2f ms\n",
                setup, start, setup + start);
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // The bundled driver with its defaults, for the harness and for the
    // driver measured here alike.
    unsetenv("LOOPCHECK_REGISTRY");
    // A harness that ends early must not end the benchmark with it.
    signal(SIGPIPE, SIG_IGN);
    benchmark::RunSpecifiedBenchmarks();
    printFigures();
    return 0;
}
