// The window's face of the profile diff: the command line's report, differing tags as links.
#include "window/analyses/ProfileDiffDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

ProfileDiffDialog::ProfileDiffDialog(const ProfileDiff& diff, const QString& nameA, const QString& nameB,
                                     QWidget* parent)
    : QDialog(parent), report_(QString::fromStdString(diff_report_text(diff, nameA.toStdString(), nameB.toStdString())))
{
    setWindowTitle(tr("Compare with profile"));
    build_ui(diff);
    resize(820, 600);
}

void ProfileDiffDialog::build_ui(const ProfileDiff& diff)
{
    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("diffReport"));
    browser_->setOpenLinks(false);
    // The report as printed; a differing tag's line starts with its signature, made a link.
    QString html = QStringLiteral("<pre>");
    const QStringList lines = report_.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        QString shown = line.toHtmlEscaped();
        for (const TagDifference& d : diff.differing) {
            const QString sig = QString::fromStdString(tag_signature_text(d.tag));
            if (line.startsWith(QStringLiteral("  ") + sig + QLatin1Char(' '))) {
                shown = QStringLiteral("  <a href=\"tag:%1\">%2</a>%3")
                            .arg(d.tag)
                            .arg(sig.toHtmlEscaped(), line.mid(2 + sig.size()).toHtmlEscaped());
                break;
            }
        }
        html += shown + QLatin1Char('\n');
    }
    html += QStringLiteral("</pre>");
    browser_->setHtml(html);
    connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (url.scheme() == QLatin1String("tag"))
            emit tagActivated(krmTagSignature(url.path().toUInt()));
    });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* copy = buttons->addButton(tr("Copy report"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("copyReport"));
    connect(copy, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(report_); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser_, 1);
    layout->addWidget(buttons);
}
