#pragma once

// What every subcommand shares: its input and output buffers, the exit codes, option parsing,
// the JSON envelope and usage line, an engine context whose messages go to standard error, and
// opening profiles by path, built-in name, standard input ("-") or an image's embedded profile.

#include "cli/CliValue.h"

#include <krm.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <vector>

// Exit status, documented in --help and the README.
enum CliExit : int {
    kExitOk = 0,
    kExitUnreadable = 1,  // a profile, tag or image cannot be read or converted
    kExitUsage = 2,       // bad arguments or malformed values
    kExitFindings = 3,    // check: a finding at or above the chosen severity
};

// Standard input, output and error of one run; the program prints the buffers when it ends,
// tests read them.
struct CliIO {
    std::function<QByteArray()> readInput;
    QByteArray out;
    QByteArray err;

    void error(const QString& message);    // "prismet-cli: message" on standard error
    void warning(const QString& message);  // "prismet-cli: warning: message"
    void note(const QString& message);     // "prismet-cli: note: message"

    // Where `flush` writes standard output as a command goes (the program's stdout); null in
    // tests, where everything stays in `out`.
    std::FILE* stream = nullptr;
    int streamErrno = -1;  // the first failed write's errno (0 when unknown); -1 while none failed
    // Writes what `out` holds to `stream` and empties it; without a stream, does nothing.
    void flush();
};

// Writes the run's buffers to the program's streams. A failed write to standard output (a full
// disk, a closed pipe) is reported on standard error and turns a successful status (or check's
// 3) into 1.
int writeStreams(const CliIO& io, int status, std::FILE* out, std::FILE* err);

// While it lives, Qt's own messages (image plug-ins, libpng) reach the run's standard error as
// "prismet-cli: note: ..." instead of Qt's default output.
class QtMessageRoute {
public:
    explicit QtMessageRoute(CliIO& io);
    ~QtMessageRoute();
    QtMessageRoute(const QtMessageRoute&) = delete;
    QtMessageRoute& operator=(const QtMessageRoute&) = delete;
};

// The version of every --json layout (the "format" key); raised when a key changes meaning or
// is removed, never when one is added.
constexpr int kJsonFormat = 1;

// One command's result. With --json, standard output holds exactly one JSON document whatever
// happens: {"format": 1, "command": NAME, "error": null, KEY: null, ...} with every documented key
// present from the start, filled in as the command goes. Usage errors print the message and one
// "Try 'prismet-cli NAME --help'." line on standard error.
class CommandOutput {
public:
    CommandOutput(CliIO& io, const char* command, std::initializer_list<const char*> keys);

    CliIO& io() const { return io_; }
    bool json() const { return json_; }
    void setJson(bool json) { json_ = json; }
    void set(const QString& key, CliValue value);

    int usage(const QString& message);        // reports bad usage; returns kExitUsage
    int fail(const QString& message);         // reports a failure on standard error; returns kExitUnreadable
    void setError(const QString& message);    // the document's "error" (already reported elsewhere)
    int finish(int status);                   // prints the document with --json; returns status

private:
    CliIO& io_;
    QString command_;
    CliValue doc_;
    bool json_ = false;
};

// True when the arguments ask for --json (checked before parsing, so usage errors answer in JSON).
bool wantsJson(const QStringList& args);

// Options of one subcommand: flags, options taking a value (possibly repeated) and positionals.
// "--name=value" and "--name value" are both accepted; "--" ends the options.
class CliArgs {
public:
    CliArgs(std::set<QString> flags, std::set<QString> valued) : flags_(std::move(flags)), valued_(std::move(valued)) {}

    // False (with the message in errorText) on an unknown option or a missing value.
    bool parse(const QStringList& args);
    QString errorText() const { return error_; }

    bool isSet(const QString& name) const;
    QString value(const QString& name) const;  // the last one given, or empty
    QStringList values(const QString& name) const;
    const QStringList& positionals() const { return positionals_; }

private:
    std::set<QString> flags_;
    std::set<QString> valued_;
    std::map<QString, QStringList> given_;
    QStringList positionals_;
    QString error_;
};

// An engine context of its own for the run: its error handler writes to the run's standard
// error, and tag reading is permissive (every tag of a known type decodes, whatever its
// signature), as in the inspector window.
class EngineSession {
public:
    explicit EngineSession(CliIO& io, bool permissive = true);
    ~EngineSession();
    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;

