// Every viewer of this folder drawn in the dark and in the light palette: the page background
// follows the palette and the text stands out from it. Set PRISMET_SHOTS to a folder to keep
// the screenshots.

#include "tests/support/ViewerTestSupport.h"

#include "window/widgets/ColorScheme.h"
#include "window/viewers/CommentComponent.h"
#include "window/viewers/GenericTagComponent.h"
#include "window/widgets/GraphicsViewer.h"
#include "window/widgets/HoverInfoPopup.h"
#include "window/viewers/MLUComponent.h"

#include <QApplication>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

#include <array>
#include <functional>
#include <memory>

using namespace viewertest;

namespace {

// The most frequent grey level: the page background.
int backgroundGray(const QImage& image)
{
    std::array<int, 256> histogram{};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++histogram[size_t(qGray(image.pixel(x, y)))];
    return int(std::max_element(histogram.begin(), histogram.end()) - histogram.begin());
}

// Largest grey distance of any pixel from the background: how well the text stands out.
int contrastWithBackground(const QImage& image, int background)
{
    int best = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            best = std::max(best, std::abs(qGray(image.pixel(x, y)) - background));
    return best;
}

}  // namespace

class TestViewerLook : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void viewersFollowThePalette_data();
    void viewersFollowThePalette();
    void cleanupTestCase();

private:
    QPalette original_;
    ProfilePtr profile_;
};

void TestViewerLook::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    registerPermissiveReading();
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    original_ = QApplication::palette();
    const QByteArray bytes = buildProfile(
        {{krmSig("desc"), mlucType({{"en", "US", "Display profile"}, {"de", "DE", QString::fromUtf8("Bildschirmprofil")}})},
         {krmSig("cprt"), mlucType({{"en", "US", "Copyright line one\nline two"}})},
         {krmSig("zPrv"), be32(krmSig("zzzz")) + be32(0) + QByteArray("private bytes \x01\x02\x03", 17)}},
        0x04300000);
    profile_ = openFromBytes(bytes);
    QVERIFY(profile_);
}

void TestViewerLook::cleanupTestCase()
{
    QApplication::setPalette(original_);
}

void TestViewerLook::viewersFollowThePalette_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<QString>("viewer");
    for (const bool dark : {true, false})
        for (const char* viewer : {"mlu-table", "mlu-text", "comment", "raw", "graphics", "popup"})
            QTest::addRow("%s %s", dark ? "dark" : "light", viewer) << dark << QString::fromLatin1(viewer);
}

void TestViewerLook::viewersFollowThePalette()
{
    QFETCH(bool, dark);
    QFETCH(QString, viewer);
    QApplication::setPalette(dark ? dark_fusion_palette() : QApplication::style()->standardPalette());
    QCOMPARE(is_dark_palette(), dark);

    std::unique_ptr<QWidget> widget;
    QWidget* shot = nullptr;
    if (viewer == "mlu-table") {
        widget = std::make_unique<MLUComponent>(profile_.get(), krmSig("desc"));
    } else if (viewer == "mlu-text") {
        widget = std::make_unique<MLUComponent>(profile_.get(), krmSig("cprt"));
    } else if (viewer == "comment") {
        widget = std::make_unique<CommentComponent>(
            "Luminance", HtmlRows{{"Minimum", "0.050"}, {"Peak", "1000.000"}, {"White", format_xyz(0.9642, 1, 0.8249)}});
    } else if (viewer == "raw") {
        widget = std::make_unique<GenericTagComponent>(profile_.get(), krmSig("zPrv"));
    } else if (viewer == "graphics") {
        auto* view = new GraphicsViewer;
        auto* scene = new QGraphicsScene(view);
        QGraphicsTextItem* label = scene->addText(QStringLiteral("Scene text"));
        label->setDefaultTextColor(QApplication::palette().color(QPalette::Text));
        scene->setSceneRect(label->boundingRect().adjusted(-20, -20, 20, 20));
        view->setScene(scene);
        widget.reset(view);
    } else {
        widget = std::make_unique<QWidget>();
    }
    widget->resize(520, 260);
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
    shot = widget.get();

    std::unique_ptr<HoverInfoPopup> popup;
    if (viewer == "popup") {
        popup = std::make_unique<HoverInfoPopup>(widget.get());
        popup->show_info("Stage 2", "CLUT 17 &times; 17 &times; 17<br>3 &rarr; 3", widget->mapToGlobal(QPoint(5, 5)),
                         QColor(0xC0, 0x30, 0x30), "R 192 G 48 B 48");
        QVERIFY(popup->isVisible());
        shot = popup.get();
    }
    QApplication::processEvents();

    const QImage image = shot->grab().toImage();
    if (const QByteArray dir = qgetenv("PRISMET_SHOTS"); !dir.isEmpty())
        image.save(QString::fromLocal8Bit(dir) + QStringLiteral("/%1-%2.png").arg(viewer, dark ? "dark" : "light"));

    const int background = backgroundGray(image);
    QVERIFY2(dark ? background < 128 : background >= 128, qPrintable(QString::number(background)));
    QVERIFY2(contrastWithBackground(image, background) >= 120, qPrintable(viewer));
}

QTEST_MAIN(TestViewerLook)
#include "tst_viewerlook.moc"
