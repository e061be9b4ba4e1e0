#include "delay_line.h"

#include <cstring>
#include <limits>
#include <new>

bool DelayLine::allocate(int32_t channels, int32_t delay, int32_t sampleWidth)
{
    release();
    if (channels < 0 || delay < 1 || sampleWidth < 1)
        return false;
    const uint64_t bytes = static_cast<uint64_t>(channels) * static_cast<uint64_t>(delay) *
                           static_cast<uint64_t>(sampleWidth);
    if (bytes > std::numeric_limits<size_t>::max())
        return false;
    if (bytes > 0) {
        samples_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(bytes)]);
        if (!samples_)
            return false;
    }
    channels_ = static_cast<size_t>(channels);
    delay_ = static_cast<size_t>(delay);
    width_ = static_cast<size_t>(sampleWidth);
    clear();
    return true;
}

void DelayLine::release()
{
    samples_.reset();
    channels_ = delay_ = width_ = position_ = 0;
}

void DelayLine::clear()
{
    if (samples_)
        std::memset(samples_.get(), 0, channels_ * delay_ * width_);
    position_ = 0;
}

uint8_t* DelayLine::channelStart(int32_t channel) const
{
    return samples_.get() + static_cast<size_t>(channel) * delay_ * width_;
}

void DelayLine::read(int32_t channel, uint8_t* destination, int32_t count) const
{
    const size_t total = static_cast<size_t>(count);
    const size_t first = total < delay_ - position_ ? total : delay_ - position_;
    const uint8_t* start = channelStart(channel);
    std::memcpy(destination, start + position_ * width_, first * width_);
    std::memcpy(destination + first * width_, start, (total - first) * width_);
}

void DelayLine::write(int32_t channel, const uint8_t* source, int32_t count)
{
    const size_t total = static_cast<size_t>(count);
    const size_t first = total < delay_ - position_ ? total : delay_ - position_;
    uint8_t* start = channelStart(channel);
    std::memcpy(start + position_ * width_, source, first * width_);
    std::memcpy(start, source + first * width_, (total - first) * width_);
}

void DelayLine::advance(int32_t count)
{
    position_ = (position_ + static_cast<size_t>(count)) % delay_;
}
