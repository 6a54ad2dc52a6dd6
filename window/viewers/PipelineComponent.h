#pragma once

#include "window/widgets/ChannelVocabulary.h"
#include "window/widgets/IProfileComponentView.h"

#include <krm.h>

#include <QImage>
#include <QString>

class GraphicsViewer;
class PipelineProbe;
class WorkflowGraphScene;

// A LUT-like tag as a graph of its stages, with the probe panel above it. Clicking a stage's box
// brings that stage's tab forward. Throws QException when the tag has no pipeline or its channels
// cannot be described.
class PipelineComponent : public IProfileComponentView
{
    Q_OBJECT

public:
    PipelineComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);

    WorkflowGraphScene* scene() const { return scene_; }
    GraphicsViewer* viewer() const { return viewer_; }
    PipelineProbe* probe() const { return probe_; }

private:
    WorkflowGraphScene* scene_ = nullptr;
    GraphicsViewer* viewer_ = nullptr;
    PipelineProbe* probe_ = nullptr;
};

// The hover summary of a stage: the table's precision, channels and grid for a CLUT, the curve
// descriptions of a curve set, the channels of a matrix; empty for a stage without data.
QString stage_summary(const krmStage* stage);

// A 180 x 60 picture of the first four curves of the curve-set stage at `index`, coloured by the
// tag's input space for the first stage, its output space for the last and generically between.
QImage curve_thumbnail(const krmStage* stage, int index, const TagIOSpaces& spaces);
