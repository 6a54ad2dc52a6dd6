// Tone curves: one-dimensional functions on [0, 1] made of parametric and sampled segments, each
// carrying a 16-bit table for fast evaluation. Also reversal, joining and the table tests.
#include "krm_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// ---------------------------------------------------------------------------------------------
// Parametric types
// ---------------------------------------------------------------------------------------------

// Built-in types and their parameter counts. 1 to 5 are the ICC parametric functions 0 to 4
// (ICC.1:2010 10.18, Table 68); 6 to 8 are the curve-segment formulas of 'mpet' (10.15.3);
// 108 is an S-shaped power curve and 109 a sigmoid.
struct ParametricType {
    krmUInt32Number Type;
    krmUInt32Number ParameterCount;
};

constexpr ParametricType DefaultTypes[] = {
    {1, 1}, {2, 3}, {3, 4}, {4, 5}, {5, 7}, {6, 4}, {7, 5}, {8, 5}, {108, 1}, {109, 1},
};

// Parameters below this magnitude count as zero.
constexpr krmFloat64Number NearZero = krmMATRIX_DET_TOLERANCE;

inline bool IsNearZero(krmFloat64Number v)
{
    return std::fabs(v) < NearZero;
}

// The sigmoid's scale, chosen so that x = 0 and x = 1 map to 0 and 1.
inline krmFloat64Number SigmoidFactor(krmFloat64Number g)
{
    return 0.5 / (1.0 / (1.0 + std::exp(-g)) - 0.5);
}

