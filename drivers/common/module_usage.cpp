#include "module_usage.h"

#include <atomic>

namespace {

std::atomic<long> users{0};

}  // namespace

namespace module_usage {

void acquire() { users.fetch_add(1); }
void release() { users.fetch_sub(1); }
bool inUse() { return users.load() != 0; }

}  // namespace module_usage
