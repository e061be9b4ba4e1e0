#include "loopback_engine.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// Beyond this a configuration error is more likely than a device: the
// memory would be claimed (and zeroed) at once, so it is refused instead.
constexpr uint64_t maxStreamBytes = uint64_t(1) << 30;

bool requestsValid(const LoopbackFormat& format, const ASIOBufferInfo* infos, int32_t count)
{
    const size_t outputs = static_cast<size_t>(format.outputs > 0 ? format.outputs : 0);
    const size_t inputs = static_cast<size_t>(format.inputs > 0 ? format.inputs : 0);
    std::vector<bool> taken(outputs + inputs);
    for (int32_t i = 0; i < count; ++i) {
        const bool isInput = infos[i].isInput != ASIOFalse;
        const int32_t channel = infos[i].channelNum;
        if (channel < 0 || static_cast<size_t>(channel) >= (isInput ? inputs : outputs))
            return false;
        const size_t flag = static_cast<size_t>(channel) + (isInput ? outputs : 0);
        if (taken[flag])
            return false;
        taken[flag] = true;
    }
    return true;
}

}  // namespace

ASIOError LoopbackEngine::create(const LoopbackFormat& format, ASIOBufferInfo* infos, int32_t count,
                                 int32_t bufferSize)
{
    release();
    if (infos == nullptr || count < 1 || !requestsValid(format, infos, count))
        return ASE_InvalidParameter;
    if (bufferSize < 1)
        return ASE_InvalidMode;

    width_ = format.sampleType == ASIOSTInt16LSB ? 2 : 4;
    const uint64_t half = static_cast<uint64_t>(bufferSize) * static_cast<uint64_t>(width_);
    const uint64_t total = half * 2 * static_cast<uint64_t>(count);
    if (half > maxStreamBytes || total > maxStreamBytes)
        return ASE_NoMemory;
    memory_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(total)]);
    if (!memory_)
        return ASE_NoMemory;
    std::memset(memory_.get(), 0, static_cast<size_t>(total));

    entries_.resize(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        Entry& entry = entries_[static_cast<size_t>(i)];
        entry.isInput = infos[i].isInput != ASIOFalse;
        entry.channel = infos[i].channelNum;
        for (int h = 0; h < 2; ++h)
            entry.halves[h] = memory_.get() + (static_cast<size_t>(i) * 2 + static_cast<size_t>(h)) * half;
    }
    buildRoutes(format, bufferSize);

    // The input half is filled before the host writes the output half of
    // the same switch, so nothing can come back sooner than one half later.
    delay_ = format.roundTrip > bufferSize ? format.roundTrip : bufferSize;
    // The analog path's interpolator reads ahead of its output, so its
    // inputs leave the line early by as much as the path delays them again.
    int32_t lineDelay = delay_;
    if (format.analog.active() && sample_codec::formatOf(format.sampleType).kind != sample_codec::Kind::none) {
        int32_t inputs = 0;
        for (Entry& entry : entries_) {
            if (entry.isInput)
                entry.analogIndex = inputs++;
        }
        const int32_t early = AnalogPath::earlyWanted(format.analog, delay_ - bufferSize);
        if (total + AnalogPath::bytesNeeded(format.analog, inputs, bufferSize, early) > maxStreamBytes ||
            !analog_.configure(format.analog, format.sampleType, format.sampleRate, inputs, bufferSize, early)) {
            release();
            return ASE_NoMemory;
        }
        if (analog_.active()) {
            lineDelay = delay_ - early;
            delay_ = lineDelay + analog_.lag();
        }
    }
    const uint64_t lineBytes =
        static_cast<uint64_t>(slots_.size()) * static_cast<uint64_t>(lineDelay) * static_cast<uint64_t>(width_);
    if (total + lineBytes + half > maxStreamBytes ||
        !line_.allocate(static_cast<int32_t>(slots_.size()), lineDelay, width_)) {
        release();
        return ASE_NoMemory;
    }
    if (!leaks_.empty()) {
        scratch_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(half)]);
        if (!scratch_) {
            release();
            return ASE_NoMemory;
        }
    }
    noise_.configure(format.sampleType, format.noiseLsb);
    dropEvery_ = format.dropEvery;
    bufferSize_ = bufferSize;

    for (int32_t i = 0; i < count; ++i) {
        infos[i].buffers[0] = entries_[static_cast<size_t>(i)].halves[0];
        infos[i].buffers[1] = entries_[static_cast<size_t>(i)].halves[1];
    }
    restart();
    return ASE_OK;
}

