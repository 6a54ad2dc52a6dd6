#include "cli/CliSupport.h"

#include "common/analysis/TagDirectory.h"
#include "common/workers/WorkerPool.h"
#include "imaging/ImageProfiles.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <limits>

void CliIO::error(const QString& message)
{
    err += "prismet-cli: " + message.toUtf8() + '\n';
}

void CliIO::warning(const QString& message)
{
    err += "prismet-cli: warning: " + message.toUtf8() + '\n';
}

void CliIO::note(const QString& message)
{
    err += "prismet-cli: note: " + message.toUtf8() + '\n';
}

void CliIO::flush()
{
    if (!stream || out.isEmpty())
        return;
    if (streamErrno < 0) {
        errno = 0;
        if (std::fwrite(out.constData(), 1, std::size_t(out.size()), stream) != std::size_t(out.size()))
            streamErrno = errno;
    }
    out.clear();
}

int writeStreams(const CliIO& io, int status, std::FILE* out, std::FILE* err)
{
    errno = 0;
    const bool written = io.streamErrno < 0
                         && std::fwrite(io.out.constData(), 1, std::size_t(io.out.size()), out) == std::size_t(io.out.size());
    const bool flushed = std::fflush(out) == 0;
    const int writeErrno = io.streamErrno > 0 ? io.streamErrno : errno;
    std::fwrite(io.err.constData(), 1, std::size_t(io.err.size()), err);
    if (!written || !flushed || std::ferror(out)) {
        std::fprintf(err, "prismet-cli: cannot write to standard output: %s\n",
                     writeErrno ? std::strerror(writeErrno) : "write error");
        // A lost report is a failure of its own, also when check found something.
        if (status == kExitOk || status == kExitFindings)
            status = kExitUnreadable;
    }
    std::fflush(err);
    return status;
}

// ---------------------------------------------------------------------------------------------
// Qt's messages
// ---------------------------------------------------------------------------------------------

namespace {

CliIO* g_messageIO = nullptr;
QtMessageHandler g_previousHandler = nullptr;

void routeQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (!g_messageIO)
        return;
    if (type == QtCriticalMsg || type == QtFatalMsg)
        g_messageIO->error(message);
    else
        g_messageIO->note(message);
}

} // namespace

QtMessageRoute::QtMessageRoute(CliIO& io)
{
    g_messageIO = &io;
    g_previousHandler = qInstallMessageHandler(routeQtMessage);
}

