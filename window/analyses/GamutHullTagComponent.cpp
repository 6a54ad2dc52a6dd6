// The gamut hull view of a LUT tag.
#include "window/analyses/GamutHullTagComponent.h"

#include "common/analysis/GamutAnalysis.h"
#include "common/analysis/GamutComparison.h"
#include "common/analysis/ImageGamut.h"
#include "common/analysis/ProfileDiff.h"
#include "window/widgets/AppSettings.h"
#include "window/widgets/BuiltinProfiles.h"
#include "window/widgets/HullViewControls.h"
#include "window/widgets/SystemColorDirectory.h"

#include <QApplication>
#include <algorithm>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QSettings>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtGlobal>

namespace {

// Restores the cursor however the computation ends.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

// The comparison of this session (a built-in name or a path): the settings keep only its mode.
QString& session_comparison()
{
    static QString name;
    return name;
}

std::shared_ptr<const ImageColourCloud>& session_image_cloud()
{
    static std::shared_ptr<const ImageColourCloud> cloud;
    return cloud;
}

QString intent_text(krmUInt32Number intent)
{
    static const char* const names[] = {"perceptual", "relative colorimetric", "saturation", "absolute colorimetric"};
    return intent < 4 ? QString::fromLatin1(names[intent]) : QString::number(intent);
}

QString tag_text(krmTagSignature tag)
{
    return QString::fromStdString(tag_signature_text(tag));
}

QString profile_title(krmProfile profile)
{
    const auto* mlu = profile ? static_cast<const krmMLU*>(krmReadTag(profile, krmSig("desc"))) : nullptr;
    if (!mlu)
        return QObject::tr("(no description)");
    char buffer[256] = {};
    krmMLUGetUTF8(mlu, "en", "US", buffer, sizeof buffer);
    return QString::fromUtf8(buffer);
}

// sRGB colours of L*a*b* points, for drawing them in their own colour.
std::vector<float> display_colours(const std::vector<double>& lab)
{
    std::vector<float> rgb(lab.size(), 0.5f);
    krmContext context = krmCreateContext(nullptr, nullptr);
    krmSetLogErrorHandlerInContext(context, nullptr);
    krmProfile labProfile = krmCreateLab4Profile(context, nullptr);
    krmProfile srgb = krmCreate_sRGBProfile(context);
    krmTransform t = krmCreateTransformWithContext(context, labProfile, krmFmtLabDouble, srgb, krmFmtRGBFloat, 1, 0);
    if (t) {
        krmDoTransform(t, lab.data(), rgb.data(), krmUInt32Number(lab.size() / 3));
        krmDeleteTransform(t);
    }
    krmCloseProfile(srgb);
    krmCloseProfile(labProfile);
    krmDeleteContext(context);
    for (float& v : rgb)
        v = std::clamp(v, 0.0f, 1.0f);
    return rgb;
}

}  // namespace

GamutHullTagComponent::GamutHullTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : IProfileComponentView(parent), profile_(profile), sig_(sig)
{
    build_ui();
}

GamutHullTagComponent::~GamutHullTagComponent() = default;

