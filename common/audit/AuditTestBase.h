#pragma once

// The base of every conformance test and the process-wide registry the tests join before main.

#include "common/audit/AuditFinding.h"

#include <krm.h>

#include <QList>
#include <QString>

#include <vector>

class AuditTestBase {
public:
    virtual ~AuditTestBase() = default;
    virtual int qaNumber() const = 0;
    virtual QString testName() const = 0;
    // Whether the test means anything for this profile (opened in the test's own context).
    virtual bool appliesTo(krmProfile profile) = 0;
    virtual void runTest(krmProfile profile) = 0;
    virtual void clearFindings() { findings_.clear(); }

    // `code` is the rule's stable identifier (cli/README.md lists them).
    void addFinding(const char* code, int severity, const QString& title, const QString& message,
                    const QString& related);
    const QList<AuditFinding>& findings() const { return findings_; }
    qsizetype findingCount() const { return findings_.size(); }

    // The tag being read while the engine may complain: its messages then name the tag and where
    // its data starts. An empty signature (0) means none.
    void setCurrentTag(krmTagSignature signature, krmUInt32Number offset);
    krmTagSignature currentTag() const { return currentTag_; }
    krmUInt32Number currentOffset() const { return currentOffset_; }

private:
    QList<AuditFinding> findings_;
    krmTagSignature currentTag_ = 0;
    krmUInt32Number currentOffset_ = 0;
};

// The registered tests in running order.
const std::vector<AuditTestBase*>& auditTestRegistry();

// A static object of this type registers a test. Static initialisers of separate files run in
// no fixed order, so each test states its place in the running order.
struct AuditTestRegistration {
    AuditTestRegistration(AuditTestBase* test, int position);
};
