// The gamut hull view of a LUT tag.
#include "window/analyses/GamutHullTagComponent.h"

#include "common/analysis/GamutAnalysis.h"
#include "window/widgets/HullViewControls.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QtGlobal>

namespace {

// Restores the cursor however the computation ends.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

GamutHullTagComponent::GamutHullTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : IProfileComponentView(parent), profile_(profile), sig_(sig)
{
    build_ui();
}

GamutHullTagComponent::~GamutHullTagComponent() = default;

void GamutHullTagComponent::build_ui()
{
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(10, 5, 10, 5);
    bar->setSpacing(10);

    style_ = new QComboBox(this);
    style_->setObjectName(QStringLiteral("gamutStyle"));
    style_->addItem(tr("Solid"), 1);
    style_->addItem(tr("Solid and wireframe"), 2);
    style_->addItem(tr("Wireframe"), 3);
    style_->addItem(tr("Points"), 4);
    bar->addWidget(style_);
    view_ = new HullWidget(this);
    controls_ = new HullViewControls(view_, this, bar);

    bar->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(view_, 1);

    connect(style_, &QComboBox::currentIndexChanged, this, &GamutHullTagComponent::style_changed);
}

int GamutHullTagComponent::current_style() const
{
    return style_->currentData().toInt();
}

void GamutHullTagComponent::tabSelected()
{
    if (!computed_)
        compute_hull();
    load_settings();
}

void GamutHullTagComponent::compute_hull()
{
    WaitCursor wait;
    if (!transform_)
        transform_ = GamutTransform::build(profile_, sig_);
    if (!transform_)
        return;
    try {
        const std::unique_ptr<GamutHull> gamut = compute_gamut_hull(*transform_);
        samples_ = gamut->samples;
        data_ = exact_render_data(*gamut);
        cloud_ = sample_cloud(*gamut);
        computed_ = true;
        failure_.clear();
        update_view();
        view_->auto_fit();
    } catch (const HullException& e) {
        failure_ = QString::fromUtf8(e.what());
        qWarning("Hull computation failed: %s", e.what());
    }
}

void GamutHullTagComponent::update_view()
{
    view_->clear_meshes();
    const int style = current_style();
    if (style == 1 || style == 2)
        view_->add_mesh(data_, MeshSolid, QColor(Qt::white), -1);
    if (style == 2 || style == 3)
        view_->add_mesh(data_, MeshWireframe, QColor(Qt::white), -1);
    // The sampled colours themselves, inside and on the hull.
    if (style == 4)
        view_->add_mesh(cloud_, MeshPoints, QColor(Qt::white), -1);
}

void GamutHullTagComponent::load_settings()
{
    int style = hull_setting("gamut_view", 1).toInt();
    if (style < 1 || style > 4) {
        style = 1;
        store_hull_setting("gamut_view", 1);
    }
    const int before = current_style();
    {
        const QSignalBlocker blocker(style_);
        const int index = style_->findData(style);
        style_->setCurrentIndex(index < 0 ? 0 : index);
    }
    controls_->load();
    if (computed_ && current_style() != before)
        update_view();
}

void GamutHullTagComponent::style_changed()
{
    store_hull_setting("gamut_view", current_style());
    if (computed_)
        update_view();
}
