#include "common/audit/AuditFinding.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>

QString auditSeverityName(int severity)
{
    switch (severity) {
    case AuditInformation: return QCoreApplication::translate("AuditSeverity", "Information");
    case AuditWarning: return QCoreApplication::translate("AuditSeverity", "Warning");
    case AuditError: return QCoreApplication::translate("AuditSeverity", "Error");
    default: return QCoreApplication::translate("AuditSeverity", "Fatal");
    }
}

QList<AuditFinding> sortedBySeverity(QList<AuditFinding> findings)
{
    std::stable_sort(findings.begin(), findings.end(),
                     [](const AuditFinding& a, const AuditFinding& b) { return a.severity > b.severity; });
    return findings;
}

QString auditReportText(const QString& path, const QList<AuditFinding>& findings)
{
    QStringList lines;
    lines << QCoreApplication::translate("ProfileIssuesDialog", "Profile check") << path;
    if (findings.isEmpty())
        lines << QCoreApplication::translate("ProfileIssuesDialog", "No issues reported.");
    for (const AuditFinding& f : findings) {
        lines << QString() << QStringLiteral("[%1] %2").arg(auditSeverityName(f.severity), f.title);
        if (!f.related.isEmpty())
            lines << QCoreApplication::translate("ProfileIssuesDialog", "Related tag or section: %1").arg(f.related);
        lines << f.message;
    }
    return lines.join(QLatin1Char('\n'));
}
