#include "window/viewers/MatrixComponent.h"

#include "common/signatures/Signatures.h"
#include "window/widgets/TagAccess.h"
#include "window/viewers/MatrixWidget.h"

#include <QHBoxLayout>
#include <QObject>
#include <QVBoxLayout>

#include <cmath>

QString estimated_illuminant(const double values[9])
{
    krmMAT3 matrix;
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            matrix.v[row].n[column] = values[row * 3 + column];
    krmMAT3 inverse;
    if (!krmMAT3Inverse(&matrix, &inverse))
        return {};
    // The matrix maps the source white onto D50; its inverse brings D50 back to the source.
    const double d50[3] = {0.9642, 1.0, 0.8249};
    double source[3] = {};
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            source[row] += inverse.v[row].n[column] * d50[column];
    const krmCIEXYZ xyz = {source[0], source[1], source[2]};
    krmCIExyY xyY;
    krmXYZ2xyY(&xyY, &xyz);
    // A damaged matrix still inverts, to a "white" no light source has: naming a temperature for
    // it would mislead. Adaptation keeps Y near 1 and real whites lie near the Planckian locus.
    const bool plausible = xyz.X > 0 && xyz.Z > 0 && std::fabs(xyz.Y - 1.0) < 0.2 && xyY.x > 0.2 && xyY.x < 0.6
                           && xyY.y > 0.2 && xyY.y < 0.5;
    if (!plausible)
        return {};
    return QObject::tr("estimated illuminant ") + whitePointName(xyY.x, xyY.y, 0.003);
}

QString adaptation_subtitle(krmTagSignature sig, const double values[9])
{
    // 'arts' holds the cone space the adaptation works in, not an adaptation: it has no white.
    if (sig == krmSig("arts"))
        return QObject::tr("Cone response matrix");
    const QString illuminant = estimated_illuminant(values);
    return illuminant.isEmpty() ? QObject::tr("Not a plausible adaptation: no light source's white maps onto D50")
                                : illuminant;
}

ChadTagComponent::ChadTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : IProfileComponentView(parent)
{
    if (!profile || !krmIsTag(profile, sig))
        return;
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // Permissive reading decodes any stored type: only nine stored s15Fixed16 numbers make a matrix.
    const void* data = krmReadTag(profile, sig);
    if (!data || krmGetTagStoredType(profile, sig) != krmSig("sf32") || stored_tag_size(profile, sig) < 8 + 9 * 4)
        return;
    const auto* values = static_cast<const double*>(data);
    const QVector<double> coefficients(values, values + 9);
    matrix_ = new MatrixWidget(3, 3, coefficients, {}, tagName(sig), adaptation_subtitle(sig, values), this);
    layout->addWidget(matrix_);
}

MatrixComponent::MatrixComponent(krmProfile profile, krmTagSignature sig, int stageIndex, QWidget* parent)
    : IProfileComponentView(parent)
{
    const StagePtr stage = tag_stage_copy(profile, sig, stageIndex);
    if (!stage || krmStageType(stage.get()) != krmSigMatrixElemType)
        return;
    const auto* data = static_cast<const krmStageMatrixData*>(krmStageData(stage.get()));
    if (!data || !data->Double)
        return;
    const int rows = int(krmStageOutputChannels(stage.get()));
    const int columns = int(krmStageInputChannels(stage.get()));

    // The stored matrix is kept divided by the 1.15 fixed-point scale of the tag encoding.
    const double scale = 65535.0 / 32768.0;
    QVector<double> coefficients;
    for (int i = 0; i < rows * columns; ++i)
        coefficients << data->Double[i] * scale;
    QVector<double> offsets;
    for (int row = 0; data->Offset && row < rows; ++row)
        offsets << data->Offset[row] * scale;

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    matrix_ = new MatrixWidget(rows, columns, coefficients, offsets, tagName(sig), tr("Stage %1").arg(stageIndex + 1),
                               this);
    layout->addWidget(matrix_);
}
