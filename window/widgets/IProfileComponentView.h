#pragma once

#include <QWidget>

// The base of every page shown for a tag. The host adds each viewer of a tag's tab set to its
// tab widget, connects activateComponent to the tab widget's setCurrentIndex, and calls
// tabSelected whenever the viewer's tab becomes current. Constructors that cannot obtain their
// tag throw QException; the host then shows the raw viewer alone.
class IProfileComponentView : public QWidget
{
    Q_OBJECT

public:
    explicit IProfileComponentView(QWidget* parent = nullptr);

signals:
    // Asks the host to bring tab `index` of the current tab set to the front.
    void activateComponent(int index);

public slots:
    // Called every time this viewer's tab becomes current; lazy viewers compute on the first call.
    virtual void tabSelected();
};
