// Two gamuts and an image's colours in the Gamut view: the figures equal prismet-cli's for the
// same pair, the comparison outlives a tag and palette change, clearing restores the view.

#include "common/analysis/ImageGamut.h"
#include "krm.h"
#include "tests/window/app/AppTestSupport.h"
#include "window/analyses/GamutHullTagComponent.h"
#include "window/widgets/AppSettings.h"

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMimeData>
#include <QDropEvent>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const char kCMYK[] = "/usr/share/color/icc/ghostscript/default_cmyk.icc";
const char kSRGB[] = "/usr/share/color/icc/colord/sRGB.icc";

struct ProfileCloser {
    void operator()(std::remove_pointer_t<krmProfile>* p) const { krmCloseProfile(p); }
};
using ProfilePtr = std::unique_ptr<std::remove_pointer_t<krmProfile>, ProfileCloser>;

QJsonObject cli_json(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(PRISMET_CLI), args + QStringList{QStringLiteral("--json")});
    p.waitForFinished(120000);
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

// Bands of sRGB blue, green and mid grey (30 %, 30 %, 40 % of the rows).
QImage bands(int width, int height)
{
    QImage img(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        const QRgb c = y < height * 3 / 10 ? qRgb(0, 0, 255) : (y < height * 6 / 10 ? qRgb(0, 255, 0) : qRgb(128, 128, 128));
        for (int x = 0; x < width; ++x)
            img.setPixel(x, y, c);
    }
    return img;
}

void save_shot(QWidget& w, const QString& name)
{
    const QString dir = qEnvironmentVariable("PRISMET_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    w.resize(900, 640);
    w.show();
    QTest::qWait(200);
    w.grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

QPalette dark_palette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(40, 40, 40));
    p.setColor(QPalette::WindowText, Qt::white);
    p.setColor(QPalette::Base, QColor(30, 30, 30));
    p.setColor(QPalette::Text, Qt::white);
    p.setColor(QPalette::Button, QColor(50, 50, 50));
    p.setColor(QPalette::ButtonText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(230, 140, 40));
    return p;
}

} // namespace

