// Allocation of sample storage (recordings and the test signal).
//
// Every large block of samples goes through these functions so that a
// failed allocation is an answer (null) rather than an exception or a
// crash, and so that tests can make allocations fail on purpose.
#pragma once

#include <cstddef>
#include <cstdint>

// Null when the memory cannot be had. The contents are not cleared.
void* allocateSampleMemory(uint64_t bytes);
// Like realloc: on failure the old block is left as it was.
void* reallocateSampleMemory(void* block, uint64_t bytes);
void releaseSampleMemory(void* block);

// Makes every request for more than `bytes` fail; 0 lifts the limit.
// For tests that show what happens when memory runs out.
void setSampleMemoryLimit(uint64_t bytes);
