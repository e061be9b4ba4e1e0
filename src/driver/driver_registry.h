// The installed drivers: found under HKEY_LOCAL_MACHINE\software\asio, kept
// as an indexed list with display names, opened one at a time by index or by
// display name, released again; and the wrapper around the first call every
// driver needs, its initialisation.
//
// Display names are handed out and compared in their cut form: a name of 32
// characters or more becomes its first 28 characters and "...", so it fits
// the 32-byte buffers the dialogue uses.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/asio_interface.h"

// Result codes of the registry operations; COM failure codes from creating
// a driver are passed through unchanged.
constexpr int errInvalidArgument = -5001;  // no output buffer given
constexpr int errAlreadyOpen = -5002;      // the driver of that index is already instantiated
constexpr int errNotFound = -5003;         // no record has that index

constexpr int driverNameBytes = 128;
constexpr int displayNameBytes = 32;

struct DriverReleaser {
    void operator()(IASIO* driver) const { driver->Release(); }
};

// A key under software\asio that the scan passed over, and why (the same
// text as its "warning:" line on standard error, without the prefix).
struct SkippedDriverEntry {
    std::string keyName;
    std::string reason;
};

struct DriverRecord {
    int32_t index = 0;
    CLSID clsid{};                       // all zero when the registry text did not parse
    char name[driverNameBytes] = {};     // description, or the key's name; at most 127 characters
    std::string keyName;                 // the subkey's name under software\asio
    std::string clsidText;               // the class identifier as the registry holds it
    std::string serverPath;              // the in-process server library found for it
    std::unique_ptr<IASIO, DriverReleaser> instance;  // the driver while it is instantiated
    std::unique_ptr<DriverRecord> next;
};

class DriverRegistry {
public:
    // Scans the registry; starts COM on this thread when it finds a driver.
    DriverRegistry();
    // Releases every driver still held and ends COM when it started it.
    ~DriverRegistry();
    DriverRegistry(const DriverRegistry&) = delete;
    DriverRegistry& operator=(const DriverRegistry&) = delete;

    int32_t count() const { return count_; }
    int32_t currentIndex() const { return currentIndex_; }
    const DriverRecord* head() const { return head_.get(); }
    const DriverRecord* find(int32_t index) const;

    // Writes the cut name of driver i into names[i] (32 bytes each; null
    // entries are passed over) and returns the smaller of count and maxCount.
    int fillNames(char** names, int maxCount) const;
    // Writes the cut name of driver index into the 32-byte buffer out.
    int nameOf(int32_t index, char* out) const;
    // Instantiates driver index into the current-driver slot (testState.currentDriver).
    int openByIndex(int32_t index);
    // Releases the driver opened through this registry, if any. The caller
    // clears testState.currentDriver.
    void closeCurrent();
    // Closes the current driver and opens the one whose cut name equals
    // name. When that fails, the driver that was open before is opened again.
    bool loadByName(const char* name);
    // As loadByName, for the driver at index: two drivers may share a cut
    // name, and only the index says which one the operator chose.
    bool loadByIndex(int32_t index);

    const std::vector<SkippedDriverEntry>& skippedEntries() const { return skipped_; }  // in scan order
    // Why the last openByIndex failed (loader message, missing entry point,
    // class factory result...); empty after a success.
    const std::string& lastOpenError() const { return lastOpenError_; }

private:
    DriverRecord* findRecord(int32_t index) const;
    // Closes the current driver and opens the one at index; on failure
    // opens the one before again, found by its cut name or by its index.
    bool switchTo(int32_t index, bool reopenByName);

    std::unique_ptr<DriverRecord> head_;
    std::vector<SkippedDriverEntry> skipped_;
    std::string lastOpenError_;
    int32_t count_ = 0;
    int32_t currentIndex_ = -1;
};

// Built at process start; lists the drivers for the dialogue, never opens one.
extern DriverRegistry driverList;
// Built by the first loadDriverByName and kept until the process ends; the
// runs open and close their drivers through it.
extern DriverRegistry* driverLoader;

// 0 when HKEY_CLASSES_ROOT\clsid holds an in-process server for clsidText
// whose file exists (its path then in the 512-byte buffer path), else -1.
// Lower-cases clsidText in place.
int findInprocServerPath(char* clsidText, char* path);

bool loadDriverByName(const char* name);
// As loadDriverByName, for the driver at index of driverLoader's list,
// which is the scan of the same registry as driverList's.
bool loadDriverByIndex(int32_t index);

// Initialises testState.currentDriver and fills info (whose asioVersion and
// sysRef the caller has set): ASE_OK, or ASE_NotPresent when there is no
// driver or it refuses, in which case currentDriver becomes null.
int initialiseDriver(ASIODriverInfo& info);