krmFloat64Number DefaultEvalParametricFn(krmInt32Number Type, const krmFloat64Number Params[10], krmFloat64Number R)
{
    const krmFloat64Number PlusInf = krmPLUS_INF;
    krmFloat64Number Val = 0.0;

    switch (Type) {
    // y = x^g
    case 1:
        if (R < 0) {
            Val = (std::fabs(Params[0] - 1.0) < NearZero) ? R : 0;
        } else {
            Val = std::pow(R, Params[0]);
        }
        break;

    case -1:
        if (R < 0) {
            Val = (std::fabs(Params[0] - 1.0) < NearZero) ? R : 0;
        } else {
            Val = IsNearZero(Params[0]) ? PlusInf : std::pow(R, 1.0 / Params[0]);
        }
        break;

    // CIE 122-1966: y = (a x + b)^g for x >= -b/a, else 0
    case 2: {
        if (IsNearZero(Params[1])) {
            Val = 0;
        } else {
            const krmFloat64Number disc = -Params[2] / Params[1];
            if (R >= disc) {
                const krmFloat64Number e = Params[1] * R + Params[2];
                Val = (e > 0) ? std::pow(e, Params[0]) : 0;
            } else {
                Val = 0;
            }
        }
    } break;

    case -2:
        if (IsNearZero(Params[0]) || IsNearZero(Params[1]) || R < 0) {
            Val = 0;
        } else {
            Val = (std::pow(R, 1.0 / Params[0]) - Params[2]) / Params[1];
            if (Val < 0) Val = 0;
        }
        break;

    // IEC 61966-3: y = (a x + b)^g + c for x >= -b/a, else c
    case 3: {
        if (IsNearZero(Params[1])) {
            Val = 0;
        } else {
            krmFloat64Number disc = -Params[2] / Params[1];
            if (disc < 0) disc = 0;
            if (R >= disc) {
                const krmFloat64Number e = Params[1] * R + Params[2];
                Val = (e > 0) ? std::pow(e, Params[0]) + Params[3] : 0;
            } else {
                Val = Params[3];
            }
        }
    } break;

    case -3:
        if (IsNearZero(Params[0]) || IsNearZero(Params[1])) {
            Val = 0;
        } else if (R >= Params[3]) {
            const krmFloat64Number e = R - Params[3];
            Val = (e > 0) ? (std::pow(e, 1.0 / Params[0]) - Params[2]) / Params[1] : 0;
        } else {
            Val = -Params[2] / Params[1];
        }
        break;

    // IEC 61966-2.1 (sRGB): y = (a x + b)^g for x >= d, else c x
    case 4:
        if (R >= Params[4]) {
            const krmFloat64Number e = Params[1] * R + Params[2];
            Val = (e > 0) ? std::pow(e, Params[0]) : 0;
        } else {
            Val = R * Params[3];
        }
        break;

    case -4: {
        const krmFloat64Number e = Params[1] * Params[4] + Params[2];
        const bool upper = (e < 0) ? (R >= 0) : (R >= std::pow(e, Params[0]));
        if (upper) {
            if (IsNearZero(Params[0]) || IsNearZero(Params[1]))
                Val = 0;
            else
                Val = (std::pow(R, 1.0 / Params[0]) - Params[2]) / Params[1];
        } else {
            Val = IsNearZero(Params[3]) ? 0 : R / Params[3];
        }
    } break;

    // y = (a x + b)^g + e for x >= d, else c x + f
    case 5:
        if (R >= Params[4]) {
            const krmFloat64Number e = Params[1] * R + Params[2];
            Val = (e > 0) ? std::pow(e, Params[0]) + Params[5] : Params[5];
        } else {
            Val = R * Params[3] + Params[6];
        }
        break;

    case -5: {
        const krmFloat64Number disc = Params[3] * Params[4] + Params[6];
        if (R >= disc) {
            const krmFloat64Number e = R - Params[5];
            if (e < 0 || IsNearZero(Params[0]) || IsNearZero(Params[1]))
                Val = 0;
            else
                Val = (std::pow(e, 1.0 / Params[0]) - Params[2]) / Params[1];
        } else {
            Val = IsNearZero(Params[3]) ? 0 : (R - Params[6]) / Params[3];
        }
    } break;

    // y = (a x + b)^g + c
    case 6: {
        const krmFloat64Number e = Params[1] * R + Params[2];
        // An exact gamma of 1 keeps negative values: the segment is a plain line.
        if (Params[0] == 1.0) {
            Val = e + Params[3];
        } else {
            Val = (e < 0) ? Params[3] : std::pow(e, Params[0]) + Params[3];
        }
    } break;

    case -6:
        if (IsNearZero(Params[0]) || IsNearZero(Params[1])) {
            Val = 0;
        } else {
            const krmFloat64Number e = R - Params[3];
            Val = (e < 0) ? 0 : (std::pow(e, 1.0 / Params[0]) - Params[2]) / Params[1];
        }
        break;

    // y = a log10(b x^g + c) + d
    case 7: {
        const krmFloat64Number e = Params[2] * std::pow(R, Params[0]) + Params[3];
        Val = (e <= 0) ? Params[4] : Params[1] * std::log10(e) + Params[4];
    } break;

    case -7:
        if (IsNearZero(Params[0]) || IsNearZero(Params[1]) || IsNearZero(Params[2])) {
            Val = 0;
        } else {
            Val = std::pow((std::pow(10.0, (R - Params[4]) / Params[1]) - Params[3]) / Params[2], 1.0 / Params[0]);
        }
        break;

    // y = a b^(c x + d) + e
    case 8:
        Val = Params[0] * std::pow(Params[1], Params[2] * R + Params[3]) + Params[4];
        break;

    case -8: {
        const krmFloat64Number disc = R - Params[4];
        if (disc < 0 || IsNearZero(Params[0]) || IsNearZero(Params[2])) {
            Val = 0;
        } else {
            Val = (std::log(disc / Params[0]) / std::log(Params[1]) - Params[3]) / Params[2];
        }
    } break;

    // y = (1 - (1 - x)^(1/g))^(1/g)
    case 108:
        Val = IsNearZero(Params[0]) ? 0 : std::pow(1.0 - std::pow(1.0 - R, 1.0 / Params[0]), 1.0 / Params[0]);
        break;

    case -108:
        Val = 1.0 - std::pow(1.0 - std::pow(R, Params[0]), Params[0]);
        break;

    // Sigmoid through (0, 0) and (1, 1). A zero slope is the limit: the identity.
    case 109:
        if (IsNearZero(Params[0])) {
            Val = R;
        } else {
            const krmFloat64Number k = SigmoidFactor(Params[0]);
            Val = (1.0 / (1.0 + std::exp(-Params[0] * (R * 2.0 - 1.0))) - 0.5) * k + 0.5;
        }
        break;

    case -109:
        if (IsNearZero(Params[0])) {
            Val = R;
        } else {
            const krmFloat64Number k = SigmoidFactor(Params[0]);
            Val = (-std::log(1.0 / ((R - 0.5) / k + 0.5) - 1.0) / Params[0] + 1.0) * 0.5;
        }
        break;

    default:
        // The type was checked at construction; nothing else reaches here.
        return 0;
    }

    return Val;
}