class TestGamutCompare : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { apptest::isolateSettings(); }

    // For each tag of the press profile, the view's shares are the command line's for the same
    // pair; a fresh view (a tag change, a palette change rebuilds the views) keeps comparing.
    void overlap_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("intent");
        QTest::addColumn<bool>("darkPalette");
        QTest::newRow("A2B0") << QStringLiteral("A2B0") << 0 << false;
        QTest::newRow("A2B1 after a tag change") << QStringLiteral("A2B1") << 1 << false;
        QTest::newRow("A2B1 after a palette change") << QStringLiteral("A2B1") << 1 << true;
    }

    void overlap()
    {
        QFETCH(QString, tag);
        QFETCH(int, intent);
        QFETCH(bool, darkPalette);
        const QPalette before = QApplication::palette();
        if (darkPalette)
            QApplication::setPalette(dark_palette());
        ProfilePtr cmyk(krmOpenProfileFromFile(kCMYK, "r"));
        const QByteArray sig = tag.toLatin1();
        GamutHullTagComponent view(cmyk.get(), krmTagSignature(sig[0]) << 24 | krmTagSignature(sig[1]) << 16 | krmTagSignature(sig[2]) << 8 | krmTagSignature(sig[3]));
        if (QTest::currentDataTag() == QLatin1String("A2B0"))
            QVERIFY(view.compare_with(QString::fromLatin1(kSRGB)));
        view.tabSelected();
        QVERIFY(view.isComputed());
        QVERIFY(view.isComparing());
        QCOMPARE(view.otherTag(), krmTagSignature(0x7FFFFFF0));  // sRGB's matrix-shaper

        const QJsonObject compare = cli_json({QStringLiteral("gamut"), QStringLiteral("--tag"), tag, QStringLiteral("--intent"),
                                              QString::number(intent), QStringLiteral("--compare"), QString::fromLatin1(kSRGB),
                                              QString::fromLatin1(kCMYK)})
                                        .value(QStringLiteral("compare"))
                                        .toObject();
        const double aInB = compare.value(QStringLiteral("profile_inside_other")).toObject().value(QStringLiteral("percent")).toDouble();
        const double bInA = compare.value(QStringLiteral("other_inside_profile")).toObject().value(QStringLiteral("percent")).toDouble();
        QVERIFY(aInB > 0 && bInA > 0);
        QCOMPARE(100.0 * view.profileInsideOther(), aInB);
        QCOMPARE(100.0 * view.otherInsideProfile(), bInA);
        QVERIFY2(view.legendText().contains(QStringLiteral("A inside B: %1 % (\u00b1").arg(aInB, 0, 'f', 1)),
                 qPrintable(view.legendText()));
        QVERIFY(view.legend()->isVisibleTo(&view));
        QCOMPARE(view.comparisonMesh(), view.view()->meshCount() - 1);
        QCOMPARE(view.view()->meshMode(view.comparisonMesh()), MeshWireframe);
        save_shot(view, QStringLiteral("gamut-compare-%1-%2").arg(tag, darkPalette ? "dark" : "light"));
        if (darkPalette)
            QApplication::setPalette(before);
    }

    // The translucent mode is remembered; clearing takes the second mesh and the legend away,
    // and later views no longer compare.
    void clear()
    {
        ProfilePtr cmyk(krmOpenProfileFromFile(kCMYK, "r"));
        GamutHullTagComponent view(cmyk.get(), krmSig("A2B1"));
        view.tabSelected();
        QVERIFY(view.isComparing());
        view.compareModeCombo()->setCurrentIndex(1);
        QCOMPARE(view.view()->meshMode(view.comparisonMesh()), MeshTranslucent);
        QCOMPARE(appSettings()->value("gamut_compare_mode").toInt(), 1);
        const int meshes = view.view()->meshCount();
        view.clear_comparison();
        QCOMPARE(view.view()->meshCount(), meshes - 1);
        QCOMPARE(view.comparisonMesh(), -1);
        QVERIFY(!view.legend()->isVisibleTo(&view));
        GamutHullTagComponent later(cmyk.get(), krmSig("A2B1"));
        later.tabSelected();
        QVERIFY(!later.isComparing());
        QCOMPARE(later.compareModeCombo()->currentIndex(), 1);
        // A profile that cannot be read leaves the view as it was, saying why.
        QVERIFY(!later.compare_with(QStringLiteral("/nonexistent.icc")));
        QCOMPARE(later.view()->meshCount(), meshes - 1);
        QVERIFY(later.legend()->text().startsWith(QStringLiteral("Cannot compare with nonexistent.icc")));
        // A profile dropped onto the view is compared.
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromLatin1(kSRGB))});
        // A drop goes to the widget that accepted the drag's entry.
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&later, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&later, &drop);
        QVERIFY(later.isComparing());
        QCOMPARE(later.view()->meshCount(), meshes);
        later.clear_comparison();
    }

    // The proofing dock's samples of an image of sRGB primaries against the press gamut: blue
    // and green outside (drawn as cubes), grey inside; the share is the command line's.
    void image_colours()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("bands.png"));
        const QImage img = bands(50, 20);
        QVERIFY(img.save(file));
        ProfilePtr srgb(krmCreate_sRGBProfile());
        ImagePixels pixels;
        pixels.data = img.constBits();
        pixels.width = img.width();
        pixels.height = img.height();
        pixels.bytesPerLine = std::size_t(img.bytesPerLine());
        pixels.bytesPerPixel = 3;
        pixels.format = krmFmtRGB8;
        pixels.profile = srgb.get();
        auto cloud = std::make_shared<ImageColourCloud>();
        cloud->name = "bands.png";
        cloud->pixels = 1000;
        cloud->lab = image_lab_samples(pixels);
        GamutHullTagComponent::set_image_cloud(cloud);

        ProfilePtr cmyk(krmOpenProfileFromFile(kCMYK, "r"));
        GamutHullTagComponent view(cmyk.get(), krmSig("A2B1"));
        view.tabSelected();
        QCOMPARE(view.imageOutsideShare(), 0.6);
        const int n = view.view()->meshCount();
        QCOMPARE(view.view()->meshMode(n - 1), MeshCubes);
        QCOMPARE(view.view()->meshSource(n - 1).vertexCount(), std::size_t(600));
        QCOMPARE(view.view()->meshMode(n - 2), MeshPoints);
        QCOMPARE(view.view()->meshSource(n - 2).vertexCount(), std::size_t(400));
        const QJsonObject image = cli_json({QStringLiteral("gamut"), QStringLiteral("--image"), file, QString::fromLatin1(kCMYK)})
                                      .value(QStringLiteral("image"))
                                      .toObject();
        QCOMPARE(image.value(QStringLiteral("outside_percent")).toDouble(), 100.0 * view.imageOutsideShare());
        QVERIFY(view.legendText().contains(QStringLiteral("60.0 %")));
        view.styleCombo()->setCurrentIndex(2);  // wireframe: the inside points show
        save_shot(view, QStringLiteral("gamut-image-light"));
        view.compare_with(QString::fromLatin1(kSRGB));
        QApplication::setPalette(dark_palette());
        GamutHullTagComponent darkView(cmyk.get(), krmSig("A2B1"));
        darkView.tabSelected();
        save_shot(darkView, QStringLiteral("gamut-image-dark"));
        view.clear_comparison();
        GamutHullTagComponent::set_image_cloud(nullptr);
    }
};

QTEST_MAIN(TestGamutCompare)
#include "tst_gamutcompare.moc"
