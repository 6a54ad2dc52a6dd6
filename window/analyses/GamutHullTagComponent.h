#pragma once

#include "window/widgets/HullWidget.h"
#include "window/widgets/IProfileComponentView.h"

#include <krm.h>

#include <memory>

class GamutTransform;
class HullViewControls;
class QComboBox;

// The gamut of one LUT tag (or of the matrix-shaper row) as a 3D convex hull in L*a*b*: the
// tag's device grid converted through it, wrapped in a hull and drawn solid, as a wireframe,
// both, or as the sampled points. Computed the first time its tab is shown; a failed computation is tried again next time.
class GamutHullTagComponent : public IProfileComponentView
{
    Q_OBJECT

public:
    GamutHullTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);
    ~GamutHullTagComponent() override;

    HullWidget* view() const { return view_; }
    QComboBox* styleCombo() const { return style_; }
    HullViewControls* controls() const { return controls_; }

    bool isComputed() const { return computed_; }
    // Device nodes converted by the last computation (0 before one).
    std::size_t sampleCount() const { return samples_; }
    // The transform in use (null until made, or when it cannot be).
    const GamutTransform* transform() const { return transform_.get(); }
    // Why the last computation left the view empty (the hull's message); empty otherwise.
    QString failure() const { return failure_; }

    void compute_hull();
    void update_view();
    void load_settings();

public slots:
    void tabSelected() override;

private slots:
    void style_changed();

private:
    void build_ui();
    int current_style() const;

    krmProfile profile_;
    krmTagSignature sig_;
    std::unique_ptr<GamutTransform> transform_;
    bool computed_ = false;
    std::size_t samples_ = 0;
    HullRenderData data_;   // the hull surface
    HullRenderData cloud_;  // every sample, for the points style
    QString failure_;
    HullWidget* view_ = nullptr;
    QComboBox* style_ = nullptr;
    HullViewControls* controls_ = nullptr;
};
