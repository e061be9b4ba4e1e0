#include "loopback_engine.h"

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
    for (const Entry& input : entries_) {
        if (!input.isInput)
            continue;
        for (const Entry& output : entries_) {
            if (!output.isInput && output.channel == input.channel)
                loops_.push_back(Loop{&input, &output, static_cast<int32_t>(loops_.size())});
        }
    }

    // The input half is filled before the host writes the output half of
    // the same switch, so nothing can come back sooner than one half later.
    delay_ = format.roundTrip > bufferSize ? format.roundTrip : bufferSize;
    const uint64_t lineBytes =
        static_cast<uint64_t>(loops_.size()) * static_cast<uint64_t>(delay_) * static_cast<uint64_t>(width_);
    if (total + lineBytes > maxStreamBytes ||
        !line_.allocate(static_cast<int32_t>(loops_.size()), delay_, width_)) {
        release();
        return ASE_NoMemory;
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

void LoopbackEngine::release()
{
    loops_.clear();
    entries_.clear();
    line_.release();
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
    if (!dropout) {
        for (const Loop& loop : loops_)
            line_.read(loop.slot, loop.input->halves[index], bufferSize_);
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
    for (const Loop& loop : loops_)
        line_.write(loop.slot, loop.output->halves[index], bufferSize_);
    line_.advance(bufferSize_);
}
