#include "cli/Commands.h"

namespace {

const char kUsage[] =
    "Usage: prismet-cli COMMAND [OPTIONS] ...\n"
    "\n"
    "Inspects ICC colour profiles and converts colours with Prismet's colour engine.\n"
    "\n"
    "Commands:\n"
    "  info PROFILE...       header fields and tag directory of each profile\n"
    "  tag PROFILE SIG       the decoded content of one tag (--raw: its bytes)\n"
    "  dump PROFILE          the header, the directory and every tag decoded, for diffs\n"
    "  diff A B              what differs between two profiles: header, tags, colours\n"
    "  transform --profile A [--profile B ...]\n"
    "                        converts colour values read from standard input or --values\n"
    "  convert IN OUT --profile DST\n"
    "                        converts a PNG, JPEG, BMP or TIFF image to a profile\n"
    "  check PROFILE|FOLDER...\n"
    "                        the conformance check of each profile file, findings by severity\n"
    "  gamut PROFILE         volume and extents of the gamut hull (--compare OTHER: overlap)\n"
    "  roundtrip PROFILE     CIEDE2000 errors of the A2B/B2A roundtrips\n"
    "  inks PROFILE          the inks an output profile chooses along a ramp of colours\n"
    "  dotgain PROFILE       the tone value increase of each ink of an output profile\n"
    "  verify PROFILE MEASUREMENTS\n"
    "                        CIEDE2000 errors of the profile's predictions of a CGATS file\n"
    "\n"
    "Every command accepts --help; all but convert accept --json.\n"
    "A PROFILE is a file path, - for standard input, a built-in name (*srgb, *lab, *lab2,\n"
    "*xyz) or a PNG, JPEG or TIFF image (its embedded profile).\n"
    "\n"
    "Exit status: 0 success, 1 a profile, tag or image cannot be read or converted, or the\n"
    "output cannot be written, 2 bad usage, 3 check found a finding at or above its\n"
    "--min-severity, diff found a difference, or a threshold of verify, roundtrip\n"
    "--fail-above or gamut --min-coverage was not met.\n";

const char kTryHelp[] = "Try 'prismet-cli --help'.\n";

} // namespace

int runCli(const QStringList& args, CliIO& io)
{
    // Image plug-ins report through Qt's message log; keep their words on our standard error.
    QtMessageRoute route(io);
    if (args.isEmpty()) {
        io.error(QStringLiteral("no command given"));
        io.err += kTryHelp;
        return kExitUsage;
    }
    const QString command = args.first();
    const QStringList rest = args.mid(1);
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        io.out += kUsage;
        return kExitOk;
    }
    if (command == QLatin1String("--version")) {
        io.out += "prismet-cli 1.0.0\n";
        return kExitOk;
    }
    if (command == QLatin1String("info"))
        return runInfo(rest, io);
    if (command == QLatin1String("tag"))
        return runTag(rest, io);
    if (command == QLatin1String("transform"))
        return runTransform(rest, io);
    if (command == QLatin1String("convert"))
        return runConvert(rest, io);
    if (command == QLatin1String("dump"))
        return runDump(rest, io);
    if (command == QLatin1String("diff"))
        return runDiff(rest, io);
    if (command == QLatin1String("check"))
        return runCheck(rest, io);
    if (command == QLatin1String("gamut"))
        return runGamut(rest, io);
    if (command == QLatin1String("roundtrip"))
        return runRoundtrip(rest, io);
    if (command == QLatin1String("inks"))
        return runInks(rest, io);
    if (command == QLatin1String("dotgain"))
        return runDotGain(rest, io);
    if (command == QLatin1String("verify"))
        return runVerify(rest, io);
    io.error(QStringLiteral("unknown command '%1'").arg(command));
    io.err += kTryHelp;
    return kExitUsage;
}
