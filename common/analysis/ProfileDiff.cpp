// The profile comparison behind prismet-cli diff and the window's comparison dialog.
#include "common/analysis/ProfileDiff.h"
#include "common/analysis/EngineHandles.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <numeric>

namespace {

std::uint32_t be32(const std::vector<std::uint8_t>& bytes, std::size_t offset)
{
    if (offset + 4 > bytes.size())
        return 0;
    return std::uint32_t(bytes[offset]) << 24 | std::uint32_t(bytes[offset + 1]) << 16 |
           std::uint32_t(bytes[offset + 2]) << 8 | std::uint32_t(bytes[offset + 3]);
}

std::string format(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
std::string format(const char* fmt, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

std::string signature_text(std::uint32_t sig)
{
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned char c = (sig >> shift) & 0xFF;
        if (c >= 0x20 && c < 0x7F)
            s += char(c);
        else
            s += format("\\x%02x", c);
    }
    return s;
}

std::string hex_bytes(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t count)
{
    std::string s;
    for (std::size_t i = 0; i < count && offset + i < bytes.size(); ++i)
        s += format("%02x", bytes[offset + i]);
    return s;
}

std::string fixed_text(std::uint32_t raw)
{
    return format("%.6f", double(std::int32_t(raw)) / 65536.0);
}

// ICC.1:2010 7.2, the profile header: each field's name and how its bytes are shown.
struct HeaderField {
    const char* name;
    std::size_t offset;
    std::size_t length;
    std::function<std::string(const std::vector<std::uint8_t>&)> show;
};

const std::vector<HeaderField>& header_fields()
{
    static const std::vector<HeaderField> fields = [] {
        const auto sig = [](std::size_t at) {
            return [at](const std::vector<std::uint8_t>& b) { return "'" + signature_text(be32(b, at)) + "'"; };
        };
        const auto hex = [](std::size_t at, std::size_t n) {
            return [at, n](const std::vector<std::uint8_t>& b) { return "0x" + hex_bytes(b, at, n); };
        };
        return std::vector<HeaderField>{
            {"size", 0, 4, [](const std::vector<std::uint8_t>& b) { return std::to_string(be32(b, 0)); }},
            {"cmm", 4, 4, sig(4)},
            {"version", 8, 4,
             [](const std::vector<std::uint8_t>& b) {
                 return format("%u.%u.%u", b[8], unsigned(b[9] >> 4), unsigned(b[9] & 15));
             }},
            {"class", 12, 4, sig(12)},
            {"colorspace", 16, 4, sig(16)},
            {"pcs", 20, 4, sig(20)},
            {"date", 24, 12,
             [](const std::vector<std::uint8_t>& b) {
                 const auto w = [&](int i) { return unsigned(b[24 + 2 * i]) << 8 | b[25 + 2 * i]; };
                 return format("%04u-%02u-%02uT%02u:%02u:%02u", w(0), w(1), w(2), w(3), w(4), w(5));
             }},
            {"magic", 36, 4, sig(36)},
            {"platform", 40, 4, sig(40)},
            {"flags", 44, 4, hex(44, 4)},
            {"manufacturer", 48, 4, sig(48)},
            {"model", 52, 4, hex(52, 4)},
            {"attributes", 56, 8, hex(56, 8)},
            {"intent", 64, 4, [](const std::vector<std::uint8_t>& b) { return std::to_string(be32(b, 64)); }},
            {"illuminant", 68, 12,
             [](const std::vector<std::uint8_t>& b) {
                 return fixed_text(be32(b, 68)) + " " + fixed_text(be32(b, 72)) + " " + fixed_text(be32(b, 76));
             }},
            {"creator", 80, 4, sig(80)},
            {"id", 84, 16, hex(84, 16)},
        };
    }();
    return fields;
}

// ICC.1:2010 7.3, the tag table as stored; entries whose data lies outside the file keep empty bytes.
struct StoredTag {
    std::uint32_t sig = 0, offset = 0, size = 0;
    bool valid = false;
};

std::vector<StoredTag> stored_tags(const std::vector<std::uint8_t>& bytes)
{
    std::vector<StoredTag> tags;
    const std::uint32_t count = be32(bytes, 128);
    for (std::uint32_t i = 0; i < count && 132 + 12 * std::size_t(i) + 12 <= bytes.size(); ++i) {
        StoredTag t;
        const std::size_t at = 132 + 12 * std::size_t(i);
        t.sig = be32(bytes, at);
        t.offset = be32(bytes, at + 4);
        t.size = be32(bytes, at + 8);
        t.valid = std::uint64_t(t.offset) + t.size <= bytes.size();
        // A repeated signature: the first entry counts, as the engine reads it.
        if (std::none_of(tags.begin(), tags.end(), [&](const StoredTag& o) { return o.sig == t.sig; }))
            tags.push_back(t);
    }
    return tags;
}

bool same_bytes(const std::vector<std::uint8_t>& a, const StoredTag& ta, const std::vector<std::uint8_t>& b,
                const StoredTag& tb)
{
    return ta.valid && tb.valid && ta.size == tb.size &&
           std::equal(a.begin() + ta.offset, a.begin() + ta.offset + ta.size, b.begin() + tb.offset);
}

std::string mlu_text(const krmMLU* mlu)
{
    if (!mlu)
        return {};
    const krmUInt32Number needed = krmMLUGetUTF8(mlu, "en", "US", nullptr, 0);
    if (needed == 0)
        return {};
    std::string text(needed, '\0');
    krmMLUGetUTF8(mlu, "en", "US", text.data(), needed);
    text.resize(std::strlen(text.c_str()));
    return text;
}

std::string quoted(const std::string& s)
{
    constexpr std::size_t kLongest = 60;
    return "\"" + (s.size() > kLongest ? s.substr(0, kLongest) + "..." : s) + "\"";
}

// One line on a pipeline's structure: channels, then each stage (CLUT stages with their grid).
std::string pipeline_structure(const krmPipeline* p)
{
    std::string s = format("%u->%u:", krmPipelineInputChannels(p), krmPipelineOutputChannels(p));
    for (const krmStage* st = krmPipelineFirstStage(p); st; st = krmStageNext(st)) {
        const krmStageSignature type = krmStageType(st);
        if (type == krmSigCurveSetElemType)
            s += " curves";
        else if (type == krmSigMatrixElemType)
            s += format(" matrix %ux%u", krmStageOutputChannels(st), krmStageInputChannels(st));
        else if (type == krmSigCLutElemType) {
            const auto* clut = static_cast<const krmStageCLutData*>(krmStageData(st));
            s += " clut ";
            for (krmUInt32Number i = 0; clut && clut->Params && i < clut->Params->nInputs; ++i)
                s += (i ? "x" : "") + std::to_string(clut->Params->nSamples[i]);
        } else
            s += " '" + signature_text(type) + "'";
    }
    return s;
}

// Largest output difference of two pipelines of one shape over a grid of their inputs (0..1).
double pipeline_difference(const krmPipeline* a, const krmPipeline* b)
{
    const int inputs = int(krmPipelineInputChannels(a));
    const int outputs = int(krmPipelineOutputChannels(a));
    const int points = inputs <= 3 ? 17 : (inputs == 4 ? 9 : 5);
    const std::vector<std::uint16_t> grid = device_grid(inputs, points);
    double worst = 0;
    float in[16], outA[16], outB[16];
    for (std::size_t n = 0; n + std::size_t(inputs) <= grid.size(); n += std::size_t(inputs)) {
        for (int c = 0; c < inputs; ++c)
            in[c] = float(grid[n + std::size_t(c)]) / 65535.0f;
        krmPipelineEvalFloat(in, outA, a);
        krmPipelineEvalFloat(in, outB, b);
        for (int c = 0; c < outputs; ++c)
            worst = std::max(worst, double(std::fabs(outA[c] - outB[c])));
    }
    return worst;
}

bool is_text_type(krmTagTypeSignature t)
{
    return t == krmSig("desc") || t == krmSig("mluc") || t == krmSig("text");
}
bool is_curve_type(krmTagTypeSignature t)
{
    return t == krmSig("curv") || t == krmSig("para");
}
bool is_lut_type(krmTagTypeSignature t)
{
    return t == krmSig("mft1") || t == krmSig("mft2") || t == krmSig("mAB ") || t == krmSig("mBA ") ||
           t == krmSig("mpet");
}

void describe_difference(TagDifference& d, krmProfile pa, krmProfile pb)
{
    const auto& ta = d.typeA;
    const auto& tb = d.typeB;
    const void* a = krmReadTag(pa, d.tag);
    const void* b = krmReadTag(pb, d.tag);
    const auto fallback = [&] {
        d.kind = "data";
        d.summary = ta == tb ? format("contents differ (%u and %u bytes)", d.sizeA, d.sizeB)
                             : format("types differ ('%s' and '%s')", signature_text(ta).c_str(),
                                      signature_text(tb).c_str());
    };
    if (!a || !b) {
        fallback();
        if (!a || !b)
            d.summary += !a && !b ? "; neither decodes" : (!a ? "; A's does not decode" : "; B's does not decode");
        return;
    }
    if (is_text_type(ta) && is_text_type(tb)) {
        d.kind = "text";
        d.summary = quoted(mlu_text(static_cast<const krmMLU*>(a))) + " -> " +
                    quoted(mlu_text(static_cast<const krmMLU*>(b)));
    } else if (ta == krmSig("XYZ ") && tb == ta) {
        d.kind = "XYZ";
        const auto* x = static_cast<const krmCIEXYZ*>(a);
        const auto* y = static_cast<const krmCIEXYZ*>(b);
        d.maxDifference = std::max({std::fabs(x->X - y->X), std::fabs(x->Y - y->Y), std::fabs(x->Z - y->Z)});
        d.summary = format("%.6f %.6f %.6f -> %.6f %.6f %.6f, max difference %.6f", x->X, x->Y, x->Z, y->X, y->Y,
                           y->Z, d.maxDifference);
    } else if (is_curve_type(ta) && is_curve_type(tb)) {
        d.kind = "curve";
        const auto* x = static_cast<const krmToneCurve*>(a);
        const auto* y = static_cast<const krmToneCurve*>(b);
        constexpr int kSteps = 4096;
        double worst = 0, where = 0;
        for (int i = 0; i <= kSteps; ++i) {
            const float v = float(i) / kSteps;
            const double diff = std::fabs(double(krmEvalToneCurveFloat(x, v)) - krmEvalToneCurveFloat(y, v));
            if (diff > worst) {
                worst = diff;
                where = v;
            }
        }
        d.maxDifference = worst;
        d.summary = format("max difference %.6f at input %.4f (of 0..1)", worst, where);
    } else if (ta == krmSig("sf32") && tb == ta && d.sizeA == d.sizeB && d.sizeA >= 8) {
        d.kind = "matrix";
        const auto* x = static_cast<const double*>(a);
        const auto* y = static_cast<const double*>(b);
        const std::size_t n = (d.sizeA - 8) / 4;
        double worst = 0;
        for (std::size_t i = 0; i < n; ++i)
            worst = std::max(worst, std::fabs(x[i] - y[i]));
        d.maxDifference = worst;
        d.summary = format("%zu values, max difference %.6f", n, worst);
    } else if (is_lut_type(ta) && is_lut_type(tb)) {
        d.kind = "LUT";
        const auto* x = static_cast<const krmPipeline*>(a);
        const auto* y = static_cast<const krmPipeline*>(b);
        const std::string sa = pipeline_structure(x), sb = pipeline_structure(y);
        d.summary = sa == sb ? "same structure (" + sa + ")" : sa + " -> " + sb;
        if (krmPipelineInputChannels(x) == krmPipelineInputChannels(y) &&
            krmPipelineOutputChannels(x) == krmPipelineOutputChannels(y)) {
            d.maxDifference = pipeline_difference(x, y);
            d.summary += format(", max output difference %.6f", d.maxDifference);
        }
        if (ta != tb)
            d.summary += " ('" + signature_text(ta) + "' -> '" + signature_text(tb) + "')";
    } else {
        fallback();
    }
}

// The tag a CMM takes for an intent's device-to-PCS direction; 0 when the profile has none.
krmTagSignature device_tag(krmProfile p, krmUInt32Number intent)
{
    for (krmTagSignature base : {krmTagSignature(krmSig("D2B0")), krmTagSignature(krmSig("A2B0"))})
        if (krmIsTag(p, base + intent))
            return base + intent;
    const bool anyLut = krmIsTag(p, krmSig("A2B0")) || krmIsTag(p, krmSig("A2B1")) || krmIsTag(p, krmSig("A2B2"));
    if (!anyLut && krmIsMatrixShaper(p))
        return kMatrixShaperTag;
    return 0;
}

void compare_colours(ProfileDiff& diff, krmProfile pa, krmProfile pb, std::size_t worstCount)
{
    if (diff.deviceSpaceA != diff.deviceSpaceB) {
        diff.colourNote = "the device spaces differ ('" + signature_text(diff.deviceSpaceA) + "' and '" +
                          signature_text(diff.deviceSpaceB) + "')";
        return;
    }
    bool shaperDone = false;
    for (krmUInt32Number intent = 0; intent <= 2; ++intent) {
        const krmTagSignature ta = device_tag(pa, intent), tb = device_tag(pb, intent);
        if (!ta || !tb)
            continue;
        // A matrix-shaper serves every intent alike: one comparison is enough.
        if (ta == kMatrixShaperTag && tb == kMatrixShaperTag) {
            if (shaperDone)
                continue;
            shaperDone = true;
        }
        const auto xa = GamutTransform::build(pa, ta);
        const auto xb = GamutTransform::build(pb, tb);
        if (!xa || !xb)
            continue;
        ColourComparison c;
        c.intent = ta == kMatrixShaperTag ? (tb == kMatrixShaperTag ? xa->intent() : xb->intent()) : intent;
        c.tagA = ta;
        c.tagB = tb;
        const int channels = xa->channels();
        c.gridPoints = device_grid_points(channels);
        const std::vector<std::uint16_t> words = device_grid(channels, c.gridPoints);
        const std::size_t n = words.size() / std::size_t(channels);
        std::vector<double> labA(n * 3), labB(n * 3);
        xa->convert(words.data(), labA.data(), n);
        xb->convert(words.data(), labB.data(), n);
        std::vector<RoundtripResult> results;
        std::vector<std::size_t> node;
        for (std::size_t i = 0; i < n; ++i) {
            RoundtripResult r;
            bool finite = true;
            for (int k = 0; k < 3; ++k) {
                r.source[k] = labA[i * 3 + std::size_t(k)];
                r.roundtrip[k] = labB[i * 3 + std::size_t(k)];
                finite = finite && std::isfinite(r.source[k]) && std::isfinite(r.roundtrip[k]);
            }
            if (!finite)
                continue;
            const krmCIELab la{r.source[0], r.source[1], r.source[2]};
            const krmCIELab lb{r.roundtrip[0], r.roundtrip[1], r.roundtrip[2]};
            r.de00 = krmCIEDE2000(&la, &lb, 1, 1, 1);
            results.push_back(r);
            node.push_back(i);
        }
        const RoundtripStatistics stats = roundtrip_statistics(results, worstCount);
        c.samples = stats.count;
        c.mean = stats.mean;
        c.p95 = stats.p95;
        c.max = stats.max;
        // Samples that agree exactly are no "worst".
        for (std::size_t w : stats.worst) {
            if (results[w].de00 <= 0)
                break;
            ColourSample s;
            for (int k = 0; k < channels; ++k)
                s.device.push_back(words[node[w] * std::size_t(channels) + std::size_t(k)] / 65535.0);
            std::copy(results[w].source, results[w].source + 3, s.labA);
            std::copy(results[w].roundtrip, results[w].roundtrip + 3, s.labB);
            s.de00 = results[w].de00;
            c.worst.push_back(std::move(s));
        }
        diff.colour.push_back(std::move(c));
    }
    if (diff.colour.empty())
        diff.colourNote = "no intent has a device-to-PCS transform in both profiles";
}

ProfilePtr open_profile(krmContext context, const std::vector<std::uint8_t>& bytes, const char* which)
{
    if (bytes.size() < 132)
        throw Exception("profile %s is too short to be a profile (%zu bytes)", which, bytes.size());
    ProfilePtr p(krmOpenProfileFromMemInContext(context, bytes.data(), krmUInt32Number(bytes.size())));
    if (!p)
        throw Exception("profile %s cannot be read", which);
    return p;
}

} // namespace

const std::vector<std::string>& header_field_names()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (const HeaderField& f : header_fields())
            n.emplace_back(f.name);
        return n;
    }();
    return names;
}

