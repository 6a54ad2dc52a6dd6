// The proofing view: what it paints against the engine's own transforms of the image's samples,
// the option and chain rules, the hover values, loading and its messages.
#include "window/widgets/ErrorDialog.h"
#include "window/app/PrismetApp.h"
#include "imaging/CmykJpeg.h"
#include "imaging/ImageProfiles.h"
#include "imaging/TiffCodec.h"
#include "window/widgets/BuiltinProfiles.h"
#include "window/widgets/DisplayProfile.h"
#include "window/widgets/ICCProfileSelector.h"
#include "window/proofing/ImageViewer.h"
#include "window/widgets/ProfileComboBox.h"
#include "window/proofing/ProofingWidget.h"
#include "window/widgets/HoverInfoPopup.h"

#include <krm.h>

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QMimeData>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <memory>

namespace {

const QString kColord = QStringLiteral("/usr/share/color/icc/colord/");
const QString kGhostscript = QStringLiteral("/usr/share/color/icc/ghostscript/");

struct ProfileCloser {
    void operator()(krmProfile p) const { krmCloseProfile(p); }
};
using Profile = std::unique_ptr<std::remove_pointer_t<krmProfile>, ProfileCloser>;

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Smooth ramps over the whole sample range, the same for every format.
RasterImage ramps(krmColorSpaceSignature space, int depth, int width = 48, int height = 20)
{
    RasterImage r;
    r.width = width;
    r.height = height;
    r.space = space;
    r.colorChannels = space == krmSig("GRAY") ? 1 : space == krmSig("CMYK") ? 4 : 3;
    r.bytesPerSample = depth / 8;
    r.allocate(kDefaultMaxImageBytes);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < r.colorChannels; ++c) {
                const double v = std::fmod((x * (c + 1) * 0.021) + y * 0.043 + c * 0.19, 1.0);
                uchar* p = r.scanLine(y) + (x * r.colorChannels + c) * r.bytesPerSample;
                if (depth == 8) {
                    *p = uchar(v * 255);
                } else {
                    const quint16 w = quint16(v * 65535);
                    std::memcpy(p, &w, 2);
                }
            }
    return r;
}

QByteArray pngOf(const RasterImage& r, const QByteArray& icc)
{
    QImage q;
    if (r.space == krmSig("GRAY")) {
        q = QImage(r.width, r.height, r.bytesPerSample == 2 ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8);
        for (int y = 0; y < r.height; ++y)
            std::memcpy(q.scanLine(y), r.scanLine(y), size_t(r.bytesPerLine));
    } else {
        q = QImage(r.width, r.height, r.bytesPerSample == 2 ? QImage::Format_RGBX64 : QImage::Format_RGB888);
        for (int y = 0; y < r.height; ++y)
            for (int x = 0; x < r.width; ++x) {
                uchar* to = q.scanLine(y) + x * (r.bytesPerSample == 2 ? 8 : 3);
                std::memcpy(to, r.scanLine(y) + x * r.bytesPerPixel(), size_t(r.bytesPerPixel()));
                if (r.bytesPerSample == 2)
                    std::memset(to + 6, 0xFF, 2);
            }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    q.save(&buffer, "png");
    return icc.isEmpty() ? bytes : embedProfilePng(bytes, icc);
}

// Runs `action` and returns the message of the error dialog it opens (closing it), or empty.
QString messageOf(const std::function<void()>& action)
{
    QString message;
    QTimer::singleShot(0, [&message] {
        if (auto* dialog = qobject_cast<ErrorDialog*>(QApplication::activeModalWidget())) {
            message = dialog->message();
            dialog->reject();
        }
    });
    action();
    return message;
}

} // namespace

class TestProofingWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void paintsTheEngineTransformOfOwnSamples_data();
    void paintsTheEngineTransformOfOwnSamples();
    void imageProfileFollowsTheFile();
    void chainsAndOptionRules();
    void hoverShowsProofedDeviceValues();
    void messagesAndZoomAcrossLoads();

private:
    QString write(const QString& name, const QByteArray& bytes);
    ProofingWidget* makeWidget();

    QTemporaryDir dataHome_;
    QTemporaryDir configHome_;
    QTemporaryDir files_;
    std::vector<std::unique_ptr<ProofingWidget>> widgets_;
};

