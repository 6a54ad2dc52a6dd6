#pragma once

#include "window/widgets/HtmlHelpers.h"
#include "window/widgets/IProfileComponentView.h"

class QTextBrowser;

// A titled card of key/value rows, for content that needs no viewer of its own.
class CommentComponent : public IProfileComponentView
{
    Q_OBJECT

public:
    CommentComponent(const QString& title, const HtmlRows& rows, QWidget* parent = nullptr);

    QTextBrowser* browser() const { return browser_; }

private:
    QTextBrowser* browser_ = nullptr;
};
