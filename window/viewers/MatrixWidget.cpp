#include "window/viewers/MatrixWidget.h"

#include "window/widgets/TableView.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

MatrixTableModel::MatrixTableModel(int rows, int columns, const QVector<double>& coefficients,
                                   const QVector<double>& offsets, QObject* parent)
    : QAbstractTableModel(parent), rows_(std::max(rows, 0)), columns_(std::max(columns, 0)),
      coefficients_(coefficients), offsets_(offsets)
{
}

int MatrixTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_;
}

int MatrixTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columns_;
}

QVariant MatrixTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows_ || index.column() >= columns_)
        return {};
    if (role == Qt::DisplayRole) {
        const qsizetype at = qsizetype(index.row()) * columns_ + index.column();
        return at < coefficients_.size() ? QString::number(coefficients_[at], 'f', 5) : QString();
    }
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    return {};
}

namespace {

QFont app_font(int pointSize, int weight)
{
    QFont font = QApplication::font();
    font.setPointSize(pointSize);
    font.setWeight(QFont::Weight(weight));
    return font;
}

}  // namespace

MatrixWidget::MatrixWidget(int rows, int columns, const QVector<double>& coefficients, const QVector<double>& offsets,
                           const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent), title_(title), subtitle_(subtitle)
{
    model_ = new MatrixTableModel(rows, columns, coefficients, offsets, this);
    table_ = new TableView(this);
    table_->horizontalHeader()->hide();
    table_->verticalHeader()->hide();
    table_->setShowGrid(false);
    table_->setFrameShape(QFrame::NoFrame);
    table_->setAlternatingRowColors(false);
    table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table_->setModel(model_);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

void MatrixWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    update_layout();
}

void MatrixWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    update_layout();
}

void MatrixWidget::update_layout()
{
    const int rows = model_->rowCount();
    const int columns = model_->columnCount();
    if (rows < 1 || columns < 1)
        return;
    const bool offsets = model_->hasOffsets();

    const QFontMetrics metrics(app_font(14, 400));
    // Columns as wide as the widest number: a damaged matrix's -23131.30000 is shown whole.
    int a = metrics.horizontalAdvance(QStringLiteral("-0.00000"));
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column)
            a = std::max(a, metrics.horizontalAdvance(model_->index(row, column).data().toString()));
    const int line = metrics.height() + 40;

    const double byHeight = double(std::max(height(), 1)) / std::max(rows * line + 82, 1);
    const double byWidth =
        double(std::max(width(), 1)) / std::max(columns * (a + 28) + (offsets ? a + 220 : 76), 1);
    const double c = std::min({byHeight, byWidth, 1.0});

    font_size_ = int(14 * c);
    if (font_size_ < 9)
        font_size_ = 8;
    depth_ = std::max(22 * c, 10.0);
    int l = int(24 * c);
    if (l < 7)
        l = 6;
    int m = int(12 * c);
    if (m < 5)
        m = 4;

    const int w = std::max(int((a + 28) * c), 40);
    const int h = std::max(int(line * c), 20);
    const int tableHeight = rows * h;
    const int tableWidth = columns * w;
    const int d = int(depth_);
    const int total = offsets ? (l + m + int(2 * depth_)) * 2 + w * (columns + 1) : tableWidth + int(2 * depth_);

    table_->setFont(app_font(font_size_, 400));
    const int x = (width() - total) / 2 + d;
    const int y = (height() - tableHeight - 50) / 2 + 50;
    table_->setGeometry(x, y, tableWidth, tableHeight);
    for (int column = 0; column < columns; ++column)
        table_->setColumnWidth(column, w);
    for (int row = 0; row < rows; ++row)
        table_->setRowHeight(row, h);

    draw_offsets_ = offsets;
    if (offsets) {
        plus_centre_ = QPointF(x + tableWidth + d + l + m, y + tableHeight / 2.0);
        offset_rect_ = QRect(x + tableWidth + 2 * d + 2 * m + 2 * l, y, w, tableHeight);
    } else {
        plus_centre_ = QPointF();
        offset_rect_ = QRect();
    }
    update();
}

void MatrixWidget::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = palette().color(QPalette::Text);
    painter.setPen(ink);

    int titleBottom = 10;
    if (!title_.isEmpty()) {
        const QFont font = app_font(27, 700);
        const QFontMetrics metrics(font);
        painter.setFont(font);
        titleBottom = metrics.height() + 10;
        painter.drawText(QPointF((width() - metrics.horizontalAdvance(title_)) / 2.0, titleBottom), title_);
    }
    if (!subtitle_.isEmpty()) {
        const QFont font = app_font(16, 400);
        const QFontMetrics metrics(font);
        painter.setFont(font);
        painter.drawText(QPointF((width() - metrics.horizontalAdvance(subtitle_)) / 2.0,
                                 metrics.height() + 4 + titleBottom),
                         subtitle_);
    }
    if (model_->rowCount() < 1 || model_->columnCount() < 1)
        return;

    const auto brackets = [&](double left, double right, double top, double bottom) {
        QPainterPath path;
        path.moveTo(left, top);
        path.cubicTo(left - depth_, top, left - depth_, bottom, left, bottom);
        path.moveTo(right, top);
        path.cubicTo(right + depth_, top, right + depth_, bottom, right, bottom);
        painter.drawPath(path);
    };
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(ink, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QRect table = table_->geometry();
    const double bottom = table.y() + table.height();
    brackets(table.x(), table.x() + table.width(), table.y(), bottom);

    if (!draw_offsets_)
        return;
    painter.setPen(QPen(ink, 3, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin));
    const double half = depth_ / 22.0 * 12.0;
    painter.drawLine(QPointF(plus_centre_.x() - half, plus_centre_.y()), QPointF(plus_centre_.x() + half, plus_centre_.y()));
    painter.drawLine(QPointF(plus_centre_.x(), plus_centre_.y() - half), QPointF(plus_centre_.x(), plus_centre_.y() + half));
    brackets(offset_rect_.x(), offset_rect_.x() + offset_rect_.width(), table.y(), bottom);

    const QVector<double>& offsets = model_->offsets();
    painter.setFont(app_font(font_size_, 400));
    painter.setPen(ink);
    const double share = double(offset_rect_.height()) / offsets.size();
    for (int i = 0; i < offsets.size(); ++i) {
        const QRectF cell(offset_rect_.x(), offset_rect_.y() + i * share, offset_rect_.width(), share);
        painter.drawText(cell, Qt::AlignCenter, QString::number(offsets[i], 'f', 5));
    }
}
