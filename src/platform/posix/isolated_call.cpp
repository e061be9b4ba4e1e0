#include "platform/isolated_call.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

// Creating a driver takes a moment; one that takes this long never ends.
constexpr int stepSeconds = 30;

void writeAll(int descriptor, const std::string& text)
{
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(descriptor, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace

bool runIsolated(const std::function<std::string()>& step, std::string& result, std::string& failure)
{
    result.clear();
    failure.clear();
    int ends[2];
    if (pipe(ends) != 0) {
        // Without a pipe nothing can come back from a child: run it here.
        result = step();
        return true;
    }
    const pid_t child = fork();
    if (child < 0) {
        ::close(ends[0]);
        ::close(ends[1]);
        result = step();
        return true;
    }
    if (child == 0) {
        ::close(ends[0]);
        writeAll(ends[1], step());
        // Nothing of the parent's (buffered output, exit handlers) runs twice.
        _exit(0);
    }
    ::close(ends[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(stepSeconds);
    bool timedOut = false;
    char block[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd waiting{ends[0], POLLIN, 0};
        const int ready = poll(&waiting, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        const ssize_t n = ::read(ends[0], block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        result.append(block, static_cast<size_t>(n));
    }
    ::close(ends[0]);
    if (timedOut) kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut) {
        failure = "did not end within " + std::to_string(stepSeconds) + " s";
        return false;
    }
    if (WIFSIGNALED(status)) {
        const int number = WTERMSIG(status);
        const char* name = strsignal(number);
        failure = "crashed (signal " + std::to_string(number) + (name != nullptr ? std::string(", ") + name : "") + ")";
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        failure = "ended the process with status " + std::to_string(WEXITSTATUS(status));
        return false;
    }
    return true;
}
