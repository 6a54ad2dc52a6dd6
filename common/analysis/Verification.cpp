// Measurement files, the profile's predictions of them and the error statistics.
#include "common/analysis/Verification.h"
#include "common/analysis/EngineHandles.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <type_traits>

namespace {

struct IT8Deleter {
    void operator()(krmIT8* it8) const { krmIT8Free(it8); }
};
using IT8Ptr = std::unique_ptr<krmIT8, IT8Deleter>;

// The reader's last complaint, kept in the context's user data.
void keep_message(krmContext context, krmUInt32Number, const char* text)
{
    if (auto* message = static_cast<std::string*>(krmGetContextUserData(context)))
        *message = text ? text : "";
}

std::string upper(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string lower(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string join(const std::vector<std::string>& items, const char* separator = ", ")
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : separator) + item;
    return text;
}

bool starts_with(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// Device fields of any space, to name what a mismatched file holds instead.
bool is_device_field(const std::string& field)
{
    if (starts_with(field, "RGB_") || starts_with(field, "CMYK_") || field == "GRAY" || starts_with(field, "GRAY_"))
        return true;
    const std::size_t clr = field.find("CLR_");
    return clr != std::string::npos && clr > 0 && std::all_of(field.begin(), field.begin() + long(clr), ::isdigit);
}

int field_index(const std::vector<std::string>& fields, const std::string& name)
{
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (fields[i] == name)
            return int(i);
    return -1;
}

struct DeviceLayout {
    std::string space;
    std::vector<std::string> fields;
};

DeviceLayout layout_for(krmColorSpaceSignature space, const std::vector<std::string>& fields)
{
    const int channels = krmChannelsOfColorSpace(space);
    if (space == krmSig("RGB "))
        return {"RGB", {"RGB_R", "RGB_G", "RGB_B"}};
    if (space == krmSig("CMYK"))
        return {"CMYK", {"CMYK_C", "CMYK_M", "CMYK_Y", "CMYK_K"}};
    if (space == krmSig("CMY "))
        return {"CMY", {"CMYK_C", "CMYK_M", "CMYK_Y"}};
    if (space == krmSig("GRAY")) {
        for (const std::string& f : fields)
            if (f == "GRAY")
                return {"GRAY", {f}};
        std::vector<std::string> named;
        for (const std::string& f : fields)
            if (starts_with(f, "GRAY_"))
                named.push_back(f);
        return {"GRAY", named.size() == 1 ? named : std::vector<std::string>{"GRAY"}};
    }
    if ((space & 0x00FFFFFFu) == (krmSig("2CLR") & 0x00FFFFFFu) && channels >= 2) {
        DeviceLayout layout{std::to_string(channels) + "CLR", {}};
        for (int k = 1; k <= channels; ++k)
            layout.fields.push_back(layout.space + "_" + std::to_string(k));
        return layout;
    }
    return {};
}

std::string space_name(krmColorSpaceSignature space)
{
    std::string name;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((space >> shift) & 0xFF);
        if (c != ' ')
            name += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    }
    return name;
}

bool yes_value(const char* value)
{
    const std::string v = upper(value ? value : "");
    return v == "TRUE" || v == "YES" || v == "1" || v == "ON";
}

// Whether the file says its values are relative to the paper, and why.
bool media_relative(krmIT8* it8, const std::string& text, std::string& reason)
{
    for (const char* key : {"MEDIA_RELATIVE", "NORMALIZED_TO_MEDIA_WHITE"}) {
        if (const char* value = krmIT8GetProperty(it8, key)) {
            if (yes_value(value))
                reason = std::string(key) + " " + value;
            return yes_value(value);
        }
    }
    if (const char* source = krmIT8GetProperty(it8, "MEASUREMENT_SOURCE")) {
        if (lower(source).find("relative") != std::string::npos) {
            reason = std::string("MEASUREMENT_SOURCE \"") + source + "\"";
            return true;
        }
    }
    const std::string low = lower(text);
    for (const char* phrase : {"media relative", "media-relative"}) {
        if (low.find(phrase) != std::string::npos) {
            reason = std::string("the file says \"") + phrase + "\"";
            return true;
        }
    }
    return false;
}

double number_at(krmIT8* it8, int row, int column, const std::string& field, const std::string& patch)
{
    const char* text = krmIT8GetDataRowCol(it8, row, column);
    const std::string value = text ? text : "";
    char* end = nullptr;
    const double v = std::strtod(value.c_str(), &end);
    if (value.empty() || end == value.c_str() || *end != '\0' || !std::isfinite(v))
        throw Exception("patch %s: %s is not a number ('%s')", patch.c_str(), field.c_str(), value.c_str());
    return v;
}

krmCIELab lab_of(const double v[3])
{
    krmCIELab lab;
    lab.L = v[0];
    lab.a = v[1];
    lab.b = v[2];
    return lab;
}

double chroma(const double lab[3]) { return std::hypot(lab[1], lab[2]); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Measurements

MeasurementSet read_measurements(const std::string& text, krmColorSpaceSignature space)
{
    std::string message;
    const ContextPtr context(krmCreateContext(nullptr, &message));
    if (!context)
        throw Exception("out of memory");
    krmSetLogErrorHandlerInContext(context.get(), keep_message);
    const IT8Ptr it8(krmIT8LoadFromMem(context.get(), text.data(), krmUInt32Number(text.size())));
    if (!it8)
        throw Exception("not a readable CGATS file%s%s", message.empty() ? "" : ": ", message.c_str());

    // A file may hold several tables (a calibration before the measurements, say): the first that
    // has the profile's device fields, a whole colorimetric triple and rows is read; when none has,
    // the first table, for the reason it cannot be.
    const auto fieldsOf = [&it8] {
        const char** names = nullptr;
        const int count = krmIT8EnumDataFormat(it8.get(), &names);
        std::vector<std::string> fields;
        for (int i = 0; i < count && names; ++i)
            fields.push_back(upper(names[i] ? names[i] : ""));
        return fields;
    };
    const auto usable = [&](const std::vector<std::string>& fields) {
        const DeviceLayout layout = layout_for(space, fields);
        const auto has = [&fields](const char* f) { return field_index(fields, f) >= 0; };
        const bool device = !layout.fields.empty() && std::all_of(layout.fields.begin(), layout.fields.end(),
                                                                  [&](const std::string& f) { return has(f.c_str()); });
        const bool measured = (has("LAB_L") && has("LAB_A") && has("LAB_B")) || (has("XYZ_X") && has("XYZ_Y") && has("XYZ_Z"));
        return device && measured && krmIT8GetPropertyDbl(it8.get(), "NUMBER_OF_SETS") > 0;
    };
    MeasurementSet set;
    set.tables = int(krmIT8TableCount(it8.get()));
    for (int t = 0; t < set.tables && set.table == 0; ++t)
        if (krmIT8SetTable(it8.get(), krmUInt32Number(t)) == t && usable(fieldsOf()))
            set.table = t + 1;
    krmIT8SetTable(it8.get(), krmUInt32Number(std::max(set.table - 1, 0)));
    set.table = std::max(set.table, 1);
    const std::vector<std::string> fields = fieldsOf();
    const int rows = int(krmIT8GetPropertyDbl(it8.get(), "NUMBER_OF_SETS"));
    if (fields.empty() || rows <= 0)
        throw Exception("the file has no data rows");

    // Device fields: those of the profile's space, else name what the file has instead.
    std::vector<std::string> present;
    for (const std::string& f : fields)
        if (is_device_field(f))
            present.push_back(f);
    if (present.empty())
        throw Exception("the file has no device fields (RGB_R…, CMYK_C…, GRAY or nCLR_1…)");
    const DeviceLayout layout = layout_for(space, fields);
    if (layout.fields.empty())
        throw Exception("profiles of colour space '%s' cannot be verified against device fields",
                        space_name(space).c_str());
    std::vector<int> deviceColumns;
    std::vector<std::string> missing;
    for (const std::string& f : layout.fields) {
        deviceColumns.push_back(field_index(fields, f));
        if (deviceColumns.back() < 0)
            missing.push_back(f);
    }
    if (!missing.empty())
        throw Exception("the profile's device space is %s (fields %s) but the file has %s", layout.space.c_str(),
                        join(layout.fields).c_str(), join(present).c_str());
    set.deviceSpace = layout.space;
    set.deviceFields = layout.fields;

    // Colorimetric fields: L*a*b* when complete, else XYZ.
    std::vector<int> measuredColumns;
    bool xyz = false;
    for (const auto& triple : {std::vector<std::string>{"LAB_L", "LAB_A", "LAB_B"},
                               std::vector<std::string>{"XYZ_X", "XYZ_Y", "XYZ_Z"}}) {
        std::vector<int> columns;
        for (const std::string& f : triple)
            if (field_index(fields, f) >= 0)
                columns.push_back(field_index(fields, f));
        if (columns.size() == 3) {
            measuredColumns = columns;
            set.measuredFields = triple;
            xyz = triple[0] == "XYZ_X";
            break;
        }
        if (!columns.empty())
            throw Exception("the file has only some of %s", join(triple).c_str());
    }
    if (measuredColumns.empty()) {
        const bool spectral = std::any_of(fields.begin(), fields.end(),
                                          [](const std::string& f) { return starts_with(f, "SPECTRAL_"); });
        throw Exception("the file has no colorimetric fields (XYZ_X, XYZ_Y, XYZ_Z or LAB_L, LAB_A, LAB_B)%s",
                        spectral ? "; spectral data alone is not converted" : "");
    }

    const int idColumn = field_index(fields, "SAMPLE_ID");
    std::vector<std::vector<double>> measured;
    for (int row = 0; row < rows; ++row) {
        MeasuredPatch patch;
        const char* id = idColumn >= 0 ? krmIT8GetDataRowCol(it8.get(), row, idColumn) : nullptr;
        patch.id = id && *id ? id : std::to_string(row + 1);
        for (std::size_t k = 0; k < deviceColumns.size(); ++k)
            patch.device.push_back(number_at(it8.get(), row, deviceColumns[k], set.deviceFields[k], patch.id));
        std::vector<double> m;
        for (int k = 0; k < 3; ++k)
            m.push_back(number_at(it8.get(), row, measuredColumns[std::size_t(k)], set.measuredFields[std::size_t(k)],
                                  patch.id));
        measured.push_back(m);
        set.patches.push_back(std::move(patch));
    }

    // Device units: percent, or 0..255 for RGB files that go past 100.
    double low = 0, high = 0;
    for (const MeasuredPatch& p : set.patches)
        for (double v : p.device)
            low = std::min(low, v), high = std::max(high, v);
    double deviceScale = 100;
    set.deviceUnits = "percent";
    if (high > 100 && set.deviceSpace == "RGB" && high <= 255) {
        deviceScale = 255;
        set.deviceUnits = "0..255";
    }
    if (low < 0 || high > deviceScale)
        throw Exception("unknown units: %s values run from %g to %g; device values are read as percent (0..100)%s",
                        set.deviceSpace.c_str(), low, high, set.deviceSpace == "RGB" ? " or 0..255" : "");
    for (MeasuredPatch& p : set.patches)
        for (double v : p.device)
            p.unit.push_back(v / deviceScale);

    // Colorimetric units.
    if (xyz) {
        double maxY = 0, minXYZ = 0;
        for (const auto& m : measured)
            maxY = std::max(maxY, m[1]), minXYZ = std::min({minXYZ, m[0], m[1], m[2]});
        const double scale = maxY > 2 ? 100 : 1;
        set.measuredUnits = maxY > 2 ? "XYZ, Y 0..100" : "XYZ, Y 0..1";
        if (minXYZ < -0.5 * scale / 100 || maxY > 200)
            throw Exception("unknown units: XYZ values run from %g to Y %g; expected Y 0..100 (or 0..1)", minXYZ, maxY);
        for (std::size_t i = 0; i < measured.size(); ++i) {
            krmCIEXYZ v{measured[i][0] / scale, measured[i][1] / scale, measured[i][2] / scale};
            krmCIELab lab;
            krmXYZ2Lab(krmD50_XYZ(), &lab, &v);
            set.patches[i].lab[0] = lab.L, set.patches[i].lab[1] = lab.a, set.patches[i].lab[2] = lab.b;
        }
    } else {
        set.measuredUnits = "L*a*b*";
        for (std::size_t i = 0; i < measured.size(); ++i) {
            const auto& m = measured[i];
            if (m[0] < -0.5 || m[0] > 110 || std::fabs(m[1]) > 200 || std::fabs(m[2]) > 200)
                throw Exception("unknown units: patch %s has L*a*b* %g %g %g; expected L* 0..100, a* and b* within "
                                "±200",
                                set.patches[i].id.c_str(), m[0], m[1], m[2]);
            for (int k = 0; k < 3; ++k)
                set.patches[i].lab[k] = m[std::size_t(k)];
        }
    }
    set.mediaRelative = media_relative(it8.get(), text, set.mediaRelativeReason);
    return set;
}

// ---------------------------------------------------------------------------------------------
// Statistics

ErrorStatistics error_statistics(std::vector<double> values)
{
    ErrorStatistics stats;
    stats.count = values.size();
    if (values.empty())
        return stats;
    std::sort(values.begin(), values.end());
    stats.mean = std::accumulate(values.begin(), values.end(), 0.0) / double(values.size());
    stats.max = values.back();
    // Nearest rank: the smallest value with at least 95 % of the samples at or below it.
    const std::size_t rank = std::size_t(std::ceil(0.95 * double(values.size())));
    stats.p95 = values[std::max<std::size_t>(rank, 1) - 1];
    return stats;
}

bool parse_thresholds(const std::string& text, ErrorThresholds& thresholds, std::string& error)
{
    thresholds = {};
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, comma - start);
        const std::size_t equals = item.find('=');
        const std::string key = item.substr(0, equals);
        std::optional<double>* slot = key == "mean" ? &thresholds.mean
                                      : key == "p95" ? &thresholds.p95
                                      : key == "max" ? &thresholds.max
                                                     : nullptr;
        if (equals == std::string::npos || !slot) {
            error = "expected mean=X, p95=Y or max=Z separated by commas, not '" + item + "'";
            return false;
        }
        const std::string number = item.substr(equals + 1);
        char* end = nullptr;
        const double v = std::strtod(number.c_str(), &end);
        if (number.empty() || *end != '\0' || !std::isfinite(v) || v < 0) {
            error = "'" + number + "' is not a ΔE00 value for " + key;
            return false;
        }
        *slot = v;
        start = comma + 1;
    }
    return true;
}

