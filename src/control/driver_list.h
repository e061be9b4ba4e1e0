// What --list shows: every driver entry of the registry in index order,
// whether it can be used, and the keys the scan passed over with the
// reason.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct ListedDriver {
    int32_t index = 0;
    std::string name;        // as the dialogue shows it
    std::string keyName;
    std::string clsidText;
    std::string serverPath;
    bool usable = false;     // an instance of its class could be created
    std::string problem;     // why not, when it cannot be used
};

struct ListedSkip {
    std::string keyName;
    std::string reason;
};

struct DriverListing {
    std::vector<ListedDriver> drivers;
    std::vector<ListedSkip> skipped;
};

// Scans the registry and tries to create each driver once (creating is
// not initialising: no driver starts its hardware for this), releasing it
// again at once. Each try runs apart (a child process where the system can
// fork), so a driver that crashes or hangs is listed with that as its
// problem.
DriverListing listInstalledDrivers();

void writeDriverListTable(const DriverListing& listing, std::ostream& out);
void writeDriverListJson(const DriverListing& listing, std::ostream& out);
