#include "window/proofing/ProofingWidget.h"
#include "common/analysis/ImageGamut.h"

#include "window/widgets/AppSettings.h"
#include "window/widgets/ErrorDialog.h"
#include "window/widgets/AppSettings.h"
#include "window/widgets/DebugLogPanel.h"
#include "window/widgets/AppSettings.h"
#include "imaging/ImageDecoder.h"
#include "window/widgets/AppSettings.h"
#include "window/widgets/BuiltinProfiles.h"
#include "window/widgets/DisplayProfile.h"
#include "window/widgets/ICCProfileSelector.h"
#include "window/proofing/ImageLoading.h"
#include "window/proofing/ImageViewer.h"
#include "window/widgets/HoverInfoPopup.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPixmap>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <cmath>
#include <ctime>

namespace {

// Intent box items: text and intent number; 4 is relative colorimetric with black point
// compensation.
struct IntentItem {
    const char* text;
    int intent;
};
const IntentItem kIntents[] = {
    {QT_TRANSLATE_NOOP("ProofingWidget", "Perceptual"), 0},
    {QT_TRANSLATE_NOOP("ProofingWidget", "Relative Colorimetric"), 1},
    {QT_TRANSLATE_NOOP("ProofingWidget", "Rel.Col + BPC"), 4},
    {QT_TRANSLATE_NOOP("ProofingWidget", "Saturation"), 2},
    {QT_TRANSLATE_NOOP("ProofingWidget", "Absolute Colorimetric"), 3},
};

const krmUInt32Number kFloat = krmFMT_FLOAT(1) | krmFMT_BYTES(4);

// The floating-point format of the proofed profile's device values; 0 for spaces the hover
// popup does not show.
krmUInt32Number hover_format(krmColorSpaceSignature space)
{
    if (space == krmSig("GRAY"))
        return kFloat | krmFMT_COLORSPACE(krmPT_GRAY) | krmFMT_CHANNELS(1);
    if (space == krmSig("RGB "))
        return krmFmtRGBFloat;
    if (space == krmSig("Lab "))
        return krmFmtLabFloat;
    if (space == krmSig("CMYK"))
        return krmFmtCMYKFloat;
    const int n = krmChannelsOfColorSpace(space);
    const krmUInt32Number code = krmColorSpaceCode(space);
    if (n >= 5 && n <= 14 && code >= krmPT_MCH1 && code <= krmPT_MCH15)
        return kFloat | krmFMT_COLORSPACE(code) | krmFMT_CHANNELS(krmUInt32Number(n));
    return 0;
}

int space_mask_of(krmColorSpaceSignature space)
{
    if (space == krmSig("GRAY"))
        return 1;
    return space == krmSig("CMYK") ? 4 : 2;
}

bool is_pcs(krmColorSpaceSignature space)
{
    return space == krmSig("XYZ ") || space == krmSig("Lab ");
}

QString read_whole_file(const QString& path, QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    bytes = file.readAll();
    return QString();
}

} // namespace

ProofingWidget::ProofingWidget(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("proofingWidget"));
    remove_left_over_user_profile_file();
    build_ui();
    build_selector();
    connect_signals();
    startupLog(QStringLiteral("Connections done"));
    build_menu();
    startupLog(QStringLiteral("Soft proofing context menu created"));
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);
    on_clipboard_changed();
}

ProofingWidget::~ProofingWidget()
{
    view_->setImage(nullptr);
    view_->setColorTransform(nullptr);
    if (hover_)
        krmDeleteTransform(hover_);
    if (imageProfile_)
        krmCloseProfile(imageProfile_);
}

