#include "synthetic_dump.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>

namespace synthetic {

Samples staircase(int64_t rows, int64_t onset, int64_t loop, int bits)
{
    Samples s(static_cast<size_t>(rows), 0);
    for (int64_t p = std::max<int64_t>(onset, 0); p < rows; ++p) {
        const int64_t value = ((p - onset) % loop) * 100;
        s[static_cast<size_t>(p)] =
            bits == 16 ? static_cast<int16_t>(static_cast<uint16_t>(value)) : static_cast<int32_t>(value);
    }
    return s;
}

Samples sine(int64_t rows, double onset, double frequency, double rate, double amplitude, int64_t loop)
{
    Samples s(static_cast<size_t>(rows), 0);
    const double omega = frequency * 6.283185308 / rate;
    for (int64_t p = 0; p < rows; ++p) {
        const double t = static_cast<double>(p) - onset;
        if (t < 0.0) continue;
        const double k = std::fmod(t, static_cast<double>(loop));
        s[static_cast<size_t>(p)] = static_cast<int32_t>(amplitude * std::sin(omega * k));
    }
    return s;
}

Samples pulses(int64_t rows, int64_t onset, int64_t loop, int32_t height)
{
    Samples s(static_cast<size_t>(rows), 0);
    for (int64_t p = onset; p < rows; p += loop) s[static_cast<size_t>(p)] = height;
    return s;
}

Samples silence(int64_t rows) { return Samples(static_cast<size_t>(rows), 0); }

void dropSamples(Samples& s, int64_t at, int64_t count) { s.erase(s.begin() + at, s.begin() + at + count); }

void insertSamples(Samples& s, int64_t at, const Samples& values) { s.insert(s.begin() + at, values.begin(), values.end()); }

void zeroSamples(Samples& s, int64_t at, int64_t count) { std::fill(s.begin() + at, s.begin() + at + count, 0); }

void addNoise(Samples& s, int32_t largest, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int32_t> noise(-largest, largest);
    for (int32_t& v : s) v += noise(random);
}

void invert(Samples& s)
{
    for (int32_t& v : s) v = -v;
}

void addOffset(Samples& s, int32_t offset)
{
    for (int32_t& v : s) v += offset;
}

std::string dumpText(const Run& run)
{
    size_t rows = 0;
    for (const Samples& c : run.columns) rows = std::max(rows, c.size());
    std::string text = "Input latency is " + std::to_string(run.inputLatency) + ", output latency is " +
                       std::to_string(run.outputLatency) + "\n";
    // A whole input recording runs on past the table by the lead-in of
    // silence: the table stops where the outputs stopped.
    const int64_t leadIn = std::max<int64_t>(int64_t{run.inputLatency} + run.outputLatency, 0);
    for (const Samples& c : run.columns) {
        const int64_t total = c.size() == rows ? static_cast<int64_t>(rows) + leadIn : static_cast<int64_t>(c.size());
        int32_t peak = 0, at = 0;
        for (size_t p = 0; p < c.size(); ++p) {
            const int32_t m = c[p] < 0 ? -c[p] : c[p];
            if (m > peak) {
                peak = m;
                at = static_cast<int32_t>(p);
            }
        }
        text += "Max Abs " + std::to_string(peak) + "(sample " + std::to_string(at) + ", Initial zeroes 0, total samples " +
                std::to_string(total) + ")\t";
    }
    text += "\nPosition\tvalues\n";
    for (size_t p = 0; p < rows; ++p) {
        text += std::to_string(p) + "\t";
        for (const Samples& c : run.columns) {
            if (p < c.size()) text += std::to_string(c[p]);
            text += "\t";
        }
        text += "\n";
    }
    return text;
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string writeDump(const std::string& folder, int runNumber, const Run& run)
{
    const std::string path = folder + "/ASIO PCM(Run " + std::to_string(runNumber) + ").txt";
    writeText(path, dumpText(run));
    return path;
}

}  // namespace synthetic
