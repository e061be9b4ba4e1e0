#include "bridge_run.h"

#include <gtest/gtest.h>

#include <sstream>

#include "analyser_process.h"

namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

VirtualDriverEntry bridgeEntry(const std::string& server, const std::string& connectOutputs,
                               const std::string& connectInputs, const BridgeSettings& extra)
{
    BridgeSettings settings{{"Server", quoted(server)},
                            {"ConnectOutputs", quoted(connectOutputs)},
                            {"ConnectInputs", quoted(connectInputs)}};
    settings.insert(settings.end(), extra.begin(), extra.end());
    return VirtualDriverEntry{"JACK Bridge", "{3C6A2E91-5B04-4F7D-A8E2-91D04B7C6A10}", "", settings, true};
}

size_t count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

nlohmann::json analyse(const HarnessResult& run, int runs)
{
    std::vector<std::string> arguments;
    for (int r = 0; r < runs; ++r)
        arguments.push_back(run.folder + "/ASIO PCM(Run " + std::to_string(r) + ").txt");
    const std::string json = run.folder + "/analysis.json";
    arguments.insert(arguments.end(), {"--json", json});
    const AnalyserResult r = runAnalyser(arguments);
    nlohmann::json j = nlohmann::json::parse(readFile(json), nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << r.out << r.err << run.out << run.err;
    return j;
}

double iodelayFrames(const std::string& output)
{
    // Its lines read "   256.000 frames      5.333 ms total roundtrip latency".
    double frames = -1;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find("ms total roundtrip latency") == std::string::npos)
            continue;
        std::istringstream fields(line);
        double value = 0;
        std::string unit;
        if (fields >> value >> unit && unit == "frames")
            frames = value;
    }
    return frames;
}
