#include "window/viewers/CLutComponent.h"

#include "window/widgets/HullWidget.h"
#include "window/widgets/TableView.h"
#include "window/widgets/DisplayProfile.h"
#include "window/widgets/AppSettings.h"
#include "window/widgets/HoverInfoPopup.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QException>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSettings>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

const char kKey3d[] = "clut/3d";
const char kKeyShowScale[] = "clut/show_scale";
const char kKeyColoredNodes[] = "clut/colored_nodes";

bool setting(const char* key)
{
    const QSettings* settings = appSettings();
    return settings && settings->value(QLatin1String(key), false).toBool();
}

void store_setting(const char* key, bool value)
{
    if (QSettings* settings = appSettings())
        settings->setValue(QLatin1String(key), value);
}

// The 16-bit code of node `node` on an axis of `points` nodes.
krmUInt16Number node_code(int node, int points)
{
    return points < 2 ? 0 : krmUInt16Number(std::lround(node * 65535.0 / (points - 1)));
}

// A node's place along a 3D axis: 0..100 across the grid.
float axis_position(int node, int points)
{
    return points < 2 ? 0.0f : float(node) / float(points - 1) * 100.0f;
}

HullRenderData box_mesh()
{
    HullRenderData box;
    box.positions = {-50, 0, -50, 50, 0, -50, 50, 100, -50, -50, 100, -50,
                     -50, 0, 50,  50, 0, 50,  50, 100, 50,  -50, 100, 50};
    box.colors.assign(8 * 3, 0.8f);
    box.indices = {0, 2, 1, 0, 3, 2, 4, 5, 6, 4, 6, 7, 0, 1, 5, 0, 5, 4,
                   3, 7, 6, 3, 6, 2, 0, 4, 7, 0, 7, 3, 1, 2, 6, 1, 6, 5};
    for (std::size_t t = 0; t < box.indices.size(); t += 3) {
        const float* a = &box.positions[box.indices[t] * 3];
        const float* b = &box.positions[box.indices[t + 1] * 3];
        const float* c = &box.positions[box.indices[t + 2] * 3];
        const float u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const float v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        float normal[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
        const float length = std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
        for (float& component : normal)
            component = length > 1e-5f ? component / length : 0.0f;
        for (int corner = 0; corner < 3; ++corner)
            box.normals.insert(box.normals.end(), normal, normal + 3);
    }
    return box;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

CLutSliceModel::CLutSliceModel(const krmStageCLutData* clut, int inputs, int outputs, const QVector<int>& grid,
                               const QStringList& outputNames, const QList<ChannelFormatter>& outputFormatters,
                               QObject* parent)
    : QAbstractTableModel(parent), clut_(clut), inputs_(inputs), outputs_(outputs), grid_(grid),
      output_names_(outputNames), output_formatters_(outputFormatters), fixed_(inputs, 0)
{
}

int CLutSliceModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_;
}

int CLutSliceModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columns_;
}

QVariant CLutSliceModel::headerData(int section, Qt::Orientation, int role) const
{
    return role == Qt::DisplayRole ? QVariant(QString::number(section)) : QVariant();
}

void CLutSliceModel::setSlice(int rowAxis, int columnAxis, const QVector<int>& fixed)
{
    beginResetModel();
    row_axis_ = rowAxis;
    column_axis_ = columnAxis;
    fixed_ = fixed;
    fixed_.resize(inputs_);
    rows_ = rowAxis < 0 ? 1 : grid_[rowAxis];
    columns_ = columnAxis < 0 ? 1 : grid_[columnAxis];
    endResetModel();
}

void CLutSliceModel::setChannel(int channel)
{
    if (channel < 0 || channel >= outputs_)
        return;
    beginResetModel();
    channel_ = channel;
    endResetModel();
}

QVector<int> CLutSliceModel::cellCoordinates(int row, int column) const
{
    QVector<int> coordinates = fixed_;
    if (row_axis_ >= 0)
        coordinates[row_axis_] = row;
    if (column_axis_ >= 0)
        coordinates[column_axis_] = column;
    for (int i = 0; i < inputs_; ++i) {
        if (coordinates[i] < 0 || coordinates[i] >= grid_[i])
            return {};
    }
    return coordinates;
}

