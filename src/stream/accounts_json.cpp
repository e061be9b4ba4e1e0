#include "stream/accounts_json.h"

nlohmann::json accountsJson(const RunAccounts::Summary& a, const std::vector<std::string>& warnings)
{
    using nlohmann::json;
    json requests = json::array();
    for (const DriverRequest& r : a.requests)
        requests.push_back({{"kind", requestName(r.kind)}, {"atSeconds", r.atSeconds}});
    json tallies = json::array();
    for (const RequestTally& t : a.tallies)
        tallies.push_back({{"kind", requestName(t.kind)},
                           {"count", t.count},
                           {"firstAtSeconds", t.firstAtSeconds},
                           {"lastAtSeconds", t.lastAtSeconds}});
    return {{"framesExpected", a.framesExpected},
            {"framesDelivered", a.framesDelivered},
            {"callbacks", a.callbacks},
            {"seconds", a.seconds},
            {"longestGapSeconds", a.longestGapSeconds},
            {"longestGapAtSeconds", a.longestGapAtSeconds},
            {"positionJumps", a.positionJumps},
            {"firstJumpFrames", a.positionJumps > 0 ? json(a.firstJumpFrames) : json(nullptr)},
            {"firstJumpAtSeconds", a.positionJumps > 0 ? json(a.firstJumpAtSeconds) : json(nullptr)},
            {"requests", requests},
            {"requestsNotKept", a.requestsNotKept},
            {"requestCounts", tallies},
            {"flagged", !warnings.empty()},
            {"warnings", warnings}};
}
