// What the bridge's end-to-end tests share: the bridge's registry entry,
// the analyser run on a harness run's dumps, and jack_iodelay's reading.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <utility>
#include <vector>

#include "harness_runner.h"

using BridgeSettings = std::vector<std::pair<std::string, std::string>>;

// The bridge joining `server`, its outputs and inputs wired to the ports
// named (comma-separated, as the registry value takes them).
VirtualDriverEntry bridgeEntry(const std::string& server, const std::string& connectOutputs,
                               const std::string& connectInputs, const BridgeSettings& extra = {});

// How often `part` occurs in `text`.
size_t count(const std::string& text, const std::string& part);

// loopcheck-analyse's JSON for the first `runs` dumps of a harness run.
nlohmann::json analyse(const HarnessResult& run, int runs);

// jack_iodelay's last measured round trip in frames in its output; -1
// when it measured none.
double iodelayFrames(const std::string& output);