std::optional<double> CLutSliceModel::nodeValue(const QVector<int>& coordinates, int output) const
{
    if (coordinates.size() != inputs_ || output < 0 || output >= outputs_ || !clut_ || !clut_->Tab.T)
        return std::nullopt;
    // The last input varies fastest.
    quint64 node = 0;
    for (int i = 0; i < inputs_; ++i) {
        if (coordinates[i] < 0 || coordinates[i] >= grid_[i])
            return std::nullopt;
        node = node * quint64(grid_[i]) + quint64(coordinates[i]);
    }
    const quint64 entry = node * quint64(outputs_) + quint64(output);
    if (entry >= clut_->nEntries)
        return std::nullopt;
    if (clut_->HasFloatValues)
        return double(clut_->Tab.TFloat[entry]);
    return output_formatters_[output](clut_->Tab.T16[entry]);
}

QString CLutSliceModel::tooltipText(int row, int column) const
{
    const QVector<int> coordinates = cellCoordinates(row, column);
    QStringList lines;
    for (int j = 0; j < outputs_; ++j) {
        const std::optional<double> value = nodeValue(coordinates, j);
        if (!value)
            return {};
        lines << QStringLiteral("%1: %2").arg(output_names_.value(j), QString::number(*value, 'f', 3));
    }
    return lines.join(QLatin1Char('\n'));
}

QVariant CLutSliceModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows_ || index.column() >= columns_)
        return {};
    switch (role) {
    case Qt::DisplayRole: {
        const std::optional<double> value = nodeValue(cellCoordinates(index.row(), index.column()), channel_);
        return value ? QVariant(QString::number(*value, 'f', 1)) : QVariant();
    }
    case Qt::ToolTipRole: {
        const QString text = tooltipText(index.row(), index.column());
        if (text.isEmpty())
            return {};
        if (describe_inputs_)
            return describe_inputs_(cellCoordinates(index.row(), index.column())) + QLatin1Char('\n') + text;
        return text;
    }
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    default:
        return {};
    }
}

// ---------------------------------------------------------------------------------------------

CLutComponent::CLutComponent(krmProfile profile, krmTagSignature sig, int stageIndex, QWidget* parent)
    : IProfileComponentView(parent)
{
    if (stageIndex < 0)
        throw QException();
    stage_ = tag_stage_copy(profile, sig, stageIndex);
    if (!stage_ || krmStageType(stage_.get()) != krmSigCLutElemType)
        throw QException();
    clut_ = static_cast<const krmStageCLutData*>(krmStageData(stage_.get()));
    n_ = int(krmStageInputChannels(stage_.get()));
    m_ = int(krmStageOutputChannels(stage_.get()));
    if (!clut_ || !clut_->Params || n_ < 1 || m_ < 1 || n_ > krmMAX_INPUT_DIMENSIONS)
        throw QException();
    for (int i = 0; i < n_; ++i) {
        const int points = int(clut_->Params->nSamples[i]);
        if (points < 1)
            throw QException();
        grid_ << points;
    }

    const TagChannels channels = describe_tag_channels(profile, sig);
    const TagIOSpaces spaces = tag_io_spaces(profile, sig);
    input_names_ = channels.inputNames;
    input_colors_ = channels.inputColors;
    output_names_ = channels.outputNames;
    output_colors_ = channels.outputColors;
    output_formatters_ = channels.outputFormatters;
    input_formatters_ = get_channel_formatters(profile, sig, spaces.input);
    input_lab_ = spaces.input == krmSig("Lab ");
    input_xyz_ = spaces.input == krmSig("XYZ ");
    output_lab_ = spaces.output == krmSig("Lab ");
    if (input_names_.size() != n_ || input_formatters_.size() != n_ || output_names_.size() != m_
        || output_formatters_.size() != m_)
        throw QException();
    while (input_colors_.size() < n_)
        input_colors_ << palette().color(QPalette::Text);
    while (output_colors_.size() < m_)
        output_colors_ << palette().color(QPalette::Text);

    if (n_ == 1)
        planes_.append({0, -1});
    for (int j = 0; j < n_; ++j)
        for (int k = j + 1; k < n_; ++k)
            planes_.append({j, k});

    build_ui();
}

CLutComponent::~CLutComponent()
{
    if (to_screen_)
        krmDeleteTransform(to_screen_);
}

