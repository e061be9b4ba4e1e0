// Reads back what a test left in its working folder, the results file's
// blocks and the dump files, and checks them against each other and
// against what the runs were set up as: the counters against the buffer
// size, the dump table against the statistics the block gives for it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "harness_runner.h"

struct InputEntry {
    long long maxAbs = 0, maxAbsSample = 0, initialZeroes = 0, totalSamples = 0;
};

// One run's block of the results file.
struct ResultsBlock {
    unsigned long long calls = 0, samples = 0;
    bool reported = false;  // false: the counters line alone (no dump file was made)
    std::string latencyLine, entriesLine;
    long long inputLatency = 0, outputLatency = 0;
    std::vector<InputEntry> entries;
    std::vector<long long> channels;  // channel numbers of the slice lines
    std::vector<std::vector<std::pair<long long, long long>>> slices;  // peak, position
};

struct DumpTable {
    std::string latencyLine, entriesLine;
    std::vector<std::vector<long long>> rows;  // position, then one value per input
};

// Line ends of either kind are accepted. False, with the reason, when the
// text does not have the layout.
bool parseResultsFile(const std::string& text, std::vector<ResultsBlock>* blocks, std::string* why);
bool parseDumpFile(const std::string& text, DumpTable* dump, std::string* why);

// What the runs of a test were set up as.
struct RunShape {
    int outputs = 2, inputs = 2;  // channels in use
    long long bufferSize = 256;
    long long sliceLength = 48000;  // samples of one second
    long long leadIn = 608;         // latency sum when the buffers were made
};

// What a test's runs left, read back: `analysedRuns` blocks in the results
// file, each but those of `withoutDump` with its full report and
// consistent with its dump file and with `shape`; the runs of
// `withoutDump` have the counters line alone. `files` receives the blocks
// and the tables by run number (empty for runs without one).
struct RunFiles {
    std::vector<ResultsBlock> blocks;
    std::vector<DumpTable> dumps;
};
::testing::AssertionResult reportsConsistent(const HarnessResult& result, int analysedRuns, const RunShape& shape,
                                             RunFiles* files = nullptr, const std::vector<int>& withoutDump = {});

// One block against its dump table (for runs whose files a case reads
// itself).
::testing::AssertionResult runConsistent(const ResultsBlock& block, const DumpTable& dump, const RunShape& shape);

// The sample counts of the staircase check's summary lines on standard
// output ("Channel c had m mismatches out of N Data samples"), in order.
std::vector<long long> staircaseSampleCounts(const std::string& out);

// True when every value of every input column satisfies `fits(position,
// value)`; on the first that does not, `why` names it.
bool everyInputValue(const DumpTable& dump, const std::function<bool(long long, long long)>& fits, std::string* why);

// The staircase an input hears: silence for the lead-in and the loop's
// round trip, then i x 100, starting again after one second of signal.
inline long long staircaseHeard(long long position, long long roundTrip, long long signalLength = 48000)
{
    return position < roundTrip ? 0 : (position - roundTrip) % signalLength * 100;
}
