#include "cli/CliValue.h"
#include "cli/Commands.h"
#include "overview/Signatures.h"

#include <QDate>
#include <QTime>

namespace {

const char kInfoHelp[] =
    "Usage: prismet-cli info [--json] PROFILE...\n"
    "\n"
    "Prints each profile's header fields (stored value and display name), its tag directory\n"
    "(signature, name, stored type, offset, size, link) and whether it is a matrix-shaper.\n"
    "A PROFILE is a file path or a built-in name (*srgb, *lab, *lab2, *xyz).\n"
    "\n"
    "Options:\n"
    "  --json   one JSON document: {\"profiles\": [...]} (layout in cli/README.md)\n"
    "  --help   this text\n"
    "\n"
    "Profiles that cannot be read are reported on standard error (and, with --json, as an\n"
    "entry with \"error\"); the others are still printed. Exit status 1 when any failed.\n";

// ICC.1:2010 7.2, profile header layout.
enum class FieldKind { Size, Signature, Version, Date, Flags, Attributes, Intent, Illuminant, ProfileId };

struct HeaderField {
    const char* key;
    const char* label;
    int offset;
    int length;
    FieldKind kind;
    QString (*name)(krmUInt32Number);
};

const HeaderField kHeaderFields[] = {
    {"size", "Size", 0, 4, FieldKind::Size, nullptr},
    {"cmm", "CMM", 4, 4, FieldKind::Signature, cmmName},
    {"version", "Version", 8, 4, FieldKind::Version, nullptr},
    {"class", "Class", 12, 4, FieldKind::Signature, deviceClassName},
    {"colorSpace", "ColorSpace", 16, 4, FieldKind::Signature, colorSpaceName},
    {"pcs", "PCS", 20, 4, FieldKind::Signature, colorSpaceName},
    {"created", "Created", 24, 12, FieldKind::Date, nullptr},
    {"magic", "Magic", 36, 4, FieldKind::Signature, signatureText},
    {"platform", "Platform", 40, 4, FieldKind::Signature, platformName},
    {"flags", "Flags", 44, 4, FieldKind::Flags, nullptr},
    {"manufacturer", "Manufacturer", 48, 4, FieldKind::Signature, manufacturerName},
    {"model", "Model", 52, 4, FieldKind::Signature, signatureText},
    {"attributes", "Attributes", 56, 8, FieldKind::Attributes, nullptr},
    {"intent", "Intent", 64, 4, FieldKind::Intent, nullptr},
    {"illuminant", "Illuminant", 68, 12, FieldKind::Illuminant, nullptr},
    {"creator", "Creator", 80, 4, FieldKind::Signature, manufacturerName},
    {"profileId", "ProfileID", 84, 16, FieldKind::ProfileId, nullptr},
};

QString rawHex(const QByteArray& bytes, int offset, int length)
{
    return QStringLiteral("0x") + QString::fromLatin1(bytes.mid(offset, length).toHex());
}

QString flagsText(krmUInt32Number flags)
{
    // ICC.1:2010 7.2.11: bit 0 embedded, bit 1 may not be used independently.
    switch (flags & 3) {
    case 0: return QStringLiteral("File, reusable");
    case 1: return QStringLiteral("Embedded, reusable");
    case 2: return QStringLiteral("File, only for embedding");
    default: return QStringLiteral("Embedded, only for embedding");
    }
}

double s15(krmUInt32Number v)
{
    return krmInt32Number(v) / 65536.0;
}

CliValue headerField(const HeaderField& f, const QByteArray& h)
{
    CliValue field = CliValue::object();
    field.set(QStringLiteral("raw"), rawHex(h, f.offset, f.length));
    const krmUInt32Number v = be32(h, f.offset);
    switch (f.kind) {
    case FieldKind::Size:
        field.set(QStringLiteral("value"), v);
        field.set(QStringLiteral("name"), QStringLiteral("%1 bytes").arg(v));
        break;
    case FieldKind::Signature:
        // An empty (all-zero) signature has no characters to show.
        field.set(QStringLiteral("value"), v ? CliValue(signatureString(v)) : CliValue());
        field.set(QStringLiteral("name"), v ? f.name(v) : QStringLiteral("none"));
        break;
    case FieldKind::Version: {
        // Byte 0 major, byte 1 minor (high nibble) and bug-fix level (low nibble).
        const QString text = QStringLiteral("%1.%2.%3").arg(v >> 24).arg((v >> 20) & 0xF).arg((v >> 16) & 0xF);
        field.set(QStringLiteral("value"), text);
        field.set(QStringLiteral("name"), QStringLiteral("%1.%2").arg(v >> 24).arg((v >> 20) & 0xF));
        break;
    }
    case FieldKind::Date: {
        const QDate date(be16(h, 24), be16(h, 26), be16(h, 28));
        const QTime time(be16(h, 30), be16(h, 32), be16(h, 34));
        const bool valid = date.isValid() && time.isValid();
        const QString iso = valid ? date.toString(Qt::ISODate) + QLatin1Char('T') + time.toString(Qt::ISODate) : QString();
        field.set(QStringLiteral("value"), valid ? CliValue(iso) : CliValue());
        field.set(QStringLiteral("name"), valid ? iso : QStringLiteral("Invalid date"));
        break;
    }
    case FieldKind::Flags:
        field.set(QStringLiteral("value"), v);
        field.set(QStringLiteral("name"), flagsText(v));
        break;
    case FieldKind::Attributes: {
        const krmUInt64Number a = (krmUInt64Number(be32(h, 56)) << 32) | be32(h, 60);
        field.set(QStringLiteral("name"), deviceAttributesText(a));
        break;
    }
    case FieldKind::Intent:
        field.set(QStringLiteral("value"), v);
        field.set(QStringLiteral("name"), v <= 3 ? intentName(v) : QStringLiteral("Invalid!"));
        break;
    case FieldKind::Illuminant: {
        const krmCIEXYZ xyz = {s15(be32(h, 68)), s15(be32(h, 72)), s15(be32(h, 76))};
        field.set(QStringLiteral("value"), xyzValue(xyz.X, xyz.Y, xyz.Z));
        krmCIExyY xyY = {0.0, 0.0, 0.0};
        // A black illuminant has no chromaticity.
        if (xyz.X + xyz.Y + xyz.Z != 0.0)
            krmXYZ2xyY(&xyY, &xyz);
        field.set(QStringLiteral("name"), whitePointName(xyY.x, xyY.y, 0.003));
        break;
    }
    case FieldKind::ProfileId: {
        krmUInt8Number id[16];
        for (int i = 0; i < 16; ++i)
            id[i] = krmUInt8Number(h[84 + i]);
        field.set(QStringLiteral("name"), profileIdText(id));
        break;
    }
    }
    return field;
}

CliValue tagDirectory(const LoadedProfile& p)
{
    CliValue tags = CliValue::array();
    const krmInt32Number count = krmGetTagCount(p.profile);
    for (krmInt32Number i = 0; i < count; ++i) {
        const krmTagSignature sig = krmGetTagSignature(p.profile, krmUInt32Number(i));
        if (sig == 0)
            continue;
        krmUInt32Number offset = 0, size = 0;
        krmGetTagOffsetAndSize(p.profile, krmUInt32Number(i), &offset, &size);
        const krmUInt32Number type = size >= 4 ? be32(p.bytes, qsizetype(offset)) : 0;
        const krmTagSignature link = krmTagLinkedTo(p.profile, sig);

        CliValue tag = CliValue::object();
        tag.set(QStringLiteral("index"), i);
        tag.set(QStringLiteral("signature"), signatureString(sig));
        tag.set(QStringLiteral("raw"), hex32(sig));
        tag.set(QStringLiteral("name"), tagName(sig));
        tag.set(QStringLiteral("private"), isPrivateTag(sig));
        tag.set(QStringLiteral("type"), signatureString(type));
        tag.set(QStringLiteral("offset"), offset);
        tag.set(QStringLiteral("size"), size);
        tag.set(QStringLiteral("linkedTo"), link ? CliValue(signatureString(link)) : CliValue());
        tags.append(std::move(tag));
    }
    return tags;
}

CliValue describeProfile(const LoadedProfile& p, const QStringList& warnings)
{
    CliValue v = CliValue::object();
    v.set(QStringLiteral("file"), p.name);
    v.set(QStringLiteral("fileSize"), qlonglong(p.bytes.size()));
    CliValue header = CliValue::object();
    QByteArray h = p.bytes.left(128);
    h.resize(128, '\0');
    for (const HeaderField& f : kHeaderFields)
        header.set(QString::fromLatin1(f.key), headerField(f, h));
    v.set(QStringLiteral("header"), std::move(header));
    v.set(QStringLiteral("matrixShaper"), bool(krmIsMatrixShaper(p.profile)));
    v.set(QStringLiteral("tagCount"), be32(p.bytes, 128));
    v.set(QStringLiteral("tags"), tagDirectory(p));
    // What the engine reported while opening a profile it still accepted.
    CliValue list = CliValue::array();
    for (const QString& w : warnings)
        list.append(w);
    v.set(QStringLiteral("warnings"), std::move(list));
    return v;
}

QString padRight(const QString& s, int width)
{
    return s.leftJustified(width, QLatin1Char(' '));
}

QByteArray profileText(const CliValue& v)
{
    QString out;
    out += QStringLiteral("File: %1 (%2 bytes)\n").arg(v.find(QStringLiteral("file"))->scalarText(),
                                                     v.find(QStringLiteral("fileSize"))->scalarText());
    out += QStringLiteral("Header:\n");
    const CliValue& header = *v.find(QStringLiteral("header"));
    for (const HeaderField& f : kHeaderFields) {
        const CliValue& field = *header.find(QString::fromLatin1(f.key));
        const CliValue* value = field.find(QStringLiteral("value"));
        QString shown = field.find(QStringLiteral("name"))->scalarText();
        if (f.kind == FieldKind::Signature && value->kind() != CliValue::Kind::Null)
            shown = QStringLiteral("'%1'  %2").arg(value->scalarText(), shown);
        else if (f.kind == FieldKind::Illuminant)
            shown = QStringLiteral("X %1 Y %2 Z %3  %4")
                        .arg(value->find(QStringLiteral("X"))->scalarText(), value->find(QStringLiteral("Y"))->scalarText(),
                             value->find(QStringLiteral("Z"))->scalarText(), shown);
        out += QStringLiteral("  %1 %2  [%3]\n")
                   .arg(padRight(QString::fromLatin1(f.label) + QLatin1Char(':'), 14), shown,
                        field.find(QStringLiteral("raw"))->scalarText());
    }
    out += QStringLiteral("Matrix shaper: %1\n").arg(v.find(QStringLiteral("matrixShaper"))->scalarText());
    const CliValue& tags = *v.find(QStringLiteral("tags"));
    out += QStringLiteral("Tags (%1):\n").arg(tags.size());
    out += QStringLiteral("  %1 %2 %3 %4 %5 %6 %7\n")
               .arg(padRight(QStringLiteral("#"), 3), padRight(QStringLiteral("Sig"), 6),
                    padRight(QStringLiteral("Name"), 34), padRight(QStringLiteral("Type"), 6),
                    QStringLiteral("Offset").rightJustified(9), QStringLiteral("Size").rightJustified(9),
                    QStringLiteral("Link"));
    for (const CliValue& tag : tags.items()) {
        auto text = [&](const char* key) { return tag.find(QString::fromLatin1(key))->scalarText(); };
        const CliValue* link = tag.find(QStringLiteral("linkedTo"));
        const QString row = QStringLiteral("  %1 %2 %3 %4 %5 %6 %7")
                                .arg(padRight(text("index"), 3), padRight(text("signature"), 6), padRight(text("name"), 34),
                                     padRight(text("type"), 6), text("offset").rightJustified(9),
                                     text("size").rightJustified(9),
                                     link->kind() == CliValue::Kind::Null ? QString() : QStringLiteral("-> ") + link->scalarText());
        out += row.trimmed().prepend(QStringLiteral("  ")) + QLatin1Char('\n');
    }
    return out.toUtf8();
}

} // namespace

