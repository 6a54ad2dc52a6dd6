#include "window/overview/TagsListValueModel.h"

#include "common/signatures/Signatures.h"
#include "window/overview/TagViewers.h"
#include "window/widgets/ChannelVocabulary.h"
#include "window/widgets/StoredDirectory.h"

#include <QApplication>
#include <QBrush>
#include <QFont>
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
    struct Located {
        krmTagSignature signature;
        krmUInt32Number offset;
        krmUInt32Number size;
        QString problem;
    };
    QList<Located> located;
    // The file's own directory lists every entry, readable or not; without one (a profile made in
    // memory) the engine's list is all there is.
    const StoredDirectory stored = readStoredDirectory(profile);
    if (!stored.entries.isEmpty()) {
        for (const StoredTagEntry& entry : stored.entries) {
            const bool readable = entry.problem.isEmpty() && krmIsTag(profile, entry.signature);
            located.append({entry.signature, entry.offset, entry.size,
                            readable || !entry.problem.isEmpty() ? entry.problem
                                                                 : tr("is not read by the engine")});
        }
    } else {
        const krmInt32Number count = krmGetTagCount(profile);
        for (krmInt32Number i = 0; i < count; ++i) {
            Located entry{krmGetTagSignature(profile, krmUInt32Number(i)), 0, 0, QString()};
            krmGetTagOffsetAndSize(profile, krmUInt32Number(i), &entry.offset, &entry.size);
            located.append(entry);
        }
    }

    for (const Located& item : located) {
        TagEntry entry;
        entry.signature = item.signature;
        entry.problem = item.problem;
        const krmTagTypeSignature type = item.problem.isEmpty() ? stored_type_at(profile, item.offset) : 0;

        entry.name = tagNameForClass(entry.signature, krmGetProfileClass(profile));
        entry.tooltip = QStringLiteral("<center><b>") + entry.name.toHtmlEscaped()
                        + QStringLiteral("</b></center>")
                        + QStringLiteral("<i>Signature:</i> '%1'").arg(signatureText(entry.signature).toHtmlEscaped())
                        + QStringLiteral("<br><i>Type:</i> '%1'").arg(type ? signatureText(type).toHtmlEscaped() : QString())
                        + QStringLiteral("<br><br><i>Offset:</i> %1").arg(decimal_and_hex(item.offset))
                        + QStringLiteral("<br><i>Size:</i> %1").arg(decimal_and_hex(item.size));
        if (!item.problem.isEmpty())
            entry.tooltip += QStringLiteral("<br><br><b>") + tr("Unreadable: the entry %1 (the file holds %2 bytes).")
                                                                 .arg(item.problem.toHtmlEscaped())
                                                                 .arg(stored.fileSize)
                             + QStringLiteral("</b>");
        entry.linkedTo = item.problem.isEmpty() ? krmTagLinkedTo(profile, entry.signature) : 0;
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
        entries_.append(TagEntry{MatrixShaperTag, tagName(MatrixShaperTag), tr("Matrix-shaper related tags"), 0, QString()});
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
        if (!entry.problem.isEmpty())
            return entry.name + QStringLiteral(" \u26A0 ") + tr("unreadable: %1").arg(entry.problem);
        if (entry.linkedTo)
            return entry.name + QStringLiteral(" \u2192\U0001F517") + tagName(entry.linkedTo);
        return entry.name;
    case Qt::ToolTipRole:
        return entry.tooltip;
    case Qt::FontRole:
        if (!entry.problem.isEmpty()) {
            QFont font;
            font.setItalic(true);
            return font;
        }
        return {};
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
