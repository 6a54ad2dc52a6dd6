#pragma once

#include <krm.h>

#include <QAbstractTableModel>
#include <QColor>
#include <QList>
#include <QSet>
#include <QString>

// One row of the tags table.
struct TagEntry {
    krmTagSignature signature = 0;
    QString name;                    // as the profile's class calls it
    QString tooltip;                 // rich text
    krmTagSignature linkedTo = 0;    // the tag whose data this one shares, 0 when none
    QString problem;                 // why the engine cannot read the entry; empty when it can
};

// Related tags, highlighted together when one of them is selected.
struct TagGroup {
    QSet<krmTagSignature> signatures;
    QSet<int> rows;           // rows of the entries whose signature is in `signatures`
    QColor lightBackground;   // background of the group's rows on a light palette
    QColor darkText;          // text colour of the group's rows on a dark palette
};

// The tag directory of a profile as the file stores it (entries the engine cannot read are listed
// too, marked with the reason), plus the virtual "Matrix shaper" row for RGB and gray
// matrix-shaper profiles. Column 0 is the signature, column 1 the display name. The rows of the
// group of the current row are highlighted.
class TagsListValueModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // Borrows the profile, which must stay open while the model lives.
    explicit TagsListValueModel(krmProfile profile, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // The table shows no headers: none are offered.
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The signature of a row; 0 outside the table.
    krmTagSignature signatureAt(int row) const;

    // Makes `row` current: its group becomes the active one and the rows of the previous and the
    // new active group are reported as changed.
    void setCurrentRow(int row);
    int currentRow() const { return current_row_; }
    int activeGroup() const { return active_group_; }

    const QList<TagEntry>& entries() const { return entries_; }
    const QList<TagGroup>& groups() const { return groups_; }

private:
    void build_entries(krmProfile profile);
    void build_groups(krmProfile profile);
    bool row_in_active_group(int row) const;

    QList<TagEntry> entries_;
    QList<TagGroup> groups_;
    int current_row_ = -1;
    int active_group_ = -1;
};
