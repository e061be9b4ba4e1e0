// What a qualification of one driver tries: which rates and buffer sizes,
// how many runs of how long per cell, with which signal, the hidden latency
// allowed and where the report goes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/route_map.h"

enum class SizeChoice { standard, all, preferred, listed };
enum class RateChoice { standard, all, listed };
enum class QualifySignal { automatic, staircase, pulse, sine };

struct QualifyOptions {
    RateChoice rateChoice = RateChoice::standard;
    std::vector<double> rates;  // RateChoice::listed
    SizeChoice sizeChoice = SizeChoice::standard;
    std::vector<int32_t> sizes;  // SizeChoice::listed
    int32_t runs = 3;
    double seconds = 2.0;
    QualifySignal signal = QualifySignal::automatic;
    double sineHz = 220.0;
    std::optional<int64_t> maxHiddenLatency;  // samples; unlimited when absent
    analyse::RouteMap map;  // the routing expected (--map)
    double maxCrosstalkDb = analyse::defaultMaxCrosstalkDb;  // with a map, a louder leak fails the cell
    std::string reportFolder = "loopcheck-report";
};

// The rates tried when none are named: those of them the driver accepts.
extern const double qualifiedSampleRates[6];

// Reads "44100,48000" or "all" into `options`; false with the reason in
// `why` for anything else (a rate must be a finite number of at least 1).
bool parseRateList(const std::string& text, QualifyOptions& options, std::string& why);
// Reads "64,256", "all" or "preferred".
bool parseSizeList(const std::string& text, QualifyOptions& options, std::string& why);
// Reads "staircase", "pulse", "sine", "sine:HZ" or "auto".
bool parseSignal(const std::string& text, QualifyOptions& options, std::string& why);

// The buffer sizes a driver announcing `minimum`..`maximum`, `preferred`
// and `granularity` is qualified at for `choice` (`listed` gives `listed`
// as it is): ascending, each once.
std::vector<int32_t> qualifiedSizes(SizeChoice choice, const std::vector<int32_t>& listed, int32_t minimum,
                                    int32_t maximum, int32_t preferred, int32_t granularity);
// Whether the announced sizes include `size`.
bool sizeAnnounced(int32_t size, int32_t minimum, int32_t maximum, int32_t preferred, int32_t granularity);
