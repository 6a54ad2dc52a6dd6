#include "window/audit/ProfileChecks.h"

#include "window/widgets/FloatingGauge.h"
#include "common/audit/AuditRunner.h"
#include "common/audit/AuditTestBase.h"

#include <QApplication>

namespace {

class GaugeProgress : public AuditProgress {
public:
    explicit GaugeProgress(FloatingGauge& gauge) : gauge_(gauge) {}
    bool set_progress(const QString& text, int percent) override { return gauge_.set_progress(text, percent); }

private:
    FloatingGauge& gauge_;
};

} // namespace

QList<AuditFinding> runProfileChecks(const QByteArray& path)
{
    if (auditTestRegistry().empty())
        return {};
    bool cancelled = false;
    FloatingGauge gauge(&cancelled, QApplication::activeWindow());
    gauge.setWindowModality(Qt::ApplicationModal);
    gauge.show();
    GaugeProgress progress(gauge);
    const AuditRun run = runAuditTests(path, &progress);
    // close() would count as Cancel and leave the gauge up.
    gauge.hide();
    return run.findings;
}
