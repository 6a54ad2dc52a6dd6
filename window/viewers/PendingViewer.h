#pragma once

#include "window/widgets/HtmlHelpers.h"
#include "window/widgets/IProfileComponentView.h"

class QTextBrowser;

// Stands in for a viewer that is not part of the program yet: says plainly what the tab will show
// and lists what is already known of the tag's content, so the tab is never silently empty.
class PendingViewer : public IProfileComponentView
{
    Q_OBJECT

public:
    // `viewerClass` names the viewer that will take this tab's place; `purpose` is one sentence
    // about what it will show; `summary` lists the decoded content as plain text (may be empty).
    PendingViewer(const QString& viewerClass, const QString& title, const QString& purpose, const HtmlRows& summary,
                  QWidget* parent = nullptr);

    QString viewerClass() const { return viewer_class_; }
    QString purpose() const { return purpose_; }
    const HtmlRows& summary() const { return summary_; }
    QTextBrowser* browser() const { return browser_; }

private:
    QString viewer_class_;
    QString purpose_;
    HtmlRows summary_;
    QTextBrowser* browser_ = nullptr;
};
