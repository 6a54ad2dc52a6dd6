#include "window/viewers/CurvesComponent.h"

#include "common/signatures/Signatures.h"
#include "window/widgets/TagAccess.h"
#include "window/widgets/ChannelVocabulary.h"
#include "window/widgets/GraphicsViewer.h"

#include <QAction>
#include <QClipboard>
#include <QException>
#include <QGuiApplication>
#include <QMenu>
#include <QVBoxLayout>

#include <initializer_list>
#include <memory>

namespace {

constexpr int kSceneWidth = 1024;
constexpr int kSceneHeight = 512;
constexpr int kSamples = 256;

// Permissive reading decodes a tag in whatever known type it was stored, so the decoded object
// is only used as a curve when its stored type says it is one.
const void* read_curve_tag(krmProfile profile, krmTagSignature sig, std::initializer_list<krmTagTypeSignature> types)
{
    const void* data = profile ? krmReadTag(profile, sig) : nullptr;
    if (!data)
        throw QException();
    const krmTagTypeSignature stored = krmGetTagStoredType(profile, sig);
    for (krmTagTypeSignature type : types) {
        if (stored == type)
            return data;
    }
    throw QException();
}

CurveEntry entry(const krmToneCurve* curve, const QString& name, const QColor& color)
{
    return CurveEntry{curve, name, color, true, Qt::SolidLine};
}

}  // namespace

CurvesComponent::CurvesComponent(krmProfile profile, krmTagSignature sig, int stageIndex, QWidget* parent)
    : IProfileComponentView(parent)
{
    QString subtitle;
    QList<CurveEntry> entries;
    bool hasScene = true;
    if (stageIndex < 0) {
        entries = tag_curves(profile, sig);
        hasScene = !entries.isEmpty();
    } else {
        entries = stage_curves(profile, sig, stageIndex);
        subtitle = tr("Stage %1").arg(stageIndex + 1);
    }
    build_ui(entries, tagName(sig), subtitle, hasScene);
}

CurvesComponent::~CurvesComponent()
{
    // The scene's paths point into the stage copy: they go first.
    delete viewer_;
    delete scene_;
}

QList<CurveEntry> CurvesComponent::tag_curves(krmProfile profile, krmTagSignature sig)
{
    // 0x9478EE00 is the engine's second handler reading 'curv' data.
    const std::initializer_list<krmTagTypeSignature> curveTypes = {krmSig("curv"), krmSig("para"), 0x9478EE00};
    const krmColorSpaceSignature rgb = krmSig("RGB ");
    const auto single = [&](const QString& name, krmColorSpaceSignature space, int channel) {
        const auto* curve = static_cast<const krmToneCurve*>(read_curve_tag(profile, sig, curveTypes));
        return QList<CurveEntry>{entry(curve, name, channel_color(space, channel))};
    };

    if (sig == krmSig("rTRC"))
        return single(QStringLiteral("R"), rgb, 0);
    if (sig == krmSig("gTRC"))
        return single(QStringLiteral("G"), rgb, 1);
    if (sig == krmSig("bTRC"))
        return single(QStringLiteral("B"), rgb, 2);
    if (sig == krmSig("kTRC"))
        return single(QStringLiteral("Gray"), krmSig("GRAY"), 0);
    if (sig == krmSig("vcgt")) {
        const auto* vcgt = static_cast<const krmVcgtCurves*>(read_curve_tag(profile, sig, {krmSig("vcgt")}));
        return {entry(vcgt->Curves[0], QStringLiteral("R"), channel_color(rgb, 0)),
                entry(vcgt->Curves[1], QStringLiteral("G"), channel_color(rgb, 1)),
                entry(vcgt->Curves[2], QStringLiteral("B"), channel_color(rgb, 2))};
    }
    if (sig == krmSig("bfd ")) {
        const auto* ucrbg = static_cast<const krmUcrBg*>(read_curve_tag(profile, sig, {krmSig("bfd ")}));
        return {entry(ucrbg->Ucr, QStringLiteral("UCR"), channel_color(krmSig("Lab "), 0)),
                entry(ucrbg->Bg, QStringLiteral("BG"), channel_color(krmSig("Lab "), 1))};
    }
    // Read anyway, so that a tag that cannot be read falls back to the raw viewer.
    if (!profile || !krmReadTag(profile, sig))
        throw QException();
    return {};
}

QList<CurveEntry> CurvesComponent::stage_curves(krmProfile profile, krmTagSignature sig, int stageIndex)
{
    const TagPipelinePtr pipeline(tag_pipeline(profile, sig));
    if (!pipeline)
        throw QException();
    const int stageCount = int(krmPipelineStageCount(pipeline.get()));
    krmStage* stage = krmPipelineFirstStage(pipeline.get());
    for (int i = 0; i < stageIndex && stage; ++i)
        stage = krmStageNext(stage);
    if (!stage || krmStageType(stage) != krmSigCurveSetElemType)
        throw QException();
    stage_.reset(krmStageDup(stage));
    const auto* data = stage_ ? static_cast<const krmStageCurvesData*>(krmStageData(stage_.get())) : nullptr;
    if (!data)
        throw QException();

    QStringList names;
    QList<QColor> colors;
    if (stageIndex == 0 || stageIndex == stageCount - 1) {
        const TagChannels channels = describe_tag_channels(profile, sig);
        names = stageIndex == 0 ? channels.inputNames : channels.outputNames;
        colors = stageIndex == 0 ? channels.inputColors : channels.outputColors;
        if (names.size() != int(data->nCurves) || colors.size() != names.size())
            throw QException();
    } else {
        for (krmUInt32Number i = 0; i < data->nCurves; ++i) {
            names << tr("Curve %1").arg(i + 1);
            // Space 0 is no colour space: the generic colour of the index.
            colors << channel_color(0, int(i));
        }
    }

    QList<CurveEntry> entries;
    for (krmUInt32Number i = 0; i < data->nCurves; ++i)
        entries << entry(data->TheCurves[i], names[int(i)], colors[int(i)]);
    return entries;
}

void CurvesComponent::build_ui(const QList<CurveEntry>& entries, const QString& title, const QString& subtitle,
                               bool hasScene)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (!hasScene)
        return;
    viewer_ = new GraphicsViewer(this);
    scene_ = new CurveGraphScene(kSceneWidth, kSceneHeight, entries, kSamples, title, subtitle);
    viewer_->setScene(scene_);
    layout->addWidget(viewer_);

    copy_values_ = new QAction(tr("Copy values"), this);
    copy_values_->setIcon(QIcon::fromTheme(QStringLiteral("edit-copy")));
    connect(copy_values_, &QAction::triggered, this, &CurvesComponent::copy_values);
    viewer_->contextMenu()->addSeparator();
    viewer_->contextMenu()->addAction(copy_values_);
}

void CurvesComponent::copy_values()
{
    if (scene_)
        QGuiApplication::clipboard()->setText(scene_->valuesText());
}
