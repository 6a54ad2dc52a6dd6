#include "window/viewers/PipelineComponent.h"

#include "common/signatures/Signatures.h"
#include "window/widgets/TagAccess.h"
#include "window/widgets/CurveGraphScene.h"
#include "window/widgets/GraphicsViewer.h"
#include "window/viewers/PipelineProbe.h"
#include "window/viewers/WorkflowGraphScene.h"

#include <QAction>
#include <QException>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace {

QString channels_line(const krmStage* stage)
{
    return QStringLiteral("<center><i>%1 \u2192 %2</i></center>")
        .arg(krmStageInputChannels(stage))
        .arg(krmStageOutputChannels(stage));
}

WorkflowNode stage_node(const krmStage* stage, int index, const TagIOSpaces& spaces)
{
    WorkflowNode node;
    node.id = index;
    node.label = stageTypeName(krmStageType(stage));
    switch (krmStageType(stage)) {
    case krmSigCLutElemType:
        node.color = QColor(60, 120, 60);
        node.content = QImage(QStringLiteral(":/images/clut.png"));
        node.summary = stage_summary(stage);
        break;
    case krmSigCurveSetElemType:
        node.color = QColor(70, 130, 180);
        node.content = curve_thumbnail(stage, index, spaces);
        node.summary = stage_summary(stage);
        break;
    case krmSigMatrixElemType:
        node.color = QColor(100, 149, 237);
        node.content = QImage(QStringLiteral(":/images/matrix.png"));
        node.summary = stage_summary(stage);
        break;
    case krmSigXYZ2LabElemType:
        node.color = QColor(138, 82, 200);
        node.content = node.summary = QStringLiteral("XYZ \u2794 Lab");
        break;
    case krmSigLab2XYZElemType:
        node.color = QColor(138, 82, 200);
        node.content = node.summary = QStringLiteral("Lab \u2794 XYZ");
        break;
    default:
        node.color = QColor(100, 100, 110);
        node.content = node.summary = stageTypeName(krmStageType(stage));
        break;
    }
    return node;
}

QString subtitle_for(krmProfile profile, krmTagSignature sig, const krmPipeline* pipeline)
{
    QString subtitle;
    const krmTagTypeSignature type = sig == MatrixShaperTag ? 0 : krmGetTagStoredType(profile, sig);
    if (type && lookupSignature(lutTypeDictionary(), type))
        subtitle = QStringLiteral("'%1' %2, ").arg(signatureText(type), lutTypeName(type));
    return subtitle + QObject::tr("%3\u279c%4 pipeline. Place cursor over any stage to see summary info.")
                          .arg(krmPipelineInputChannels(pipeline))
                          .arg(krmPipelineOutputChannels(pipeline));
}

}  // namespace

QString stage_summary(const krmStage* stage)
{
    const void* data = krmStageData(stage);
    if (!data)
        return {};
    switch (krmStageType(stage)) {
    case krmSigCLutElemType: {
        const auto* clut = static_cast<const krmStageCLutData*>(data);
        QStringList grid;
        for (krmUInt32Number i = 0; clut->Params && i < krmStageInputChannels(stage) && i < krmMAX_INPUT_DIMENSIONS; ++i)
            grid << QString::number(clut->Params->nSamples[i]);
        return QStringLiteral("<center><b>") + QObject::tr("Look-up table ")
               + (clut->HasFloatValues ? QObject::tr("(floats)") : QObject::tr("(Integer)"))
               + QStringLiteral("</b></center>") + channels_line(stage) + QStringLiteral("<center>")
               + grid.join(QLatin1Char('x')) + QStringLiteral("</center>");
    }
    case krmSigCurveSetElemType: {
        const auto* curves = static_cast<const krmStageCurvesData*>(data);
        QStringList descriptions;
        for (krmUInt32Number i = 0; i < curves->nCurves; ++i)
            descriptions << curve_description(curves->TheCurves[i]);
        return QStringLiteral("<center><b>") + QObject::tr("Tone curves") + QStringLiteral("</b></center>")
               + channels_line(stage) + QStringLiteral("<br>") + descriptions.join(QStringLiteral("<br>"));
    }
    case krmSigMatrixElemType:
        return QStringLiteral("<center><b>") + QObject::tr("Matrix") + QStringLiteral("</b></center>")
               + channels_line(stage);
    default:
        return {};
    }
}

QImage curve_thumbnail(const krmStage* stage, int index, const TagIOSpaces& spaces)
{
    QImage image(180, 60, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const auto* data = static_cast<const krmStageCurvesData*>(krmStageData(stage));
    if (!data)
        return image;
    const bool last = index > 0 && !krmStageNext(stage);
    // Space 0 is no colour space: the generic colours by index.
    const krmColorSpaceSignature space = index == 0 ? spaces.input : last ? spaces.output : 0;

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const int count = std::min<int>(int(data->nCurves), 4);
    for (int c = 0; c < count; ++c) {
        QPainterPath path;
        for (int j = 0; j < 64; ++j) {
            const double x = j / 63.0;
            const double y = std::clamp(double(krmEvalToneCurveFloat(data->TheCurves[c], float(x))), 0.0, 1.0);
            const QPointF point(179.0 * x, (1.0 - y) * 59.0);
            if (j == 0)
                path.moveTo(point);
            else
                path.lineTo(point);
        }
        painter.setPen(QPen(channel_color(space, c, ChannelShade::Light), 1.5));
        painter.drawPath(path);
    }
    return image;
}

PipelineComponent::PipelineComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : IProfileComponentView(parent)
{
    const TagPipelinePtr pipeline(tag_pipeline(profile, sig));
    if (!pipeline)
        throw QException();
    const TagIOSpaces spaces = tag_io_spaces(profile, sig);

    QList<WorkflowNode> nodes;
    int index = 0;
    for (const krmStage* stage = krmPipelineFirstStage(pipeline.get()); stage; stage = krmStageNext(stage), ++index)
        nodes << stage_node(stage, index, spaces);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    scene_ = new WorkflowGraphScene(1, tagNameForClass(sig, krmGetProfileClass(profile)),
                                    subtitle_for(profile, sig, pipeline.get()), this);
    scene_->setNodes(nodes);
    probe_ = PipelineProbe::add_panel(layout, scene_, profile, sig, this);
    // Tab 0 is this graph; tab k shows stage k.
    connect(scene_, &WorkflowGraphScene::nodeClicked, this, [this](int id) { emit activateComponent(id + 1); });

    viewer_ = new GraphicsViewer(this);
    viewer_->setScene(scene_);
    layout->addWidget(viewer_);
    if (probe_) {
        auto* copy = new QAction(tr("Copy final output"), viewer_);
        copy->setIcon(QIcon::fromTheme(QStringLiteral("edit-copy")));
        connect(copy, &QAction::triggered, probe_, &PipelineProbe::copy_final_output);
        viewer_->contextMenu()->addSeparator();
        viewer_->contextMenu()->addAction(copy);
    }
}
