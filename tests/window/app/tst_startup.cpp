// Start-up: the command line, and the sequence that shows the window and opens the profile
// named on it. The application object is the real PrismetApp, built by this file's main().

#include "tests/window/app/AppTestSupport.h"

#include "window/widgets/HullWidget.h"
#include "window/widgets/ColorScheme.h"
#include "window/app/Prismet.h"
#include "window/app/PrismetApp.h"

#include <QDir>
#include <QOpenGLContext>
#include <QOpenGLWidget>
#include <QSettings>
#include <QTest>

namespace {

const char* const kSrgb = "/usr/share/color/icc/colord/sRGB.icc";
const char* const kAdobe = "/usr/share/color/icc/colord/AdobeRGB1998.icc";

apptest::ModalWatcher* g_watcher = nullptr;

}  // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void arguments_data();
    void arguments();
    void profileOnTheCommandLineIsOpenedWithoutTheDialog();
};

void TestStartup::arguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");
    const QString srgb = QString::fromLatin1(kSrgb);
    QTest::newRow("none") << QStringList{"prismet"} << QString();
    QTest::newRow("a profile") << QStringList{"prismet", srgb} << srgb;
    QTest::newRow("two profiles: the first") << QStringList{"prismet", srgb, kAdobe} << srgb;
    QTest::newRow("missing file") << QStringList{"prismet", "/no/such/profile.icc"} << QString();
    QTest::newRow("a folder") << QStringList{"prismet", "/usr/share/color/icc"} << QString();
    QTest::newRow("unknown option is no error") << QStringList{"prismet", "--frobnicate", srgb} << srgb;
    QTest::newRow("relative path made absolute")
        << QStringList{"prismet", QDir::current().relativeFilePath(srgb)} << srgb;
}

void TestStartup::arguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QCOMPARE(startupProfileFromArguments(arguments), expected);
}

void TestStartup::profileOnTheCommandLineIsOpenedWithoutTheDialog()
{
    auto* app = qobject_cast<PrismetApp*>(qApp);
    QVERIFY(app);
    QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Corvane"));
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Corvane Prismet"));
    QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("2.0"));
    QVERIFY(!QApplication::windowIcon().isNull());
    QCOMPARE(app->startupProfilePath(), QString::fromLatin1(kSrgb));

    // The dialog would be due, but a profile on the command line wins.
    appSettings()->setValue("state/start_dlg", true);

    Prismet* window = app->mainWindow();
    QVERIFY(window);
    QVERIFY(!window->isVisible());  // hidden behind the splash until the timer
    QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(window->profile() != nullptr, 5000);
    QCOMPARE(window->windowTitle(), QStringLiteral("Corvane Prismet - ") + QString::fromLatin1(kSrgb));

    QTest::qWait(200);
    QVERIFY2(g_watcher->seen.isEmpty(), qPrintable(g_watcher->seen.join(", ")));
    // `dark_always` was never stored: the dark scheme applies.
    QVERIFY(!appSettings()->contains("dark_always"));
    QVERIFY(is_dark_palette());
    // The hidden 3D view always exists; it holds an OpenGL canvas exactly when the platform can
    // give an OpenGL context.
    QOpenGLContext probe;
    auto* view = window->findChild<HullWidget*>("openglStartupView");
    QVERIFY(view);
    QVERIFY(!view->isVisible());
    QCOMPARE(view->findChild<QOpenGLWidget*>() != nullptr, probe.create());
    // Without Shift or Control there is no start-up log window.
    for (QWidget* widget : QApplication::topLevelWidgets())
        QVERIFY(widget->windowTitle() != QStringLiteral("Prismet Startup Log") || !widget->isVisible());
}

int main(int argc, char* argv[])
{
    return apptest::execUnderPrismetApp<TestStartup>(argc, argv, {kSrgb, kAdobe}, g_watcher);
}

#include "tst_startup.moc"
