#include "window/overview/TagsListValueModel.h"

#include "common/signatures/Signatures.h"
#include "window/overview/TagViewers.h"
#include "window/widgets/ChannelVocabulary.h"

#include <QApplication>
#include <QBrush>
#include <QPalette>

namespace {

struct GroupRow {
    std::initializer_list<const char*> signatures;
    const char* lightBackground;
    const char* darkText;
};

// The fixed groups, in the order a row's group is searched.
const GroupRow kFixedGroups[] = {
    {{"cprt", "dmnd", "dmdd", "desc", "dscm"}, "#FFFFBB", "#FFFF99"},
    {{"calt", "targ", "meas", "lumi", "vued", "view", "arts", "chad", "chrm"}, "#FFE6CC", "#FF6A00"},
    {{"clro", "clrt", "clot"}, "#F7DDE2", "#FFB6D5"},
    {{"A2B0", "D2B0", "B2A0", "pre0"}, "#CFF5C9", "#A8E6A3"},
    {{"A2B1", "D2B1", "B2A1", "pre1"}, "#CFF5C9", "#A8E6A3"},
    {{"A2B2", "D2B2", "B2A2", "pre2"}, "#CFF5C9", "#A8E6A3"},
    {{"psd0", "psd1", "psd2", "psd3", "ps2s", "ps2i", "crdi"}, "#FFE6CC", "#FF6A00"},
    {{"scrd", "scrn"}, "#FFE6CC", "#FF6A00"},
    {{"pseq", "psid"}, "#F7DDE2", "#FFB6D5"},
};

krmTagSignature signature_of(const char* text)
{
    krmTagSignature value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | krmUInt8Number(text[i]);
    return value;
}

TagGroup make_group(std::initializer_list<const char*> signatures, const char* light, const char* dark)
{
    TagGroup group;
    for (const char* text : signatures)
        group.signatures.insert(signature_of(text));
    group.lightBackground = QColor(QString::fromLatin1(light));
    group.darkText = QColor(QString::fromLatin1(dark));
    return group;
}

// The type signature stored at the start of the tag's data; 0 when it cannot be reached.
krmTagTypeSignature stored_type_at(krmProfile profile, krmUInt32Number offset)
{
    krmIOHandler* io = krmGetProfileIOHandler(profile);
    if (!io || !io->Seek(io, offset))
        return 0;
    return krmReadTypeBase(io);
}

QString decimal_and_hex(krmUInt32Number value)
{
    return QStringLiteral("%1 (0x%2)").arg(value).arg(value, 0, 16);
}

}  // namespace

TagsListValueModel::TagsListValueModel(krmProfile profile, QObject* parent)
    : QAbstractTableModel(parent)
{
    if (!profile)
        return;
    build_entries(profile);
    build_groups(profile);
}

void TagsListValueModel::build_entries(krmProfile profile)
{
    const krmInt32Number count = krmGetTagCount(profile);
    for (krmInt32Number i = 0; i < count; ++i) {
        TagEntry entry;
        entry.signature = krmGetTagSignature(profile, krmUInt32Number(i));
        krmUInt32Number offset = 0;
        krmUInt32Number size = 0;
        const bool located = krmGetTagOffsetAndSize(profile, krmUInt32Number(i), &offset, &size);
        const krmTagTypeSignature type = located ? stored_type_at(profile, offset) : 0;

        entry.tooltip = QStringLiteral("<center><b>") + tagName(entry.signature).toHtmlEscaped()
                        + QStringLiteral("</b></center>")
                        + QStringLiteral("<i>Signature:</i> '%1'").arg(signatureText(entry.signature).toHtmlEscaped())
                        + QStringLiteral("<br><i>Type:</i> '%1'").arg(type ? signatureText(type).toHtmlEscaped() : QString())
                        + QStringLiteral("<br><br><i>Offset:</i> %1").arg(decimal_and_hex(offset))
                        + QStringLiteral("<br><i>Size:</i> %1").arg(decimal_and_hex(size));
        entry.linkedTo = krmTagLinkedTo(profile, entry.signature);
        entries_.append(entry);
    }
}

void TagsListValueModel::build_groups(krmProfile profile)
{
    groups_.clear();
    const krmColorSpaceSignature space = krmGetProfileColorSpace(profile);
    const bool rgb = space == krmSig("RGB ");
    const bool gray = space == krmSig("GRAY");
    if ((rgb || gray) && krmIsMatrixShaper(profile)) {
        entries_.append(TagEntry{MatrixShaperTag, tr("Matrix-shaper related tags"), 0});
        TagGroup group = rgb ? make_group({"rXYZ", "gXYZ", "bXYZ", "rTRC", "gTRC", "bTRC"}, "#d0f7ff", "#00eaff")
                             : make_group({"kTRC"}, "#d0f7ff", "#00eaff");
        group.signatures.insert(MatrixShaperTag);
        groups_.append(group);
    }
    for (const GroupRow& row : kFixedGroups)
        groups_.append(make_group(row.signatures, row.lightBackground, row.darkText));

    for (TagGroup& group : groups_) {
        for (int row = 0; row < entries_.size(); ++row) {
            if (group.signatures.contains(entries_[row].signature))
                group.rows.insert(row);
        }
    }
}

int TagsListValueModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(entries_.size());
}

int TagsListValueModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 2;
}

krmTagSignature TagsListValueModel::signatureAt(int row) const
{
    return row >= 0 && row < entries_.size() ? entries_[row].signature : 0;
}

bool TagsListValueModel::row_in_active_group(int row) const
{
    return active_group_ >= 0 && groups_[active_group_].rows.contains(row);
}

QVariant TagsListValueModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const TagEntry& entry = entries_[index.row()];
    const bool firstColumn = index.column() == 0;

    switch (role) {
    case Qt::DisplayRole:
        if (firstColumn)
            return entry.signature == MatrixShaperTag ? QString() : signatureText(entry.signature);
        if (entry.linkedTo)
            return tagName(entry.signature) + QStringLiteral(" \u2192\U0001F517") + tagName(entry.linkedTo);
        return tagName(entry.signature);
    case Qt::ToolTipRole:
        return entry.tooltip;
    case Qt::TextAlignmentRole:
        return QVariant::fromValue((firstColumn ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    case Qt::BackgroundRole:
        if (!is_dark_palette() && row_in_active_group(index.row()))
            return QBrush(groups_[active_group_].lightBackground);
        if (firstColumn)
            return QApplication::palette().brush(QPalette::Window);
        return {};
    case Qt::ForegroundRole:
        if (is_dark_palette() && row_in_active_group(index.row()))
            return QBrush(groups_[active_group_].darkText);
        return {};
    default:
        return {};
    }
}

QVariant TagsListValueModel::headerData(int, Qt::Orientation, int) const
{
    return {};
}

void TagsListValueModel::setCurrentRow(int row)
{
    QSet<int> changed = active_group_ >= 0 ? groups_[active_group_].rows : QSet<int>();
    current_row_ = row;
    active_group_ = -1;
    for (int i = 0; i < groups_.size(); ++i) {
        if (groups_[i].rows.contains(row)) {
            active_group_ = i;
            break;
        }
    }
    if (active_group_ >= 0)
        changed.unite(groups_[active_group_].rows);
    for (int changedRow : changed)
        emit dataChanged(index(changedRow, 0), index(changedRow, 1));
}
