#pragma once

#include "window/widgets/TagAccess.h"
#include "window/widgets/CurveGraphScene.h"
#include "window/widgets/IProfileComponentView.h"

#include <krm.h>

#include <memory>

class GraphicsViewer;
class QAction;

// The tone curves of a curve tag (TRCs, 'vcgt', under-colour removal and black generation) or of
// one curve-set stage of a LUT-like tag's pipeline, drawn on a 16-bit grid with a legend that
// describes each curve. Throws QException when the tag or stage cannot be shown.
class CurvesComponent : public IProfileComponentView
{
    Q_OBJECT

public:
    // A negative stage index shows the curve tag itself.
    CurvesComponent(krmProfile profile, krmTagSignature sig, int stageIndex, QWidget* parent = nullptr);
    ~CurvesComponent() override;

    GraphicsViewer* viewer() const { return viewer_; }
    // Null for a tag without curves of its own (an empty page).
    CurveGraphScene* scene() const { return scene_; }
    QAction* copyValuesAction() const { return copy_values_; }

private slots:
    void copy_values();

private:
    QList<CurveEntry> tag_curves(krmProfile profile, krmTagSignature sig);
    QList<CurveEntry> stage_curves(krmProfile profile, krmTagSignature sig, int stageIndex);
    void build_ui(const QList<CurveEntry>& entries, const QString& title, const QString& subtitle, bool hasScene);

    StagePtr stage_;  // copy of the shown stage
    GraphicsViewer* viewer_ = nullptr;
    CurveGraphScene* scene_ = nullptr;
    QAction* copy_values_ = nullptr;
};
