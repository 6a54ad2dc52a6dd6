#include "cli/CliValue.h"
#include "cli/Commands.h"
#include "common/signatures/Signatures.h"

#include <vector>

#include <QDate>
#include <QTime>

namespace {

const char kInfoHelp[] =
    "Usage: prismet-cli info [--json] PROFILE...\n"
    "\n"
    "Prints each profile's header fields (stored value and display name) with the status of\n"
    "its profile ID (absent, matches or differs), its tag directory (signature, name, stored\n"
    "type, offset, size, link, other entries sharing the data) and whether it is a\n"
    "matrix-shaper. Directory entries whose data is missing or cut are listed and warned about.\n"
    "A PROFILE is a file path, - for standard input, a built-in name (*srgb, *lab, *lab2, *xyz)\n"
    "or a PNG, JPEG or TIFF image, whose embedded profile is described.\n"
    "\n"
    "Options:\n"
    "  --json   one JSON document: {\"format\": 1, ..., \"profiles\": [...]} (cli/README.md)\n"
    "  --help   this text\n"
    "\n"
    "Profiles that cannot be read are reported on standard error (and, with --json, as an\n"
    "entry with \"error\"); the others are still printed. Exit status 1 when any failed.\n"
    "\n"
    "Example:\n"
    "  prismet-cli info /usr/share/color/icc/colord/sRGB.icc\n";

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

CliValue stringList(const QStringList& list)
{
    CliValue v = CliValue::array();
    for (const QString& s : list)
        v.append(s);
    return v;
}

// Every stored directory entry, also those whose data the engine could not reach.
CliValue tagDirectory(const LoadedProfile& p, const std::vector<DirectoryEntry>& directory)
{
    CliValue tags = CliValue::array();
    for (const DirectoryEntry& e : directory) {
        const bool readable = e.problem.isEmpty() && krmIsTag(p.profile, e.signature);
        const krmTagSignature link = readable ? krmTagLinkedTo(p.profile, e.signature) : 0;
        const bool typeStored = e.size >= 4 && qint64(e.offset) + 4 <= p.bytes.size();

        CliValue tag = CliValue::object();
        tag.set(QStringLiteral("index"), e.index);
        tag.set(QStringLiteral("signature"), signatureString(e.signature));
        tag.set(QStringLiteral("raw"), hex32(e.signature));
        tag.set(QStringLiteral("name"), tagName(e.signature));
        tag.set(QStringLiteral("private"), isPrivateTag(e.signature));
        tag.set(QStringLiteral("type"), typeStored ? CliValue(signatureString(be32(p.bytes, qsizetype(e.offset)))) : CliValue());
        tag.set(QStringLiteral("offset"), e.offset);
        tag.set(QStringLiteral("size"), e.size);
        tag.set(QStringLiteral("readable"), readable);
        tag.set(QStringLiteral("linkedTo"), link ? CliValue(signatureString(link)) : CliValue());
        tag.set(QStringLiteral("sharesDataWith"), stringList(sharedWith(directory, e)));
        tags.append(std::move(tag));
    }
    return tags;
}

const char* const kProfileKeys[] = {"file", "error", "image", "fileSize", "header", "idStatus", "computedId",
                                    "matrixShaper", "tagCount", "tags", "warnings"};

CliValue emptyProfile(const QString& file)
{
    CliValue v = CliValue::object();
    for (const char* key : kProfileKeys)
        v.set(QString::fromLatin1(key), CliValue());
    v.set(QStringLiteral("file"), file);
    v.set(QStringLiteral("warnings"), CliValue::array());
    return v;
}

} // namespace

CliValue failedProfile(const QString& file, const QString& error)
{
    CliValue v = emptyProfile(file);
    v.set(QStringLiteral("error"), error);
    return v;
}