void TestProofingWidget::initTestCase()
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome_.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome_.path()));
    registerPrismetResources();
    // The untagged CMYK image takes the CMYK profile chosen in the selector's folder.
    appSettings()->setValue(QStringLiteral("img_dir"), kGhostscript);
    appSettings()->setValue(QStringLiteral("img_prf"), QStringLiteral("ps_cmyk.icc"));
}

QString TestProofingWidget::write(const QString& name, const QByteArray& bytes)
{
    const QString path = files_.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
    return path;
}

ProofingWidget* TestProofingWidget::makeWidget()
{
    widgets_.push_back(std::make_unique<ProofingWidget>());
    ProofingWidget* w = widgets_.back().get();
    w->resize(420, 320);
    w->show();
    return w;
}

void TestProofingWidget::paintsTheEngineTransformOfOwnSamples_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("lossless");
    const QByteArray rgb = fileBytes(kColord + QStringLiteral("AdobeRGB1998.icc"));
    const QByteArray gray = fileBytes(kGhostscript + QStringLiteral("sgray.icc"));
    const QByteArray cmyk = fileBytes(kGhostscript + QStringLiteral("default_cmyk.icc"));
    auto tiff = [](const RasterImage& r, const QByteArray& icc) {
        QByteArray out;
        QString error;
        writeTiff(r, icc, out, error);
        return out;
    };
    for (const bool tagged : {false, true}) {
        const QString t = tagged ? QStringLiteral("tagged") : QStringLiteral("untagged");
        auto row = [&](const QString& name, const QByteArray& bytes, bool lossless = true) {
            QTest::newRow(qPrintable(name + QLatin1Char(' ') + t)) << write(name + t, bytes) << lossless;
        };
        row(QStringLiteral("png rgb8"), pngOf(ramps(krmSig("RGB "), 8), tagged ? rgb : QByteArray()));
        row(QStringLiteral("png rgb16"), pngOf(ramps(krmSig("RGB "), 16), tagged ? rgb : QByteArray()));
        row(QStringLiteral("png gray8"), pngOf(ramps(krmSig("GRAY"), 8), tagged ? gray : QByteArray()));
        row(QStringLiteral("tiff gray16"), tiff(ramps(krmSig("GRAY"), 16), tagged ? gray : QByteArray()));
        row(QStringLiteral("tiff rgb8"), tiff(ramps(krmSig("RGB "), 8), tagged ? rgb : QByteArray()));
        row(QStringLiteral("tiff cmyk8"), tiff(ramps(krmSig("CMYK"), 8), tagged ? cmyk : QByteArray()));
        row(QStringLiteral("tiff cmyk16"), tiff(ramps(krmSig("CMYK"), 16), tagged ? cmyk : QByteArray()));
        const QByteArray jpeg = writeCmykJpeg(ramps(krmSig("CMYK"), 8), 95);
        row(QStringLiteral("jpeg cmyk"), tagged ? embedProfileJpeg(jpeg, cmyk) : jpeg, false);
    }
}

