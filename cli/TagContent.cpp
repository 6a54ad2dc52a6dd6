#include "cli/TagContent.h"

#include "cli/CliSupport.h"
#include "common/analysis/CurveFunctions.h"
#include "common/signatures/Signatures.h"

#include <QDate>
#include <QTime>

#include <cmath>
#include <vector>

namespace {

QString key(const char* k)
{
    return QString::fromLatin1(k);
}

QString codeText(const char code[3])
{
    if (code[0] == 0 && code[1] == 0)
        return QString();
    // The Unicode part of a version 2 'desc' tag carries 0xFFFF codes.
    if (static_cast<unsigned char>(code[0]) == 0xFF && static_cast<unsigned char>(code[1]) == 0xFF)
        return QStringLiteral("unicode");
    return QString::fromLatin1(code, 2);
}

QString wideText(const krmMLU* mlu, const char language[3], const char country[3])
{
    const krmUInt32Number bytes = krmMLUGetWide(mlu, language, country, nullptr, 0);
    if (bytes < 2)
        return QString();
    std::vector<krmWChar> buffer(bytes / 2 + 1, 0);
    krmMLUGetWide(mlu, language, country, buffer.data(), bytes);
    QString text = QString::fromUtf16(buffer.data());
    // ASCII texts (no language) are stored with their bytes sign-extended: 0xE9 becomes 0xFFE9.
    // Give 8-bit bytes back their Latin-1 meaning.
    if (language[0] == 0 && language[1] == 0) {
        for (QChar& c : text)
            if (c.unicode() >= 0xFF80)
                c = QChar(ushort(c.unicode() & 0xFF));
    }
    return text;
}

CliValue xyChromaticity(const krmCIEXYZ& xyz)
{
    CliValue v = xyzValue(xyz.X, xyz.Y, xyz.Z);
    if (xyz.X + xyz.Y + xyz.Z != 0.0) {
        krmCIExyY xyY;
        krmXYZ2xyY(&xyY, &xyz);
        v.set(key("x"), xyY.x);
        v.set(key("y"), xyY.y);
    } else {
        v.set(key("x"), CliValue());
        v.set(key("y"), CliValue());
    }
    return v;
}

CliValue signatureValue(krmUInt32Number sig, const QString& name)
{
    CliValue v = CliValue::object();
    v.set(key("signature"), signatureString(sig));
    v.set(key("name"), name);
    return v;
}

CliValue codeValue(krmUInt32Number code, const QString& name)
{
    CliValue v = CliValue::object();
    v.set(key("code"), code);
    v.set(key("name"), name);
    return v;
}

// PCS words of named colours and colorants: legacy 16-bit L*a*b* or 16-bit XYZ.
CliValue pcsValue(const krmUInt16Number pcs[3], krmColorSpaceSignature pcsSpace)
{
    CliValue v = CliValue::object();
    CliValue raw = CliValue::array();
    for (int i = 0; i < 3; ++i)
        raw.append(unsigned(pcs[i]));
    v.set(key("raw"), std::move(raw));
    if (pcsSpace == krmSig("XYZ ")) {
        krmCIEXYZ xyz;
        krmXYZEncoded2Float(&xyz, pcs);
        v.set(key("XYZ"), xyzValue(xyz.X, xyz.Y, xyz.Z));
    } else {
        krmCIELab lab;
        krmLabEncoded2FloatV2(&lab, pcs);
        const double values[3] = {lab.L, lab.a, lab.b};
        v.set(key("Lab"), numberArray(values, 3));
    }
    return v;
}

CliValue namedColors(const krmNamedColorList* list, krmColorSpaceSignature pcsSpace, bool withDevice)
{
    CliValue v = CliValue::object();
    const krmUInt32Number count = krmNamedColorCount(list);
    const krmUInt32Number colorants = krmNamedColorColorantCount(list);
    char prefix[33] = {}, suffix[33] = {};
    if (count > 0)
        krmNamedColorInfo(list, 0, nullptr, prefix, suffix, nullptr, nullptr);
    if (withDevice) {
        v.set(key("prefix"), QString::fromLatin1(prefix));
        v.set(key("suffix"), QString::fromLatin1(suffix));
        v.set(key("deviceChannels"), colorants);
    }
    v.set(key("count"), count);
    CliValue colors = CliValue::array();
    for (krmUInt32Number i = 0; i < count; ++i) {
        char name[krmMAX_NAMED_COLOR_NAME] = {};
        krmUInt16Number pcs[3] = {0, 0, 0};
        krmUInt16Number device[krmMAXCHANNELS] = {};
        if (!krmNamedColorInfo(list, i, name, nullptr, nullptr, pcs, device))
            break;
        CliValue color = CliValue::object();
        color.set(key("name"), QString::fromLatin1(name));
        color.set(key("pcs"), pcsValue(pcs, pcsSpace));
        if (withDevice) {
            CliValue dev = CliValue::array();
            for (krmUInt32Number c = 0; c < colorants && c < krmMAXCHANNELS; ++c)
                dev.append(unsigned(device[c]));
            color.set(key("device"), std::move(dev));
        }
        colors.append(std::move(color));
    }
    v.set(withDevice ? key("colors") : key("colorants"), std::move(colors));
    return v;
}

CliValue sequenceValue(const krmSequence* seq)
{
    CliValue v = CliValue::object();
    v.set(key("count"), seq->n);
    CliValue entries = CliValue::array();
    for (krmUInt32Number i = 0; i < seq->n; ++i) {
        const krmPSEQDESC& d = seq->seq[i];
        CliValue e = CliValue::object();
        e.set(key("deviceManufacturer"), signatureValue(d.deviceMfg, manufacturerName(d.deviceMfg)));
        e.set(key("deviceModel"), signatureValue(d.deviceModel, signatureText(d.deviceModel)));
        e.set(key("attributes"), QStringLiteral("0x%1").arg(qulonglong(d.attributes), 16, 16, QLatin1Char('0')));
        e.set(key("attributesName"), deviceAttributesText(d.attributes));
        e.set(key("technology"), signatureValue(d.technology, technologyName(d.technology)));
        e.set(key("profileId"), profileIdText(d.ProfileID));
        e.set(key("manufacturer"), d.Manufacturer ? describeText(d.Manufacturer) : CliValue());
        e.set(key("model"), d.Model ? describeText(d.Model) : CliValue());
        e.set(key("description"), d.Description ? describeText(d.Description) : CliValue());
        entries.append(std::move(e));
    }
    v.set(key("entries"), std::move(entries));
    return v;
}

QString wideString(const krmWChar* s)
{
    return s ? QString::fromUtf16(s) : QString();
}

CliValue dictValue(const krmDict* dict)
{
    // Iteration yields the last stored record first; list them in stored order.
    std::vector<const krmDICTentry*> entries;
    for (const krmDICTentry* e = krmDictGetEntryList(dict); e; e = krmDictNextEntry(e))
        entries.push_back(e);
    CliValue list = CliValue::array();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        const krmDICTentry* e = *it;
        CliValue entry = CliValue::object();
        entry.set(key("name"), wideString(e->Name));
        entry.set(key("value"), e->Value ? CliValue(wideString(e->Value)) : CliValue());
        entry.set(key("displayName"), e->DisplayName ? describeText(e->DisplayName) : CliValue());
        entry.set(key("displayValue"), e->DisplayValue ? describeText(e->DisplayValue) : CliValue());
        list.append(std::move(entry));
    }
    CliValue v = CliValue::object();
    v.set(key("count"), qulonglong(entries.size()));
    v.set(key("entries"), std::move(list));
    return v;
}

