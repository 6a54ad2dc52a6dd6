// Start-up with a command-line file that is not there: the message names it, then start-up goes
// on as without an argument (the startup dialog). The application object is the real
// PrismetApp, built by this file's main().

#include "tests/window/app/AppTestSupport.h"

#include "window/app/Prismet.h"
#include "window/app/PrismetApp.h"

#include <QDir>
#include <QSettings>
#include <QTest>

namespace {

const char* const kMissing = "/tmp/prismet-no-such-dir/nope.icc";

apptest::ModalWatcher* g_watcher = nullptr;

}  // namespace

class TestStartupMissing : public QObject
{
    Q_OBJECT

private slots:
    void problems_data();
    void problems();
    void missingFileIsSaidThenTheDialogFollows();
};

void TestStartupMissing::problems_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");
    const QString srgb = QStringLiteral("/usr/share/color/icc/colord/sRGB.icc");
    QTest::newRow("none") << QStringList{"prismet"} << QString();
    QTest::newRow("a profile") << QStringList{"prismet", srgb} << QString();
    QTest::newRow("missing") << QStringList{"prismet", kMissing}
                             << QStringLiteral("The file %1 does not exist.").arg(kMissing);
    QTest::newRow("missing, relative made absolute")
        << QStringList{"prismet", "nope-here.icc"}
        << QStringLiteral("The file %1 does not exist.").arg(QDir::current().absoluteFilePath("nope-here.icc"));
    QTest::newRow("a folder") << QStringList{"prismet", "/usr/share/color/icc"}
                              << QStringLiteral("/usr/share/color/icc is not a file.");
    QTest::newRow("only the first counts") << QStringList{"prismet", srgb, kMissing} << QString();
}

void TestStartupMissing::problems()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QCOMPARE(startupArgumentProblem(arguments), expected);
}

void TestStartupMissing::missingFileIsSaidThenTheDialogFollows()
{
    auto* app = qobject_cast<PrismetApp*>(qApp);
    QVERIFY(app);
    QVERIFY(app->startupProfilePath().isEmpty());
    Prismet* window = app->mainWindow();
    QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(g_watcher->seen.size() >= 2, 5000);
    QCOMPARE(g_watcher->seen[0], QStringLiteral("ErrorDialog"));
    QCOMPARE(g_watcher->messages[0], QStringLiteral("The file %1 does not exist.").arg(kMissing));
    QCOMPARE(g_watcher->fileNames[0], QStringLiteral("nope.icc"));
    QCOMPARE(g_watcher->seen[1], QStringLiteral("StartupDialog"));
    QVERIFY(window->profile() == nullptr);
}

int main(int argc, char* argv[])
{
    return apptest::execUnderPrismetApp<TestStartupMissing>(argc, argv, {kMissing}, g_watcher);
}

#include "tst_startupmissing.moc"
