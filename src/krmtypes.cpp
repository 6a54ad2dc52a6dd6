// Tag type registry: which types a tag may hold, which type to write, and the handler for each
// type. Handlers themselves live beside their byte layouts in krmtypes_*.cpp.

#include "krm_internal.h"

// ---------------------------------------------------------------------------------------------
// Type deciders (version as a decimal number, 4.3 for 0x04300000)
// ---------------------------------------------------------------------------------------------

static krmTagTypeSignature DecideLUTtypeA2B(krmFloat64Number ICCVersion, const void* Data)
{
    const krmPipeline* Lut = (const krmPipeline*)Data;
    if (ICCVersion < 4.0) return (Lut != nullptr && Lut->SaveAs8Bits) ? krmSig("mft1") : krmSig("mft2");
    return krmSig("mAB ");
}

static krmTagTypeSignature DecideLUTtypeB2A(krmFloat64Number ICCVersion, const void* Data)
{
    const krmPipeline* Lut = (const krmPipeline*)Data;
    if (ICCVersion < 4.0) return (Lut != nullptr && Lut->SaveAs8Bits) ? krmSig("mft1") : krmSig("mft2");
    return krmSig("mBA ");
}

static krmTagTypeSignature DecideXYZtype(krmFloat64Number ICCVersion, const void* Data)
{
    return krmSig("XYZ ");
}

// 'para' holds only a single parametric segment of ICC types 1 to 5 (engine types 1..5 map to
// ICC function types 0..4); anything else, including a tabulated curve, is written as 'curv'.
static krmTagTypeSignature DecideCurveType(krmFloat64Number ICCVersion, const void* Data)
{
    if (ICCVersion < 4.0) return krmSig("curv");
    const krmToneCurve* Curve = (const krmToneCurve*)Data;
    if (Curve == nullptr) return krmSig("curv");
    krmInt32Number Type = krmGetToneCurveParametricType(Curve);
    if (Type < 1 || Type > 5) return krmSig("curv");
    return krmSig("para");
}

static krmTagTypeSignature DecideTextType(krmFloat64Number ICCVersion, const void* Data)
{
    return ICCVersion >= 4.0 ? krmSig("mluc") : krmSig("text");
}

static krmTagTypeSignature DecideTextDescType(krmFloat64Number ICCVersion, const void* Data)
{
    return ICCVersion >= 4.0 ? krmSig("mluc") : krmSig("desc");
}

// ---------------------------------------------------------------------------------------------
// Built-in tag descriptors, in search order
// ---------------------------------------------------------------------------------------------

struct _krmTagLinkedList {
    krmTagSignature Signature;
    krmTagDescriptor Descriptor;
};

