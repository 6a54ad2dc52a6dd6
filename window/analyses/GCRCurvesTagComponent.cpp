#include "window/analyses/GCRCurvesTagComponent.h"

#include "common/analysis/InkRamps.h"
#include "common/signatures/Signatures.h"
#include "window/widgets/AppSettings.h"
#include "window/widgets/ChannelVocabulary.h"
#include "window/widgets/CurveGraphScene.h"
#include "window/widgets/GraphicsViewer.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QException>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr char kDrawTotalKey[] = "draw_MAXK";
constexpr char kDrawObtainedKey[] = "draw_Lstar";
constexpr char kCurveSetKey[] = "curve_set";
constexpr char kSamplingKey[] = "sampling_space";

int stored_int(const char* key, int lo, int hi)
{
    const QSettings* settings = appSettings();
    return std::clamp(settings ? settings->value(QLatin1String(key), 0).toInt() : 0, lo, hi);
}

bool stored_bool(const char* key)
{
    const QSettings* settings = appSettings();
    return settings ? settings->value(QLatin1String(key), true).toBool() : true;
}

void store(const char* key, const QVariant& value)
{
    if (QSettings* settings = appSettings())
        settings->setValue(QLatin1String(key), value);
}

QStringList ramp_names()
{
    return {QObject::tr("Neutral axis"),      QObject::tr("C primary"),         QObject::tr("M primary"),
            QObject::tr("Y primary"),         QObject::tr("R = M+Y secondary"), QObject::tr("G = C+Y secondary"),
            QObject::tr("B = C+M secondary")};
}

QString obtained_text(int curveSet)
{
    return curveSet == int(InkRamp::YPrimary) ? QObject::tr("Obtained b*") : QObject::tr("Obtained L*");
}

// The ramp asks relative colorimetric colours; what the inks give back is measured absolute
// (against the paper): a paper darker than the ideal white starts below the top.
QString obtained_legend(int curveSet)
{
    return obtained_text(curveSet) + QObject::tr(" (absolute colorimetric)");
}

QString obtained_tooltip()
{
    return QObject::tr("What the separated inks print, measured absolute colorimetric: the ramp itself is "
                       "relative, so paper darker than ideal white starts the curve below the top.");
}

}  // namespace

GCRCurvesTagComponent::GCRCurvesTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : IProfileComponentView(parent), profile_(profile), sig_(sig)
{
    const int curveSet = stored_int(kCurveSetKey, 0, 6);

    auto* bar = new QWidget(this);
    auto* controls = new QHBoxLayout(bar);
    controls->setContentsMargins(10, 5, 10, 5);
    controls->setSpacing(10);
    total_ink_ = new QCheckBox(tr("Total Ink"), bar);
    total_ink_->setChecked(stored_bool(kDrawTotalKey));
    obtained_ = new QCheckBox(obtained_text(curveSet), bar);
    obtained_->setChecked(stored_bool(kDrawObtainedKey));
    obtained_->setToolTip(obtained_tooltip());
    curve_set_ = new QComboBox(bar);
    curve_set_->addItems(ramp_names());
    curve_set_->setCurrentIndex(curveSet);
    sampling_ = new QComboBox(bar);
    sampling_->addItems({tr("Lab"), tr("CAM16")});
    sampling_->setCurrentIndex(curveSet != 0 ? stored_int(kSamplingKey, 0, 1) : 0);
    sampling_->setEnabled(curveSet != 0);
    controls->addWidget(total_ink_);
    controls->addWidget(obtained_);
    controls->addSpacing(10);
    controls->addWidget(new QLabel(tr("Curves:"), bar));
    controls->addWidget(curve_set_);
    controls->addWidget(new QLabel(tr("Sampling space:"), bar));
    controls->addWidget(sampling_);
    controls->addStretch();
    bar->setFixedHeight(bar->sizeHint().height());

    viewer_ = new GraphicsViewer(this);
    notice_ = new QLabel(this);
    notice_->setObjectName(QStringLiteral("separationNotice"));
    notice_->setAlignment(Qt::AlignCenter);
    notice_->setWordWrap(true);
    notice_->hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(notice_);
    layout->addWidget(viewer_);

    copy_values_ = new QAction(tr("Copy values"), this);
    copy_values_->setIcon(QIcon::fromTheme(QStringLiteral("edit-copy")));
    copy_values_->setEnabled(false);
    viewer_->contextMenu()->addSeparator();
    viewer_->contextMenu()->addAction(copy_values_);

    connect(total_ink_, &QCheckBox::toggled, this, &GCRCurvesTagComponent::total_ink_toggled);
    connect(obtained_, &QCheckBox::toggled, this, &GCRCurvesTagComponent::obtained_toggled);
    connect(curve_set_, &QComboBox::currentIndexChanged, this, &GCRCurvesTagComponent::curve_set_changed);
    connect(sampling_, &QComboBox::currentIndexChanged, this, &GCRCurvesTagComponent::sampling_changed);
    connect(copy_values_, &QAction::triggered, this, &GCRCurvesTagComponent::copy_values);
}

GCRCurvesTagComponent::~GCRCurvesTagComponent()
{
    // The scene's paths read the curves: the scene goes first.
    viewer_->setScene(nullptr);
    delete scene_;
    free_curves(curves_);
}