void ProofingWidget::build_ui()
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setLineWidth(4);
    line->setStyleSheet(QStringLiteral("QFrame { color: #9DA0ED; }"));
    outer->addWidget(line, 1);
    view_ = new ImageViewer(this);
    outer->addWidget(view_, 1);
    popup_ = new HoverInfoPopup(view_->viewport());

    auto* options = new QVBoxLayout;
    options->setContentsMargins(6, 0, 6, 6);
    auto* checks = new QHBoxLayout;
    softProofing_ = new QCheckBox(tr("Soft proofing"), this);
    blackInk_ = new QCheckBox(tr("Simulate black ink"), this);
    mediaColor_ = new QCheckBox(tr("Simulate media color"), this);
    gamutCheck_ = new QCheckBox(tr("Gamut check"), this);
    softProofing_->setObjectName(QStringLiteral("softProofing"));
    blackInk_->setObjectName(QStringLiteral("simulateBlackInk"));
    mediaColor_->setObjectName(QStringLiteral("simulateMediaColor"));
    gamutCheck_->setObjectName(QStringLiteral("gamutCheck"));
    for (QCheckBox* box : {softProofing_, blackInk_, mediaColor_, gamutCheck_})
        checks->addWidget(box);
    gamutThreshold_ = new QLabel(this);
    gamutThreshold_->setObjectName(QStringLiteral("gamutThreshold"));
    checks->addWidget(gamutThreshold_);
    checks->addStretch();
    plotButton_ = new QPushButton(tr("Plot image colours"), this);
    plotButton_->setObjectName(QStringLiteral("plotImageColours"));
    plotButton_->setToolTip(tr("Shows the image's colours in the open profile's Gamut view"));
    plotButton_->setEnabled(false);
    connect(plotButton_, &QPushButton::clicked, this, &ProofingWidget::plot_image_colours);
    checks->addWidget(plotButton_);
    for (QCheckBox* box : {blackInk_, mediaColor_, gamutCheck_})
        box->setEnabled(false);
    options->addLayout(checks);

    choices_ = new QHBoxLayout;
    intentBox_ = new QComboBox(this);
    intentBox_->setObjectName(QStringLiteral("intentBox"));
    intentBox_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    intentBox_->setMaximumHeight(40);
    intentBox_->setMinimumSize(100, 40);
    for (const IntentItem& item : kIntents)
        intentBox_->addItem(tr(item.text), item.intent);
    // The box shows the intent in use from the start (relative colorimetric).
    intentBox_->setCurrentIndex(1);
    intentBox_->setEnabled(false);
    choices_->addWidget(intentBox_);
    options->addLayout(choices_);
    outer->addLayout(options);
}

void ProofingWidget::build_selector()
{
    startupLog(QStringLiteral("Creating profile selector"));
    // Output, colour-space and display profiles; the space follows the loaded image (RGB first).
    selector_ = new ICCProfileSelector(25, 2, QString(), ICCProfileSelector::defaultBuiltins(), this);
    selector_->setObjectName(QStringLiteral("imageProfileSelector"));
    selector_->restoreState(appSettings(), QStringLiteral("img_dir"), QStringLiteral("img_prf"));
    selector_->setEnabled(false);
    selector_->setPrompt(QString(), -1);
    choices_->addWidget(selector_, 1);
    startupLog(QStringLiteral("Profile selector ok"));
}

void ProofingWidget::build_menu()
{
    menu_ = new QMenu(this);
    loadAction_ = menu_->addAction(style()->standardIcon(QStyle::SP_DirOpenIcon), tr("Load image..."), this,
                                   &ProofingWidget::load_image);
    pasteAction_ = menu_->addAction(tr("Paste image"), this, &ProofingWidget::paste_image);
    pasteAction_->setEnabled(false);
    menu_->addSeparator();
    zoomInAction_ = menu_->addAction(QIcon::fromTheme(QStringLiteral("zoom-in")), tr("Zoom in"), this,
                                     &ProofingWidget::zoom_in);
    zoomOutAction_ = menu_->addAction(QIcon::fromTheme(QStringLiteral("zoom-out")), tr("Zoom out"), this,
                                      &ProofingWidget::zoom_out);
    fitAction_ = menu_->addAction(QIcon::fromTheme(QStringLiteral("zoom-fit-best")), tr("Fit"), view_,
                                  &ImageViewer::autoFit);
    actualSizeAction_ = menu_->addAction(QIcon::fromTheme(QStringLiteral("zoom-original")), tr("100 %"), view_,
                                         &ImageViewer::actualSize);
    for (QAction* action : {zoomInAction_, zoomOutAction_, fitAction_, actualSizeAction_})
        action->setEnabled(false);
    view_->setContextMenu(menu_);
}

