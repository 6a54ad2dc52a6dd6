#pragma once

// The findings of a conformance check by severity, with filters and a text report for the
// clipboard.

#include "common/audit/AuditFinding.h"

#include <QDialog>
#include <QList>

class QButtonGroup;
class QLabel;
class QPushButton;
class ProfileIssuesWidget;

class ProfileIssuesDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ProfileIssuesDialog(const QString& path, QWidget* parent = nullptr);

    // Keeps a copy, highest severity first (equal severities in the order received).
    void setFindings(const QList<AuditFinding>& findings);
    const QList<AuditFinding>& findings() const { return findings_; }
    QString reportText() const;

public slots:
    void copy_report();

private:
    void build_ui();
    void refresh();

    QString path_;
    QList<AuditFinding> findings_;
    bool checked_ = false;
    int filterLevel_ = 0;

    QLabel* summaryLabel_ = nullptr;
    QLabel* countLabel_ = nullptr;
    QButtonGroup* filters_ = nullptr;
    QPushButton* allButton_ = nullptr;
    QPushButton* warningButton_ = nullptr;
    QPushButton* errorButton_ = nullptr;
    QPushButton* copyButton_ = nullptr;
    ProfileIssuesWidget* issues_ = nullptr;
};