std::string tag_signature_text(krmTagSignature tag)
{
    return tag == kMatrixShaperTag ? "matrix-shaper" : signature_text(tag);
}

ProfileDiff diff_profiles(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b,
                          const std::set<std::string>& ignore, std::size_t worstCount)
{
    for (const std::string& name : ignore)
        if (std::find(header_field_names().begin(), header_field_names().end(), name) == header_field_names().end())
            throw Exception("unknown header field '%s'", name.c_str());
    ContextPtr context(krmCreateContext(nullptr, nullptr));
    if (!context)
        throw Exception("cannot create an engine context");
    krmSetLogErrorHandlerInContext(context.get(), nullptr);
    const ProfilePtr pa = open_profile(context.get(), a, "A");
    const ProfilePtr pb = open_profile(context.get(), b, "B");

    ProfileDiff diff;
    for (const HeaderField& f : header_fields()) {
        if (ignore.count(f.name)) {
            diff.ignoredHeader.emplace_back(f.name);
            continue;
        }
        if (!std::equal(a.begin() + long(f.offset), a.begin() + long(f.offset + f.length), b.begin() + long(f.offset)))
            diff.header.push_back({f.name, f.show(a), f.show(b)});
    }

    const std::vector<StoredTag> tagsA = stored_tags(a), tagsB = stored_tags(b);
    for (const StoredTag& ta : tagsA) {
        const auto tb = std::find_if(tagsB.begin(), tagsB.end(), [&](const StoredTag& t) { return t.sig == ta.sig; });
        if (tb == tagsB.end()) {
            diff.onlyA.push_back(ta.sig);
            continue;
        }
        if (same_bytes(a, ta, b, *tb)) {
            diff.identicalTags.push_back(ta.sig);
            continue;
        }
        TagDifference d;
        d.tag = ta.sig;
        d.typeA = ta.valid && ta.size >= 4 ? be32(a, ta.offset) : 0;
        d.typeB = tb->valid && tb->size >= 4 ? be32(b, tb->offset) : 0;
        d.sizeA = ta.size;
        d.sizeB = tb->size;
        describe_difference(d, pa.get(), pb.get());
        diff.differing.push_back(std::move(d));
    }
    for (const StoredTag& tb : tagsB)
        if (std::none_of(tagsA.begin(), tagsA.end(), [&](const StoredTag& t) { return t.sig == tb.sig; }))
            diff.onlyB.push_back(tb.sig);

    diff.deviceSpaceA = krmGetProfileColorSpace(pa.get());
    diff.deviceSpaceB = krmGetProfileColorSpace(pb.get());
    compare_colours(diff, pa.get(), pb.get(), worstCount);
    return diff;
}

