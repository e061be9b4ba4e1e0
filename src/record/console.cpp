#include "record/console.h"

#include <atomic>
#include <iostream>

namespace {
std::atomic<std::ostream*> outStream{nullptr};
std::atomic<std::ostream*> errStream{nullptr};
}  // namespace

namespace console {

std::ostream& out()
{
    std::ostream* s = outStream.load(std::memory_order_acquire);
    return s != nullptr ? *s : std::cout;
}

std::ostream& err()
{
    std::ostream* s = errStream.load(std::memory_order_acquire);
    return s != nullptr ? *s : std::cerr;
}

void redirectOut(std::ostream* stream) { outStream.store(stream, std::memory_order_release); }
void redirectErr(std::ostream* stream) { errStream.store(stream, std::memory_order_release); }

}  // namespace console