// The evaluator and parameter count of a type, by magnitude: the context's registrations, newest
// first, then the built-in types.
bool FindParametricType(krmContext ContextID, krmInt32Number Type, krmParametricCurveEvaluator* Evaluator,
                        krmUInt32Number* ParameterCount)
{
    const krmUInt32Number Magnitude = Type < 0 ? 0u - krmUInt32Number(Type) : krmUInt32Number(Type);

    for (const _krmPluginListEntry* e = _krmGetPluginList(ContextID, krmPluginParametricCurveSig); e != nullptr;
         e = e->Next) {
        const krmPluginParametricCurves* Plugin = reinterpret_cast<const krmPluginParametricCurves*>(e->Plugin);
        if (Plugin == nullptr || Plugin->Evaluator == nullptr) continue;
        krmUInt32Number n = Plugin->nFunctions;
        if (n > krmMAX_TYPES_IN_PARAMETRIC_PLUGIN) n = krmMAX_TYPES_IN_PARAMETRIC_PLUGIN;
        for (krmUInt32Number i = 0; i < n; i++) {
            if (Plugin->FunctionTypes[i] == Magnitude) {
                if (Evaluator) *Evaluator = Plugin->Evaluator;
                if (ParameterCount) {
                    *ParameterCount = Plugin->ParameterCount[i];
                    if (*ParameterCount > 10) *ParameterCount = 10;
                }
                return true;
            }
        }
    }

    for (const ParametricType& t : DefaultTypes) {
        if (t.Type == Magnitude) {
            if (Evaluator) *Evaluator = DefaultEvalParametricFn;
            if (ParameterCount) *ParameterCount = t.ParameterCount;
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Allocation
// ---------------------------------------------------------------------------------------------

void FreeCurveParts(krmContext ContextID, krmToneCurve* p)
{
    if (p == nullptr) return;

    if (p->Segments != nullptr) {
        for (krmUInt32Number i = 0; i < p->nSegments; i++) {
            krmFree(ContextID, p->Segments[i].SampledPoints);
            if (p->SegInterp != nullptr) krmFreeInterpParams(p->SegInterp[i]);
        }
    }
    krmFree(ContextID, p->Segments);
    krmFree(ContextID, p->SegInterp);
    krmFree(ContextID, p->Evals);
    krmFree(ContextID, p->Table16);
    krmFreeInterpParams(p->InterpParams);
    krmFree(ContextID, p);
}

// Every constructor ends here: copies the segments (with their points) and the table, and
// prepares the interpolation of each. Values may be null for a zero-filled table.
krmToneCurve* AllocateToneCurveStruct(krmContext ContextID, krmUInt32Number nEntries, krmUInt32Number nSegments,
                                      const krmCurveSegment* Segments, const krmUInt16Number* Values)
{
    if (nEntries > krmMAX_ENTRIES_IN_TABLE) {
        krmSignalError(ContextID, krmErrRange, "Couldn't create tone curve of more than 65530 entries");
        return nullptr;
    }

    if (nEntries == 0 && nSegments == 0) {
        krmSignalError(ContextID, krmErrRange, "Couldn't create tone curve with zero segments and no table");
        return nullptr;
    }

    // Check the segments before building anything: a sampled segment needs its points, a
    // parametric one a known type.
    for (krmUInt32Number i = 0; i < nSegments; i++) {
        const krmCurveSegment& s = Segments[i];
        if (s.Type == 0) {
            if (s.nGridPoints == 0 || s.SampledPoints == nullptr) {
                krmSignalError(ContextID, krmErrRange, "Couldn't create tone curve: sampled segment %u has no points",
                               unsigned(i));
                return nullptr;
            }
        } else if (!FindParametricType(ContextID, s.Type, nullptr, nullptr)) {
            krmSignalError(ContextID, krmErrUnknownExtension, "Invalid parametric curve type %d", int(s.Type));
            return nullptr;
        }
    }

    krmToneCurve* p = static_cast<krmToneCurve*>(krmMallocZero(ContextID, sizeof(krmToneCurve)));
    if (p == nullptr) return nullptr;

    if (nSegments > 0) {
        p->Segments = static_cast<krmCurveSegment*>(krmCalloc(ContextID, nSegments, sizeof(krmCurveSegment)));
        p->SegInterp = static_cast<krmInterpParams**>(krmCalloc(ContextID, nSegments, sizeof(krmInterpParams*)));
        p->Evals = static_cast<krmParametricCurveEvaluator*>(
            krmCalloc(ContextID, nSegments, sizeof(krmParametricCurveEvaluator)));
        if (p->Segments == nullptr || p->SegInterp == nullptr || p->Evals == nullptr) {
            FreeCurveParts(ContextID, p);
            return nullptr;
        }
        p->nSegments = nSegments;
    }

    for (krmUInt32Number i = 0; i < nSegments; i++) {
        krmCurveSegment& s = p->Segments[i];
        s = Segments[i];
        s.SampledPoints = nullptr;

        if (s.Type == 0) {
            const krmUInt64Number bytes = krmUInt64Number(s.nGridPoints) * sizeof(krmFloat32Number);
            if (bytes > 0x80000000u) {
                FreeCurveParts(ContextID, p);
                return nullptr;
            }
            s.SampledPoints =
                static_cast<krmFloat32Number*>(krmDupMem(ContextID, Segments[i].SampledPoints, krmUInt32Number(bytes)));
            p->SegInterp[i] = krmComputeInterpParams(ContextID, s.nGridPoints, 1, 1, s.SampledPoints, krmInterpFlagFloat);
            if (s.SampledPoints == nullptr || p->SegInterp[i] == nullptr) {
                FreeCurveParts(ContextID, p);
                return nullptr;
            }
        } else {
            FindParametricType(ContextID, s.Type, &p->Evals[i], nullptr);
        }
    }

    p->nEntries = nEntries;
    if (nEntries > 0) {
        p->Table16 = static_cast<krmUInt16Number*>(krmCalloc(ContextID, nEntries, sizeof(krmUInt16Number)));
        if (p->Table16 == nullptr) {
            FreeCurveParts(ContextID, p);
            return nullptr;
        }
        if (Values != nullptr) std::memcpy(p->Table16, Values, nEntries * sizeof(krmUInt16Number));

        p->InterpParams = krmComputeInterpParams(ContextID, nEntries, 1, 1, p->Table16, 0);
        if (p->InterpParams == nullptr) {
            FreeCurveParts(ContextID, p);
            return nullptr;
        }
    }

    return p;
}

krmContext CurveContext(const krmToneCurve* t)
{
    return t->InterpParams != nullptr ? t->InterpParams->ContextID : nullptr;
}

// Near-identity gamma curves need only their two end points.
krmUInt32Number EntriesByGamma(krmFloat64Number Gamma)
{
    return (std::fabs(Gamma - 1.0) < 0.001) ? 2 : 4096;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Evaluation
// ---------------------------------------------------------------------------------------------

krmFloat64Number _krmEvalSegmentedFn(const krmToneCurve* g, krmFloat64Number R)
{
    for (krmInt32Number i = krmInt32Number(g->nSegments) - 1; i >= 0; --i) {
        const krmCurveSegment& s = g->Segments[i];
        if ((R > s.x0) && (R <= s.x1)) {
            krmFloat64Number Out;
            if (s.Type == 0) {
                const krmFloat32Number R1 = krmFloat32Number(R - s.x0) / (s.x1 - s.x0);
                krmFloat32Number Out32;
                g->SegInterp[i]->Interpolation.LerpFloat(&R1, &Out32, g->SegInterp[i]);
                Out = Out32;
            } else {
                Out = g->Evals[i](s.Type, s.Params, R);
            }

            if (std::isinf(Out)) return Out > 0 ? krmFloat64Number(krmPLUS_INF) : krmFloat64Number(krmMINUS_INF);
            return Out;
        }
    }
    return krmMINUS_INF;
}

krmUInt16Number krmEvalToneCurve16(const krmToneCurve* Curve, krmUInt16Number v)
{
    _krmAssert(Curve != nullptr);
    return _krmInterpEval1Input16(Curve->InterpParams, v);
}

krmFloat32Number krmEvalToneCurveFloat(const krmToneCurve* Curve, krmFloat32Number v)
{
    _krmAssert(Curve != nullptr);

    // Table-only curves go through the 16-bit table.
    if (Curve->nSegments == 0) {
        const krmUInt16Number In = krmQuickSaturateWord(v * 65535.0);
        return _krmWordToFloat(_krmInterpEval1Input16(Curve->InterpParams, In));
    }

    return krmFloat32Number(_krmEvalSegmentedFn(Curve, v));
}

// ---------------------------------------------------------------------------------------------
// Constructors
// ---------------------------------------------------------------------------------------------

krmToneCurve* krmBuildTabulatedToneCurve16(krmContext ContextID, krmUInt32Number nEntries,
                                           const krmUInt16Number values[])
{
    return AllocateToneCurveStruct(ContextID, nEntries, 0, nullptr, values);
}

krmToneCurve* krmBuildSegmentedToneCurve(krmContext ContextID, krmUInt32Number nSegments,
                                         const krmCurveSegment Segments[])
{
    if (nSegments == 0 || Segments == nullptr) {
        krmSignalError(ContextID, krmErrRange, "Couldn't create tone curve with zero segments and no table");
        return nullptr;
    }

    krmUInt32Number nGridPoints = 4096;
    if (nSegments == 1 && Segments[0].Type == 1) nGridPoints = EntriesByGamma(Segments[0].Params[0]);

    krmToneCurve* g = AllocateToneCurveStruct(ContextID, nGridPoints, nSegments, Segments, nullptr);
    if (g == nullptr) return nullptr;

    // The table is the segmented function sampled at nGridPoints even steps.
    for (krmUInt32Number i = 0; i < nGridPoints; i++) {
        const krmFloat64Number R = krmFloat64Number(i) / krmFloat64Number(nGridPoints - 1);
        const krmFloat64Number Val = _krmEvalSegmentedFn(g, R);
        g->Table16[i] = krmQuickSaturateWord(Val * 65535.0);
    }

    return g;
}

krmToneCurve* krmBuildTabulatedToneCurveFloat(krmContext ContextID, krmUInt32Number nEntries,
                                              const krmFloat32Number values[])
{
    if (nEntries == 0 || values == nullptr) return nullptr;

    krmCurveSegment Seg[3];
    std::memset(Seg, 0, sizeof(Seg));

    // Below 0: the first value, as a constant.
    Seg[0].x0 = krmMINUS_INF;
    Seg[0].x1 = 0;
    Seg[0].Type = 6;
    Seg[0].Params[0] = 1;
    Seg[0].Params[3] = values[0];

    // The samples cover (0, 1].
    Seg[1].x0 = 0;
    Seg[1].x1 = 1.0;
    Seg[1].Type = 0;
    Seg[1].nGridPoints = nEntries;
    Seg[1].SampledPoints = const_cast<krmFloat32Number*>(values);

    // Above 1: the last value, as a constant.
    Seg[2].x0 = 1.0;
    Seg[2].x1 = krmPLUS_INF;
    Seg[2].Type = 6;
    Seg[2].Params[0] = 1;
    Seg[2].Params[3] = values[nEntries - 1];

    return krmBuildSegmentedToneCurve(ContextID, 3, Seg);
}

krmToneCurve* krmBuildParametricToneCurve(krmContext ContextID, krmInt32Number Type, const krmFloat64Number Params[])
{
    krmUInt32Number Count;
    if (!FindParametricType(ContextID, Type, nullptr, &Count)) {
        krmSignalError(ContextID, krmErrUnknownExtension, "Invalid parametric curve type %d", int(Type));
        return nullptr;
    }

    _krmAssert(Params != nullptr);

    krmCurveSegment Seg0;
    std::memset(&Seg0, 0, sizeof(Seg0));
    Seg0.x0 = krmMINUS_INF;
    Seg0.x1 = krmPLUS_INF;
    Seg0.Type = Type;
    for (krmUInt32Number i = 0; i < Count; i++) Seg0.Params[i] = Params[i];

    return krmBuildSegmentedToneCurve(ContextID, 1, &Seg0);
}

krmToneCurve* krmBuildGamma(krmContext ContextID, krmFloat64Number Gamma)
{
    return krmBuildParametricToneCurve(ContextID, 1, &Gamma);
}

void krmFreeToneCurve(krmToneCurve* Curve)
{
    if (Curve == nullptr) return;
    FreeCurveParts(CurveContext(Curve), Curve);
}

void krmFreeToneCurveTriple(krmToneCurve* Curve[3])
{
    _krmAssert(Curve != nullptr);
    for (int i = 0; i < 3; i++) {
        krmFreeToneCurve(Curve[i]);
        Curve[i] = nullptr;
    }
}

krmToneCurve* krmDupToneCurve(const krmToneCurve* In)
{
    if (In == nullptr) return nullptr;
    return AllocateToneCurveStruct(CurveContext(In), In->nEntries, In->nSegments, In->Segments, In->Table16);
}

// ---------------------------------------------------------------------------------------------
// Reversal and joining
// ---------------------------------------------------------------------------------------------

namespace {

// The interval j (between entries j and j + 1, either order, bounds included) that holds In.
// Ascending tables are searched from the top, so that flat stretches at the start lose to the
// rising part; others from the bottom. -1 when none holds it.
//
// Neighbouring intervals share an end, so the intervals from j to the top (or from the bottom to
// j) together cover exactly the range between the smallest and the largest entry they touch. The
// interval a top-down scan would meet first is therefore the highest j whose upper run still
// covers In, found by bisection over running minima and maxima; this keeps reversing a table of
// 32767 entries linear instead of quadratic. Bounds holds 2 x nEntries words, or is null to scan.
class IntervalFinder {
public:
    IntervalFinder(const krmUInt16Number LutTable[], krmUInt32Number nEntries, krmUInt16Number* Bounds)
        : Table(LutTable), n(nEntries), Lo(Bounds), Hi(Bounds ? Bounds + nEntries : nullptr)
    {
        FromTop = n >= 2 && Table[0] < Table[n - 1];
        if (Lo == nullptr || n < 2) return;
        // FromTop: Lo/Hi[k] span entries k..n-1; otherwise entries 0..k.
        if (FromTop) {
            Lo[n - 1] = Hi[n - 1] = Table[n - 1];
            for (krmUInt32Number k = n - 1; k-- > 0;) {
                Lo[k] = std::min(Lo[k + 1], Table[k]);
                Hi[k] = std::max(Hi[k + 1], Table[k]);
            }
        } else {
            Lo[0] = Hi[0] = Table[0];
            for (krmUInt32Number k = 1; k < n; k++) {
                Lo[k] = std::min(Lo[k - 1], Table[k]);
                Hi[k] = std::max(Hi[k - 1], Table[k]);
            }
        }
    }

    int Find(krmFloat64Number In) const
    {
        if (n < 2) return -1;
        const int Domain = int(n) - 1;
        if (Lo == nullptr) return Scan(In, Domain);
        if (FromTop) {
            // Intervals j..Domain-1 span entries j..Domain: highest j whose span holds In.
            if (!Covers(0, In)) return -1;
            int good = 0, bad = Domain;  // Covers(good) holds; j = Domain is no interval
            while (bad - good > 1) {
                const int mid = good + (bad - good) / 2;
                if (Covers(mid, In)) good = mid; else bad = mid;
            }
            return good;
        }
        // Intervals 0..j span entries 0..j+1: lowest j whose span holds In.
        if (!Covers(Domain, In)) return -1;
        int bad = -1, good = Domain - 1;
        while (good - bad > 1) {
            const int mid = bad + (good - bad) / 2;
            if (Covers(mid + 1, In)) good = mid; else bad = mid;
        }
        return good;
    }

private:
    bool Covers(int k, krmFloat64Number In) const { return In >= Lo[k] && In <= Hi[k]; }

    int Scan(krmFloat64Number In, int Domain) const
    {
        auto contains = [&](int i) {
            const krmFloat64Number y0 = Table[i];
            const krmFloat64Number y1 = Table[i + 1];
            if (y1 >= y0) return In >= y0 && In <= y1;
            return In >= y1 && In <= y0;
        };
        if (FromTop) {
            for (int i = Domain - 1; i >= 0; --i)
                if (contains(i)) return i;
        } else {
            for (int i = 0; i < Domain; i++)
                if (contains(i)) return i;
        }
        return -1;
    }

    const krmUInt16Number* Table;
    krmUInt32Number n;
    krmUInt16Number* Lo;
    krmUInt16Number* Hi;
    bool FromTop = false;
};

}  // namespace

krmToneCurve* krmReverseToneCurveEx(krmUInt32Number nResultSamples, const krmToneCurve* InCurve)
{
    _krmAssert(InCurve != nullptr);
    const krmContext ContextID = CurveContext(InCurve);

    // A single parametric segment of a known type inverts analytically.
    if (InCurve->nSegments == 1 && InCurve->Segments[0].Type > 0 &&
        FindParametricType(ContextID, InCurve->Segments[0].Type, nullptr, nullptr)) {
        return krmBuildParametricToneCurve(ContextID, -InCurve->Segments[0].Type, InCurve->Segments[0].Params);
    }

    // Sampling y = i / (n - 1) needs two samples at least.
    if (nResultSamples < 2) {
        krmSignalError(ContextID, krmErrRange, "Couldn't reverse tone curve into %u entries", unsigned(nResultSamples));
        return nullptr;
    }

    krmToneCurve* out = krmBuildTabulatedToneCurve16(ContextID, nResultSamples, nullptr);
    if (out == nullptr) return nullptr;

    const bool Ascending = !krmIsToneCurveDescending(InCurve);
    const krmUInt16Number* Table = InCurve->Table16;
    const krmUInt32Number nEntries = InCurve->nEntries;

    // Without memory for the running bounds the finder scans, with the same answers.
    krmUInt16Number* Bounds =
        nEntries >= 2 ? static_cast<krmUInt16Number*>(krmCalloc(ContextID, 2 * nEntries, sizeof(krmUInt16Number)))
                      : nullptr;
    const IntervalFinder Intervals(Table, nEntries, Bounds);

    // The line of the last interval found; reused where no interval holds y.
    krmFloat64Number a = 0, b = 0;

    for (krmUInt32Number i = 0; i < nResultSamples; i++) {
        const krmFloat64Number y = krmFloat64Number(i) * 65535.0 / (nResultSamples - 1);

        const int j = Intervals.Find(y);
        if (j >= 0) {
            const krmFloat64Number x1 = Table[j];
            const krmFloat64Number x2 = Table[j + 1];
            const krmFloat64Number y1 = krmFloat64Number(j * 65535.0) / (nEntries - 1);
            const krmFloat64Number y2 = krmFloat64Number((j + 1) * 65535.0) / (nEntries - 1);

            // A flat stretch: take its far end in the direction of the curve.
            if (x1 == x2) {
                out->Table16[i] = krmQuickSaturateWord(Ascending ? y2 : y1);
                continue;
            }
            a = (y2 - y1) / (x2 - x1);
            b = y2 - a * x2;
        }

        out->Table16[i] = krmQuickSaturateWord(a * y + b);
    }

    krmFree(ContextID, Bounds);
    return out;
}

krmToneCurve* krmReverseToneCurve(const krmToneCurve* InGamma)
{
    _krmAssert(InGamma != nullptr);
    return krmReverseToneCurveEx(4096, InGamma);
}

// Y^-1(X(t)), sampled at nResultingPoints even steps.
krmToneCurve* krmJoinToneCurve(krmContext ContextID, const krmToneCurve* X, const krmToneCurve* Y,
                               krmUInt32Number nResultingPoints)
{
    _krmAssert(X != nullptr);
    _krmAssert(Y != nullptr);

    // Sampling t = i / (n - 1) needs two samples at least.
    if (nResultingPoints < 2) {
        krmSignalError(ContextID, krmErrRange, "Couldn't join tone curves into %u entries", unsigned(nResultingPoints));
        return nullptr;
    }

    krmToneCurve* Yreversed = krmReverseToneCurveEx(nResultingPoints, Y);
    if (Yreversed == nullptr) return nullptr;

    krmFloat32Number* Res =
        static_cast<krmFloat32Number*>(krmCalloc(ContextID, nResultingPoints, sizeof(krmFloat32Number)));
    if (Res == nullptr) {
        krmFreeToneCurve(Yreversed);
        return nullptr;
    }

    for (krmUInt32Number i = 0; i < nResultingPoints; i++) {
        const krmFloat32Number t = krmFloat32Number(i) / krmFloat32Number(nResultingPoints - 1);
        const krmFloat32Number x = krmEvalToneCurveFloat(X, t);
        Res[i] = krmEvalToneCurveFloat(Yreversed, x);
    }

    krmToneCurve* out = krmBuildTabulatedToneCurveFloat(ContextID, nResultingPoints, Res);

    krmFree(ContextID, Res);
    krmFreeToneCurve(Yreversed);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Queries
// ---------------------------------------------------------------------------------------------

krmBool krmIsToneCurveLinear(const krmToneCurve* Curve)
{
    _krmAssert(Curve != nullptr);
    for (krmUInt32Number i = 0; i < Curve->nEntries; i++) {
        const int diff = std::abs(int(Curve->Table16[i]) - int(krmQuantizeVal(i, Curve->nEntries)));
        if (diff > 0x0F) return false;
    }
    return true;
}

// Allows steps of 2 against the direction, which rounding alone can produce.
krmBool krmIsToneCurveMonotonic(const krmToneCurve* t)
{
    _krmAssert(t != nullptr);
    const krmUInt32Number n = t->nEntries;
    if (n < 2) return true;

    if (krmIsToneCurveDescending(t)) {
        int last = t->Table16[0];
        for (krmUInt32Number i = 1; i < n; i++) {
            if (int(t->Table16[i]) - last > 2) return false;
            last = t->Table16[i];
        }
    } else {
        int last = t->Table16[n - 1];
        for (krmInt32Number i = krmInt32Number(n) - 2; i >= 0; --i) {
            if (int(t->Table16[i]) - last > 2) return false;
            last = t->Table16[i];
        }
    }
    return true;
}

krmBool krmIsToneCurveDescending(const krmToneCurve* t)
{
    _krmAssert(t != nullptr);
    if (t->nEntries == 0) return false;
    return t->Table16[0] > t->Table16[t->nEntries - 1];
}

krmBool krmIsToneCurveMultisegment(const krmToneCurve* t)
{
    _krmAssert(t != nullptr);
    return t->nSegments > 1;
}

krmInt32Number krmGetToneCurveParametricType(const krmToneCurve* t)
{
    _krmAssert(t != nullptr);
    if (t->nSegments != 1) return 0;
    return t->Segments[0].Type;
}

const krmCurveSegment* krmGetToneCurveSegment(const krmToneCurve* t, krmInt32Number n)
{
    _krmAssert(t != nullptr);
    if (n < 0 || krmUInt32Number(n) >= t->nSegments) return nullptr;
    return t->Segments + n;
}

krmUInt32Number krmGetToneCurveEstimatedTableEntries(const krmToneCurve* t)
{
    _krmAssert(t != nullptr);
    return t->nEntries;
}

const krmUInt16Number* krmGetToneCurveEstimatedTable(const krmToneCurve* t)
{
    _krmAssert(t != nullptr);
    return t->Table16;
}

// The mean of the exponents ln(y) / ln(x) over the curve's interior, rejected when
// the exponents spread more than Precision (the curve is then no power function). The dark end
// (x <= 0.07) is left out, where offsets and linear toes dominate.
krmFloat64Number krmEstimateGamma(const krmToneCurve* t, krmFloat64Number Precision)
{
    _krmAssert(t != nullptr);

    krmFloat64Number sum = 0, sum2 = 0, n = 0;
    for (krmUInt32Number i = 1; i < 4096; i++) {
        const krmFloat64Number x = krmFloat64Number(i) / 4096.0;
        const krmFloat64Number y = krmEvalToneCurveFloat(t, krmFloat32Number(x));

        if (y > 0. && y < 1. && x > 0.07) {
            const krmFloat64Number gamma = std::log(y) / std::log(x);
            sum += gamma;
            sum2 += gamma * gamma;
            n++;
        }
    }

    if (n <= 1) return -1.0;

    // Rounding can make the variance a hair below zero for a perfect power curve.
    krmFloat64Number variance = (n * sum2 - sum * sum) / (n * (n - 1));
    if (variance < 0) variance = 0;
    const krmFloat64Number Std = std::sqrt(variance);
    if (Std > Precision) return -1.0;

    return sum / n;
}