QtMessageRoute::~QtMessageRoute()
{
    qInstallMessageHandler(g_previousHandler);
    g_messageIO = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Command output
// ---------------------------------------------------------------------------------------------

CommandOutput::CommandOutput(CliIO& io, const char* command, std::initializer_list<const char*> keys)
    : io_(io), command_(QString::fromLatin1(command)), doc_(CliValue::object())
{
    doc_.set(QStringLiteral("format"), kJsonFormat);
    doc_.set(QStringLiteral("command"), command_);
    doc_.set(QStringLiteral("error"), CliValue());
    for (const char* key : keys)
        doc_.set(QString::fromLatin1(key), CliValue());
}

void CommandOutput::set(const QString& key, CliValue value)
{
    doc_.set(key, std::move(value));
}

int CommandOutput::usage(const QString& message)
{
    io_.error(message);
    io_.err += "Try 'prismet-cli " + command_.toUtf8() + " --help'.\n";
    setError(message);
    return finish(kExitUsage);
}

int CommandOutput::fail(const QString& message)
{
    io_.error(message);
    setError(message);
    return kExitUnreadable;
}

void CommandOutput::setError(const QString& message)
{
    doc_.set(QStringLiteral("error"), message);
}

int CommandOutput::finish(int status)
{
    if (json_)
        io_.out += doc_.toJson();
    return status;
}

bool wantsJson(const QStringList& args)
{
    for (const QString& arg : args) {
        if (arg == QLatin1String("--"))
            return false;
        if (arg == QLatin1String("--json"))
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Options
// ---------------------------------------------------------------------------------------------

bool CliArgs::parse(const QStringList& args)
{
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (optionsEnded || !arg.startsWith(QLatin1String("--"))) {
            positionals_.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = arg.mid(2);
        QString value;
        const qsizetype eq = name.indexOf(QLatin1Char('='));
        const bool inlineValue = eq >= 0;
        if (inlineValue) {
            value = name.mid(eq + 1);
            name = name.left(eq);
        }
        if (flags_.count(name)) {
            if (inlineValue) {
                error_ = QStringLiteral("option --%1 takes no value").arg(name);
                return false;
            }
            given_[name].append(QString());
        } else if (valued_.count(name)) {
            if (!inlineValue) {
                // "--compare --json FILE": the next option is not the value; "--name=--x" passes one.
                if (i + 1 >= args.size() || args[i + 1].startsWith(QLatin1String("--"))) {
                    error_ = QStringLiteral("option --%1 needs a value").arg(name);
                    return false;
                }
                value = args[++i];
            }
            given_[name].append(value);
        } else {
            error_ = QStringLiteral("unknown option '%1'").arg(arg);
            return false;
        }
    }
    return true;
}

bool CliArgs::isSet(const QString& name) const
{
    return given_.count(name) != 0;
}

QString CliArgs::value(const QString& name) const
{
    const auto it = given_.find(name);
    return it == given_.end() || it->second.isEmpty() ? QString() : it->second.last();
}

QStringList CliArgs::values(const QString& name) const
{
    const auto it = given_.find(name);
    return it == given_.end() ? QStringList() : it->second;
}

// ---------------------------------------------------------------------------------------------
// Engine context
// ---------------------------------------------------------------------------------------------

namespace {

// A tag registration with no signature switches its context to permissive reading.
krmPluginTag* permissivePlugin()
{
    static krmPluginTag plugin = [] {
        krmPluginTag p;
        std::memset(&p, 0, sizeof p);
        p.base.Magic = krmPluginMagicNumber;
        p.base.ExpectedVersion = 2190;
        p.base.Type = krmPluginTagSig;
        p.base.Next = nullptr;
        p.Signature = 0;
        return p;
    }();
    return &plugin;
}

} // namespace

EngineSession::EngineSession(CliIO& io, bool permissive)
    : io_(io)
{
    context_ = krmCreateContext(permissive ? permissivePlugin() : nullptr, this);
    if (context_) {
        krmSetLogErrorHandlerInContext(context_, &EngineSession::handler);
        // Image conversions split by lines over one thread per core.
        prismet::registerParallelWorkers(context_);
    }
}

EngineSession::~EngineSession()
{
    if (context_)
        krmDeleteContext(context_);
}

void EngineSession::handler(krmContext ctx, krmUInt32Number code, const char* text)
{
    auto* self = static_cast<EngineSession*>(krmGetContextUserData(ctx));
    if (!self)
        return;
    const QString message = QString::fromUtf8(text ? text : "");
    self->messages_.append(message);
    self->io_.error(QStringLiteral("engine: %1 (code %2)").arg(message).arg(code));
}

void EngineSession::fail(const QString& message)
{
    messages_.append(message);
    io_.error(message);
}

QStringList EngineSession::takeMessageList()
{
    QStringList list;
    list.swap(messages_);
    return list;
}

QString EngineSession::takeMessages()
{
    const QString joined = messages_.join(QStringLiteral("; "));
    messages_.clear();
    return joined;
}

// ---------------------------------------------------------------------------------------------
// Profiles
// ---------------------------------------------------------------------------------------------

LoadedProfile::~LoadedProfile()
{
    if (profile)
        krmCloseProfile(profile);
}

namespace {

struct BuiltinProfile {
    const char* name;
    const char* description;
    krmProfile (*make)(krmContext);
};

krmProfile makeLab4(krmContext ctx) { return krmCreateLab4Profile(ctx, nullptr); }
krmProfile makeLab2(krmContext ctx) { return krmCreateLab2Profile(ctx, nullptr); }
krmProfile makeXYZ(krmContext ctx) { return krmCreateXYZProfile(ctx); }
krmProfile makeSRGB(krmContext ctx) { return krmCreate_sRGBProfile(ctx); }

// Built-ins the engine makes directly; names compare exactly, as in the inspector window.
constexpr BuiltinProfile kBuiltins[] = {
    {"*srgb", "the engine's sRGB profile (version 4)", makeSRGB},
    {"*lab", "CIE L*a*b* identity, D50 (version 4 encoding)", makeLab4},
    {"*lab2", "CIE L*a*b* identity, D50 (version 2 encoding)", makeLab2},
    {"*xyz", "CIE XYZ identity", makeXYZ},
};

constexpr qint64 kMaxProfileBytes = 0x7FFFFFFF;  // the engine's memory limit (2 GiB)
constexpr qsizetype kHeaderBytes = 128;           // ICC.1:2010 7.2

} // namespace

QStringList builtinProfileNames()
{
    QStringList names;
    for (const BuiltinProfile& b : kBuiltins)
        names.append(QString::fromLatin1(b.name));
    return names;
}

QString builtinProfileDescription(const QString& name)
{
    for (const BuiltinProfile& b : kBuiltins)
        if (name == QLatin1String(b.name))
            return QString::fromLatin1(b.description);
    return QString();
}

bool readFileBytes(const QString& path, QByteArray& bytes, const QString& what, QString& error)
{
    QFileInfo info(path);
    if (!info.exists()) {
        error = QStringLiteral("cannot read %1 '%2': no such file").arg(what, path);
        return false;
    }
    if (info.isDir()) {
        error = QStringLiteral("cannot read %1 '%2': it is a folder").arg(what, path);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1 '%2': %3").arg(what, path, file.errorString());
        return false;
    }
    if (file.size() > kMaxProfileBytes) {
        error = QStringLiteral("cannot read %1 '%2': the file is too large").arg(what, path);
        return false;
    }
    bytes = file.readAll();
    return true;
}

std::unique_ptr<LoadedProfile> loadProfile(EngineSession& session, const QString& name)
{
    auto loaded = std::make_unique<LoadedProfile>();
    loaded->name = name;
    krmContext ctx = session.context();

    if (name.startsWith(QLatin1Char('*'))) {
        const BuiltinProfile* builtin = nullptr;
        for (const BuiltinProfile& b : kBuiltins)
            if (name == QLatin1String(b.name))
                builtin = &b;
        if (!builtin) {
            session.fail(QStringLiteral("unknown built-in profile '%1' (known: %2)")
                         .arg(name, builtinProfileNames().join(QStringLiteral(", "))));
            return nullptr;
        }
        krmProfile made = builtin->make(ctx);
        if (!made) {
            session.fail(QStringLiteral("the engine could not make the built-in profile '%1'").arg(name));
            return nullptr;
        }
        // Serialise it so that it is shown exactly as it would be written.
        krmUInt32Number size = 0;
        bool ok = krmSaveProfileToMem(made, nullptr, &size) && size > 0;
        if (ok) {
            loaded->bytes.resize(size);
            ok = krmSaveProfileToMem(made, loaded->bytes.data(), &size);
        }
        krmCloseProfile(made);
        if (!ok) {
            session.fail(QStringLiteral("the engine could not serialise the built-in profile '%1'").arg(name));
            return nullptr;
        }
    } else if (name == QLatin1String("-")) {
        loaded->bytes = session.io().readInput ? session.io().readInput() : QByteArray();
        if (loaded->bytes.isEmpty()) {
            session.fail(QStringLiteral("cannot read a profile from standard input: it is empty"));
            return nullptr;
        }
    } else {
        QString error;
        if (!readFileBytes(name, loaded->bytes, QStringLiteral("profile"), error)) {
            session.fail(error);
            return nullptr;
        }
    }

    if (loaded->bytes.isEmpty()) {
        session.fail(QStringLiteral("cannot read profile '%1': the file is empty").arg(name));
        return nullptr;
    }
    // An image stands for the profile embedded in it.
    const ImageKind kind = loaded->bytes.mid(36, 4) == "acsp" ? ImageKind::Unknown : imageKindOf(loaded->bytes);
    if (kind != ImageKind::Unknown) {
        loaded->image = embeddedProfilePlace(kind);
        const QByteArray embedded = embeddedProfile(loaded->bytes, kind);
        if (embedded.isEmpty()) {
            session.fail(QStringLiteral("image '%1' has no readable embedded profile").arg(name));
            return nullptr;
        }
        loaded->bytes = embedded;
    }
    // Said in the user's terms rather than the engine's "Got 0 bytes, block should be of 128 bytes".
    if (loaded->bytes.size() < kHeaderBytes) {
        session.fail(QStringLiteral("cannot read profile '%1': it is %2 bytes long, shorter than the %3-byte header "
                                    "every profile starts with")
                         .arg(name)
                         .arg(loaded->bytes.size())
                         .arg(kHeaderBytes));
        return nullptr;
    }
    loaded->profile = krmOpenProfileFromMemInContext(ctx, loaded->bytes.constData(), krmUInt32Number(loaded->bytes.size()));
    if (!loaded->profile) {
        session.fail(QStringLiteral("cannot read profile '%1'").arg(name));
        return nullptr;
    }
    return loaded;
}

std::vector<DirectoryEntry> storedDirectory(const QByteArray& bytes)
{
    // The engine reads tag data up to the smaller of the declared and the actual size.
    const TagDirectory stored = read_tag_directory(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                                   std::size_t(bytes.size()));
    std::vector<DirectoryEntry> entries;
    for (std::size_t i = 0; i < stored.entries.size(); ++i) {
        const TagDirectoryEntry& stored_entry = stored.entries[i];
        DirectoryEntry e;
        e.index = int(i);
        e.signature = stored_entry.signature;
        e.offset = stored_entry.offset;
        e.size = stored_entry.size;
        const QString sig = signatureString(e.signature);
        if (TagDirectory::hasNoData(stored_entry))
            e.problem = QStringLiteral("'%1' has no data (offset %2, size %3)").arg(sig).arg(e.offset).arg(e.size);
        else if (stored.runsPastEnd(stored_entry))
            e.problem = QStringLiteral("'%1' points past the end of the file (offset %2, size %3, file %4)")
                            .arg(sig).arg(e.offset).arg(e.size).arg(bytes.size());
        else if (stored.runsPastDeclared(stored_entry))
            e.problem = QStringLiteral("'%1' lies past the profile size in the header (offset %2, size %3, header %4)")
                            .arg(sig).arg(e.offset).arg(e.size).arg(stored.declaredSize);
        entries.push_back(e);
    }
    return entries;
}

const DirectoryEntry* findEntry(const std::vector<DirectoryEntry>& directory, krmUInt32Number signature)
{
    for (const DirectoryEntry& e : directory)
        if (e.signature == signature)
            return &e;
    return nullptr;
}

QStringList sharedWith(const std::vector<DirectoryEntry>& directory, const DirectoryEntry& entry)
{
    QStringList list;
    for (const DirectoryEntry& e : directory)
        if (e.index != entry.index && e.offset == entry.offset && e.size == entry.size && entry.size != 0)
            list << signatureString(e.signature);
    return list;
}

QString tagAbsence(const QByteArray& bytes, krmUInt32Number signature)
{
    const QString problem = tagProblems(bytes, {signature});
    return problem.isEmpty() ? QStringLiteral("has no '%1' tag").arg(signatureString(signature)) : problem;
}

QString tagProblems(const QByteArray& bytes, std::initializer_list<krmUInt32Number> signatures)
{
    const std::vector<DirectoryEntry> directory = storedDirectory(bytes);
    QStringList problems;
    for (krmUInt32Number signature : signatures) {
        const DirectoryEntry* entry = findEntry(directory, signature);
        if (entry && !entry->problem.isEmpty())
            problems << entry->problem;
    }
    return problems.join(QStringLiteral("; "));
}

QString damagedTagsNote(const std::vector<const LoadedProfile*>& profiles)
{
    QString note;
    for (const LoadedProfile* loaded : profiles)
        for (const DirectoryEntry& entry : storedDirectory(loaded->bytes))
            if (!entry.problem.isEmpty())
                note += QStringLiteral("; '%1': %2").arg(loaded->name, entry.problem);
    return note;
}

// ---------------------------------------------------------------------------------------------
// Small formatting and parsing helpers
// ---------------------------------------------------------------------------------------------

krmUInt32Number be32(const QByteArray& bytes, qsizetype offset)
{
    if (offset < 0 || offset + 4 > bytes.size())
        return 0;
    const auto* p = reinterpret_cast<const krmUInt8Number*>(bytes.constData() + offset);
    return (krmUInt32Number(p[0]) << 24) | (krmUInt32Number(p[1]) << 16) | (krmUInt32Number(p[2]) << 8) | p[3];
}

krmUInt16Number be16(const QByteArray& bytes, qsizetype offset)
{
    if (offset < 0 || offset + 2 > bytes.size())
        return 0;
    const auto* p = reinterpret_cast<const krmUInt8Number*>(bytes.constData() + offset);
    return krmUInt16Number((p[0] << 8) | p[1]);
}

QString hex32(krmUInt32Number value)
{
    return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0'));
}

QString signatureString(krmUInt32Number value)
{
    QString s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned c = (value >> shift) & 0xFF;
        if (c >= 0x20 && c < 0x7F && c != '\\')
            s += QChar(c);
        else
            s += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
    }
    return s;
}

bool parseSignature(const QString& text, krmUInt32Number& signature)
{
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) && text.size() > 2 && text.size() <= 10) {
        bool ok = false;
        const qulonglong v = text.mid(2).toULongLong(&ok, 16);
        if (!ok)
            return false;
        signature = krmUInt32Number(v);
        return true;
    }
    if (text.isEmpty() || text.size() > 4)
        return false;
    krmUInt32Number v = 0;
    for (int i = 0; i < 4; ++i) {
        ushort c = i < text.size() ? text[i].unicode() : ushort(' ');
        if (c < 0x20 || c >= 0x7F)
            return false;
        v = (v << 8) | c;
    }
    signature = v;
    return true;
}