void GamutHullTagComponent::build_ui()
{
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(10, 5, 10, 5);
    bar->setSpacing(10);

    style_ = new QComboBox(this);
    style_->setObjectName(QStringLiteral("gamutStyle"));
    style_->addItem(tr("Solid"), 1);
    style_->addItem(tr("Solid and wireframe"), 2);
    style_->addItem(tr("Wireframe"), 3);
    style_->addItem(tr("Points"), 4);
    bar->addWidget(style_);
    view_ = new HullWidget(this);
    controls_ = new HullViewControls(view_, this, bar);

    compareButton_ = new QToolButton(this);
    compareButton_->setObjectName(QStringLiteral("gamutCompare"));
    compareButton_->setText(tr("Compare with\u2026"));
    compareButton_->setPopupMode(QToolButton::InstantPopup);
    bar->addWidget(compareButton_);
    compareMode_ = new QComboBox(this);
    compareMode_->setObjectName(QStringLiteral("gamutCompareMode"));
    compareMode_->addItem(tr("Second gamut as wireframe"), 0);
    compareMode_->addItem(tr("Second gamut translucent"), 1);
    bar->addWidget(compareMode_);
    build_compare_menu();

    bar->addStretch();

    legend_ = new QLabel(this);
    legend_->setObjectName(QStringLiteral("gamutLegend"));
    legend_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    legend_->setContentsMargins(10, 2, 10, 4);
    legend_->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(legend_);
    layout->addWidget(view_, 1);
    setAcceptDrops(true);

    connect(compareMode_, &QComboBox::currentIndexChanged, this, [this] {
        store_hull_setting("gamut_compare_mode", compareMode_->currentData().toInt());
        if (computed_)
            update_view();
    });

    connect(style_, &QComboBox::currentIndexChanged, this, &GamutHullTagComponent::style_changed);
}

int GamutHullTagComponent::current_style() const
{
    return style_->currentData().toInt();
}

void GamutHullTagComponent::tabSelected()
{
    if (!computed_)
        compute_hull();
    load_settings();
}

void GamutHullTagComponent::compute_hull()
{
    WaitCursor wait;
    if (!transform_)
        transform_ = GamutTransform::build(profile_, sig_);
    if (!transform_) {
        view_->set_notice(tr("No gamut to draw: this tag cannot be linked to L*a*b*."));
        return;
    }
    try {
        gamut_ = compute_gamut_hull(*transform_);
        samples_ = gamut_->samples;
        data_ = exact_render_data(*gamut_);
        cloud_ = sample_cloud(*gamut_);
        computed_ = true;
        failure_.clear();
        view_->set_notice(QString());
        compute_comparison();
        update_view();
        view_->auto_fit();
    } catch (const HullException& e) {
        failure_ = QString::fromUtf8(e.what());
        // A one-channel tag reproduces a line of colours, which has no hull: say so in the view.
        view_->set_notice(tr("No gamut hull to draw: %1.").arg(failure_));
    }
}

void GamutHullTagComponent::update_view()
{
    view_->clear_meshes();
    const int style = current_style();
    if (style == 1 || style == 2)
        view_->add_mesh(data_, MeshSolid, QColor(Qt::white), -1);
    if (style == 2 || style == 3)
        view_->add_mesh(data_, MeshWireframe, QColor(Qt::white), -1);
    // The sampled colours themselves, inside and on the hull.
    if (style == 4)
        view_->add_mesh(cloud_, MeshPoints, QColor(Qt::white), -1);
    comparisonMesh_ = -1;
    if (otherHull_) {
        // The palette's highlight tells the second gamut from the first in either scheme.
        QColor colour = palette().color(QPalette::Highlight);
        const bool translucent = compareMode_->currentData().toInt() == 1;
        if (translucent)
            colour.setAlphaF(0.35f);
        comparisonMesh_ = view_->meshCount();
        view_->add_mesh(otherData_, translucent ? MeshTranslucent : MeshWireframe, colour, -1);
    }
    add_image_points();
    update_legend();
}

