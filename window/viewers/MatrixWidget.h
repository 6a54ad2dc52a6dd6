#pragma once

#include <QAbstractTableModel>
#include <QPointF>
#include <QRect>
#include <QString>
#include <QVector>
#include <QWidget>

class TableView;

// The numbers of a matrix, row by row, with an optional offset per row.
class MatrixTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    MatrixTableModel(int rows, int columns, const QVector<double>& coefficients, const QVector<double>& offsets,
                     QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    const QVector<double>& offsets() const { return offsets_; }
    bool hasOffsets() const { return !offsets_.isEmpty(); }

private:
    int rows_;
    int columns_;
    QVector<double> coefficients_;
    QVector<double> offsets_;
};

// A matrix as written on paper: title and subtitle above, the numbers between round brackets and,
// with offsets, a plus sign and the bracketed offset column. Everything scales down with the
// widget to a legible minimum.
class MatrixWidget : public QWidget
{
    Q_OBJECT

public:
    MatrixWidget(int rows, int columns, const QVector<double>& coefficients, const QVector<double>& offsets,
                 const QString& title, const QString& subtitle, QWidget* parent = nullptr);

    MatrixTableModel* model() const { return model_; }
    TableView* table() const { return table_; }
    QString title() const { return title_; }
    QString subtitle() const { return subtitle_; }

    // The layout of the last sizing step.
    int fontPointSize() const { return font_size_; }
    double bracketDepth() const { return depth_; }
    bool offsetsDrawn() const { return draw_offsets_; }
    QPointF plusCentre() const { return plus_centre_; }
    QRect offsetRect() const { return offset_rect_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void update_layout();

    QString title_;
    QString subtitle_;
    MatrixTableModel* model_ = nullptr;
    TableView* table_ = nullptr;
    int font_size_ = 14;
    double depth_ = 22.0;
    bool draw_offsets_ = false;
    QPointF plus_centre_;
    QRect offset_rect_;
};
