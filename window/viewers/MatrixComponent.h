#pragma once

#include "window/widgets/IProfileComponentView.h"

#include <krm.h>

class MatrixWidget;

// The chromatic adaptation matrix of 'chad' or 'arts', with the illuminant it adapts from
// estimated by mapping D50 back through it. Stays empty when the tag cannot be read.
class ChadTagComponent : public IProfileComponentView
{
    Q_OBJECT

public:
    ChadTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);

    // Null when the viewer stayed empty.
    MatrixWidget* matrixWidget() const { return matrix_; }

private:
    MatrixWidget* matrix_ = nullptr;
};

// One matrix stage of a LUT-like tag's pipeline (stage index from 0). Stays empty without the
// stage.
class MatrixComponent : public IProfileComponentView
{
    Q_OBJECT

public:
    MatrixComponent(krmProfile profile, krmTagSignature sig, int stageIndex, QWidget* parent = nullptr);

    MatrixWidget* matrixWidget() const { return matrix_; }

private:
    MatrixWidget* matrix_ = nullptr;
};

// "estimated illuminant …" for an adaptation matrix whose rows are `values` (nine numbers);
// empty when the matrix cannot be inverted.
QString estimated_illuminant(const double values[9]);