QString tmText(const struct tm& t)
{
    const QDate date(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    const QTime time(t.tm_hour, t.tm_min, t.tm_sec);
    if (!date.isValid() || !time.isValid())
        return QStringLiteral("%1-%2-%3 %4:%5:%6 (invalid)")
            .arg(t.tm_year + 1900)
            .arg(t.tm_mon + 1)
            .arg(t.tm_mday)
            .arg(t.tm_hour)
            .arg(t.tm_min)
            .arg(t.tm_sec);
    return date.toString(Qt::ISODate) + QLatin1Char('T') + time.toString(Qt::ISODate);
}

CliValue stageValue(const krmStage* stage, int index, const TagContentOptions& options)
{
    CliValue v = CliValue::object();
    const krmStageSignature type = krmStageType(stage);
    const krmStageSignature implements = krmStageImplements(stage);
    const krmUInt32Number inputs = krmStageInputChannels(stage);
    const krmUInt32Number outputs = krmStageOutputChannels(stage);
    v.set(key("index"), index);
    v.set(key("type"), signatureString(type));
    v.set(key("implements"), signatureString(implements));
    v.set(key("name"), stageTypeName(implements != type ? implements : type));
    v.set(key("inputs"), inputs);
    v.set(key("outputs"), outputs);
    const void* data = krmStageData(stage);
    if (type == krmSigCurveSetElemType && data) {
        const auto* curves = static_cast<const krmStageToneCurvesData*>(data);
        CliValue list = CliValue::array();
        for (krmUInt32Number i = 0; i < curves->nCurves; ++i)
            list.append(describeCurve(curves->TheCurves[i], options.full));
        v.set(key("curves"), std::move(list));
    } else if (type == krmSigMatrixElemType && data) {
        const auto* m = static_cast<const krmStageMatrixData*>(data);
        CliValue rows = CliValue::array();
        for (krmUInt32Number r = 0; r < outputs; ++r)
            rows.append(numberArray(m->Double + std::size_t(r) * inputs, inputs));
        v.set(key("matrix"), std::move(rows));
        v.set(key("offset"), m->Offset ? numberArray(m->Offset, outputs) : CliValue());
    } else if (type == krmSigCLutElemType && data) {
        const auto* clut = static_cast<const krmStageCLutData*>(data);
        CliValue grid = CliValue::array();
        if (clut->Params)
            for (krmUInt32Number i = 0; i < clut->Params->nInputs && i < krmMAX_INPUT_DIMENSIONS; ++i)
                grid.append(clut->Params->nSamples[i]);
        v.set(key("gridPoints"), std::move(grid));
        v.set(key("precision"), clut->HasFloatValues ? QStringLiteral("float") : QStringLiteral("16-bit"));
        const krmUInt32Number nodes = outputs ? clut->nEntries / outputs : 0;
        v.set(key("nodes"), nodes);
        v.set(key("values"), CliValue());
        if (options.full && clut->Tab.T) {
            // One row per node, the last input varying fastest; kept as the raw values (a 33⁴
            // table has over a million rows).
            auto rows = std::make_shared<CliRows>();
            rows->columns = outputs;
            const std::size_t count = std::size_t(nodes) * outputs;
            if (clut->HasFloatValues)
                rows->floats.assign(clut->Tab.TFloat, clut->Tab.TFloat + count);
            else
                rows->words.assign(clut->Tab.T16, clut->Tab.T16 + count);
            v.set(key("values"), CliValue::rows(std::move(rows)));
        }
    } else if (type == krmSigNamedColorElemType) {
        const krmNamedColorList* list = krmGetNamedColorListFromStage(stage);
        v.set(key("colors"), krmNamedColorCount(list));
    }
    return v;
}

CliValue numberTable(krmUInt32Number count, const std::function<CliValue(krmUInt32Number)>& at)
{
    CliValue a = CliValue::array();
    for (krmUInt32Number i = 0; i < count; ++i)
        a.append(at(i));
    return a;
}

} // namespace

