#include "control/sample_recording.h"

#include <cstring>

#include "control/sample_memory.h"

SampleRecording::~SampleRecording() { releaseSampleMemory(samples_); }

bool SampleRecording::reserve(uint64_t count)
{
    if (count <= capacity_) return true;
    if (count > SIZE_MAX / sizeof(int32_t)) return false;
    void* grown = reallocateSampleMemory(samples_, count * sizeof(int32_t));
    if (grown == nullptr) return false;
    samples_ = static_cast<int32_t*>(grown);
    capacity_ = static_cast<size_t>(count);
    return true;
}

int32_t* SampleRecording::extend(size_t count)
{
    if (stopped_) {
        lost_ += count;
        return nullptr;
    }
    if (count > capacity_ - size_) {
        const uint64_t needed = static_cast<uint64_t>(size_) + count;
        uint64_t target = static_cast<uint64_t>(capacity_) * 2;
        if (target < needed) target = needed;
        if (!reserve(target) && !reserve(needed)) {
            stopped_ = true;
            lost_ += count;
            return nullptr;
        }
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