void CLutComponent::build_ui()
{
    model_ = new CLutSliceModel(clut_, n_, m_, grid_, output_names_, output_formatters_, this);
    table_ = new TableView(this);
    table_->setModel(model_);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    // Stretched cells of a large grid must still hold "-100.0" whole: below that the table scrolls.
    table_->horizontalHeader()->setMinimumSectionSize(table_->fontMetrics().horizontalAdvance(QStringLiteral("-100.0"))
                                                      + 10);
    model_->setInputDescriber([this](const QVector<int>& c) {
        QStringList parts;
        for (int i = 0; i < n_ && i < c.size(); ++i)
            parts << tr("%1 %2 [node %3]").arg(input_names_[i], QString::number(input_value(i, c[i]), 'f', 3)).arg(c[i]);
        return parts.join(QStringLiteral(", "));
    });
    table_->setShowGrid(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* title = new QLabel(tr("CLUT slice view"), this);
    QFont titleFont = QApplication::font();
    titleFont.setPointSize(27);
    titleFont.setBold(true);
    title->setFont(titleFont);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);

    auto* controls = new QWidget(this);
    controls->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* grid = new QGridLayout(controls);
    grid->setContentsMargins(10, 5, 10, 5);
    grid->setSpacing(10);
    grid->setColumnStretch(1, 1);
    layout->addWidget(controls);

    grid->addWidget(new QLabel(tr("Slice plane:"), controls), 0, 0);
    plane_box_ = new QComboBox(controls);
    for (const auto& [a, b] : planes_)
        plane_box_->addItem(b < 0 ? input_names_[a] : input_names_[a] + QStringLiteral(" / ") + input_names_[b]);
    grid->addWidget(plane_box_, 0, 1);

    three_d_ = new QCheckBox(tr("3D"), controls);
    show_scale_ = new QCheckBox(tr("Show scale"), controls);
    colored_nodes_ = new QCheckBox(tr("Colored nodes"), controls);
    if (output_lab_)
        colored_nodes_->setToolTip(tr("Use the node's output Lab color"));
    else if (input_lab_)
        colored_nodes_->setToolTip(tr("Use the node's input Lab color"));
    else
        colored_nodes_->setToolTip(tr("Available when the node has Lab values"));
    grid->addWidget(three_d_, 0, 2);
    grid->addWidget(show_scale_, 0, 3);
    grid->addWidget(colored_nodes_, 0, 4);

    depth_label_ = new QLabel(tr("Depth axis:"), controls);
    depth_box_ = new QComboBox(controls);
    grid->addWidget(depth_label_, 1, 0);
    grid->addWidget(depth_box_, 1, 1);

    for (int i = 0; i < n_; ++i) {
        InputRow row;
        row.row = new QWidget(controls);
        auto* rowLayout = new QHBoxLayout(row.row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->addWidget(new QLabel(input_names_[i] + QLatin1Char(':'), row.row));
        row.slider = new QSlider(Qt::Horizontal, row.row);
        row.slider->setRange(0, grid_[i] - 1);
        row.slider->setSingleStep(1);
        row.slider->setPageStep(1);
        rowLayout->addWidget(row.slider, 1);
        row.spin = new QSpinBox(row.row);
        row.spin->setRange(0, grid_[i] - 1);
        row.spin->setPrefix(tr("Node "));
        row.spin->setToolTip(tr("CLUT node index"));
        rowLayout->addWidget(row.spin);
        row.value = new QLabel(row.row);
        row.value->setMinimumWidth(80);
        rowLayout->addWidget(row.value);
        grid->addWidget(row.row, i + 2, 0, 1, 5);
        connect(row.slider, &QSlider::valueChanged, row.spin, &QSpinBox::setValue);
        connect(row.spin, qOverload<int>(&QSpinBox::valueChanged), row.slider, &QSlider::setValue);
        connect(row.slider, &QSlider::valueChanged, this, &CLutComponent::update_slice);
        inputs_ui_ << row;
    }

    channel_label_ = new QLabel(tr("Display channel:"), controls);
    channel_box_ = new QComboBox(controls);
    for (int j = 0; j < m_; ++j) {
        channel_box_->addItem(output_names_[j]);
        channel_box_->setItemData(j, output_colors_[j], Qt::ForegroundRole);
    }
    grid->addWidget(channel_label_, n_ + 2, 0);
    grid->addWidget(channel_box_, n_ + 2, 1);

    stack_ = new QStackedWidget(this);
    stack_->addWidget(table_);
    hull_ = new HullWidget(stack_);
    stack_->addWidget(hull_);
    layout->addWidget(stack_, 1);

    if (!input_lab_ && !input_xyz_)
        hull_->set_color_space(0);
    hull_->set_unit_scale(true);
    // L*a*b* nodes sit in the unit box too (L* up, a* in depth, b* across): the scale says L*a*b*.
    if (input_lab_ && n_ == 3)
        hull_->set_unit_scale_ranges({-128.0f, 127.0f}, {0.0f, 100.0f}, {-128.0f, 127.0f});
    hull_->set_show_grid(false);
    hull_->set_spheres(true);
    hull_->set_proportional_points(false);
    hull_->set_dot_size(3.5f);

    connect(plane_box_, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] {
        refresh_controls();
        update_slice();
    });
    connect(depth_box_, qOverload<int>(&QComboBox::currentIndexChanged), this, &CLutComponent::update_slice);
    connect(channel_box_, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (index >= 0 && index < m_)
            model_->setChannel(index);
    });
    connect(three_d_, &QCheckBox::toggled, this, [this](bool on) {
        store_setting(kKey3d, on);
        refresh_controls();
        update_slice();
    });
    connect(show_scale_, &QCheckBox::toggled, this, [this](bool on) {
        store_setting(kKeyShowScale, on);
        hull_->set_show_scale(on);
    });
    connect(colored_nodes_, &QCheckBox::toggled, this, [this](bool on) {
        store_setting(kKeyColoredNodes, on);
        update_slice();
    });
    connect(hull_, &HullWidget::point_clicked, this, [this](int id) { show_node_info(id); });
    connect(hull_, &HullWidget::gamut_changed, this, [this] {
        if (popup_)
            popup_->hide();
    });
}

