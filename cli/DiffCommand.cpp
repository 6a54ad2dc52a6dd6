// prismet-cli diff: what differs between two profiles, computed by the same code as the window's
// comparison dialog (analysis/ProfileDiff).
#include "common/analysis/ProfileDiff.h"
#include "cli/Commands.h"

namespace {

const char kDiffHelp[] =
    "Usage: prismet-cli diff [--ignore-header FIELD]... [--json] A B\n"
    "\n"
    "What differs between two profiles: the header fields that differ, the tags only in A or\n"
    "only in B, the tags with identical bytes and, for each differing tag, its decoded\n"
    "difference (text, XYZ values, the largest difference of curves, matrices and LUT outputs,\n"
    "the LUTs' stages and grid sizes). When both have the same device space, the device grid of\n"
    "the gamut view goes through both for every intent present in both, and the CIEDE2000\n"
    "differences are summarised as mean, 95th percentile (nearest rank) and maximum, with the\n"
    "worst device values.\n"
    "\n"
    "Options:\n"
    "  --ignore-header FIELD  leaves a header field out (repeatable, or comma-separated): size,\n"
    "                         cmm, version, class, colorspace, pcs, date, magic, platform, flags,\n"
    "                         manufacturer, model, attributes, intent, illuminant, creator, id\n"
    "  --json                 one JSON document (layout in cli/README.md)\n"
    "  --help                 this text\n"
    "\n"
    "Exit status: 0 identical in content, 3 they differ, 1 a profile cannot be read, 2 bad usage.\n"
    "\n"
    "Example:\n"
    "  prismet-cli diff --ignore-header date,id old/printer.icc new/printer.icc\n";

CliValue signature_list(const std::vector<krmTagSignature>& tags)
{
    CliValue v = CliValue::array();
    for (krmTagSignature t : tags)
        v.append(signatureString(t));
    return v;
}

CliValue diff_value(const ProfileDiff& diff)
{
    CliValue doc = CliValue::object();
    doc.set(QStringLiteral("identical"), diff.identical());
    CliValue header = CliValue::array();
    for (const HeaderFieldDifference& h : diff.header) {
        CliValue f = CliValue::object();
        f.set(QStringLiteral("field"), QString::fromStdString(h.field));
        f.set(QStringLiteral("a"), QString::fromStdString(h.a));
        f.set(QStringLiteral("b"), QString::fromStdString(h.b));
        header.append(std::move(f));
    }
    doc.set(QStringLiteral("header"), std::move(header));
    CliValue ignored = CliValue::array();
    for (const std::string& f : diff.ignoredHeader)
        ignored.append(QString::fromStdString(f));
    doc.set(QStringLiteral("ignored_header"), std::move(ignored));
    doc.set(QStringLiteral("only_in_a"), signature_list(diff.onlyA));
    doc.set(QStringLiteral("only_in_b"), signature_list(diff.onlyB));
    doc.set(QStringLiteral("identical_tags"), signature_list(diff.identicalTags));
    CliValue tags = CliValue::array();
    for (const TagDifference& d : diff.differing) {
        CliValue t = CliValue::object();
        t.set(QStringLiteral("tag"), signatureString(d.tag));
        t.set(QStringLiteral("type_a"), signatureString(d.typeA));
        t.set(QStringLiteral("type_b"), signatureString(d.typeB));
        t.set(QStringLiteral("size_a"), d.sizeA);
        t.set(QStringLiteral("size_b"), d.sizeB);
        t.set(QStringLiteral("kind"), QString::fromStdString(d.kind));
        t.set(QStringLiteral("summary"), QString::fromStdString(d.summary));
        t.set(QStringLiteral("max_difference"), d.maxDifference >= 0 ? CliValue(d.maxDifference) : CliValue());
        tags.append(std::move(t));
    }
    doc.set(QStringLiteral("differing_tags"), std::move(tags));
    CliValue colour = CliValue::array();
    for (const ColourComparison& c : diff.colour) {
        CliValue v = CliValue::object();
        v.set(QStringLiteral("intent"), c.intent);
        v.set(QStringLiteral("tag_a"), QString::fromStdString(tag_signature_text(c.tagA)));
        v.set(QStringLiteral("tag_b"), QString::fromStdString(tag_signature_text(c.tagB)));
        v.set(QStringLiteral("samples"), (unsigned long long)c.samples);
        v.set(QStringLiteral("grid_points"), c.gridPoints);
        v.set(QStringLiteral("mean"), c.mean);
        v.set(QStringLiteral("p95"), c.p95);
        v.set(QStringLiteral("max"), c.max);
        CliValue worst = CliValue::array();
        for (const ColourSample& s : c.worst) {
            CliValue w = CliValue::object();
            CliValue device = CliValue::array();
            for (double d : s.device)
                device.append(d);
            w.set(QStringLiteral("device"), std::move(device));
            w.set(QStringLiteral("lab_a"), CliValue::numbers(s.labA, 3));
            w.set(QStringLiteral("lab_b"), CliValue::numbers(s.labB, 3));
            w.set(QStringLiteral("de00"), s.de00);
            worst.append(std::move(w));
        }
        v.set(QStringLiteral("worst"), std::move(worst));
        colour.append(std::move(v));
    }
    doc.set(QStringLiteral("colour"), std::move(colour));
    doc.set(QStringLiteral("colour_note"),
            diff.colourNote.empty() ? CliValue() : CliValue(QString::fromStdString(diff.colourNote)));
    return doc;
}

std::vector<std::uint8_t> to_vector(const QByteArray& bytes)
{
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

} // namespace

int runDiff(const QStringList& args, CliIO& io)
{
    CommandOutput output(io, "diff", {"a", "b", "diff"});
    output.setJson(wantsJson(args));
    CliArgs options({QStringLiteral("json"), QStringLiteral("help")}, {QStringLiteral("ignore-header")});
    if (!options.parse(args))
        return output.usage(options.errorText());
    if (options.isSet(QStringLiteral("help"))) {
        io.out += kDiffHelp;
        return kExitOk;
    }
    if (options.positionals().size() != 2)
        return output.usage(options.positionals().size() < 2
                                ? QStringLiteral("diff needs two profiles, A and B")
                                : QStringLiteral("diff takes two profiles; '%1' is one too many").arg(options.positionals()[2]));
    std::set<std::string> ignore;
    for (const QString& value : options.values(QStringLiteral("ignore-header")))
        for (const QString& field : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const std::string name = field.trimmed().toLower().toStdString();
            const auto& names = header_field_names();
            if (std::find(names.begin(), names.end(), name) == names.end())
                return output.usage(QStringLiteral("--ignore-header: unknown header field '%1'").arg(field));
            ignore.insert(name);
        }

    EngineSession session(io);
    const QString nameA = options.positionals()[0], nameB = options.positionals()[1];
    output.set(QStringLiteral("a"), nameA);
    output.set(QStringLiteral("b"), nameB);
    std::unique_ptr<LoadedProfile> a = loadProfile(session, nameA);
    std::unique_ptr<LoadedProfile> b = a ? loadProfile(session, nameB) : nullptr;
    if (!a || !b) {
        output.setError(session.takeMessages());
        return output.finish(kExitUnreadable);
    }
    ProfileDiff diff;
    try {
        diff = diff_profiles(to_vector(a->bytes), to_vector(b->bytes), ignore);
    } catch (const std::exception& e) {
        return output.finish(output.fail(QString::fromUtf8(e.what())));
    }
    output.set(QStringLiteral("diff"), diff_value(diff));
    if (!output.json())
        io.out += QByteArray::fromStdString(diff_report_text(diff, nameA.toStdString(), nameB.toStdString()));
    return output.finish(diff.identical() ? kExitOk : kExitFindings);
}