void TestProofingWidget::paintsTheEngineTransformOfOwnSamples()
{
    QFETCH(QString, path);
    ProofingWidget* w = makeWidget();
    Profile proofed(krmOpenProfileFromFile((kGhostscript + QStringLiteral("ps_cmyk.icc")).toUtf8().constData(), "r"));
    QVERIFY(proofed);
    w->set_profile(proofed.get());
    QVERIFY(w->load_image_file(path));
    QVERIFY(QTest::qWaitForWindowExposed(w));
    const RasterImage& image = w->image();
    QVERIFY(!image.isNull());
    // The image's profile, opened anew: the embedded one, or the selector's choice.
    Profile source(image.icc.isEmpty()
                       ? open_profile_by_name(w->imageProfileSelector()->currentProfile())
                       : krmOpenProfileFromMem(image.icc.constData(), krmUInt32Number(image.icc.size())));
    QVERIFY(source);
    QCOMPARE(krmGetProfileColorSpace(source.get()), image.space);
    Profile display(display_profile());

    // At 1:1 from the top-left corner every image pixel is one whole viewport pixel.
    ImageViewer* view = w->imageViewer();
    view->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    view->resetTransform();
    auto* soft = w->findChild<QCheckBox*>(QStringLiteral("softProofing"));
    auto* gamut = w->findChild<QCheckBox*>(QStringLiteral("gamutCheck"));
    QVERIFY(soft->isEnabled());
    // Straight to the screen, proofed, and proofed with the gamut alarm (its codes as the widget
    // leaves them, its chain as the widget builds it).
    for (const int mode : {0, 1, 2}) {
        const bool proof = mode > 0;
        soft->setChecked(proof);
        gamut->setChecked(mode == 2);
        krmTransform expected = nullptr;
        if (mode == 2) {
            ProofingWidget::Chain chain = w->display_chain(display.get());
            // An image in the proofed profile itself has no alarm (tested with the option rules).
            if (!(chain.flags & krmFlagGamutCheck))
                continue;
            std::vector<krmFloat64Number> adaptation(chain.profiles.size(), 1.0);
            expected = krmCreateExtendedTransform(nullptr, krmUInt32Number(chain.profiles.size()), chain.profiles.data(),
                                                  chain.bpc.data(), chain.intents.data(), adaptation.data(),
                                                  proofed.get(), 1, image.engineFormat(), krmFmtBGRA8,
                                                  chain.flags & ~krmFlagCopyAlpha);
        } else if (proof) {
            krmProfile chain[] = {source.get(), proofed.get(), proofed.get(), display.get()};
            krmUInt32Number intents[] = {1, 1, 1, 1};
            krmBool bpc[] = {false, false, true, true};
            double adaptation[] = {1, 1, 1, 1};
            expected = krmCreateExtendedTransform(nullptr, 4, chain, bpc, intents, adaptation, proofed.get(), 1,
                                                  image.engineFormat(), krmFmtBGRA8,
                                                  krmFlagSoftProofing | krmFlagNoWhiteOnWhiteFixup);
        } else {
            expected = krmCreateTransform(source.get(), image.engineFormat(), display.get(), krmFmtBGRA8, 1,
                                          krmFlagNoWhiteOnWhiteFixup);
        }
        QVERIFY(expected);
        const QImage shown = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int differing = 0;
        for (int y = 0; y < image.height; ++y) {
            std::vector<QRgb> line(size_t(image.width));
            krmDoTransform(expected, image.scanLine(y), line.data(), krmUInt32Number(image.width));
            for (int x = 0; x < image.width; ++x) {
                const QPointF centre = view->viewportTransform().map(QPointF(x + 0.5, y + 0.5));
                const QPoint at(int(std::floor(centre.x())), int(std::floor(centre.y())));
                if ((shown.pixel(at) & 0xFFFFFF) != (line[size_t(x)] & 0xFFFFFF)) {
                    ++differing;
                }
            }
        }
        krmDeleteTransform(expected);
        if (mode == 2 && !qEnvironmentVariableIsEmpty("PRISMET_SCREENSHOT_DIR"))
            shown.save(QDir(qEnvironmentVariable("PRISMET_SCREENSHOT_DIR"))
                           .filePath(QFileInfo(path).completeBaseName() + QStringLiteral("-gamut.png")));
        QVERIFY2(differing == 0, qPrintable(QStringLiteral("%1 pixels differ (mode %2)").arg(differing).arg(mode)));
    }
}