void LoopbackEngine::buildRoutes(const LoopbackFormat& format, int32_t bufferSize)
{
    const bool misrouted = format.routingAtBufferSize <= 0 || format.routingAtBufferSize == bufferSize;
    crosstalk_.configure(format.sampleType, misrouted ? format.crosstalkDb : 0.0);
    // Only outputs some input hears take a delay line slot: a loop no input
    // closes costs no memory.
    auto slotOf = [this](const Entry* output) {
        for (const Slot& slot : slots_) {
            if (slot.output == output)
                return slot.slot;
        }
        slots_.push_back(Slot{output, static_cast<int32_t>(slots_.size())});
        return slots_.back().slot;
    };
    for (const Entry& input : entries_) {
        if (!input.isInput)
            continue;
        int32_t source = input.channel;
        if (misrouted) {
            const size_t channel = static_cast<size_t>(input.channel);
            if (channel < format.inputSources.size())
                source = format.inputSources[channel];
            if (std::find(format.deadInputs.begin(), format.deadInputs.end(), input.channel) !=
                format.deadInputs.end())
                continue;
        }
        for (const Entry& output : entries_) {
            if (output.isInput)
                continue;
            if (output.channel == source)
                routes_.push_back(Route{&input, slotOf(&output)});
            else if (crosstalk_.active())
                leaks_.push_back(Route{&input, slotOf(&output)});
        }
    }
}

void LoopbackEngine::release()
{
    slots_.clear();
    routes_.clear();
    leaks_.clear();
    scratch_.reset();
    entries_.clear();
    line_.release();
    analog_.release();
    memory_.reset();
    bufferSize_ = 0;
    delay_ = 0;
    halvesDone_ = 0;
}

bool LoopbackEngine::hasBuffer(bool isInput, int32_t channel) const
{
    for (const Entry& entry : entries_) {
        if (entry.isInput == isInput && entry.channel == channel)
            return true;
    }
    return false;
}

void LoopbackEngine::restart()
{
    line_.clear();
    analog_.restart();
    halvesDone_ = 0;
}

void LoopbackEngine::beginHalf(int32_t index)
{
    ++halvesDone_;
    const bool dropout = dropEvery_ > 0 && halvesDone_ % dropEvery_ == 0;
    for (const Entry& entry : entries_) {
        if (entry.isInput)
            std::memset(entry.halves[index], 0, halfBytes());
    }
    // The analog loop hears its outputs through a dropout too: only the
    // samples handed to the host are lost, not the cable's state.
    if (!dropout || analog_.active()) {
        for (const Route& route : routes_)
            line_.read(route.slot, route.input->halves[index], bufferSize_);
        for (const Route& leak : leaks_) {
            line_.read(leak.slot, scratch_.get(), bufferSize_);
            crosstalk_.addScaled(leak.input->halves[index], scratch_.get(), bufferSize_);
        }
    }
    if (analog_.active()) {
        for (const Entry& entry : entries_) {
            if (!entry.isInput)
                continue;
            analog_.process(entry.analogIndex, entry.halves[index], bufferSize_);
            if (dropout)
                std::memset(entry.halves[index], 0, halfBytes());
        }
    }
    if (noise_.active() && !dropout) {
        for (const Entry& entry : entries_) {
            if (entry.isInput)
                noise_.addTo(entry.halves[index], bufferSize_);
        }
    }
}

void LoopbackEngine::endHalf(int32_t index)
{
    for (const Slot& slot : slots_)
        line_.write(slot.slot, slot.output->halves[index], bufferSize_);
    line_.advance(bufferSize_);
}