std::string diff_report_text(const ProfileDiff& diff, const std::string& nameA, const std::string& nameB)
{
    std::string s = "A: " + nameA + "\nB: " + nameB + "\n";
    s += diff.identical() ? "Identical in content.\n" : "The profiles differ.\n";
    const auto sigList = [](const std::vector<krmTagSignature>& tags) {
        std::string list;
        for (krmTagSignature t : tags)
            list += (list.empty() ? "" : ", ") + signature_text(t);
        return list.empty() ? std::string("none") : list;
    };
    s += "\nHeader fields that differ:";
    if (diff.header.empty())
        s += " none";
    s += "\n";
    for (const HeaderFieldDifference& h : diff.header)
        s += format("  %-13s %s -> %s\n", h.field.c_str(), h.a.c_str(), h.b.c_str());
    if (!diff.ignoredHeader.empty()) {
        std::string ignored;
        for (const std::string& f : diff.ignoredHeader)
            ignored += (ignored.empty() ? "" : ", ") + f;
        s += "  (ignored: " + ignored + ")\n";
    }
    s += "\nTags only in A: " + sigList(diff.onlyA) + "\n";
    s += "Tags only in B: " + sigList(diff.onlyB) + "\n";
    s += "Identical tags: " + sigList(diff.identicalTags) + "\n";
    s += "\nTags that differ:";
    if (diff.differing.empty())
        s += " none";
    s += "\n";
    for (const TagDifference& d : diff.differing)
        s += format("  %-6s %-6s %s\n", signature_text(d.tag).c_str(), d.kind.c_str(), d.summary.c_str());
    s += "\nColour difference over a device grid (CIEDE2000):";
    if (diff.colour.empty())
        s += " none, " + diff.colourNote + "\n";
    else
        s += "\n";
    for (const ColourComparison& c : diff.colour) {
        s += format("  intent %u (%s -> %s): %zu samples (%d per channel)\n", c.intent,
                    tag_signature_text(c.tagA).c_str(), tag_signature_text(c.tagB).c_str(), c.samples, c.gridPoints);
        s += format("    mean %.4f, 95th percentile %.4f, max %.4f\n", c.mean, c.p95, c.max);
        for (const ColourSample& w : c.worst) {
            std::string device;
            for (double v : w.device)
                device += format("%s%.3f", device.empty() ? "" : " ", v);
            s += format("    device %s: %.2f %.2f %.2f -> %.2f %.2f %.2f  dE00 %.4f\n", device.c_str(), w.labA[0],
                        w.labA[1], w.labA[2], w.labB[0], w.labB[1], w.labB[2], w.de00);
        }
    }
    return s;
}