void ProofingWidget::connect_signals()
{
    connect(intentBox_, &QComboBox::currentIndexChanged, this, &ProofingWidget::on_intent_changed);
    connect(selector_, &ICCProfileSelector::valueChanged, this, &ProofingWidget::on_image_profile_changed);
    connect(softProofing_, &QCheckBox::toggled, this, [this](bool on) {
        for (QCheckBox* box : {blackInk_, mediaColor_, gamutCheck_})
            box->setEnabled(on);
        // Simulated media colour holds the black ink at its own value.
        if (on && mediaColor_->isChecked())
            blackInk_->setEnabled(false);
        update_proof_transform();
    });
    connect(blackInk_, &QCheckBox::toggled, this, &ProofingWidget::update_proof_transform);
    connect(mediaColor_, &QCheckBox::toggled, this, [this](bool on) {
        if (on) {
            blackInk_->setChecked(false);
            blackInk_->setEnabled(false);
        } else {
            blackInk_->setEnabled(softProofing_->isChecked());
        }
        update_proof_transform();
    });
    connect(gamutCheck_, &QCheckBox::toggled, this, &ProofingWidget::update_proof_transform);
    connect(view_, &ImageViewer::pixelHovered, this, &ProofingWidget::on_pixel_hovered);
    connect(view_, &ImageViewer::pixelHoverLeft, popup_, &QWidget::hide);
    connect(view_, &ImageViewer::fileDropped, this, &ProofingWidget::on_file_dropped);
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, &ProofingWidget::on_clipboard_changed);
}

void ProofingWidget::set_profile(krmProfile profile)
{
    proofed_ = profile;
    update_gamut_threshold();
    if (proofed_ && krmGetProfileClass(proofed_) == krmSig("nmcl"))
        uncheck_and_disable_options();
    if (!image_.isNull())
        update_proof_transform();
}

void ProofingWidget::uncheck_and_disable_options()
{
    for (QCheckBox* box : {softProofing_, blackInk_, mediaColor_, gamutCheck_}) {
        const QSignalBlocker block(box);
        box->setChecked(false);
        box->setEnabled(false);
    }
}

void ProofingWidget::load_image()
{
    QFileDialog dialog(this, tr("Select image for profile preview"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({tr("All supported images (*.jpg *.jpeg *.bmp *.png *.tif *.tiff)"),
                           tr("JPEG images (*.jpg *.jpeg)"), tr("BMP images (*.bmp)"), tr("PNG images (*.png)"),
                           tr("TIFF images (*.tif *.tiff)")});
    if (!dialogShown_) {
        const QStringList pictures = QStandardPaths::standardLocations(QStandardPaths::PicturesLocation);
        dialog.setDirectory(pictures.isEmpty() ? QDir::currentPath() : pictures.last());
        dialogShown_ = true;
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    if (load_image_file(dialog.selectedFiles().constFirst()))
        emit image_loaded();
}

bool ProofingWidget::load_image_file(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile()) {
        show_error(tr("This is not an image file"));
        return false;
    }
    const QString shown = QDir::toNativeSeparators(path);
    QByteArray bytes;
    const QString readError = read_whole_file(path, bytes);
    if (!readError.isEmpty() || imageKindOf(bytes) == ImageKind::Unknown) {
        show_error(tr("Cannot read from %1").arg(shown));
        return false;
    }
    DecodeResult decoded = decodeWithGauge(bytes, info.fileName(), this);
    if (decoded.cancelled)
        return false;
    if (decoded.image.isNull()) {
        show_error(tr("Cannot load %1: %2").arg(shown, decoded.error));
        return false;
    }
    imageName_ = info.fileName();

    // The embedded profile, when the engine reads it and it is for the image's pixels; a profile
    // the engine refuses counts as none (the engine said why).
    krmProfile embedded = nullptr;
    if (!decoded.image.icc.isEmpty()) {
        embedded = krmOpenProfileFromMem(decoded.image.icc.constData(), krmUInt32Number(decoded.image.icc.size()));
        if (embedded && krmGetProfileColorSpace(embedded) != decoded.image.space) {
            krmCloseProfile(embedded);
            embedded = nullptr;
        }
    }
    loading_ = true;
    selector_->setEnabled(true);
    intentBox_->setEnabled(true);
    selector_->setSpace(space_mask_of(decoded.image.space));
    if (embedded) {
        store_user_profile(embedded);
        selector_->selectProfile(QStringLiteral("*user"));
        set_image_profile(embedded);
    } else {
        store_user_profile(nullptr);
        selector_->reload();
        choose_default_profile_for(decoded.image.space);
        set_image_profile(nullptr);
    }
    loading_ = false;
    show_image(std::move(decoded.image));
    return true;
}

void ProofingWidget::choose_default_profile_for(krmColorSpaceSignature space)
{
    if (space == krmSig("GRAY")) {
        selector_->selectProfile(QStringLiteral("*gray22"));
        return;
    }
    if (space != krmSig("CMYK")) {
        selector_->selectProfile(QStringLiteral("*srgb"));
        return;
    }
    // No built-in is CMYK: the profile the user browsed to last when it is CMYK, else the first
    // CMYK profile of the folder.
    const QString name = appSettings()->value(QStringLiteral("img_prf"), QString()).toString();
    const QString folder = appSettings()->value(QStringLiteral("img_dir"), selector_->currentFolder()).toString();
    if (!name.isEmpty() && !name.startsWith(QLatin1Char('*')) && selector_->setProfile(folder, name))
        return;
    if (selector_->currentProfile().isEmpty() && !selector_->entries().isEmpty())
        selector_->selectProfile(selector_->entries().constFirst().name);
}

void ProofingWidget::set_image_profile(krmProfile profile)
{
    if (imageProfile_)
        krmCloseProfile(imageProfile_);
    imageProfile_ = profile;
}

void ProofingWidget::show_image(RasterImage image)
{
    image_ = std::move(image);
    plotButton_->setEnabled(!image_.isNull());
    view_->setColorTransform(nullptr);
    view_->setImage(&image_);
    // Every new picture starts whole; the view keeps fitting it as the dock first opens or is
    // resized, until the user zooms.
    view_->autoFit();
    update_proof_transform();
    for (QAction* action : {zoomInAction_, zoomOutAction_, fitAction_, actualSizeAction_})
        action->setEnabled(true);
}

void ProofingWidget::paste_image()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasImage())
        return;
    const QImage pasted = qvariant_cast<QPixmap>(data->imageData()).toImage();
    RasterImage image = RasterImage::fromQImage(pasted.isNull() ? qvariant_cast<QImage>(data->imageData()) : pasted);
    loading_ = true;
    selector_->setEnabled(true);
    intentBox_->setEnabled(true);
    if (selector_->space() != 2) {
        selector_->setSpace(2);
        selector_->reload();
        selector_->selectProfile(QStringLiteral("*srgb"));
    }
    loading_ = false;
    set_image_profile(nullptr);
    show_image(std::move(image));
    if (!image_.isNull())
        emit image_loaded();
}

