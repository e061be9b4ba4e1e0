// Which output each input hears, how loud, what leaks in from the others
// and the round trip of the path, measured from a channel-coded signal.
#pragma once

#include <cstdint>
#include <vector>

namespace analyse {

enum class RoutingCode { staircase, tones };

struct RoutedInput {
    bool dead = true;          // no output found above the noise
    int heard = -1;            // the output it hears
    double levelDb = 0.0;      // that output's level at this input, re what it sent
    int leakFrom = -1;         // the loudest other output (-1: none above the floor)
    double leakDb = 0.0;       // its level below the heard one (negative); the floor when none is above it
    double noiseFloorDb = 0.0; // what the recording lets be seen, re the heard signal (negative)
    double roundTrip = 0.0;    // samples from the signal's start at the output to its arrival here
    bool roundTripKnown = false;
    std::vector<double> levelsDb;  // every output's level re the heard one, floored at the noise floor
};

struct RoutingSetup {
    RoutingCode code = RoutingCode::staircase;
    int outputs = 0;        // outputs that played their code (at most maxCodedOutputs)
    double rate = 48000.0;  // Hz; the signal loops after a whole second of it
    int bits = 32;          // the recording's full scale: 16 or 32
    int64_t leadIn = 0;     // recording position where the outputs began their signal
};

// Measures one input's recording, samples[0..count).
RoutedInput routeInput(const int32_t* samples, int64_t count, const RoutingSetup& setup);

// The same for several inputs; the staircase's correlations are shared.
std::vector<RoutedInput> routeInputs(const std::vector<const int32_t*>& samples, const std::vector<int64_t>& counts,
                                     const RoutingSetup& setup);

}  // namespace analyse
