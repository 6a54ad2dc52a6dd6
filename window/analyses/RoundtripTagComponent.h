#pragma once

#include "common/analysis/GamutAnalysis.h"
#include "window/widgets/HullWidget.h"
#include "window/widgets/IProfileComponentView.h"

#include <krm.h>

class HullViewControls;
class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QSlider;
class RoundtripPointPopup;

// How well an A2Bn table and its B2An partner invert each other: every sample's CIEDE2000 error
// after a roundtrip, the samples at or above a threshold drawn as points with vectors to where
// they came back, optionally inside the translucent gamut hull. A2B tags roundtrip the device
// grid, B2A tags a grid of L*a*b* values inside the gamut.
class RoundtripTagComponent : public IProfileComponentView
{
    Q_OBJECT

public:
    RoundtripTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);

    HullWidget* view() const { return view_; }
    RoundtripPointPopup* popup() const { return popup_; }
    QLabel* messageLabel() const { return message_; }
    // Mean, 95th percentile and maximum ΔE00 of all samples and the count drawn at the threshold.
    QLabel* statisticsLabel() const { return statistics_; }
    QDoubleSpinBox* thresholdSpin() const { return threshold_; }
    QCheckBox* referenceCheck() const { return reference_; }
    QSlider* pointSizeSlider() const { return pointSize_; }
    HullViewControls* controls() const { return controls_; }

    bool isComputed() const { return computed_; }
    bool isDeviceRoundtrip() const { return analysis_.deviceRoundtrip; }
    const std::vector<RoundtripResult>& results() const { return analysis_.results; }

    void compute_roundtrip();
    void update_points();

public slots:
    void tabSelected() override;

private slots:
    void threshold_changed(double value);
    void reference_changed(bool on);
    void point_size_changed(int value);
    void point_clicked(int id);

private:
    void build_ui();
    void update_statistics();

    krmProfile profile_;
    krmTagSignature sig_;
    bool computed_ = false;
    RoundtripAnalysis analysis_;
    HullWidget* view_ = nullptr;
    RoundtripPointPopup* popup_ = nullptr;
    QLabel* message_ = nullptr;
    QLabel* statistics_ = nullptr;
    QDoubleSpinBox* threshold_ = nullptr;
    QCheckBox* reference_ = nullptr;
    QSlider* pointSize_ = nullptr;
    HullViewControls* controls_ = nullptr;
};