static const _krmTagLinkedList SupportedTags[] = {
    {krmSig("A2B0"), {1, 3, {krmSig("mft2"), krmSig("mAB "), krmSig("mft1")}, DecideLUTtypeA2B}},
    {krmSig("A2B1"), {1, 3, {krmSig("mft2"), krmSig("mAB "), krmSig("mft1")}, DecideLUTtypeA2B}},
    {krmSig("A2B2"), {1, 3, {krmSig("mft2"), krmSig("mAB "), krmSig("mft1")}, DecideLUTtypeA2B}},
    {krmSig("B2A0"), {1, 3, {krmSig("mft2"), krmSig("mBA "), krmSig("mft1")}, DecideLUTtypeB2A}},
    {krmSig("B2A1"), {1, 3, {krmSig("mft2"), krmSig("mBA "), krmSig("mft1")}, DecideLUTtypeB2A}},
    {krmSig("B2A2"), {1, 3, {krmSig("mft2"), krmSig("mBA "), krmSig("mft1")}, DecideLUTtypeB2A}},
    {krmSig("rXYZ"), {1, 2, {krmSig("XYZ "), 0x17A505B8u}, DecideXYZtype}},
    {krmSig("gXYZ"), {1, 2, {krmSig("XYZ "), 0x17A505B8u}, DecideXYZtype}},
    {krmSig("bXYZ"), {1, 2, {krmSig("XYZ "), 0x17A505B8u}, DecideXYZtype}},
    {krmSig("rTRC"), {1, 3, {krmSig("curv"), krmSig("para"), 0x9478EE00u}, DecideCurveType}},
    {krmSig("gTRC"), {1, 3, {krmSig("curv"), krmSig("para"), 0x9478EE00u}, DecideCurveType}},
    {krmSig("bTRC"), {1, 3, {krmSig("curv"), krmSig("para"), 0x9478EE00u}, DecideCurveType}},
    {krmSig("calt"), {1, 1, {krmSig("dtim")}, nullptr}},
    {krmSig("targ"), {1, 1, {krmSig("text")}, nullptr}},
    {krmSig("chad"), {9, 1, {krmSig("sf32")}, nullptr}},
    {krmSig("chrm"), {1, 1, {krmSig("chrm")}, nullptr}},
    {krmSig("clro"), {1, 1, {krmSig("clro")}, nullptr}},
    {krmSig("clrt"), {1, 1, {krmSig("clrt")}, nullptr}},
    {krmSig("clot"), {1, 1, {krmSig("clrt")}, nullptr}},
    {krmSig("cprt"), {1, 3, {krmSig("text"), krmSig("mluc"), krmSig("desc")}, DecideTextType}},
    {krmSig("dtim"), {1, 1, {krmSig("dtim")}, nullptr}},
    {krmSig("dmnd"), {1, 3, {krmSig("desc"), krmSig("mluc"), krmSig("text")}, DecideTextDescType}},
    {krmSig("dmdd"), {1, 3, {krmSig("desc"), krmSig("mluc"), krmSig("text")}, DecideTextDescType}},
    {krmSig("gamt"), {1, 3, {krmSig("mft2"), krmSig("mBA "), krmSig("mft1")}, DecideLUTtypeB2A}},
    {krmSig("kTRC"), {1, 2, {krmSig("curv"), krmSig("para")}, DecideCurveType}},
    {krmSig("lumi"), {1, 1, {krmSig("XYZ ")}, nullptr}},
    {krmSig("bkpt"), {1, 2, {krmSig("XYZ "), 0x17A505B8u}, nullptr}},
    {krmSig("wtpt"), {1, 2, {krmSig("XYZ "), 0x17A505B8u}, nullptr}},
    {krmSig("ncl2"), {1, 1, {krmSig("ncl2")}, nullptr}},
    {krmSig("pre0"), {1, 3, {krmSig("mft2"), krmSig("mBA "), krmSig("mft1")}, DecideLUTtypeB2A}},
    {krmSig("pre1"), {1, 3, {krmSig("mft2"), krmSig("mBA "), krmSig("mft1")}, DecideLUTtypeB2A}},
    {krmSig("pre2"), {1, 3, {krmSig("mft2"), krmSig("mBA "), krmSig("mft1")}, DecideLUTtypeB2A}},
    {krmSig("desc"), {1, 3, {krmSig("desc"), krmSig("mluc"), krmSig("text")}, DecideTextDescType}},
    {krmSig("pseq"), {1, 1, {krmSig("pseq")}, nullptr}},
    {krmSig("tech"), {1, 1, {krmSig("sig ")}, nullptr}},
    {krmSig("ciis"), {1, 1, {krmSig("sig ")}, nullptr}},
    {krmSig("rig0"), {1, 1, {krmSig("sig ")}, nullptr}},
    {krmSig("rig2"), {1, 1, {krmSig("sig ")}, nullptr}},
    {krmSig("meas"), {1, 1, {krmSig("meas")}, nullptr}},
    {krmSig("psd0"), {1, 1, {krmSig("data")}, nullptr}},
    {krmSig("psd1"), {1, 1, {krmSig("data")}, nullptr}},
    {krmSig("psd2"), {1, 1, {krmSig("data")}, nullptr}},
    {krmSig("psd3"), {1, 1, {krmSig("data")}, nullptr}},
    {krmSig("ps2s"), {1, 1, {krmSig("data")}, nullptr}},
    {krmSig("ps2i"), {1, 1, {krmSig("data")}, nullptr}},
    {krmSig("vued"), {1, 3, {krmSig("desc"), krmSig("mluc"), krmSig("text")}, DecideTextDescType}},
    {krmSig("bfd "), {1, 1, {krmSig("bfd ")}, nullptr}},
    {krmSig("crdi"), {1, 1, {krmSig("crdi")}, nullptr}},
    {krmSig("D2B0"), {1, 1, {krmSig("mpet")}, nullptr}},
    {krmSig("D2B1"), {1, 1, {krmSig("mpet")}, nullptr}},
    {krmSig("D2B2"), {1, 1, {krmSig("mpet")}, nullptr}},
    {krmSig("D2B3"), {1, 1, {krmSig("mpet")}, nullptr}},
    {krmSig("B2D0"), {1, 1, {krmSig("mpet")}, nullptr}},
    {krmSig("B2D1"), {1, 1, {krmSig("mpet")}, nullptr}},
    {krmSig("B2D2"), {1, 1, {krmSig("mpet")}, nullptr}},
    {krmSig("B2D3"), {1, 1, {krmSig("mpet")}, nullptr}},
    {krmSig("scrd"), {1, 1, {krmSig("desc")}, nullptr}},
    {krmSig("view"), {1, 1, {krmSig("view")}, nullptr}},
    {krmSig("scrn"), {1, 1, {krmSig("scrn")}, nullptr}},
    {krmSig("vcgt"), {1, 1, {krmSig("vcgt")}, nullptr}},
    {krmSig("meta"), {1, 1, {krmSig("dict")}, nullptr}},
    {krmSig("psid"), {1, 1, {krmSig("psid")}, nullptr}},
    {krmSig("dscm"), {1, 1, {krmSig("mluc")}, nullptr}},
    {krmSig("cicp"), {1, 1, {krmSig("cicp")}, nullptr}},
    {krmSig("arts"), {9, 1, {krmSig("sf32")}, nullptr}},
    {krmSig("MHC2"), {1, 1, {krmSig("MHC2")}, nullptr}},
};

