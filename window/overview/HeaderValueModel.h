#pragma once

#include <krm.h>

#include <QAbstractTableModel>
#include <QByteArray>
#include <QList>
#include <QString>

class QFontMetrics;

// The 128-byte profile header as label/value items, laid out in side-by-side column pairs:
// item i sits in row i / pairs and in column pair i % pairs (label left, value right).
class HeaderValueModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    struct Item {
        QString label;
        QString value;
        QString tooltip;  // may be empty
    };

    struct ColumnPair {
        int labelWidth = 100;
        int valueWidth = 100;
    };

    // Reads the raw header through the profile's I/O handler; a failed read shows zero fields.
    HeaderValueModel(krmProfile profile, QObject* parent = nullptr);
    // Builds the items from raw header bytes (and the engine's version of the same profile).
    HeaderValueModel(const krmUInt8Number header[128], double version, krmUInt32Number rawVersion,
                     QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    const QList<Item>& items() const { return items_; }
    int columnPairCount() const { return int(columnPairs_.size()); }
    const QList<ColumnPair>& columnPairs() const { return columnPairs_; }
    int rowHeight() const { return rowHeight_; }

    // Chooses the largest number of column pairs whose widths fit into `width` pixels.
    void fitColumnPairs(int width, const QFontMetrics& metrics);
    // The value cell of the last item, which holds the "Check profile" button.
    QModelIndex buttonIndex() const;
    int itemIndex(const QModelIndex& index) const;

    static QString sizeText(krmUInt32Number size);
    static QString flagsText(krmUInt32Number flags);
    static QString intentText(krmUInt32Number intent);

private:
    void buildItems(const krmUInt8Number header[128], double version, krmUInt32Number rawVersion);
    void ensureButtonItem();
    // Appends the stored ID's status ("absent", "matches", "differs" with the computed ID).
    void describeProfileId(const QByteArray& profile);
    void describeFileSize(krmUInt32Number declared, krmUInt32Number fileSize);

    QList<Item> items_;
    QList<ColumnPair> columnPairs_{ColumnPair{}};
    int rowHeight_ = 0;
};
