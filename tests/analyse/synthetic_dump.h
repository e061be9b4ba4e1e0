// Dump files made to order: the signals the harness sends, arriving after
// a chosen lead-in and round trip, with faults cut into them, written in
// the harness's dump format.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace synthetic {

using Samples = std::vector<int32_t>;

// The looping staircase (k x 100, at 16 bits its low 16 bits) from `onset` on.
Samples staircase(int64_t rows, int64_t onset, int64_t loop, int bits = 32);
// The harness's sine: amplitude x sin(frequency x 6.283185308 x t) from
// `onset` (which may fall between samples), truncated like the harness does.
Samples sine(int64_t rows, double onset, double frequency, double rate, double amplitude, int64_t loop);
// One pulse per loop; the first at `onset`.
Samples pulses(int64_t rows, int64_t onset, int64_t loop, int32_t height);
Samples silence(int64_t rows);

// Faults, each at a position of the samples.
void dropSamples(Samples& s, int64_t at, int64_t count);             // the stream jumps ahead
void insertSamples(Samples& s, int64_t at, const Samples& values);   // the stream falls back
void zeroSamples(Samples& s, int64_t at, int64_t count);             // a dropout, timing intact
void addNoise(Samples& s, int32_t largest, uint32_t seed);           // +-largest on every sample
void invert(Samples& s);
void addOffset(Samples& s, int32_t offset);

struct Run {
    int32_t inputLatency = 288;
    int32_t outputLatency = 320;
    std::vector<Samples> columns;
};

// The dump file's text, exactly as the harness lays it out.
std::string dumpText(const Run& run);

// Writes "ASIO PCM(Run N).txt" into `folder` and returns its path.
std::string writeDump(const std::string& folder, int runNumber, const Run& run);
void writeText(const std::string& path, const std::string& text);

}  // namespace synthetic
