#include "bounded_call.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/module_usage.h"

namespace {

struct Completion {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
};

}  // namespace

bool callWithin(std::chrono::milliseconds limit, std::function<void()> work)
{
    auto completion = std::make_shared<Completion>();
    module_usage::acquire();
    try {
        std::thread([completion, work = std::move(work)] {
            work();
            {
                std::lock_guard<std::mutex> guard(completion->lock);
                completion->done = true;
            }
            completion->changed.notify_all();
            module_usage::release();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the call is not made, as if it had not
        // ended in time.
        module_usage::release();
        return false;
    }
    std::unique_lock<std::mutex> guard(completion->lock);
    return completion->changed.wait_for(guard, limit, [&] { return completion->done; });
}
