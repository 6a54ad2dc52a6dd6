#include "common/audit/AuditRunner.h"

#include "common/audit/AuditTestBase.h"
#include "common/signatures/Signatures.h"

#include <QCoreApplication>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <memory>
#include <type_traits>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("AuditRunner", text);
}

struct ContextDeleter {
    void operator()(void* context) const { krmDeleteContext(static_cast<krmContext>(context)); }
};
struct ProfileCloser {
    void operator()(void* profile) const { krmCloseProfile(static_cast<krmProfile>(profile)); }
};
using ContextPtr = std::unique_ptr<std::remove_pointer_t<krmContext>, ContextDeleter>;
using ProfilePtr = std::unique_ptr<std::remove_pointer_t<krmProfile>, ProfileCloser>;

// One test's step: a fresh context with no registrations (so tags are read strictly), the file
// opened in it, and the test run when it applies. The profile is closed before the context.
bool runOneTest(AuditTestBase* test, const QByteArray& path)
{
    ContextPtr context(krmCreateContext(nullptr, test));
    if (!context)
        throw std::runtime_error("cannot create an engine context");
    krmSetLogErrorHandlerInContext(context.get(), auditErrorHandler);
    ProfilePtr profile(krmOpenProfileFromFileInContext(context.get(), path.constData(), "r"));
    if (!profile)
        return false;
    if (test->appliesTo(profile.get()))
        test->runTest(profile.get());
    return true;
}

} // namespace

void auditErrorHandler(krmContext context, krmUInt32Number code, const char* text)
{
    auto* test = static_cast<AuditTestBase*>(krmGetContextUserData(context));
    if (!test)
        return;
    const int severity = code == krmErrFile ? AuditFatal : code == krmErrUnknownExtension ? AuditWarning : AuditError;
    const char* rule = code == krmErrFile ? "ENGINE-FILE" : code == krmErrUnknownExtension ? "ENGINE-UNSUPPORTED" : "ENGINE-ERROR";
    QString message = QString::fromUtf8(text ? text : "");
    QString related = test->testName();
    // Said while a tag was read: name the tag and where its data starts.
    if (test->currentTag() != 0) {
        related = signatureText(test->currentTag());
        message += tr(" (data at byte %1)").arg(test->currentOffset());
    }
    test->addFinding(rule, severity, tr("Issue found"), message, related);
}

namespace {

// Every test opens the file anew, so what the engine says while opening it comes once per test:
// keep the first. A finding counts as repeated when all but the reporting test agree.
void appendNew(QList<AuditFinding>& all, const QList<AuditFinding>& more)
{
    for (const AuditFinding& f : more) {
        const bool repeated = std::any_of(all.begin(), all.end(), [&](const AuditFinding& seen) {
            return seen.code == f.code && seen.severity == f.severity && seen.title == f.title &&
                   seen.message == f.message &&
                   (seen.related == f.related || f.code.startsWith(QLatin1String("ENGINE-")));
        });
        if (!repeated)
            all.append(f);
    }
}

} // namespace

AuditRun runAuditTests(const QByteArray& path, AuditProgress* progress)
{
    AuditRun run;
    const std::vector<AuditTestBase*>& tests = auditTestRegistry();
    const int n = int(tests.size());
    for (int i = 0; i < n; ++i) {
        AuditTestBase* test = tests[size_t(i)];
        if (progress) {
            const QString text = tr("Checking ICC profile (%1 of %2)\nQA%3: %4")
                                     .arg(i + 1)
                                     .arg(n)
                                     .arg(test->qaNumber())
                                     .arg(test->testName());
            if (progress->set_progress(text, i * 100 / n)) {
                run.cancelled = true;
                break;
            }
        }
        test->clearFindings();
        test->setCurrentTag(0, 0);
        try {
            if (runOneTest(test, path))
                run.opened = true;
        } catch (const std::exception& e) {
            test->addFinding("TEST-INCOMPLETE", AuditFatal, tr("Test could not complete"),
                             QString::fromLocal8Bit(e.what()), test->testName());
        } catch (...) {
            test->addFinding("TEST-INCOMPLETE", AuditFatal, tr("Test could not complete"), QString(), test->testName());
        }
        test->setCurrentTag(0, 0);
        appendNew(run.findings, test->findings());
    }
    if (run.cancelled)
        run.findings.append(AuditFinding{0, AuditInformation, tr("Profile check cancelled"),
                                         tr("The report is incomplete. Only completed checks are included."), QString(),
                                         QStringLiteral("CHECK-CANCELLED")});
    else if (progress && n > 0)
        progress->set_progress(tr("Profile check complete"), 100);
    return run;
}
