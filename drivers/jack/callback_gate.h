// Lets a callback on a foreign thread run only while the gate is open, and
// lets the owner close the gate and then know that no callback is inside
// any more. Entering and leaving are two atomic operations, safe on a
// real-time thread; closing waits (sleeping) on the owner's thread.
#pragma once

#include <atomic>

class CallbackGate {
public:
    void open() { open_.store(true); }
    // After it returns no caller is inside and none gets in until open().
    void close();
    bool isOpen() const { return open_.load(); }

    // True: the caller is inside and must leave(). False: the gate is shut.
    bool enter()
    {
        inside_.fetch_add(1);
        if (open_.load())
            return true;
        inside_.fetch_sub(1);
        return false;
    }
    void leave() { inside_.fetch_sub(1); }

private:
    // Sequentially consistent on purpose: a caller that saw the gate open
    // has its presence counted before close() reads the count.
    std::atomic<bool> open_{false};
    std::atomic<int> inside_{0};
};

// Enters a gate for one scope.
class GatePass {
public:
    explicit GatePass(CallbackGate& gate) : gate_(gate), inside_(gate.enter()) {}
    GatePass(const GatePass&) = delete;
    GatePass& operator=(const GatePass&) = delete;
    ~GatePass()
    {
        if (inside_)
            gate_.leave();
    }
    explicit operator bool() const { return inside_; }

private:
    CallbackGate& gate_;
    bool inside_;
};