std::vector<std::string> exceeded_thresholds(const ErrorThresholds& thresholds, const ErrorStatistics& stats)
{
    std::vector<std::string> lines;
    const auto check = [&](const char* name, const std::optional<double>& limit, double value) {
        if (limit && value > *limit) {
            char line[128];
            std::snprintf(line, sizeof line, "%s %.4f > %g", name, value, *limit);
            lines.emplace_back(line);
        }
    };
    check("mean", thresholds.mean, stats.mean);
    check("p95", thresholds.p95, stats.p95);
    check("max", thresholds.max, stats.max);
    return lines;
}

// ---------------------------------------------------------------------------------------------
// Verification

VerificationReport verify_profile(krmProfile profile, const MeasurementSet& set, const VerificationOptions& options)
{
    if (!profile)
        throw Exception("no profile");
    const krmColorSpaceSignature space = krmGetProfileColorSpace(profile);
    const DeviceLayout layout = layout_for(space, set.deviceFields);
    if (layout.space != set.deviceSpace || layout.fields.size() != set.deviceFields.size())
        throw Exception("the profile's device space is %s but the measurements are %s", space_name(space).c_str(),
                        set.deviceSpace.c_str());
    if (options.intent > 2)
        throw Exception("the intent must be 0, 1 or 2");

    VerificationReport report;
    report.intent = options.intent;
    report.relative = options.relative || set.mediaRelative;
    report.colorimetryReason = options.relative ? "--relative" : set.mediaRelative ? set.mediaRelativeReason : "default";
    const krmTagSignature wanted = krmSig("A2B0") + options.intent;
    if (krmIsTag(profile, wanted))
        report.tag = "A2B" + std::to_string(options.intent);
    else if (krmIsTag(profile, krmSig("A2B0")))
        report.tag = "A2B0";
    else if (krmIsMatrixShaper(profile))
        report.tag = "matrix-shaper";
    else
        throw Exception("the profile has neither an A2B tag nor a matrix-shaper to predict with");

    // Media-relative XYZ from the table; the ICC's absolute colorimetry scales it by the media white.
    const ContextPtr context(krmCreateContext(nullptr, nullptr));
    if (!context)
        throw Exception("out of memory");
    krmSetLogErrorHandlerInContext(context.get(), nullptr);
    const ProfilePtr xyz(krmCreateXYZProfile(context.get()));
    const krmUInt32Number format = krmFormatterForColorspaceOfProfile(profile, 2, 0);
    const TransformPtr transform(xyz && format ? krmCreateTransformWithContext(context.get(), profile, format, xyz.get(),
                                                                               krmFmtXYZDouble, options.intent,
                                                                               krmFlagNoOptimize)
                                               : nullptr);
    if (!transform)
        throw Exception("the engine cannot build the transform from %s through %s to the PCS", space_name(space).c_str(),
                        report.tag.c_str());
    krmCIEXYZ white = *krmD50_XYZ();
    if (!report.relative)
        krmReadMediaWhitePoint(&white, profile);
    const krmCIEXYZ* d50 = krmD50_XYZ();
    const std::size_t channels = set.deviceFields.size();
    const auto predict = [&](const std::vector<double>& unit, double out[3]) {
        std::vector<std::uint16_t> words(channels);
        for (std::size_t k = 0; k < channels; ++k)
            words[k] = std::uint16_t(std::lround(std::clamp(unit[k], 0.0, 1.0) * 65535.0));
        double v[3] = {0, 0, 0};
        krmDoTransform(transform.get(), words.data(), v, 1);
        krmCIEXYZ scaled{v[0] * white.X / d50->X, v[1] * white.Y / d50->Y, v[2] * white.Z / d50->Z};
        krmCIELab lab;
        krmXYZ2Lab(d50, &lab, &scaled);
        out[0] = lab.L, out[1] = lab.a, out[2] = lab.b;
    };

    double dark[3], light[3];
    predict(std::vector<double>(channels, 0.0), dark);
    predict(std::vector<double>(channels, 1.0), light);
    std::copy(light[0] >= dark[0] ? light : dark, (light[0] >= dark[0] ? light : dark) + 3, report.paper);

    std::vector<double> de00, de76;
    report.patches.resize(set.patches.size());
    for (std::size_t i = 0; i < set.patches.size(); ++i) {
        PatchVerification& r = report.patches[i];
        predict(set.patches[i].unit, r.predicted);
        const krmCIELab m = lab_of(set.patches[i].lab), p = lab_of(r.predicted);
        r.de00 = krmCIEDE2000(&m, &p, 1, 1, 1);
        r.de76 = delta_e76(set.patches[i].lab, r.predicted);
        de00.push_back(r.de00);
        de76.push_back(r.de76);
    }
    report.de00 = error_statistics(de00);
    report.de76 = error_statistics(de76);

    std::vector<std::size_t> order(set.patches.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    // Largest first; equal errors keep file order so the list is the same on every run.
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return report.patches[a].de00 > report.patches[b].de00; });
    order.resize(std::min(order.size(), options.worst));
    report.worst = std::move(order);

    struct Region {
        const char* name;
        const char* definition;
        bool (*in)(const double* lab, const double* paper);
    };
    static const Region kRegions[] = {
        {"neutrals", "C*ab <= 5", [](const double* lab, const double*) { return chroma(lab) <= 5; }},
        {"near-paper", "dE76 <= 10 from the paper",
         [](const double* lab, const double* paper) { return delta_e76(lab, paper) <= 10; }},
        {"dark", "L* <= 25", [](const double* lab, const double*) { return lab[0] <= 25; }},
        {"saturated", "C*ab >= 50", [](const double* lab, const double*) { return chroma(lab) >= 50; }},
    };
    for (const Region& region : kRegions) {
        std::vector<double> values;
        for (std::size_t i = 0; i < set.patches.size(); ++i)
            if (region.in(set.patches[i].lab, report.paper))
                values.push_back(report.patches[i].de00);
        report.regions.push_back({region.name, region.definition, error_statistics(values)});
    }
    return report;
}