void CLutComponent::tabSelected()
{
    suppress_ = true;
    {
        const QSignalBlocker planeBlock(plane_box_);
        const QSignalBlocker channelBlock(channel_box_);
        const QSignalBlocker threeDBlock(three_d_);
        const QSignalBlocker scaleBlock(show_scale_);
        const QSignalBlocker coloredBlock(colored_nodes_);
        plane_box_->setCurrentIndex(int(planes_.size()) - 1);
        channel_box_->setCurrentIndex(0);
        model_->setChannel(0);
        three_d_->setChecked(setting(kKey3d));
        show_scale_->setChecked(setting(kKeyShowScale));
        colored_nodes_->setChecked(setting(kKeyColoredNodes));
        for (int i = 0; i < n_; ++i)
            inputs_ui_[i].slider->setValue(grid_[i] / 2);
        const QSignalBlocker depthBlock(depth_box_);
        depth_box_->clear();
    }
    suppress_ = false;
    refresh_controls();
    hull_->set_show_scale(show_scale_->isChecked());
    update_slice();
}

void CLutComponent::refresh_controls()
{
    const QPair<int, int> plane = planes_.value(plane_box_->currentIndex(), planes_.last());
    {
        const QVariant remembered = depth_box_->currentData();
        const QSignalBlocker block(depth_box_);
        depth_box_->clear();
        for (int i = 0; i < n_; ++i) {
            const bool inPlane = i == plane.first || i == plane.second;
            inputs_ui_[i].row->setVisible(!inPlane);
            if (!inPlane)
                depth_box_->addItem(input_names_[i], i);
        }
        const int again = remembered.isValid() ? depth_box_->findData(remembered) : -1;
        if (again >= 0)
            depth_box_->setCurrentIndex(again);
    }

    const bool threeD = three_d_->isChecked();
    three_d_->setEnabled(true);
    depth_label_->setVisible(threeD && n_ >= 4);
    depth_box_->setVisible(threeD && n_ > 3);
    channel_label_->setVisible(!threeD);
    channel_box_->setVisible(!threeD);
    show_scale_->setEnabled(threeD);
    colored_nodes_->setEnabled(threeD && (input_lab_ || output_lab_));
    stack_->setCurrentIndex(threeD ? 1 : 0);
}

void CLutComponent::update_slice()
{
    if (suppress_)
        return;
    const QPair<int, int> plane = planes_.value(plane_box_->currentIndex(), planes_.last());
    QVector<int> fixed;
    for (int i = 0; i < n_; ++i) {
        const int node = inputs_ui_[i].slider->value();
        fixed << node;
        inputs_ui_[i].value->setText(QString::number(input_value(i, node), 'f', 1));
    }
    model_->setSlice(plane.first, plane.second, fixed);
    if (three_d_->isChecked())
        build_scene();
}

double CLutComponent::input_value(int input, int node) const
{
    return input_formatters_[input](node_code(node, grid_[input]));
}

QVector<int> CLutComponent::coordinates_of(int row, int column) const
{
    return model_->cellCoordinates(row, column);
}

bool CLutComponent::colored_nodes_enabled() const
{
    return colored_nodes_->isChecked() && colored_nodes_->isEnabled();
}

