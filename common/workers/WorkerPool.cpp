#include "common/workers/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <memory>

namespace prismet {

namespace {

// Below this many pixels a conversion stays on the calling thread: waking a thread costs more.
constexpr krmUInt64Number kMinPixelsToSplit = 32768;

thread_local bool tInsidePool = false;

krmUInt32Number BytesPerPixel(krmUInt32Number fmt)
{
    const krmUInt32Number bytes = krmT_BYTES(fmt) == 0 ? 8 : krmT_BYTES(fmt);
    return (krmT_CHANNELS(fmt) + krmT_EXTRA(fmt)) * bytes;
}

}  // namespace

struct WorkerPool::Job {
    const std::function<void(unsigned)>* task;
    unsigned count;
    unsigned next = 0;  // guarded by the pool's mutex
    std::mutex mutex;
    std::condition_variable finished;
    unsigned done = 0;  // guarded by mutex
};

WorkerPool::WorkerPool(unsigned threads)
{
    for (unsigned i = 1; i < threads; i++) workers_.emplace_back([this] { workerLoop(); });
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
}

bool WorkerPool::claim(Job* job, unsigned* index)
{
    if (job->next >= job->count) return false;
    *index = job->next++;
    // The last part is handed out: no thread may find the job in the queue any more.
    if (job->next == job->count) queue_.erase(std::find(queue_.begin(), queue_.end(), job));
    return true;
}

void WorkerPool::finish(Job* job)
{
    std::lock_guard<std::mutex> lock(job->mutex);
    if (++job->done == job->count) job->finished.notify_all();
}

void WorkerPool::workerLoop()
{
    tInsidePool = true;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping
        Job* job = queue_.front();
        unsigned index;
        if (!claim(job, &index)) continue;
        lock.unlock();
        (*job->task)(index);
        finish(job);
        lock.lock();
    }
}

void WorkerPool::run(unsigned count, const std::function<void(unsigned)>& task)
{
    if (count == 0) return;
    if (workers_.empty() || count == 1) {
        for (unsigned i = 0; i < count; i++) task(i);
        return;
    }
    Job job;
    job.task = &task;
    job.count = count;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(&job);
    }
    wake_.notify_all();
    for (;;) {
        unsigned index;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!claim(&job, &index)) break;
        }
        task(index);
        finish(&job);
    }
    std::unique_lock<std::mutex> lock(job.mutex);
    job.finished.wait(lock, [&job] { return job.done == job.count; });
}

void WorkerPool::convert(krmTransform transform, const void* in, void* out, krmUInt32Number pixelsPerLine,
                         krmUInt32Number lineCount, const krmStride& stride)
{
    const krmTransformWorkerFn worker = krmGetTransformWorker(transform);
    unsigned parts = threads();
    if (const krmInt32Number most = krmGetTransformMaxWorkers(transform); most > 0)
        parts = std::min(parts, unsigned(most));
    const krmUInt64Number pixels = krmUInt64Number(pixelsPerLine) * lineCount;
    const krmUInt32Number inFormat = krmGetTransformInputFormat(transform);
    const krmUInt32Number outFormat = krmGetTransformOutputFormat(transform);
    const bool splitLines = lineCount >= 2;
    // One line can be cut into runs of pixels only when the samples of a pixel lie together.
    const bool splitPixels = !splitLines && !krmT_PLANAR(inFormat) && !krmT_PLANAR(outFormat);
    if (tInsidePool || parts < 2 || pixels < kMinPixelsToSplit || (!splitLines && !splitPixels)) {
        worker(transform, in, out, pixelsPerLine, lineCount, &stride);
        return;
    }

    const auto* src = static_cast<const krmUInt8Number*>(in);
    auto* dst = static_cast<krmUInt8Number*>(out);
    const krmUInt32Number units = splitLines ? lineCount : pixelsPerLine;
    parts = std::min(parts, units);
    const krmUInt32Number inStep = splitLines ? stride.BytesPerLineIn : BytesPerPixel(inFormat);
    const krmUInt32Number outStep = splitLines ? stride.BytesPerLineOut : BytesPerPixel(outFormat);
    run(parts, [&](unsigned part) {
        const krmUInt32Number first = krmUInt32Number(krmUInt64Number(units) * part / parts);
        const krmUInt32Number last = krmUInt32Number(krmUInt64Number(units) * (part + 1) / parts);
        const krmUInt8Number* partIn = src + size_t(first) * inStep;
        krmUInt8Number* partOut = dst + size_t(first) * outStep;
        if (splitLines)
            worker(transform, partIn, partOut, pixelsPerLine, last - first, &stride);
        else
            worker(transform, partIn, partOut, last - first, 1, &stride);
    });
}

namespace {

std::atomic<WorkerPool*> gPool{nullptr};

void Schedule(void* transform, const void* in, void* out, krmUInt32Number pixelsPerLine, krmUInt32Number lineCount,
              const void* stride)
{
    gPool.load()->convert(static_cast<krmTransform>(transform), in, out, pixelsPerLine, lineCount,
                          *static_cast<const krmStride*>(stride));
}

}  // namespace

bool registerParallelWorkers(krmContext context, unsigned threads)
{
    static std::once_flag once;
    static std::unique_ptr<WorkerPool> pool;
    static krmPluginParalellization record = {};
    std::call_once(once, [threads] {
        const unsigned n = threads ? threads : std::max(1u, std::thread::hardware_concurrency());
        pool = std::make_unique<WorkerPool>(n);
        gPool.store(pool.get());
        record.base.Magic = krmPluginMagicNumber;
        record.base.ExpectedVersion = 2200;
        record.base.Type = krmPluginParalellizationSig;
        record.base.Next = nullptr;
        record.MaxWorkers = krmInt32Number(n);
        record.WorkerFlags = 0;
        record.SchedulerFn = Schedule;
    });
    return context ? krmRegisterPluginInContext(context, &record) : krmRegisterPlugin(&record);
}

}  // namespace prismet
