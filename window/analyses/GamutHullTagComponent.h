#pragma once

#include "window/widgets/HullWidget.h"
#include "window/widgets/IProfileComponentView.h"

#include <krm.h>

#include <QString>

#include <memory>
#include <vector>

class GamutTransform;
struct GamutHull;
struct ImageColourCloud;
class HullViewControls;
class QComboBox;
class QLabel;
class QToolButton;

// The gamut of one LUT tag (or of the matrix-shaper row) as a 3D convex hull in L*a*b*: the
// tag's device grid converted through it, wrapped in a hull and drawn solid, as a wireframe,
// both, or as the sampled points. Computed the first time its tab is shown; a failed computation is tried again next time.
// A second profile's gamut ("Compare with…") is drawn over it as a wireframe or translucent
// surface, with a legend stating both overlap shares; the choice lasts for the session, so the
// views of other tags and intents show it too. An image's colours may be added as points.
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

    // The comparison: a built-in name or a file path; false (with failure()) when its gamut
    // cannot be computed. Applies to every Gamut view of the session.
    bool compare_with(const QString& name);
    void clear_comparison();
    bool isComparing() const { return otherHull_ != nullptr; }
    // "A inside B" and "B inside A", as prismet-cli gamut --compare reports them.
    double profileInsideOther() const { return profileInside_; }
    double otherInsideProfile() const { return otherInside_; }
    krmTagSignature otherTag() const { return otherTag_; }
    QString legendText() const;
    QLabel* legend() const { return legend_; }
    QToolButton* compareButton() const { return compareButton_; }
    QComboBox* compareModeCombo() const { return compareMode_; }
    // Index of the second gamut's mesh in view(), −1 when there is none.
    int comparisonMesh() const { return comparisonMesh_; }

    // The image colours every Gamut view plots (null clears them).
    static void set_image_cloud(std::shared_ptr<const ImageColourCloud> cloud);
    static std::shared_ptr<const ImageColourCloud> image_cloud();
    // Share (0..1) of the image's samples outside this gamut; −1 without an image.
    double imageOutsideShare() const { return imageOutside_; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

public slots:
    void tabSelected() override;

private slots:
    void style_changed();

private:
    void build_ui();
    void build_compare_menu();
    int current_style() const;
    void compute_comparison();
    void add_image_points();
    void update_legend();

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

    std::unique_ptr<GamutHull> gamut_;
    std::unique_ptr<GamutHull> otherHull_;
    HullRenderData otherData_;
    QString otherName_;
    krmTagSignature otherTag_ = 0;
    double profileInside_ = 0, otherInside_ = 0;
    double profileInsideError_ = 0, otherInsideError_ = 0;
    int comparisonMesh_ = -1;
    double imageOutside_ = -1;
    std::size_t imageSamples_ = 0;
    QToolButton* compareButton_ = nullptr;
    QComboBox* compareMode_ = nullptr;
    QLabel* legend_ = nullptr;
};
