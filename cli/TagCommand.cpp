#include "cli/CliValue.h"
#include "cli/Commands.h"
#include "cli/TagContent.h"
#include "overview/Signatures.h"

namespace {

const char kTagHelp[] =
    "Usage: prismet-cli tag [--json] [--raw] [--full] [--strict] PROFILE SIG\n"
    "\n"
    "Prints the decoded content of one tag: texts with every translation, XYZ values,\n"
    "curves (parametric type and parameters, or the table), matrices, pipelines as their\n"
    "stage list with channel counts and CLUT grid sizes, named colours, dictionaries and\n"
    "structured records. SIG is the tag signature ('desc', 'A2B0', 'bfd' for 'bfd ') or\n"
    "0x followed by its hex value.\n"
    "\n"
    "Options:\n"
    "  --raw     the tag's bytes as a hex dump instead (with --json: as a hex string)\n"
    "  --full    also the curve tables inside pipelines and every CLUT node\n"
    "  --strict  read as a conformance check does: a tag whose type its signature does not\n"
    "            allow is refused (by default every tag of a known type is decoded)\n"
    "  --json    the same as one JSON document (layout in cli/README.md)\n"
    "  --help    this text\n"
    "\n"
    "A tag of a type the engine does not know is shown as its bytes (\"decoded\": false) and\n"
    "the status is 0; a tag the engine cannot decode (corrupt data) gives status 1.\n";

struct TagLocation {
    krmUInt32Number offset = 0;
    krmUInt32Number size = 0;
    bool found = false;
};

// The directory entry holding the tag's bytes, following links.
TagLocation locateTag(krmProfile profile, krmTagSignature sig)
{
    TagLocation location;
    for (int hops = 0; hops <= krmMAX_TABLE_TAG; ++hops) {
        const krmInt32Number count = krmGetTagCount(profile);
        krmInt32Number index = -1;
        for (krmInt32Number i = 0; i < count; ++i)
            if (krmGetTagSignature(profile, krmUInt32Number(i)) == sig)
                index = i;
        if (index < 0)
            return location;
        const krmTagSignature link = krmTagLinkedTo(profile, sig);
        if (link == 0 || link == sig) {
            location.found = krmGetTagOffsetAndSize(profile, krmUInt32Number(index), &location.offset, &location.size);
            return location;
        }
        sig = link;
    }
    return location;
}

} // namespace

int runTag(const QStringList& args, CliIO& io)
{
    CliArgs options({QStringLiteral("json"), QStringLiteral("raw"), QStringLiteral("full"), QStringLiteral("strict"),
                     QStringLiteral("help")},
                    {});
    if (!options.parse(args)) {
        io.error(options.errorText());
        io.err += kTagHelp;
        return kExitUsage;
    }
    if (options.isSet(QStringLiteral("help"))) {
        io.out += kTagHelp;
        return kExitOk;
    }
    if (options.positionals().size() != 2) {
        io.error(QStringLiteral("tag needs a PROFILE and a tag signature"));
        io.err += kTagHelp;
        return kExitUsage;
    }
    const QString profileName = options.positionals()[0];
    krmTagSignature sig = 0;
    if (!parseSignature(options.positionals()[1], sig)) {
        io.error(QStringLiteral("'%1' is not a tag signature (four characters, or 0x and hex digits)")
                     .arg(options.positionals()[1]));
        return kExitUsage;
    }
    const bool json = options.isSet(QStringLiteral("json"));
    const bool raw = options.isSet(QStringLiteral("raw"));

    EngineSession session(io, !options.isSet(QStringLiteral("strict")));
    std::unique_ptr<LoadedProfile> loaded = loadProfile(session, profileName);
    if (!loaded)
        return kExitUnreadable;
    session.takeMessages();

    const TagLocation where = locateTag(loaded->profile, sig);
    if (!krmIsTag(loaded->profile, sig) || !where.found) {
        io.error(QStringLiteral("profile '%1' has no tag '%2'").arg(profileName, signatureString(sig)));
        return kExitUnreadable;
    }
    const QByteArray bytes = loaded->bytes.mid(qsizetype(where.offset), qsizetype(where.size));
    const krmUInt32Number storedType = bytes.size() >= 4 ? be32(bytes, 0) : 0;
    const krmTagSignature link = krmTagLinkedTo(loaded->profile, sig);

    CliValue doc = CliValue::object();
    doc.set(QStringLiteral("file"), profileName);
    doc.set(QStringLiteral("signature"), signatureString(sig));
    doc.set(QStringLiteral("name"), tagName(sig));
    doc.set(QStringLiteral("type"), signatureString(storedType));
    doc.set(QStringLiteral("offset"), where.offset);
    doc.set(QStringLiteral("size"), where.size);
    doc.set(QStringLiteral("linkedTo"), link ? CliValue(signatureString(link)) : CliValue());

    if (raw) {
        if (json) {
            doc.set(QStringLiteral("hex"), QString::fromLatin1(bytes.toHex()));
            io.out += doc.toJson();
        } else {
            io.out += hexDump(bytes, where.offset);
        }
        return kExitOk;
    }

    const void* object = krmReadTag(loaded->profile, sig);
    const QString messages = session.takeMessages();
    int status = kExitOk;
    bool decoded = false;
    if (object) {
        const krmTagTypeSignature type = krmGetTagStoredType(loaded->profile, sig);
        TagContentOptions contentOptions;
        contentOptions.full = options.isSet(QStringLiteral("full"));
        const krmUInt32Number dataSize = where.size >= 8 ? where.size - 8 : 0;
        CliValue content = describeTagContent(loaded->profile, sig, type ? type : storedType, object, dataSize,
                                              contentOptions);
        decoded = content.kind() != CliValue::Kind::Null;
        doc.set(QStringLiteral("decoded"), decoded);
        doc.set(QStringLiteral("content"), std::move(content));
    } else {
        doc.set(QStringLiteral("decoded"), false);
        doc.set(QStringLiteral("content"), CliValue());
        if (!messages.isEmpty()) {
            // The engine knows the type but the data is broken.
            doc.set(QStringLiteral("error"), messages);
            status = kExitUnreadable;
        } else {
            io.note(QStringLiteral("the engine has no reader for type '%1' of tag '%2'; showing its bytes")
                        .arg(signatureString(storedType), signatureString(sig)));
        }
    }
    if (!decoded)
        doc.set(QStringLiteral("hex"), QString::fromLatin1(bytes.toHex()));

    if (json) {
        io.out += doc.toJson();
    } else {
        QString head = QStringLiteral("Tag '%1' (%2), type '%3', offset %4, size %5")
                           .arg(signatureString(sig), tagName(sig), signatureString(storedType))
                           .arg(where.offset)
                           .arg(where.size);
        if (link)
            head += QStringLiteral(", linked to '%1'").arg(signatureString(link));
        io.out += head.toUtf8() + '\n';
        if (decoded)
            io.out += doc.find(QStringLiteral("content"))->toText();
        else
            io.out += hexDump(bytes, where.offset);
    }
    return status;
}
