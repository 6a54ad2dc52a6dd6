// prismet-cli check: the window's conformance check over files and folders, for batch runs and
// continuous integration.

#include "common/audit/AuditRunner.h"
#include "cli/CliValue.h"
#include "cli/Commands.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QXmlStreamWriter>

#include <algorithm>

namespace {

const char kCheckHelp[] =
    "Usage: prismet-cli check [--json] [--min-severity LEVEL] [--ignore CODE,...] [--junit FILE]\n"
    "                         [--recursive] PROFILE|FOLDER...\n"
    "\n"
    "Runs the conformance check of the inspector window on each profile file (the ICC header,\n"
    "intent channels and linking, required tags, tags integrity, colorimetric plausibility)\n"
    "and prints its findings, highest severity first, as the window's \"Copy report\" does,\n"
    "each with its rule's code, then a count by severity. A FOLDER is checked file by file:\n"
    "every .icc, .icm and .pf file in it, in name order.\n"
    "\n"
    "Options:\n"
    "  --min-severity LEVEL  the lowest severity that fails the check: warning or error\n"
    "                        (default error); every finding is printed whatever the level\n"
    "  --ignore CODE,...     leave out the findings of these rules (codes in cli/README.md);\n"
    "                        may be repeated\n"
    "  --junit FILE          also write a JUnit XML report: one test case per profile, one\n"
    "                        failure per finding at or above the level\n"
    "  --recursive           also check the profiles in the folders' subfolders\n"
    "  --json                one JSON document with one entry per file (layout in\n"
    "                        cli/README.md)\n"
    "  --help                this text\n"
    "\n"
    "Exit status: 0 no file has a finding at or above the level, 3 some file has one,\n"
    "1 a file cannot be opened at all or the output or JUnit file cannot be written (this\n"
    "wins over 3),\n"
    "2 bad usage.\n"
    "\n"
    "Example:\n"
    "  prismet-cli check --recursive --min-severity warning /usr/share/color/icc\n";

// The profiles to check, in the order given; a folder's files sorted by path.
QStringList collectFiles(const QStringList& arguments, bool recursive, CliIO& io)
{
    QStringList files;
    for (const QString& argument : arguments) {
        if (!QFileInfo(argument).isDir()) {
            files << argument;
            continue;
        }
        QStringList found;
        QDirIterator it(argument, {QStringLiteral("*.icc"), QStringLiteral("*.icm"), QStringLiteral("*.pf")},
                        QDir::Files | QDir::Readable,
                        recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
        while (it.hasNext())
            found << it.next();
        std::sort(found.begin(), found.end());
        if (found.isEmpty())
            io.note(QStringLiteral("no profiles in folder '%1'").arg(argument));
        files += found;
    }
    return files;
}

CliValue findingValue(const AuditFinding& f)
{
    CliValue v = CliValue::object();
    v.set(QStringLiteral("code"), f.code);
    v.set(QStringLiteral("qa"), f.qaNumber);
    v.set(QStringLiteral("severity"), auditSeverityName(f.severity));
    v.set(QStringLiteral("title"), f.title);
    v.set(QStringLiteral("message"), f.message);
    v.set(QStringLiteral("related"), f.related);
    return v;
}

struct CheckedFile {
    QString path;
    QString error;
    QList<AuditFinding> findings;
};

// JUnit's common dialect (as CI servers read it): a suite, a test case per profile, a failure
// per finding that fails the check; the findings below the level go to system-out.
bool writeJunit(const QString& path, const QList<CheckedFile>& checked, int threshold, QString& error)
{
    int failures = 0, errors = 0;
    for (const CheckedFile& c : checked) {
        errors += c.error.isEmpty() ? 0 : 1;
        for (const AuditFinding& f : c.findings)
            failures += f.severity >= threshold ? 1 : 0;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = QStringLiteral("cannot write '%1': %2").arg(path, file.errorString());
        return false;
    }
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("prismet-cli check"));
    xml.writeAttribute(QStringLiteral("tests"), QString::number(checked.size()));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("errors"), QString::number(errors));
    for (const CheckedFile& c : checked) {
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), QStringLiteral("check"));
        xml.writeAttribute(QStringLiteral("name"), c.path);
        if (!c.error.isEmpty()) {
            xml.writeStartElement(QStringLiteral("error"));
            xml.writeAttribute(QStringLiteral("message"), c.error);
            xml.writeEndElement();
        }
        QStringList below;
        for (const AuditFinding& f : c.findings) {
            const QString text = QStringLiteral("[%1] %2 (%3)").arg(auditSeverityName(f.severity), f.title, f.code);
            if (f.severity < threshold) {
                below << text;
                continue;
            }
            xml.writeStartElement(QStringLiteral("failure"));
            xml.writeAttribute(QStringLiteral("type"), f.code);
            xml.writeAttribute(QStringLiteral("message"), text);
            xml.writeCharacters(f.related.isEmpty() ? f.message : f.related + QStringLiteral(": ") + f.message);
            xml.writeEndElement();
        }
        if (!below.isEmpty())
            xml.writeTextElement(QStringLiteral("system-out"), below.join(QLatin1Char('\n')));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    if (xml.hasError() || !file.flush()) {
        error = QStringLiteral("cannot write '%1': %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

int runCheck(const QStringList& args, CliIO& io)
{
    CommandOutput output(io, "check", {"minSeverity", "files", "summary"});
    output.setJson(wantsJson(args));
    CliArgs options({QStringLiteral("json"), QStringLiteral("recursive"), QStringLiteral("help")},
                    {QStringLiteral("min-severity"), QStringLiteral("ignore"), QStringLiteral("junit")});
    if (!options.parse(args))
        return output.usage(options.errorText());
    if (options.isSet(QStringLiteral("help"))) {
        io.out += kCheckHelp;
        return kExitOk;
    }
    int threshold = AuditError;
    const QString level = options.isSet(QStringLiteral("min-severity")) ? options.value(QStringLiteral("min-severity"))
                                                                        : QStringLiteral("error");
    if (level == QLatin1String("warning"))
        threshold = AuditWarning;
    else if (level != QLatin1String("error"))
        return output.usage(QStringLiteral("--min-severity takes warning or error, not '%1'").arg(level));
    if (options.positionals().isEmpty())
        return output.usage(QStringLiteral("check needs at least one PROFILE or FOLDER"));
    QSet<QString> ignored;
    for (const QString& value : options.values(QStringLiteral("ignore")))
        for (const QString& code : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QString upper = code.trimmed().toUpper();
            // A mistyped code would silently ignore nothing.
            if (!auditRuleCodes().contains(upper))
                return output.usage(QStringLiteral("--ignore: unknown rule code '%1' (the codes are listed in cli/README.md)")
                                        .arg(code));
            ignored.insert(upper);
        }
    const QString junit = options.value(QStringLiteral("junit"));
    // "--junit --json" would otherwise write the report to a file named "--json".
    if (options.isSet(QStringLiteral("junit")) && (junit.isEmpty() || junit.startsWith(QLatin1Char('-'))))
        return output.usage(QStringLiteral("--junit needs a file name"));
    output.set(QStringLiteral("minSeverity"), level);
    const bool json = options.isSet(QStringLiteral("json"));

    const QStringList files = collectFiles(options.positionals(), options.isSet(QStringLiteral("recursive")), io);
    bool unopened = false;
    bool failed = false;
    CliValue results = CliValue::array();
    QList<CheckedFile> checked;
    AuditCounts counts;
    for (const QString& file : files) {
        const AuditRun run = runAuditTests(QFile::encodeName(file));
        // In the order the window's findings dialog lists them.
        QList<AuditFinding> findings = sortedBySeverity(run.findings);
        findings.removeIf([&](const AuditFinding& f) { return ignored.contains(f.code); });
        const AuditCounts fileCounts = countBySeverity(findings);
        for (int i = 0; i < 4; ++i)
            counts.count[i] += fileCounts.count[i];
        QString error;
        if (!run.opened) {
            unopened = true;
            error = QStringLiteral("cannot open profile '%1'").arg(file);
            io.error(error);
        }
        failed = failed || std::any_of(findings.begin(), findings.end(),
                                       [&](const AuditFinding& f) { return f.severity >= threshold; });
        if (json) {
            CliValue entry = CliValue::object();
            entry.set(QStringLiteral("file"), file);
            entry.set(QStringLiteral("error"), error.isEmpty() ? CliValue() : CliValue(error));
            CliValue list = CliValue::array();
            for (const AuditFinding& f : findings)
                list.append(findingValue(f));
            entry.set(QStringLiteral("findings"), std::move(list));
            results.append(std::move(entry));
        } else {
            if (!io.out.isEmpty())
                io.out += '\n';
            io.out += auditReportText(file, findings).toUtf8() + '\n';
        }
        checked.append(CheckedFile{file, error, findings});
    }
    output.set(QStringLiteral("files"), std::move(results));
    CliValue summary = CliValue::object();
    summary.set(QStringLiteral("profiles"), int(files.size()));
    summary.set(QStringLiteral("fatal"), counts.count[AuditFatal]);
    summary.set(QStringLiteral("error"), counts.count[AuditError]);
    summary.set(QStringLiteral("warning"), counts.count[AuditWarning]);
    summary.set(QStringLiteral("information"), counts.count[AuditInformation]);
    output.set(QStringLiteral("summary"), std::move(summary));
    if (!json)
        io.out += QStringLiteral("\nChecked %1 profile(s): %2 fatal, %3 error(s), %4 warning(s), %5 information.\n")
                      .arg(files.size())
                      .arg(counts.count[AuditFatal])
                      .arg(counts.count[AuditError])
                      .arg(counts.count[AuditWarning])
                      .arg(counts.count[AuditInformation])
                      .toUtf8();
    if (!junit.isEmpty()) {
        QString writeError;
        if (!writeJunit(junit, checked, threshold, writeError)) {
            io.error(writeError);
            output.setError(writeError);
            return output.finish(kExitUnreadable);
        }
    }
    return output.finish(unopened ? kExitUnreadable : failed ? kExitFindings : kExitOk);
}
