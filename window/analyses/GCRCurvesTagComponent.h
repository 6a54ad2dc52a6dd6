#pragma once

#include "window/widgets/IProfileComponentView.h"

#include <krm.h>

#include <vector>

class CurveGraphScene;
class GraphicsViewer;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;

// How an output profile's B2A tag separates a ramp of colours into inks: the neutral axis, or
// paper to the solid of a primary or secondary, sampled in L*C*h or CAM16-UCS, with the total
// ink and the L* (or b*) the inks reproduce. Computed when the tab is first shown.
class GCRCurvesTagComponent : public IProfileComponentView
{
    Q_OBJECT

public:
    GCRCurvesTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);
    ~GCRCurvesTagComponent() override;

    GraphicsViewer* viewer() const { return viewer_; }
    CurveGraphScene* scene() const { return scene_; }
    QCheckBox* totalInkBox() const { return total_ink_; }
    QCheckBox* obtainedBox() const { return obtained_; }
    QComboBox* curveCombo() const { return curve_set_; }
    QComboBox* samplingCombo() const { return sampling_; }
    QAction* copyValuesAction() const { return copy_values_; }
    // Why nothing is drawn, shown in place of the curves; hidden while they are.
    QLabel* notice() const { return notice_; }
    // The table "Copy values" puts on the clipboard; empty before a successful computation.
    QString valuesText() const { return table_; }

public slots:
    void tabSelected() override;

private slots:
    void total_ink_toggled(bool on);
    void obtained_toggled(bool on);
    void curve_set_changed(int index);
    void sampling_changed(int index);
    void copy_values();

private:
    void compute_separation();
    void free_curves(std::vector<krmToneCurve*>& curves);

    krmProfile profile_;
    krmTagSignature sig_;
    GraphicsViewer* viewer_ = nullptr;
    QLabel* notice_ = nullptr;
    CurveGraphScene* scene_ = nullptr;
    std::vector<krmToneCurve*> curves_;  // shown by scene_, which only borrows them
    bool computed_ = false;
    QString table_;
    QCheckBox* total_ink_ = nullptr;
    QCheckBox* obtained_ = nullptr;
    QComboBox* curve_set_ = nullptr;
    QComboBox* sampling_ = nullptr;
    QAction* copy_values_ = nullptr;
};
