#include "cli/CliValue.h"
#include "cli/ColorChain.h"
#include "cli/Commands.h"

#include <QRegularExpression>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

const char kTransformHelp[] =
    "Usage: prismet-cli transform --profile A [--profile B ...] [OPTIONS]\n"
    "\n"
    "Converts colour values through a chain of profiles, like a colour calculator. Values are\n"
    "read one colour per line from standard input (numbers separated by blanks or commas;\n"
    "'#' starts a comment), or from --values. Each result is printed on its own line.\n"
    "\n"
    "Options:\n"
    "  --profile P        a profile of the chain, in order (a path or *srgb, *lab, *lab2, *xyz)\n"
    "  --intent N         rendering intent: 0 perceptual (default), 1 relative, 2 saturation,\n"
    "                     3 absolute, 10-15 black-preserving; names are accepted too\n"
    "  --bpc              black point compensation for every profile\n"
    "  --adaptation X     adaptation state 0..1 for absolute colorimetric (default 1)\n"
    "  --in-format F      float (default), 8 or 16\n"
    "  --out-format F     float (default), 8 or 16\n"
    "  --values \"V;V\"     colours separated by ';' instead of standard input (repeatable)\n"
    "  --precision N      decimals of float results in text output (default 4)\n"
    "  --no-optimize      use the linked pipeline as it is, without optimisation\n"
    "  --json             one JSON document (layout in cli/README.md)\n"
    "  --help             this text\n"
    "\n"
    "Value ranges: float device values are 0..1, except ink spaces (CMY, CMYK, 5 or more\n"
    "colorants) in percent 0..100; L*a*b* as L* a* b*; XYZ with the white's Y = 1. With 8 and\n"
    "16, device values are integers 0..255 or 0..65535 and L*a*b* and XYZ use the ICC 16-bit\n"
    "encodings (16 only).\n"
    "\n"
    "A named-colour profile takes the colour's index (0, 1, ...).\n"
    "\n"
    "Chains follow the engine's rules: e.g. L*a*b* -> CMYK -> L*a*b* is\n"
    "  --profile *lab --profile cmyk.icc --profile cmyk.icc --profile *lab\n"
    "\n"
    "Example:\n"
    "  prismet-cli transform --profile *srgb --profile *lab --values '1 0 0;0 0 1'\n";

struct ParsedColor {
    std::vector<double> values;
    int line = 0;
};

// Splits input text into colours; false with a usage message on the first malformed one.
bool parseColors(const QString& text, QChar separator, std::size_t channels, const QString& spaceName,
                 ValueEncoding encoding, std::vector<ParsedColor>& colors, QString& error)
{
    static const QRegularExpression kFieldSplit(QStringLiteral("[\\s,]+"));
    const QStringList lines = text.split(separator);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        const qsizetype hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0)
            line.truncate(hash);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const QStringList fields = line.split(kFieldSplit, Qt::SkipEmptyParts);
        ParsedColor color;
        color.line = int(i + 1);
        for (const QString& field : fields) {
            bool ok = false;
            const double v = field.toDouble(&ok);
            if (!ok || !std::isfinite(v)) {
                error = QStringLiteral("colour %1: '%2' is not a number").arg(color.line).arg(field);
                return false;
            }
            if (encoding != ValueEncoding::Float) {
                const double max = encoding == ValueEncoding::Bits8 ? 255.0 : 65535.0;
                if (v != std::floor(v) || v < 0 || v > max) {
                    error = QStringLiteral("colour %1: '%2' is not an integer from 0 to %3")
                                .arg(color.line)
                                .arg(field)
                                .arg(max);
                    return false;
                }
            }
            color.values.push_back(v);
        }
        if (color.values.size() != channels) {
            error = QStringLiteral("colour %1: %2 takes %3 values, got %4")
                        .arg(color.line)
                        .arg(spaceName)
                        .arg(channels)
                        .arg(color.values.size());
            return false;
        }
        colors.push_back(std::move(color));
    }
    return true;
}

std::size_t sampleBytes(ValueEncoding e)
{
    switch (e) {
    case ValueEncoding::Float: return sizeof(double);
    case ValueEncoding::Bits8: return 1;
    case ValueEncoding::Bits16: return 2;
    }
    return 8;
}

void storeSample(std::vector<unsigned char>& buffer, std::size_t at, ValueEncoding e, double v)
{
    switch (e) {
    case ValueEncoding::Float: std::memcpy(buffer.data() + at * 8, &v, 8); break;
    case ValueEncoding::Bits8: buffer[at] = static_cast<unsigned char>(v); break;
    case ValueEncoding::Bits16: {
        const krmUInt16Number w = krmUInt16Number(v);
        std::memcpy(buffer.data() + at * 2, &w, 2);
        break;
    }
    }
}

