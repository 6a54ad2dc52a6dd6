#include "cli/CliValue.h"
#include "cli/Commands.h"
#include "cli/TagContent.h"

#include <vector>

namespace {

const char kDumpHelp[] =
    "Usage: prismet-cli dump [--json] [--full] PROFILE\n"
    "\n"
    "Prints what info prints, then every tag decoded as tag prints it, in directory order.\n"
    "The text is stable from run to run (numbers with a fixed number of digits, nothing of the\n"
    "run itself), so two dumps compare with diff or git diff. Tags the engine does not decode\n"
    "show their first 256 bytes.\n"
    "\n"
    "Options:\n"
    "  --full   also the curve tables inside pipelines and every CLUT node\n"
    "  --json   one JSON document: {\"format\": 1, ..., \"profile\", \"tags\"} (cli/README.md)\n"
    "  --help   this text\n"
    "\n"
    "Exit status 1 when the profile cannot be read or any of its tags cannot be decoded (the\n"
    "others are still printed).\n"
    "\n"
    "Example:\n"
    "  prismet-cli dump old.icc > old.txt\n"
    "  prismet-cli dump new.icc | diff old.txt -\n";

} // namespace

int runDump(const QStringList& args, CliIO& io)
{
    CommandOutput output(io, "dump", {"profile", "tags"});
    output.setJson(wantsJson(args));
    CliArgs options({QStringLiteral("json"), QStringLiteral("full"), QStringLiteral("help")}, {});
    if (!options.parse(args))
        return output.usage(options.errorText());
    if (options.isSet(QStringLiteral("help"))) {
        io.out += kDumpHelp;
        return kExitOk;
    }
    if (options.positionals().size() != 1)
        return output.usage(options.positionals().isEmpty()
                                ? QStringLiteral("dump needs a PROFILE")
                                : QStringLiteral("dump takes one PROFILE; '%1' is one too many").arg(options.positionals()[1]));
    const QString name = options.positionals().first();

    EngineSession session(io);
    std::unique_ptr<LoadedProfile> loaded = loadProfile(session, name);
    if (!loaded) {
        const QString error = session.takeMessages();
        output.setError(error);
        output.set(QStringLiteral("profile"), failedProfile(name, error));
        return output.finish(kExitUnreadable);
    }
    const CliValue profile = describeProfile(*loaded, session.takeMessageList(), io);
    const bool json = options.isSet(QStringLiteral("json"));
    if (!json)
        io.out += profileText(profile);
    // Output streams: each tag is written when it is ready, long tables every few thousand rows.
    io.flush();
    const CliValue::Spill spill([&io](QByteArray& text) {
        io.out += text;
        text.clear();
        io.flush();
    });

    TagReadOptions readOptions;
    readOptions.full = options.isSet(QStringLiteral("full"));
    int status = kExitOk;
    int failed = 0;
    CliValue tags = CliValue::array();
    for (const DirectoryEntry& entry : storedDirectory(loaded->bytes)) {
        CliValue doc = tagDocument(session, *loaded, entry, readOptions, status);
        failed += doc.find(QStringLiteral("error"))->isNull() ? 0 : 1;
        if (!json) {
            io.out += '\n';
            writeTagText(doc, io);
            io.flush();
            continue;  // printed: the text needs no tree of every tag
        }
        tags.append(std::move(doc));
    }
    if (failed)
        output.setError(QStringLiteral("%1 of %2 tags cannot be read").arg(failed).arg(storedDirectory(loaded->bytes).size()));
    output.set(QStringLiteral("profile"), profile);
    output.set(QStringLiteral("tags"), std::move(tags));
    return output.finish(status);
}
