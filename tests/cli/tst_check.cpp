// prismet-cli check: arguments, folders, the exit statuses and both output layouts.

#include "tests/support/ViewerTestSupport.h"
#include "common/audit/AuditFinding.h"
#include "cli/Commands.h"

#include <krm.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtEndian>
#include <QtTest>

namespace {

const QString kColord = QStringLiteral("/usr/share/color/icc/colord");

struct Run {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

Run cli(const QStringList& args)
{
    CliIO io;
    io.readInput = [] { return QByteArray(); };
    Run r;
    r.status = runCli(args, io);
    r.out = io.out;
    r.err = io.err;
    return r;
}

QJsonObject jsonDocument(const QByteArray& out)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(out, &error);
    if (error.error != QJsonParseError::NoError)
        qWarning("invalid JSON: %s", qPrintable(error.errorString()));
    return doc.object();
}

QJsonArray jsonFiles(const Run& r)
{
    return jsonDocument(r.out)["files"].toArray();
}

// The engine's sRGB, with the header's rendering intent set to `intent` (4 and more draw a
// warning and nothing else).
QByteArray srgbBytes(quint32 intent = 0)
{
    krmProfile p = krmCreate_sRGBProfile(nullptr);
    QByteArray bytes = viewertest::saveToBytes(p);
    krmCloseProfile(p);
    qToBigEndian(intent, bytes.data() + 64);
    return bytes;
}

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

}  // namespace