void GamutHullTagComponent::build_compare_menu()
{
    auto* menu = new QMenu(compareButton_);
    const auto choose_in = [this](const QString& folder) {
        const QString path = QFileDialog::getOpenFileName(this, tr("Compare with profile"), folder,
                                                          tr("ICC profiles (*.icc *.icm *.pf);;All files (*.*)"));
        if (!path.isEmpty())
            compare_with(path);
    };
    menu->addAction(tr("Choose file\u2026"), this, [choose_in] {
        choose_in(QFileInfo(appSettings()->value("last_open_dir").toString()).absolutePath());
    });
    QMenu* recent = menu->addMenu(tr("Recent files"));
    connect(recent, &QMenu::aboutToShow, this, [this, recent] {
        recent->clear();
        for (const QString& path : appSettings()->value("state/recent_files").toStringList())
            recent->addAction(path, this, [this, path] { compare_with(path); });
        if (recent->isEmpty())
            recent->addAction(tr("(none)"))->setEnabled(false);
    });
    QMenu* builtins = menu->addMenu(tr("Built-in profiles"));
    for (const char* name : {"*srgb", "*argb", "*dcip3", "*bt2020", "*prophoto", "*ecirgb", "*lab"})
        builtins->addAction(QString::fromLatin1(name), this, [this, name] { compare_with(QString::fromLatin1(name)); });
    QMenu* folders = menu->addMenu(tr("Profile folders"));
    folders->addAction(system_color_directory(), this, [choose_in] { choose_in(system_color_directory()); });
    folders->addAction(user_color_directory(), this, [choose_in] { choose_in(user_color_directory()); });
    menu->addSeparator();
    QAction* clear = menu->addAction(tr("Clear comparison"), this, &GamutHullTagComponent::clear_comparison);
    connect(menu, &QMenu::aboutToShow, this, [this, clear] { clear->setEnabled(isComparing()); });
    compareButton_->setMenu(menu);
}

bool GamutHullTagComponent::compare_with(const QString& name)
{
    session_comparison() = name;
    if (!computed_)
        compute_hull();
    else
        compute_comparison();
    if (!otherHull_) {
        session_comparison().clear();
        const QString why = failure_;
        if (computed_)
            update_view();
        // Say why nothing was added; the next change of the view replaces the line.
        legend_->setText(tr("Cannot compare with %1: %2").arg(QFileInfo(name).fileName(), why));
        legend_->show();
        return false;
    }
    update_view();
    view_->auto_fit();
    return true;
}

void GamutHullTagComponent::clear_comparison()
{
    session_comparison().clear();
    otherHull_.reset();
    otherData_ = HullRenderData();
    if (computed_)
        update_view();
}

void GamutHullTagComponent::compute_comparison()
{
    otherHull_.reset();
    const QString name = session_comparison();
    if (name.isEmpty() || !gamut_)
        return;
    WaitCursor wait;
    krmProfile other = open_profile_by_name(name);
    if (!other) {
        failure_ = tr("Cannot open the profile %1").arg(name);
        return;
    }
    // The second gamut follows this view's intent, as gamut --compare follows --intent.
    otherTag_ = gamut_tag_for_intent(other, intent_of_tag(sig_));
    try {
        std::unique_ptr<GamutHull> hull = otherTag_ ? compute_gamut_hull(other, otherTag_) : nullptr;
        if (!hull) {
            failure_ = tr("%1 has no gamut to compare").arg(name);
        } else {
            const GamutOverlap overlap = gamut_overlap(*gamut_, *hull);
            profileInside_ = overlap.profileInsideOther.share;
            profileInsideError_ = overlap.profileInsideOther.standardError;
            otherInside_ = overlap.otherInsideProfile.share;
            otherInsideError_ = overlap.otherInsideProfile.standardError;
            otherData_ = hull->hull->get_render_data();
            otherName_ = name.startsWith(QLatin1Char('*')) ? name + QStringLiteral(" (") + profile_title(other) + QLatin1Char(')')
                                                             : QFileInfo(name).fileName();
            otherHull_ = std::move(hull);
        }
    } catch (const HullException& e) {
        failure_ = QString::fromUtf8(e.what());
    }
    krmCloseProfile(other);
}

