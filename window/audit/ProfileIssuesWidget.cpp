#include "window/audit/ProfileIssuesWidget.h"

#include "window/widgets/ChannelVocabulary.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QColor accentColor(int severity, bool dark)
{
    switch (severity) {
    case AuditInformation: return QColor(dark ? "#80baff" : "#195cac");
    case AuditWarning: return QColor(dark ? "#f4c568" : "#986000");
    default: return QColor(dark ? "#ff9898" : "#ba2532");
    }
}

// The badge's fill: one eighth of the accent over the card.
QColor badgeBackground(const QColor& card, const QColor& accent)
{
    return QColor((7 * card.red() + accent.red()) / 8, (7 * card.green() + accent.green()) / 8,
                  (7 * card.blue() + accent.blue()) / 8);
}

QLabel* cardText(const QString& text, const QColor& color, bool bold, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    return label;
}

} // namespace

QFrame* findingCard(const AuditFinding& finding, const QPalette& palette)
{
    const QColor background = palette.color(QPalette::ToolTipBase);
    const QColor text = palette.color(QPalette::ToolTipText);
    const QColor accent = accentColor(finding.severity, is_dark_palette(palette));

    auto* card = new QFrame;
    card->setObjectName(QStringLiteral("findingCard"));
    card->setStyleSheet(QStringLiteral("QFrame#findingCard { background: %1; border: 1px solid %2; border-radius: 5px; }")
                            .arg(background.name(), palette.color(QPalette::Mid).name()));
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(15, 13, 15, 13);
    layout->setSpacing(7);

    auto* header = new QHBoxLayout;
    QLabel* qa = cardText(QStringLiteral("QA%1").arg(finding.qaNumber), text, true, card);
    qa->setWordWrap(false);
    header->addWidget(qa);
    auto* badge = new QLabel(auditSeverityName(finding.severity).toUpper(), card);
    badge->setObjectName(QStringLiteral("severityBadge"));
    badge->setStyleSheet(QStringLiteral("QLabel#severityBadge { color: %1; background-color: %2; border: none;"
                                        "border-radius: 4px; padding: 4px 8px; font-weight: bold; }")
                             .arg(accent.name(), badgeBackground(background, accent).name()));
    header->addWidget(badge);
    header->addStretch();
    if (!finding.related.isEmpty()) {
        auto* tag = new QLabel(finding.related, card);
        tag->setObjectName(QStringLiteral("findingTag"));
        tag->setTextFormat(Qt::PlainText);
        tag->setStyleSheet(QStringLiteral("QLabel#findingTag { background-color: #285b98; color: #ffffff;"
                                          "border-radius: 4px; padding: 4px 8px; }"));
        tag->setToolTip(ProfileIssuesWidget::tr("Related tag or profile section: %1").arg(finding.related));
        header->addWidget(tag);
    }
    layout->addLayout(header);

    QLabel* title = cardText(finding.title, text, true, card);
    title->setObjectName(QStringLiteral("findingTitle"));
    layout->addWidget(title);
    if (!finding.message.isEmpty()) {
        QLabel* message = cardText(finding.message, text, false, card);
        message->setObjectName(QStringLiteral("findingMessage"));
        layout->addWidget(message);
    }
    return card;
}

ProfileIssuesWidget::ProfileIssuesWidget(QWidget* parent)
    : QScrollArea(parent)
    , emptyText_(tr("Profile check has not been run."))
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(true);
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("issuesContent"));
    layout_ = new QVBoxLayout(content);
    layout_->setSpacing(10);
    layout_->setContentsMargins(0, 0, 0, 0);
    setWidget(content);
    rebuild();
}

void ProfileIssuesWidget::setFindings(const QList<AuditFinding>& findings, const QString& emptyText)
{
    findings_ = findings;
    emptyText_ = emptyText;
    rebuild();
}

void ProfileIssuesWidget::changeEvent(QEvent* event)
{
    QScrollArea::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        rebuild();
}

void ProfileIssuesWidget::rebuild()
{
    // Palette changes reach every widget from one list that Qt walks after this returns, so
    // the old cards must outlive this call.
    while (QLayoutItem* item = layout_->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        delete item;
    }
    if (findings_.isEmpty()) {
        auto* label = new QLabel(emptyText_);
        label->setObjectName(QStringLiteral("emptyLabel"));
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText);
        label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout_->addWidget(label, 1);
        return;
    }
    for (const AuditFinding& finding : findings_)
        layout_->addWidget(findingCard(finding, palette()));
    layout_->addStretch();
}
