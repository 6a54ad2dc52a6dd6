// The window's comparisons: File > "Compare with profile…" shows prismet-cli diff's report and its
// tag links open the tag; "Plot image colours" in the proofing dock opens the Gamut view with the
// image's colours.

#include "tests/window/app/AppTestSupport.h"

#include "window/analyses/GamutHullTagComponent.h"
#include "window/analyses/ProfileDiffDialog.h"
#include "window/app/Prismet.h"
#include "window/overview/TagsListValueModel.h"
#include "window/overview/TagsTableView.h"
#include "window/proofing/ProofingWidget.h"
#include "window/widgets/AppSettings.h"
#include "window/widgets/ColorScheme.h"

#include <QImage>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTest>

namespace {

const QString kSrgb = QStringLiteral("/usr/share/color/icc/colord/sRGB.icc");
const QString kGsSrgb = QStringLiteral("/usr/share/color/icc/ghostscript/srgb.icc");
const QString kCmyk = QStringLiteral("/usr/share/color/icc/ghostscript/default_cmyk.icc");

void save_shot(QWidget* w, const QString& name)
{
    const QString dir = qEnvironmentVariable("PRISMET_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        w->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace

class TestCompareWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { apptest::isolateSettings(); }

    void diffDialog()
    {
        apptest::ModalWatcher watcher;
        Prismet window;
        window.resize(1200, 800);
        window.show();
        window.open_filename(kSrgb);
        QString report;
        watcher.setAnswer([&](QDialog* dialog) {
            auto* diff = qobject_cast<ProfileDiffDialog*>(dialog);
            QVERIFY(diff);
            report = diff->reportText();
            QTest::qWait(100);
            save_shot(diff, QStringLiteral("diff-dialog"));
            // The link of a differing tag selects it in the window.
            emit diff->browser()->anchorClicked(QUrl(QStringLiteral("tag:%1").arg(krmSig("wtpt"))));
            dialog->reject();
        });
        window.compare_with_file(kGsSrgb);

        QProcess cli;
        cli.start(QStringLiteral(PRISMET_CLI), {QStringLiteral("diff"), kSrgb, kGsSrgb});
        cli.waitForFinished(60000);
        QCOMPARE(cli.exitCode(), 3);
        QCOMPARE(report, QString::fromUtf8(cli.readAllStandardOutput()));
        auto* tags = window.findChild<TagsTableView*>();
        QCOMPARE(tags->tagsModel()->signatureAt(tags->currentIndex().row()), krmTagSignature(krmSig("wtpt")));

        if (!qEnvironmentVariableIsEmpty("PRISMET_SCREENSHOT_DIR")) {
            appSettings()->setValue("dark_always", true);
            window.change_palette();
            watcher.setAnswer([](QDialog* dialog) {
                QTest::qWait(100);
                save_shot(dialog, QStringLiteral("diff-dialog-dark"));
                dialog->reject();
            });
            window.compare_with_file(kGsSrgb);
            save_shot(&window, QStringLiteral("window-dark"));
        }
    }

    void plotImageColours()
    {
        apptest::ModalWatcher watcher;
        appSettings()->setValue("dark_always", false);
        apply_color_scheme();
        Prismet window;
        window.resize(1200, 900);
        window.show();
        window.open_filename(kCmyk);
        QTemporaryDir dir;
        QImage img(40, 10, QImage::Format_RGB888);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 40; ++x)
                img.setPixel(x, y, y < 3 ? qRgb(0, 0, 255) : (y < 6 ? qRgb(0, 255, 0) : qRgb(128, 128, 128)));
        const QString file = dir.filePath(QStringLiteral("bands.png"));
        QVERIFY(img.save(file));
        auto* proofing = window.findChild<ProofingWidget*>();
        QVERIFY(!proofing->plotButton()->isEnabled());
        QVERIFY(proofing->load_image_file(file));
        QVERIFY(proofing->plotButton()->isEnabled());
        proofing->plotButton()->click();
        auto* gamut = qobject_cast<GamutHullTagComponent*>(window.findChild<QTabWidget*>("tagTabbedViewer")->currentWidget());
        QVERIFY(gamut);
        QCOMPARE(gamut->imageOutsideShare(), 0.6);
        QVERIFY(watcher.seen.isEmpty());
        QTest::qWait(200);
        save_shot(&window, QStringLiteral("plot-image-colours-light"));

        // A palette change rebuilds the viewers; the new Gamut view shows the image again.
        QPointer<GamutHullTagComponent> old = gamut;
        appSettings()->setValue("dark_always", true);
        window.change_palette();
        QTRY_VERIFY(old.isNull());
        auto* tabs = window.findChild<QTabWidget*>("tagTabbedViewer");
        gamut = nullptr;
        for (int i = 0; i < tabs->count() && !gamut; ++i)
            gamut = qobject_cast<GamutHullTagComponent*>(tabs->widget(i));
        QVERIFY(gamut);
        tabs->setCurrentWidget(gamut);
        QCOMPARE(gamut->imageOutsideShare(), 0.6);
        QTest::qWait(200);
        save_shot(&window, QStringLiteral("plot-image-colours-dark"));
        appSettings()->setValue("dark_always", false);
        window.change_palette();
        GamutHullTagComponent::set_image_cloud(nullptr);
    }
};

QTEST_MAIN(TestCompareWindow)
#include "tst_compare.moc"