void GCRCurvesTagComponent::tabSelected()
{
    if (computed_)
        return;
    // Set first: a computation that fails is not retried by every later visit.
    computed_ = true;
    compute_separation();
}

void GCRCurvesTagComponent::total_ink_toggled(bool on)
{
    store(kDrawTotalKey, on);
    compute_separation();
}

void GCRCurvesTagComponent::obtained_toggled(bool on)
{
    store(kDrawObtainedKey, on);
    compute_separation();
}

void GCRCurvesTagComponent::curve_set_changed(int index)
{
    store(kCurveSetKey, index);
    obtained_->setText(obtained_text(index));
    // The neutral axis has no sampling space; the stored one waits for the next ramp.
    const QSignalBlocker blocker(sampling_);
    sampling_->setCurrentIndex(index != 0 ? stored_int(kSamplingKey, 0, 1) : 0);
    sampling_->setEnabled(index != 0);
    compute_separation();
}

void GCRCurvesTagComponent::sampling_changed(int index)
{
    store(kSamplingKey, index);
    compute_separation();
}

void GCRCurvesTagComponent::copy_values()
{
    if (!table_.isEmpty())
        QGuiApplication::clipboard()->setText(table_);
}

void GCRCurvesTagComponent::free_curves(std::vector<krmToneCurve*>& curves)
{
    for (krmToneCurve* curve : curves)
        krmFreeToneCurve(curve);
    curves.clear();
}

void GCRCurvesTagComponent::compute_separation()
{
    const bool drawTotal = stored_bool(kDrawTotalKey);
    const bool drawObtained = stored_bool(kDrawObtainedKey);
    const int curveSet = stored_int(kCurveSetKey, 0, 6);
    const int sampling = curveSet == 0 ? 0 : stored_int(kSamplingKey, 0, 1);
    // Whatever stops the separation is said where the curves would be.
    const auto fail = [this](const QString& reason) {
        notice_->setText(reason);
        notice_->show();
        viewer_->hide();
    };
    const int intent = lut_tag_intent(sig_, true);
    if (intent < 0)
        return fail(tr("No ink separation: only a B2A tag separates colours into inks."));
    const auto ramp = compute_separation_ramp(profile_, intent, InkRamp(curveSet), RampSampling(sampling));
    if (!ramp)
        return fail(tr("No ink separation: the profile cannot convert this ramp of colours to its inks."));
    TagChannels channels;
    try {
        channels = describe_tag_channels(profile_, sig_);
    } catch (const QException&) {
        return fail(tr("No ink separation: the tag's inks cannot be named."));
    }
    if (channels.outputNames.size() != ramp->channels || channels.outputColors.size() != ramp->channels)
        return fail(tr("No ink separation: the tag's inks cannot be named."));
    notice_->hide();
    viewer_->show();

    std::vector<krmToneCurve*> curves;
    const auto build = [&curves](const std::vector<float>& values) -> krmToneCurve* {
        krmToneCurve* curve = krmBuildTabulatedToneCurveFloat(nullptr, krmUInt32Number(values.size()), values.data());
        if (curve)
            curves.push_back(curve);
        return curve;
    };
    const bool dark = is_dark_palette();
    QList<CurveEntry> entries;
    std::vector<std::string> names;
    for (int c = 0; c < ramp->channels; ++c) {
        const krmToneCurve* curve = build(ramp->inks[std::size_t(c)]);
        if (!curve) {
            free_curves(curves);
            return;
        }
        QString name = channels.outputNames[c];
        names.push_back(name.toStdString());
        const int start = ink_start_position(ramp->inks[std::size_t(c)]);
        if (start > 20)
            name += tr(" (Start %1%)").arg(double(start), 0, 'f', 1);
        entries << CurveEntry{curve, name, channels.outputColors[c], false, Qt::SolidLine};
    }
    if (drawTotal) {
        const krmToneCurve* curve = build(ramp->total);
        if (!curve) {
            free_curves(curves);
            return;
        }
        entries << CurveEntry{curve, tr("Total Ink (Estimated TAC %1%)").arg(krmDetectTAC(profile_), 0, 'f', 1),
                              dark ? QColor(255, 250, 255) : QColor(Qt::black), false, Qt::DashDotLine};
    }
    if (drawObtained) {
        const krmToneCurve* curve = build(ramp->obtained);
        if (!curve) {
            free_curves(curves);
            return;
        }
        entries << CurveEntry{curve, obtained_legend(curveSet), dark ? QColor(120, 120, 120) : QColor(100, 100, 100),
                              false, Qt::DotLine};
    }

    auto* scene = new CurveGraphScene(1024, 512, entries, 256,
                                      tr("Ink separation along %1").arg(ramp_names().value(curveSet)), tagName(sig_),
                                      this);
    // Inks read in percent along the ramp, as "Copy values" and the dot-gain view give them.
    scene->setAxes(CurveAxes{tr("Ramp position (%)"), tr("Ink (%)"), 100.0});
    viewer_->setScene(scene);
    delete scene_;
    free_curves(curves_);
    scene_ = scene;
    curves_ = std::move(curves);
    table_ = QString::fromStdString(separation_table(*ramp, InkRamp(curveSet), names));
    copy_values_->setEnabled(true);
}
