// Runs the Windows build of the harness under Wine, against Windows' own
// registry and COM: the virtual drivers of each case are written into the
// Wine registry with `reg import` (or by the driver's own DllRegisterServer
// through regsvr32), and the harness is started with `wine loopcheck.exe`.
//
// One Wine prefix serves every case of the process: booting one takes
// seconds. Each case starts from a drivers key that holds only its own
// drivers, and the prefix is locked while a case runs, so processes sharing
// a prefix take their turns.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "harness_runner.h"

class WineRunner : public HarnessRunner {
public:
    // The build folder holds loopcheck.exe and loopcheck_loopback.dll;
    // `windowsArch` is the build's bitness, "win32" or "win64". The prefix
    // is `prefix`, or when that is empty one of the runner's own, booted on
    // first use and removed with the runner.
    WineRunner(const std::string& buildFolder, const std::string& windowsArch, const std::string& prefix);
    ~WineRunner() override;
    WineRunner(const WineRunner&) = delete;
    WineRunner& operator=(const WineRunner&) = delete;

    // From LOOPCHECK_E2E_WINE (the build folder), LOOPCHECK_E2E_WINEARCH
    // (default win32) and WINEPREFIX; null when LOOPCHECK_E2E_WINE is unset.
    static std::unique_ptr<WineRunner> fromEnvironment();

    HarnessResult run(const std::string& answers, const std::vector<VirtualDriverEntry>& drivers) override;
    HarnessResult runWithArguments(const std::vector<std::string>& arguments,
                                   const std::vector<VirtualDriverEntry>& drivers) override;
    std::string lineEnd() const override { return "\r\n"; }

    // Empties the drivers key, lets the virtual driver register itself with
    // `regsvr32 /s` and runs the harness. `registration` receives what the
    // registration printed and its exit code.
    HarnessResult runSelfRegistered(const std::string& answers, HarnessResult* registration);

    bool is64Bit() const { return windowsArch_ == "win64"; }
    const std::string& buildFolder() const { return buildFolder_; }

private:
    struct Command;
    int wine(const Command& command) const;
    bool preparePrefix();
    // Gives `result` a fresh working folder and readies the prefix; false,
    // with the reason in result.err, when there is no prefix to run in.
    bool startCase(HarnessResult& result);
    std::string registryView() const;
    // Leaves the drivers key holding `drivers` alone, their classes served
    // by the build's DLL; the files it takes go to `folder`.
    bool setRegistry(const std::vector<VirtualDriverEntry>& drivers, const std::string& folder,
                     std::string* problem) const;
    HarnessResult startHarness(const std::string& answers, HarnessResult result,
                               const std::vector<std::string>& arguments = {}) const;

    std::string buildFolder_;
    std::string windowsArch_;
    std::string prefix_;
    std::unique_ptr<TemporaryFolder> ownPrefix_;  // set when the runner made the prefix
    bool prefixReady_ = false;
    int lockFile_ = -1;
};
