// The verification dialog's patch table.
#include "window/analyses/VerificationModel.h"

#include <QStringList>

#include <numeric>

void VerificationModel::setResults(const MeasurementSet& set, const VerificationReport& report)
{
    beginResetModel();
    set_ = set;
    report_ = report;
    endResetModel();
}

int VerificationModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(report_.patches.size());
}

int VerificationModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Columns; }

QVariant VerificationModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || (role != Qt::DisplayRole && role != Qt::UserRole
                                                          && role != Qt::TextAlignmentRole))
        return {};
    const MeasuredPatch& patch = set_.patches[std::size_t(index.row())];
    const PatchVerification& result = report_.patches[std::size_t(index.row())];
    const int column = index.column();
    if (role == Qt::TextAlignmentRole)
        return column <= Device ? QVariant(Qt::AlignLeft | Qt::AlignVCenter) : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    double value = 0;
    switch (column) {
    case Id:
        if (role == Qt::UserRole)
            return index.row();  // file order
        return QString::fromStdString(patch.id);
    case Device: {
        if (role == Qt::UserRole)  // by the sum of the channels, a rough light-to-dark order
            return std::accumulate(patch.unit.begin(), patch.unit.end(), 0.0);
        QStringList values;
        for (double v : patch.device)
            values << QString::number(v, 'g', 6);
        return values.join(QLatin1Char(' '));
    }
    case MeasuredL:
    case MeasuredA:
    case MeasuredB:
        value = patch.lab[column - MeasuredL];
        break;
    case PredictedL:
    case PredictedA:
    case PredictedB:
        value = result.predicted[column - PredictedL];
        break;
    case DE00:
        value = result.de00;
        break;
    case DE76:
        value = result.de76;
        break;
    default:
        return {};
    }
    if (role == Qt::UserRole)
        return value;
    return QString::number(value, 'f', column >= DE00 ? 3 : 2);
}

QVariant VerificationModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const kHeaders[Columns] = {"Patch",         "Device",        "Measured L*",  "Measured a*",
                                                  "Measured b*",   "Predicted L*",  "Predicted a*", "Predicted b*",
                                                  "\u0394E00",     "\u0394E76"};
    return section >= 0 && section < Columns ? QString::fromUtf8(kHeaders[section]) : QVariant();
}
