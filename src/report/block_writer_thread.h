// Hands filled blocks of text to a thread of its own that writes them to a
// file in the order given, so that formatting the next block and the
// system's copying of the last one overlap. For the dump files, whose
// writing is otherwise formatting time plus disk time.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

class BlockWriterThread {
public:
    BlockWriterThread() = default;
    ~BlockWriterThread();
    BlockWriterThread(const BlockWriterThread&) = delete;
    BlockWriterThread& operator=(const BlockWriterThread&) = delete;

    // False when the blocks or the thread cannot be had; the caller then
    // writes by itself.
    bool start(std::FILE* file, size_t blockBytes);

    // A block free for filling, waiting for the thread to give one back
    // when all are in flight.
    char* freeBlock();
    // Queues `bytes` bytes of a block from freeBlock() for writing.
    void submit(char* block, size_t bytes);
    // Waits until everything queued is written and ends the thread. The
    // errno of the first failed write, or 0.
    int finish();

    // Enough to keep the thread busy while one block is being filled.
    static constexpr int blockCount = 4;

private:
    void run();

    struct Pending {
        char* block;
        size_t bytes;
    };

    std::FILE* file_ = nullptr;
    std::unique_ptr<char[]> storage_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    // Guarded by mutex_.
    char* free_[blockCount] = {};
    int freeCount_ = 0;
    Pending queue_[blockCount] = {};
    int queueFirst_ = 0;
    int queueCount_ = 0;
    bool stopping_ = false;
    int error_ = 0;
};
