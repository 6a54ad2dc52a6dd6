// prismet-cli verify: how well a profile predicts a measurement file (common/analysis/Verification),
// with thresholds for scripts.
#include "common/analysis/Verification.h"
#include "cli/Commands.h"

namespace {

const char kVerifyHelp[] =
    "Usage: prismet-cli verify [--intent N] [--relative] [--worst K] [--fail-above mean=X,p95=Y,max=Z]\n"
    "                          [--json] PROFILE MEASUREMENTS\n"
    "\n"
    "Compares a profile's predictions with measurements. MEASUREMENTS is a CGATS file with\n"
    "device fields (RGB_R RGB_G RGB_B, CMYK_C CMYK_M CMYK_Y CMYK_K, GRAY or GRAY_..., or\n"
    "nCLR_1 ... nCLR_n) and measured XYZ_X XYZ_Y XYZ_Z or LAB_L LAB_A LAB_B, taken as D50.\n"
    "Device values are percent (RGB also 0..255 when a value exceeds 100); XYZ has Y 0..100,\n"
    "or 0..1 when no Y exceeds 2. Of several tables, the first with such fields is read.\n"
    "Every patch's device values go through A2B<intent> (A2B0\n"
    "when missing, else the matrix-shaper) to L*a*b* D50; the CIEDE2000 and CIE76 differences\n"
    "from the measured values are summarised as mean, 95th percentile (nearest rank) and\n"
    "maximum, with the worst patches and a summary per region of the measured colour:\n"
    "neutrals (C*ab <= 5), near-paper (within dE76 10 of the paper, the lighter prediction of\n"
    "device 0 % and 100 %), dark (L* <= 25) and saturated (C*ab >= 50).\n"
    "\n"
    "Predictions are absolute colorimetric (scaled by the media white point) unless the file\n"
    "says it is media-relative (a MEDIA_RELATIVE or NORMALIZED_TO_MEDIA_WHITE property of TRUE,\n"
    "YES or 1, a MEASUREMENT_SOURCE mentioning \"relative\", or the words \"media relative\" or\n"
    "\"media-relative\" anywhere in the text, comments included) or --relative is given.\n"
    "\n"
    "Options:\n"
    "  --intent N      0 perceptual, 1 relative colorimetric (default), 2 saturation\n"
    "  --relative      the measurements are media-relative whatever the file says\n"
    "  --worst K       how many of the worst patches to list (default 10, up to 1000)\n"
    "  --fail-above mean=X,p95=Y,max=Z\n"
    "                  exit 3 when a CIEDE2000 figure exceeds its threshold (any of the three)\n"
    "  --json          one JSON document (layout in cli/README.md)\n"
    "  --help          this text\n"
    "\n"
    "Exit status: 0 the measurements were compared (and every --fail-above figure is met),\n"
    "3 a --fail-above figure is exceeded, 1 the profile or the measurement file cannot be read or\n"
    "do not fit each other, 2 bad usage.\n"
    "\n"
    "Example:\n"
    "  prismet-cli verify --relative --fail-above mean=1,max=4 printer.icc measurements.txt\n";

CliValue statistics_value(const ErrorStatistics& s)
{
    CliValue v = CliValue::object();
    v.set(QStringLiteral("count"), (unsigned long long)s.count);
    v.set(QStringLiteral("mean"), s.mean);
    v.set(QStringLiteral("p95"), s.p95);
    v.set(QStringLiteral("max"), s.max);
    return v;
}

CliValue patch_value(const MeasurementSet& set, const VerificationReport& report, std::size_t i)
{
    const MeasuredPatch& p = set.patches[i];
    CliValue v = CliValue::object();
    v.set(QStringLiteral("id"), QString::fromStdString(p.id));
    CliValue device = CliValue::array();
    for (double d : p.device)
        device.append(d);
    v.set(QStringLiteral("device"), std::move(device));
    v.set(QStringLiteral("measured"), CliValue::numbers(p.lab, 3));
    v.set(QStringLiteral("predicted"), CliValue::numbers(report.patches[i].predicted, 3));
    v.set(QStringLiteral("de00"), report.patches[i].de00);
    v.set(QStringLiteral("de76"), report.patches[i].de76);
    return v;
}

QStringList to_qt(const std::vector<std::string>& items)
{
    QStringList list;
    for (const std::string& s : items)
        list << QString::fromStdString(s);
    return list;
}

} // namespace

