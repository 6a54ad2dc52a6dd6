// The roundtrip analysis view of an A2B or B2A tag.
#include "window/analyses/RoundtripTagComponent.h"

#include "window/widgets/HullViewControls.h"
#include "window/analyses/RoundtripPointPopup.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <exception>

RoundtripTagComponent::RoundtripTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : IProfileComponentView(parent), profile_(profile), sig_(sig)
{
    build_ui();
}

void RoundtripTagComponent::build_ui()
{
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(10, 5, 10, 5);
    bar->setSpacing(10);

    bar->addWidget(new QLabel(tr("\u0394E00 threshold:"), this));
    threshold_ = new QDoubleSpinBox(this);
    threshold_->setObjectName(QStringLiteral("roundtripThreshold"));
    threshold_->setRange(0, 100);
    threshold_->setDecimals(1);
    threshold_->setSingleStep(0.1);
    threshold_->setValue(hull_setting("roundtrip_threshold", 2.0).toDouble());
    bar->addWidget(threshold_);
    bar->addSpacing(10);

    reference_ = new QCheckBox(tr("View gamut hull"), this);
    reference_->setObjectName(QStringLiteral("roundtripReference"));
    reference_->setChecked(hull_setting("roundtrip_reference", true).toBool());
    bar->addWidget(reference_);
    bar->addSpacing(10);

    bar->addWidget(new QLabel(tr("Point size:"), this));
    pointSize_ = new QSlider(Qt::Horizontal, this);
    pointSize_->setObjectName(QStringLiteral("roundtripPointSize"));
    pointSize_->setRange(10, 80);
    pointSize_->setMinimumWidth(60);
    pointSize_->setMaximumWidth(160);
    pointSize_->setToolTip(tr("Point size"));
    pointSize_->setValue(hull_setting("roundtrip_point_size", 35).toInt());
    bar->addWidget(pointSize_);
    bar->addSpacing(10);

    view_ = new HullWidget(this);
    view_->set_spheres(!hull_setting("flat_color", false).toBool());
    view_->set_proportional_points(hull_setting("proportional_points", false).toBool());
    view_->set_dot_size(float(pointSize_->value()) / 10.0f);
    controls_ = new HullViewControls(view_, this, bar);
    bar->addStretch();

    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("roundtripMessage"));
    message_->setAlignment(Qt::AlignCenter);
    message_->setWordWrap(true);
    message_->hide();

    statistics_ = new QLabel(this);
    statistics_->setObjectName(QStringLiteral("roundtripStatistics"));
    statistics_->setContentsMargins(10, 0, 10, 0);
    statistics_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statistics_->hide();

    popup_ = new RoundtripPointPopup(view_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(message_);
    layout->addWidget(statistics_);
    layout->addWidget(view_, 1);

    connect(threshold_, &QDoubleSpinBox::valueChanged, this, &RoundtripTagComponent::threshold_changed);
    connect(reference_, &QCheckBox::toggled, this, &RoundtripTagComponent::reference_changed);
    connect(pointSize_, &QSlider::valueChanged, this, &RoundtripTagComponent::point_size_changed);
    connect(view_, &HullWidget::point_clicked, this, &RoundtripTagComponent::point_clicked);
    connect(view_, &HullWidget::gamut_changed, popup_, &QWidget::hide);
}

void RoundtripTagComponent::tabSelected()
{
    if (!computed_)
        compute_roundtrip();
    controls_->load();
}

void RoundtripTagComponent::compute_roundtrip()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        analysis_ = ::compute_roundtrip(profile_, sig_);
        computed_ = true;
        // A gray profile: the device figures stand, with the reason there is no hull drawn.
        message_->setText(tr("No gamut hull: %1").arg(QString::fromStdString(analysis_.hullSkipped)));
        message_->setVisible(!analysis_.hullSkipped.empty());
        view_->show();
        update_points();
        view_->auto_fit();
    } catch (const std::exception& e) {
        analysis_ = RoundtripAnalysis();
        statistics_->hide();
        message_->setText(tr("Roundtrip analysis unavailable: %1").arg(QString::fromUtf8(e.what())));
        message_->show();
        view_->hide();
    } catch (...) {
        analysis_ = RoundtripAnalysis();
        statistics_->hide();
        message_->setText(tr("Roundtrip analysis unavailable"));
        message_->show();
        view_->hide();
    }
    QApplication::restoreOverrideCursor();
}

void RoundtripTagComponent::update_points()
{
    view_->clear_meshes();
    const double threshold = threshold_->value();
    HullRenderData cloud;
    for (std::size_t i = 0; i < analysis_.results.size(); ++i) {
        const RoundtripResult& r = analysis_.results[i];
        if (!(r.de00 >= threshold))
            continue;
        cloud.positions.insert(cloud.positions.end(), {float(r.source[2]), float(r.source[0]), float(r.source[1])});
        cloud.normals.insert(cloud.normals.end(),
                             {float(r.roundtrip[2]), float(r.roundtrip[0]), float(r.roundtrip[1])});
        cloud.colors.insert(cloud.colors.end(), {r.display[0], r.display[1], r.display[2]});
        cloud.ids.push_back(std::int32_t(i + 1));
    }
    if (!cloud.positions.empty())
        view_->add_mesh(cloud, MeshPoints, QColor(Qt::white), 0);
    if (reference_->isChecked() && !analysis_.hull.positions.empty())
        view_->add_mesh(analysis_.hull, MeshTranslucent, QColor(Qt::white), 0);
    update_statistics();
}

void RoundtripTagComponent::update_statistics()
{
    // The figures prismet-cli gamut prints, plus what the threshold leaves drawn.
    const RoundtripStatistics stats = roundtrip_statistics(analysis_.results, 0);
    const double threshold = threshold_->value();
    statistics_->setText(tr("%1 samples: \u0394E00 mean %2, 95th percentile %3, max %4; %5 at or above %6")
                             .arg(stats.count)
                             .arg(stats.mean, 0, 'f', 2)
                             .arg(stats.p95, 0, 'f', 2)
                             .arg(stats.max, 0, 'f', 2)
                             .arg(roundtrip_count_at_least(analysis_.results, threshold))
                             .arg(threshold, 0, 'f', 1));
    statistics_->setVisible(computed_);
}

void RoundtripTagComponent::threshold_changed(double value)
{
    store_hull_setting("roundtrip_threshold", value);
    if (computed_)
        update_points();
}

void RoundtripTagComponent::reference_changed(bool on)
{
    store_hull_setting("roundtrip_reference", on);
    if (computed_)
        update_points();
}

void RoundtripTagComponent::point_size_changed(int value)
{
    store_hull_setting("roundtrip_point_size", value);
    view_->set_dot_size(float(value) / 10.0f);
}

void RoundtripTagComponent::point_clicked(int id)
{
    if (id < 1 || std::size_t(id) > analysis_.results.size()) {
        popup_->hide();
        return;
    }
    QPoint position;
    if (!view_->point_screen_pos(id, &position))
        position = view_->mapFromGlobal(QCursor::pos());
    popup_->show_point(analysis_.results[std::size_t(id) - 1], analysis_.deviceRoundtrip, position);
}
