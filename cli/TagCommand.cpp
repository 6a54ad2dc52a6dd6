#include "cli/CliValue.h"
#include "cli/Commands.h"
#include "cli/TagContent.h"
#include "common/signatures/Signatures.h"

#include <vector>

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
    "A PROFILE is a file path, - for standard input, a built-in name or an image.\n"
    "\n"
    "A tag of a type the engine does not know is shown as its first 256 bytes and its size\n"
    "(\"decoded\": false) and the status is 0; a tag the engine cannot decode (corrupt data),\n"
    "one --strict refuses, and one whose data lies past the end of the file give status 1.\n"
    "\n"
    "Example:\n"
    "  prismet-cli tag /usr/share/color/icc/colord/sRGB.icc rTRC\n";

const char* const kTagKeys[] = {"signature", "name", "type", "offset", "size", "linkedTo", "sharesDataWith",
                                "decoded", "content", "hex", "hexTruncated"};

// Whether a permissive reading decodes what --strict refused without a word: then the type is
// one the engine reads, only not for this signature.
bool permissiveReadWorks(const QByteArray& bytes, krmTagSignature sig)
{
    CliIO quiet;
    EngineSession permissive(quiet, true);
    krmProfile profile = krmOpenProfileFromMemInContext(permissive.context(), bytes.constData(),
                                                        krmUInt32Number(bytes.size()));
    if (!profile)
        return false;
    const bool decoded = krmReadTag(profile, sig) != nullptr;
    krmCloseProfile(profile);
    return decoded;
}

} // namespace

CliValue tagDocument(EngineSession& session, const LoadedProfile& loaded, const DirectoryEntry& entry,
                     const TagReadOptions& options, int& status)
{
    const krmTagSignature sig = entry.signature;
    const std::vector<DirectoryEntry> directory = storedDirectory(loaded.bytes);
    CliValue doc = CliValue::object();
    doc.set(QStringLiteral("error"), CliValue());
    for (const char* k : kTagKeys)
        doc.set(QString::fromLatin1(k), CliValue());
    doc.set(QStringLiteral("signature"), signatureString(sig));
    doc.set(QStringLiteral("name"), tagName(sig));
    doc.set(QStringLiteral("offset"), entry.offset);
    doc.set(QStringLiteral("size"), entry.size);
    CliValue shared = CliValue::array();
    for (const QString& other : sharedWith(directory, entry))
        shared.append(other);
    doc.set(QStringLiteral("sharesDataWith"), std::move(shared));
    doc.set(QStringLiteral("decoded"), false);
    if (entry.size >= 4 && qint64(entry.offset) + 4 <= loaded.bytes.size())
        doc.set(QStringLiteral("type"), signatureString(be32(loaded.bytes, qsizetype(entry.offset))));

    auto failWith = [&](const QString& message) {
        doc.set(QStringLiteral("error"), message);
        status = kExitUnreadable;
    };
    if (!entry.problem.isEmpty()) {
        // Already said by whoever listed the directory (info's warnings, tag's error).
        failWith(entry.problem);
        return doc;
    }
    // Links only join entries with the same offset and size, so the entry's bytes are the tag's.
    const QByteArray bytes = loaded.bytes.mid(qsizetype(entry.offset), qsizetype(entry.size));
    const krmUInt32Number storedType = bytes.size() >= 4 ? be32(bytes, 0) : 0;
    const krmTagSignature link = krmTagLinkedTo(loaded.profile, sig);
    doc.set(QStringLiteral("linkedTo"), link ? CliValue(signatureString(link)) : CliValue());

    auto showBytes = [&](bool all) {
        const bool cut = !all && bytes.size() > kHexPreviewBytes;
        doc.set(QStringLiteral("hex"), QString::fromLatin1((cut ? bytes.left(kHexPreviewBytes) : bytes).toHex()));
        doc.set(QStringLiteral("hexTruncated"), cut);
    };
    if (options.raw) {
        showBytes(true);
        return doc;
    }

    session.takeMessages();
    const void* object = krmReadTag(loaded.profile, sig);
    const QString messages = session.takeMessages();
    if (object) {
        const krmTagTypeSignature type = krmGetTagStoredType(loaded.profile, sig);
        TagContentOptions contentOptions;
        contentOptions.full = options.full;
        const krmUInt32Number dataSize = entry.size >= 8 ? entry.size - 8 : 0;
        CliValue content = describeTagContent(loaded.profile, sig, type ? type : storedType, object, dataSize,
                                              contentOptions);
        doc.set(QStringLiteral("decoded"), !content.isNull());
        doc.set(QStringLiteral("content"), std::move(content));
    } else if (!messages.isEmpty()) {
        // The engine refused the data (or, with --strict, the signature) and said why.
        failWith(messages);
    } else if (options.strict && permissiveReadWorks(loaded.bytes, sig)) {
        const QString message = QStringLiteral("--strict refuses tag '%1': type '%2' is not allowed for it")
                                    .arg(signatureString(sig), signatureString(storedType));
        session.fail(message);
        session.takeMessages();
        failWith(message);
    } else {
        session.io().note(QStringLiteral("the engine has no reader for type '%1' of tag '%2'; showing its bytes")
                              .arg(signatureString(storedType), signatureString(sig)));
    }
    if (!doc.find(QStringLiteral("decoded"))->isTrue())
        showBytes(false);
    return doc;
}

