#include "window/viewers/NamedColorComponent.h"

#include "common/signatures/Signatures.h"
#include "window/widgets/TagAccess.h"

#include <QException>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QTableView>

namespace {

enum Column { NameColumn = 0, PcsColumn = 1, DeviceColumn = 2, SwatchColumn = 3, ColumnCount = 4 };

// Printing inks: CMY, CMYK and the n-colour spaces ('2CLR' … 'FCLR', 'MCH1' … 'MCHF').
bool is_ink_space(krmColorSpaceSignature space)
{
    const auto hex_digit = [](krmUInt32Number c) { return (c >= '1' && c <= '9') || (c >= 'A' && c <= 'F'); };
    const bool nColor = (space & 0xFFFFFFu) == (krmSig("0CLR") & 0xFFFFFFu) && hex_digit(space >> 24);
    const bool mch = (space >> 8) == (krmSig("MCH0") >> 8) && hex_digit(space & 0xFFu);
    return space == krmSig("CMY ") || space == krmSig("CMYK") || nColor || mch;
}

QString from_c(const char* text, std::size_t size)
{
    return QString::fromUtf8(text, qsizetype(qstrnlen(text, size)));
}

}  // namespace

QString format_color_words(krmColorSpaceSignature space, const krmUInt16Number* words)
{
    const int n = krmChannelsOfColorSpace(space);
    if (space == krmSig("Lab ") || space == krmSig("Luv ")) {
        krmCIELab lab{};
        krmLabEncoded2FloatV2(&lab, words);
        return QStringLiteral("%1, %2, %3")
            .arg(QString::number(lab.L, 'f', 2), QString::number(lab.a, 'f', 2), QString::number(lab.b, 'f', 2));
    }
    if (space == krmSig("XYZ ")) {
        krmCIEXYZ xyz{};
        krmXYZEncoded2Float(&xyz, words);
        return QStringLiteral("%1, %2, %3")
            .arg(QString::number(xyz.X, 'f', 4), QString::number(xyz.Y, 'f', 4), QString::number(xyz.Z, 'f', 4));
    }
    QStringList parts;
    for (int i = 0; i < n && i < krmMAXCHANNELS; ++i) {
        if (is_ink_space(space))
            parts << QString::number(words[i] * 100.0 / 65535.0, 'f', 1);
        else if (space == krmSig("GRAY") || space == krmSig("RGB ") || space == krmSig("YCbr"))
            parts << QString::number(words[i] / 257.0, 'f', 1);
        else
            parts << QStringLiteral("0x%1").arg(words[i], 0, 16);
    }
    return parts.join(QStringLiteral(", "));
}

QString named_color_display_name(const QString& prefix, const QString& name, const QString& suffix)
{
    QString text = prefix.isEmpty() ? name : prefix + QLatin1Char(' ') + name;
    if (!suffix.isEmpty())
        text += QLatin1Char(' ') + suffix;
    return text;
}

bool read_named_color(const krmNamedColorList* list, krmUInt32Number index, NamedColorRecord* record)
{
    char name[krmMAX_NAMED_COLOR_NAME] = {};
    char prefix[33] = {};
    char suffix[33] = {};
    if (!krmNamedColorInfo(list, index, name, prefix, suffix, record->pcs, record->device))
        return false;
    record->name = named_color_display_name(from_c(prefix, sizeof prefix), from_c(name, sizeof name),
                                            from_c(suffix, sizeof suffix));
    return true;
}

QList<PlottedNamedColor> plotted_named_colors(krmColorSpaceSignature pcs, const krmNamedColorList* list)
{
    QList<PlottedNamedColor> colors;
    const krmUInt32Number count = krmNamedColorCount(list);
    for (krmUInt32Number i = 0; i < count; ++i) {
        NamedColorRecord record;
        if (!read_named_color(list, i, &record))
            continue;
        if (const std::optional<krmCIELab> lab = pcs_words_to_lab(pcs, record.pcs))
            colors.append(PlottedNamedColor{record.name, *lab});
    }
    return colors;
}