CliValue describeProfile(const LoadedProfile& p, QStringList warnings, CliIO& io)
{
    CliValue v = emptyProfile(p.name);
    v.set(QStringLiteral("image"), p.image.isEmpty() ? CliValue() : CliValue(p.image));
    v.set(QStringLiteral("fileSize"), qlonglong(p.bytes.size()));
    CliValue header = CliValue::object();
    QByteArray h = p.bytes.left(128);
    h.resize(128, '\0');
    for (const HeaderField& f : kHeaderFields)
        header.set(QString::fromLatin1(f.key), headerField(f, h));
    v.set(QStringLiteral("header"), std::move(header));

    QByteArray computed;
    const ProfileIdStatus idStatus = profileIdStatus(p.bytes, &computed);
    v.set(QStringLiteral("idStatus"), profileIdStatusText(idStatus));
    v.set(QStringLiteral("computedId"), QStringLiteral("0x") + QString::fromLatin1(computed.toHex()));
    if (idStatus == ProfileIdStatus::Differs) {
        const QString w = QStringLiteral("the stored profile ID %1 differs from the computed %2")
                              .arg(profileIdText(reinterpret_cast<const krmUInt8Number*>(h.constData() + 84)),
                                   profileIdText(reinterpret_cast<const krmUInt8Number*>(computed.constData())));
        io.warning(w);
        warnings << w;
    }

    v.set(QStringLiteral("matrixShaper"), bool(krmIsMatrixShaper(p.profile)));
    v.set(QStringLiteral("tagCount"), be32(p.bytes, 128));
    const std::vector<DirectoryEntry> directory = storedDirectory(p.bytes);
    v.set(QStringLiteral("tags"), tagDirectory(p, directory));
    // One warning per entry whose data is missing or cut, beside what the engine reported.
    for (const DirectoryEntry& e : directory) {
        if (!e.problem.isEmpty()) {
            io.warning(e.problem);
            warnings << e.problem;
        }
    }
    v.set(QStringLiteral("warnings"), stringList(warnings));
    return v;
}

namespace {

QString padRight(const QString& s, int width)
{
    return s.leftJustified(width, QLatin1Char(' '));
}

} // namespace

QByteArray profileText(const CliValue& v)
{
    QString out;
    const CliValue* image = v.find(QStringLiteral("image"));
    if (image->kind() == CliValue::Kind::Null)
        out += QStringLiteral("File: %1 (%2 bytes)\n").arg(v.find(QStringLiteral("file"))->scalarText(),
                                                         v.find(QStringLiteral("fileSize"))->scalarText());
    else
        out += QStringLiteral("File: %1 (profile of %2 bytes from its %3)\n")
                   .arg(v.find(QStringLiteral("file"))->scalarText(), v.find(QStringLiteral("fileSize"))->scalarText(),
                        image->scalarText());
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
        else if (f.kind == FieldKind::ProfileId) {
            const QString status = v.find(QStringLiteral("idStatus"))->scalarText();
            shown += status == QLatin1String("differs")
                         ? QStringLiteral(" (differs: computed %1)").arg(v.find(QStringLiteral("computedId"))->scalarText())
                         : QStringLiteral(" (%1)").arg(status);
        }
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
        QString note;
        if (!tag.find(QStringLiteral("readable"))->isTrue())
            note = QStringLiteral("(no data)");
        else if (link->kind() != CliValue::Kind::Null)
            note = QStringLiteral("-> ") + link->scalarText();
        const QString row = QStringLiteral("  %1 %2 %3 %4 %5 %6 %7")
                                .arg(padRight(text("index"), 3), padRight(text("signature"), 6), padRight(text("name"), 34),
                                     padRight(tag.find(QStringLiteral("type"))->kind() == CliValue::Kind::Null ? QStringLiteral("-") : text("type"), 6),
                                     text("offset").rightJustified(9), text("size").rightJustified(9), note);
        out += row.trimmed().prepend(QStringLiteral("  ")) + QLatin1Char('\n');
        QStringList shared;
        for (const CliValue& s : tag.find(QStringLiteral("sharesDataWith"))->items())
            shared << QStringLiteral("'%1'").arg(s.scalarText());
        if (!shared.isEmpty())
            out += QStringLiteral("      shares data with %1\n").arg(shared.join(QStringLiteral(", ")));
    }
    return out.toUtf8();
}

int runInfo(const QStringList& args, CliIO& io)
{
    CommandOutput output(io, "info", {"profiles"});
    output.setJson(wantsJson(args));
    CliArgs options({QStringLiteral("json"), QStringLiteral("help")}, {});
    if (!options.parse(args))
        return output.usage(options.errorText());
    if (options.isSet(QStringLiteral("help"))) {
        io.out += kInfoHelp;
        return kExitOk;
    }
    if (options.positionals().isEmpty())
        return output.usage(QStringLiteral("info needs at least one PROFILE"));
    const bool json = options.isSet(QStringLiteral("json"));

    EngineSession session(io);
    CliValue profiles = CliValue::array();
    int status = kExitOk;
    bool first = true;
    for (const QString& name : options.positionals()) {
        std::unique_ptr<LoadedProfile> loaded = loadProfile(session, name);
        if (!loaded) {
            status = kExitUnreadable;
            const QString messages = session.takeMessages();
            profiles.append(failedProfile(name, messages.isEmpty() ? QStringLiteral("cannot read profile") : messages));
            continue;
        }
        CliValue described = describeProfile(*loaded, session.takeMessageList(), io);
        if (!json) {
            if (!first)
                io.out += '\n';
            io.out += profileText(described);
        }
        first = false;
        profiles.append(std::move(described));
    }
    output.set(QStringLiteral("profiles"), std::move(profiles));
    return output.finish(status);
}
