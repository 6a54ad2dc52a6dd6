#include "window/viewers/XYZComponent.h"

#include "common/signatures/Signatures.h"
#include "window/widgets/TagAccess.h"
#include "window/widgets/BuiltinProfiles.h"
#include "window/widgets/ICCProfileSelector.h"
#include "window/widgets/AppSettings.h"
#include "window/widgets/ChannelVocabulary.h"
#include "window/widgets/GraphicsViewer.h"
#include "window/viewers/NamedColorComponent.h"

#include <QCheckBox>
#include <QException>
#include <QGuiApplication>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsSceneHoverEvent>
#include <QGraphicsRectItem>
#include <QHBoxLayout>
#include <QPainter>
#include <QPalette>
#include <QSettings>
#include <QVBoxLayout>

namespace {

constexpr int kSceneSize = 800;

// The selector lists printers, colour spaces and monitors of RGB data.
constexpr int kReferenceClasses = 25;
constexpr int kReferenceSpaces = 2;

struct ContextDelete {
    void operator()(void* context) const { krmDeleteContext(static_cast<krmContext>(context)); }
};

QPointF xy_of(const krmCIEXYZ& xyz)
{
    const double sum = xyz.X + xyz.Y + xyz.Z;
    if (sum == 0.0)
        return {0.0, 0.0};
    krmCIExyY xyY{};
    krmXYZ2xyY(&xyY, &xyz);
    return {xyY.x, xyY.y};
}

QPointF xy_of(const krmCIExyY& xyY)
{
    return {xyY.x, xyY.y};
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QColor palette_text()
{
    return QGuiApplication::palette().color(QPalette::Text);
}

const std::initializer_list<krmTagTypeSignature> kXYZTypes = {krmSig("XYZ "), 0x17A505B8u};

QList<QPointF> named_chromaticities(krmProfile profile, krmTagSignature sig, const krmNamedColorList* list)
{
    QList<QPointF> points;
    for (const PlottedNamedColor& color : plotted_named_colors(named_color_pcs(profile, sig), list)) {
        krmCIEXYZ xyz{};
        krmLab2XYZ(krmD50_XYZ(), &xyz, &color.lab);
        points << xy_of(xyz);
    }
    return points;
}

}  // namespace

std::array<krmCIExyY, 3> true_primaries(krmProfile profile)
{
    std::array<krmCIExyY, 3> primaries{};
    const std::unique_ptr<std::remove_pointer_t<krmContext>, ContextDelete> context(krmCreateContext(nullptr, nullptr));
    if (!profile || !context)
        return primaries;
    krmSetAdaptationState(context.get(), 0.0);
    const KrmProfilePtr xyz(krmCreateXYZProfile(context.get()));
    const KrmTransformPtr transform(xyz ? krmCreateTransformWithContext(context.get(), profile, krmFmtRGBDouble, xyz.get(),
                                                                        krmFmtXYZDouble, krmINTENT_ABSOLUTE_COLORIMETRIC,
                                                                        krmFlagNoOptimize)
                                        : nullptr);
    if (!transform)
        return primaries;
    const double rgb[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int i = 0; i < 3; ++i) {
        double out[3] = {};
        krmDoTransform(transform.get(), rgb[i], out, 1);
        const krmCIEXYZ value{out[0], out[1], out[2]};
        krmXYZ2xyY(&primaries[std::size_t(i)], &value);
    }
    return primaries;
}

// ---------------------------------------------------------------------------------------------

namespace {

// The whole diagram, taking hover moves for the chromaticity read-out.
class HoverArea : public QGraphicsRectItem
{
public:
    HoverArea(XYZTagScene* scene, const QRectF& rect) : QGraphicsRectItem(rect), scene_(scene)
    {
        setPen(Qt::NoPen);
        setBrush(Qt::NoBrush);
        setAcceptHoverEvents(true);
        setAcceptedMouseButtons(Qt::NoButton);
    }

protected:
    void hoverMoveEvent(QGraphicsSceneHoverEvent* event) override { scene_->showReadout(event->scenePos()); }
    void hoverLeaveEvent(QGraphicsSceneHoverEvent*) override { scene_->showReadout(QPointF(-1, -1)); }

private:
    XYZTagScene* scene_;
};

}  // namespace

XYZTagScene::XYZTagScene(QObject* parent) : QGraphicsScene(parent)
{
    setSceneRect(0, 0, kSceneSize, kSceneSize);
    addItem(new HoverArea(this, sceneRect()));
    readout_ = addSimpleText(QString(), scene_font(10, QFont::Bold));
    readout_->setBrush(palette_text());
    readout_->setZValue(10);
    readout_->hide();
}

QString XYZTagScene::readoutAt(const QPointF& scenePos) const
{
    const QRectF rect = sceneRect();
    const std::optional<QPointF> xy = diagram().from_pixel(scenePos, int(rect.width()), int(rect.height()));
    if (!xy)
        return {};
    return QStringLiteral("x %1   y %2").arg(fixed(xy->x(), 4), fixed(xy->y(), 4));
}

void XYZTagScene::showReadout(const QPointF& scenePos)
{
    const QString text = readoutAt(scenePos);
    readout_->setVisible(!text.isEmpty());
    if (text.isEmpty())
        return;
    readout_->setText(text);
    // In the empty upper right of the diagram, clear of the horseshoe.
    const QRectF rect = sceneRect();
    const QRectF box = readout_->boundingRect();
    readout_->setPos(rect.right() - box.width() - 16.0, diagram().plot_top() + 8.0);
}

void XYZTagScene::setReference(bool shown, const std::array<krmCIExyY, 3>& primaries)
{
    referenceShown_ = shown;
    reference_ = primaries;
    update();
}

ChromaticityDiagram XYZTagScene::diagram(krmTransform toScreen) const
{
    ChromaticityDiagram diagram(toScreen);
    const QPalette palette = QGuiApplication::palette();
    diagram.background = palette.color(QPalette::Base);
    diagram.grid = grid_color();
    diagram.titleColor = palette_text();
    diagram.subtitleColor = palette_text();
    describe(diagram);
    if (referenceShown_) {
        DiagramTriangle triangle{xy_of(reference_[0]), xy_of(reference_[1]), xy_of(reference_[2]), -2,
                                 Qt::DashDotLine, QColor(80, 80, 80)};
        diagram.triangles.append(triangle);
    }
    return diagram;
}

void XYZTagScene::drawBackground(QPainter* painter, const QRectF&)
{
    if (!transformTried_) {
        toScreen_ = xyz_to_screen_transform();
        transformTried_ = true;
    }
    const QRectF rect = sceneRect();
    diagram(toScreen_.get()).paint(painter, int(rect.width()), int(rect.height()), &base_, &baseKey_);
}

// ---------------------------------------------------------------------------------------------

PrimariesScene::PrimariesScene(int index, const krmCIEXYZ& column, const std::array<krmCIExyY, 3>& truePrimaries,
                               QObject* parent)
    : XYZTagScene(parent), index_(index), column_(column), primaries_(truePrimaries)
{
}

void PrimariesScene::describe(ChromaticityDiagram& diagram) const
{
    static const char* const titles[3] = {QT_TR_NOOP("Red colorant"), QT_TR_NOOP("Green colorant"),
                                          QT_TR_NOOP("Blue colorant")};
    diagram.title = tr(titles[index_]);
    diagram.titleColor = channel_color(krmSig("RGB "), index_);
    const QString column =
        QStringLiteral("Matrix column [%1 %2 %3]").arg(fixed(column_.X, 4), fixed(column_.Y, 4), fixed(column_.Z, 4));
    const krmCIExyY& own = primaries_[std::size_t(index_)];
    diagram.subtitle = own.x > 0.0 || own.y > 0.0
                           ? QStringLiteral("%1 True chromaticity xy:(%2, %3)").arg(column, fixed(own.x, 3), fixed(own.y, 3))
                           : column;
    diagram.triangles.append(DiagramTriangle{xy_of(primaries_[0]), xy_of(primaries_[1]), xy_of(primaries_[2]), index_,
                                             Qt::SolidLine, Qt::white});
}

RefScene::RefScene(bool mediaWhite, const krmCIEXYZ& value, QObject* parent)
    : XYZTagScene(parent), mediaWhite_(mediaWhite), value_(value), xy_(xy_of(value))
{
}

void RefScene::describe(ChromaticityDiagram& diagram) const
{
    diagram.title = mediaWhite_ ? tr("Media white") : tr("Black point");
    // All-zero XYZ (a black point of ideal black) has no chromaticity: x and y divide by X+Y+Z.
    const bool undefined = value_.X + value_.Y + value_.Z <= 0.0;
    QString text = QStringLiteral("XYZ:(%1, %2, %3) ").arg(fixed(value_.X, 4), fixed(value_.Y, 4), fixed(value_.Z, 4))
                   + (undefined ? tr("xy: undefined (XYZ is zero)")
                                : QStringLiteral("xy:(%1, %2)").arg(fixed(xy_.x(), 4), fixed(xy_.y(), 4)));
    if (mediaWhite_)
        text += QLatin1Char(' ') + whitePointName(xy_.x(), xy_.y(), 0.003);
    diagram.subtitle = text;
    if (xy_.x() > 0.0 || xy_.y() > 0.0) {
        diagram.points.append(DiagramPoint{xy_, diagram.title, mediaWhite_ ? QColor(Qt::white) : QColor(Qt::black), 12.0});
        diagram.planckian = true;
    }
}

ChromaticityScene::ChromaticityScene(const krmCIExyYTRIPLE& primaries, QObject* parent)
    : XYZTagScene(parent), primaries_(primaries)
{
}

void ChromaticityScene::describe(ChromaticityDiagram& diagram) const
{
    diagram.title = tr("Chromaticity");
    diagram.subtitle = QStringLiteral("R:(%1, %2) G:(%3, %4) B:(%5, %6)")
                           .arg(fixed(primaries_.Red.x, 4), fixed(primaries_.Red.y, 4), fixed(primaries_.Green.x, 4),
                                fixed(primaries_.Green.y, 4), fixed(primaries_.Blue.x, 4), fixed(primaries_.Blue.y, 4));
    diagram.triangles.append(DiagramTriangle{xy_of(primaries_.Red), xy_of(primaries_.Green), xy_of(primaries_.Blue), -1,
                                             Qt::SolidLine, Qt::white});
}

NamedColorScene::NamedColorScene(const QString& title, const QList<QPointF>& chromaticities, QObject* parent)
    : XYZTagScene(parent), title_(title), points_(chromaticities)
{
}

void NamedColorScene::describe(ChromaticityDiagram& diagram) const
{
    diagram.title = title_;
    if (points_.isEmpty())
        diagram.subtitle = tr("Nothing to draw: no colour of this tag has an L*a*b* or XYZ value.");
    for (const QPointF& xy : points_)
        diagram.points.append(DiagramPoint{xy, QString(), Qt::white, 3.0});
}

// ---------------------------------------------------------------------------------------------

XYZComponent::XYZComponent(krmProfile profile, krmTagSignature sig, QWidget* parent) : IProfileComponentView(parent)
{
    scene_ = make_scene(profile, sig);
    scene_->setParent(this);
    build_ui();
    update_reference();
}

XYZComponent::~XYZComponent()
{
    if (QSettings* settings = appSettings())
        settings->setValue(QStringLiteral("cmp_on"), referenceBox_->isChecked());
    selector_->saveState();
}

XYZTagScene* XYZComponent::make_scene(krmProfile profile, krmTagSignature sig)
{
    const int primary = sig == krmSig("rXYZ") ? 0 : sig == krmSig("gXYZ") ? 1 : sig == krmSig("bXYZ") ? 2 : -1;
    if (primary >= 0) {
        const auto* column = static_cast<const krmCIEXYZ*>(read_tag_of_type(profile, sig, kXYZTypes));
        return new PrimariesScene(primary, *column, true_primaries(profile));
    }
    if (sig == krmSig("wtpt") || sig == krmSig("bkpt")) {
        const auto* value = static_cast<const krmCIEXYZ*>(read_tag_of_type(profile, sig, kXYZTypes));
        return new RefScene(sig == krmSig("wtpt"), *value);
    }
    if (sig == krmSig("chrm"))
        return new ChromaticityScene(*static_cast<const krmCIExyYTRIPLE*>(read_tag_of_type(profile, sig, {krmSig("chrm")})));
    if (sig == krmSig("clrt") || sig == krmSig("clot") || sig == krmSig("ncl2")) {
        const auto* list = static_cast<const krmNamedColorList*>(read_tag_of_type(profile, sig, {krmSig("clrt"), krmSig("ncl2")}));
        return new NamedColorScene(tagName(sig), named_chromaticities(profile, sig, list));
    }
    throw QException();
}

void XYZComponent::build_ui()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    viewer_ = new GraphicsViewer(this);
    viewer_->setScene(scene_);
    layout->addWidget(viewer_, 1);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(6, 4, 6, 4);
    const QSettings* settings = appSettings();
    referenceBox_ = new QCheckBox(tr("Show reference primaries"), this);
    referenceBox_->setChecked(settings && settings->value(QStringLiteral("cmp_on"), false).toBool());
    row->addWidget(referenceBox_);
    selector_ = new ICCProfileSelector(kReferenceClasses, kReferenceSpaces, QString(),
                                       ICCProfileSelector::defaultBuiltins(), this);
    selector_->setIcons(false);
    selector_->restoreState(appSettings(), QStringLiteral("cmp_dir"), QStringLiteral("cmp_prf"));
    selector_->setEnabled(referenceBox_->isChecked());
    row->addWidget(selector_, 1);
    layout->addLayout(row);

    connect(referenceBox_, &QCheckBox::toggled, this, [this](bool on) {
        selector_->setEnabled(on);
        update_reference();
    });
    connect(selector_, &ICCProfileSelector::valueChanged, this, &XYZComponent::update_reference);
}

void XYZComponent::update_reference()
{
    const QString name = selector_->currentProfile();
    if (!referenceBox_->isChecked() || name.isEmpty()) {
        scene_->setReference(false, {});
        return;
    }
    const KrmProfilePtr reference(open_profile_by_name(name));
    scene_->setReference(true, reference ? true_primaries(reference.get()) : std::array<krmCIExyY, 3>{});
}
