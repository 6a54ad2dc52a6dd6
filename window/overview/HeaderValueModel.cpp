#include "window/overview/HeaderValueModel.h"

#include "common/signatures/Signatures.h"

#include <QBrush>
#include <QDateTime>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLocale>
#include <QPalette>

#include <cstring>

namespace {

// ICC.1:2010 7.2, profile header field offsets.
constexpr int kSizeOffset = 0;
constexpr int kCmmOffset = 4;
constexpr int kClassOffset = 12;
constexpr int kColorSpaceOffset = 16;
constexpr int kPcsOffset = 20;
constexpr int kDateOffset = 24;
constexpr int kMagicOffset = 36;
constexpr int kPlatformOffset = 40;
constexpr int kFlagsOffset = 44;
constexpr int kManufacturerOffset = 48;
constexpr int kModelOffset = 52;
constexpr int kAttributesLowOffset = 60;
constexpr int kIntentOffset = 64;
constexpr int kIlluminantOffset = 68;
constexpr int kCreatorOffset = 80;
constexpr int kProfileIdOffset = 84;

constexpr int kCellPadding = 10;
constexpr int kButtonPadding = 28;
constexpr int kPairSpacing = 3;

krmUInt32Number be32(const krmUInt8Number* p)
{
    return (krmUInt32Number(p[0]) << 24) | (krmUInt32Number(p[1]) << 16) | (krmUInt32Number(p[2]) << 8) |
           krmUInt32Number(p[3]);
}

krmUInt16Number be16(const krmUInt8Number* p)
{
    return krmUInt16Number((p[0] << 8) | p[1]);
}

QString heading(const QString& label)
{
    return QStringLiteral("<center><b>") + label.toHtmlEscaped() + QStringLiteral("</b></center>");
}

QString signatureTooltip(const QString& label, krmUInt32Number value)
{
    return heading(label) + QStringLiteral("<i>Signature:</i> '%1'").arg(signatureText(value).toHtmlEscaped());
}

QString hexTooltip(const QString& label, krmUInt32Number value)
{
    return heading(label) + QStringLiteral("<i>Hex:</i> '0x%1'").arg(value, 8, 16, QLatin1Char('0'));
}

QString dateText(const krmUInt8Number* p)
{
    const QDate date(be16(p), be16(p + 2), be16(p + 4));
    const QTime time(be16(p + 6), be16(p + 8), be16(p + 10));
    if (!date.isValid() || !time.isValid())
        return QString();
    return QLocale::system().toString(QDateTime(date, time), QLocale::NarrowFormat);
}

QString illuminantText(const krmUInt8Number* p)
{
    const krmCIEXYZ xyz = {krmInt32Number(be32(p)) / 65536.0, krmInt32Number(be32(p + 4)) / 65536.0,
                           krmInt32Number(be32(p + 8)) / 65536.0};
    // A black illuminant has no chromaticity; name it as the origin rather than divide by zero.
    krmCIExyY xyY = {0.0, 0.0, 0.0};
    if (xyz.X + xyz.Y + xyz.Z != 0.0)
        krmXYZ2xyY(&xyY, &xyz);
    return whitePointName(xyY.x, xyY.y, 0.003);
}

} // namespace

HeaderValueModel::HeaderValueModel(krmProfile profile, QObject* parent)
    : QAbstractTableModel(parent)
{
    krmUInt8Number header[128];
    std::memset(header, 0, sizeof header);
    QByteArray whole;
    krmUInt32Number fileSize = 0;
    if (krmIOHandler* io = krmGetProfileIOHandler(profile)) {
        fileSize = io->ReportedSize;
        // Keep the stream where tag decoding left it.
        const krmUInt32Number position = io->Tell(io);
        if (io->Seek(io, 0))
            io->Read(io, header, sizeof header, 1);
        // The whole profile, for checking its stored ID.
        if (io->ReportedSize >= sizeof header && io->Seek(io, 0)) {
            whole.resize(qsizetype(io->ReportedSize));
            if (io->Read(io, whole.data(), io->ReportedSize, 1) != 1)
                whole.clear();
        }
        io->Seek(io, position);
    }
    buildItems(header, profile ? krmGetProfileVersion(profile) : 0.0,
               profile ? krmGetProfileVersionRaw(profile) : 0);
    if (!whole.isEmpty())
        describeProfileId(whole);
    if (fileSize)
        describeFileSize(be32(header + kSizeOffset), fileSize);
}

