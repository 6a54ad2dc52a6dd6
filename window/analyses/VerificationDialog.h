#pragma once

// File ▸ "Verify against measurements…": the open profile's predictions of a CGATS measurement
// file (common/analysis/Verification): the sortable patch table, the statistics per region, and in
// the 3D view every measured patch with a vector to its prediction, coloured by ΔE00 (green at 0,
// yellow at 2, red from 4 on). "Copy report" puts the text report on the clipboard.

#include "common/analysis/Verification.h"

#include <krm.h>

#include <QDialog>

class HullWidget;
class QCheckBox;
class QComboBox;
class QLabel;
class QSortFilterProxyModel;
class TableView;
class VerificationModel;

class VerificationDialog : public QDialog
{
    Q_OBJECT

public:
    // Borrows the profile for the dialog's lifetime.
    VerificationDialog(krmProfile profile, const QString& profileName, QWidget* parent = nullptr);

    // The File menu's entry: asks for a measurement file, then shows the dialog (modal).
    static void run(krmProfile profile, const QString& profileName, QWidget* parent);

    // Reads and verifies a measurement file; false with the reason shown (errorText()).
    bool load(const QString& path);

    QString errorText() const { return error_; }
    QString reportText() const;
    VerificationModel* model() const { return model_; }
    QSortFilterProxyModel* proxy() const { return proxy_; }
    HullWidget* view() const { return view_; }
    TableView* table() const { return table_; }

    // The colour of an error of this size in the 3D view.
    static QColor errorColor(double de00);

public slots:
    void choose_file();
    void copy_report();

private:
    void build_ui();
    void connect_signals();
    void recompute();
    void show_results();

    krmProfile profile_ = nullptr;
    QString profileName_;
    QString path_;
    QString error_;
    bool valid_ = false;
    MeasurementSet set_;
    VerificationReport report_;

    QLabel* file_ = nullptr;
    QComboBox* intent_ = nullptr;
    QCheckBox* relative_ = nullptr;
    QLabel* summary_ = nullptr;
    TableView* table_ = nullptr;
    VerificationModel* model_ = nullptr;
    QSortFilterProxyModel* proxy_ = nullptr;
    HullWidget* view_ = nullptr;
};