CliValue describeText(const krmMLU* mlu)
{
    CliValue v = CliValue::object();
    CliValue list = CliValue::array();
    const krmUInt32Number count = krmMLUTranslationsCount(mlu);
    for (krmUInt32Number i = 0; i < count; ++i) {
        char language[3] = {}, country[3] = {};
        if (!krmMLUTranslationCodes(mlu, i, language, country))
            break;
        CliValue t = CliValue::object();
        const QString lang = codeText(language);
        const QString ctry = codeText(country);
        t.set(key("language"), lang.isEmpty() ? CliValue() : CliValue(lang));
        t.set(key("country"), ctry.isEmpty() ? CliValue() : CliValue(ctry));
        t.set(key("text"), wideText(mlu, language, country));
        list.append(std::move(t));
    }
    v.set(key("translations"), std::move(list));
    return v;
}

CliValue describeCurve(const krmToneCurve* curve, bool withTable)
{
    // Every key for every kind, null where it does not apply: scripts can rely on the layout.
    CliValue v = CliValue::object();
    for (const char* k : {"kind", "type", "iccFunctionType", "iccFunction", "parameters", "entries", "table", "segments",
                          "estimatedGamma", "monotonic", "linear"})
        v.set(key(k), CliValue());
    if (!curve) {
        v.set(key("kind"), QStringLiteral("identity"));
        v.set(key("estimatedGamma"), 1.0);
        v.set(key("monotonic"), true);
        v.set(key("linear"), true);
        return v;
    }
    int segments = 0;
    while (krmGetToneCurveSegment(curve, segments))
        ++segments;
    const krmUInt32Number entries = krmGetToneCurveEstimatedTableEntries(curve);
    const krmUInt16Number* table = krmGetToneCurveEstimatedTable(curve);

    if (segments == 1 && krmGetToneCurveSegment(curve, 0)->Type != 0) {
        const krmCurveSegment* s = krmGetToneCurveSegment(curve, 0);
        v.set(key("kind"), QStringLiteral("parametric"));
        v.set(key("type"), s->Type);
        if (icc_function_type(s->Type) >= 0) {
            v.set(key("iccFunctionType"), icc_function_type(s->Type));
            v.set(key("iccFunction"), icc_function_type(s->Type));
        }
        v.set(key("parameters"), numberArray(s->Params, std::size_t(parametric_parameter_count(s->Type))));
    } else if (segments == 0) {
        v.set(key("kind"), QStringLiteral("table"));
        v.set(key("entries"), entries);
        if (withTable && table)
            v.set(key("table"), numberTable(entries, [&](krmUInt32Number i) { return CliValue(unsigned(table[i])); }));
    } else {
        v.set(key("kind"), QStringLiteral("segmented"));
        CliValue list = CliValue::array();
        for (int i = 0; i < segments; ++i) {
            const krmCurveSegment* s = krmGetToneCurveSegment(curve, i);
            CliValue seg = CliValue::object();
            seg.set(key("x0"), s->x0 <= krmMINUS_INF ? CliValue(QStringLiteral("-inf")) : CliValue(double(s->x0)));
            seg.set(key("x1"), s->x1 >= krmPLUS_INF ? CliValue(QStringLiteral("+inf")) : CliValue(double(s->x1)));
            seg.set(key("type"), s->Type);
            seg.set(key("parameters"), CliValue());
            seg.set(key("samples"), CliValue());
            seg.set(key("values"), CliValue());
            if (s->Type == 0) {
                seg.set(key("samples"), s->nGridPoints);
                if (withTable && s->SampledPoints)
                    seg.set(key("values"), numberTable(s->nGridPoints, [&](krmUInt32Number k) {
                                return CliValue(double(s->SampledPoints[k]));
                            }));
            } else {
                seg.set(key("parameters"), numberArray(s->Params, std::size_t(parametric_parameter_count(s->Type))));
            }
            list.append(std::move(seg));
        }
        v.set(key("segments"), std::move(list));
    }
    const double gamma = krmEstimateGamma(curve, 0.01);
    v.set(key("estimatedGamma"), gamma > 0 ? CliValue(gamma) : CliValue());
    v.set(key("monotonic"), bool(krmIsToneCurveMonotonic(curve)));
    v.set(key("linear"), bool(krmIsToneCurveLinear(curve)));
    return v;
}

