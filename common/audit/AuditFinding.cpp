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

const QStringList& auditRuleCodes()
{
    static const QStringList codes = {
        "HDR-CMM-UNLISTED", "HDR-MANUFACTURER-UNLISTED", "HDR-FLAGS", "HDR-ATTRIBUTES", "HDR-INTENT",
        "HDR-ILLUMINANT", "HDR-CREATOR-UNLISTED", "HDR-RESERVED", "HDR-ID-MISMATCH",
        "LUT-LINK", "LUT-CHANNELS", "BLACK-POINT",
        "TAG-MISSING", "TAG-MISSING-INTENT", "TAG-MISSING-GAMUT", "TAG-NOT-APPLICABLE",
        "TAG-PAST-END", "TAG-PAST-SIZE", "TAG-UNREADABLE", "TAG-UNWRITABLE",
        "CHAD-WHITE", "COLORANT-SUM",
        "ENGINE-FILE", "ENGINE-UNSUPPORTED", "ENGINE-ERROR", "TEST-INCOMPLETE", "CHECK-CANCELLED",
    };
    return codes;
}

AuditCounts countBySeverity(const QList<AuditFinding>& findings)
{
    AuditCounts counts;
    for (const AuditFinding& f : findings)
        ++counts.count[qBound(0, f.severity, 3)];
    return counts;
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
        lines << QString() << QStringLiteral("[%1] %2").arg(auditSeverityName(f.severity), f.title)
                                  + (f.code.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(f.code));
        if (!f.related.isEmpty())
            lines << QCoreApplication::translate("ProfileIssuesDialog", "Related tag or section: %1").arg(f.related);
        lines << f.message;
    }
    return lines.join(QLatin1Char('\n'));
}
