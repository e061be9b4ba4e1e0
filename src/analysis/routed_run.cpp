#include "analysis/routed_run.h"

#include <algorithm>
#include <cmath>

#include "analysis/channel_codes.h"
#include "analysis/recording_analysis.h"

namespace analyse {

RunResult routeRun(const DumpData& dump, const RoutingOptions& options, int firstChannel)
{
    RunResult run = runOfDump(dump);
    run.signal = SignalKind::none;
    run.bits = options.bits;
    run.routingMeasured = true;
    run.routingCode = options.code;

    RoutingSetup setup;
    setup.code = options.code;
    setup.outputs = std::min(std::max(options.outputs, 0), maxCodedOutputs);
    setup.rate = options.rate;
    setup.bits = options.bits;
    setup.leadIn = dump.leadIn();
    std::vector<const int32_t*> samples;
    std::vector<int64_t> counts;
    for (const std::vector<int32_t>& column : dump.columns) {
        samples.push_back(column.data());
        counts.push_back(static_cast<int64_t>(column.size()));
    }
    const std::vector<RoutedInput> routed = routeInputs(samples, counts, setup);

    // The staircases of different outputs differ by no more than a constant
    // within less than one loop, so the staircase's code needs a whole one
    // after the signal arrived; the tones need one measuring window.
    const int64_t loop = std::max<int64_t>(1, static_cast<int64_t>(options.rate));
    for (size_t k = 0; k < routed.size(); ++k) {
        RoutedChannel ch;
        ch.column = static_cast<int>(k);
        ch.label = channelLabel(ch.column, firstChannel);
        ch.routed = routed[k];
        if (setup.outputs == 0) {
            ch.failures.push_back("the session record names no output that played a code");
        } else if (!ch.routed.dead && ch.routed.heard < 0) {
            ch.failures.push_back("the run was too short to tell which output it hears");
        } else if (!ch.routed.dead && options.code == RoutingCode::staircase && ch.routed.roundTripKnown &&
                   counts[k] < setup.leadIn + static_cast<int64_t>(std::ceil(ch.routed.roundTrip)) + loop) {
            ch.failures.push_back("the run holds less than a second of the code after it arrived, too little "
                                  "to tell the outputs' staircases apart");
        } else {
            ch.failures = routeFailures(ch.routed, k, options.map, options.maxCrosstalkDb);
            const double hidden = ch.routed.roundTrip - static_cast<double>(run.reportedLatency());
            if (options.maxExtraLatency && !ch.routed.dead && ch.routed.roundTripKnown &&
                std::fabs(hidden) > static_cast<double>(*options.maxExtraLatency) + 1e-9)
                ch.failures.push_back("hidden latency " + std::to_string(std::llround(hidden)) + " beyond " +
                                      std::to_string(*options.maxExtraLatency) + " samples");
        }
        ch.passed = ch.failures.empty();
        run.routing.push_back(std::move(ch));
    }
    return run;
}

}  // namespace analyse
