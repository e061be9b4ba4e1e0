#include "qualify/qualify_options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

const double qualifiedSampleRates[6] = {44100, 48000, 88200, 96000, 176400, 192000};

namespace {

// Splits at commas; an empty item is an item (and refused by the caller).
std::vector<std::string> items(const std::string& text)
{
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        const size_t comma = text.find(',', from);
        parts.push_back(text.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        if (comma == std::string::npos) return parts;
        from = comma + 1;
    }
}

// strtod alone would take "nan", "inf" and "1e999" (as inf).
bool finiteNumber(const std::string& text, double& value)
{
    if (text.empty()) return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    value = std::strtod(begin, &end);
    return end != begin && *end == '\0' && std::isfinite(value) && errno != ERANGE;
}

constexpr double highestRate = 10000000.0;
constexpr int32_t largestSize = 1 << 24;
constexpr size_t mostItems = 64;
constexpr int32_t mostSteps = 256;

bool isPowerOfTwo(int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

}  // namespace

bool parseRateList(const std::string& text, QualifyOptions& options, std::string& why)
{
    if (text == "all") {
        options.rateChoice = RateChoice::all;
        return true;
    }
    std::vector<double> rates;
    for (const std::string& item : items(text)) {
        double rate = 0.0;
        if (!finiteNumber(item, rate) || rate < 1.0 || rate > highestRate) {
            why = "--rates: \"" + item + "\" is not a rate from 1 to 10000000 Hz";
            return false;
        }
        if (std::find(rates.begin(), rates.end(), rate) == rates.end()) rates.push_back(rate);
    }
    if (rates.size() > mostItems) {
        why = "--rates: more than 64 rates";
        return false;
    }
    options.rateChoice = RateChoice::listed;
    options.rates = rates;
    return true;
}

bool parseSizeList(const std::string& text, QualifyOptions& options, std::string& why)
{
    if (text == "all" || text == "preferred") {
        options.sizeChoice = text == "all" ? SizeChoice::all : SizeChoice::preferred;
        return true;
    }
    std::vector<int32_t> sizes;
    for (const std::string& item : items(text)) {
        double size = 0.0;
        if (!finiteNumber(item, size) || size < 1.0 || size > largestSize || size != std::floor(size)) {
            why = "--buffers: \"" + item + "\" is not a buffer size from 1 to 16777216";
            return false;
        }
        const auto whole = static_cast<int32_t>(size);
        if (std::find(sizes.begin(), sizes.end(), whole) == sizes.end()) sizes.push_back(whole);
    }
    if (sizes.size() > mostItems) {
        why = "--buffers: more than 64 sizes";
        return false;
    }
    std::sort(sizes.begin(), sizes.end());
    options.sizeChoice = SizeChoice::listed;
    options.sizes = sizes;
    return true;
}

bool parseSignal(const std::string& text, QualifyOptions& options, std::string& why)
{
    if (text == "auto") {
        options.signal = QualifySignal::automatic;
    } else if (text == "staircase") {
        options.signal = QualifySignal::staircase;
    } else if (text == "pulse") {
        options.signal = QualifySignal::pulse;
    } else if (text == "sine") {
        options.signal = QualifySignal::sine;
    } else if (text.rfind("sine:", 0) == 0) {
        double hz = 0.0;
        if (!finiteNumber(text.substr(5), hz) || hz <= 0.0 || hz > highestRate / 2) {
            why = "--signal: \"" + text.substr(5) + "\" is not a frequency above 0 and up to 5000000 Hz";
            return false;
        }
        options.signal = QualifySignal::sine;
        options.sineHz = hz;
    } else {
        why = "--signal: \"" + text + "\" is none of staircase, pulse, sine, sine:HZ, auto";
        return false;
    }
    return true;
}

bool sizeAnnounced(int32_t size, int32_t minimum, int32_t maximum, int32_t preferred, int32_t granularity)
{
    if (size == preferred || size == minimum || size == maximum) return size > 0;
    if (size < minimum || size > maximum || size <= 0) return false;
    // -1: powers of two; above 0: steps from the minimum; 0: only the
    // three sizes named.
    if (granularity == -1) return isPowerOfTwo(size);
    if (granularity > 0) return (int64_t{size} - minimum) % granularity == 0;
    return false;
}

std::vector<int32_t> qualifiedSizes(SizeChoice choice, const std::vector<int32_t>& listed, int32_t minimum,
                                    int32_t maximum, int32_t preferred, int32_t granularity)
{
    std::vector<int32_t> sizes;
    if (choice == SizeChoice::listed) return listed;
    if (choice == SizeChoice::preferred) {
        if (preferred > 0) sizes.push_back(preferred);
        return sizes;
    }
    for (int32_t size : {minimum, preferred, maximum})
        if (size > 0) sizes.push_back(size);
    if (minimum > 0 && maximum <= largestSize) {
        if (choice == SizeChoice::all && granularity > 0) {
            // Every step, but never more than a table can show.
            int32_t steps = 0;
            for (int64_t size = minimum; size <= maximum && steps < mostSteps; size += granularity, ++steps)
                sizes.push_back(static_cast<int32_t>(size));
        } else {
            for (int64_t size = 1; size <= maximum; size *= 2)
                if (sizeAnnounced(static_cast<int32_t>(size), minimum, maximum, preferred, granularity))
                    sizes.push_back(static_cast<int32_t>(size));
        }
    }
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    return sizes;
}
