#include "common/analysis/InkRamps.h"
#include "cli/CliValue.h"
#include "cli/Commands.h"

#include <vector>

namespace {

const char kInksHelp[] =
    "Usage: prismet-cli inks [--intent N] [--ramp R] [--space S] [--json] PROFILE\n"
    "\n"
    "How an output profile separates a ramp of 101 colours into inks, through its B2A tag of\n"
    "the intent: the neutral axis from L* 100 to 0, or from the paper to the solid of a primary\n"
    "or secondary ink. One tab-separated line per position: the position 0..1, the requested\n"
    "L*a*b*, every ink 0..1, the total ink relative to its largest value, the ink sum in percent\n"
    "and the obtained L*/100 (b*/128 within 0..1 on the Y ramp) that the inks reproduce,\n"
    "measured absolute colorimetric. The same numbers as the window's \"Ink separation\" view.\n"
    "\n"
    "Options:\n"
    "  --intent N   0 perceptual (default), 1 relative colorimetric, 2 saturation (tag B2A0..2)\n"
    "  --ramp R     neutral (default), C, M, Y (primaries), R = M+Y, G = C+Y, B = C+M\n"
    "  --space S    lab (default, L*C*h) or cam16 (CAM16-UCS): how paper and solid are joined;\n"
    "               the neutral axis is always L*\n"
    "  --json       one JSON document (layout in cli/README.md)\n"
    "  --help       this text\n"
    "\n"
    "Exit status 1 when the profile cannot be read, is not an output profile with four or more\n"
    "inks, has no B2A tag for the intent or cannot separate the ramp.\n"
    "\n"
    "Example:\n"
    "  prismet-cli inks --ramp C cmyk.icc\n";

const char kDotGainHelp[] =
    "Usage: prismet-cli dotgain [--intent N] [--json] PROFILE\n"
    "\n"
    "The tone value increase (dot gain) of each ink of an output profile, from single-ink ramps\n"
    "through its A2B tag of the intent: for nominal 0..100 %, the apparent tone value measured\n"
    "against paper and solid minus the nominal value, in percentage points. CMYK inks are\n"
    "measured in X (C), Y (M, K) and Z (Y); other inks in the XYZ component that changes most,\n"
    "named after the ink. One tab-separated line per nominal value, one column per ink. The same\n"
    "numbers as the window's \"Dot gain\" view.\n"
    "\n"
    "Options:\n"
    "  --intent N   0 perceptual (default), 1 relative colorimetric, 2 saturation (tag A2B0..2)\n"
    "  --json       one JSON document (layout in cli/README.md)\n"
    "  --help       this text\n"
    "\n"
    "An ink whose solid does not differ from the paper is left out with a warning. Exit status 1\n"
    "when the profile cannot be read, is not an output profile with four or more inks, has no A2B\n"
    "tag for the intent or no ink can be measured.\n"
    "\n"
    "Example:\n"
    "  prismet-cli dotgain /usr/share/color/icc/ghostscript/default_cmyk.icc\n";

// Options shared by both commands; the profile, its tag and the intent once they are checked.
struct InkSetup {
    std::unique_ptr<LoadedProfile> loaded;
    krmTagSignature tag = 0;
    int intent = 0;
};

// Returns an exit status when the command ends here, or -1 with `setup` filled in.
int prepare(CommandOutput& output, const CliArgs& options, EngineSession& session, bool b2a, InkSetup& setup)
{
    const QString command = b2a ? QStringLiteral("inks") : QStringLiteral("dotgain");
    if (options.positionals().size() != 1)
        return output.usage(options.positionals().isEmpty()
                                ? QStringLiteral("%1 needs a PROFILE").arg(command)
                                : QStringLiteral("%1 takes one PROFILE; '%2' is one too many")
                                      .arg(command, options.positionals()[1]));
    if (options.isSet(QStringLiteral("intent"))) {
        krmUInt32Number intent = 0;
        if (!parseIntent(options.value(QStringLiteral("intent")), intent) || intent > 2)
            return output.usage(QStringLiteral("--intent must be 0, 1 or 2 (perceptual, relative, saturation), not '%1'")
                                    .arg(options.value(QStringLiteral("intent"))));
        setup.intent = int(intent);
    }
    const QString name = options.positionals().first();
    output.set(QStringLiteral("profile"), name);
    setup.loaded = loadProfile(session, name);
    if (!setup.loaded) {
        output.setError(session.takeMessages());
        return output.finish(kExitUnreadable);
    }
    const krmProfile profile = setup.loaded->profile;
    const char tagName[5] = {b2a ? 'B' : 'A', '2', b2a ? 'A' : 'B', char('0' + setup.intent), 0};
    setup.tag = krmSig(tagName);
    output.set(QStringLiteral("tag"), QString::fromLatin1(tagName));
    output.set(QStringLiteral("intent"), setup.intent);
    if (krmGetProfileClass(profile) != krmSig("prtr") || krmChannelsOfColorSpace(krmGetProfileColorSpace(profile)) < 4)
        return output.finish(output.fail(QStringLiteral("'%1' is not an output profile with four or more inks").arg(name)));
    if (!krmIsTag(profile, setup.tag))
        return output.finish(output.fail(QStringLiteral("'%1' has no '%2' tag").arg(name, QString::fromLatin1(tagName))));
    return -1;
}

CliValue names_value(const std::vector<std::string>& names)
{
    CliValue list = CliValue::array();
    for (const std::string& name : names)
        list.append(QString::fromStdString(name));
    return list;
}

}  // namespace