int runInfo(const QStringList& args, CliIO& io)
{
    CliArgs options({QStringLiteral("json"), QStringLiteral("help")}, {});
    if (!options.parse(args)) {
        io.error(options.errorText());
        io.err += kInfoHelp;
        return kExitUsage;
    }
    if (options.isSet(QStringLiteral("help"))) {
        io.out += kInfoHelp;
        return kExitOk;
    }
    if (options.positionals().isEmpty()) {
        io.error(QStringLiteral("info needs at least one PROFILE"));
        io.err += kInfoHelp;
        return kExitUsage;
    }
    const bool json = options.isSet(QStringLiteral("json"));

    EngineSession session(io);
    CliValue profiles = CliValue::array();
    int status = kExitOk;
    bool first = true;
    for (const QString& name : options.positionals()) {
        std::unique_ptr<LoadedProfile> loaded = loadProfile(session, name);
        if (!loaded) {
            status = kExitUnreadable;
            CliValue failed = CliValue::object();
            failed.set(QStringLiteral("file"), name);
            const QString messages = session.takeMessages();
            failed.set(QStringLiteral("error"), messages.isEmpty() ? QStringLiteral("cannot read profile") : messages);
            profiles.append(std::move(failed));
            continue;
        }
        CliValue described = describeProfile(*loaded, session.takeMessageList());
        if (!json) {
            if (!first)
                io.out += '\n';
            io.out += profileText(described);
        }
        first = false;
        profiles.append(std::move(described));
    }
    if (json) {
        CliValue doc = CliValue::object();
        doc.set(QStringLiteral("profiles"), std::move(profiles));
        io.out += doc.toJson();
    }
    return status;
}
