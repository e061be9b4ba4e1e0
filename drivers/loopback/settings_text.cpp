// Parsing of the settings that are stored as text lists.
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "loopback_settings.h"

namespace {

std::string trimmed(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

std::string lowered(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Calls visit with every trimmed, non-empty entry of a comma-separated list.
template <class Visit>
void forEachEntry(const std::string& text, Visit visit)
{
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t comma = text.find(',', begin);
        if (comma == std::string::npos)
            comma = text.size();
        std::string entry = trimmed(text.substr(begin, comma - begin));
        if (!entry.empty())
            visit(entry);
        begin = comma + 1;
    }
}

struct FailName {
    const char* name;
    FailPoint point;
};

const FailName failNames[] = {
    {"init", failInit},
    {"getchannels", failGetChannels},
    {"getlatencies", failGetLatencies},
    {"getbuffersize", failGetBufferSize},
    {"getsamplerate", failGetSampleRate},
    {"setsamplerate", failSetSampleRate},
    {"getchannelinfo", failGetChannelInfo},
    {"createbuffers", failCreateBuffers},
    {"start", failStart},
    {"stop", failStop},
    {"disposebuffers", failDisposeBuffers},
    {"create", failCreate},
};

}  // namespace

void parseSampleRates(const std::string& text, std::vector<double>& rates)
{
    std::vector<double> parsed;
    forEachEntry(text, [&](const std::string& entry) {
        char* end = nullptr;
        double rate = std::strtod(entry.c_str(), &end);
        // A rate the clock cannot run at is no rate: it would stall or
        // spin the audio thread.
        if (end != nullptr && *end == '\0' && std::isfinite(rate) && rate >= 1.0)
            parsed.push_back(rate);
    });
    if (!parsed.empty())
        rates = parsed;
}

uint32_t parseFailures(const std::string& text)
{
    uint32_t failures = 0;
    forEachEntry(text, [&](const std::string& entry) {
        std::string name = lowered(entry);
        for (const FailName& known : failNames) {
            if (name == known.name)
                failures |= known.point;
        }
    });
    return failures;
}

std::vector<int32_t> parseChannelList(const std::string& text)
{
    std::vector<int32_t> channels;
    forEachEntry(text, [&](const std::string& entry) {
        char* end = nullptr;
        const long channel = std::strtol(entry.c_str(), &end, 10);
        const bool number = end != nullptr && *end == '\0' && channel >= 0 && channel < 4096;
        channels.push_back(number ? static_cast<int32_t>(channel) : -1);
    });
    return channels;
}

double parseCrosstalkDb(const std::string& text)
{
    const std::string entry = trimmed(text);
    char* end = nullptr;
    const double level = std::strtod(entry.c_str(), &end);
    if (entry.empty() || end == nullptr || *end != '\0' || !std::isfinite(level) || level >= 0.0)
        return 0.0;
    return level;
}

const char* const analogValueNames[7] = {"FractionalDelay", "GainDb", "NoiseDbfs", "DcOffset",
                                         "HighPassHz",      "LowPassHz", "LoopPpm"};

void parseAnalogValue(const std::string& name, const std::string& text, AnalogLoopSettings& analog)
{
    const std::string entry = trimmed(text);
    char* end = nullptr;
    const double value = std::strtod(entry.c_str(), &end);
    if (entry.empty() || end == nullptr || *end != '\0' || !std::isfinite(value))
        return;
    // The ranges keep the model stable and its buffers bounded: a gain of
    // +60 dB or a rate difference of 10% is a configuration error, not a loop.
    if (name == "FractionalDelay") {
        if (value >= 0.0 && value < 1.0)
            analog.fractionalDelay = value;
    } else if (name == "GainDb") {
        if (value >= -200.0 && value <= 60.0)
            analog.gainDb = value;
    } else if (name == "NoiseDbfs") {
        if (value >= -300.0)
            analog.noiseDbfs = value;
    } else if (name == "DcOffset") {
        if (value >= -1.0 && value <= 1.0)
            analog.dcOffset = value;
    } else if (name == "HighPassHz") {
        if (value >= 0.0)
            analog.highPassHz = value;
    } else if (name == "LowPassHz") {
        if (value >= 0.0)
            analog.lowPassHz = value;
    } else if (name == "LoopPpm") {
        if (value > -100000.0 && value < 100000.0)
            analog.loopPpm = value;
    }
}
