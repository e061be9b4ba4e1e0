// One channel's recording: a growable array of signed 32-bit samples.
//
// Unlike std::vector it never throws: growth that cannot be had is an
// answer. The audio thread appends by asking for room for a whole block
// and writing into it, so a run that stays within its reservation costs no
// allocation. A recording that could not grow stops recording for the rest
// of the run and counts what it missed, so the run goes on and the loss is
// reported afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

class SampleRecording {
public:
    SampleRecording() = default;
    ~SampleRecording();
    SampleRecording(const SampleRecording&) = delete;
    SampleRecording& operator=(const SampleRecording&) = delete;

    const int32_t* data() const { return samples_; }
    int32_t* data() { return samples_; }
    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    int32_t operator[](size_t i) const { return samples_[i]; }

    // Grows the capacity to exactly `count` when it is smaller; never
    // shrinks. False when the memory cannot be had (nothing changes then).
    // The new room is touched once, page by page, so that the system maps
    // it in now rather than while the audio thread fills it.
    bool reserve(uint64_t count);

    // Room for `count` more samples at the end, to be written by the
    // caller; the size already includes them. Grows by doubling when the
    // reservation is used up. Null when the recording cannot grow: the
    // samples are counted as lost and the recording stops taking samples
    // until it is cleared. Inline for the common case: the audio thread
    // asks once per channel and block.
    int32_t* extend(size_t count)
    {
        if (stopped_ || count > capacity_ - size_) return extendBeyondReservation(count);
        int32_t* room = samples_ + size_;
        size_ += count;
        return room;
    }

    // Appends `count` samples (one block copy).
    void append(const int32_t* values, size_t count);

    // Length 0, storage kept; recording resumes and the loss count restarts.
    void clear();
    // Gives the storage back.
    void release();

    // Samples that could not be recorded since the last clear().
    uint64_t lostSamples() const { return lost_; }

private:
    bool grow(uint64_t count);
    int32_t* extendBeyondReservation(size_t count);

    int32_t* samples_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    uint64_t lost_ = 0;
    bool stopped_ = false;
};
