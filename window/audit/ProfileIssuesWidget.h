#pragma once

// The findings of a conformance check as a scrolling list of cards, coloured by severity from
// the current palette.

#include "common/audit/AuditFinding.h"

#include <QList>
#include <QScrollArea>

class QFrame;
class QVBoxLayout;

class ProfileIssuesWidget : public QScrollArea
{
    Q_OBJECT

public:
    explicit ProfileIssuesWidget(QWidget* parent = nullptr);

    // Shows one card per finding, in order, or `emptyText` when there is none.
    void setFindings(const QList<AuditFinding>& findings, const QString& emptyText);

protected:
    void changeEvent(QEvent* event) override;

private:
    void rebuild();

    QVBoxLayout* layout_ = nullptr;
    QList<AuditFinding> findings_;
    QString emptyText_;
};

// One finding's card for the given palette.
QFrame* findingCard(const AuditFinding& finding, const QPalette& palette);
