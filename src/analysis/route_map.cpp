#include "analysis/route_map.h"

#include <algorithm>
#include <cstdio>

namespace analyse {

namespace {

std::string decibels(double db)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", db);
    return text;
}

bool channelNumber(const std::string& digits, int32_t& value)
{
    if (digits.empty() || digits.size() > 2 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoi(digits);
    return value < 32;
}

}  // namespace

bool parseRouteMap(const std::string& text, RouteMap& map, std::string& why)
{
    map.given = true;
    map.routes.clear();
    if (text == "identity") return true;
    std::vector<int32_t> routes;
    std::vector<bool> named;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        const std::string pair = text.substr(at, comma - at);
        const size_t colon = pair.find(':');
        int32_t input = -1;
        int32_t output = -1;
        if (colon == std::string::npos || !channelNumber(pair.substr(0, colon), input) ||
            !channelNumber(pair.substr(colon + 1), output)) {
            why = "--map: \"" + pair + "\" is not a pair input:output of channels 0 to 31";
            return false;
        }
        if (static_cast<size_t>(input) >= routes.size()) {
            for (size_t k = routes.size(); k <= static_cast<size_t>(input); ++k) {
                routes.push_back(static_cast<int32_t>(k));
                named.push_back(false);
            }
        }
        if (named[static_cast<size_t>(input)]) {
            why = "--map: input " + std::to_string(input) + " is named twice";
            return false;
        }
        named[static_cast<size_t>(input)] = true;
        routes[static_cast<size_t>(input)] = output;
        at = comma + 1;
    }
    map.routes = routes;
    return true;
}

std::vector<std::string> routeFailures(const RoutedInput& routed, size_t input, const RouteMap& map,
                                       double maxCrosstalkDb)
{
    std::vector<std::string> reasons;
    const int32_t expected = map.expected(input);
    if (routed.dead) {
        reasons.push_back("hears no output" +
                          (map.given ? " (expected output " + std::to_string(expected) + ")" : std::string()));
        return reasons;
    }
    if (!map.given) return reasons;
    if (routed.heard < 0) {
        reasons.push_back("the run was too short to tell which output it hears");
        return reasons;
    }
    if (routed.heard != expected)
        reasons.push_back("hears output " + std::to_string(routed.heard) + ", expected output " +
                          std::to_string(expected));
    if (routed.leakFrom >= 0 && routed.leakDb > maxCrosstalkDb)
        reasons.push_back("output " + std::to_string(routed.leakFrom) + " leaks in at " + decibels(routed.leakDb) +
                          " dB, above " + decibels(maxCrosstalkDb) + " dB");
    return reasons;
}

}  // namespace analyse
