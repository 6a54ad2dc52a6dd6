#pragma once

#include "common/analysis/ProfileDiff.h"

#include <QDialog>

class QTextBrowser;

// The report of prismet-cli diff for the open profile and another one, with "Copy report"; each
// differing tag is a link that asks for its viewer (tagActivated).
class ProfileDiffDialog : public QDialog
{
    Q_OBJECT

public:
    ProfileDiffDialog(const ProfileDiff& diff, const QString& nameA, const QString& nameB, QWidget* parent = nullptr);

    QString reportText() const { return report_; }
    QTextBrowser* browser() const { return browser_; }

signals:
    void tagActivated(krmTagSignature signature);

private:
    void build_ui(const ProfileDiff& diff);

    QString report_;
    QTextBrowser* browser_ = nullptr;
};
