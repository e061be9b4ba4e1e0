// What the harness prints, built from the pieces an operator sees, and a
// comparison that lets "{n}" stand for any integer where the figure depends
// on timing (call counts, samples streamed).
#pragma once

#include <string>

namespace expected {

std::string questionsUpToDrivers();  // the three prompts, answered on one line
std::string rateList();               // the rate table and its prompt
std::string initialised(const std::string& deviceName);
std::string initFailed(const std::string& errorText);
std::string shutdown(const std::string& disposeCode);
// The first run's initialisation: init, control panel, release, init again.
std::string firstInitialisation(const std::string& deviceName);
std::string createBuffersMessages();  // what the virtual driver asks during createBuffers

struct Setup {
    int outputs = 2, inputs = 2, sampleType = 18;
    std::string rate = "48000";
    std::string signalLines = "Buffer length is 48000\n";
    std::string bufferSizes = "[64, 2048] preferred 256 granularity -1";
};
std::string setupLines(const Setup& setup);
std::string staircaseCheck(int outputs);  // with 0 mismatches of {n} samples

}  // namespace expected

// True when `actual` has the lines of `pattern`, each equal except that
// "{n}" matches an optional minus and one or more digits. On a difference,
// `why` tells the first line that differs.
bool matchesPattern(const std::string& actual, const std::string& pattern, std::string* why);

#define EXPECT_MATCHES(actual, pattern)                                        \
    do {                                                                        \
        std::string why_;                                                       \
        EXPECT_TRUE(matchesPattern((actual), (pattern), &why_)) << why_;        \
    } while (0)