void ProofingWidget::zoom_in()
{
    view_->zoomIn();
}

void ProofingWidget::zoom_out()
{
    view_->zoomOut();
}

void ProofingWidget::on_intent_changed(int index)
{
    intent_ = intentBox_->itemData(index).toInt();
    if (!image_.isNull())
        update_proof_transform();
}

void ProofingWidget::on_image_profile_changed()
{
    set_image_profile(nullptr);
    if (!loading_)
        update_proof_transform();
}

void ProofingWidget::on_clipboard_changed()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (pasteAction_)
        pasteAction_->setEnabled(data && data->hasImage());
}

void ProofingWidget::on_file_dropped(const QString& filename)
{
    if (load_image_file(filename))
        emit image_loaded();
}

bool ProofingWidget::image_profile_fits() const
{
    return imageProfile_ && krmGetProfileColorSpace(imageProfile_) == image_.space;
}

namespace {

// What tells two reads of one profile file apart from any other profile: its header and its tag
// directory (every entry's signature, offset and size).
QByteArray profile_fingerprint(krmProfile profile)
{
    QByteArray print;
    const auto add = [&print](quint64 value) { print.append(reinterpret_cast<const char*>(&value), sizeof value); };
    for (const quint64 field : {quint64(krmGetProfileClass(profile)), quint64(krmGetProfileColorSpace(profile)),
                                quint64(krmGetProfilePCS(profile)), quint64(krmGetProfileVersionRaw(profile)),
                                quint64(krmGetProfileCreator(profile)), quint64(krmGetProfileManufacturer(profile)),
                                quint64(krmGetProfileModel(profile)), quint64(krmGetProfileAttributes(profile))})
        add(field);
    struct tm created = {};
    if (krmGetProfileCreationDateTime(profile, &created))
        add(quint64(mktime(&created)));
    krmUInt8Number id[16] = {};
    krmGetProfileID(profile, id);
    print.append(reinterpret_cast<const char*>(id), sizeof id);
    const krmInt32Number tags = krmGetTagCount(profile);
    for (krmInt32Number n = 0; n < tags; ++n) {
        krmUInt32Number offset = 0;
        krmUInt32Number size = 0;
        krmGetTagOffsetAndSize(profile, krmUInt32Number(n), &offset, &size);
        add(krmGetTagSignature(profile, krmUInt32Number(n)));
        add(offset);
        add(size);
    }
    return print;
}

}  // namespace