void TestProofingWidget::imageProfileFollowsTheFile()
{
    ProofingWidget* w = makeWidget();
    ICCProfileSelector* selector = w->imageProfileSelector();
    QVERIFY(!selector->isEnabled());
    const QByteArray adobe = fileBytes(kColord + QStringLiteral("AdobeRGB1998.icc"));
    QVERIFY(w->load_image_file(write(QStringLiteral("tagged.png"), pngOf(ramps(krmSig("RGB "), 8), adobe))));
    QVERIFY(selector->isEnabled());
    QCOMPARE(selector->currentProfile(), QStringLiteral("*user"));
    QVERIFY(selector->comboBox()->currentText().endsWith(QStringLiteral("(Embedded)")));

    // No profile in the file: sRGB, for PNG as for BMP; an untagged gray image: gray 2.2.
    QVERIFY(w->load_image_file(write(QStringLiteral("plain.png"), pngOf(ramps(krmSig("RGB "), 8), QByteArray()))));
    QCOMPARE(selector->currentProfile(), QStringLiteral("*srgb"));
    QVERIFY(!has_user_profile());
    QImage bmp(8, 8, QImage::Format_RGB888);
    bmp.fill(Qt::darkCyan);
    QVERIFY(bmp.save(files_.filePath(QStringLiteral("plain.bmp"))));
    QVERIFY(w->load_image_file(files_.filePath(QStringLiteral("plain.bmp"))));
    QCOMPARE(selector->currentProfile(), QStringLiteral("*srgb"));
    QVERIFY(w->load_image_file(write(QStringLiteral("plain-gray.png"), pngOf(ramps(krmSig("GRAY"), 8), QByteArray()))));
    QCOMPARE(selector->currentProfile(), QStringLiteral("*gray22"));

    // Pasted images are RGB and leave the stored profile alone.
    QGuiApplication::clipboard()->setImage(bmp);
    w->paste_image();
    QCOMPARE(w->image().width, 8);
    QCOMPARE(w->image().space, krmSig("RGB "));

    // Nothing of all this lands in the user's profile folder.
    const QDir icc(QDir(dataHome_.path()).filePath(QStringLiteral("icc")));
    QVERIFY(!icc.exists() || icc.isEmpty());
}

void TestProofingWidget::chainsAndOptionRules()
{
    ProofingWidget* w = makeWidget();
    auto* soft = w->findChild<QCheckBox*>(QStringLiteral("softProofing"));
    auto* ink = w->findChild<QCheckBox*>(QStringLiteral("simulateBlackInk"));
    auto* media = w->findChild<QCheckBox*>(QStringLiteral("simulateMediaColor"));
    auto* gamut = w->findChild<QCheckBox*>(QStringLiteral("gamutCheck"));
    auto* intents = w->findChild<QComboBox*>(QStringLiteral("intentBox"));
    QVERIFY(w->load_image_file(write(QStringLiteral("rules.png"), pngOf(ramps(krmSig("RGB "), 8), QByteArray()))));
    Profile display(display_profile());

    Profile cmyk(krmOpenProfileFromFile((kGhostscript + QStringLiteral("ps_cmyk.icc")).toUtf8().constData(), "r"));
    w->set_profile(cmyk.get());
    QVERIFY(soft->isEnabled() && !gamut->isEnabled());
    soft->setChecked(true);
    QVERIFY(ink->isEnabled() && media->isEnabled() && gamut->isEnabled());
    QCOMPARE(w->display_chain(display.get()).profiles.size(), size_t(4));

    // Rel.Col + BPC: intent 1, compensation on the first two positions only.
    intents->setCurrentIndex(2);
    ProofingWidget::Chain chain = w->display_chain(display.get());
    QCOMPARE(chain.intents, (std::vector<krmUInt32Number>{1, 1, 1, 1}));
    QCOMPARE(chain.bpc, (std::vector<krmBool>{true, true, true, true}));
    ink->setChecked(true);
    chain = w->display_chain(display.get());
    QCOMPARE(chain.bpc, (std::vector<krmBool>{true, true, false, false}));
    QVERIFY(chain.flags & krmFlagBlackPointCompensation);

    // Media colour: absolute back to the screen, black ink unchecked and disabled.
    media->setChecked(true);
    QVERIFY(!ink->isChecked() && !ink->isEnabled());
    QCOMPARE(w->display_chain(display.get()).intents[2], krmUInt32Number(3));
    media->setChecked(false);
    QVERIFY(ink->isEnabled());

    // Gamut check outlives soft proofing: still checked, disabled, and the proof chain stays.
    gamut->setChecked(true);
    soft->setChecked(false);
    QVERIFY(gamut->isChecked() && !gamut->isEnabled());
    chain = w->display_chain(display.get());
    QVERIFY(chain.proof && (chain.flags & krmFlagGamutCheck) && !(chain.flags & krmFlagSoftProofing));
    QVERIFY(!ink->isEnabled());
    // The alarm's threshold stands beside the box: the engine's ΔE76 5 for a LUT profile.
    QCOMPARE(w->gamutThresholdText(), QStringLiteral("(alarm above \u0394E76 5)"));
    QCOMPARE(w->findChild<QLabel*>(QStringLiteral("gamutThreshold"))->text(), w->gamutThresholdText());
    // A CMYK picture proofed through the very profile it is in has nothing out of gamut: no
    // alarm for the roundtrip's own error.
    QByteArray own;
    QString error;
    QVERIFY(writeTiff(ramps(krmSig("CMYK"), 8), fileBytes(kGhostscript + QStringLiteral("ps_cmyk.icc")), own, error));
    QVERIFY(w->load_image_file(write(QStringLiteral("own.tif"), own)));
    chain = w->display_chain(display.get());
    QVERIFY(chain.proof && !(chain.flags & krmFlagGamutCheck));
    QVERIFY(w->gamutThresholdText().contains(QStringLiteral("nothing is out of gamut")));

    // An L*a*b* proof is its own way back: three profiles.
    Profile lab(open_profile_by_name(QStringLiteral("*lab")));
    w->set_profile(lab.get());
    QCOMPARE(w->display_chain(display.get()).profiles.size(), size_t(3));

    // A device link cannot be proofed through; the picture keeps its transform.
    Profile link(open_profile_by_name(QStringLiteral("*srgb")));
    krmSetProfileClass(link.get(), krmSig("link"));
    krmSetProfilePCS(link.get(), krmSig("CMYK"));
    soft->setChecked(true);
    const krmTransform before = w->imageViewer()->colorTransform();
    w->set_profile(link.get());
    QVERIFY(!soft->isEnabled());
    QCOMPARE(w->imageViewer()->colorTransform(), before);

    // A named-colour profile: all four options off and disabled, the picture straight to the screen.
    Profile named(open_profile_by_name(QStringLiteral("*srgb")));
    krmSetProfileClass(named.get(), krmSig("nmcl"));
    w->set_profile(named.get());
    for (QCheckBox* box : {soft, ink, media, gamut})
        QVERIFY(!box->isChecked() && !box->isEnabled());
    QVERIFY(!w->display_chain(display.get()).proof);
    QVERIFY(!w->hoverTransform());
    w->set_profile(nullptr);
}

