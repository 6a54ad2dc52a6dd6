#pragma once

#include "window/widgets/TableView.h"

#include <krm.h>

class TagsListValueModel;

// The profile's tag directory, one row per entry plus the virtual "Matrix shaper" row; related
// tags are highlighted together. Selecting a row emits tagSelected with its signature.
class TagsTableView : public TableView
{
    Q_OBJECT

public:
    explicit TagsTableView(QWidget* parent = nullptr);

    // Borrows the profile (null leaves the view without a model); the caller keeps it open while
    // it is shown. No row is current afterwards.
    void setProfile(krmProfile profile);

    // Null while no profile is set.
    TagsListValueModel* tagsModel() const { return model_; }

public slots:
    void onSelectionChanged(const QModelIndex& current, const QModelIndex& previous);
    // Announces the current tag again, from the event loop, so that its viewers are rebuilt in
    // the new palette.
    void refreshColors();

signals:
    void tagSelected(krmTagSignature signature);

private:
    TagsListValueModel* model_ = nullptr;
    bool refreshPending_ = false;
};
