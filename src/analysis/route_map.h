// The routing a user expects ("identity" or input:output pairs) and what a
// measured routing breaks of it: shared by the qualification and the
// analyser, so both read and judge a map alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/channel_routing.h"

namespace analyse {

struct RouteMap {
    // Without a map only a dead input fails.
    bool given = false;
    // routes[k] is the output input k must hear; inputs past the list hear
    // their own number (all of them: identity).
    std::vector<int32_t> routes;

    int32_t expected(size_t input) const
    {
        return input < routes.size() ? routes[input] : static_cast<int32_t>(input);
    }
};

constexpr double defaultMaxCrosstalkDb = -60.0;

// Reads "identity" or pairs "input:output,..." (each input once, channels
// 0 to 31); false with the reason in `why`, naming the option `--map`.
bool parseRouteMap(const std::string& text, RouteMap& map, std::string& why);

// Why input `input` of a measured routing fails `map`: empty when it
// passes. A dead input always fails; with a map, one that hears another
// output, or with a leak louder than `maxCrosstalkDb`.
std::vector<std::string> routeFailures(const RoutedInput& routed, size_t input, const RouteMap& map,
                                       double maxCrosstalkDb);

}  // namespace analyse