void GamutHullTagComponent::add_image_points()
{
    imageOutside_ = -1;
    imageSamples_ = 0;
    const std::shared_ptr<const ImageColourCloud> cloud = session_image_cloud();
    if (!cloud || !gamut_)
        return;
    const ImageGamutResult judged = judge_image_samples(cloud->lab, cloud->pixels, *gamut_, nullptr);
    imageOutside_ = judged.outsideShare;
    imageSamples_ = judged.samples;
    const std::vector<float> rgb = display_colours(judged.lab);
    // Inside points as dots in their own colour, outside ones as cubes.
    HullRenderData inside, outside;
    for (std::size_t i = 0; i < judged.samples; ++i) {
        HullRenderData& to = judged.isOutside[i] ? outside : inside;
        const double* v = &judged.lab[i * 3];
        to.positions.insert(to.positions.end(), {float(v[2]), float(v[0]), float(v[1])});
        to.normals.insert(to.normals.end(), {0.0f, 0.0f, 0.0f});
        to.colors.insert(to.colors.end(), &rgb[i * 3], &rgb[i * 3] + 3);
    }
    if (inside.vertexCount())
        view_->add_mesh(inside, MeshPoints);
    if (outside.vertexCount())
        view_->add_mesh(outside, MeshCubes);
}

QString GamutHullTagComponent::legendText() const
{
    QStringList lines;
    if (otherHull_) {
        const krmUInt32Number intentA = intent_of_tag(sig_), intentB = intent_of_tag(otherTag_);
        lines << tr("A: %1 \u00b7 %2 \u00b7 %3").arg(profile_title(profile_), tag_text(sig_), intent_text(intentA));
        lines << tr("B: %1 \u00b7 %2 \u00b7 %3").arg(otherName_, tag_text(otherTag_), intent_text(intentB));
        lines << tr("A inside B: %1 % (\u00b1%2)").arg(100.0 * profileInside_, 0, 'f', 1).arg(100.0 * profileInsideError_, 0, 'f', 1);
        lines << tr("B inside A: %1 % (\u00b1%2)").arg(100.0 * otherInside_, 0, 'f', 1).arg(100.0 * otherInsideError_, 0, 'f', 1);
    }
    if (const auto cloud = session_image_cloud(); cloud && imageOutside_ >= 0)
        lines << tr("Image %1: %2 % of its colours outside the gamut (%3 samples; outside ones drawn as cubes)")
                     .arg(QString::fromStdString(cloud->name))
                     .arg(100.0 * imageOutside_, 0, 'f', 1)
                     .arg(imageSamples_);
    return lines.join(QLatin1Char('\n'));
}

void GamutHullTagComponent::update_legend()
{
    const QString text = legendText();
    legend_->setText(text);
    legend_->setVisible(!text.isEmpty());
    compareMode_->setVisible(isComparing());
}

void GamutHullTagComponent::set_image_cloud(std::shared_ptr<const ImageColourCloud> cloud)
{
    session_image_cloud() = std::move(cloud);
}

std::shared_ptr<const ImageColourCloud> GamutHullTagComponent::image_cloud()
{
    return session_image_cloud();
}

void GamutHullTagComponent::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.first().isLocalFile())
        event->acceptProposedAction();
}

void GamutHullTagComponent::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return;
    event->acceptProposedAction();
    compare_with(urls.first().toLocalFile());
}

void GamutHullTagComponent::load_settings()
{
    int style = hull_setting("gamut_view", 1).toInt();
    if (style < 1 || style > 4) {
        style = 1;
        store_hull_setting("gamut_view", 1);
    }
    const int before = current_style();
    {
        const QSignalBlocker blocker(style_);
        const int index = style_->findData(style);
        style_->setCurrentIndex(index < 0 ? 0 : index);
    }
    controls_->load();
    const int modeBefore = compareMode_->currentIndex();
    {
        const QSignalBlocker blocker(compareMode_);
        const int index = compareMode_->findData(hull_setting("gamut_compare_mode", 0).toInt());
        compareMode_->setCurrentIndex(index < 0 ? 0 : index);
    }
    if (computed_ && (current_style() != before || compareMode_->currentIndex() != modeBefore))
        update_view();
}

void GamutHullTagComponent::style_changed()
{
    store_hull_setting("gamut_view", current_style());
    if (computed_)
        update_view();
}
