#pragma once

// One finding of the conformance check, its severities, and the text report that the findings
// dialog copies and prismet-cli prints.

#include <QList>
#include <QString>
#include <QStringList>

enum AuditSeverity : int {
    AuditInformation = 0,
    AuditWarning = 1,
    AuditError = 2,
    AuditFatal = 3,
};

struct AuditFinding {
    qint32 qaNumber = 0;  // the test's QA number; 0 for the cancellation notice
    qint32 severity = AuditInformation;
    QString title;
    QString message;  // may be empty
    QString related;  // related tag or profile section, may be empty
    QString code;     // stable identifier of the rule, listed in cli/README.md

    bool operator==(const AuditFinding&) const = default;
};

// "Information", "Warning", "Error", "Fatal" (translated).
QString auditSeverityName(int severity);

// Highest severity first; findings of equal severity keep their order.
QList<AuditFinding> sortedBySeverity(QList<AuditFinding> findings);

// Every rule's code, in the order cli/README.md lists them.
const QStringList& auditRuleCodes();

// Counts per severity, indexed by AuditSeverity.
struct AuditCounts {
    int count[4] = {0, 0, 0, 0};
    int total() const { return count[0] + count[1] + count[2] + count[3]; }
};
AuditCounts countBySeverity(const QList<AuditFinding>& findings);

// The plain-text report: "Profile check", the path, then each finding as "[Severity] Title",
// its related section and its message, separated by empty lines.
QString auditReportText(const QString& path, const QList<AuditFinding>& findings);
