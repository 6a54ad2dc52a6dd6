#include "window/viewers/CommentComponent.h"

#include <QHBoxLayout>
#include <QTextBrowser>

CommentComponent::CommentComponent(const QString& title, const HtmlRows& rows, QWidget* parent)
    : IProfileComponentView(parent)
{
    browser_ = new QTextBrowser(this);
    browser_->setFrameShape(QFrame::NoFrame);
    browser_->setHtml(make_html_page(title, make_html_table(rows)));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
}
