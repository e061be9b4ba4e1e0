#include "control/run_sequence.h"

#include <cstring>

#include "control/session_record.h"
#include "record/console.h"
#include "stream/run_progress.h"
#include "record/test_state.h"
#include "driver/driver_registry.h"
#include "platform/interruption.h"
#include "report/report_files.h"
#include "report/run_analysis.h"
#include "stream/lost_samples.h"
#include "stream/run_accounts.h"
#include "stream/stream_setup.h"

RunEnd runOnce(int32_t deviceIndex, int32_t runNumber)
{
    TestState& s = testState;
    s.deviceIndex = deviceIndex;

    if (initDevice(deviceIndex)) {
        console::line("Initialised device");
    } else {
        console::line("Could not initialise device ", deviceIndex);
        if (driverLoader != nullptr && !driverLoader->lastOpenError().empty())
            console::warning(driverLoader->lastOpenError());
    }

    // Cleared before the set-up: a driver may ask for a reset while it
    // creates its buffers.
    runAccounts.clear();
    SessionRun record;
    record.index = runNumber;
    if (!setupStreams()) {
        console::line("Could not setup playback");
        deinitDevice();
        recordSessionRun(record);
        return RunEnd::completed;
    }
    console::line("Setup playback");
    record.setUp = true;
    record.bufferSize = s.bufferSize;
    record.sampleType = s.sampleType;
    record.outputChannels = usedOutputChannels();
    record.inputChannels = usedInputChannels();

    // The driver's thread owns the counters and recordings from start()
    // until stop() returns; this thread only waits. A refusal changes
    // nothing in the run (the report shows what did stream), but without a
    // word an empty run would look like a silent device.
    //
    // An interruption that came during the set-up starts nothing; one that
    // comes while streaming ends the wait at once. Either way the driver is
    // stopped and released below, as a device must not be left running.
    const bool streams = interruptionStatus() == 0;
    runAccounts.begin(s.bufferSize, s.sampleRate, s.runDurationMs);
    // A driver that refused to start has said so; its empty accounts add nothing.
    bool started = false;
    if (streams && s.currentDriver != nullptr) {
        const ASIOError startCode = s.currentDriver->start();
        started = startCode == ASE_OK;
        if (!started) console::warning("the driver's start returned ", startCode);
    }
    if (streams) waitWhileStreaming(s.runDurationMs, runNumber);
    if (streams && s.currentDriver != nullptr) {
        const ASIOError stopped = s.currentDriver->stop();
        if (stopped != ASE_OK) console::warning("the driver's stop returned ", stopped);
    }
    runAccounts.end();

    deinitDevice();
    console::line("Deinitialised device");

    s.signalBuffer.reset();
    record.streamed = started;
    if (started) {
        record.accounts = runAccounts.summary();
        record.reasons = accountWarnings(record.accounts, "run " + std::to_string(runNumber));
    }
    // A run cut short is not analysed: its block would pass a short stream
    // off as the whole run.
    if (interruptionStatus() != 0) {
        recordSessionRun(record);
        return RunEnd::interrupted;
    }

    if (s.sampleType == ASIOSTFloat32LSB)
        console::line("Float values are between ", s.floatMinSeen, " and ", s.floatMaxSeen);

    reportLostSamples();
    const bool finished = analyseRun(runNumber);
    const DumpOutcome dump = finished ? lastDumpOutcome() : DumpOutcome::none;
    record.dumped = dump != DumpOutcome::none;
    record.dumpWhole = dump == DumpOutcome::whole;
    if (!finished) {
        recordSessionRun(record);
        return RunEnd::interruptedInDump;
    }
    for (const std::string& warning : record.reasons) console::warning(warning);
    recordSessionRun(record);
    return RunEnd::completed;
}

bool initDevice(int32_t deviceIndex)
{
    TestState& s = testState;
    if (deviceIndex < 0 || static_cast<size_t>(deviceIndex) >= s.driverNames.size()) return false;
    // By index, not by the name shown: names are cut to 31 characters, and
    // two drivers may show the same one.
    if (!loadDriverByIndex(deviceIndex)) return false;

    std::memset(&s.driverInfo, 0, sizeof s.driverInfo);
    s.driverInfo.asioVersion = 2;
    s.driverInfo.sysRef = nullptr;

    const int result = initialiseDriver(s.driverInfo);
    if (result == ASE_OK)
        console::line("Successfully initialised streaming in ASIO mode ", s.driverInfo.asioVersion);
    else
        console::line("ASIOInit failed with ", result);
    // The driver's texts are fixed-size fields that a driver may fill to
    // the brim: print at most what the field holds.
    console::line("Device is ", std::string(s.driverInfo.name, strnlen(s.driverInfo.name, sizeof s.driverInfo.name)));
    console::line("Error is ",
                  std::string(s.driverInfo.errorMessage, strnlen(s.driverInfo.errorMessage, sizeof s.driverInfo.errorMessage)));

    if (!s.controlPanelShown) {
        // The first driver of the process gets its control panel, and is
        // then started afresh, as the operator may have changed settings.
        s.controlPanelShown = true;
        if (s.currentDriver != nullptr) s.currentDriver->controlPanel();
        deinitDevice();
        initDevice(deviceIndex);
    }
    return true;
}

void deinitDevice()
{
    TestState& s = testState;
    const ASIOError code = s.currentDriver != nullptr ? s.currentDriver->disposeBuffers() : ASE_NotPresent;
    console::line("ASIO Dispose buffers returned ", code);
    if (s.currentDriver != nullptr && driverLoader != nullptr) driverLoader->closeCurrent();
    s.currentDriver = nullptr;
    console::line("Successfully shutdown streaming");
}