int runInks(const QStringList& args, CliIO& io)
{
    CommandOutput output(io, "inks",
                         {"profile", "tag", "intent", "ramp", "space", "channels", "tac", "obtained", "positions"});
    output.setJson(wantsJson(args));
    CliArgs options({QStringLiteral("json"), QStringLiteral("help")},
                    {QStringLiteral("intent"), QStringLiteral("ramp"), QStringLiteral("space")});
    if (!options.parse(args))
        return output.usage(options.errorText());
    if (options.isSet(QStringLiteral("help"))) {
        io.out += kInksHelp;
        return kExitOk;
    }
    static const char* const kRamps[] = {"neutral", "C", "M", "Y", "R", "G", "B"};
    int rampIndex = 0;
    if (options.isSet(QStringLiteral("ramp"))) {
        const QString ramp = options.value(QStringLiteral("ramp"));
        rampIndex = -1;
        for (int i = 0; i < 7; ++i) {
            if (ramp.compare(QLatin1String(kRamps[i]), Qt::CaseInsensitive) == 0)
                rampIndex = i;
        }
        if (rampIndex < 0)
            return output.usage(QStringLiteral("--ramp must be neutral, C, M, Y, R, G or B, not '%1'").arg(ramp));
    }
    RampSampling sampling = RampSampling::Lab;
    if (options.isSet(QStringLiteral("space"))) {
        const QString space = options.value(QStringLiteral("space")).toLower();
        if (space == QLatin1String("cam16"))
            sampling = RampSampling::Cam16;
        else if (space != QLatin1String("lab"))
            return output.usage(QStringLiteral("--space must be lab or cam16, not '%1'").arg(options.value(QStringLiteral("space"))));
    }
    if (rampIndex == 0)
        sampling = RampSampling::Lab;

    EngineSession session(io);
    InkSetup setup;
    if (const int status = prepare(output, options, session, true, setup); status >= 0)
        return status;
    const InkRamp kind = InkRamp(rampIndex);
    output.set(QStringLiteral("ramp"), kRamps[rampIndex]);
    output.set(QStringLiteral("space"), sampling == RampSampling::Cam16 ? "cam16" : "lab");
    const krmProfile profile = setup.loaded->profile;
    const auto ramp = compute_separation_ramp(profile, setup.intent, kind, sampling);
    if (!ramp)
        return output.finish(output.fail(QStringLiteral("the ramp cannot be separated through '%1'")
                                              .arg(signatureString(setup.tag))));
    const std::vector<std::string> names = ink_channel_names(profile);
    output.set(QStringLiteral("channels"), names_value(names));
    output.set(QStringLiteral("tac"), krmDetectTAC(profile));
    output.set(QStringLiteral("obtained"), kind == InkRamp::YPrimary ? "b*" : "L*");

    CliValue positions = CliValue::array();
    for (int k = 0; k < kRampPositions; ++k) {
        const auto at = std::size_t(k);
        CliValue position = CliValue::object();
        position.set(QStringLiteral("position"), k / 100.0);
        const krmCIELab& lab = ramp->requested[at];
        const double requested[3] = {lab.L, lab.a, lab.b};
        position.set(QStringLiteral("lab"), numberArray(requested, 3));
        CliValue inks = CliValue::array();
        for (const std::vector<float>& ink : ramp->inks)
            inks.append(double(ink[at]));
        position.set(QStringLiteral("inks"), std::move(inks));
        position.set(QStringLiteral("total"), double(ramp->total[at]));
        position.set(QStringLiteral("inkSum"), double(ramp->inkSum[at]));
        position.set(QStringLiteral("obtained"), double(ramp->obtained[at]));
        positions.append(std::move(position));
    }
    output.set(QStringLiteral("positions"), std::move(positions));
    if (!output.json())
        io.out += QByteArray::fromStdString(separation_table(*ramp, kind, names));
    return output.finish(kExitOk);
}