bool ProofingWidget::proofing_own_profile() const
{
    if (!imageProfile_ || !proofed_)
        return false;
    return imageProfile_ == proofed_ || profile_fingerprint(imageProfile_) == profile_fingerprint(proofed_);
}

QString ProofingWidget::gamutThresholdText() const
{
    if (!proofed_)
        return {};
    if (proofing_own_profile())
        return tr("(the image is in this profile: nothing is out of gamut)");
    // The engine marks a colour whose roundtrip through the profile moves it by more than this.
    return tr("(alarm above \u0394E76 %1)").arg(krmIsMatrixShaper(proofed_) ? 1 : 5);
}

void ProofingWidget::update_gamut_threshold()
{
    gamutThreshold_->setText(gamutThresholdText());
    gamutThreshold_->setEnabled(gamutCheck_->isEnabled());
}

void ProofingWidget::update_proof_transform()
{
    update_gamut_threshold();
    if (image_.isNull())
        return;
    if (!imageProfile_) {
        const QString name = selector_->currentProfile();
        imageProfile_ = open_profile_by_name(name.isEmpty() ? QStringLiteral("*srgb") : name);
    }
    // A profile for other pixels than the image's (an RGB profile for a CMYK image) converts
    // nothing: the picture is shown unconverted.
    if (!image_profile_fits()) {
        view_->setColorTransform(nullptr);
        if (hover_)
            krmDeleteTransform(hover_);
        hover_ = nullptr;
        softProofing_->setEnabled(false);
        return;
    }
    if (!proofed_) {
        view_->setColorTransform(make_display_transform());
        softProofing_->setEnabled(false);
        return;
    }
    if (krmGetProfileClass(proofed_) == krmSig("nmcl")) {
        uncheck_and_disable_options();
        if (hover_)
            krmDeleteTransform(hover_);
        hover_ = nullptr;
        view_->setColorTransform(make_display_transform());
        return;
    }
    if (!is_pcs(krmGetProfilePCS(proofed_))) {
        // A device link: it has no way back to a PCS to proof through.
        softProofing_->setEnabled(false);
        return;
    }
    if (hover_)
        krmDeleteTransform(hover_);
    hover_ = nullptr;
    const krmUInt32Number format = hover_format(krmGetProfileColorSpace(proofed_));
    if (!format) {
        view_->setColorTransform(make_display_transform());
        softProofing_->setEnabled(false);
        return;
    }
    view_->setColorTransform(make_display_transform());
    krmUInt32Number flags = krmFlagNoOptimize | krmFlagNoWhiteOnWhiteFixup;
    krmUInt32Number intent = krmUInt32Number(intent_);
    if (intent_ == 4) {
        intent = 1;
        flags |= krmFlagBlackPointCompensation;
    }
    hover_ = krmCreateTransform(imageProfile_, image_.engineFormat(), proofed_, format, intent, flags);
    softProofing_->setEnabled(true);
}

ProofingWidget::Chain ProofingWidget::display_chain(krmProfile display) const
{
    Chain chain;
    const bool s = softProofing_->isChecked();
    const bool k = blackInk_->isChecked();
    const bool m = mediaColor_->isChecked();
    const bool g = gamutCheck_->isChecked();
    const bool bpc = intent_ == 4;
    const krmUInt32Number i = intent_ == 4 ? 1 : krmUInt32Number(intent_);
    chain.flags = krmFlagCopyAlpha | krmFlagNoWhiteOnWhiteFixup;
    // Through its own profile an image has no colour outside the gamut: the check would only
    // mark the roundtrip's own error (a few ΔE in dark saturated inks).
    if (g && !proofing_own_profile())
        chain.flags |= krmFlagGamutCheck;
    if (bpc)
        chain.flags |= krmFlagBlackPointCompensation;
    if (s)
        chain.flags |= krmFlagSoftProofing;
    const bool named = proofed_ && krmGetProfileClass(proofed_) == krmSig("nmcl");
    if (proofed_ && !named && (s || g)) {
        chain.proof = true;
        const krmUInt32Number back = m ? 3 : 1;
        chain.profiles = {imageProfile_, proofed_};
        chain.intents = {i, i};
        chain.bpc = {bpc, bpc};
        // An L*a*b* proof is its own way back to the PCS.
        if (krmGetProfileColorSpace(proofed_) != krmSig("Lab ")) {
            chain.profiles.push_back(proofed_);
            chain.intents.push_back(back);
            chain.bpc.push_back(!k);
        }
        chain.profiles.push_back(display);
        chain.intents.push_back(back);
        chain.bpc.push_back(!k);
    } else {
        chain.profiles = {imageProfile_, display};
        chain.intents = {i, i};
        chain.bpc = {bpc, bpc};
    }
    return chain;
}

