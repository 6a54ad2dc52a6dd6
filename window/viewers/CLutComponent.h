#pragma once

#include "window/widgets/TagAccess.h"
#include "window/widgets/ChannelVocabulary.h"
#include "window/widgets/IProfileComponentView.h"

#include <krm.h>

#include <QAbstractTableModel>
#include <QColor>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QVector>

#include <functional>
#include <optional>

class HoverInfoPopup;
class HullWidget;
class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class QSpinBox;
class QStackedWidget;
class TableView;

// One two-dimensional slice through the nodes of a CLUT stage: rows run along one input, columns
// along another, every other input is fixed at a node. A cell shows one output of its node.
class CLutSliceModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // `clut` must outlive the model.
    CLutSliceModel(const krmStageCLutData* clut, int inputs, int outputs, const QVector<int>& grid,
                   const QStringList& outputNames, const QList<ChannelFormatter>& outputFormatters,
                   QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Row and column axes are input indices, -1 for none; `fixed` holds a node index per input.
    void setSlice(int rowAxis, int columnAxis, const QVector<int>& fixed);
    void setChannel(int channel);
    int channel() const { return channel_; }
    int rowAxis() const { return row_axis_; }
    int columnAxis() const { return column_axis_; }

    // The node coordinates of a cell, empty when it lies outside the grid.
    QVector<int> cellCoordinates(int row, int column) const;
    // Output `output` of the node, as shown: a float table's own value, else the formatted code.
    // Nothing for a node outside the grid or the table.
    std::optional<double> nodeValue(const QVector<int>& coordinates, int output) const;
    // All outputs of the cell, one "name: value" line each, 3 decimals.
    QString tooltipText(int row, int column) const;
    // Describes a node's input coordinates; cell tooltips start with it when set.
    void setInputDescriber(std::function<QString(const QVector<int>&)> describe) { describe_inputs_ = std::move(describe); }

private:
    const krmStageCLutData* clut_;
    int inputs_;
    int outputs_;
    QVector<int> grid_;
    QStringList output_names_;
    QList<ChannelFormatter> output_formatters_;
    int row_axis_ = -1;
    int column_axis_ = -1;
    QVector<int> fixed_;
    int channel_ = 0;
    std::function<QString(const QVector<int>&)> describe_inputs_;
    int rows_ = 0;
    int columns_ = 0;
};

// A CLUT stage of a LUT-like tag (stage index from 0) as a table of one output over a plane of
// two inputs, the others fixed by sliders, or as the plane's nodes in a 3D box. Throws
// QException when the stage cannot be shown.
class CLutComponent : public IProfileComponentView
{
    Q_OBJECT

public:
    CLutComponent(krmProfile profile, krmTagSignature sig, int stageIndex, QWidget* parent = nullptr);
    ~CLutComponent() override;

    CLutSliceModel* model() const { return model_; }
    TableView* table() const { return table_; }
    HullWidget* hullView() const { return hull_; }
    QComboBox* planeBox() const { return plane_box_; }
    QComboBox* depthBox() const { return depth_box_; }
    QComboBox* channelBox() const { return channel_box_; }
    QCheckBox* threeDBox() const { return three_d_; }
    QCheckBox* showScaleBox() const { return show_scale_; }
    QCheckBox* coloredNodesBox() const { return colored_nodes_; }
    QStackedWidget* stack() const { return stack_; }
    QSlider* slider(int input) const { return inputs_ui_[input].slider; }
    QLabel* valueLabel(int input) const { return inputs_ui_[input].value; }
    QWidget* sliderRow(int input) const { return inputs_ui_[input].row; }
    HoverInfoPopup* popup() const { return popup_; }

public slots:
    void tabSelected() override;
    // What a click on a node of the 3D view shows.
    void show_node_info(int pointId);

private slots:
    void refresh_controls();
    void update_slice();

private:
    struct InputRow {
        QWidget* row = nullptr;
        QSlider* slider = nullptr;
        QSpinBox* spin = nullptr;
        QLabel* value = nullptr;
    };

    void build_ui();
    void build_scene();
    QVector<int> coordinates_of(int row, int column) const;
    double input_value(int input, int node) const;
    std::optional<QColor> node_color(const QVector<int>& coordinates) const;
    bool colored_nodes_enabled() const;

    StagePtr stage_;
    const krmStageCLutData* clut_ = nullptr;
    int n_ = 0;
    int m_ = 0;
    QVector<int> grid_;
    QStringList input_names_;
    QList<QColor> input_colors_;
    QList<ChannelFormatter> input_formatters_;
    QStringList output_names_;
    QList<QColor> output_colors_;
    QList<ChannelFormatter> output_formatters_;
    bool input_lab_ = false;
    bool output_lab_ = false;
    bool input_xyz_ = false;
    QList<QPair<int, int>> planes_;

    CLutSliceModel* model_ = nullptr;
    TableView* table_ = nullptr;
    HullWidget* hull_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QComboBox* plane_box_ = nullptr;
    QComboBox* depth_box_ = nullptr;
    QLabel* depth_label_ = nullptr;
    QComboBox* channel_box_ = nullptr;
    QLabel* channel_label_ = nullptr;
    QCheckBox* three_d_ = nullptr;
    QCheckBox* show_scale_ = nullptr;
    QCheckBox* colored_nodes_ = nullptr;
    QVector<InputRow> inputs_ui_;
    bool suppress_ = false;
    bool camera_placed_ = false;
    HoverInfoPopup* popup_ = nullptr;
    // L*a*b* to screen RGB, made on first use; null when it cannot be built.
    mutable krmTransform to_screen_ = nullptr;
    mutable bool screen_tried_ = false;
};
