#include "bridge_buffers.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "sample_conversion.h"

ASIOError BridgeBuffers::create(ASIOSampleType sampleType, int32_t outputs, int32_t inputs, ASIOBufferInfo* infos,
                                int32_t count, int32_t frames)
{
    if (created())
        return ASE_InvalidMode;
    if (infos == nullptr || count <= 0 || frames <= 0 || outputs < 0 || inputs < 0)
        return ASE_InvalidParameter;
    std::vector<Halves> outputHalves(static_cast<size_t>(outputs), Halves{nullptr, nullptr});
    std::vector<Halves> inputHalves(static_cast<size_t>(inputs), Halves{nullptr, nullptr});
    std::vector<bool> outputAsked(outputHalves.size(), false);
    std::vector<bool> inputAsked(inputHalves.size(), false);
    for (int32_t i = 0; i < count; ++i) {
        std::vector<bool>& asked = infos[i].isInput != ASIOFalse ? inputAsked : outputAsked;
        const int32_t channel = infos[i].channelNum;
        // Two entries for one channel would hand the host the same memory twice.
        if (channel < 0 || channel >= static_cast<int32_t>(asked.size()) || asked[static_cast<size_t>(channel)])
            return ASE_InvalidParameter;
        asked[static_cast<size_t>(channel)] = true;
    }

    const size_t words = static_cast<size_t>(count) * 2 * static_cast<size_t>(frames);
    std::vector<uint32_t> storage;
    try {
        storage.assign(words, 0);
    } catch (const std::bad_alloc&) {
        return ASE_NoMemory;
    }
    uint32_t* next = storage.data();
    for (int32_t i = 0; i < count; ++i) {
        Halves& halves = (infos[i].isInput != ASIOFalse ? inputHalves : outputHalves)
            [static_cast<size_t>(infos[i].channelNum)];
        for (int h = 0; h < 2; ++h) {
            halves[static_cast<size_t>(h)] = next;
            infos[i].buffers[h] = next;
            next += frames;
        }
    }

    sampleType_ = sampleType;
    frames_ = frames;
    storage_ = std::move(storage);
    outputHalves_ = std::move(outputHalves);
    inputHalves_ = std::move(inputHalves);
    return ASE_OK;
}

void BridgeBuffers::release()
{
    frames_ = 0;
    storage_ = {};
    outputHalves_.clear();
    inputHalves_.clear();
}

void BridgeBuffers::clear() { std::fill(storage_.begin(), storage_.end(), 0u); }

bool BridgeBuffers::hasBuffer(bool isInput, int32_t channel) const
{
    const std::vector<Halves>& halves = isInput ? inputHalves_ : outputHalves_;
    return channel >= 0 && channel < static_cast<int32_t>(halves.size()) &&
           halves[static_cast<size_t>(channel)][0] != nullptr;
}

void BridgeBuffers::readInputs(const float* const* ports, int32_t half)
{
    const size_t frames = static_cast<size_t>(frames_);
    for (size_t k = 0; k < inputHalves_.size(); ++k) {
        void* target = inputHalves_[k][static_cast<size_t>(half)];
        if (target == nullptr)
            continue;
        if (sampleType_ == ASIOSTFloat32LSB)
            std::memcpy(target, ports[k], frames * sizeof(float));
        else
            floatToInt32(ports[k], static_cast<int32_t*>(target), frames);
    }
}

void BridgeBuffers::writeOutputs(float* const* ports, int32_t half) const
{
    const size_t frames = static_cast<size_t>(frames_);
    for (size_t k = 0; k < outputHalves_.size(); ++k) {
        const void* source = outputHalves_[k][static_cast<size_t>(half)];
        if (source == nullptr)
            std::memset(ports[k], 0, frames * sizeof(float));
        else if (sampleType_ == ASIOSTFloat32LSB)
            std::memcpy(ports[k], source, frames * sizeof(float));
        else
            int32ToFloat(static_cast<const int32_t*>(source), ports[k], frames);
    }
}
