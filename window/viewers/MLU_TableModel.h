#pragma once

#include <krm.h>

#include <QAbstractTableModel>
#include <QString>
#include <QVector>

// The translations of one localized text, one row each: language, country and the text.
// The text object is borrowed from the profile and must outlive the model.
class MLU_TableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { LanguageColumn = 0, CountryColumn = 1, StringColumn = 2, ColumnCount = 3 };

    explicit MLU_TableModel(const krmMLU* mlu, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The text stored under exactly these codes, as the engine returns it, made readable: 8-bit
    // texts decoded, line breaks as LF.
    static QString translationText(const krmMLU* mlu, const char language[3], const char country[3]);

private:
    bool is_cell(const QModelIndex& index) const;

    struct Row {
        QString language;
        QString country;
        QString text;
    };

    QVector<Row> rows_;
};
