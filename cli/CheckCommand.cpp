// prismet-cli check: the window's conformance check over files and folders, for batch runs and
// continuous integration.

#include "common/audit/AuditRunner.h"
#include "cli/CliValue.h"
#include "cli/Commands.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>

namespace {

const char kCheckHelp[] =
    "Usage: prismet-cli check [--json] [--min-severity LEVEL] [--recursive] PROFILE|FOLDER...\n"
    "\n"
    "Runs the conformance check of the inspector window on each profile file (the ICC header,\n"
    "intent channels and linking, required tags, tags integrity) and prints its findings,\n"
    "highest severity first, as the window's \"Copy report\" does. A FOLDER is checked file by\n"
    "file: every .icc, .icm and .pf file in it, in name order (a folder without any is an\n"
    "error: \"no profiles found\"). '-' reads one profile from standard input.\n"
    "\n"
    "Options:\n"
    "  --min-severity LEVEL  the lowest severity that fails the check: warning or error\n"
    "                        (default error); every finding is printed whatever the level\n"
    "  --recursive           also check the profiles in the folders' subfolders\n"
    "  --json                one JSON document with one entry per file (layout in\n"
    "                        cli/README.md)\n"
    "  --help                this text\n"
    "\n"
    "Exit status: 0 no file has a finding at or above the level, 3 some file has one,\n"
    "1 a file cannot be opened at all or the output cannot be written (this wins over 3),\n"
    "2 bad usage.\n";

// The profiles to check, in the order given; a folder's files sorted by path. A folder without
// profiles is an error (a mistyped folder must not pass a check), kept in `errors`.
QStringList collectFiles(const QStringList& arguments, bool recursive, CliIO& io, QStringList& errors)
{
    QStringList files;
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("-") || !QFileInfo(argument).isDir()) {
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
        if (found.isEmpty()) {
            errors << QStringLiteral("'%1': no profiles found").arg(argument);
            io.error(errors.last());
        }
        files += found;
    }
    return files;
}

CliValue findingValue(const AuditFinding& f)
{
    CliValue v = CliValue::object();
    v.set(QStringLiteral("qa"), f.qaNumber);
    v.set(QStringLiteral("severity"), auditSeverityName(f.severity));
    v.set(QStringLiteral("title"), f.title);
    v.set(QStringLiteral("message"), f.message);
    v.set(QStringLiteral("related"), f.related);
    return v;
}

} // namespace

int runCheck(const QStringList& args, CliIO& io)
{
    CommandOutput output(io, "check", {"minSeverity", "files"});
    output.setJson(wantsJson(args));
    CliArgs options({QStringLiteral("json"), QStringLiteral("recursive"), QStringLiteral("help")},
                    {QStringLiteral("min-severity")});
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
    if (namesStdinTwice(options.positionals()))
        return output.usage(stdinTwiceMessage());
    output.set(QStringLiteral("minSeverity"), level);
    const bool json = options.isSet(QStringLiteral("json"));

    QStringList errors;
    const QStringList files = collectFiles(options.positionals(), options.isSet(QStringLiteral("recursive")), io, errors);
    // The checks read files: standard input goes through a temporary copy.
    QTemporaryFile input;
    bool unopened = !errors.isEmpty();
    bool failed = false;
    CliValue results = CliValue::array();
    for (const QString& file : files) {
        QString path = file;
        if (file == QLatin1String("-")) {
            const QByteArray bytes = io.readInput ? io.readInput() : QByteArray();
            if (!input.open() || input.write(bytes) != bytes.size() || !input.flush()) {
                errors << QStringLiteral("cannot keep standard input in a temporary file");
                io.error(errors.last());
                unopened = true;
                continue;
            }
            path = input.fileName();
        }
        const AuditRun run = runAuditTests(QFile::encodeName(path));
        // In the order the window's findings dialog lists them.
        const QList<AuditFinding> findings = sortedBySeverity(run.findings);
        QString error;
        if (!run.opened) {
            unopened = true;
            error = QStringLiteral("cannot open profile '%1'").arg(file);
            io.error(error);
            errors << error;
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
    }
    output.set(QStringLiteral("files"), std::move(results));
    if (!errors.isEmpty())
        output.setError(errors.join(QStringLiteral("; ")));
    return output.finish(unopened ? kExitUnreadable : failed ? kExitFindings : kExitOk);
}
