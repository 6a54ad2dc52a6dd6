// The findings dialog and the check as the window runs it: texts, filters, order, the report,
// recolouring, Cancel in the gauge, the window's two entry points, and the same findings as
// prismet-cli over the corpus and the malformed files.

#include "tests/common/audit/AuditTestSupport.h"

#include "tests/window/app/AppTestSupport.h"
#include "window/widgets/FloatingGauge.h"
#include "window/widgets/ColorScheme.h"
#include "window/app/Prismet.h"
#include "window/audit/ProfileChecks.h"
#include "window/audit/ProfileIssuesDialog.h"
#include "window/audit/ProfileIssuesWidget.h"
#include "window/overview/HeaderTableView.h"

#include <QAction>
#include <QClipboard>
#include <QFrame>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace audittest;

namespace {

AuditFinding finding(int qa, int severity, const QString& title, const QString& related = QString(),
                     const QString& message = QStringLiteral("msg"))
{
    return AuditFinding{qa, severity, title, message, related};
}

QString labelText(QWidget& w, const char* name)
{
    auto* label = w.findChild<QLabel*>(name);
    return label ? label->text() : QStringLiteral("<missing %1>").arg(QLatin1String(name));
}

QString buttonText(QWidget& w, const char* name)
{
    auto* button = w.findChild<QPushButton*>(name);
    return button ? button->text() : QString();
}

QStringList cardTitles(QWidget& w)
{
    QStringList list;
    for (QLabel* title : w.findChildren<QLabel*>("findingTitle"))
        list << title->text();
    return list;
}

QString emptyText(QWidget& w)
{
    const QList<QLabel*> labels = w.findChildren<QLabel*>("emptyLabel");
    return labels.size() == 1 ? labels[0]->text() : QStringLiteral("<%1 empty labels>").arg(labels.size());
}

QStringList badgeStyles(QWidget& w)
{
    QStringList list;
    for (QLabel* badge : w.findChildren<QLabel*>("severityBadge"))
        list << badge->styleSheet();
    return list;
}

}  // namespace

class TestIssuesDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        apptest::isolateSettings();
        QApplication::setPalette(QPalette());
        // As the application's main does: the window reads permissively, the check must not.
        viewertest::registerPermissiveReading();
    }

    void beforeFindings_showsNotRun()
    {
        ProfileIssuesDialog dialog(QStringLiteral("/tmp/p.icc"));
        QCOMPARE(dialog.objectName(), QStringLiteral("ProfileIssuesDialog"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("ICC profile check"));
        QCOMPARE(buttonText(dialog, "allButton"), QStringLiteral("All (0)"));
        QCOMPARE(buttonText(dialog, "warningButton"), QStringLiteral("Warning (0)"));
        QCOMPARE(buttonText(dialog, "errorButton"), QStringLiteral("Error (0)"));
        QCOMPARE(labelText(dialog, "countLabel"), QStringLiteral("0 of 0 findings"));
        QCOMPARE(emptyText(dialog), QStringLiteral("Profile check has not been run."));
        QVERIFY(!dialog.findChild<QPushButton*>("copyReportButton")->isEnabled());
        QVERIFY(dialog.findChild<QPushButton*>("allButton")->isChecked());

        // Tab order: the filters, then copy report, then close.
        QStringList order;
        QWidget* w = dialog.findChild<QPushButton*>("allButton");
        for (int i = 0; i < 4; ++i) {
            w = w->nextInFocusChain();
            while (!qobject_cast<QPushButton*>(w))
                w = w->nextInFocusChain();
            order << w->objectName();
        }
        QCOMPARE(order, QStringList({"warningButton", "errorButton", "copyReportButton", "closeButton"}));
    }

    void noFindings_reportsNoIssues()
    {
        const QString path = QStringLiteral("/some/where/clean.icc");
        ProfileIssuesDialog dialog(path);
        dialog.setFindings({});
        QCOMPARE(emptyText(dialog), QStringLiteral("No issues reported."));
        QCOMPARE(buttonText(dialog, "allButton"), QStringLiteral("All (0)"));
        QCOMPARE(buttonText(dialog, "warningButton"), QStringLiteral("Warning (0)"));
        QCOMPARE(buttonText(dialog, "errorButton"), QStringLiteral("Error (0)"));
        QCOMPARE(labelText(dialog, "summaryLabel"), QString());
        QVERIFY(dialog.findChild<QPushButton*>("copyReportButton")->isEnabled());
        dialog.findChild<QPushButton*>("copyReportButton")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("Profile check\n/some/where/clean.icc\nNo issues reported."));
    }

    void twoInformationOneError_summaryButtonsAndFilter()
    {
        ProfileIssuesDialog dialog(QStringLiteral("p.icc"));
        dialog.setFindings({finding(120, AuditInformation, "info one"), finding(100, AuditError, "the error"),
                            finding(101, AuditInformation, "info two")});
        QCOMPARE(labelText(dialog, "summaryLabel"), QStringLiteral("Errors: 1   Information: 2"));
        QCOMPARE(buttonText(dialog, "allButton"), QStringLiteral("All (3)"));
        QCOMPARE(buttonText(dialog, "warningButton"), QStringLiteral("Warning (0)"));
        QCOMPARE(buttonText(dialog, "errorButton"), QStringLiteral("Error (1)"));
        QCOMPARE(labelText(dialog, "countLabel"), QStringLiteral("3 of 3 findings"));

        dialog.findChild<QPushButton*>("errorButton")->click();
        QCOMPARE(labelText(dialog, "countLabel"), QStringLiteral("1 of 3 findings"));
        QCOMPARE(cardTitles(dialog), QStringList{"the error"});

        // A filter that hides everything says so.
        dialog.setFindings({finding(120, AuditWarning, "only a warning")});
        QCOMPARE(emptyText(dialog), QStringLiteral("No findings match this severity filter."));
        dialog.findChild<QPushButton*>("warningButton")->click();
        QCOMPARE(cardTitles(dialog), QStringList{"only a warning"});
    }

    void findings_orderedBySeverityThenAsFound_andReported()
    {
        ProfileIssuesDialog dialog(QStringLiteral("/p/x.icc"));
        dialog.setFindings({finding(120, AuditInformation, "i1", "Header flags"), finding(120, AuditWarning, "w1"),
                            finding(101, AuditFatal, "f1", "Tags integrity", QString()), finding(100, AuditError, "e1", "A2B1"),
                            finding(0, AuditInformation, "i2", QString(), QString()), finding(101, AuditError, "e2")});
        QCOMPARE(cardTitles(dialog), QStringList({"f1", "e1", "e2", "w1", "i1", "i2"}));
        QCOMPARE(labelText(dialog, "summaryLabel"), QStringLiteral("Fatal: 1   Errors: 2   Warnings: 1   Information: 2"));
        // Each button lists what it counts, and the counts agree with the summary.
        QCOMPARE(buttonText(dialog, "warningButton"), QStringLiteral("Warning (1)"));
        QCOMPARE(buttonText(dialog, "errorButton"), QStringLiteral("Error (3)"));
        dialog.findChild<QPushButton*>("warningButton")->click();
        QCOMPARE(cardTitles(dialog), QStringList{"w1"});

        // The report holds every finding whatever the filter.
        dialog.findChild<QPushButton*>("errorButton")->click();
        dialog.findChild<QPushButton*>("copyReportButton")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("Profile check\n/p/x.icc\n"
                                "\n[Fatal] f1\nRelated tag or section: Tags integrity\n\n"
                                "\n[Error] e1\nRelated tag or section: A2B1\nmsg\n"
                                "\n[Error] e2\nmsg\n"
                                "\n[Warning] w1\nmsg\n"
                                "\n[Information] i1\nRelated tag or section: Header flags\nmsg\n"
                                "\n[Information] i2\n"));
    }

    void card_badgeMixAndRelatedTag()
    {
        std::unique_ptr<QFrame> card(findingCard(finding(110, AuditWarning, "t", "B2A0"), dark_fusion_palette()));
        QCOMPARE(labelText(*card, "severityBadge"), QStringLiteral("WARNING"));
        // (7 x #232323 + #f4c568) / 8 per channel.
        QVERIFY(card->findChild<QLabel*>("severityBadge")->styleSheet().contains("color: #f4c568; background-color: #3d372b;"));
        QCOMPARE(card->findChild<QLabel*>("findingTag")->toolTip(), QStringLiteral("Related tag or profile section: B2A0"));

        std::unique_ptr<QFrame> bare(findingCard(finding(0, AuditInformation, "t", QString(), QString()), QPalette()));
        QVERIFY(!bare->findChild<QLabel*>("findingTag"));
        QVERIFY(!bare->findChild<QLabel*>("findingMessage"));
    }

    void paletteSwitch_recoloursOpenCards()
    {
        QApplication::setPalette(dark_fusion_palette());
        ProfileIssuesDialog dialog(QStringLiteral("p.icc"));
        dialog.setFindings({finding(101, AuditError, "e"), finding(120, AuditWarning, "w"), finding(0, AuditInformation, "i")});
        dialog.show();
        QStringList dark = badgeStyles(dialog);
        QCOMPARE(dark.size(), 3);
        QVERIFY(dark[0].contains("#ff9898") && dark[1].contains("#f4c568") && dark[2].contains("#80baff"));

        QPalette light = dark_fusion_palette();
        light.setColor(QPalette::Window, QColor(240, 240, 240));
        QApplication::setPalette(light);
        QCoreApplication::processEvents();
        const QStringList recoloured = badgeStyles(dialog);
        QCOMPARE(recoloured.size(), 3);
        QVERIFY(recoloured[0].contains("#ba2532") && recoloured[1].contains("#986000") && recoloured[2].contains("#195cac"));
        QApplication::setPalette(QPalette());
    }

    void gauge_cancelDuringTheSecondTestKeepsTwoTests()
    {
        krmProfile srgb = krmCreate_sRGBProfile(nullptr);
        QByteArray bytes = saveToBytes(srgb);
        krmCloseProfile(srgb);
        patch32(bytes, 64, 4);      // a header finding
        patch32(bytes, 16, krmSig("CMYK")); // a matrix-shaper in a CMYK header: required tags missing
        ProfileFiles files;
        const QString path = files.write("p.icc", bytes);
        const QList<AuditFinding> all = check(path).findings;

        // A click made while the second test runs is handled at the gauge's next update, when
        // the third test is announced.
        bool armed = false, clicked = false;
        QStringList seen;
        QTimer poll;
        poll.setInterval(0);
        connect(&poll, &QTimer::timeout, [&] {
            auto* gauge = qobject_cast<FloatingGauge*>(QApplication::activeModalWidget());
            if (!gauge)
                return;
            const QString text = gauge->findChild<QLabel*>("gaugeLabel")->text();
            if (seen.isEmpty() || seen.last() != text)
                seen << text;
            armed = armed || text.contains(QStringLiteral("(2 of 5)"));
            if (armed && !clicked && text.contains(QStringLiteral("(3 of 5)"))) {
                clicked = true;
                gauge->findChild<QPushButton*>("gaugeCancel")->click();
            }
        });
        poll.start();
        const QList<AuditFinding> cut = runProfileChecks(QFile::encodeName(path));
        poll.stop();
        QVERIFY(clicked);
        QVERIFY(!seen.isEmpty());
        QList<AuditFinding> expected;
        for (const AuditFinding& f : all)
            if (f.qaNumber == 120 || f.qaNumber == 110)
                expected << f;
        expected << AuditFinding{0, AuditInformation, "Profile check cancelled",
                                 "The report is incomplete. Only completed checks are included.", QString()};
        QCOMPARE(titles(cut), titles(expected));
        QVERIFY(!QApplication::activeModalWidget());
    }

    void window_actionAndHeaderCellShowTheFindings()
    {
        apptest::ModalWatcher watcher;
        QList<AuditFinding> shown;
        watcher.setAnswer([&](QDialog* dialog) {
            // The gauge is application-modal too; rejecting it would cancel the check.
            if (qobject_cast<FloatingGauge*>(dialog))
                return;
            if (auto* issues = qobject_cast<ProfileIssuesDialog*>(dialog))
                shown = issues->findings();
            dialog->reject();
        });
        const QString path = QStringLiteral("/usr/share/color/icc/colord/Crayons.icc");
        const QList<AuditFinding> expected = sortedBySeverity(check(path).findings);
        QVERIFY(!expected.isEmpty());

        Prismet window;
        window.show();
        window.open_filename(path);
        QCOMPARE(window.profilePath(), path);
        window.findChild<QAction*>("actionCheck_conformance")->trigger();
        QCOMPARE(watcher.seen.filter("ProfileIssuesDialog").size(), 1);
        QCOMPARE(shown, expected);

        shown.clear();
        auto* header = window.findChild<HeaderTableView*>("headerTabView");
        QVERIFY(header);
        auto* button = header->findChild<QPushButton*>("checkProfileButton");
        QVERIFY(button);
        button->click();
        QCOMPARE(watcher.seen.filter("ProfileIssuesDialog").size(), 2);
        QCOMPARE(shown, expected);
    }

    // The window and prismet-cli run the same code: same findings, same order, for every file.
    void window_andCommandLine_reportTheSameFindings()
    {
        const QStringList paths = corpusAndMalformed();
        QVERIFY(paths.size() > 50);
        QProcess cli;
        cli.start(QStringLiteral(PRISMET_CLI), QStringList{"check", "--json"} + paths);
        QVERIFY(cli.waitForFinished(300000));
        const QJsonArray files = QJsonDocument::fromJson(cli.readAllStandardOutput()).object()["files"].toArray();
        QCOMPARE(files.size(), paths.size());
        QCOMPARE(cli.exitCode(), 1);  // some malformed files cannot be opened at all

        for (qsizetype i = 0; i < paths.size(); ++i) {
            const QJsonObject file = files[i].toObject();
            QCOMPARE(file["file"].toString(), paths[i]);
            ProfileIssuesDialog dialog(paths[i]);
            dialog.setFindings(runProfileChecks(QFile::encodeName(paths[i])));
            QStringList window, commandLine;
            for (const AuditFinding& f : dialog.findings())
                window << QStringLiteral("QA%1|%2|%3|%4|%5").arg(f.qaNumber).arg(auditSeverityName(f.severity), f.title,
                                                                   f.message, f.related);
            for (const QJsonValue& v : file["findings"].toArray()) {
                const QJsonObject f = v.toObject();
                commandLine << QStringLiteral("QA%1|%2|%3|%4|%5").arg(f["qa"].toInt()).arg(f["severity"].toString(),
                                                                        f["title"].toString(), f["message"].toString(),
                                                                        f["related"].toString());
            }
            QVERIFY2(window == commandLine, qPrintable(paths[i]));
        }
    }
};

QTEST_MAIN(TestIssuesDialog)
#include "tst_issuesdialog.moc"
