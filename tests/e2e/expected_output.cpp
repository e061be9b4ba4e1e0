#include "expected_output.h"

#include <cctype>
#include <sstream>
#include <vector>

namespace expected {

std::string questionsUpToDrivers()
{
    return "How many runs? Duration of each run in milli-seconds (1000 ms = 1 s)? "
           "Frequency in Hz of sinusoid (0 for pulse, -1 for staircase): ";
}

std::string rateList() { return "0 44.1 kHz\n1 48 kHz\n2 96 kHz\n3 192 kHz\nEnter sampling rate ID (left column):"; }

std::string initialised(const std::string& deviceName)
{
    return "Successfully initialised streaming in ASIO mode 2\nDevice is " + deviceName +
           "\nError is No ASIO Driver Error\n";
}

std::string initFailed(const std::string& errorText)
{
    return "ASIOInit failed with -1000\nDevice is No ASIO Driver\nError is " + errorText + "\n";
}

std::string shutdown(const std::string& disposeCode)
{
    return "ASIO Dispose buffers returned " + disposeCode + "\nSuccessfully shutdown streaming\n";
}

std::string firstInitialisation(const std::string& deviceName)
{
    // The virtual driver refuses to dispose of buffers it never created.
    return initialised(deviceName) + shutdown("-997") + initialised(deviceName);
}

std::string createBuffersMessages()
{
    return "ASIO message selector 1, value 2\nASIO message selector 1, value 7\n"
           "ASIO message selector 2, value 0\nReturning ASIO 2\nASIO message selector 7, value 0\n";
}

std::string setupLines(const Setup& s)
{
    std::ostringstream o;
    o << "There are " << s.outputs << " output channels and " << s.inputs << " inputs channels\n"
      << "Got channel info " << s.sampleType << "\n"
      << "Format type supported (32 bit integer little endian)\n"
      << "Buffer size is 0\nBuffer sizes are " << s.bufferSizes << "\n"
      << "Setting sample rate to " << s.rate << "\n"
      << s.signalLines << createBuffersMessages() << "Initialised all streams\n";
    return o.str();
}

std::string staircaseCheck(int outputs)
{
    std::string text;
    for (int c = 0; c < outputs; ++c) {
        text += "Channel " + std::to_string(c) + "\n0,100,200,300,400,500,600,700,800,900,\n";
        text += "Channel " + std::to_string(c) + " had 0 mismatches out of {n} Data samples\n";
    }
    return text;
}

}  // namespace expected

namespace {

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) lines.push_back(line);
    if (!text.empty() && text.back() != '\n') lines.back() += "<no line end>";
    return lines;
}

bool lineMatches(const std::string& actual, const std::string& pattern)
{
    size_t a = 0, p = 0;
    while (p < pattern.size()) {
        if (pattern.compare(p, 3, "{n}") == 0) {
            if (a < actual.size() && actual[a] == '-') ++a;
            const size_t digitsStart = a;
            while (a < actual.size() && std::isdigit(static_cast<unsigned char>(actual[a]))) ++a;
            if (a == digitsStart) return false;
            p += 3;
        } else {
            if (a >= actual.size() || actual[a] != pattern[p]) return false;
            ++a;
            ++p;
        }
    }
    return a == actual.size();
}

}  // namespace

bool matchesPattern(const std::string& actual, const std::string& pattern, std::string* why)
{
    const std::vector<std::string> got = splitLines(actual);
    const std::vector<std::string> want = splitLines(pattern);
    for (size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
        const std::string g = i < got.size() ? got[i] : "<missing>";
        const std::string w = i < want.size() ? want[i] : "<missing>";
        if (i >= got.size() || i >= want.size() || !lineMatches(g, w)) {
            if (why != nullptr)
                *why = "line " + std::to_string(i + 1) + "\n  got:      " + g + "\n  expected: " + w +
                       "\n--- whole output ---\n" + actual;
            return false;
        }
    }
    return true;
}
