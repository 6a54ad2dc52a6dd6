// Interpolation over regular grids: the routine is chosen once per table from its number of
// inputs and outputs and its precision. 16-bit routines work in 16.16 fixed point; single-precision
// routines clamp their inputs to [0, 1]. Evaluation allocates nothing.
#include "krm_internal.h"

#include <cmath>

namespace {

typedef krmUInt16Number Word;
typedef krmFloat32Number Float;
typedef std::int64_t Wide;  // fixed-point products exceed 32 bits

// ---------------------------------------------------------------------------------------------
// Shared arithmetic
// ---------------------------------------------------------------------------------------------

// Inputs below 1e-9 (and NaN) are 0, above 1 are 1.
inline Float fclamp(Float v)
{
    return ((v < 1.0e-9f) || std::isnan(v)) ? 0.0f : (v > 1.0f ? 1.0f : v);
}

// A linear step from l towards h by the 16-bit fraction a, rounded. 64 bits keep the product
// exact for the full range of differences and fractions.
inline Word LinearInterp(krmInt32Number a, krmInt32Number l, krmInt32Number h)
{
    const Wide dif = Wide(h - l) * a + 0x8000;
    return Word((dif >> 16) + l);
}

// The cell and fraction of a 16-bit input on an input of Domain intervals.
struct FixedCell {
    krmUInt32Number cell;
    krmInt32Number rest;
};

inline FixedCell ToCell(Word v, krmUInt32Number Domain)
{
    const krmUInt64Number fk = krmToFixedDomain(krmUInt64Number(v) * Domain);
    return {krmUInt32Number(fk >> 16), krmInt32Number(fk & 0xFFFF)};
}

// Offset of the upper neighbour: none on the last node (or a one-point grid).
inline krmUInt32Number Upper16(Word v, krmUInt32Number Domain, krmUInt32Number stride)
{
    return (v == 0xFFFF || Domain == 0) ? 0 : stride;
}

// The cell and fraction of a clamped single-precision input.
struct FloatCell {
    krmUInt32Number cell;
    Float rest;
    bool top;  // no upper neighbour
};

inline FloatCell ToCell(Float x, krmUInt32Number Domain)
{
    const Float px = x * Float(Domain);
    const Float fl = std::floor(px);
    FloatCell c{krmUInt32Number(fl), px - fl, x >= 1.0f || Domain == 0};
    // x just below 1 can round up to the last node; it has no cell above it.
    if (c.cell >= Domain) {
        c.cell = Domain;
        c.rest = 0;
        c.top = true;
    }
    return c;
}

inline Float Lerp(Float a, Float l, Float h)
{
    return l + (h - l) * a;
}

// ---------------------------------------------------------------------------------------------
// One input
// ---------------------------------------------------------------------------------------------

void LinLerp1Dfloat(const Float Value[], Float Output[], const krmInterpParams* p)
{
    const Float* LutTable = static_cast<const Float*>(p->Table);
    Float val2 = fclamp(Value[0]);

    if (val2 == 1.0f || p->Domain[0] == 0) {
        Output[0] = LutTable[p->Domain[0]];
        return;
    }

    val2 *= Float(p->Domain[0]);
    const int cell0 = int(std::floor(val2));
    const int cell1 = int(std::ceil(val2));
    const Float rest = val2 - Float(cell0);

    const Float y0 = LutTable[cell0];
    const Float y1 = LutTable[cell1];
    Output[0] = y0 + (y1 - y0) * rest;
}

void Eval1Input(const Word Input[], Word Output[], const krmInterpParams* p)
{
    const Word* LutTable = static_cast<const Word*>(p->Table);
    const krmUInt32Number nOut = p->nOutputs;

    if (Input[0] == 0xFFFF || p->Domain[0] == 0) {
        const krmUInt32Number y0 = p->Domain[0] * p->opta[0];
        for (krmUInt32Number o = 0; o < nOut; o++) Output[o] = LutTable[y0 + o];
        return;
    }

    const FixedCell c = ToCell(Input[0], p->Domain[0]);
    const krmUInt32Number K0 = p->opta[0] * c.cell;
    const krmUInt32Number K1 = K0 + p->opta[0];
    for (krmUInt32Number o = 0; o < nOut; o++) Output[o] = LinearInterp(c.rest, LutTable[K0 + o], LutTable[K1 + o]);
}

void Eval1InputFloat(const Float Value[], Float Output[], const krmInterpParams* p)
{
    const Float* LutTable = static_cast<const Float*>(p->Table);
    const krmUInt32Number nOut = p->nOutputs;
    Float val2 = fclamp(Value[0]);

    if (val2 == 1.0f || p->Domain[0] == 0) {
        const krmUInt32Number start = p->Domain[0] * p->opta[0];
        for (krmUInt32Number o = 0; o < nOut; o++) Output[o] = LutTable[start + o];
        return;
    }

    val2 *= Float(p->Domain[0]);
    const int cell0 = int(std::floor(val2));
    const int cell1 = int(std::ceil(val2));
    const Float rest = val2 - Float(cell0);

    const krmUInt32Number K0 = p->opta[0] * krmUInt32Number(cell0);
    const krmUInt32Number K1 = p->opta[0] * krmUInt32Number(cell1);
    for (krmUInt32Number o = 0; o < nOut; o++) {
        const Float y0 = LutTable[K0 + o];
        const Float y1 = LutTable[K1 + o];
        Output[o] = y0 + (y1 - y0) * rest;
    }
}

// ---------------------------------------------------------------------------------------------
// Two inputs
// ---------------------------------------------------------------------------------------------

void BilinearInterp16(const Word Input[], Word Output[], const krmInterpParams* p)
{
    const Word* LutTable = static_cast<const Word*>(p->Table);
    const krmUInt32Number nOut = p->nOutputs;

    const FixedCell cx = ToCell(Input[0], p->Domain[0]);
    const FixedCell cy = ToCell(Input[1], p->Domain[1]);

    const krmUInt32Number X0 = p->opta[1] * cx.cell;
    const krmUInt32Number X1 = X0 + Upper16(Input[0], p->Domain[0], p->opta[1]);
    const krmUInt32Number Y0 = p->opta[0] * cy.cell;
    const krmUInt32Number Y1 = Y0 + Upper16(Input[1], p->Domain[1], p->opta[0]);

    for (krmUInt32Number o = 0; o < nOut; o++) {
        const Word d00 = LutTable[X0 + Y0 + o];
        const Word d01 = LutTable[X0 + Y1 + o];
        const Word d10 = LutTable[X1 + Y0 + o];
        const Word d11 = LutTable[X1 + Y1 + o];

        const Word dx0 = LinearInterp(cx.rest, d00, d10);
        const Word dx1 = LinearInterp(cx.rest, d01, d11);
        Output[o] = LinearInterp(cy.rest, dx0, dx1);
    }
}

void BilinearInterpFloat(const Float Input[], Float Output[], const krmInterpParams* p)
{
    const Float* LutTable = static_cast<const Float*>(p->Table);
    const krmUInt32Number nOut = p->nOutputs;

    const FloatCell cx = ToCell(fclamp(Input[0]), p->Domain[0]);
    const FloatCell cy = ToCell(fclamp(Input[1]), p->Domain[1]);

    const krmUInt32Number X0 = p->opta[1] * cx.cell;
    const krmUInt32Number X1 = X0 + (cx.top ? 0 : p->opta[1]);
    const krmUInt32Number Y0 = p->opta[0] * cy.cell;
    const krmUInt32Number Y1 = Y0 + (cy.top ? 0 : p->opta[0]);

    for (krmUInt32Number o = 0; o < nOut; o++) {
        const Float d00 = LutTable[X0 + Y0 + o];
        const Float d01 = LutTable[X0 + Y1 + o];
        const Float d10 = LutTable[X1 + Y0 + o];
        const Float d11 = LutTable[X1 + Y1 + o];

        const Float dx0 = Lerp(cx.rest, d00, d10);
        const Float dx1 = Lerp(cx.rest, d01, d11);
        Output[o] = Lerp(cy.rest, dx0, dx1);
    }
}

// ---------------------------------------------------------------------------------------------
// Three inputs
// ---------------------------------------------------------------------------------------------

void TrilinearInterp16(const Word Input[], Word Output[], const krmInterpParams* p)
{
    const Word* LutTable = static_cast<const Word*>(p->Table);
    const krmUInt32Number nOut = p->nOutputs;

    const FixedCell cx = ToCell(Input[0], p->Domain[0]);
    const FixedCell cy = ToCell(Input[1], p->Domain[1]);
    const FixedCell cz = ToCell(Input[2], p->Domain[2]);

    const krmUInt32Number X0 = p->opta[2] * cx.cell;
    const krmUInt32Number X1 = X0 + Upper16(Input[0], p->Domain[0], p->opta[2]);
    const krmUInt32Number Y0 = p->opta[1] * cy.cell;
    const krmUInt32Number Y1 = Y0 + Upper16(Input[1], p->Domain[1], p->opta[1]);
    const krmUInt32Number Z0 = p->opta[0] * cz.cell;
    const krmUInt32Number Z1 = Z0 + Upper16(Input[2], p->Domain[2], p->opta[0]);

    for (krmUInt32Number o = 0; o < nOut; o++) {
        const Word d000 = LutTable[X0 + Y0 + Z0 + o];
        const Word d001 = LutTable[X0 + Y0 + Z1 + o];
        const Word d010 = LutTable[X0 + Y1 + Z0 + o];
        const Word d011 = LutTable[X0 + Y1 + Z1 + o];
        const Word d100 = LutTable[X1 + Y0 + Z0 + o];
        const Word d101 = LutTable[X1 + Y0 + Z1 + o];
        const Word d110 = LutTable[X1 + Y1 + Z0 + o];
        const Word d111 = LutTable[X1 + Y1 + Z1 + o];

        const Word dx00 = LinearInterp(cx.rest, d000, d100);
        const Word dx01 = LinearInterp(cx.rest, d001, d101);
        const Word dx10 = LinearInterp(cx.rest, d010, d110);
        const Word dx11 = LinearInterp(cx.rest, d011, d111);

        const Word dxy0 = LinearInterp(cy.rest, dx00, dx10);
        const Word dxy1 = LinearInterp(cy.rest, dx01, dx11);

        Output[o] = LinearInterp(cz.rest, dxy0, dxy1);
    }
}

void TrilinearInterpFloat(const Float Input[], Float Output[], const krmInterpParams* p)
{
    const Float* LutTable = static_cast<const Float*>(p->Table);
    const krmUInt32Number nOut = p->nOutputs;

    const FloatCell cx = ToCell(fclamp(Input[0]), p->Domain[0]);
    const FloatCell cy = ToCell(fclamp(Input[1]), p->Domain[1]);
    const FloatCell cz = ToCell(fclamp(Input[2]), p->Domain[2]);

    const krmUInt32Number X0 = p->opta[2] * cx.cell;
    const krmUInt32Number X1 = X0 + (cx.top ? 0 : p->opta[2]);
    const krmUInt32Number Y0 = p->opta[1] * cy.cell;
    const krmUInt32Number Y1 = Y0 + (cy.top ? 0 : p->opta[1]);
    const krmUInt32Number Z0 = p->opta[0] * cz.cell;
    const krmUInt32Number Z1 = Z0 + (cz.top ? 0 : p->opta[0]);

    for (krmUInt32Number o = 0; o < nOut; o++) {
        const Float d000 = LutTable[X0 + Y0 + Z0 + o];
        const Float d001 = LutTable[X0 + Y0 + Z1 + o];
        const Float d010 = LutTable[X0 + Y1 + Z0 + o];
        const Float d011 = LutTable[X0 + Y1 + Z1 + o];
        const Float d100 = LutTable[X1 + Y0 + Z0 + o];
        const Float d101 = LutTable[X1 + Y0 + Z1 + o];
        const Float d110 = LutTable[X1 + Y1 + Z0 + o];
        const Float d111 = LutTable[X1 + Y1 + Z1 + o];

        const Float dx00 = Lerp(cx.rest, d000, d100);
        const Float dx01 = Lerp(cx.rest, d001, d101);
        const Float dx10 = Lerp(cx.rest, d010, d110);
        const Float dx11 = Lerp(cx.rest, d011, d111);

        const Float dxy0 = Lerp(cy.rest, dx00, dx10);
        const Float dxy1 = Lerp(cy.rest, dx01, dx11);

        Output[o] = Lerp(cz.rest, dxy0, dxy1);
    }
}

// Tetrahedral interpolation on the three inputs starting at dimension `dim` (the last three of
// the grid), on the sub-table at LutTable. The cube is split along its main diagonal into six
// tetrahedra; the ordering of the fractions picks one, and the path from the base corner to the
// far corner along its edges gives the three coefficients.
void Tetrahedral16(const Word Input[], Word Output[], const Word* LutTable, const krmInterpParams* p,
                   krmUInt32Number dim)
{
    const krmUInt32Number nOut = p->nOutputs;

    const FixedCell cx = ToCell(Input[0], p->Domain[dim]);
    const FixedCell cy = ToCell(Input[1], p->Domain[dim + 1]);
    const FixedCell cz = ToCell(Input[2], p->Domain[dim + 2]);
    const krmInt32Number rx = cx.rest, ry = cy.rest, rz = cz.rest;

    const krmUInt32Number X1 = Upper16(Input[0], p->Domain[dim], p->opta[2]);
    const krmUInt32Number Y1 = Upper16(Input[1], p->Domain[dim + 1], p->opta[1]);
    const krmUInt32Number Z1 = Upper16(Input[2], p->Domain[dim + 2], p->opta[0]);

    const Word* base = LutTable + p->opta[2] * cx.cell + p->opta[1] * cy.cell + p->opta[0] * cz.cell;

    // Path p, q, s: corners A = (p), B = (p, q), C = (p, q, s) and the fractions of p, q, s.
    krmUInt32Number A, B;
    krmInt32Number rp, rq, rs;
    if (rx >= ry) {
        if (ry >= rz) {  // x, y, z
            A = X1, B = X1 + Y1, rp = rx, rq = ry, rs = rz;
        } else if (rz < rx) {  // x, z, y
            A = X1, B = X1 + Z1, rp = rx, rq = rz, rs = ry;
        } else {  // z, x, y
            A = Z1, B = X1 + Z1, rp = rz, rq = rx, rs = ry;
        }
    } else {
        if (rx >= rz) {  // y, x, z
            A = Y1, B = X1 + Y1, rp = ry, rq = rx, rs = rz;
        } else if (rz > ry) {  // z, y, x
            A = Z1, B = Y1 + Z1, rp = rz, rq = ry, rs = rx;
        } else {  // y, z, x
            A = Y1, B = Y1 + Z1, rp = ry, rq = rz, rs = rx;
        }
    }
    const krmUInt32Number C = X1 + Y1 + Z1;

    for (krmUInt32Number o = 0; o < nOut; o++) {
        const Wide c0 = base[o];
        const Wide c1 = Wide(base[A + o]) - c0;
        const Wide c2 = Wide(base[B + o]) - base[A + o];
        const Wide c3 = Wide(base[C + o]) - base[B + o];

        // R / 65535 rounded: (R + (R >> 16)) / 65536 with a rounding bias of 0x8001.
        const Wide R = c1 * rp + c2 * rq + c3 * rs;
        const Wide Tmp1 = R + 0x8001;
        Output[o] = Word(c0 + ((Tmp1 + (Tmp1 >> 16)) >> 16));
    }
}

void TetrahedralFloat(const Float Input[], Float Output[], const Float* LutTable, const krmInterpParams* p,
                      krmUInt32Number dim)
{
    const krmUInt32Number nOut = p->nOutputs;

    const FloatCell cx = ToCell(fclamp(Input[0]), p->Domain[dim]);
    const FloatCell cy = ToCell(fclamp(Input[1]), p->Domain[dim + 1]);
    const FloatCell cz = ToCell(fclamp(Input[2]), p->Domain[dim + 2]);
    const Float rx = cx.rest, ry = cy.rest, rz = cz.rest;

    const krmUInt32Number X1 = cx.top ? 0 : p->opta[2];
    const krmUInt32Number Y1 = cy.top ? 0 : p->opta[1];
    const krmUInt32Number Z1 = cz.top ? 0 : p->opta[0];

    const Float* base = LutTable + p->opta[2] * cx.cell + p->opta[1] * cy.cell + p->opta[0] * cz.cell;
    const krmUInt32Number XYZ = X1 + Y1 + Z1;

    for (krmUInt32Number o = 0; o < nOut; o++) {
        const Float c0 = base[o];
        Float c1, c2, c3;  // coefficients of x, y and z

        if (rx >= ry && ry >= rz) {  // x, y, z
            c1 = base[X1 + o] - c0;
            c2 = base[X1 + Y1 + o] - base[X1 + o];
            c3 = base[XYZ + o] - base[X1 + Y1 + o];
        } else if (rx >= rz && rz >= ry) {  // x, z, y
            c1 = base[X1 + o] - c0;
            c2 = base[XYZ + o] - base[X1 + Z1 + o];
            c3 = base[X1 + Z1 + o] - base[X1 + o];
        } else if (rz >= rx && rx >= ry) {  // z, x, y
            c1 = base[X1 + Z1 + o] - base[Z1 + o];
            c2 = base[XYZ + o] - base[X1 + Z1 + o];
            c3 = base[Z1 + o] - c0;
        } else if (ry >= rx && rx >= rz) {  // y, x, z
            c1 = base[X1 + Y1 + o] - base[Y1 + o];
            c2 = base[Y1 + o] - c0;
            c3 = base[XYZ + o] - base[X1 + Y1 + o];
        } else if (ry >= rz && rz >= rx) {  // y, z, x
            c1 = base[XYZ + o] - base[Y1 + Z1 + o];
            c2 = base[Y1 + o] - c0;
            c3 = base[Y1 + Z1 + o] - base[Y1 + o];
        } else {  // z, y, x
            c1 = base[XYZ + o] - base[Y1 + Z1 + o];
            c2 = base[Y1 + Z1 + o] - base[Z1 + o];
            c3 = base[Z1 + o] - c0;
        }

        Output[o] = c0 + c1 * rx + c2 * ry + c3 * rz;
    }
}

void TetrahedralInterp16(const Word Input[], Word Output[], const krmInterpParams* p)
{
    Tetrahedral16(Input, Output, static_cast<const Word*>(p->Table), p, 0);
}

void TetrahedralInterpFloat(const Float Input[], Float Output[], const krmInterpParams* p)
{
    TetrahedralFloat(Input, Output, static_cast<const Float*>(p->Table), p, 0);
}

// ---------------------------------------------------------------------------------------------
// Four to fifteen inputs: linear along the first input between two evaluations of the rest
// ---------------------------------------------------------------------------------------------

// N is the number of inputs still to interpolate, Input points at the first of them, and LutTable
// at the sub-table they index. Their strides are opta[N - 1] ... opta[0].
template <int N>
void EvalN16(const Word Input[], Word Output[], const Word* LutTable, const krmInterpParams* p)
{
    if constexpr (N == 3) {
        Tetrahedral16(Input, Output, LutTable, p, p->nInputs - 3);
    } else {
        const krmUInt32Number dim = p->nInputs - N;
        const krmUInt32Number nOut = p->nOutputs;
        Word Tmp1[krmMAX_STAGE_CHANNELS], Tmp2[krmMAX_STAGE_CHANNELS];

        const FixedCell ck = ToCell(Input[0], p->Domain[dim]);
        const krmUInt32Number K0 = p->opta[N - 1] * ck.cell;
        const krmUInt32Number K1 = K0 + Upper16(Input[0], p->Domain[dim], p->opta[N - 1]);

        EvalN16<N - 1>(Input + 1, Tmp1, LutTable + K0, p);
        EvalN16<N - 1>(Input + 1, Tmp2, LutTable + K1, p);

        for (krmUInt32Number o = 0; o < nOut; o++) Output[o] = LinearInterp(ck.rest, Tmp1[o], Tmp2[o]);
    }
}

template <int N>
void EvalNFloat(const Float Input[], Float Output[], const Float* LutTable, const krmInterpParams* p)
{
    if constexpr (N == 3) {
        TetrahedralFloat(Input, Output, LutTable, p, p->nInputs - 3);
    } else {
        const krmUInt32Number dim = p->nInputs - N;
        const krmUInt32Number nOut = p->nOutputs;
        Float Tmp1[krmMAX_STAGE_CHANNELS], Tmp2[krmMAX_STAGE_CHANNELS];

        const FloatCell ck = ToCell(fclamp(Input[0]), p->Domain[dim]);
        const krmUInt32Number K0 = p->opta[N - 1] * ck.cell;
        const krmUInt32Number K1 = K0 + (ck.top ? 0 : p->opta[N - 1]);

        EvalNFloat<N - 1>(Input + 1, Tmp1, LutTable + K0, p);
        EvalNFloat<N - 1>(Input + 1, Tmp2, LutTable + K1, p);

        for (krmUInt32Number o = 0; o < nOut; o++) Output[o] = Tmp1[o] + (Tmp2[o] - Tmp1[o]) * ck.rest;
    }
}

template <int N>
void EvalInputs16(const Word Input[], Word Output[], const krmInterpParams* p)
{
    EvalN16<N>(Input, Output, static_cast<const Word*>(p->Table), p);
}

template <int N>
void EvalInputsFloat(const Float Input[], Float Output[], const krmInterpParams* p)
{
    EvalNFloat<N>(Input, Output, static_cast<const Float*>(p->Table), p);
}

// Routines for 4 to 15 inputs, indexed by the number of inputs.
constexpr krmInterpFn16 Many16[krmMAX_INPUT_DIMENSIONS + 1] = {
    nullptr,          nullptr,          nullptr,           nullptr,           EvalInputs16<4>,   EvalInputs16<5>,
    EvalInputs16<6>,  EvalInputs16<7>,  EvalInputs16<8>,   EvalInputs16<9>,   EvalInputs16<10>,  EvalInputs16<11>,
    EvalInputs16<12>, EvalInputs16<13>, EvalInputs16<14>,  EvalInputs16<15>,
};

constexpr krmInterpFnFloat ManyFloat[krmMAX_INPUT_DIMENSIONS + 1] = {
    nullptr,             nullptr,             nullptr,             nullptr,
    EvalInputsFloat<4>,  EvalInputsFloat<5>,  EvalInputsFloat<6>,  EvalInputsFloat<7>,
    EvalInputsFloat<8>,  EvalInputsFloat<9>,  EvalInputsFloat<10>, EvalInputsFloat<11>,
    EvalInputsFloat<12>, EvalInputsFloat<13>, EvalInputsFloat<14>, EvalInputsFloat<15>,
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Routine choice and parameters
// ---------------------------------------------------------------------------------------------

krmInterpFunction _krmDefaultInterpolatorsFactory(krmUInt32Number nInputChannels, krmUInt32Number nOutputChannels,
                                                  krmUInt32Number dwFlags)
{
    krmInterpFunction Interpolation;
    Interpolation.Lerp16 = nullptr;

    const bool IsFloat = (dwFlags & krmInterpFlagFloat) != 0;
    const bool IsTrilinear = (dwFlags & krmInterpFlagTrilinear) != 0;

    // The recursive routines keep their partial results in fixed vectors.
    if (nInputChannels >= 4 && nOutputChannels >= krmMAX_STAGE_CHANNELS) return Interpolation;

    switch (nInputChannels) {
    case 1:
        if (nOutputChannels == 1) {
            if (IsFloat)
                Interpolation.LerpFloat = LinLerp1Dfloat;
            else
                Interpolation.Lerp16 = _krmLinLerp1D;
        } else {
            if (IsFloat)
                Interpolation.LerpFloat = Eval1InputFloat;
            else
                Interpolation.Lerp16 = Eval1Input;
        }
        break;
    case 2:
        if (IsFloat)
            Interpolation.LerpFloat = BilinearInterpFloat;
        else
            Interpolation.Lerp16 = BilinearInterp16;
        break;
    case 3:
        if (IsTrilinear) {
            if (IsFloat)
                Interpolation.LerpFloat = TrilinearInterpFloat;
            else
                Interpolation.Lerp16 = TrilinearInterp16;
        } else {
            if (IsFloat)
                Interpolation.LerpFloat = TetrahedralInterpFloat;
            else
                Interpolation.Lerp16 = TetrahedralInterp16;
        }
        break;
    default:
        if (nInputChannels >= 4 && nInputChannels <= krmMAX_INPUT_DIMENSIONS) {
            if (IsFloat)
                Interpolation.LerpFloat = ManyFloat[nInputChannels];
            else
                Interpolation.Lerp16 = Many16[nInputChannels];
        }
        break;
    }
    return Interpolation;
}

krmBool krmSetInterpolationRoutine(krmContext ContextID, krmInterpParams* p)
{
    _krmAssert(p != nullptr);

    p->Interpolation.Lerp16 = nullptr;

    // A plug-in factory is asked first; a null routine falls back to the built-in choice.
    const krmPluginInterpolation* Plugin =
        reinterpret_cast<const krmPluginInterpolation*>(_krmGetPluginSlot(ContextID, krmPluginInterpolationSig));
    if (Plugin != nullptr && Plugin->InterpolatorsFactory != nullptr)
        p->Interpolation = Plugin->InterpolatorsFactory(p->nInputs, p->nOutputs, p->dwFlags);

    if (p->Interpolation.Lerp16 == nullptr)
        p->Interpolation = _krmDefaultInterpolatorsFactory(p->nInputs, p->nOutputs, p->dwFlags);

    return p->Interpolation.Lerp16 != nullptr;
}

krmInterpParams* krmComputeInterpParamsEx(krmContext ContextID, const krmUInt32Number nSamples[],
                                          krmUInt32Number InputChan, krmUInt32Number OutputChan, const void* Table,
                                          krmUInt32Number dwFlags)
{
    if (InputChan > krmMAX_INPUT_DIMENSIONS) {
        krmSignalError(ContextID, krmErrRange, "Too many input channels (%d channels, max=%d)", int(InputChan),
                       krmMAX_INPUT_DIMENSIONS);
        return nullptr;
    }

    // A grid needs a node on every input, and its strides must be addressable.
    krmUInt64Number stride = OutputChan;
    for (krmUInt32Number i = 0; i < InputChan; i++) {
        if (nSamples[i] == 0) {
            krmSignalError(ContextID, krmErrRange, "Interpolation grid without points on input %d", int(i));
            return nullptr;
        }
        stride *= nSamples[i];
        if (stride > 0xFFFFFFFFu) {
            krmSignalError(ContextID, krmErrRange, "Interpolation grid too large");
            return nullptr;
        }
    }

    krmInterpParams* p = static_cast<krmInterpParams*>(krmMallocZero(ContextID, sizeof(krmInterpParams)));
    if (p == nullptr) return nullptr;

    p->ContextID = ContextID;
    p->dwFlags = dwFlags;
    p->nInputs = InputChan;
    p->nOutputs = OutputChan;
    p->Table = Table;

    for (krmUInt32Number i = 0; i < InputChan; i++) {
        p->nSamples[i] = nSamples[i];
        p->Domain[i] = nSamples[i] - 1;
    }

    // The last input varies fastest: opta[0] belongs to it.
    p->opta[0] = p->nOutputs;
    for (krmUInt32Number i = 1; i < InputChan; i++) p->opta[i] = p->opta[i - 1] * nSamples[InputChan - i];

    if (!krmSetInterpolationRoutine(ContextID, p)) {
        krmSignalError(ContextID, krmErrUnknownExtension, "Unsupported interpolation (%d->%d channels)", int(InputChan),
                       int(OutputChan));
        krmFree(ContextID, p);
        return nullptr;
    }

    return p;
}

krmInterpParams* krmComputeInterpParams(krmContext ContextID, krmUInt32Number nSamples, krmUInt32Number InputChan,
                                        krmUInt32Number OutputChan, const void* Table, krmUInt32Number dwFlags)
{
    krmUInt32Number Samples[krmMAX_INPUT_DIMENSIONS];
    for (krmUInt32Number i = 0; i < krmMAX_INPUT_DIMENSIONS; i++) Samples[i] = nSamples;
    return krmComputeInterpParamsEx(ContextID, Samples, InputChan, OutputChan, Table, dwFlags);
}

void krmFreeInterpParams(krmInterpParams* p)
{
    if (p != nullptr) krmFree(p->ContextID, p);
}

void _krmLinLerp1D(const krmUInt16Number Value[], krmUInt16Number Output[], const krmInterpParams* p)
{
    Output[0] = _krmLinLerp16(static_cast<const krmUInt16Number*>(p->Table), p->Domain[0], Value[0]);
}

krmBool _krmIsTetrahedral16(const krmInterpParams* p)
{
    return p && p->Interpolation.Lerp16 == TetrahedralInterp16;
}

krmBool _krmIsEval4Inputs16(const krmInterpParams* p)
{
    return p && p->Interpolation.Lerp16 == Many16[4];
}
