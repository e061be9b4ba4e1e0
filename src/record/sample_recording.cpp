#include "record/sample_recording.h"

#include <cstring>

#include "record/sample_memory.h"

namespace {

// The smallest page the systems we run on map in at a time.
constexpr size_t pageBytes = 4096;

// Writes one sample in every page of the block. Fresh memory from the
// system is mapped in on its first write; a run's reservation written for
// the first time by the audio thread would cost it one trip through the
// system every page, which at high rates and many channels takes a large
// share of the time a buffer half gives.
void touchPages(int32_t* from, size_t samples)
{
    constexpr size_t stride = pageBytes / sizeof(int32_t);
    for (size_t i = 0; i < samples; i += stride) from[i] = 0;
    if (samples > 0) from[samples - 1] = 0;
}

}  // namespace

SampleRecording::~SampleRecording() { releaseSampleMemory(samples_); }

bool SampleRecording::grow(uint64_t count)
{
    if (count <= capacity_) return true;
    if (count > SIZE_MAX / sizeof(int32_t)) return false;
    void* grown = reallocateSampleMemory(samples_, count * sizeof(int32_t));
    if (grown == nullptr) return false;
    samples_ = static_cast<int32_t*>(grown);
    capacity_ = static_cast<size_t>(count);
    return true;
}

bool SampleRecording::reserve(uint64_t count)
{
    const size_t before = capacity_;
    if (!grow(count)) return false;
    touchPages(samples_ + before, capacity_ - before);
    return true;
}

int32_t* SampleRecording::extendBeyondReservation(size_t count)
{
    if (stopped_) {
        lost_ += count;
        return nullptr;
    }
    // Growth on the audio thread: the pages are left to be mapped in as
    // they are filled, spread over the calls to come.
    const uint64_t needed = static_cast<uint64_t>(size_) + count;
    uint64_t target = static_cast<uint64_t>(capacity_) * 2;
    if (target < needed) target = needed;
    if (!grow(target) && !grow(needed)) {
        stopped_ = true;
        lost_ += count;
        return nullptr;
    }
    int32_t* room = samples_ + size_;
    size_ += count;
    return room;
}

void SampleRecording::append(const int32_t* values, size_t count)
{
    if (count == 0) return;
    int32_t* room = extend(count);
    if (room != nullptr) std::memcpy(room, values, count * sizeof(int32_t));
}

void SampleRecording::clear()
{
    size_ = 0;
    lost_ = 0;
    stopped_ = false;
}

void SampleRecording::release()
{
    releaseSampleMemory(samples_);
    samples_ = nullptr;
    size_ = 0;
    capacity_ = 0;
    lost_ = 0;
    stopped_ = false;
}