// ---------------------------------------------------------------------------------------------
// Built-in type handlers, in search order
// ---------------------------------------------------------------------------------------------

static const krmTagTypeHandler SupportedTagTypes[] = {
    // Handler rows go here, one per type, in this order: 'chrm', 'clro', 'sf32', 'uf32', 'text',
    // 'desc', 'curv', 'para', 'dtim', 'mft1', 'mft2', 'clrt', 'ncl2', 'mluc', 'pseq', 'sig ',
    // 'meas', 'data', 'mAB ', 'mBA ', 'bfd ', 'crdi', 'mpet', 'scrn', 'view', 'XYZ ',
    // 0x17A505B8 (as 'XYZ '), 0x9478EE00 (as 'curv'), 'psid', 'dict', 'cicp', 'vcgt', 'MHC2',
    // 'ui08', 'ui32', 'ui64'. There is no 'ui16'. Each row:
    //   {signature, reader, writer, duplicator, releaser, nullptr, 0},

    KRM_TYPE_HANDLER(krmSig("chrm"), Chromaticity),
    KRM_TYPE_HANDLER(krmSig("clro"), ColorantOrder),
    KRM_TYPE_HANDLER(krmSig("sf32"), S15Fixed16),
    KRM_TYPE_HANDLER(krmSig("uf32"), U16Fixed16),
    KRM_TYPE_HANDLER(krmSig("text"), Text),
    KRM_TYPE_HANDLER(krmSig("desc"), TextDescription),
    KRM_TYPE_HANDLER(krmSig("curv"), Curve),
    KRM_TYPE_HANDLER(krmSig("para"), ParametricCurve),
    KRM_TYPE_HANDLER(krmSig("dtim"), DateTime),
    {krmSig("mft1"), _krmType_LUT8_Read, _krmType_LUT8_Write, _krmType_LUT_Dup, _krmType_LUT_Free, nullptr, 0},
    {krmSig("mft2"), _krmType_LUT16_Read, _krmType_LUT16_Write, _krmType_LUT_Dup, _krmType_LUT_Free, nullptr, 0},
    KRM_TYPE_HANDLER(krmSig("clrt"), ColorantTable),
    KRM_TYPE_HANDLER(krmSig("ncl2"), NamedColor),
    KRM_TYPE_HANDLER(krmSig("mluc"), MLU),
    KRM_TYPE_HANDLER(krmSig("pseq"), ProfileSequenceDesc),
    KRM_TYPE_HANDLER(krmSig("sig "), Signature),
    KRM_TYPE_HANDLER(krmSig("meas"), Measurement),
    KRM_TYPE_HANDLER(krmSig("data"), Data),
    {krmSig("mAB "), _krmType_LUTA2B_Read, _krmType_LUTA2B_Write, _krmType_LUT_Dup, _krmType_LUT_Free, nullptr, 0},
    {krmSig("mBA "), _krmType_LUTB2A_Read, _krmType_LUTB2A_Write, _krmType_LUT_Dup, _krmType_LUT_Free, nullptr, 0},
    KRM_TYPE_HANDLER(krmSig("bfd "), UcrBg),
    KRM_TYPE_HANDLER(krmSig("crdi"), CrdInfo),
    {krmSig("mpet"), _krmType_MPE_Read, _krmType_MPE_Write, _krmType_LUT_Dup, _krmType_LUT_Free, nullptr, 0},
    KRM_TYPE_HANDLER(krmSig("scrn"), Screening),
    KRM_TYPE_HANDLER(krmSig("view"), ViewingConditions),
    KRM_TYPE_HANDLER(krmSig("XYZ "), XYZ),
    KRM_TYPE_HANDLER(0x17A505B8u, XYZ),  // read and written as 'XYZ '
    KRM_TYPE_HANDLER(0x9478EE00u, Curve),  // read and written as 'curv'
    KRM_TYPE_HANDLER(krmSig("psid"), ProfileSequenceId),
    KRM_TYPE_HANDLER(krmSig("dict"), Dictionary),
    KRM_TYPE_HANDLER(krmSig("cicp"), VideoSignal),
    KRM_TYPE_HANDLER(krmSig("vcgt"), vcgt),
    KRM_TYPE_HANDLER(krmSig("MHC2"), MHC2),
    KRM_TYPE_HANDLER(krmSig("ui08"), UInt8),
    KRM_TYPE_HANDLER(krmSig("ui32"), UInt32),
    KRM_TYPE_HANDLER(krmSig("ui64"), UInt64),

    // End of table.
    {0, nullptr, nullptr, nullptr, nullptr, nullptr, 0},
};