bool parseIntent(const QString& text, krmUInt32Number& intent)
{
    const QString t = text.trimmed().toLower();
    static const std::pair<const char*, krmUInt32Number> kNames[] = {
        {"perceptual", krmINTENT_PERCEPTUAL},
        {"relative", krmINTENT_RELATIVE_COLORIMETRIC},
        {"saturation", krmINTENT_SATURATION},
        {"absolute", krmINTENT_ABSOLUTE_COLORIMETRIC},
    };
    for (const auto& [name, value] : kNames) {
        if (t == QLatin1String(name)) {
            intent = value;
            return true;
        }
    }
    bool ok = false;
    const uint n = t.toUInt(&ok);
    if (!ok || !(n <= 3 || (n >= 10 && n <= 15)))
        return false;
    intent = n;
    return true;
}

QString intentName(krmUInt32Number intent)
{
    switch (intent) {
    case 0: return QStringLiteral("Perceptual");
    case 1: return QStringLiteral("Relative colorimetric");
    case 2: return QStringLiteral("Saturation");
    case 3: return QStringLiteral("Absolute colorimetric");
    case 10: return QStringLiteral("Preserve K only, perceptual");
    case 11: return QStringLiteral("Preserve K only, relative colorimetric");
    case 12: return QStringLiteral("Preserve K only, saturation");
    case 13: return QStringLiteral("Preserve K plane, perceptual");
    case 14: return QStringLiteral("Preserve K plane, relative colorimetric");
    case 15: return QStringLiteral("Preserve K plane, saturation");
    default: return QStringLiteral("Unknown (%1)").arg(intent);
    }
}

