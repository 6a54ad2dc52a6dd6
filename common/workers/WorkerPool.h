#pragma once
// A small pool of standard threads behind the engine's parallel-worker hook ('prlH'): once
// registered in a context, every transform created there afterwards splits large conversions by
// lines (or, for one long chunky line, by pixels) over the pool and the calling thread. Plain C++,
// shared by the application and the command-line tool.

#include <krm.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace prismet {

class WorkerPool {
public:
    // threads counts the caller too: a pool of 1 runs everything on the calling thread.
    explicit WorkerPool(unsigned threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    unsigned threads() const { return unsigned(workers_.size()) + 1; }

    // Runs task(0) .. task(count - 1) on the pool and the calling thread and returns when all are
    // done. The caller claims parts too, so calls from inside a task cannot starve.
    void run(unsigned count, const std::function<void(unsigned)>& task);

    // Converts a rectangle with the transform's worker, split over the pool.
    void convert(krmTransform transform, const void* in, void* out, krmUInt32Number pixelsPerLine,
                 krmUInt32Number lineCount, const krmStride& stride);

private:
    struct Job;
    void workerLoop();
    bool claim(Job* job, unsigned* index);  // with mutex_ held
    static void finish(Job* job);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job*> queue_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

// Registers a process-wide pool of `threads` threads (0: one per core) as the parallel-worker
// plug-in of a context (null: the global context). The first call fixes the pool; it lives to the
// end of the process. Returns false when the engine refuses the registration.
bool registerParallelWorkers(krmContext context, unsigned threads = 0);

}  // namespace prismet