int runVerify(const QStringList& args, CliIO& io)
{
    CommandOutput output(io, "verify",
                         {"profile", "measurements", "table", "device_fields", "measured_fields", "tag", "intent",
                          "colorimetry", "colorimetry_reason", "paper", "de00", "de76", "regions", "worst", "patches",
                          "exceeded"});
    output.setJson(wantsJson(args));
    CliArgs options({QStringLiteral("json"), QStringLiteral("help"), QStringLiteral("relative")},
                    {QStringLiteral("intent"), QStringLiteral("worst"), QStringLiteral("fail-above")});
    if (!options.parse(args))
        return output.usage(options.errorText());
    if (options.isSet(QStringLiteral("help"))) {
        io.out += kVerifyHelp;
        return kExitOk;
    }
    if (options.positionals().size() != 2)
        return output.usage(options.positionals().size() < 2
                                ? QStringLiteral("verify needs a PROFILE and a MEASUREMENTS file")
                                : QStringLiteral("verify takes PROFILE MEASUREMENTS; '%1' is one too many")
                                      .arg(options.positionals()[2]));
    VerificationOptions settings;
    if (options.isSet(QStringLiteral("intent"))) {
        const QString text = options.value(QStringLiteral("intent"));
        if (!parseIntent(text, settings.intent) || settings.intent > 2)
            return output.usage(QStringLiteral("--intent takes 0 (perceptual), 1 (relative) or 2 (saturation), not '%1'")
                                    .arg(text));
    }
    settings.relative = options.isSet(QStringLiteral("relative"));
    if (options.isSet(QStringLiteral("worst"))) {
        bool ok = false;
        const int worst = options.value(QStringLiteral("worst")).toInt(&ok);
        if (!ok || worst < 0 || worst > 1000)
            return output.usage(QStringLiteral("--worst takes a whole number from 0 to 1000, not '%1'")
                                    .arg(options.value(QStringLiteral("worst"))));
        settings.worst = std::size_t(worst);
    }
    ErrorThresholds thresholds;
    if (options.isSet(QStringLiteral("fail-above"))) {
        std::string error;
        if (!parse_thresholds(options.value(QStringLiteral("fail-above")).toStdString(), thresholds, error))
            return output.usage(QStringLiteral("--fail-above: %1").arg(QString::fromStdString(error)));
    }

    EngineSession session(io);
    const QString name = options.positionals()[0];
    const QString measurementsPath = options.positionals()[1];
    output.set(QStringLiteral("profile"), name);
    output.set(QStringLiteral("measurements"), measurementsPath);
    std::unique_ptr<LoadedProfile> loaded = loadProfile(session, name);
    if (!loaded) {
        output.setError(session.takeMessages());
        return output.finish(kExitUnreadable);
    }
    QByteArray bytes;
    QString readError;
    if (!readFileBytes(measurementsPath, bytes, QStringLiteral("measurements"), readError))
        return output.finish(output.fail(readError));

    MeasurementSet set;
    VerificationReport report;
    try {
        set = read_measurements(bytes.toStdString(), krmGetProfileColorSpace(loaded->profile));
        report = verify_profile(loaded->profile, set, settings);
    } catch (const std::exception& e) {
        return output.finish(output.fail(QStringLiteral("%1: %2").arg(measurementsPath, QString::fromUtf8(e.what()))));
    }

    output.set(QStringLiteral("table"), set.table);
    output.set(QStringLiteral("device_fields"), to_qt(set.deviceFields).join(' '));
    output.set(QStringLiteral("measured_fields"), to_qt(set.measuredFields).join(' '));
    output.set(QStringLiteral("tag"), QString::fromStdString(report.tag));
    output.set(QStringLiteral("intent"), report.intent);
    output.set(QStringLiteral("colorimetry"), report.relative ? "relative" : "absolute");
    output.set(QStringLiteral("colorimetry_reason"), QString::fromStdString(report.colorimetryReason));
    output.set(QStringLiteral("paper"), CliValue::numbers(report.paper, 3));
    output.set(QStringLiteral("de00"), statistics_value(report.de00));
    output.set(QStringLiteral("de76"), statistics_value(report.de76));
    CliValue regions = CliValue::array();
    for (const RegionSummary& r : report.regions) {
        CliValue v = statistics_value(r.de00);
        v.set(QStringLiteral("name"), QString::fromStdString(r.name));
        v.set(QStringLiteral("definition"), QString::fromStdString(r.definition));
        regions.append(std::move(v));
    }
    output.set(QStringLiteral("regions"), std::move(regions));
    CliValue worst = CliValue::array();
    for (std::size_t i : report.worst)
        worst.append(patch_value(set, report, i));
    output.set(QStringLiteral("worst"), std::move(worst));
    CliValue patches = CliValue::array();
    for (std::size_t i = 0; i < set.patches.size(); ++i)
        patches.append(patch_value(set, report, i));
    output.set(QStringLiteral("patches"), std::move(patches));

    const QStringList exceeded = to_qt(exceeded_thresholds(thresholds, report.de00));
    CliValue exceededValue = CliValue::array();
    for (const QString& line : exceeded)
        exceededValue.append(line);
    output.set(QStringLiteral("exceeded"), std::move(exceededValue));
    if (!output.json()) {
        io.out += QStringLiteral("Profile:      %1\nMeasurements: %2\n").arg(name, measurementsPath).toUtf8();
        io.out += QByteArray::fromStdString(verification_text(set, report));
    }
    for (const QString& line : exceeded)
        io.error(QStringLiteral("\u0394E00 %1").arg(line));
    return output.finish(exceeded.isEmpty() ? kExitOk : kExitFindings);
}