std::optional<QColor> CLutComponent::node_color(const QVector<int>& coordinates) const
{
    double lab[3] = {};
    if (output_lab_ && m_ == 3) {
        for (int j = 0; j < 3; ++j) {
            const std::optional<double> value = model_->nodeValue(coordinates, j);
            if (!value)
                return std::nullopt;
            lab[j] = *value;
        }
    } else if (input_lab_ && n_ == 3 && coordinates.size() == 3) {
        for (int i = 0; i < 3; ++i)
            lab[i] = input_value(i, coordinates[i]);
    } else {
        return std::nullopt;
    }

    if (!screen_tried_) {
        screen_tried_ = true;
        const krmProfile lab4 = krmCreateLab4Profile(nullptr);
        const krmProfile display = display_profile();
        if (lab4 && display)
            to_screen_ = krmCreateTransform(lab4, krmFmtLabDouble, display, krmFmtRGB8,
                                            krmINTENT_RELATIVE_COLORIMETRIC, krmFlagNoOptimize);
        if (lab4)
            krmCloseProfile(lab4);
        if (display)
            krmCloseProfile(display);
    }
    if (!to_screen_)
        return std::nullopt;
    krmUInt8Number rgb[3] = {};
    krmDoTransform(to_screen_, lab, rgb, 1);
    return QColor(rgb[0], rgb[1], rgb[2]);
}

void CLutComponent::build_scene()
{
    QList<int> axes = {model_->rowAxis()};
    if (model_->columnAxis() >= 0)
        axes << model_->columnAxis();
    if (depth_box_->currentIndex() >= 0)
        axes << depth_box_->currentData().toInt();
    std::sort(axes.begin(), axes.end());

    HullRenderData points;
    const bool colored = colored_nodes_enabled();
    const int rows = model_->rowCount();
    const int columns = model_->columnCount();
    for (int r = 0; r < rows; ++r) {
        for (int k = 0; k < columns; ++k) {
            const QVector<int> c = coordinates_of(r, k);
            if (c.isEmpty())
                continue;
            const float vertical = axis_position(c[axes[0]], grid_[axes[0]]);
            const float depth = axes.size() > 1 ? axis_position(c[axes[1]], grid_[axes[1]]) - 50.0f : 0.0f;
            const float across = axes.size() > 2 ? axis_position(c[axes[2]], grid_[axes[2]]) - 50.0f : 0.0f;
            points.positions.insert(points.positions.end(), {across, vertical, depth});
            points.normals.insert(points.normals.end(), {0.0f, 0.0f, 0.0f});
            points.ids.push_back(r * columns + k + 1);
            QColor color = QColor::fromRgbF(0.12f, 0.52f, 1.0f);
            if (colored) {
                if (const std::optional<QColor> screen = node_color(c))
                    color = *screen;
            }
            points.colors.insert(points.colors.end(),
                                 {float(color.redF()), float(color.greenF()), float(color.blueF())});
        }
    }

    hull_->clear_meshes();
    hull_->add_mesh(points, MeshPoints, QColor(Qt::white), 0);
    hull_->add_mesh(box_mesh(), MeshTranslucent, QColor(210, 210, 210, 30), 0);
    if (!camera_placed_) {
        camera_placed_ = true;
        hull_->auto_fit();
    }
}

void CLutComponent::show_node_info(int pointId)
{
    if (!three_d_->isChecked())
        return;
    const int rows = model_->rowCount();
    const int columns = model_->columnCount();
    if (pointId < 1 || pointId > rows * columns) {
        if (popup_)
            popup_->hide();
        return;
    }
    const int r = (pointId - 1) / columns;
    const int k = (pointId - 1) % columns;
    const QVector<int> c = coordinates_of(r, k);
    if (c.isEmpty())
        return;

    QStringList lines = {tr("Input")};
    QStringList coordinates;
    for (int i = 0; i < n_; ++i) {
        lines << tr("%1: %2 [node %3]")
                     .arg(input_names_[i], QString::number(input_value(i, c[i]), 'f', 3), QString::number(c[i]));
        coordinates << QString::number(c[i]);
    }
    lines << tr("Output");
    lines << model_->tooltipText(r, k).split(QLatin1Char('\n'));

    QPoint position;
    if (hull_->point_screen_pos(pointId, &position))
        position = hull_->mapToGlobal(position);
    else
        position = QCursor::pos();

    if (!popup_)
        popup_ = new HoverInfoPopup(hull_);
    const std::optional<QColor> color = node_color(c);
    popup_->show_info(tr("CLUT node (%1)").arg(coordinates.join(QStringLiteral(", "))), lines.join(QStringLiteral("<br>")),
                      position, color.value_or(QColor()), QString());
}
