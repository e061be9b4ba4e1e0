#include "control/driver_list.h"

#include <nlohmann/json.hpp>

#include "record/test_state.h"
#include "report/text_table.h"
#include "driver/driver_registry.h"
#include "platform/isolated_call.h"

namespace {

// Whether driver `index` of a fresh scan can be created; empty when it can.
// A scan of its own per driver releases each one before the next is made:
// hosts are not expected to hold two drivers at once.
std::string creationProblem(int32_t index)
{
    DriverRegistry registry;
    const int result = registry.openByIndex(index);
    testState.currentDriver = nullptr;
    if (result == 0)
        return "";
    return registry.lastOpenError().empty() ? "result " + std::to_string(result) : registry.lastOpenError();
}

}  // namespace

DriverListing listInstalledDrivers()
{
    DriverListing listing;
    DriverRegistry registry;
    for (int32_t i = 0; i < registry.count(); ++i) {
        const DriverRecord* record = registry.find(i);
        if (record == nullptr)
            continue;
        char shown[displayNameBytes] = {};
        registry.nameOf(i, shown);
        ListedDriver driver;
        driver.index = i;
        driver.name = shown;
        driver.keyName = record->keyName;
        driver.clsidText = record->clsidText;
        driver.serverPath = record->serverPath;
        // A driver that crashes or hangs while it is made must not take the
        // list with it: the list names it.
        std::string problem;
        std::string failure;
        if (!runIsolated([i] { return creationProblem(i); }, problem, failure))
            problem = "creating it " + failure;
        driver.problem = problem;
        driver.usable = driver.problem.empty();
        listing.drivers.push_back(std::move(driver));
    }
    for (const SkippedDriverEntry& skipped : registry.skippedEntries())
        listing.skipped.push_back(ListedSkip{skipped.keyName, skipped.reason});
    return listing;
}

void writeDriverListTable(const DriverListing& listing, std::ostream& out)
{
    out << "Drivers\n";
    TextTable drivers;
    if (listing.drivers.empty()) {
        drivers.row({"none"});
    } else {
        drivers.row({"index", "name", "key", "class", "server", "usable"});
        for (const ListedDriver& d : listing.drivers)
            drivers.row({std::to_string(d.index), d.name, d.keyName, d.clsidText, d.serverPath,
                         d.usable ? "yes" : "no: " + d.problem});
    }
    drivers.write(out);
    if (listing.skipped.empty())
        return;
    out << "\nSkipped\n";
    TextTable skipped;
    for (const ListedSkip& s : listing.skipped)
        skipped.row({s.reason});
    skipped.write(out);
}

void writeDriverListJson(const DriverListing& listing, std::ostream& out)
{
    using nlohmann::json;
    json drivers = json::array();
    for (const ListedDriver& d : listing.drivers) {
        json entry = {{"index", d.index},   {"name", d.name},     {"keyName", d.keyName},
                      {"clsid", d.clsidText}, {"server", d.serverPath}, {"usable", d.usable}};
        if (!d.usable)
            entry["problem"] = d.problem;
        drivers.push_back(std::move(entry));
    }
    json skipped = json::array();
    for (const ListedSkip& s : listing.skipped)
        skipped.push_back({{"keyName", s.keyName}, {"reason", s.reason}});
    const json document = {{"drivers", drivers}, {"skipped", skipped}};
    out << document.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
}