class TestCheckCommand : public QObject
{
    Q_OBJECT

private slots:
    void usage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::newRow("no profile") << QStringList{"check"} << 2;
        QTest::newRow("bad level") << QStringList{"check", "--min-severity", "fatal", kColord} << 2;
        QTest::newRow("level without value") << QStringList{"check", kColord, "--min-severity"} << 2;
        QTest::newRow("unknown option") << QStringList{"check", "--deep", kColord} << 2;
        QTest::newRow("unknown code to ignore") << QStringList{"check", "--ignore", "HDR-NOPE", kColord} << 2;
        QTest::newRow("junit without file") << QStringList{"check", kColord, "--junit"} << 2;
        QTest::newRow("help") << QStringList{"check", "--help"} << 0;
    }

    void usage()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        const Run r = cli(args);
        QCOMPARE(r.status, status);
        if (status == 2) {
            QVERIFY(r.out.isEmpty());
            QVERIFY(r.err.endsWith("Try 'prismet-cli check --help'.\n"));
            // With --json the failure is a document too.
            const QJsonObject doc = jsonDocument(cli(args + QStringList{"--json"}).out);
            QCOMPARE(doc["command"].toString(), QStringLiteral("check"));
            QVERIFY(!doc["error"].toString().isEmpty());
        } else {
            QVERIFY(r.out.startsWith("Usage: prismet-cli check"));
        }
    }

    void exitStatus_followsTheThreshold()
    {
        QTemporaryDir dir;
        const QString clean = writeFile(dir.filePath("clean.icc"), srgbBytes());
        const QString warning = writeFile(dir.filePath("warning.icc"), srgbBytes(4));
        const QString missing = dir.filePath("missing.icc");
        // colord's Crayons.icc has an unreadable 'B2A0': an error.
        const QString error = kColord + QStringLiteral("/Crayons.icc");

        QCOMPARE(cli({"check", clean}).status, 0);
        QCOMPARE(cli({"check", clean, warning}).status, 0);
        QCOMPARE(cli({"check", clean, warning, "--min-severity", "warning"}).status, 3);
        QCOMPARE(cli({"check", "--min-severity=error", error}).status, 3);
        const Run unopened = cli({"check", error, missing});
        QCOMPARE(unopened.status, 1);
        QVERIFY(unopened.err.contains("cannot open profile '" + missing.toUtf8() + "'"));
        const QJsonArray entries = jsonFiles(cli({"check", "--json", error, missing}));
        QVERIFY(entries[0].toObject()["error"].isNull());
        QCOMPARE(entries[1].toObject()["error"].toString(), "cannot open profile '" + missing + "'");

        // Text: one block per file in the report layout.
        const Run text = cli({"check", clean, warning});
        QCOMPARE(QString::fromUtf8(text.out),
                 QStringLiteral("Profile check\n%1\nNo issues reported.\n\nProfile check\n%2\n\n"
                                "[Warning] Invalid header rendering intent (HDR-INTENT)\nRelated tag or section: Rendering intent\n"
                                "The profile header contains an invalid rendering intent value.\n\n"
                                "Checked 2 profile(s): 0 fatal, 0 error(s), 1 warning(s), 0 information.\n")
                     .arg(clean, warning));
    }

    void folders_flatOrRecursive()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("b.icc"), srgbBytes());
        writeFile(dir.filePath("a.ICM"), srgbBytes(4));
        writeFile(dir.filePath("notes.txt"), "not a profile");
        writeFile(dir.filePath("sub/c.pf"), srgbBytes());
        writeFile(dir.filePath("empty/readme"), "x");

        auto files = [](const Run& r) {
            QStringList names;
            for (const QJsonValue& v : jsonFiles(r))
                names << QFileInfo(v.toObject()["file"].toString()).fileName();
            return names;
        };
        const Run flat = cli({"check", "--json", dir.path()});
        QCOMPARE(flat.status, 0);
        QCOMPARE(files(flat), QStringList({"a.ICM", "b.icc"}));
        QCOMPARE(files(cli({"check", "--json", "--recursive", dir.path()})), QStringList({"a.ICM", "b.icc", "c.pf"}));

        const Run none = cli({"check", dir.filePath("empty")});
        QCOMPARE(none.status, 0);
        QVERIFY(none.err.contains("no profiles in folder"));
    }

    // --ignore drops exactly the findings of the named rules, from the report, the count and
    // the exit status.
    void ignore_removesExactlyTheNamedFindings()
    {
        QTemporaryDir dir;
        QByteArray bytes = srgbBytes(4);            // HDR-INTENT, a warning
        qToBigEndian(krmSig("zq9x"), bytes.data() + 4);   // HDR-CMM-UNLISTED, information
        qToBigEndian(quint32(0x10000), bytes.data() + 44);  // HDR-FLAGS, a warning
        const QString file = writeFile(dir.filePath("three.icc"), bytes);
        auto codesOf = [](const Run& r) {
            QStringList list;
            for (const QJsonValue& f : jsonFiles(r)[0].toObject()["findings"].toArray())
                list << f.toObject()["code"].toString();
            std::sort(list.begin(), list.end());
            return list;
        };
        const Run all = cli({"check", "--json", file});
        QCOMPARE(codesOf(all), QStringList({"HDR-CMM-UNLISTED", "HDR-FLAGS", "HDR-INTENT"}));
        const Run some = cli({"check", "--json", "--ignore", "hdr-intent,HDR-CMM-UNLISTED", file});
        QCOMPARE(codesOf(some), QStringList({"HDR-FLAGS"}));
        QCOMPARE(jsonDocument(some.out)["summary"].toObject()["warning"].toInt(), 1);
        QCOMPARE(jsonDocument(some.out)["summary"].toObject()["information"].toInt(), 0);
        // Repeated options add up; with both warnings gone the warning level passes.
        QCOMPARE(cli({"check", "--min-severity", "warning", "--ignore", "HDR-INTENT", file}).status, 3);
        QCOMPARE(cli({"check", "--min-severity", "warning", "--ignore", "HDR-INTENT", "--ignore", "HDR-FLAGS", file}).status, 0);
    }

    // The JUnit report: one test case per profile, one failure per finding at or above the
    // level, read back with an XML parser.
    void junit_onePerProfileAndFailingFinding()
    {
        QTemporaryDir dir;
        const QString clean = writeFile(dir.filePath("clean.icc"), srgbBytes());
        QByteArray twoWarnings = srgbBytes(4);
        qToBigEndian(quint32(0x10000), twoWarnings.data() + 44);
        qToBigEndian(krmSig("zq9x"), twoWarnings.data() + 4);  // information: below the level
        const QString warned = writeFile(dir.filePath("warned.icc"), twoWarnings);
        const QString report = dir.filePath("report.xml");
        QCOMPARE(cli({"check", "--min-severity", "warning", "--junit", report, clean, warned}).status, 3);

        QFile file(report);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QMap<QString, QStringList> failures;  // test case name -> failure types
        QString suiteTests, suiteFailures, current;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const auto a = xml.attributes();
            if (xml.name() == QLatin1String("testsuite")) {
                suiteTests = a.value("tests").toString();
                suiteFailures = a.value("failures").toString();
            } else if (xml.name() == QLatin1String("testcase")) {
                current = a.value("name").toString();
                failures[current];
            } else if (xml.name() == QLatin1String("failure")) {
                failures[current] << a.value("type").toString();
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(suiteTests, QStringLiteral("2"));
        QCOMPARE(suiteFailures, QStringLiteral("2"));
        QCOMPARE(failures.keys(), QStringList({clean, warned}));
        QCOMPARE(failures[clean], QStringList());
        QCOMPARE(failures[warned], QStringList({"HDR-FLAGS", "HDR-INTENT"}));

        // At the error level the warnings are no failures; an unwritable report is exit 1.
        QCOMPARE(cli({"check", "--junit", report, warned}).status, 0);
        QVERIFY(file.seek(0));
        QVERIFY(!file.readAll().contains("<failure"));
        QCOMPARE(cli({"check", "--junit", dir.filePath("no/such/folder/r.xml"), clean}).status, 1);
    }

    // The built program over colord's folder: one record per profile, in the documented layout.
    void json_colordFolder()
    {
        QProcess p;
        p.start(QStringLiteral(PRISMET_CLI), {"check", kColord, "--json"});
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitCode(), 3);  // Crayons.icc and x11-colors.icc have errors
        const QJsonObject doc = jsonDocument(p.readAllStandardOutput());
        QCOMPARE(doc.keys(), QStringList({"command", "error", "files", "format", "minSeverity", "summary"}));
        QCOMPARE(doc["format"].toInt(), 1);
        QCOMPARE(doc["minSeverity"].toString(), QStringLiteral("error"));
        const QJsonArray files = doc["files"].toArray();
        int bySeverity[4] = {0, 0, 0, 0};
        const QStringList profiles = QDir(kColord).entryList({"*.icc", "*.icm", "*.pf"}, QDir::Files, QDir::Name);
        QCOMPARE(files.size(), profiles.size());
        for (const QJsonValue& v : files) {
            const QJsonObject file = v.toObject();
            QCOMPARE(file.keys(), QStringList({"error", "file", "findings"}));
            QVERIFY(file["error"].isNull());
            for (const QJsonValue& f : file["findings"].toArray()) {
                const QJsonObject finding = f.toObject();
                QCOMPARE(finding.keys(), QStringList({"code", "message", "qa", "related", "severity", "title"}));
                const int severity =
                    QStringList({"Information", "Warning", "Error", "Fatal"}).indexOf(finding["severity"].toString());
                QVERIFY(severity >= 0);
                ++bySeverity[severity];
                QVERIFY(QList<int>({100, 101, 110, 120, 130}).contains(finding["qa"].toInt()));
                QVERIFY(auditRuleCodes().contains(finding["code"].toString()));
            }
        }

        const QJsonObject summary = doc["summary"].toObject();
        QCOMPARE(summary["profiles"].toInt(), int(profiles.size()));
        QCOMPARE(summary["information"].toInt(), bySeverity[0]);
        QCOMPARE(summary["warning"].toInt(), bySeverity[1]);
        QCOMPARE(summary["error"].toInt(), bySeverity[2]);
        QCOMPARE(summary["fatal"].toInt(), bySeverity[3]);

        // Findings found but the report lost on a full disk: the write error decides.
        QProcess full;
        full.setStandardOutputFile(QStringLiteral("/dev/full"));
        full.start(QStringLiteral(PRISMET_CLI), {"check", kColord});
        QVERIFY(full.waitForFinished(120000));
        QCOMPARE(full.exitCode(), 1);
    }
};

QTEST_GUILESS_MAIN(TestCheckCommand)
#include "tst_check.moc"
