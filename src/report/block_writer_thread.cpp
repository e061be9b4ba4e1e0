#include "report/block_writer_thread.h"

#include <cerrno>
#include <new>
#include <system_error>

BlockWriterThread::~BlockWriterThread() { finish(); }

bool BlockWriterThread::start(std::FILE* file, size_t blockBytes)
{
    storage_.reset(new (std::nothrow) char[blockBytes * blockCount]);
    if (!storage_) return false;
    file_ = file;
    for (int k = 0; k < blockCount; ++k) free_[k] = storage_.get() + blockBytes * static_cast<size_t>(k);
    freeCount_ = blockCount;
    try {
        thread_ = std::thread(&BlockWriterThread::run, this);
    } catch (const std::system_error&) {
        storage_.reset();
        return false;
    }
    return true;
}

char* BlockWriterThread::freeBlock()
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return freeCount_ > 0; });
    return free_[--freeCount_];
}

void BlockWriterThread::submit(char* block, size_t bytes)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_[(queueFirst_ + queueCount_) % blockCount] = Pending{block, bytes};
        ++queueCount_;
    }
    changed_.notify_all();
}

int BlockWriterThread::finish()
{
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    return error_;
}

void BlockWriterThread::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return queueCount_ > 0 || stopping_; });
        if (queueCount_ == 0) return;
        const Pending next = queue_[queueFirst_];
        queueFirst_ = (queueFirst_ + 1) % blockCount;
        --queueCount_;
        const bool write = error_ == 0;
        lock.unlock();
        int failure = 0;
        if (write) {
            errno = 0;
            if (std::fwrite(next.block, 1, next.bytes, file_) != next.bytes) failure = errno != 0 ? errno : EIO;
        }
        lock.lock();
        if (failure != 0 && error_ == 0) error_ = failure;
        free_[freeCount_++] = next.block;
        changed_.notify_all();
    }
}