void HeaderValueModel::describeFileSize(krmUInt32Number declared, krmUInt32Number fileSize)
{
    if (declared == fileSize || items_.isEmpty() || items_.first().label != tr("Size"))
        return;
    // A cut or padded file: the header's figure alone would hide it.
    Item& item = items_.first();
    item.value = tr("%1, file %2").arg(sizeText(declared), sizeText(fileSize));
    item.tooltip = heading(tr("Size")) + (fileSize < declared
                                              ? tr("The header declares %1 bytes but the file holds only %2: it is cut short.")
                                              : tr("The header declares %1 bytes; the file holds %2."))
                                             .arg(declared)
                                             .arg(fileSize);
}

void HeaderValueModel::describeProfileId(const QByteArray& profile)
{
    for (Item& item : items_) {
        if (item.label != tr("ProfileID"))
            continue;
        QByteArray computed;
        const ProfileIdStatus status = profileIdStatus(profile, &computed);
        const QString computedText = profileIdText(reinterpret_cast<const krmUInt8Number*>(computed.constData()));
        switch (status) {
        case ProfileIdStatus::Absent: item.value += tr(" (absent)"); break;
        case ProfileIdStatus::Matches: item.value += tr(" (matches)"); break;
        case ProfileIdStatus::Differs: item.value += tr(" (differs: computed %1)").arg(computedText); break;
        }
        // The dock may elide the value: the tooltip keeps all of it.
        item.tooltip = heading(tr("ProfileID")) + item.value.toHtmlEscaped() + QStringLiteral("<br>") +
                       tr("<i>Computed:</i> %1").arg(computedText);
    }
}

HeaderValueModel::HeaderValueModel(const krmUInt8Number header[128], double version, krmUInt32Number rawVersion,
                                   QObject* parent)
    : QAbstractTableModel(parent)
{
    buildItems(header, version, rawVersion);
}

void HeaderValueModel::buildItems(const krmUInt8Number* h, double version, krmUInt32Number rawVersion)
{
    auto add = [this](const QString& label, const QString& value, const QString& tooltip = QString()) {
        items_.append(Item{label, value, tooltip});
    };
    auto addSignature = [&](const QString& label, const QString& value, krmUInt32Number signature) {
        add(label, value, signatureTooltip(label, signature));
    };

    const krmUInt32Number cmm = be32(h + kCmmOffset);
    const krmUInt32Number deviceClass = be32(h + kClassOffset);
    const krmUInt32Number colorSpace = be32(h + kColorSpaceOffset);
    const krmUInt32Number pcs = be32(h + kPcsOffset);
    const krmUInt32Number platform = be32(h + kPlatformOffset);
    const krmUInt32Number flags = be32(h + kFlagsOffset);
    const krmUInt32Number manufacturer = be32(h + kManufacturerOffset);
    const krmUInt32Number model = be32(h + kModelOffset);
    const krmUInt32Number attributes = be32(h + kAttributesLowOffset);
    const krmUInt32Number creator = be32(h + kCreatorOffset);

    add(tr("Size"), sizeText(be32(h + kSizeOffset)));
    addSignature(tr("CMM"), cmmName(cmm), cmm);
    add(tr("Version"), QString::number(version, 'g', 6), hexTooltip(tr("Version"), rawVersion));
    addSignature(tr("Class"), deviceClassName(deviceClass), deviceClass);
    addSignature(tr("ColorSpace"), colorSpaceName(colorSpace), colorSpace);
    addSignature(tr("PCS"), colorSpaceName(pcs), pcs);
    add(tr("Created"), dateText(h + kDateOffset));
    add(tr("Magic"), signatureText(be32(h + kMagicOffset)));
    addSignature(tr("Platform"), platformName(platform), platform);
    add(tr("Flags"), flagsText(flags), hexTooltip(tr("Flags"), flags));
    addSignature(tr("Manufacturer"), manufacturerName(manufacturer), manufacturer);
    addSignature(tr("Model"), signatureText(model), model);
    add(tr("Attributes"), deviceAttributesText(attributes), hexTooltip(tr("Attributes"), attributes));
    add(tr("Intent"), intentText(be32(h + kIntentOffset)));
    add(tr("Illuminant"), illuminantText(h + kIlluminantOffset));
    addSignature(tr("Creator"), manufacturerName(creator), creator);
    add(tr("ProfileID"), profileIdText(h + kProfileIdOffset));
    ensureButtonItem();
}

