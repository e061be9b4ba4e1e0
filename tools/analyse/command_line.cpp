#include "analyse/command_line.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace analyse {

namespace {

template <class Number>
bool readNumber(const std::string& text, Number& value)
{
    const char* first = text.data();
    const char* last = first + text.size();
    const auto r = std::from_chars(first, last, value);
    return r.ec == std::errc() && r.ptr == last && !text.empty();
}

bool takesValue(const std::string& option)
{
    for (const char* known : {"--rate", "--signal", "--frequency", "--max-extra-latency", "--outputs", "--bits",
                              "--min-level", "--glitch-db", "--json", "--wav", "--plot", "--session", "--map",
                              "--max-crosstalk"})
        if (option == known) return true;
    return false;
}

}  // namespace

const char* usageText()
{
    return "usage: loopcheck-analyse [options] \"ASIO PCM(Run N).txt\"...\n"
           "Measures the round trip, checks the loopback and finds glitches in the harness's sample dumps.\n"
           "\n"
           "  --rate HZ               sample rate of the runs (default: the session record's, else 48000)\n"
           "  --signal KIND           staircase, pulse, sine or auto (default auto: from the data)\n"
           "  --frequency HZ          the sine's frequency (default: measured)\n"
           "  --max-extra-latency N   fail a round trip more than N samples off the reported latencies\n"
           "  --outputs N             number the inputs after N outputs, as the harness does\n"
           "                          (default: the session record's output count)\n"
           "  --bits 16|32            full scale of the samples (default: the session record's sample type,\n"
           "                          else from the data)\n"
           "  --min-level DBFS        quieter inputs carry no usable signal (default -100)\n"
           "  --glitch-db DB          a sample this far from the fitted signal is a glitch (default -50)\n"
           "  --allow-silent          inputs without a usable signal do not fail\n"
           "  --json FILE             write every finding as JSON\n"
           "  --wav DIR               write each run's inputs as a WAV file into DIR\n"
           "  --plot FILE.png         draw each input around its onset and over the whole run\n"
           "  --session FILE          the harness's session record (default: loopcheck-session.json\n"
           "                          beside the dumps, when there is one)\n"
           "  --map identity|0:1,...  the routing a coded session (loopcheck --coded) must show: an input\n"
           "                          hearing another output fails (default: only dead inputs fail)\n"
           "  --max-crosstalk DB      with --map, a leak from another output louder than this fails\n"
           "                          (default -60)\n"
           "  --version               print the version and exit\n"
           "\n"
           "Exit status: 0 every input passed, 1 an input failed, 2 unusable input or output.\n";
}

bool parseCommandLine(int argc, const char* const* argv, CommandLine& line, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            line.help = true;
            continue;
        }
        if (arg == "--allow-silent") {
            line.analysis.allowSilent = true;
            continue;
        }
        if (arg == "--version") {
            line.version = true;
            continue;
        }
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            line.files.push_back(arg);
            continue;
        }
        std::string value;
        const size_t equals = arg.find('=');
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
            if (arg == "--allow-silent" || arg == "--help" || arg == "--version") {
                error = arg + " takes no value";
                return false;
            }
        }
        // Known before its value is looked for: an unknown option last on
        // the line is unknown, not short of a value.
        if (!takesValue(arg)) {
            error = "unknown option " + arg;
            return false;
        }
        if (equals == std::string::npos) {
            if (i + 1 == argc) {
                error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        AnalysisOptions& a = line.analysis;
        double number = 0.0;
        int64_t whole = 0;
        int small = 0;
        if (arg == "--rate") {
            if (!readNumber(value, number) || !(number >= 1000.0 && number <= 1e7)) {
                error = "--rate needs a sample rate in Hz, not \"" + value + "\"";
                return false;
            }
            a.rate = number;
            line.rateGiven = true;
        } else if (arg == "--signal") {
            if (value == "staircase") a.signal = SignalKind::staircase;
            else if (value == "pulse") a.signal = SignalKind::pulse;
            else if (value == "sine") a.signal = SignalKind::sine;
            else if (value == "auto") a.signal = SignalKind::automatic;
            else {
                error = "--signal must be staircase, pulse, sine or auto, not \"" + value + "\"";
                return false;
            }
        } else if (arg == "--frequency") {
            if (!readNumber(value, number) || !(number > 0.0 && std::isfinite(number))) {
                error = "--frequency needs a frequency in Hz above 0, not \"" + value + "\"";
                return false;
            }
            a.frequency = number;
        } else if (arg == "--max-extra-latency") {
            if (!readNumber(value, whole) || whole < 0) {
                error = "--max-extra-latency needs a number of samples, not \"" + value + "\"";
                return false;
            }
            a.maxExtraLatency = whole;
        } else if (arg == "--outputs") {
            if (!readNumber(value, small) || small < 0) {
                error = "--outputs needs a number of output channels, not \"" + value + "\"";
                return false;
            }
            line.firstChannel = small;
        } else if (arg == "--bits") {
            if (!readNumber(value, small) || (small != 16 && small != 32)) {
                error = "--bits must be 16 or 32, not \"" + value + "\"";
                return false;
            }
            a.bits = small;
        } else if (arg == "--min-level" || arg == "--glitch-db") {
            if (!readNumber(value, number) || !std::isfinite(number) || number > 0.0) {
                error = arg + " needs a level in dB at or below 0, not \"" + value + "\"";
                return false;
            }
            (arg == "--min-level" ? a.minLevelDbfs : a.glitchDb) = number;
        } else if (arg == "--json" || arg == "--plot") {
            // An empty name would quietly mean no file at all.
            if (value.empty()) {
                error = arg + " needs a file name";
                return false;
            }
            (arg == "--json" ? line.jsonFile : line.plotFile) = value;
        } else if (arg == "--session") {
            if (value.empty()) {
                error = "--session needs a file name";
                return false;
            }
            line.sessionFile = value;
        } else if (arg == "--map") {
            if (!parseRouteMap(value, line.routeMap, error)) return false;
        } else if (arg == "--max-crosstalk") {
            if (!readNumber(value, number) || !std::isfinite(number) || number < -200.0 || number > 0.0) {
                error = "--max-crosstalk needs a level in dB from -200 to 0, not \"" + value + "\"";
                return false;
            }
            line.maxCrosstalkDb = number;
            line.crosstalkGiven = true;
        } else if (arg == "--wav") {
            if (value.empty()) {
                error = "--wav needs a folder";
                return false;
            }
            line.wavFolder = value;
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    if (line.files.empty() && !line.help && !line.version) {
        error = "no dump file given";
        return false;
    }
    return true;
}

}  // namespace analyse
