#include "callback_gate.h"

#include <chrono>
#include <thread>

void CallbackGate::close()
{
    open_.store(false);
    // A callback inside is a buffer switch or a host message: it finishes
    // on its own, whatever the server does meanwhile.
    while (inside_.load() != 0)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}
