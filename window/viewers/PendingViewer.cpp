#include "window/viewers/PendingViewer.h"

#include <QHBoxLayout>
#include <QTextBrowser>

PendingViewer::PendingViewer(const QString& viewerClass, const QString& title, const QString& purpose,
                             const HtmlRows& summary, QWidget* parent)
    : IProfileComponentView(parent)
    , viewer_class_(viewerClass)
    , purpose_(purpose)
    , summary_(summary)
{
    setObjectName(QStringLiteral("pendingViewer"));
    QString body = QStringLiteral("<p>") + purpose.toHtmlEscaped() + QStringLiteral("</p>");
    // Summary texts come from the profile: they are shown as text, never as markup.
    HtmlRows escaped;
    for (const auto& [key, value] : summary)
        escaped.append({key.toHtmlEscaped(), value.toHtmlEscaped()});
    if (!escaped.isEmpty())
        body += make_html_table(escaped);

    browser_ = new QTextBrowser(this);
    browser_->setFrameShape(QFrame::NoFrame);
    browser_->setHtml(make_html_page(title.toHtmlEscaped(), body));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
}
