#pragma once

#include "window/widgets/IProfileComponentView.h"

#include <krm.h>

class MatrixWidget;

// The chromatic adaptation matrix of 'chad', with the illuminant it adapts from estimated by
// mapping D50 back through it, or the cone response matrix of 'arts'. Stays empty when the tag cannot be read.
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
// empty when the matrix cannot be inverted or brings D50 back to no plausible white.
QString estimated_illuminant(const double values[9]);

// The subtitle of the matrix page: "Cone response matrix" for 'arts', the estimated illuminant
// of a 'chad', or a plain statement that the 'chad' adapts no plausible white.
QString adaptation_subtitle(krmTagSignature sig, const double values[9]);