krmTransform ProofingWidget::make_display_transform() const
{
    krmProfile display = display_profile();
    const Chain chain = display_chain(display);
    const krmUInt32Number in = image_.engineFormat(true);
    krmTransform transform = nullptr;
    if (chain.proof) {
        std::vector<krmProfile> profiles = chain.profiles;
        std::vector<krmUInt32Number> intents = chain.intents;
        std::vector<krmBool> bpc = chain.bpc;
        std::vector<krmFloat64Number> adaptation(profiles.size(), krmSetAdaptationState(nullptr, -1));
        transform = krmCreateExtendedTransform(nullptr, krmUInt32Number(profiles.size()), profiles.data(), bpc.data(),
                                               intents.data(), adaptation.data(), proofed_, 1, in, krmFmtBGRA8,
                                               chain.flags);
    } else {
        transform = krmCreateTransform(imageProfile_, in, display, krmFmtBGRA8, chain.intents[0], chain.flags);
    }
    krmCloseProfile(display);
    return transform;
}

QString ProofingWidget::value_table(const QPoint& pos) const
{
    if (!hover_ || !proofed_ || image_.isNull() || pos.x() < 0 || pos.y() < 0 || pos.x() >= image_.width ||
        pos.y() >= image_.height)
        return QString();
    float values[16] = {};
    krmDoTransform(hover_, image_.scanLine(pos.y()) + qsizetype(pos.x()) * image_.bytesPerPixel(), values, 1);
    const krmColorSpaceSignature space = krmGetProfileColorSpace(proofed_);
    const int channels = krmChannelsOfColorSpace(space);
    QString text = QStringLiteral("<table cellpadding='2' cellspacing='0'>");
    for (int c = 0; c < channels && c < 16; ++c) {
        QString label;
        QString value;
        const double v = values[c];
        if (space == krmSig("GRAY") || space == krmSig("RGB ")) {
            static const char* const rgb[] = {"Red", "Green", "Blue"};
            label = space == krmSig("GRAY") ? tr("Gray") : tr(rgb[c]);
            value = QString::number(qRound(v * 255.0));
        } else if (space == krmSig("Lab ")) {
            static const char* const lab[] = {"L*", "a*", "b*"};
            label = QString::fromLatin1(lab[c]);
            value = QString::number(v, 'f', 3);
        } else {
            static const char* const cmyk[] = {"Cyan", "Magenta", "Yellow", "Black"};
            label = space == krmSig("CMYK") ? tr(cmyk[c]) : QStringLiteral("Ch%1").arg(c + 1);
            value = QString::number(v, 'f', 1) + QLatin1Char('%');
        }
        text += QStringLiteral("<tr><td><b>%1:</b></td><td align='right'>%2</td></tr>").arg(label, value);
    }
    text += QStringLiteral("</table>");
    return text;
}

void ProofingWidget::on_pixel_hovered(const QPoint& pos, QRgb pixel, const QPoint& global_pos)
{
    const QString table = proofed_ ? value_table(pos) : QString();
    if (table.isEmpty()) {
        popup_->hide();
        return;
    }
    const QColor color = QColor::fromRgb(qRed(pixel), qGreen(pixel), qBlue(pixel));
    popup_->show_info(tr("Proofing color"), table, global_pos, color, color.name());
}

void ProofingWidget::show_error(const QString& message)
{
    ErrorDialog dialog(tr("Proofing"), message, QString(), QStringLiteral("#C0392B"), false, true, this);
    dialog.exec();
}

std::shared_ptr<const ImageColourCloud> ProofingWidget::image_colour_cloud() const
{
    if (image_.isNull() || !imageProfile_ || krmGetProfileColorSpace(imageProfile_) != image_.space)
        return nullptr;
    const ImagePixels pixels = image_.analysisPixels(imageProfile_);
    auto cloud = std::make_shared<ImageColourCloud>();
    cloud->name = (imageName_.isEmpty() ? tr("pasted image") : imageName_).toStdString();
    cloud->pixels = std::size_t(image_.width) * std::size_t(image_.height);
    try {
        cloud->lab = image_lab_samples(pixels);
    } catch (const std::exception&) {
        return nullptr;
    }
    return cloud;
}
