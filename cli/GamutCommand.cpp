// prismet-cli gamut and roundtrip: the figures of the window's gamut hull and roundtrip views,
// computed by the same code (analysis/GamutAnalysis).
#include "common/analysis/GamutAnalysis.h"
#include "common/analysis/MeshExport.h"
#include "common/analysis/Verification.h"
#include "common/analysis/GamutComparison.h"
#include "cli/Commands.h"

#include <QFile>

#include <cmath>

namespace {

const char kGamutHelp[] =
    "Usage: prismet-cli gamut [--intent N] [--tag SIG] [--grid N] [--compare OTHER] [--image IMG]\n"
    "                         [--image-profile P] [--export FILE] [--min-coverage OTHER=PERCENT ...]\n"
    "                         [--json] PROFILE\n"
    "\n"
    "The gamut of a profile as the Gamut view samples it: the device space sampled on a regular\n"
    "grid (12 points per channel up to three channels, 5 up to six, 4 beyond, fewer while the\n"
    "grid exceeds 250000 nodes), converted to L*a*b* through one tag and wrapped in a convex\n"
    "hull. Prints the hull's volume in cubic L*a*b* units and its L*, a* and b* extents, of the\n"
    "L*a*b* values as computed (the view draws them on a whole-unit grid inside L* 0..100,\n"
    "a* and b* -128..127; the figures are neither limited nor rounded so).\n"
    "\n"
    "Options:\n"
    "  --intent N       picks the tag A2BN (0 perceptual (default), 1 relative, 2 saturation);\n"
    "                   without it, A2B0; A2B0 when A2BN is missing; the matrix-shaper when\n"
    "                   the profile has no A2B tag\n"
    "  --tag SIG        the tag to sample instead: A2Bn, B2An, D2Bn, B2Dn, or 0x7ffffff0 for\n"
    "                   the matrix-shaper (the tag decides the intent, as in the window)\n"
    "  --grid N         N sampling points per channel instead (2 to 255, at most 2000000\n"
    "                   nodes in all), for a denser sampling; applies to OTHER too\n"
    "  --compare OTHER  also the share of OTHER's hull volume inside PROFILE's and the\n"
    "                   reverse, estimated from 200000 seeded pseudo-random points uniform in\n"
    "                   each hull's bounding box; OTHER's tag follows --intent\n"
    "  --image IMG      the share of IMG's pixels (its own profile, else sRGB, relative\n"
    "                   colorimetric to L*a*b*; at most 100000 evenly spaced) outside the hull,\n"
    "                   and the CIEDE2000 error of their roundtrip through PROFILE (relative\n"
    "                   colorimetric); the hull takes A2B1 unless --intent or --tag says\n"
    "  --image-profile P\n"
    "                   IMG's pixels are in profile P (a file or a built-in name such as *srgb),\n"
    "                   whatever IMG embeds: for untagged grey or CMYK images, or to assign\n"
    "                   another profile\n"
    "  --export FILE    writes the hull (and OTHER's with --compare) by FILE's extension:\n"
    "                   .glb (glTF 2.0 binary), .ply, .wrl (VRML 2.0), .txt or .cgats (L*a*b*\n"
    "                   of the hull's vertices)\n"
    "  --min-coverage OTHER=PERCENT\n"
    "                   exit 3 unless at least PERCENT % of OTHER's hull volume lies inside\n"
    "                   PROFILE's (estimated as for --compare); may be repeated\n"
    "  --json           one JSON document (layout in cli/README.md)\n"
    "  --help           this text\n"
    "\n"
    "Example:\n"
    "  prismet-cli gamut --compare *srgb AdobeRGB1998.icc\n";

const char kRoundtripHelp[] =
    "Usage: prismet-cli roundtrip [--intent N] [--worst K] [--fail-above mean=X,p95=Y,max=Z]\n"
    "                             [--json] PROFILE\n"
    "\n"
    "The roundtrip errors the Roundtrip view computes, for every intent whose A2B and B2A\n"
    "tags are both present: the device roundtrip (device grid -> A2B -> B2A -> A2B) and the\n"
    "PCS roundtrip (a 4-unit L*a*b* grid inside the gamut -> B2A -> A2B), each sample's\n"
    "CIEDE2000 difference summarised as mean, 95th percentile (nearest rank) and maximum, with\n"
    "the worst samples. A matrix-shaper profile without such pairs takes the device roundtrip\n"
    "through its matrix and curves.\n"
    "\n"
    "Options:\n"
    "  --intent N   only this intent (0 perceptual, 1 relative, 2 saturation)\n"
    "  --worst K    how many of the worst samples to list (default 5, up to 1000)\n"
    "  --fail-above mean=X,p95=Y,max=Z\n"
    "               exit 3 when a roundtrip's CIEDE2000 figure exceeds its threshold\n"
    "  --json       one JSON document (layout in cli/README.md)\n"
    "  --help       this text\n"
    "\n"
    "Example:\n"
    "  prismet-cli roundtrip --intent 1 --worst 3 cmyk.icc\n";

constexpr int kMaxGridNodes = 2000000;

QString tag_name(krmTagSignature sig)
{
    return sig == kMatrixShaperTag ? QStringLiteral("matrix-shaper") : signatureString(sig);
}

// The tag the gamut is sampled through: --tag, else A2B<intent>, A2B0, the matrix-shaper.
bool choose_gamut_tag(const LoadedProfile& loaded, const QString& tagOption, krmUInt32Number intent,
                      krmTagSignature& tag, QString& error)
{
    const krmProfile profile = loaded.profile;
    if (!tagOption.isEmpty()) {
        if (tag == kMatrixShaperTag) {
            if (krmIsMatrixShaper(profile))
                return true;
            error = QStringLiteral("the profile is not a matrix-shaper");
            return false;
        }
        if (!krmIsTag(profile, tag)) {
            error = tagAbsence(loaded.bytes, tag);
            return false;
        }
        return true;
    }
    const krmTagSignature wanted = krmSig("A2B0") + intent;
    for (krmTagSignature candidate : {wanted, krmTagSignature(krmSig("A2B0"))}) {
        if (krmIsTag(profile, candidate)) {
            tag = candidate;
            return true;
        }
    }
    if (krmIsMatrixShaper(profile)) {
        tag = kMatrixShaperTag;
        return true;
    }
    error = QStringLiteral("the profile has neither an A2B tag nor a matrix-shaper to sample");
    const QString problems = tagProblems(loaded.bytes, {wanted, krmSig("A2B0")});
    if (!problems.isEmpty())
        error = problems + QStringLiteral("; ") + error;
    return false;
}

CliValue range_value(double low, double high)
{
    CliValue v = CliValue::array();
    v.append(low);
    v.append(high);
    return v;
}

struct GamutFigures {
    krmTagSignature tag = 0;
    std::unique_ptr<GamutHull> gamut;
};

// Samples one profile; false after reporting why.
bool sample_gamut(const LoadedProfile& loaded, const QString& tagOption, krmTagSignature tag, krmUInt32Number intent,
                  int gridPoints, GamutFigures& figures, QString& error)
{
    figures.tag = tag;
    if (!choose_gamut_tag(loaded, tagOption, intent, figures.tag, error))
        return false;
    const krmProfile profile = loaded.profile;
    try {
        figures.gamut = compute_gamut_hull(profile, figures.tag, gridPoints);
    } catch (const std::exception& e) {
        error = QStringLiteral("hull computation failed: %1").arg(QString::fromUtf8(e.what()));
        return false;
    }
    if (!figures.gamut) {
        error = QStringLiteral("the engine cannot build the transform of '%1' to L*a*b*").arg(tag_name(figures.tag));
        return false;
    }
    return true;
}

CliValue gamut_value(const QString& name, const GamutFigures& f)
{
    const GamutHull& g = *f.gamut;
    const Hull& hull = *g.measured;
    CliValue v = CliValue::object();
    v.set(QStringLiteral("profile"), name);
    v.set(QStringLiteral("tag"), tag_name(f.tag));
    v.set(QStringLiteral("intent"), intent_of_tag(f.tag));
    v.set(QStringLiteral("samples"), (unsigned long long)f.gamut->samples);
    v.set(QStringLiteral("grid_points"), f.gamut->gridPoints);
    v.set(QStringLiteral("vertices"), (unsigned long long)hull.vertices().size());
    v.set(QStringLiteral("faces"), (unsigned long long)(hull.triangles().size() / 3));
    v.set(QStringLiteral("volume"), g.volume);
    CliValue extents = CliValue::object();
    extents.set(QStringLiteral("L"), range_value(g.min[0], g.max[0]));
    extents.set(QStringLiteral("a"), range_value(g.min[1], g.max[1]));
    extents.set(QStringLiteral("b"), range_value(g.min[2], g.max[2]));
    v.set(QStringLiteral("extents"), std::move(extents));
    return v;
}

QByteArray gamut_text(const GamutFigures& f)
{
    const GamutHull& g = *f.gamut;
    const Hull& hull = *g.measured;
    QString text;
    text += QStringLiteral("Tag:      %1 (intent %2, %3)\n")
                .arg(tag_name(f.tag))
                .arg(intent_of_tag(f.tag))
                .arg(intentName(intent_of_tag(f.tag)));
    text += QStringLiteral("Samples:  %1 (%2 per channel)\n").arg(f.gamut->samples).arg(f.gamut->gridPoints);
    text += QStringLiteral("Hull:     %1 vertices, %2 faces\n").arg(hull.vertices().size()).arg(hull.triangles().size() / 3);
    text += QStringLiteral("Volume:   %1 cubic L*a*b* units\n").arg(g.volume, 0, 'f', 0);
    const char* axes[3] = {"L*", "a*", "b*"};
    for (int k = 0; k < 3; ++k)
        text += QStringLiteral("%1:%2%3 .. %4\n")
                    .arg(QLatin1String(axes[k]), QString(7, QLatin1Char(' ')), fixedNumber(g.min[k], 2), fixedNumber(g.max[k], 2));
    return text.toUtf8();
}

// The share and its standard error (in percent) from points falling inside the inner hull.
CliValue share_value(double share, int inside)
{
    CliValue v = CliValue::object();
    v.set(QStringLiteral("percent"), 100.0 * share);
    v.set(QStringLiteral("points"), inside);
    // Binomial standard error, at most 50/sqrt(n) percentage points.
    v.set(QStringLiteral("standard_error"), inside > 0 ? 100.0 * std::sqrt(share * (1 - share) / inside) : 0.0);
    return v;
}

bool parse_intent_option(const CliArgs& options, bool& given, krmUInt32Number& intent, QString& error)
{
    given = options.isSet(QStringLiteral("intent"));
    intent = 0;
    if (!given)
        return true;
    if (!parseIntent(options.value(QStringLiteral("intent")), intent) || intent > 2) {
        error = QStringLiteral("--intent takes 0 (perceptual), 1 (relative) or 2 (saturation), not '%1'")
                    .arg(options.value(QStringLiteral("intent")));
        return false;
    }
    return true;
}

// --export FILE: the hull, and OTHER's with --compare, written by the file's extension.
bool export_gamut(const QString& path, const GamutFigures& profile, const GamutFigures* other, QString& error)
{
    // The measured hulls: the surfaces whose volume and extents are printed.
    const HullRenderData mine = measured_render_data(*profile.gamut);
    HullRenderData theirs;
    std::vector<ExportMesh> meshes{{"gamut", &mine, false}};
    if (other && other->gamut) {
        theirs = measured_render_data(*other->gamut);
        meshes.push_back({"compare", &theirs, false});
    }
    try {
        write_mesh_file(QFile::encodeName(path).toStdString(), meshes);
    } catch (const std::exception& e) {
        error = QStringLiteral("--export: %1").arg(QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

// --min-coverage OTHER=PERCENT: the share of OTHER's hull volume PROFILE's must hold.
struct CoverageGate {
    QString other;
    double percent = 0;
};

bool parse_coverage(const QStringList& values, std::vector<CoverageGate>& gates, QString& error)
{
    for (const QString& value : values) {
        const qsizetype equals = value.lastIndexOf(QLatin1Char('='));
        bool ok = false;
        const double percent = equals > 0 ? value.mid(equals + 1).toDouble(&ok) : 0.0;
        if (!ok || percent < 0 || percent > 100) {
            error = QStringLiteral("--min-coverage takes OTHER=PERCENT (0 to 100), not '%1'").arg(value);
            return false;
        }
        gates.push_back({value.left(equals), percent});
    }
    return true;
}

// Samples each OTHER and compares; kExitFindings when a share falls short, kExitUnreadable when an
// OTHER cannot be read or sampled.
int check_coverage(EngineSession& session, CommandOutput& output, const std::vector<CoverageGate>& gates,
                   const GamutFigures& figures, krmUInt32Number intent, const QString& name)
{
    int status = kExitOk;
    CliValue list = CliValue::array();
    for (const CoverageGate& gate : gates) {
        std::unique_ptr<LoadedProfile> other = loadProfile(session, gate.other);
        GamutFigures otherFigures;
        QString error;
        if (!other) {
            output.setError(session.takeMessages());  // already on standard error
            return kExitUnreadable;
        }
        if (!sample_gamut(*other, QString(), 0, intent, 0, otherFigures, error))
            return output.fail(QStringLiteral("%1: %2").arg(gate.other, error));
        // The same estimate as --compare's "OTHER inside PROFILE".
        const double share = 100.0 * gamut_overlap(*figures.gamut, *otherFigures.gamut).otherInsideProfile.share;
        const bool met = share >= gate.percent;
        CliValue v = CliValue::object();
        v.set(QStringLiteral("other"), gate.other);
        v.set(QStringLiteral("percent"), share);
        v.set(QStringLiteral("required"), gate.percent);
        v.set(QStringLiteral("met"), met);
        list.append(std::move(v));
        const QString line = QStringLiteral("%1 covers %2 % of %3 (at least %4 % required)")
                                 .arg(name)
                                 .arg(share, 0, 'f', 1)
                                 .arg(gate.other)
                                 .arg(gate.percent);
        if (!output.json())
            output.io().out += QStringLiteral("%1: %2\n").arg(met ? QStringLiteral("Coverage") : QStringLiteral("NOT MET"), line).toUtf8();
        if (!met) {
            output.io().error(line);
            status = kExitFindings;
        }
    }
    output.set(QStringLiteral("coverage"), std::move(list));
    return status;
}

// --fail-above for one roundtrip: the figures above their thresholds, reported on standard error.
CliValue roundtrip_gate(CliIO& io, const ErrorThresholds& thresholds, const RoundtripStatistics& stats,
                        const QString& title, int& status)
{
    ErrorStatistics figures;
    figures.count = stats.count;
    figures.mean = stats.mean;
    figures.p95 = stats.p95;
    figures.max = stats.max;
    CliValue exceeded = CliValue::array();
    for (const std::string& line : exceeded_thresholds(thresholds, figures)) {
        io.error(QStringLiteral("%1: \u0394E00 %2").arg(title, QString::fromStdString(line)));
        exceeded.append(QString::fromStdString(line));
        if (status == kExitOk)
            status = kExitFindings;
    }
    return exceeded;
}

} // namespace

int runGamut(const QStringList& args, CliIO& io)
{
    CommandOutput output(io, "gamut", {"gamut", "compare", "image", "coverage"});
    output.setJson(wantsJson(args));
    CliArgs options({QStringLiteral("json"), QStringLiteral("help")},
                    {QStringLiteral("intent"), QStringLiteral("tag"), QStringLiteral("compare"), QStringLiteral("image"),
                     QStringLiteral("image-profile"), QStringLiteral("grid"), QStringLiteral("export"),
                     QStringLiteral("min-coverage")});
    if (!options.parse(args))
        return output.usage(options.errorText());
    if (options.isSet(QStringLiteral("help"))) {
        io.out += kGamutHelp;
        return kExitOk;
    }
    if (options.positionals().size() != 1)
        return output.usage(options.positionals().isEmpty()
                                ? QStringLiteral("gamut needs a PROFILE")
                                : QStringLiteral("gamut takes one PROFILE; '%1' is one too many").arg(options.positionals()[1]));
    bool intentGiven = false;
    krmUInt32Number intent = 0;
    QString error;
    if (!parse_intent_option(options, intentGiven, intent, error))
        return output.usage(error);
    const QString imagePath = options.value(QStringLiteral("image"));
    const QString imageProfile = options.value(QStringLiteral("image-profile"));
    if (options.isSet(QStringLiteral("image-profile")) && imagePath.isEmpty())
        return output.usage(QStringLiteral("--image-profile needs --image"));
    if (!intentGiven && !imagePath.isEmpty())
        intent = 1;  // the image is judged relative colorimetric
    const QString tagOption = options.value(QStringLiteral("tag"));
    krmTagSignature tag = 0;
    if (!tagOption.isEmpty() && (!parseSignature(tagOption, tag) || !is_gamut_tag(tag)))
        return output.usage(QStringLiteral("--tag takes A2Bn, B2An, D2Bn, B2Dn or 0x7ffffff0, not '%1'").arg(tagOption));
    const QString exportPath = options.value(QStringLiteral("export"));
    if (options.isSet(QStringLiteral("export")) && !is_mesh_file_name(exportPath.toStdString()))
        return output.usage(QStringLiteral("--export writes %1 files, not '%2'").arg(mesh_file_extensions(), exportPath));
    std::vector<CoverageGate> coverage;
    if (!parse_coverage(options.values(QStringLiteral("min-coverage")), coverage, error))
        return output.usage(error);

    int gridPoints = 0;
    if (options.isSet(QStringLiteral("grid"))) {
        bool ok = false;
        gridPoints = options.value(QStringLiteral("grid")).toInt(&ok);
        if (!ok || gridPoints < 2 || gridPoints > 255)
            return output.usage(QStringLiteral("--grid takes a whole number from 2 to 255, not '%1'")
                                    .arg(options.value(QStringLiteral("grid"))));
    }
    const QString name = options.positionals().first();
    const QLatin1String dash("-");
    if (int(name == dash) + int(options.value(QStringLiteral("compare")) == dash) + int(imageProfile == dash) > 1)
        return output.usage(stdinTwiceMessage());

    EngineSession session(io);
    std::unique_ptr<LoadedProfile> loaded = loadProfile(session, name);
    if (!loaded) {
        output.setError(session.takeMessages());
        return output.finish(kExitUnreadable);
    }
    if (gridPoints > 0) {
        const int channels = krmChannelsOfColorSpace(krmGetProfileColorSpace(loaded->profile));
        if (std::pow(double(gridPoints), channels) > kMaxGridNodes)
            return output.usage(QStringLiteral("--grid %1 makes %2 nodes for %3 channels; at most %4")
                                    .arg(gridPoints)
                                    .arg(std::pow(double(gridPoints), channels), 0, 'g', 3)
                                    .arg(channels)
                                    .arg(kMaxGridNodes));
    }
    GamutFigures figures;
    if (!sample_gamut(*loaded, tagOption, tag, intent, gridPoints, figures, error))
        return output.finish(output.fail(QStringLiteral("%1: %2").arg(name, error)));
    const bool json = options.isSet(QStringLiteral("json"));
    output.set(QStringLiteral("gamut"), gamut_value(name, figures));
    if (!json)
        io.out += QStringLiteral("Profile:  %1\n").arg(name).toUtf8() + gamut_text(figures);

    GamutFigures otherFigures;
    if (options.isSet(QStringLiteral("compare"))) {
        const QString otherName = options.value(QStringLiteral("compare"));
        std::unique_ptr<LoadedProfile> other = loadProfile(session, otherName);
        if (!other) {
            output.setError(session.takeMessages());
            return output.finish(kExitUnreadable);
        }
        if (!sample_gamut(*other, QString(), 0, intent, gridPoints, otherFigures, error))
            return output.finish(output.fail(QStringLiteral("%1: %2").arg(otherName, error)));
        const GamutOverlap overlap = gamut_overlap(*figures.gamut, *otherFigures.gamut);
        const double otherInside = overlap.otherInsideProfile.share, profileInside = overlap.profileInsideOther.share;
        const int otherPoints = overlap.otherInsideProfile.points, profilePoints = overlap.profileInsideOther.points;
        CliValue compare = CliValue::object();
        compare.set(QStringLiteral("other"), gamut_value(otherName, otherFigures));
        compare.set(QStringLiteral("other_inside_profile"), share_value(otherInside, otherPoints));
        compare.set(QStringLiteral("profile_inside_other"), share_value(profileInside, profilePoints));
        compare.set(QStringLiteral("points_per_direction"), kOverlapPoints);
        if (!json) {
            QByteArray text = QStringLiteral("\nCompared with: %1\n").arg(otherName).toUtf8() + gamut_text(otherFigures);
            const auto line = [](const QString& what, double share, int inside) {
                const double se = inside > 0 ? 100.0 * std::sqrt(share * (1 - share) / inside) : 0.0;
                return QStringLiteral("%1 %2 % (\u00b1%3, %4 points)\n")
                    .arg(what)
                    .arg(100.0 * share, 0, 'f', 1)
                    .arg(se, 0, 'f', 1)
                    .arg(inside)
                    .toUtf8();
            };
            text += '\n' + line(QStringLiteral("%1 inside %2:").arg(otherName, name), otherInside, otherPoints);
            text += line(QStringLiteral("%1 inside %2:").arg(name, otherName), profileInside, profilePoints);
            io.out += text;
        }
        output.set(QStringLiteral("compare"), std::move(compare));
    }
    if (!imagePath.isEmpty()) {
        CliValue image;
        QByteArray text;
        std::unique_ptr<LoadedProfile> assigned;
        if (!imageProfile.isEmpty()) {
            assigned = loadProfile(session, imageProfile);
            if (!assigned) {
                output.setError(session.takeMessages());
                return output.finish(kExitUnreadable);
            }
        }
        if (!imageGamut(session, loaded->profile, *figures.gamut, imagePath, assigned.get(), image, text, error))
            return output.finish(output.fail(error));
        output.set(QStringLiteral("image"), std::move(image));
        if (!json)
            io.out += text;
    }
    if (options.isSet(QStringLiteral("export"))
        && !export_gamut(exportPath, figures, &otherFigures, error))
        return output.finish(output.fail(error));
    return output.finish(coverage.empty() ? kExitOk : check_coverage(session, output, coverage, figures, intent, name));
}

int runRoundtrip(const QStringList& args, CliIO& io)
{
    CommandOutput output(io, "roundtrip", {"profile", "roundtrips"});
    output.setJson(wantsJson(args));
    CliArgs options({QStringLiteral("json"), QStringLiteral("help")},
                    {QStringLiteral("intent"), QStringLiteral("worst"), QStringLiteral("fail-above")});
    if (!options.parse(args))
        return output.usage(options.errorText());
    if (options.isSet(QStringLiteral("help"))) {
        io.out += kRoundtripHelp;
        return kExitOk;
    }
    if (options.positionals().size() != 1)
        return output.usage(options.positionals().isEmpty()
                                ? QStringLiteral("roundtrip needs a PROFILE")
                                : QStringLiteral("roundtrip takes one PROFILE; '%1' is one too many").arg(options.positionals()[1]));
    bool intentGiven = false;
    krmUInt32Number intent = 0;
    QString error;
    if (!parse_intent_option(options, intentGiven, intent, error))
        return output.usage(error);
    int worstCount = 5;
    if (options.isSet(QStringLiteral("worst"))) {
        bool ok = false;
        worstCount = options.value(QStringLiteral("worst")).toInt(&ok);
        if (!ok || worstCount < 0 || worstCount > 1000)
            return output.usage(QStringLiteral("--worst takes a whole number from 0 to 1000, not '%1'")
                                    .arg(options.value(QStringLiteral("worst"))));
    }
    ErrorThresholds thresholds;
    std::string thresholdError;
    if (options.isSet(QStringLiteral("fail-above"))
        && !parse_thresholds(options.value(QStringLiteral("fail-above")).toStdString(), thresholds, thresholdError))
        return output.usage(QStringLiteral("--fail-above: %1").arg(QString::fromStdString(thresholdError)));

    EngineSession session(io);
    const QString name = options.positionals().first();
    output.set(QStringLiteral("profile"), name);
    std::unique_ptr<LoadedProfile> loaded = loadProfile(session, name);
    if (!loaded) {
        output.setError(session.takeMessages());
        return output.finish(kExitUnreadable);
    }
    const krmProfile profile = loaded->profile;

    // The tags to start from: A2Bn (device roundtrip) and B2An (PCS roundtrip) of every intent
    // with both present; the matrix-shaper when there is none.
    std::vector<krmTagSignature> tags;
    for (krmUInt32Number n = 0; n <= 2; ++n) {
        if (intentGiven && n != intent)
            continue;
        if (krmIsTag(profile, krmSig("A2B0") + n) && krmIsTag(profile, krmSig("B2A0") + n)) {
            tags.push_back(krmSig("A2B0") + n);
            tags.push_back(krmSig("B2A0") + n);
        }
    }
    if (tags.empty() && krmIsMatrixShaper(profile))
        tags.push_back(kMatrixShaperTag);
    if (tags.empty()) {
        // Say what is wrong with a pair whose data is missing or cut before saying it is absent.
        QString problems;
        for (krmUInt32Number n = 0; n <= 2; ++n)
            if (!intentGiven || n == intent) {
                const QString p = tagProblems(loaded->bytes, {krmSig("A2B0") + n, krmSig("B2A0") + n});
                if (!p.isEmpty())
                    problems += (problems.isEmpty() ? QString() : QStringLiteral("; ")) + p;
            }
        const QString absent = intentGiven ? QStringLiteral("no A2B%1 and B2A%1 pair and no matrix-shaper").arg(intent)
                                           : QStringLiteral("no A2B and B2A pair of one intent and no matrix-shaper");
        return output.finish(output.fail(QStringLiteral("%1: %2").arg(name, problems.isEmpty() ? absent : problems + QStringLiteral(", so ") + absent)));
    }

    int status = kExitOk;
    CliValue roundtrips = CliValue::array();
    const bool json = options.isSet(QStringLiteral("json"));
    for (krmTagSignature tag : tags) {
        CliValue r = CliValue::object();
        const bool shaper = tag == kMatrixShaperTag;
        const bool device = shaper || (tag >> 24) == 'A';
        const krmTagSignature partner = shaper ? tag : (device ? tag + krmSig("B2A0") - krmSig("A2B0")
                                                               : tag - krmSig("B2A0") + krmSig("A2B0"));
        const krmUInt32Number tagIntent = shaper ? intent : krmUInt32Number((tag & 0xFF) - '0');
        r.set(QStringLiteral("tag"), tag_name(tag));
        r.set(QStringLiteral("partner"), tag_name(partner));
        r.set(QStringLiteral("mode"), device ? "device" : "pcs");
        r.set(QStringLiteral("intent"), tagIntent);
        const QString title = QStringLiteral("%1 roundtrip from %2, intent %3 (%4)")
                                  .arg(device ? QStringLiteral("Device") : QStringLiteral("PCS"), tag_name(tag))
                                  .arg(tagIntent)
                                  .arg(intentName(tagIntent));
        try {
            const RoundtripAnalysis analysis = compute_roundtrip(profile, tag, tagIntent);
            const RoundtripStatistics stats = roundtrip_statistics(analysis.results, std::size_t(worstCount));
            r.set(QStringLiteral("error"), nullptr);
            r.set(QStringLiteral("samples"), (unsigned long long)stats.count);
            r.set(QStringLiteral("grid_points"), analysis.gridPoints);
            r.set(QStringLiteral("mean"), stats.mean);
            r.set(QStringLiteral("p95"), stats.p95);
            r.set(QStringLiteral("max"), stats.max);
            CliValue worst = CliValue::array();
            QString worstText;
            for (std::size_t i : stats.worst) {
                const RoundtripResult& s = analysis.results[i];
                CliValue w = CliValue::object();
                CliValue src = CliValue::array(), back = CliValue::array();
                for (int k = 0; k < 3; ++k) {
                    src.append(s.source[k]);
                    back.append(s.roundtrip[k]);
                }
                w.set(QStringLiteral("source"), std::move(src));
                w.set(QStringLiteral("roundtrip"), std::move(back));
                w.set(QStringLiteral("de00"), s.de00);
                worst.append(std::move(w));
                const auto lab = [](const double* v) {
                    QString t;
                    for (int k = 0; k < 3; ++k)
                        t += QStringLiteral("%1").arg(fixedNumber(v[k], 2), k ? 8 : 7);
                    return t;
                };
                worstText += QStringLiteral("    %1 -> %2  \u0394E00 %3\n")
                                 .arg(lab(s.source), lab(s.roundtrip), fixedNumber(s.de00, 4));
            }
            r.set(QStringLiteral("worst"), std::move(worst));
            r.set(QStringLiteral("no_hull"), analysis.hullSkipped.empty() ? CliValue() : CliValue(QString::fromStdString(analysis.hullSkipped)));
            if (!thresholds.empty())
                r.set(QStringLiteral("exceeded"), roundtrip_gate(io, thresholds, stats, title, status));
            if (!json) {
                QString text = title + QStringLiteral(": %1 samples\n").arg(stats.count);
                text += QStringLiteral("  \u0394E00 mean %1, 95th percentile %2, max %3\n")
                            .arg(stats.mean, 0, 'f', 4)
                            .arg(stats.p95, 0, 'f', 4)
                            .arg(stats.max, 0, 'f', 4);
                if (!worstText.isEmpty())
                    text += QStringLiteral("  worst (L* a* b* -> L* a* b*):\n") + worstText;
                if (!analysis.hullSkipped.empty() && shaper)
                    text += QStringLiteral("PCS roundtrip skipped: %1\n").arg(QString::fromStdString(analysis.hullSkipped));
                io.out += text.toUtf8();
            }
        } catch (const NoGamutVolume& e) {
            // Not a failure: the device roundtrip of the same intent has the figures.
            const QString reason = QString::fromUtf8(e.what());
            r.set(QStringLiteral("error"), nullptr);
            for (const char* key : {"samples", "grid_points", "mean", "p95", "max", "worst"})
                r.set(QLatin1String(key), nullptr);
            r.set(QStringLiteral("no_hull"), reason);
            if (!json)
                io.out += QStringLiteral("%1: skipped: %2\n").arg(title, reason).toUtf8();
        } catch (const std::exception& e) {
            const QString message = QString::fromUtf8(e.what());
            io.error(QStringLiteral("%1: %2").arg(title, message));
            output.setError(message);
            r.set(QStringLiteral("error"), message);
            for (const char* key : {"samples", "grid_points", "mean", "p95", "max", "worst", "no_hull"})
                r.set(QLatin1String(key), nullptr);
            status = kExitUnreadable;
        }
        roundtrips.append(std::move(r));
    }
    output.set(QStringLiteral("roundtrips"), std::move(roundtrips));
    return output.finish(status);
}
