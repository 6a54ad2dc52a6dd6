#pragma once

// The verification dialog's patch table: one row per measured patch with its device values, the
// measured and predicted L*a*b* and the differences. Qt::UserRole gives numbers for sorting.

#include "common/analysis/Verification.h"

#include <QAbstractTableModel>

class VerificationModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Id, Device, MeasuredL, MeasuredA, MeasuredB, PredictedL, PredictedA, PredictedB, DE00, DE76, Columns };

    explicit VerificationModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    void setResults(const MeasurementSet& set, const VerificationReport& report);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    MeasurementSet set_;
    VerificationReport report_;
};
