#include "window/viewers/NamedColorGamutComponent.h"

#include "window/widgets/HullWidget.h"
#include "window/widgets/AppSettings.h"
#include "window/viewers/NamedColorComponent.h"
#include "window/widgets/ScreenColor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QSettings>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QVariant setting(const char* key, const QVariant& fallback)
{
    const QSettings* settings = appSettings();
    return settings ? settings->value(QLatin1String(key), fallback) : fallback;
}

void store(const char* key, const QVariant& value)
{
    if (QSettings* settings = appSettings())
        settings->setValue(QLatin1String(key), value);
}

}  // namespace

NamedColorPointPopup::NamedColorPointPopup(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("NamedColorPointPopup"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("#NamedColorPointPopup {  background: #2a2a2a;  border: 1px solid #666;  "
                                 "border-radius: 4px;}QLabel { color: #e8e8e8; }"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(10);
    swatch_ = new QFrame(this);
    swatch_->setFixedSize(36, 36);
    layout->addWidget(swatch_, 0, Qt::AlignTop);
    auto* stack = new QVBoxLayout;
    stack->setSpacing(4);
    name_ = new QLabel(this);
    QFont bold = name_->font();
    bold.setBold(true);
    name_->setFont(bold);
    value_ = new QLabel(this);
    value_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    difference_ = new QLabel(this);
    stack->addWidget(name_);
    stack->addWidget(value_);
    stack->addWidget(difference_);
    layout->addLayout(stack);
}

void NamedColorPointPopup::setColor(const QString& name, const krmCIELab& lab, const QColor& color,
                                    const QString& difference)
{
    name_->setText(name);
    value_->setText(QStringLiteral("L* %1   a* %2   b* %3")
                        .arg(QString::number(lab.L, 'f', 2), QString::number(lab.a, 'f', 2),
                             QString::number(lab.b, 'f', 2)));
    difference_->setText(difference);
    swatch_->setStyleSheet(QStringLiteral("QFrame { background: %1; border: 1px solid #999; }").arg(color.name()));
}

void NamedColorPointPopup::showAt(const QPoint& p, const QRect& area)
{
    adjustSize();
    QPoint at = p + QPoint(14, 14);
    if (at.x() + width() > area.right())
        at.setX(p.x() - width() - 14);
    if (at.y() + height() > area.bottom())
        at.setY(p.y() - height() - 14);
    at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - width())));
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - height())));
    move(at);
    show();
    raise();
}

// ---------------------------------------------------------------------------------------------

NamedColorGamutComponent::NamedColorGamutComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : IProfileComponentView(parent)
{
    const krmNamedColorList* list = read_named_color_tag(profile, sig);
    view_ = new HullWidget(this);
    popup_ = new NamedColorPointPopup(view_);
    popup_->hide();
    collect_colors(profile, sig, list);

    QWidget* controls = build_controls();
    load_settings();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(controls);
    layout->addWidget(view_, 1);
    connect_signals();

    if (!entries_.empty()) {
        HullRenderData cloud;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            const Entry& entry = entries_[i];
            cloud.positions.insert(cloud.positions.end(), {float(entry.lab.b), float(entry.lab.L), float(entry.lab.a)});
            cloud.colors.insert(cloud.colors.end(),
                                {float(entry.color.redF()), float(entry.color.greenF()), float(entry.color.blueF())});
            cloud.normals.insert(cloud.normals.end(), {0.0f, 0.0f, 0.0f});
            cloud.ids.push_back(std::int32_t(i + 1));
            cloud.names.push_back(entry.name.toStdString());
        }
        view_->add_mesh(cloud, MeshPoints, QColor(Qt::white), 0);
        view_->auto_fit();
    } else {
        view_->set_notice(tr("No colours to draw: none of the %n colour(s) has an L*a*b* or XYZ value.", nullptr,
                             int(krmNamedColorCount(list))));
    }
}

void NamedColorGamutComponent::collect_colors(krmProfile profile, krmTagSignature sig, const krmNamedColorList* list)
{
    const KrmTransformPtr toScreen = lab_to_screen_transform();
    if (!toScreen)
        return;
    for (const PlottedNamedColor& color : plotted_named_colors(named_color_pcs(profile, sig), list))
        entries_.push_back(Entry{color.name, color.lab, screen_color(toScreen.get(), color.lab)});
}