int runDotGain(const QStringList& args, CliIO& io)
{
    CommandOutput output(io, "dotgain", {"profile", "tag", "intent", "inks"});
    output.setJson(wantsJson(args));
    CliArgs options({QStringLiteral("json"), QStringLiteral("help")}, {QStringLiteral("intent")});
    if (!options.parse(args))
        return output.usage(options.errorText());
    if (options.isSet(QStringLiteral("help"))) {
        io.out += kDotGainHelp;
        return kExitOk;
    }
    EngineSession session(io);
    InkSetup setup;
    if (const int status = prepare(output, options, session, false, setup); status >= 0)
        return status;
    const krmProfile profile = setup.loaded->profile;
    const auto channels = compute_dot_gain_values(profile, setup.intent);
    if (!channels)
        return output.finish(output.fail(QStringLiteral("no dot gain analysis is possible through '%1'")
                                              .arg(signatureString(setup.tag))));
    const std::vector<std::string> bases = ink_channel_names(profile);
    std::vector<std::string> names;
    QStringList failed;
    CliValue inks = CliValue::array();
    for (const DotGainChannel& channel : *channels) {
        const std::string base = std::size_t(channel.channel) < bases.size() ? bases[std::size_t(channel.channel)] : "?";
        names.push_back(dot_gain_name(base, channel));
        CliValue ink = CliValue::object();
        ink.set(QStringLiteral("name"), QString::fromStdString(base));
        ink.set(QStringLiteral("component"), xyz_component_name(channel.component));
        if (channel.failed) {
            failed << QString::fromStdString(base);
            ink.set(QStringLiteral("values"), CliValue());
        } else {
            ink.set(QStringLiteral("values"), numberArray(channel.values.data(), channel.values.size()));
        }
        inks.append(std::move(ink));
    }
    output.set(QStringLiteral("inks"), std::move(inks));
    if (!failed.isEmpty()) {
        const QString message = QStringLiteral("dot gain unavailable for %1: insufficient paper-to-solid difference or "
                                               "invalid profile response")
                                    .arg(failed.join(QStringLiteral(", ")));
        if (failed.size() == int(channels->size()))
            return output.finish(output.fail(message));
        io.warning(message);
    }
    if (!output.json())
        io.out += QByteArray::fromStdString(dot_gain_table(*channels, names));
    return output.finish(kExitOk);
}