double loadSample(const std::vector<unsigned char>& buffer, std::size_t at, ValueEncoding e)
{
    switch (e) {
    case ValueEncoding::Float: {
        double v;
        std::memcpy(&v, buffer.data() + at * 8, 8);
        return v;
    }
    case ValueEncoding::Bits8: return buffer[at];
    case ValueEncoding::Bits16: {
        krmUInt16Number w;
        std::memcpy(&w, buffer.data() + at * 2, 2);
        return w;
    }
    }
    return 0;
}

CliValue sideValue(krmColorSpaceSignature space, ValueEncoding e, std::size_t channels)
{
    CliValue v = CliValue::object();
    v.set(QStringLiteral("space"), spaceText(space));
    v.set(QStringLiteral("format"), encodingName(e));
    v.set(QStringLiteral("channels"), qulonglong(channels));
    return v;
}

} // namespace

int runTransform(const QStringList& args, CliIO& io)
{
    CliArgs options({QStringLiteral("json"), QStringLiteral("bpc"), QStringLiteral("no-optimize"), QStringLiteral("help")},
                    {QStringLiteral("profile"), QStringLiteral("intent"), QStringLiteral("adaptation"),
                     QStringLiteral("in-format"), QStringLiteral("out-format"), QStringLiteral("values"),
                     QStringLiteral("precision")});
    CommandOutput output(io, "transform", {"profiles", "intent", "bpc", "adaptation", "input", "output", "results"});
    output.setJson(wantsJson(args));
    auto usage = [&](const QString& message) { return output.usage(message); };
    if (!options.parse(args))
        return usage(options.errorText());
    if (options.isSet(QStringLiteral("help"))) {
        io.out += kTransformHelp;
        return kExitOk;
    }
    if (!options.positionals().isEmpty())
        return usage(QStringLiteral("unexpected argument '%1'").arg(options.positionals().first()));
    const QStringList profileNames = options.values(QStringLiteral("profile"));
    if (profileNames.isEmpty())
        return usage(QStringLiteral("transform needs at least one --profile"));
    if (profileNames.size() > 255)
        return usage(QStringLiteral("a chain holds at most 255 profiles"));

    krmUInt32Number intent = krmINTENT_PERCEPTUAL;
    if (options.isSet(QStringLiteral("intent")) && !parseIntent(options.value(QStringLiteral("intent")), intent))
        return usage(QStringLiteral("'%1' is not a rendering intent").arg(options.value(QStringLiteral("intent"))));
    ValueEncoding inEncoding = ValueEncoding::Float, outEncoding = ValueEncoding::Float;
    if (options.isSet(QStringLiteral("in-format")) && !parseEncoding(options.value(QStringLiteral("in-format")), inEncoding))
        return usage(QStringLiteral("'%1' is not a value format (float, 8 or 16)").arg(options.value(QStringLiteral("in-format"))));
    if (options.isSet(QStringLiteral("out-format")) && !parseEncoding(options.value(QStringLiteral("out-format")), outEncoding))
        return usage(QStringLiteral("'%1' is not a value format (float, 8 or 16)").arg(options.value(QStringLiteral("out-format"))));
    int precision = 4;
    if (options.isSet(QStringLiteral("precision"))) {
        bool ok = false;
        precision = options.value(QStringLiteral("precision")).toInt(&ok);
        if (!ok || precision < 0 || precision > 17)
            return usage(QStringLiteral("--precision takes a number from 0 to 17"));
    }

    EngineSession session(io);
    double adaptation = krmSetAdaptationState(session.context(), -1.0);
    if (options.isSet(QStringLiteral("adaptation"))) {
        bool ok = false;
        adaptation = options.value(QStringLiteral("adaptation")).toDouble(&ok);
        if (!ok || !(adaptation >= 0.0 && adaptation <= 1.0))
            return usage(QStringLiteral("--adaptation takes a number from 0 to 1"));
    }

    std::vector<std::unique_ptr<LoadedProfile>> loaded;
    std::vector<krmProfile> chain;
    for (const QString& name : profileNames) {
        auto p = loadProfile(session, name);
        if (!p) {
            output.setError(session.takeMessages());
            return output.finish(kExitUnreadable);
        }
        chain.push_back(p->profile);
        loaded.push_back(std::move(p));
    }

    krmColorSpaceSignature entry = 0, exit = 0;
    chainSpaces(chain, entry, exit);
    // A named-colour profile takes the colour's index (0, 1, ...), which is a whole number.
    if (entry == krmSig("1CLR") && inEncoding == ValueEncoding::Float)
        inEncoding = ValueEncoding::Bits16;
    QString formatError;
    const krmUInt32Number inFormat = valueFormat(entry, inEncoding, formatError);
    if (!inFormat)
        return usage(QStringLiteral("input: %1").arg(formatError));
    const krmUInt32Number outFormat = valueFormat(exit, outEncoding, formatError);
    if (!outFormat)
        return usage(QStringLiteral("output: %1").arg(formatError));
    const std::size_t inChannels = krmT_CHANNELS(inFormat);
    const std::size_t outChannels = krmT_CHANNELS(outFormat);

    // The colours, checked before anything is converted.
    std::vector<ParsedColor> colors;
    QString parseError;
    if (options.isSet(QStringLiteral("values"))) {
        for (const QString& text : options.values(QStringLiteral("values")))
            if (!parseColors(text, QLatin1Char(';'), inChannels, spaceText(entry), inEncoding, colors, parseError))
                return usage(parseError);
    } else {
        const QString input = QString::fromUtf8(io.readInput ? io.readInput() : QByteArray());
        if (!parseColors(input, QLatin1Char('\n'), inChannels, spaceText(entry), inEncoding, colors, parseError))
            return usage(parseError);
    }

    const krmUInt32Number flags = options.isSet(QStringLiteral("no-optimize")) ? krmFlagNoOptimize : 0;
    krmTransform transform = createChainTransform(session.context(), chain, intent, options.isSet(QStringLiteral("bpc")),
                                                  adaptation, inFormat, outFormat, flags);
    if (!transform)
        return output.finish(output.fail(QStringLiteral("the engine cannot link this chain of profiles")));

    std::vector<unsigned char> in(colors.size() * inChannels * sampleBytes(inEncoding) + 8, 0);
    std::vector<unsigned char> out(colors.size() * outChannels * sampleBytes(outEncoding) + 8, 0);
    for (std::size_t c = 0; c < colors.size(); ++c)
        for (std::size_t k = 0; k < inChannels; ++k)
            storeSample(in, c * inChannels + k, inEncoding, colors[c].values[k]);
    session.takeMessages();
    if (!colors.empty())
        krmDoTransform(transform, in.data(), out.data(), krmUInt32Number(colors.size()));
    krmDeleteTransform(transform);
    // The engine complains during conversion only about values it cannot convert (a named
    // colour index past the list): the results are printed, the status says they are not all good.
    const QString conversionMessages = session.takeMessages();
    const int status = conversionMessages.isEmpty() ? int(kExitOk) : int(kExitUnreadable);
    if (!conversionMessages.isEmpty())
        output.setError(conversionMessages);

    CliValue results = CliValue::array();
    for (std::size_t c = 0; c < colors.size(); ++c) {
        QStringList fields;
        CliValue inputValues = CliValue::array(), outputValues = CliValue::array();
        for (std::size_t k = 0; k < inChannels; ++k)
            inputValues.append(colors[c].values[k]);
        for (std::size_t k = 0; k < outChannels; ++k) {
            const double v = loadSample(out, c * outChannels + k, outEncoding);
            if (outEncoding == ValueEncoding::Float) {
                outputValues.append(v);
                // No "-0.0000" for values that round to zero.
                const double shown = std::fabs(v) < 0.5 * std::pow(10.0, -precision) ? 0.0 : v;
                fields << QString::number(shown, 'f', precision);
            } else {
                outputValues.append(qlonglong(v));
                fields << QString::number(qlonglong(v));
            }
        }
        if (!options.isSet(QStringLiteral("json")))
            io.out += fields.join(QLatin1Char(' ')).toUtf8() + '\n';
        CliValue r = CliValue::object();
        r.set(QStringLiteral("input"), std::move(inputValues));
        r.set(QStringLiteral("output"), std::move(outputValues));
        results.append(std::move(r));
    }

    CliValue names = CliValue::array();
    for (const QString& name : profileNames)
        names.append(name);
    output.set(QStringLiteral("profiles"), std::move(names));
    CliValue intentValue = CliValue::object();
    intentValue.set(QStringLiteral("code"), intent);
    intentValue.set(QStringLiteral("name"), intentName(intent));
    output.set(QStringLiteral("intent"), std::move(intentValue));
    output.set(QStringLiteral("bpc"), options.isSet(QStringLiteral("bpc")));
    output.set(QStringLiteral("adaptation"), adaptation);
    output.set(QStringLiteral("input"), sideValue(entry, inEncoding, inChannels));
    output.set(QStringLiteral("output"), sideValue(exit, outEncoding, outChannels));
    output.set(QStringLiteral("results"), std::move(results));
    return output.finish(status);
}