krmColorSpaceSignature named_color_pcs(krmProfile profile, krmTagSignature sig)
{
    const bool colorantTable = sig == krmSig("clrt") || sig == krmSig("clot");
    if (colorantTable && krmGetProfileClass(profile) == krmSig("link"))
        return krmSig("Lab ");
    return krmGetProfilePCS(profile);
}

const krmNamedColorList* read_named_color_tag(krmProfile profile, krmTagSignature sig)
{
    return static_cast<const krmNamedColorList*>(read_tag_of_type(profile, sig, {krmSig("ncl2"), krmSig("clrt")}));
}

// ---------------------------------------------------------------------------------------------

NamedColorTableModel::NamedColorTableModel(const krmNamedColorList* list, krmTransform toScreen,
                                           krmColorSpaceSignature space, krmColorSpaceSignature pcs, QObject* parent)
    : QAbstractTableModel(parent)
    , list_(list)
    , toScreen_(toScreen)
    , space_(space)
    , pcs_(pcs)
    , count_(list ? int(krmNamedColorCount(list)) : 0)
{
}

int NamedColorTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count_;
}

int NamedColorTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant NamedColorTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= count_ || (role != Qt::DisplayRole && role != Qt::BackgroundRole))
        return {};
    NamedColorRecord record;
    if (!read_named_color(list_, krmUInt32Number(index.row()), &record))
        return {};
    const krmUInt16Number* pcs = record.pcs;
    const bool noPcs = pcs[0] == 0 && pcs[1] == 0 && pcs[2] == 0;

    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case NameColumn:
            return record.name;
        case PcsColumn:
            return noPcs ? QVariant() : QVariant(format_color_words(pcs_, pcs));
        case DeviceColumn:
            return format_color_words(space_, record.device);
        default:
            return {};
        }
    }
    if (index.column() != SwatchColumn || !toScreen_)
        return {};
    const std::optional<krmCIELab> lab = pcs_words_to_lab(pcs_, pcs);
    return lab ? QVariant(screen_color(toScreen_, *lab)) : QVariant();
}

QVariant NamedColorTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case NameColumn:
        return tr("Name");
    case PcsColumn:
        return tr("PCS - ") + colorSpaceName(pcs_);
    case DeviceColumn:
        return tr("Colorants - ") + colorSpaceName(space_);
    default:
        return {};
    }
}

// ---------------------------------------------------------------------------------------------

void ColorSwatchDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (index.column() != SwatchColumn) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QVariant value = index.data(Qt::BackgroundRole);
    if (!value.canConvert<QColor>() || !value.value<QColor>().isValid())
        return;
    const QRect box = option.rect.adjusted(2, 2, -2, -2);
    painter->save();
    painter->fillRect(box, value.value<QColor>());
    painter->setPen(Qt::black);
    painter->drawRect(box.adjusted(0, 0, -1, -1));
    painter->restore();
}

// ---------------------------------------------------------------------------------------------

NamedColorComponent::NamedColorComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : IProfileComponentView(parent)
{
    const krmNamedColorList* list = read_named_color_tag(profile, sig);
    toScreen_ = lab_to_screen_transform();
    if (!toScreen_)
        throw QException();
    model_ = new NamedColorTableModel(list, toScreen_.get(), krmGetProfileColorSpace(profile),
                                      named_color_pcs(profile, sig), this);
    build_ui(sig == krmSig("clrt") || sig == krmSig("clot"));
}

void NamedColorComponent::build_ui(bool colorantTable)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new QTableView(this);
    view_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
    view_->setSortingEnabled(false);
    view_->verticalHeader()->setDefaultSectionSize(view_->verticalHeader()->minimumSectionSize());
    view_->verticalHeader()->hide();
    view_->horizontalHeader()->show();
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setItemDelegate(new ColorSwatchDelegate(view_));
    view_->setModel(model_);
    layout->addWidget(view_);

    QHeaderView* header = view_->horizontalHeader();
    header->setSectionResizeMode(NameColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(PcsColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(SwatchColumn, QHeaderView::Fixed);
    header->resizeSection(SwatchColumn, 60);
    header->setStretchLastSection(false);
    if (colorantTable) {
        view_->setColumnHidden(DeviceColumn, true);
        header->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    } else {
        header->setSectionResizeMode(DeviceColumn, QHeaderView::Stretch);
    }
}
