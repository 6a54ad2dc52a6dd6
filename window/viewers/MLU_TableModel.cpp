#include "window/viewers/MLU_TableModel.h"

#include <QStringDecoder>

#include <algorithm>
#include <vector>

namespace {

bool is_empty_code(const char code[3])
{
    return code[0] == 0 && code[1] == 0;
}

// The text types of ICC version 2 ('text', the ASCII part of 'desc') hold 8-bit bytes, which the
// engine stores under empty codes as sign-extended units: 0x80-0xFF arrive as 0xFF80-0xFFFF.
// Such a text is turned back into its bytes and decoded as UTF-8 when it is valid UTF-8 (as
// many newer tools write), else as Latin-1, so "©" does not show as a half-width letter.
QString narrow_text(const QString& wide)
{
    QByteArray bytes;
    bytes.reserve(wide.size());
    bool extended = false;
    for (const QChar unit : wide) {
        const char16_t u = unit.unicode();
        if (u < 0x80) {
            bytes.append(char(u));
        } else if (u >= 0xFF80) {
            bytes.append(char(u & 0xFF));
            extended = true;
        } else {
            return wide;  // a real Unicode text: keep it as it is
        }
    }
    if (!extended)
        return wide;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8.decode(bytes);
    if (!utf8.hasError())
        return decoded;
    return QString::fromLatin1(bytes);
}

bool is_unicode_part(const char language[3])
{
    return static_cast<unsigned char>(language[0]) == 0xFF && static_cast<unsigned char>(language[1]) == 0xFF;
}

QString code_text(const char code[3])
{
    return QString::fromLatin1(code, int(qstrnlen(code, 2)));
}

}  // namespace

MLU_TableModel::MLU_TableModel(const krmMLU* mlu, QObject* parent)
    : QAbstractTableModel(parent)
{
    const krmUInt32Number count = krmMLUTranslationsCount(mlu);
    rows_.reserve(int(std::min<krmUInt32Number>(count, 4096)));
    for (krmUInt32Number i = 0; i < count; ++i) {
        char language[3] = {};
        char country[3] = {};
        if (!krmMLUTranslationCodes(mlu, i, language, country))
            break;
        Row row;
        if (is_unicode_part(language)) {
            row.language = tr("(Unicode)");
        } else {
            row.language = code_text(language);
            row.country = code_text(country);
        }
        row.text = translationText(mlu, language, country);
        rows_.append(row);
    }
}

QString MLU_TableModel::translationText(const krmMLU* mlu, const char language[3], const char country[3])
{
    const krmUInt32Number needed = krmMLUGetWide(mlu, language, country, nullptr, 0);
    if (needed < sizeof(krmWChar))
        return QString();
    std::vector<krmWChar> buffer(needed / sizeof(krmWChar) + 1, 0);
    const krmUInt32Number got = krmMLUGetWide(mlu, language, country, buffer.data(), needed);
    if (got < sizeof(krmWChar))
        return QString();
    const QString text = QString::fromUtf16(buffer.data(), qsizetype(got / sizeof(krmWChar)) - 1);
    // The stored text may carry its own terminator (or padding zeros); nothing after it is text.
    const qsizetype end = text.indexOf(QChar(0));
    const QString trimmed = end >= 0 ? text.left(end) : text;
    QString shown = is_empty_code(language) && is_empty_code(country) ? narrow_text(trimmed) : trimmed;
    // Texts written on classic Mac OS end their lines with CR alone, which text widgets ignore.
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

bool MLU_TableModel::is_cell(const QModelIndex& index) const
{
    return index.isValid() && index.model() == this && !index.parent().isValid() && index.row() < rows_.size()
        && index.column() < ColumnCount;
}

int MLU_TableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int MLU_TableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant MLU_TableModel::data(const QModelIndex& index, int role) const
{
    if (!is_cell(index))
        return QVariant();
    const Row& row = rows_[index.row()];
    // Rows show a few lines of long texts; the tooltip has all of it.
    if (role == Qt::ToolTipRole) {
        if (index.column() != StringColumn || row.text.isEmpty())
            return QVariant();
        // As escaped rich text: tooltips wrap only rich text, and a stored text is never markup.
        return QStringLiteral("<p style='white-space:pre-wrap'>%1</p>").arg(row.text.toHtmlEscaped());
    }
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case LanguageColumn:
        return row.language;
    case CountryColumn:
        return row.country;
    case StringColumn:
        return row.text;
    default:
        return QVariant();
    }
}

QVariant MLU_TableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QVariant();
    switch (section) {
    case LanguageColumn:
        return tr("Language");
    case CountryColumn:
        return tr("Country");
    case StringColumn:
        return tr("String");
    default:
        return QVariant();
    }
}

Qt::ItemFlags MLU_TableModel::flags(const QModelIndex& index) const
{
    if (!is_cell(index))
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}