void TestProofingWidget::hoverShowsProofedDeviceValues()
{
    ProofingWidget* w = makeWidget();
    QVERIFY(w->load_image_file(write(QStringLiteral("hover.png"), pngOf(ramps(krmSig("RGB "), 8), QByteArray()))));
    Profile cmyk(krmOpenProfileFromFile((kGhostscript + QStringLiteral("ps_cmyk.icc")).toUtf8().constData(), "r"));
    w->set_profile(cmyk.get());
    w->findChild<QComboBox*>(QStringLiteral("intentBox"))->setCurrentIndex(2);

    // The rows equal the engine's floating-point inks of the pixel (BPC with Rel.Col + BPC).
    Profile srgb(open_profile_by_name(QStringLiteral("*srgb")));
    krmTransform t = krmCreateTransform(srgb.get(), w->image().engineFormat(), cmyk.get(), krmFmtCMYKFloat, 1,
                                        krmFlagNoOptimize | krmFlagNoWhiteOnWhiteFixup | krmFlagBlackPointCompensation);
    float inks[4];
    krmDoTransform(t, w->image().scanLine(3) + 5 * 3, inks, 1);
    krmDeleteTransform(t);
    const QString table = w->value_table(QPoint(5, 3));
    const char* labels[] = {"Cyan", "Magenta", "Yellow", "Black"};
    for (int c = 0; c < 4; ++c)
        QVERIFY2(table.contains(QStringLiteral("<b>%1:</b></td><td align='right'>%2%</td>")
                                    .arg(QLatin1String(labels[c]), QString::number(inks[c], 'f', 1))),
                 qPrintable(table));

    // An RGB proof shows integers 0-255.
    Profile adobe(krmOpenProfileFromFile((kColord + QStringLiteral("AdobeRGB1998.icc")).toUtf8().constData(), "r"));
    w->set_profile(adobe.get());
    QVERIFY(QRegularExpression(QStringLiteral("<b>Red:</b></td><td align='right'>\\d{1,3}</td>")).match(w->value_table(QPoint(0, 0))).hasMatch());

    // Moving onto the picture shows the popup, moving off it hides it.
    QVERIFY(QTest::qWaitForWindowExposed(w));
    ImageViewer* view = w->imageViewer();
    view->resetTransform();
    auto move = [&](const QPoint& to) {
        QMouseEvent e(QEvent::MouseMove, QPointF(to), QPointF(view->viewport()->mapToGlobal(to)), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &e);
    };
    move(view->mapFromScene(QPointF(4.5, 4.5)));
    QTRY_VERIFY(w->hoverPopup()->isVisible());
    QVERIFY(w->hoverPopup()->shownText().contains(QStringLiteral("Red:")));
    move(view->mapFromScene(QPointF(-3, -3)));
    QTRY_VERIFY(!w->hoverPopup()->isVisible());
    w->set_profile(nullptr);
}

