#pragma once

#include "window/viewers/ChromaticityDiagram.h"
#include "window/widgets/IProfileComponentView.h"
#include "window/widgets/ScreenColor.h"

#include <krm.h>

#include <QGraphicsScene>

#include <array>

class GraphicsViewer;
class ICCProfileSelector;
class QCheckBox;
class QGraphicsSimpleTextItem;
class QSettings;

// The chromaticities of a profile's pure red, green and blue, absolute colorimetric and without
// adaptation to D50, so a profile whose colorants were adapted shows its true primaries. All zero
// when the profile cannot be transformed.
std::array<krmCIExyY, 3> true_primaries(krmProfile profile);

// A chromaticity diagram scene for one XYZ-valued tag; subclasses say what the tag adds to the
// diagram. Holds the reference triangle another profile contributes.
class XYZTagScene : public QGraphicsScene
{
    Q_OBJECT

public:
    explicit XYZTagScene(QObject* parent = nullptr);

    void setReference(bool shown, const std::array<krmCIExyY, 3>& primaries);
    bool referenceShown() const { return referenceShown_; }
    const std::array<krmCIExyY, 3>& reference() const { return reference_; }

    // Everything the next paint draws, without painting it.
    ChromaticityDiagram diagram(krmTransform toScreen = nullptr) const;
    // "x 0.3127   y 0.3290" for the chromaticity under a scene position; empty off the plot.
    QString readoutAt(const QPointF& scenePos) const;
    void showReadout(const QPointF& scenePos);
    QGraphicsSimpleTextItem* readoutItem() const { return readout_; }

protected:
    // Title, text line, triangles and points of the tag.
    virtual void describe(ChromaticityDiagram& diagram) const = 0;
    void drawBackground(QPainter* painter, const QRectF& rect) override;

private:
    bool referenceShown_ = false;
    std::array<krmCIExyY, 3> reference_{};
    KrmTransformPtr toScreen_;
    bool transformTried_ = false;
    QImage base_;
    QString baseKey_;
    QGraphicsSimpleTextItem* readout_ = nullptr;
};

// rXYZ, gXYZ, bXYZ: the profile's true gamut triangle with this colorant's vertex marked.
class PrimariesScene : public XYZTagScene
{
    Q_OBJECT

public:
    PrimariesScene(int index, const krmCIEXYZ& column, const std::array<krmCIExyY, 3>& truePrimaries,
                   QObject* parent = nullptr);

protected:
    void describe(ChromaticityDiagram& diagram) const override;

private:
    int index_;
    krmCIEXYZ column_;
    std::array<krmCIExyY, 3> primaries_;
};

// wtpt and bkpt: one point with the Planckian locus.
class RefScene : public XYZTagScene
{
    Q_OBJECT

public:
    RefScene(bool mediaWhite, const krmCIEXYZ& value, QObject* parent = nullptr);

protected:
    void describe(ChromaticityDiagram& diagram) const override;

private:
    bool mediaWhite_;
    krmCIEXYZ value_;
    QPointF xy_;
};

// chrm: the tag's triangle with all vertices marked.
class ChromaticityScene : public XYZTagScene
{
    Q_OBJECT

public:
    explicit ChromaticityScene(const krmCIExyYTRIPLE& primaries, QObject* parent = nullptr);

protected:
    void describe(ChromaticityDiagram& diagram) const override;

private:
    krmCIExyYTRIPLE primaries_;
};

// Colorant tables and named-colour lists: a cloud of small points.
class NamedColorScene : public XYZTagScene
{
    Q_OBJECT

public:
    NamedColorScene(const QString& title, const QList<QPointF>& chromaticities, QObject* parent = nullptr);

protected:
    void describe(ChromaticityDiagram& diagram) const override;

private:
    QString title_;
    QList<QPointF> points_;
};

// Shows an XYZ-valued tag (rXYZ, gXYZ, bXYZ, wtpt, bkpt, chrm) or the colours of a colorant table
// or named-colour list on the xy chromaticity diagram, optionally with another profile's primaries
// for comparison. Throws QException for other tags or a tag it cannot read.
class XYZComponent : public IProfileComponentView
{
    Q_OBJECT

public:
    XYZComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);
    ~XYZComponent() override;

    GraphicsViewer* viewer() const { return viewer_; }
    XYZTagScene* scene() const { return scene_; }
    QCheckBox* referenceBox() const { return referenceBox_; }
    ICCProfileSelector* selector() const { return selector_; }

private slots:
    void update_reference();

private:
    static XYZTagScene* make_scene(krmProfile profile, krmTagSignature sig);
    void build_ui();

    GraphicsViewer* viewer_ = nullptr;
    XYZTagScene* scene_ = nullptr;
    QCheckBox* referenceBox_ = nullptr;
    ICCProfileSelector* selector_ = nullptr;
};
