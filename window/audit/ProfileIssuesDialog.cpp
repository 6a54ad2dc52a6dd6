#include "window/audit/ProfileIssuesDialog.h"

#include "window/audit/ProfileIssuesWidget.h"

#include <QButtonGroup>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>

namespace {

QPushButton* filterButton(const QString& name, const QString& text, const QString& tip, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setCheckable(true);
    button->setAutoDefault(false);
    button->setToolTip(tip);
    // The dark palette's checked button is barely darker than the others: the active filter
    // takes the palette's selection colours, and every state the same box so widths stay.
    button->setStyleSheet(QStringLiteral(
        "QPushButton { background-color: palette(button); color: palette(button-text); border: 1px solid palette(mid); "
        "border-radius: 3px; padding: 4px 10px; }"
        "QPushButton:hover { border-color: palette(highlight); }"
        "QPushButton:checked { background-color: palette(highlight); color: palette(highlighted-text); "
        "border-color: palette(highlight); }"));
    return button;
}

} // namespace

ProfileIssuesDialog::ProfileIssuesDialog(const QString& path, QWidget* parent)
    : QDialog(parent)
    , path_(path)
{
    setObjectName(QStringLiteral("ProfileIssuesDialog"));
    setWindowTitle(tr("ICC profile check"));
    resize(860, 680);
    build_ui();
}

void ProfileIssuesDialog::build_ui()
{
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->setContentsMargins(16, 16, 16, 12);

    auto* header = new QHBoxLayout;
    header->setObjectName(QStringLiteral("headerLayout"));
    auto* title = new QLabel(tr("Profile check"), this);
    title->setObjectName(QStringLiteral("titleLabel"));
    QFont titleFont = title->font();
    titleFont.setPointSize(15);
    titleFont.setBold(true);
    title->setFont(titleFont);
    auto* profile = new QLabel(path_, this);
    profile->setObjectName(QStringLiteral("profileLabel"));
    profile->setTextFormat(Qt::PlainText);
    profile->setWordWrap(false);
    profile->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Long paths are cut rather than widening the dialog.
    profile->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    profile->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    profile->setToolTip(path_);
    profile->setVisible(!path_.isEmpty());
    header->addWidget(title);
    header->addWidget(profile, 1);
    layout->addLayout(header);

    auto* filterRow = new QHBoxLayout;
    filterRow->setObjectName(QStringLiteral("filterLayout"));
    summaryLabel_ = new QLabel(this);
    summaryLabel_->setObjectName(QStringLiteral("summaryLabel"));
    summaryLabel_->setWordWrap(true);
    filterRow->addWidget(summaryLabel_, 1);
    allButton_ = filterButton(QStringLiteral("allButton"), tr("All (%1)").arg(0), QString(), this);
    warningButton_ = filterButton(QStringLiteral("warningButton"), tr("Warning (%1)").arg(0),
                                  tr("Show warnings only"), this);
    errorButton_ = filterButton(QStringLiteral("errorButton"), tr("Error (%1)").arg(0),
                                tr("Show errors and fatal findings"), this);
    filters_ = new QButtonGroup(this);
    filters_->setObjectName(QStringLiteral("severityFilters"));
    filters_->setExclusive(true);
    filters_->addButton(allButton_, 0);
    filters_->addButton(warningButton_, 1);
    filters_->addButton(errorButton_, 2);
    allButton_->setChecked(true);
    for (QPushButton* b : {allButton_, warningButton_, errorButton_})
        filterRow->addWidget(b);
    connect(filters_, &QButtonGroup::idClicked, this, [this](int id) {
        filterLevel_ = id;
        refresh();
    });
    layout->addLayout(filterRow);

    countLabel_ = new QLabel(tr("%1 of %2 findings").arg(0).arg(0), this);
    countLabel_->setObjectName(QStringLiteral("countLabel"));
    countLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(countLabel_);

    issues_ = new ProfileIssuesWidget(this);
    issues_->setObjectName(QStringLiteral("issuesWidget"));
    layout->addWidget(issues_, 1);

    auto* report = new QHBoxLayout;
    report->setObjectName(QStringLiteral("reportLayout"));
    copyButton_ = new QPushButton(tr("Copy report"), this);
    copyButton_->setObjectName(QStringLiteral("copyReportButton"));
    copyButton_->setAutoDefault(false);
    copyButton_->setEnabled(false);
    auto* close = new QPushButton(tr("Close"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setDefault(true);
    report->addWidget(copyButton_);
    report->addStretch();
    report->addWidget(close);
    layout->addLayout(report);
    connect(copyButton_, &QPushButton::clicked, this, &ProfileIssuesDialog::copy_report);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    setTabOrder(allButton_, warningButton_);
    setTabOrder(warningButton_, errorButton_);
    setTabOrder(errorButton_, copyButton_);
    setTabOrder(copyButton_, close);
}

void ProfileIssuesDialog::setFindings(const QList<AuditFinding>& findings)
{
    findings_ = sortedBySeverity(findings);
    checked_ = true;
    refresh();
}

void ProfileIssuesDialog::refresh()
{
    std::array<int, 4> count{};
    for (const AuditFinding& f : findings_)
        ++count[size_t(qBound(0, f.severity, 3))];
    QList<AuditFinding> visible;
    // Each filter lists what its button counts: "Warning (n)" the warnings the summary counts,
    // "Error (n)" the errors and fatal findings.
    for (const AuditFinding& f : findings_)
        if (filterLevel_ == 0 || (filterLevel_ == 1 ? f.severity == AuditWarning : f.severity >= AuditError))
            visible << f;

    QStringList parts;
    if (count[AuditFatal])
        parts << tr("Fatal: %1").arg(count[AuditFatal]);
    if (count[AuditError])
        parts << tr("Errors: %1").arg(count[AuditError]);
    if (count[AuditWarning])
        parts << tr("Warnings: %1").arg(count[AuditWarning]);
    if (count[AuditInformation])
        parts << tr("Information: %1").arg(count[AuditInformation]);
    summaryLabel_->setText(parts.join(QStringLiteral("   ")));

    const qsizetype total = findings_.size();
    allButton_->setText(tr("All (%1)").arg(total));
    warningButton_->setText(tr("Warning (%1)").arg(count[AuditWarning]));
    errorButton_->setText(tr("Error (%1)").arg(count[AuditError] + count[AuditFatal]));
    countLabel_->setText(tr("%1 of %2 findings").arg(visible.size()).arg(total));
    copyButton_->setEnabled(checked_);

    QString empty = tr("No findings match this severity filter.");
    if (!checked_)
        empty = tr("Profile check has not been run.");
    else if (findings_.isEmpty())
        empty = tr("No issues reported.");
    issues_->setFindings(visible, empty);
}

QString ProfileIssuesDialog::reportText() const
{
    return auditReportText(path_, findings_);
}

void ProfileIssuesDialog::copy_report()
{
    QGuiApplication::clipboard()->setText(reportText());
}
