#pragma once

// Runs the registered tests over one profile file, each in a strict engine context of its own
// whose error handler turns engine messages into findings. Needs only QtCore: the window shows
// the progress in its gauge, prismet-cli runs without one.

#include "common/audit/AuditFinding.h"

#include <krm.h>

#include <QByteArray>
#include <QList>

// Where the runner reports its progress; the only thing between the runner and a widget.
class AuditProgress {
public:
    virtual ~AuditProgress() = default;
    // Shows the text and the percentage; true when the user asked to cancel.
    virtual bool set_progress(const QString& text, int percent) = 0;
};

struct AuditRun {
    QList<AuditFinding> findings;  // in test order, each test's in the order found
    bool opened = false;           // whether any test could open the file
    bool cancelled = false;
};

// `path` is the file name as 8-bit text (QFile::encodeName). Without `progress` every test runs.
AuditRun runAuditTests(const QByteArray& path, AuditProgress* progress = nullptr);

// Installed in each test's context: the engine's message becomes an "Issue found" finding of the
// test named by the context's user data.
void auditErrorHandler(krmContext context, krmUInt32Number code, const char* text);
