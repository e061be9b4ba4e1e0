#include "record/sample_memory.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<uint64_t> requestLimit{0};

bool refused(uint64_t bytes)
{
    const uint64_t limit = requestLimit.load(std::memory_order_relaxed);
    if (limit != 0 && bytes > limit) return true;
    // A 32-bit process cannot even express the size.
    return bytes > static_cast<uint64_t>(SIZE_MAX);
}
}  // namespace

void* allocateSampleMemory(uint64_t bytes)
{
    if (refused(bytes)) return nullptr;
    return std::malloc(bytes == 0 ? 1 : static_cast<size_t>(bytes));
}

void* reallocateSampleMemory(void* block, uint64_t bytes)
{
    if (refused(bytes)) return nullptr;
    return std::realloc(block, bytes == 0 ? 1 : static_cast<size_t>(bytes));
}

void releaseSampleMemory(void* block) { std::free(block); }

void setSampleMemoryLimit(uint64_t bytes) { requestLimit.store(bytes, std::memory_order_relaxed); }
