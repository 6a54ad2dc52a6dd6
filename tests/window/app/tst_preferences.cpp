// The preferences and startup dialogs, and the colour scheme they drive.

#include "tests/window/app/AppTestSupport.h"

#include "window/widgets/ColorScheme.h"
#include "window/app/Preferences.h"
#include "window/app/PrismetApp.h"
#include "window/app/StartupDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>

namespace {

struct Option {
    const char* key;
    const char* box;
    bool defaultValue;
};

const Option kOptions[] = {
    {"dark_always", "darkModeAlways", true},
    {"flat_color", "flatColor", false},
    {"proportional_points", "proportional_pointsize", false},
    {"raw_dump", "addRawDump", false},
    {"state/start_dlg", "showStartupDialog", true},
};

QCheckBox* box(QDialog& dialog, const char* name)
{
    return dialog.findChild<QCheckBox*>(name);
}

// Runs the dialog and presses `button` once it is up; returns the result code.
int runPressing(QDialog& dialog, std::function<void()> press)
{
    QTimer::singleShot(0, &dialog, press);
    return dialog.exec();
}

}  // namespace

class TestPreferences : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { apptest::isolateSettings(); }
    void init() { appSettings()->clear(); }

    void freshInstallationShowsTheDefaults();
    void checkBoxesFollowStoredValues();
    void okWritesEveryOption();
    void cancelWritesNothing();
    void restoreDefaultsForgetsEverything();

    void startup_buttonsGiveTheirResult_data();
    void startup_buttonsGiveTheirResult();
    void startup_checkBoxFollowsTheSetting();
    void startup_closingStoresTheCheckBox();
    void startup_choosingAFolderStoresTheCheckBox();

    void colorScheme_darkUnlessTurnedOff();
};

void TestPreferences::freshInstallationShowsTheDefaults()
{
    Preferences dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("preferences"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Preferences"));
    for (const Option& option : kOptions) {
        QVERIFY2(box(dialog, option.box), option.box);
        QCOMPARE(box(dialog, option.box)->isChecked(), option.defaultValue);
    }
    QCOMPARE(box(dialog, "darkModeAlways")->text(), QStringLiteral("Use dark mode always"));
    QCOMPARE(box(dialog, "showStartupDialog")->text(), QStringLiteral("Show dialog on startup"));
}

void TestPreferences::checkBoxesFollowStoredValues()
{
    for (const Option& option : kOptions)
        appSettings()->setValue(option.key, !option.defaultValue);
    Preferences dialog;
    for (const Option& option : kOptions)
        QCOMPARE(box(dialog, option.box)->isChecked(), !option.defaultValue);
}

void TestPreferences::okWritesEveryOption()
{
    Preferences dialog;
    for (const Option& option : kOptions)
        box(dialog, option.box)->setChecked(!option.defaultValue);
    const int result = runPressing(dialog, [&dialog] {
        dialog.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click();
    });
    QCOMPARE(result, int(QDialog::Accepted));
    for (const Option& option : kOptions) {
        QVERIFY2(appSettings()->contains(option.key), option.key);
        QCOMPARE(appSettings()->value(option.key).toBool(), !option.defaultValue);
    }
}

void TestPreferences::cancelWritesNothing()
{
    appSettings()->setValue("raw_dump", true);
    Preferences dialog;
    for (const Option& option : kOptions)
        box(dialog, option.box)->toggle();
    const int result = runPressing(dialog, [&dialog] {
        dialog.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Cancel)->click();
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(appSettings()->allKeys(), QStringList{"raw_dump"});
    QCOMPARE(appSettings()->value("raw_dump").toBool(), true);
}

void TestPreferences::restoreDefaultsForgetsEverything()
{
    appSettings()->setValue("dark_always", false);
    appSettings()->setValue("state/recent_files", QStringList{"/tmp/a.icc"});
    appSettings()->setValue("pos/window_main", QByteArray("geometry"));
    Preferences dialog;
    box(dialog, "flatColor")->setChecked(true);
    const int result = runPressing(dialog, [&dialog] {
        dialog.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::RestoreDefaults)->click();
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(dialog.defaultsRestored());
    // The check boxes are not written: every option reads its default again.
    QCOMPARE(appSettings()->allKeys(), QStringList{});
}

void TestPreferences::startup_buttonsGiveTheirResult_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("result");
    QTest::newRow("any") << "btnAny" << "Browse any folder" << 1;
    QTest::newRow("global") << "btnGlobal" << "Browse global ICC profiles folder" << 2;
    QTest::newRow("user") << "btnLocal" << "Browse user ICC profiles folder" << 3;
}

void TestPreferences::startup_buttonsGiveTheirResult()
{
    QFETCH(QString, button);
    QFETCH(QString, text);
    QFETCH(int, result);
    StartupDialog dialog;
    auto* pushButton = dialog.findChild<QPushButton*>(button);
    QVERIFY(pushButton);
    QCOMPARE(pushButton->text(), text);
    QCOMPARE(runPressing(dialog, [pushButton] { pushButton->click(); }), result);
}

void TestPreferences::startup_checkBoxFollowsTheSetting()
{
    {
        StartupDialog dialog;
        QVERIFY(!box(dialog, "dontShowCB")->isChecked());
    }
    appSettings()->setValue("state/start_dlg", false);
    StartupDialog dialog;
    QVERIFY(box(dialog, "dontShowCB")->isChecked());
}

void TestPreferences::startup_closingStoresTheCheckBox()
{
    StartupDialog dialog;
    box(dialog, "dontShowCB")->setChecked(true);
    QCOMPARE(runPressing(dialog, [&dialog] { dialog.close(); }), 0);
    QCOMPARE(appSettings()->value("state/start_dlg", true).toBool(), false);
}

void TestPreferences::startup_choosingAFolderStoresTheCheckBox()
{
    StartupDialog dialog;
    box(dialog, "dontShowCB")->setChecked(true);
    QCOMPARE(runPressing(dialog, [&dialog] { dialog.findChild<QPushButton*>("btnAny")->click(); }), 1);
    QCOMPARE(appSettings()->value("state/start_dlg", true).toBool(), false);
}

void TestPreferences::colorScheme_darkUnlessTurnedOff()
{
    apply_color_scheme();
    QVERIFY(is_dark_palette());

    appSettings()->setValue("dark_always", false);
    apply_color_scheme();
    // No desktop theme runs under the test display, so the platform's choice is light.
    QVERIFY(!is_dark_palette());

    appSettings()->setValue("dark_always", true);
    apply_color_scheme();
    QVERIFY(is_dark_palette());
    QVERIFY(is_dark_palette(dark_fusion_palette()));
}

QTEST_MAIN(TestPreferences)
#include "tst_preferences.moc"