void TestProofingWidget::messagesAndZoomAcrossLoads()
{
    ProofingWidget* w = makeWidget();
    QCOMPARE(messageOf([&] { w->load_image_file(files_.filePath(QStringLiteral("none.png"))); }),
             QStringLiteral("This is not an image file"));
    const QString text = write(QStringLiteral("text.png"), QByteArray("not an image at all"));
    QVERIFY(messageOf([&] { w->load_image_file(text); }).startsWith(QStringLiteral("Cannot read from ")));
    const QByteArray png = pngOf(ramps(krmSig("RGB "), 8, 300, 200), QByteArray());
    const QString cut = write(QStringLiteral("cut.png"), png.left(60));
    QVERIFY(messageOf([&] { w->load_image_file(cut); }).startsWith(QStringLiteral("Cannot load ")));
    QVERIFY(w->image().isNull());

    // Loaded while the dock is still tiny, the picture is fitted again once the view gets its size.
    ImageViewer* view = w->imageViewer();
    const auto fitScale = [view](double width, double height) {
        return std::min(view->viewport()->width() / width, view->viewport()->height() / height);
    };
    w->resize(140, 130);
    QApplication::processEvents();
    QVERIFY(w->load_image_file(write(QStringLiteral("zoom.png"), png)));
    w->resize(900, 700);
    QApplication::processEvents();
    QVERIFY(std::abs(view->currentScale() - fitScale(300, 200)) < 1e-6);
    // Zooming works from a scale below the zoom range (a large picture fitted to a small view).
    view->resetTransform();
    view->scale(0.05, 0.05);
    w->zoom_in();
    QVERIFY(std::abs(view->currentScale() - 0.055) < 1e-9);
    // Once zoomed, resizing keeps the zoom; "100 %" and "Fit" are in the menu and work.
    view->resetTransform();
    w->zoom_in();
    w->zoom_in();
    QVERIFY(std::abs(view->currentScale() - 1.21) < 1e-9);
    w->resize(800, 650);
    QApplication::processEvents();
    QVERIFY(std::abs(view->currentScale() - 1.21) < 1e-9);
    QStringList menu;
    for (QAction* action : w->contextMenu()->actions()) {
        menu << action->text();
        if (action->text() == QStringLiteral("100 %"))
            action->trigger();
    }
    QVERIFY(menu.contains(QStringLiteral("Fit")) && menu.contains(QStringLiteral("100 %")));
    QCOMPARE(view->currentScale(), 1.0);
    // Every new picture is fitted.
    QVERIFY(w->load_image_file(write(QStringLiteral("zoom2.png"), pngOf(ramps(krmSig("GRAY"), 16, 90, 60), QByteArray()))));
    QVERIFY(std::abs(view->currentScale() - fitScale(90, 60)) < 1e-6);
    // A cut file after a good one leaves the good one shown.
    QVERIFY(!messageOf([&] { w->load_image_file(cut); }).isEmpty());
    QCOMPARE(w->image().width, 90);

    // A file dropped on the picture is loaded and announced.
    QSignalSpy loaded(w, &ProofingWidget::image_loaded);
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(files_.filePath(QStringLiteral("zoom.png")))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &drop);
    delete mime;
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(w->image().width, 300);
}

QTEST_MAIN(TestProofingWidget)
#include "tst_proofingwidget.moc"