QWidget* NamedColorGamutComponent::build_controls()
{
    auto* controls = new QWidget(this);
    controls->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(controls);
    row->setContentsMargins(10, 5, 10, 5);
    row->setSpacing(10);
    row->addWidget(new QLabel(tr("Point size:"), controls));
    pointSize_ = new QSlider(Qt::Horizontal, controls);
    pointSize_->setRange(10, 80);
    pointSize_->setMinimumWidth(60);
    pointSize_->setMaximumWidth(160);
    pointSize_->setToolTip(tr("Point size"));
    row->addWidget(pointSize_);
    row->addSpacing(10);
    gridBox_ = new QComboBox(controls);
    gridBox_->addItems({tr("No grids"), tr("Base grid"), tr("Full grids")});
    row->addWidget(gridBox_);
    showScale_ = new QCheckBox(tr("Show scale"), controls);
    row->addWidget(showScale_);
    gridRes_ = new QSpinBox(controls);
    gridRes_->setRange(4, 12);
    gridRes_->setToolTip(tr("Grid sampling rate"));
    row->addWidget(gridRes_);
    row->addStretch();
    return controls;
}

void NamedColorGamutComponent::load_settings()
{
    const QSignalBlocker b1(pointSize_);
    const QSignalBlocker b2(gridBox_);
    const QSignalBlocker b3(showScale_);
    const QSignalBlocker b4(gridRes_);
    pointSize_->setValue(setting("named_color_point_size", 35).toInt());
    const bool showGrid = setting("hull/show_grid", true).toBool();
    const bool sideGrids = setting("hull/side_grids", false).toBool();
    gridBox_->setCurrentIndex(showGrid ? 1 + (sideGrids ? 1 : 0) : 0);
    showScale_->setChecked(setting("hull/show_scale", false).toBool());
    gridRes_->setValue(setting("grid_res", 8).toInt());

    view_->set_side_grids(sideGrids);
    view_->set_show_scale(showScale_->isChecked());
    view_->set_show_grid(showGrid);
    view_->set_grid_res(gridRes_->value());
    view_->set_dot_size(pointSize_->value() / 10.0f);
    view_->set_spheres(!setting("flat_color", false).toBool());
    view_->set_proportional_points(setting("proportional_points", false).toBool());
}

void NamedColorGamutComponent::connect_signals()
{
    connect(pointSize_, &QSlider::valueChanged, this, [this](int value) {
        store("named_color_point_size", value);
        view_->set_dot_size(value / 10.0f);
    });
    connect(gridBox_, &QComboBox::currentIndexChanged, this, [this](int index) {
        store("hull/show_grid", index != 0);
        store("hull/side_grids", index == 2);
        view_->set_side_grids(index == 2);
        view_->set_show_grid(index != 0);
    });
    connect(showScale_, &QCheckBox::toggled, this, [this](bool on) {
        store("hull/show_scale", on);
        view_->set_show_scale(on);
    });
    connect(gridRes_, &QSpinBox::valueChanged, this, [this](int value) {
        store("grid_res", value);
        view_->set_grid_res(value);
    });
    connect(view_, &HullWidget::point_clicked, this, &NamedColorGamutComponent::show_point);
    connect(view_, &HullWidget::gamut_changed, popup_, &QWidget::hide);
}

void NamedColorGamutComponent::show_point(int id, float, float, float, float vecL, float vecA, float vecB)
{
    if (id < 1 || std::size_t(id) > entries_.size()) {
        popup_->hide();
        return;
    }
    const Entry& entry = entries_[std::size_t(id) - 1];
    QPoint position;
    if (!view_->point_screen_pos(id, &position))
        position = view_->mapFromGlobal(QCursor::pos());

    QString difference;
    if (vecL != 0.0f || vecA != 0.0f || vecB != 0.0f) {
        const krmCIELab end{vecL, vecA, vecB};
        difference = QStringLiteral("\u0394E76: %1").arg(QString::number(krmDeltaE(&entry.lab, &end), 'f', 2));
    }
    popup_->setColor(entry.name, entry.lab, entry.color, difference);
    const QRect area(view_->mapToGlobal(QPoint(0, 0)), view_->size());
    popup_->showAt(view_->mapToGlobal(position), area);
}
