#pragma once

#include <krm.h>

#include <QTableView>

class QStandardItemModel;

// The profile's tag directory, one row per entry: signature, stored type, offset and size.
// Selecting a row emits tagSelected with its signature.
class TagsTableView : public QTableView
{
    Q_OBJECT

public:
    explicit TagsTableView(QWidget* parent = nullptr);

    // Borrows the profile (null clears the table); the caller keeps it open while it is shown.
    void setProfile(krmProfile profile);

public slots:
    // Rebuilds the current tag's viewers, e.g. after the palette changed.
    void refreshColors();

signals:
    void tagSelected(krmTagSignature signature);

private:
    void on_current_changed(const QModelIndex& current);
    krmTagSignature signature_at(int row) const;

    QStandardItemModel* model_ = nullptr;
};
