#pragma once

#include "window/widgets/IProfileComponentView.h"

#include <krm.h>

class GraphicsViewer;
class QAction;
class QLabel;
class TVIGraphScene;
class QVBoxLayout;

// The dot gain (tone value increase) each ink of an output profile's A2B tag implies, computed
// when the tab is first shown. Inks that cannot be measured are named below the graph.
class TVICurvesTagComponent : public IProfileComponentView
{
    Q_OBJECT

public:
    TVICurvesTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);

    GraphicsViewer* viewer() const { return viewer_; }
    TVIGraphScene* scene() const { return scene_; }
    // The whole-view message or the failed inks' message; null when there is none.
    QLabel* messageLabel() const { return message_; }
    QAction* copyValuesAction() const { return copy_values_; }
    QString valuesText() const { return table_; }

public slots:
    void tabSelected() override;

private:
    // Throws QException when the profile allows no analysis at all.
    void compute_dot_gain();
    void add_message(const QString& text);

    krmProfile profile_;
    krmTagSignature sig_;
    bool computed_ = false;
    QVBoxLayout* layout_ = nullptr;
    GraphicsViewer* viewer_ = nullptr;
    TVIGraphScene* scene_ = nullptr;
    QLabel* message_ = nullptr;
    QAction* copy_values_ = nullptr;
    QString table_;
};