void writeTagText(const CliValue& doc, CliIO& io)
{
    auto text = [&](const char* k) { return doc.find(QString::fromLatin1(k))->scalarText(); };
    QString head = QStringLiteral("Tag '%1' (%2), type '%3', offset %4, size %5")
                       .arg(text("signature"), text("name"), text("type"), text("offset"), text("size"));
    if (!doc.find(QStringLiteral("linkedTo"))->isNull())
        head += QStringLiteral(", linked to '%1'").arg(text("linkedTo"));
    QStringList shared;
    for (const CliValue& s : doc.find(QStringLiteral("sharesDataWith"))->items())
        shared << QStringLiteral("'%1'").arg(s.scalarText());
    if (!shared.isEmpty())
        head += QStringLiteral(", shares data with %1").arg(shared.join(QStringLiteral(", ")));
    io.out += head.toUtf8() + '\n';
    const CliValue* error = doc.find(QStringLiteral("error"));
    if (!error->isNull())
        io.out += "error: " + error->scalarText().toUtf8() + '\n';
    io.flush();
    QByteArray out;
    if (doc.find(QStringLiteral("decoded"))->isTrue()) {
        out += doc.find(QStringLiteral("content"))->toText();
    } else if (!doc.find(QStringLiteral("hex"))->isNull()) {
        const QByteArray bytes = QByteArray::fromHex(doc.find(QStringLiteral("hex"))->scalarText().toLatin1());
        out += hexDump(bytes, krmUInt32Number(doc.find(QStringLiteral("offset"))->integer()));
        if (doc.find(QStringLiteral("hexTruncated"))->isTrue())
            out += QStringLiteral("... the first %1 of %2 bytes (--raw shows them all)\n")
                       .arg(bytes.size())
                       .arg(text("size"))
                       .toUtf8();
    }
    io.out += out;
}

int runTag(const QStringList& args, CliIO& io)
{
    CommandOutput output(io, "tag", {"file"});
    for (const char* k : kTagKeys)
        output.set(QString::fromLatin1(k), CliValue());
    output.setJson(wantsJson(args));
    CliArgs options({QStringLiteral("json"), QStringLiteral("raw"), QStringLiteral("full"), QStringLiteral("strict"),
                     QStringLiteral("help")},
                    {});
    if (!options.parse(args))
        return output.usage(options.errorText());
    if (options.isSet(QStringLiteral("help"))) {
        io.out += kTagHelp;
        return kExitOk;
    }
    if (options.positionals().size() < 2)
        return output.usage(QStringLiteral("tag needs a PROFILE and a tag signature"));
    if (options.positionals().size() > 2)
        return output.usage(QStringLiteral("tag takes one PROFILE and one tag signature; '%1' is one too many")
                                .arg(options.positionals()[2]));
    const QString profileName = options.positionals()[0];
    output.set(QStringLiteral("file"), profileName);
    krmTagSignature sig = 0;
    if (!parseSignature(options.positionals()[1], sig))
        return output.usage(QStringLiteral("'%1' is not a tag signature (four characters, or 0x and hex digits)")
                                .arg(options.positionals()[1]));
    output.set(QStringLiteral("signature"), signatureString(sig));
    output.set(QStringLiteral("name"), tagName(sig));
    const bool json = options.isSet(QStringLiteral("json"));
    TagReadOptions readOptions;
    readOptions.raw = options.isSet(QStringLiteral("raw"));
    readOptions.full = options.isSet(QStringLiteral("full"));
    readOptions.strict = options.isSet(QStringLiteral("strict"));

    EngineSession session(io, !readOptions.strict);
    // Long tables stream out, as dump's do, in the text and in the JSON document alike.
    const CliValue::Spill spill([&io](QByteArray& text) {
        io.out += text;
        text.clear();
        io.flush();
    });
    std::unique_ptr<LoadedProfile> loaded = loadProfile(session, profileName);
    if (!loaded) {
        output.setError(session.takeMessages());
        return output.finish(kExitUnreadable);
    }
    session.takeMessages();

    const std::vector<DirectoryEntry> directory = storedDirectory(loaded->bytes);
    const DirectoryEntry* entry = findEntry(directory, sig);
    if (!entry || (entry->problem.isEmpty() && !krmIsTag(loaded->profile, sig))) {
        output.fail(QStringLiteral("profile '%1' has no tag '%2'").arg(profileName, signatureString(sig)));
        return output.finish(kExitUnreadable);
    }
    if (!entry->problem.isEmpty())
        io.error(entry->problem);
    int status = kExitOk;
    const CliValue doc = tagDocument(session, *loaded, *entry, readOptions, status);
    for (const auto& [k, value] : doc.members())
        output.set(k, value);
    if (json)
        return output.finish(status);
    if (readOptions.raw && entry->problem.isEmpty())
        io.out += hexDump(loaded->bytes.mid(qsizetype(entry->offset), qsizetype(entry->size)), entry->offset);
    else if (entry->problem.isEmpty())
        writeTagText(doc, io);
    return status;
}
