#include "stream/run_progress.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/interruption.h"
#include "platform/terminal.h"

namespace {

int32_t runTotal = 0;
std::string label;
size_t drawnWidth = 0;
constexpr int barWidth = 40;
constexpr auto redrawEvery = std::chrono::milliseconds(100);
// How long an interruption may go unseen while the main thread waits.
constexpr auto lookEvery = std::chrono::milliseconds(10);

void draw(int32_t runNumber, double fraction)
{
    const int filled = static_cast<int>(fraction * barWidth);
    std::string line = "\r" + label + "run " + std::to_string(runNumber + 1);
    if (runTotal > 0) line += " of " + std::to_string(runTotal);
    line += " [" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(barWidth - filled), '.') +
            "] " + std::to_string(static_cast<int>(fraction * 100.0)) + "%";
    drawnWidth = std::max(drawnWidth, line.size());
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void clear()
{
    std::fputs(("\r" + std::string(std::max<size_t>(drawnWidth, barWidth + 32), ' ') + "\r").c_str(), stderr);
    drawnWidth = 0;
    std::fflush(stderr);
}

}  // namespace

void setRunTotal(int32_t runs) { runTotal = runs; }

void setProgressLabel(const std::string& text) { label = text; }

namespace {

using Clock = std::chrono::steady_clock;

// Sleeps until `until`, looking for an interruption as it goes.
bool sleepUntil(Clock::time_point until)
{
    for (auto now = Clock::now(); now < until; now = Clock::now()) {
        if (interruptionStatus() != 0) return false;
        std::this_thread::sleep_until(std::min(until, now + lookEvery));
    }
    return interruptionStatus() == 0;
}

}  // namespace

bool waitWhileStreaming(int32_t milliseconds, int32_t runNumber)
{
    const auto start = Clock::now();
    const auto length = std::chrono::milliseconds(std::max<int32_t>(milliseconds, 0));
    const auto end = start + length;
    if (!standardErrorIsTerminal()) return sleepUntil(end);
    bool whole = true;
    for (auto now = start; now < end && whole; now = Clock::now()) {
        draw(runNumber, std::chrono::duration<double>(now - start) / std::chrono::duration<double>(length));
        whole = sleepUntil(std::min(end, now + redrawEvery));
    }
    clear();
    return whole;
}

bool pauseUnlessInterrupted(int32_t milliseconds)
{
    return sleepUntil(Clock::now() + std::chrono::milliseconds(std::max<int32_t>(milliseconds, 0)));
}
