#include "window/proofing/ImageLoading.h"

#include "window/widgets/FloatingGauge.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

// Shared by the interface and the decoding thread, which may outlive the call after a Cancel.
struct DecodeJob {
    std::atomic<int> percent{-1};  // -1 until the decoder reports
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    DecodeResult result;
};

// Shorter decodes finish without a gauge flashing up.
constexpr qint64 kGaugeDelayMs = 150;

}  // namespace

DecodeResult decodeWithGauge(const QByteArray& bytes, const QString& shownName, QWidget* parent)
{
    // The gauge keeps events flowing: a second file must not start while one is decoding.
    static bool busy = false;
    if (busy) {
        DecodeResult none;
        none.cancelled = true;
        return none;
    }
    busy = true;
    struct Release {
        ~Release() { busy = false; }
    } release;

    auto job = std::make_shared<DecodeJob>();
    std::thread worker([job, bytes] {
        job->result = decodeImage(bytes, kDefaultMaxImageBytes, [&job = *job](int percent) {
            job.percent.store(percent, std::memory_order_relaxed);
            return !job.stop.load(std::memory_order_relaxed);
        });
        job->done.store(true, std::memory_order_release);
    });

    QElapsedTimer clock;
    clock.start();
    bool cancelled = false;
    std::unique_ptr<FloatingGauge> gauge;
    const QString text = QCoreApplication::translate("ProofingWidget", "Loading %1").arg(shownName);
    while (!job->done.load(std::memory_order_acquire)) {
        if (!gauge && clock.elapsed() >= kGaugeDelayMs) {
            gauge = std::make_unique<FloatingGauge>(&cancelled, parent);
            gauge->setWindowModality(Qt::ApplicationModal);
            gauge->show();
        }
        if (gauge) {
            const int percent = job->percent.load(std::memory_order_relaxed);
            const bool stop = percent < 0 ? gauge->set_busy(text) : gauge->set_progress(text, percent);
            if (stop) {
                job->stop.store(true, std::memory_order_relaxed);
                worker.detach();
                gauge->hide();
                DecodeResult none;
                none.cancelled = true;
                none.error = QStringLiteral("cancelled");
                return none;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(gauge ? 15 : 2));
    }
    worker.join();
    if (gauge)
        gauge->hide();
    return std::move(job->result);
}
