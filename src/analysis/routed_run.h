// One dump of a coded session, where every output played its own channel
// code: the routing each input measured, judged against the map expected.
#pragma once

#include <cstdint>
#include <optional>

#include "analysis/analysis_result.h"
#include "analysis/channel_routing.h"
#include "analysis/dump_data.h"
#include "analysis/route_map.h"

namespace analyse {

struct RoutingOptions {
    RoutingCode code = RoutingCode::staircase;
    int outputs = 0;        // outputs that played their code (the session's output count)
    double rate = 48000.0;  // Hz
    int bits = 32;          // the recording's full scale
    RouteMap map;
    double maxCrosstalkDb = defaultMaxCrosstalkDb;
    // Fail a round trip further than this from the reported latencies.
    std::optional<int64_t> maxExtraLatency;
};

// `firstChannel` numbers the inputs as analyseRun does.
RunResult routeRun(const DumpData& dump, const RoutingOptions& options, int firstChannel);

}  // namespace analyse