std::string verification_text(const MeasurementSet& set, const VerificationReport& report)
{
    std::string text;
    char line[512];
    std::snprintf(line, sizeof line, "Patches:      %zu (%s in %s -> %s as %s)\n", set.patches.size(),
                  join(set.deviceFields, " ").c_str(), set.deviceUnits.c_str(), join(set.measuredFields, " ").c_str(),
                  set.measuredUnits.c_str());
    text += line;
    if (set.tables > 1) {
        std::snprintf(line, sizeof line, "Table:        %d of the file's %d\n", set.table, set.tables);
        text += line;
    }
    std::snprintf(line, sizeof line, "Prediction:   %s, intent %u, %s colorimetric (%s)\n", report.tag.c_str(),
                  report.intent, report.relative ? "media-relative" : "absolute", report.colorimetryReason.c_str());
    text += line;
    const auto stats = [&](const char* name, const ErrorStatistics& s) {
        std::snprintf(line, sizeof line, "%s mean %.4f, 95th percentile %.4f, max %.4f\n", name, s.mean, s.p95, s.max);
        text += line;
    };
    stats("\u0394E00:        ", report.de00);
    stats("\u0394E76:        ", report.de76);
    text += "Regions (\u0394E00):\n";
    for (const RegionSummary& r : report.regions) {
        if (r.de00.count == 0)
            std::snprintf(line, sizeof line, "  %-11s %-26s no patches\n", r.name.c_str(), r.definition.c_str());
        else
            std::snprintf(line, sizeof line, "  %-11s %-26s %4zu patches, mean %.4f, 95th %.4f, max %.4f\n",
                          r.name.c_str(), r.definition.c_str(), r.de00.count, r.de00.mean, r.de00.p95, r.de00.max);
        text += line;
    }
    if (!report.worst.empty())
        text += "Worst patches (device -> measured L*a*b* | predicted L*a*b*):\n";
    for (std::size_t i : report.worst) {
        const MeasuredPatch& p = set.patches[i];
        const PatchVerification& r = report.patches[i];
        std::string device;
        for (double v : p.device) {
            std::snprintf(line, sizeof line, "%s%g", device.empty() ? "" : " ", v);
            device += line;
        }
        std::snprintf(line, sizeof line,
                      "  %-8s %-22s -> %7.2f %7.2f %7.2f | %7.2f %7.2f %7.2f  \u0394E00 %.4f  \u0394E76 %.4f\n",
                      p.id.c_str(), device.c_str(), p.lab[0], p.lab[1], p.lab[2], r.predicted[0], r.predicted[1],
                      r.predicted[2], r.de00, r.de76);
        text += line;
    }
    return text;
}