    krmContext context() const { return context_; }
    CliIO& io() const { return io_; }
    // Reports a failure of the tool itself on standard error and keeps it with the engine's.
    void fail(const QString& message);
    // Messages reported (by the engine or fail) since the last call, joined by "; ".
    QString takeMessages();
    QStringList takeMessageList();

private:
    static void handler(krmContext ctx, krmUInt32Number code, const char* text);

    CliIO& io_;
    krmContext context_ = nullptr;
    QStringList messages_;
};

// An open profile together with the bytes it was read from (built-ins are serialised first, so
// every profile has a header, offsets and raw tag bytes to show).
struct LoadedProfile {
    QString name;      // as given on the command line ("-" for standard input)
    QByteArray bytes;  // the profile's bytes
    QString image;     // for a profile embedded in an image: where it came from ("PNG iCCP chunk")
    krmProfile profile = nullptr;

    LoadedProfile() = default;
    LoadedProfile(const LoadedProfile&) = delete;
    LoadedProfile& operator=(const LoadedProfile&) = delete;
    ~LoadedProfile();
};

// Names accepted for built-in profiles ("*srgb", "*lab", ...), in the order --help lists them.
QStringList builtinProfileNames();
QString builtinProfileDescription(const QString& name);

// Opens a path, a built-in name, "-" (standard input) or an image's embedded profile; null after
// reporting the reason on standard error.
std::unique_ptr<LoadedProfile> loadProfile(EngineSession& session, const QString& name);

// One entry of the tag directory as stored (ICC.1:2010 7.3), including those the engine drops
// because their data is missing or cut; `problem` then says why.
struct DirectoryEntry {
    int index = 0;
    krmUInt32Number signature = 0;
    krmUInt32Number offset = 0;
    krmUInt32Number size = 0;
    QString problem;  // empty when the data lies within the profile
};
std::vector<DirectoryEntry> storedDirectory(const QByteArray& bytes);
// The stored entry of a signature, or null.
const DirectoryEntry* findEntry(const std::vector<DirectoryEntry>& directory, krmUInt32Number signature);
// The signatures of every other entry with the same offset and size, whatever their types.
QStringList sharedWith(const std::vector<DirectoryEntry>& directory, const DirectoryEntry& entry);

// Why a profile offers no tag `signature`: the stored directory entry's problem when the entry is
// there but its data is missing or cut ("'B2A0' points past the end of the file (...)"), else
// "has no 'B2A0' tag".
QString tagAbsence(const QByteArray& bytes, krmUInt32Number signature);
// The problems of the stored entries among `signatures` whose data is missing or cut, joined by
// "; "; empty when there is none.
QString tagProblems(const QByteArray& bytes, std::initializer_list<krmUInt32Number> signatures);

// For a failure that may come from damaged tags (a link the engine refuses): "; 'NAME': PROBLEM"
// for every stored entry of the profiles whose data is missing or cut; empty when there is none.
QString damagedTagsNote(const std::vector<const LoadedProfile*>& profiles);

// Reads a whole file; false with the reason in `error` ("cannot read image 'x': no such file").
bool readFileBytes(const QString& path, QByteArray& bytes, const QString& what, QString& error);

// Big-endian fields of raw profile bytes.
krmUInt32Number be32(const QByteArray& bytes, qsizetype offset);
krmUInt16Number be16(const QByteArray& bytes, qsizetype offset);

// "0x%08x", and a signature as its four characters with non-printable bytes escaped.
QString hex32(krmUInt32Number value);
QString signatureString(krmUInt32Number value);

// A tag signature from the command line: four characters (shorter ones padded with blanks,
// "bfd" is 'bfd '), or a number written 0x followed by up to eight hex digits. False when neither.
bool parseSignature(const QString& text, krmUInt32Number& signature);

// Rendering intent by number (0-3, 10-15) or name ("perceptual", "relative", "saturation",
// "absolute"); false for anything else.
bool parseIntent(const QString& text, krmUInt32Number& intent);
QString intentName(krmUInt32Number intent);

// A number in fixed notation with '.' whatever the locale, and no sign on a value that rounds to
// zero ("0.0000", not "-0.0000").
QString fixedNumber(double value, int decimals);

// The usage message when standard input ("-") is named twice in one command: it can be read once.
QString stdinTwiceMessage();
// True when "-" appears more than once among `names`.
bool namesStdinTwice(const QStringList& names);

// Hex dump lines: offset, 16 bytes in hex, the printable characters.
QByteArray hexDump(const QByteArray& bytes, krmUInt32Number baseOffset);
// Bytes shown of data the engine did not decode, unless --raw asks for all of them.
constexpr qsizetype kHexPreviewBytes = 256;
