#pragma once

#include "window/widgets/IProfileComponentView.h"
#include "window/widgets/ScreenColor.h"

#include <krm.h>

#include <QAbstractTableModel>
#include <QStyledItemDelegate>

class QTableView;

// The device or PCS words of a named colour as users read them in `space`: percent for inks,
// 0..255 for RGB and grey, L*a*b* and XYZ decoded, hexadecimal for anything else.
QString format_color_words(krmColorSpaceSignature space, const krmUInt16Number* words);

// Prefix, name and suffix of a named colour joined with single blanks, empty parts left out.
QString named_color_display_name(const QString& prefix, const QString& name, const QString& suffix);

// One row per colour of a named-colour list or colorant table: name, PCS value, device value and
// a swatch (background role) in the screen's colours.
class NamedColorTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // `list` and `toScreen` are borrowed and must outlive the model; `toScreen` may be null.
    NamedColorTableModel(const krmNamedColorList* list, krmTransform toScreen, krmColorSpaceSignature space,
                         krmColorSpaceSignature pcs, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const krmNamedColorList* list_;
    krmTransform toScreen_;
    krmColorSpaceSignature space_;
    krmColorSpaceSignature pcs_;
    int count_;
};

// Paints the swatch column as a framed colour box; other columns as usual.
class ColorSwatchDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The table of a named-colour list ('ncl2') or colorant table ('clrt', 'clot'). Throws QException
// when the tag cannot be read or the screen transform cannot be built.
class NamedColorComponent : public IProfileComponentView
{
    Q_OBJECT

public:
    NamedColorComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);

    QTableView* view() const { return view_; }
    NamedColorTableModel* model() const { return model_; }

private:
    void build_ui(bool colorantTable);

    KrmTransformPtr toScreen_;
    NamedColorTableModel* model_ = nullptr;
    QTableView* view_ = nullptr;
};

// One colour of a list: its display name and its words.
struct NamedColorRecord {
    QString name;
    krmUInt16Number pcs[3] = {};
    krmUInt16Number device[krmMAXCHANNELS] = {};
};
// False when the engine cannot give colour `index`.
bool read_named_color(const krmNamedColorList* list, krmUInt32Number index, NamedColorRecord* record);

// The colours that have an L*a*b* (pcs_words_to_lab), in list order, with their display names.
struct PlottedNamedColor {
    QString name;
    krmCIELab lab;
};
QList<PlottedNamedColor> plotted_named_colors(krmColorSpaceSignature pcs, const krmNamedColorList* list);

// The space the PCS words of tag `sig` are in: L*a*b* for a device link's colorant tables (its
// PCS field names the output space, while the tables always hold L*a*b*), else the profile's PCS.
krmColorSpaceSignature named_color_pcs(krmProfile profile, krmTagSignature sig);

// Reads a named-colour list or colorant table stored as one; throws QException otherwise.
const krmNamedColorList* read_named_color_tag(krmProfile profile, krmTagSignature sig);