QString fixedNumber(double value, int decimals)
{
    QString text = QString::number(value, 'f', decimals);  // QString::number ignores the locale
    if (text.startsWith(QLatin1Char('-')) && text.count(QLatin1Char('0')) == text.size() - (decimals > 0 ? 2 : 1))
        text.remove(0, 1);
    return text;
}

QString stdinTwiceMessage()
{
    return QStringLiteral("standard input ('-') can be read only once per command");
}

bool namesStdinTwice(const QStringList& names)
{
    return names.count(QStringLiteral("-")) > 1;
}

QByteArray hexDump(const QByteArray& bytes, krmUInt32Number baseOffset)
{
    QByteArray out;
    for (qsizetype line = 0; line < bytes.size(); line += 16) {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "%08x  ", unsigned(baseOffset + line));
        out += prefix;
        QByteArray ascii;
        for (qsizetype i = 0; i < 16; ++i) {
            if (line + i < bytes.size()) {
                const unsigned char c = static_cast<unsigned char>(bytes[line + i]);
                char hex[4];
                std::snprintf(hex, sizeof hex, "%02x ", c);
                out += hex;
                ascii += (c >= 0x20 && c < 0x7F) ? char(c) : '.';
            } else {
                out += "   ";
            }
            if (i == 7)
                out += ' ';
        }
        out += ' ';
        out += ascii;
        out += '\n';
    }
    return out;
}