// ---------------------------------------------------------------------------------------------
// Lookups
// ---------------------------------------------------------------------------------------------

const krmTagTypeHandler* _krmGetTagTypeHandler(krmContext ContextID, krmTagTypeSignature sig)
{
    for (const _krmPluginListEntry* e = _krmGetPluginList(ContextID, krmPluginTagTypeSig); e != nullptr; e = e->Next) {
        const krmPluginTagType* p = (const krmPluginTagType*)e->Plugin;
        if (p->Handler.Signature == sig) return &p->Handler;
    }
    for (const krmTagTypeHandler* h = SupportedTagTypes; h->Signature != 0; h++) {
        if (h->Signature == sig) return h;
    }
    return nullptr;
}

const krmTagDescriptor* _krmGetTagDescriptor(krmContext ContextID, krmTagSignature sig)
{
    for (const _krmPluginListEntry* e = _krmGetPluginList(ContextID, krmPluginTagSig); e != nullptr; e = e->Next) {
        const krmPluginTag* p = (const krmPluginTag*)e->Plugin;
        // The permissive-reading record (signature 0) describes no tag.
        if (p->Signature != 0 && p->Signature == sig) return &p->Descriptor;
    }
    for (const _krmTagLinkedList& t : SupportedTags) {
        if (t.Signature == sig) return &t.Descriptor;
    }
    return nullptr;
}

krmBool _krmIsPermissiveReading(krmContext ContextID)
{
    for (const _krmPluginListEntry* e = _krmGetPluginList(ContextID, krmPluginTagSig); e != nullptr; e = e->Next) {
        if (((const krmPluginTag*)e->Plugin)->Signature == 0) return true;
    }
    return false;
}

static krmUInt32Number supportedCount(const krmTagDescriptor* d)
{
    return d->nSupportedTypes > krmMAX_TYPES_IN_PLUGIN ? krmMAX_TYPES_IN_PLUGIN : d->nSupportedTypes;
}

krmBool _krmIsTypeSupported(const krmTagDescriptor* TagDescriptor, krmTagTypeSignature Type)
{
    krmUInt32Number n = supportedCount(TagDescriptor);
    for (krmUInt32Number i = 0; i < n; i++) {
        if (Type == TagDescriptor->SupportedTypes[i]) return true;
    }
    return false;
}

krmTagTypeSignature _krmDecideTagType(const krmTagDescriptor* TagDescriptor, krmFloat64Number Version,
                                      const void* Data)
{
    if (TagDescriptor->DecideType != nullptr) return TagDescriptor->DecideType(Version, Data);
    if (supportedCount(TagDescriptor) == 0) return 0;
    return TagDescriptor->SupportedTypes[0];
}
