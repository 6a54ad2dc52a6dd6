// Small vector and 3 x 3 matrix algebra, row-major: v[row].n[column].
#include "krm_internal.h"

#include <cmath>

void krmVEC3init(krmVEC3* r, krmFloat64Number x, krmFloat64Number y, krmFloat64Number z)
{
    r->n[0] = x;
    r->n[1] = y;
    r->n[2] = z;
}

void krmVEC3minus(krmVEC3* r, const krmVEC3* a, const krmVEC3* b)
{
    for (int i = 0; i < 3; i++) r->n[i] = a->n[i] - b->n[i];
}

void krmVEC3cross(krmVEC3* r, const krmVEC3* u, const krmVEC3* v)
{
    // The inputs may alias the result.
    const krmVEC3 a = *u, b = *v;
    r->n[0] = a.n[1] * b.n[2] - b.n[1] * a.n[2];
    r->n[1] = a.n[2] * b.n[0] - b.n[2] * a.n[0];
    r->n[2] = a.n[0] * b.n[1] - b.n[0] * a.n[1];
}

krmFloat64Number krmVEC3dot(const krmVEC3* u, const krmVEC3* v)
{
    return u->n[0] * v->n[0] + u->n[1] * v->n[1] + u->n[2] * v->n[2];
}

krmFloat64Number krmVEC3length(const krmVEC3* a)
{
    return std::sqrt(krmVEC3dot(a, a));
}

krmFloat64Number krmVEC3distance(const krmVEC3* a, const krmVEC3* b)
{
    krmVEC3 d;
    krmVEC3minus(&d, a, b);
    return krmVEC3length(&d);
}

void krmMAT3Identity(krmMAT3* a)
{
    krmVEC3init(&a->v[0], 1.0, 0.0, 0.0);
    krmVEC3init(&a->v[1], 0.0, 1.0, 0.0);
    krmVEC3init(&a->v[2], 0.0, 0.0, 1.0);
}

krmBool krmMAT3IsIdentity(const krmMAT3* a)
{
    // One 16-bit step: anything closer cannot change an encoded result.
    const krmFloat64Number Tolerance = 1.0 / 65535.0;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            const krmFloat64Number expected = (i == j) ? 1.0 : 0.0;
            if (!(std::fabs(a->v[i].n[j] - expected) < Tolerance)) return false;
        }
    return true;
}

void krmMAT3Multiply(krmMAT3* r, const krmMAT3* a, const krmMAT3* b)
{
    // The inputs may alias the result.
    krmMAT3 t;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            t.v[i].n[j] = a->v[i].n[0] * b->v[0].n[j] + a->v[i].n[1] * b->v[1].n[j] + a->v[i].n[2] * b->v[2].n[j];
    *r = t;
}

// Adjugate over determinant.
krmBool krmMAT3Inverse(const krmMAT3* a, krmMAT3* b)
{
    const krmMAT3 m = *a;
    const krmFloat64Number c0 = m.v[1].n[1] * m.v[2].n[2] - m.v[1].n[2] * m.v[2].n[1];
    const krmFloat64Number c1 = -m.v[1].n[0] * m.v[2].n[2] + m.v[1].n[2] * m.v[2].n[0];
    const krmFloat64Number c2 = m.v[1].n[0] * m.v[2].n[1] - m.v[1].n[1] * m.v[2].n[0];

    const krmFloat64Number det = m.v[0].n[0] * c0 + m.v[0].n[1] * c1 + m.v[0].n[2] * c2;
    if (!(std::fabs(det) >= krmMATRIX_DET_TOLERANCE)) return false;

    b->v[0].n[0] = c0 / det;
    b->v[0].n[1] = (m.v[0].n[2] * m.v[2].n[1] - m.v[0].n[1] * m.v[2].n[2]) / det;
    b->v[0].n[2] = (m.v[0].n[1] * m.v[1].n[2] - m.v[0].n[2] * m.v[1].n[1]) / det;
    b->v[1].n[0] = c1 / det;
    b->v[1].n[1] = (m.v[0].n[0] * m.v[2].n[2] - m.v[0].n[2] * m.v[2].n[0]) / det;
    b->v[1].n[2] = (m.v[0].n[2] * m.v[1].n[0] - m.v[0].n[0] * m.v[1].n[2]) / det;
    b->v[2].n[0] = c2 / det;
    b->v[2].n[1] = (m.v[0].n[1] * m.v[2].n[0] - m.v[0].n[0] * m.v[2].n[1]) / det;
    b->v[2].n[2] = (m.v[0].n[0] * m.v[1].n[1] - m.v[0].n[1] * m.v[1].n[0]) / det;
    return true;
}

krmBool krmMAT3Solve(krmVEC3* x, const krmMAT3* a, const krmVEC3* b)
{
    krmMAT3 inv;
    if (!krmMAT3Inverse(a, &inv)) return false;
    krmMAT3Eval(x, &inv, b);
    return true;
}

void krmMAT3Eval(krmVEC3* r, const krmMAT3* a, const krmVEC3* v)
{
    const krmVEC3 t = *v;
    r->n[0] = a->v[0].n[0] * t.n[0] + a->v[0].n[1] * t.n[1] + a->v[0].n[2] * t.n[2];
    r->n[1] = a->v[1].n[0] * t.n[0] + a->v[1].n[1] * t.n[1] + a->v[1].n[2] * t.n[2];
    r->n[2] = a->v[2].n[0] * t.n[0] + a->v[2].n[1] * t.n[1] + a->v[2].n[2] * t.n[2];
}