void HeaderValueModel::ensureButtonItem()
{
    if (items_.isEmpty() || !items_.last().label.isEmpty())
        items_.append(Item{QString(), tr("Check profile"), tr("Check ICC profile conformance")});
}

QString HeaderValueModel::sizeText(krmUInt32Number size)
{
    constexpr double kKB = 1024.0;
    constexpr double kMB = 1048576.0;
    constexpr double kGB = 1073741824.0;
    if (size >= kGB)
        return tr("%1 GB").arg(size / kGB, 0, 'f', 2);
    if (size >= kMB)
        return tr("%1 MB").arg(size / kMB, 0, 'f', 2);
    if (size >= kKB)
        return tr("%1 KB").arg(size / kKB, 0, 'f', 2);
    return tr("%1 bytes").arg(size);
}

QString HeaderValueModel::flagsText(krmUInt32Number flags)
{
    // ICC.1:2010 7.2.11: bit 0 embedded, bit 1 may not be used independently.
    switch (flags & 3) {
    case 0: return tr("File, reusable");
    case 1: return tr("Embedded, reusable");
    case 2: return tr("File, only for embedding");
    default: return tr("Embedded, only for embedding");
    }
}

QString HeaderValueModel::intentText(krmUInt32Number intent)
{
    switch (intent) {
    case 0: return tr("Perceptual");
    case 1: return tr("Rel.colorimetric");
    case 2: return tr("Saturation");
    case 3: return tr("Abs.colorimetric");
    default: return tr("Invalid!");
    }
}

int HeaderValueModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    const int pairs = columnPairCount();
    return (int(items_.size()) + pairs - 1) / pairs;
}

int HeaderValueModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 2 * columnPairCount();
}

int HeaderValueModel::itemIndex(const QModelIndex& index) const
{
    if (!index.isValid())
        return -1;
    const int i = index.row() * columnPairCount() + index.column() / 2;
    return i < items_.size() ? i : -1;
}

QModelIndex HeaderValueModel::buttonIndex() const
{
    if (items_.isEmpty())
        return QModelIndex();
    const int last = int(items_.size()) - 1;
    const int pairs = columnPairCount();
    return index(last / pairs, 2 * (last % pairs) + 1);
}

QVariant HeaderValueModel::data(const QModelIndex& index, int role) const
{
    const int i = itemIndex(index);
    if (i < 0)
        return QVariant();
    const Item& item = items_.at(i);
    const bool isLabel = index.column() % 2 == 0;

    switch (role) {
    case Qt::DisplayRole:
        return isLabel ? item.label : item.value;
    case Qt::ToolTipRole:
        if (!item.tooltip.isEmpty())
            return item.tooltip;
        return isLabel ? item.label : item.value;
    case Qt::TextAlignmentRole:
        return int((isLabel ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    case Qt::BackgroundRole:
        if (isLabel)
            return QGuiApplication::palette().brush(QPalette::Window);
        return QVariant();
    default:
        return QVariant();
    }
}

void HeaderValueModel::fitColumnPairs(int width, const QFontMetrics& metrics)
{
    beginResetModel();
    rowHeight_ = metrics.height();
    ensureButtonItem();

    const int n = int(items_.size());
    QList<ColumnPair> chosen;
    for (int pairs = n; pairs >= 1; --pairs) {
        QList<ColumnPair> widths(pairs, ColumnPair{0, 0});
        for (int i = 0; i < n; ++i) {
            ColumnPair& pair = widths[i % pairs];
            const int padding = i == n - 1 ? kButtonPadding : kCellPadding;
            pair.labelWidth = std::max(pair.labelWidth, metrics.horizontalAdvance(items_[i].label) + kCellPadding);
            pair.valueWidth = std::max(pair.valueWidth, metrics.horizontalAdvance(items_[i].value) + padding);
        }
        int needed = 0;
        for (const ColumnPair& pair : widths)
            needed += pair.labelWidth + pair.valueWidth + kPairSpacing;
        chosen = widths;
        if (needed <= width)
            break;
    }
    if (!chosen.isEmpty())
        columnPairs_ = chosen;
    endResetModel();
}