CliValue describePipeline(const krmPipeline* pipeline, const TagContentOptions& options)
{
    CliValue v = CliValue::object();
    v.set(key("inputChannels"), krmPipelineInputChannels(pipeline));
    v.set(key("outputChannels"), krmPipelineOutputChannels(pipeline));
    CliValue stages = CliValue::array();
    int index = 0;
    for (const krmStage* s = krmPipelineFirstStage(pipeline); s; s = krmStageNext(s))
        stages.append(stageValue(s, index++, options));
    v.set(key("stages"), std::move(stages));
    return v;
}

CliValue describeTagContent(krmProfile profile, krmTagSignature tag, krmTagTypeSignature type, const void* object,
                            krmUInt32Number dataSize, const TagContentOptions& options)
{
    const krmColorSpaceSignature pcs = krmGetProfilePCS(profile);
    switch (type) {
    case krmSig("XYZ "):
    case 0x17A505B8u: {
        const auto* xyz = static_cast<const krmCIEXYZ*>(object);
        CliValue v = xyChromaticity(*xyz);
        if (tag == krmSig("wtpt") || tag == krmSig("bkpt")) {
            // A black point of (0, 0, 0) has no chromaticity and so no name.
            v.set(key("name"), CliValue());
            const CliValue* x = v.find(key("x"));
            if (x && x->kind() == CliValue::Kind::Number) {
                krmCIExyY xyY;
                krmXYZ2xyY(&xyY, xyz);
                v.set(key("name"), whitePointName(xyY.x, xyY.y, 0.003));
            }
        }
        return v;
    }
    case krmSig("sf32"):
    case krmSig("uf32"): {
        const auto* values = static_cast<const double*>(object);
        const krmUInt32Number count = dataSize / 4;
        CliValue v = CliValue::object();
        v.set(key("values"), numberArray(values, count));
        if (count == 9) {
            CliValue rows = CliValue::array();
            for (int r = 0; r < 3; ++r)
                rows.append(numberArray(values + 3 * r, 3));
            v.set(key("matrix"), std::move(rows));
        }
        return v;
    }
    case krmSig("ui08"): {
        const auto* values = static_cast<const krmUInt8Number*>(object);
        CliValue v = CliValue::object();
        v.set(key("values"), numberTable(dataSize, [&](krmUInt32Number i) { return CliValue(unsigned(values[i])); }));
        return v;
    }
    case krmSig("ui32"): {
        const auto* values = static_cast<const krmUInt32Number*>(object);
        CliValue v = CliValue::object();
        v.set(key("values"), numberTable(dataSize / 4, [&](krmUInt32Number i) { return CliValue(values[i]); }));
        return v;
    }
    case krmSig("ui64"): {
        const auto* values = static_cast<const krmUInt64Number*>(object);
        CliValue v = CliValue::object();
        // As text: JSON numbers lose 64-bit precision.
        v.set(key("values"), numberTable(dataSize / 8, [&](krmUInt32Number i) {
                  return CliValue(QString::number(qulonglong(values[i])));
              }));
        return v;
    }
    case krmSig("sig "): {
        const krmUInt32Number sig = *static_cast<const krmUInt32Number*>(object);
        QString name = signatureText(sig);
        if (tag == krmSig("tech"))
            name = technologyName(sig);
        else if (tag == krmSig("ciis"))
            name = imageStateName(sig);
        return signatureValue(sig, name);
    }
    case krmSig("dtim"): {
        CliValue v = CliValue::object();
        v.set(key("dateTime"), tmText(*static_cast<const struct tm*>(object)));
        return v;
    }
    case krmSig("data"): {
        const auto* data = static_cast<const krmICCData*>(object);
        CliValue v = CliValue::object();
        v.set(key("flag"), data->flag);
        v.set(key("length"), data->len);
        const QByteArray bytes(reinterpret_cast<const char*>(data->data), qsizetype(data->len));
        if (data->flag == 0)
            v.set(key("text"), QString::fromLatin1(bytes.left(bytes.indexOf('\0') >= 0 ? bytes.indexOf('\0') : bytes.size())));
        else
            v.set(key("hex"), QString::fromLatin1(bytes.toHex()));
        return v;
    }
    case krmSig("meas"): {
        const auto* m = static_cast<const krmMeasurement*>(object);
        CliValue v = CliValue::object();
        v.set(key("observer"), codeValue(m->Observer, observerName(m->Observer)));
        v.set(key("backing"), xyzValue(m->Backing.X, m->Backing.Y, m->Backing.Z));
        v.set(key("geometry"), codeValue(m->Geometry, geometryName(m->Geometry)));
        v.set(key("flare"), m->Flare);
        v.set(key("illuminantType"), codeValue(m->IlluminantType, illuminantTypeName(m->IlluminantType)));
        return v;
    }
    case krmSig("view"): {
        const auto* vc = static_cast<const krmViewingConditions*>(object);
        CliValue v = CliValue::object();
        v.set(key("illuminant"), xyzValue(vc->IlluminantXYZ.X, vc->IlluminantXYZ.Y, vc->IlluminantXYZ.Z));
        v.set(key("surround"), xyzValue(vc->SurroundXYZ.X, vc->SurroundXYZ.Y, vc->SurroundXYZ.Z));
        v.set(key("illuminantType"), codeValue(vc->IlluminantType, illuminantTypeName(vc->IlluminantType)));
        return v;
    }
    case krmSig("chrm"): {
        const auto* p = static_cast<const krmCIExyYTRIPLE*>(object);
        CliValue v = CliValue::object();
        const std::pair<const char*, const krmCIExyY*> primaries[] = {{"red", &p->Red}, {"green", &p->Green}, {"blue", &p->Blue}};
        for (const auto& [name, xyY] : primaries) {
            const double xy[2] = {xyY->x, xyY->y};
            v.set(key(name), numberArray(xy, 2));
        }
        return v;
    }
    case krmSig("clro"): {
        const auto* order = static_cast<const krmColorantOrder*>(object);
        CliValue list = CliValue::array();
        for (int i = 0; i < krmMAXCHANNELS && order->Order[i] != 0xFF; ++i)
            list.append(unsigned(order->Order[i]));
        CliValue v = CliValue::object();
        v.set(key("order"), std::move(list));
        return v;
    }
    case krmSig("cicp"): {
        const auto* s = static_cast<const krmVideoSignal*>(object);
        CliValue v = CliValue::object();
        v.set(key("colourPrimaries"), unsigned(s->ColourPrimaries));
        v.set(key("transferCharacteristics"), unsigned(s->TransferCharacteristics));
        v.set(key("matrixCoefficients"), unsigned(s->MatrixCoefficients));
        v.set(key("videoFullRange"), unsigned(s->VideoFullRangeFlag));
        return v;
    }
    case krmSig("text"):
    case krmSig("desc"):
    case krmSig("mluc"):
    case krmSig("crdi"):
        return describeText(static_cast<const krmMLU*>(object));
    case krmSig("curv"):
    case krmSig("para"):
    case 0x9478EE00u:
        return describeCurve(static_cast<const krmToneCurve*>(object), true);
    case krmSig("mft1"):
    case krmSig("mft2"):
    case krmSig("mAB "):
    case krmSig("mBA "):
    case krmSig("mpet"):
        return describePipeline(static_cast<const krmPipeline*>(object), options);
    case krmSig("clrt"):
        return namedColors(static_cast<const krmNamedColorList*>(object), pcs, false);
    case krmSig("ncl2"):
        return namedColors(static_cast<const krmNamedColorList*>(object), pcs, true);
    case krmSig("pseq"):
    case krmSig("psid"):
        return sequenceValue(static_cast<const krmSequence*>(object));
    case krmSig("bfd "): {
        const auto* u = static_cast<const krmUcrBg*>(object);
        CliValue v = CliValue::object();
        v.set(key("ucr"), describeCurve(u->Ucr, true));
        v.set(key("bg"), describeCurve(u->Bg, true));
        v.set(key("description"), u->Desc ? describeText(u->Desc) : CliValue());
        return v;
    }
    case krmSig("scrn"): {
        const auto* s = static_cast<const krmScreening*>(object);
        CliValue v = CliValue::object();
        v.set(key("flag"), s->Flag);
        CliValue channels = CliValue::array();
        for (krmUInt32Number i = 0; i < s->nChannels && i < krmMAXCHANNELS; ++i) {
            CliValue c = CliValue::object();
            c.set(key("frequency"), s->Channels[i].Frequency);
            c.set(key("angle"), s->Channels[i].ScreenAngle);
            c.set(key("spotShape"), codeValue(s->Channels[i].SpotShape, spotShapeName(s->Channels[i].SpotShape)));
            channels.append(std::move(c));
        }
        v.set(key("channels"), std::move(channels));
        return v;
    }
    case krmSig("vcgt"): {
        const auto* g = static_cast<const krmVcgtCurves*>(object);
        CliValue v = CliValue::object();
        v.set(key("red"), describeCurve(g->Curves[0], true));
        v.set(key("green"), describeCurve(g->Curves[1], true));
        v.set(key("blue"), describeCurve(g->Curves[2], true));
        return v;
    }
    case krmSig("dict"):
        return dictValue(static_cast<const krmDict*>(object));
    case krmSig("MHC2"): {
        const auto* m = static_cast<const krmMHC2*>(object);
        CliValue v = CliValue::object();
        v.set(key("entries"), m->CurveEntries);
        v.set(key("minLuminance"), m->MinLuminance);
        v.set(key("peakLuminance"), m->PeakLuminance);
        CliValue rows = CliValue::array();
        for (int r = 0; r < 3; ++r)
            rows.append(numberArray(m->XYZ2XYZmatrix[r], 4));
        v.set(key("matrix"), std::move(rows));
        v.set(key("red"), numberArray(m->RedCurve, m->CurveEntries));
        v.set(key("green"), numberArray(m->GreenCurve, m->CurveEntries));
        v.set(key("blue"), numberArray(m->BlueCurve, m->CurveEntries));
        return v;
    }
    default:
        return CliValue();
    }
}
