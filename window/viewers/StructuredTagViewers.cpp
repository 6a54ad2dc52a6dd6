#include "window/viewers/StructuredTagViewers.h"

#include "window/widgets/HexViewer.h"
#include "common/signatures/Signatures.h"
#include "window/widgets/TagAccess.h"
#include "window/widgets/GraphicsViewer.h"
#include "window/widgets/HtmlHelpers.h"
#include "window/viewers/WorkflowGraphScene.h"

#include <QApplication>
#include <QDateTime>
#include <QException>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTimeZone>
#include <QVBoxLayout>

namespace {

template <typename T>
const T& read(krmProfile profile, krmTagSignature sig, std::initializer_list<krmTagTypeSignature> types)
{
    return *static_cast<const T*>(read_tag_of_type(profile, sig, types));
}

// Text from the file goes into HTML: it must not become markup.
QString escaped(const QString& text)
{
    return text.toHtmlEscaped();
}

QString single_cell(const QString& value)
{
    return make_html_table({}).replace(QStringLiteral("</table>"),
                                       QStringLiteral("<tr><td>") + value + QStringLiteral("</td></tr></table>"));
}

QString xyz_text(const krmCIEXYZ& xyz)
{
    return format_xyz(xyz.X, xyz.Y, xyz.Z);
}

QString wide_text(const krmWChar* text)
{
    if (!text)
        return {};
    qsizetype length = 0;
    while (text[length])
        ++length;
    return QString::fromUtf16(text, length);
}

}  // namespace

TagCardComponent::TagCardComponent(QWidget* parent) : IProfileComponentView(parent)
{
    browser_ = new QTextBrowser(this);
    browser_->setFrameShape(QFrame::NoFrame);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
}

void TagCardComponent::set_card(const QString& title, const QString& body)
{
    browser_->setHtml(make_html_page(title, body));
}

namespace {

struct CodePoint {
    int code;
    const char* name;
};

// ITU-T H.273 (07/2024), Tables 2, 3 and 4. Codes not listed are reserved.
const CodePoint kColourPrimaries[] = {
    {1, "BT.709, sRGB"},           {2, "Unspecified"},
    {4, "BT.470 System M"},        {5, "BT.470 System B, G; BT.601 625"},
    {6, "BT.601 525; SMPTE 170M"}, {7, "SMPTE 240M"},
    {8, "Generic film (illuminant C)"}, {9, "BT.2020, BT.2100"},
    {10, "SMPTE ST 428-1 (CIE 1931 XYZ)"}, {11, "SMPTE RP 431-2 (DCI-P3)"},
    {12, "SMPTE EG 432-1 (Display P3)"}, {22, "EBU Tech. 3213-E"},
};

const CodePoint kTransferCharacteristics[] = {
    {1, "BT.709"},
    {2, "Unspecified"},
    {4, "Gamma 2.2 (BT.470 System M)"},
    {5, "Gamma 2.8 (BT.470 System B, G)"},
    {6, "BT.601; SMPTE 170M"},
    {7, "SMPTE 240M"},
    {8, "Linear"},
    {9, "Logarithmic, 100:1 range"},
    {10, "Logarithmic, 316.2:1 range"},
    {11, "IEC 61966-2-4 (xvYCC)"},
    {12, "BT.1361 extended colour gamut"},
    {13, "IEC 61966-2-1 (sRGB)"},
    {14, "BT.2020, 10 bit"},
    {15, "BT.2020, 12 bit"},
    {16, "SMPTE ST 2084 (PQ), BT.2100"},
    {17, "SMPTE ST 428-1"},
    {18, "ARIB STD-B67 (HLG), BT.2100"},
};

const CodePoint kMatrixCoefficients[] = {
    {0, "Identity (RGB, GBR)"},
    {1, "BT.709"},
    {2, "Unspecified"},
    {4, "FCC 73.682"},
    {5, "BT.470 System B, G; BT.601 625"},
    {6, "BT.601 525; SMPTE 170M"},
    {7, "SMPTE 240M"},
    {8, "YCgCo"},
    {9, "BT.2020 non-constant luminance, BT.2100 Y'CbCr"},
    {10, "BT.2020 constant luminance"},
    {11, "SMPTE ST 2085 (Y'D'zD'x)"},
    {12, "Chromaticity-derived non-constant luminance"},
    {13, "Chromaticity-derived constant luminance"},
    {14, "BT.2100 ICtCp"},
};

template <std::size_t N>
QString code_point_text(const CodePoint (&table)[N], int code)
{
    for (const CodePoint& entry : table) {
        if (entry.code == code)
            return QStringLiteral("%1 \u2013 %2").arg(code).arg(QString::fromUtf8(entry.name));
    }
    return QObject::tr("%1 \u2013 reserved").arg(code);
}

}  // namespace

QString cicp_primaries_text(int code) { return code_point_text(kColourPrimaries, code); }
QString cicp_transfer_text(int code) { return code_point_text(kTransferCharacteristics, code); }
QString cicp_matrix_text(int code) { return code_point_text(kMatrixCoefficients, code); }

CICPTagComponent::CICPTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : TagCardComponent(parent)
{
    const auto& cicp = read<krmVideoSignal>(profile, sig, {krmSig("cicp")});
    const QString range = cicp.VideoFullRangeFlag == 1   ? tr("1 \u2013 full range")
                          : cicp.VideoFullRangeFlag == 0 ? tr("0 \u2013 narrow (video) range")
                                                         : tr("%1 \u2013 not a valid flag").arg(cicp.VideoFullRangeFlag);
    set_card(tagName(sig), make_html_table({{QStringLiteral("ColourPrimaries"), cicp_primaries_text(cicp.ColourPrimaries)},
                                            {QStringLiteral("TransferCharacteristics"),
                                             cicp_transfer_text(cicp.TransferCharacteristics)},
                                            {QStringLiteral("MatrixCoefficients"), cicp_matrix_text(cicp.MatrixCoefficients)},
                                            {QStringLiteral("VideoFullRangeFlag"), range}}));
}

ColorantOrderTagComponent::ColorantOrderTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : TagCardComponent(parent)
{
    const auto& order = read<krmColorantOrder>(profile, sig, {krmSig("clro")});
    const krmUInt32Number count = std::min<krmUInt32Number>(krmChannelsOf(krmGetProfileColorSpace(profile)), krmMAXCHANNELS);
    QStringList numbers;
    for (krmUInt32Number i = 0; i < count; ++i)
        numbers << QString::number(order.Order[i]);
    set_card(tagName(sig), make_html_table({{tr("Channels"), numbers.join(QStringLiteral(", "))}}));
}

DateTimeTagComponent::DateTimeTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : TagCardComponent(parent)
{
    const auto& when = read<krmDateTime>(profile, sig, {krmSig("dtim")});
    const QDateTime stamp(QDate(when.tm_year + 1900, when.tm_mon + 1, when.tm_mday),
                          QTime(when.tm_hour, when.tm_min, when.tm_sec), QTimeZone::utc());
    // A stored date no calendar knows is still shown, as its numbers.
    const QString text = stamp.isValid() ? QLocale::system().toString(stamp, QLocale::NarrowFormat)
                                         : QStringLiteral("%1-%2-%3 %4:%5:%6")
                                               .arg(when.tm_year + 1900)
                                               .arg(when.tm_mon + 1)
                                               .arg(when.tm_mday)
                                               .arg(when.tm_hour)
                                               .arg(when.tm_min)
                                               .arg(when.tm_sec);
    set_card(tagName(sig), single_cell(text));
}

EnumeratedTagComponent::EnumeratedTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : TagCardComponent(parent)
{
    const auto value = read<krmSignature>(profile, sig, {krmSig("sig ")});
    QString text;
    if (sig == krmSig("ciis"))
        text = imageStateName(value);
    else if (sig == krmSig("rig0") || sig == krmSig("rig2"))
        text = value == krmSig("prmg") ? tr("Perceptual reference medium gamut PRMG")
                                       : tr("Non-standard reference medium gamut");
    else if (sig == krmSig("tech"))
        text = technologyName(value);
    else
        text = tr("Error!");
    set_card(tagName(sig), single_cell(escaped(text)));
}

MeasurementTagComponent::MeasurementTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : TagCardComponent(parent)
{
    const auto& meas = read<krmMeasurement>(profile, sig, {krmSig("meas")});
    set_card(tr("Measurement"), make_html_table({{tr("Observer"), observerName(meas.Observer)},
                                                 {tr("Backing"), xyz_text(meas.Backing)},
                                                 {tr("Geometry"), geometryName(meas.Geometry)},
                                                 {tr("Flare"), QStringLiteral("%1 %").arg(meas.Flare * 100.0, 0, 'f', 2)},
                                                 {tr("Illuminant type"), illuminantTypeName(meas.IlluminantType)}}));
}

MetaTagComponent::MetaTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : TagCardComponent(parent)
{
    const auto* dict = static_cast<const krmDict*>(read_tag_of_type(profile, sig, {krmSig("dict")}));
    HtmlRows rows;
    for (const krmDICTentry* entry = krmDictGetEntryList(dict); entry; entry = krmDictNextEntry(entry))
        rows.append({escaped(wide_text(entry->Name)), escaped(wide_text(entry->Value))});
    set_card(tagName(sig), make_html_table(rows));
}

ScreeningTagComponent::ScreeningTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : TagCardComponent(parent)
{
    set_card(tagName(sig), screening_body(read<krmScreening>(profile, sig, {krmSig("scrn")})));
}

QString screening_body(const krmScreening& screening)
{
    QString heading;
    if (screening.Flag & 1u)
        heading = QObject::tr("Default Screens, ");
    heading += QObject::tr(" In inches");
    QString body = QStringLiteral("<h3>") + heading + QStringLiteral("</h3> ")
                   + QStringLiteral("<div style=\"display:inline-block; text-align:center;\"><table border=\"1\" "
                                    "cellspacing=\"0\" cellpadding=\"6\"><tr><th>")
                   + QObject::tr("Channel") + QStringLiteral("</th><th>") + QObject::tr("Frequency")
                   + QStringLiteral("</th><th>") + QObject::tr("Angle") + QStringLiteral("</th><th>")
                   + QObject::tr("Shape") + QStringLiteral("</th></tr> ");
    const krmUInt32Number channels = std::min<krmUInt32Number>(screening.nChannels, krmMAXCHANNELS);
    for (krmUInt32Number i = 0; i < channels; ++i) {
        const krmScreeningChannel& channel = screening.Channels[i];
        body += QStringLiteral("<tr><td>") + QObject::tr("Chan%1").arg(i + 1) + QStringLiteral("</td><td>")
                + QString::number(channel.Frequency, 'f', 2) + QStringLiteral("</td><td>")
                + QString::number(channel.ScreenAngle, 'f', 2) + QStringLiteral("</td><td>")
                + spotShapeName(channel.SpotShape) + QStringLiteral("</td></tr> ");
    }
    body += QStringLiteral("</table></div>");
    return body;
}

SingleXYZTagComponent::SingleXYZTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : TagCardComponent(parent)
{
    // 0x17A505B8 is the engine's second handler reading 'XYZ ' data.
    const krmCIEXYZ& xyz = read<krmCIEXYZ>(profile, sig, {krmSig("XYZ "), 0x17A505B8});
    // 'lumi' holds absolute luminance: Y is the white's luminance in candelas per square metre.
    const QString text = sig == krmSig("lumi") ? tr("%1 cd/m\u00B2 (X, Y, Z: %2)").arg(xyz.Y, 0, 'f', 2).arg(xyz_text(xyz))
                                                : xyz_text(xyz);
    set_card(tagName(sig), single_cell(text));
}

ViewingConditionsTagComponent::ViewingConditionsTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : TagCardComponent(parent)
{
    const auto& view = read<krmViewingConditions>(profile, sig, {krmSig("view")});
    set_card(tr("Viewing conditions"),
             make_html_table({{tr("Illuminant"), xyz_text(view.IlluminantXYZ)},
                              {tr("Surround"), xyz_text(view.SurroundXYZ)},
                              {tr("Illuminant type"), illuminantTypeName(view.IlluminantType)}}));
}

// ---------------------------------------------------------------------------------------------

DataTagComponent::DataTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : IProfileComponentView(parent)
{
    const auto& data = read<krmICCData>(profile, sig, {krmSig("data")});
    const QByteArray bytes(reinterpret_cast<const char*>(data.data), qsizetype(data.len));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* title = new QLabel(tagName(sig), this);
    QFont font = QApplication::font();
    font.setPointSize(20);
    font.setBold(true);
    title->setFont(font);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);

    if (data.flag & 1u) {
        hex_ = new HexViewer(this);
        hex_->setData(bytes);
        layout->addWidget(hex_);
    } else {
        text_ = new QTextEdit(this);
        text_->setReadOnly(true);
        text_->setFrameShape(QFrame::NoFrame);
        text_->setLineWrapMode(QTextEdit::NoWrap);
        text_->setPlainText(QString::fromUtf8(bytes));
        layout->addWidget(text_);
    }
}

// ---------------------------------------------------------------------------------------------

QString sequence_text(const krmMLU* mlu)
{
    if (!mlu)
        return QStringLiteral("(null)");
    const char none[3] = {0, 0, 0};
    const krmUInt32Number size = krmMLUGetUTF8(mlu, none, none, nullptr, 0);
    if (size == 0)
        return {};
    QByteArray buffer(qsizetype(size), '\0');
    krmMLUGetUTF8(mlu, none, none, buffer.data(), size);
    return QString::fromUtf8(buffer).remove(QChar(0));
}

ProfileSeqComponent::ProfileSeqComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : IProfileComponentView(parent)
{
    const bool description = sig == krmSig("pseq");
    const bool identifier = sig == krmSig("psid");
    const krmSequence* sequence = nullptr;
    if (description || identifier)
        sequence = static_cast<const krmSequence*>(read_tag_of_type(profile, sig, {krmSig(description ? "pseq" : "psid")}));
    else if (!profile || !krmIsTag(profile, sig) || !krmReadTag(profile, sig))
        throw QException();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    viewer_ = new GraphicsViewer(this);
    layout->addWidget(viewer_);
    if (!sequence)
        return;

    QList<WorkflowNode> nodes;
    for (krmUInt32Number i = 0; i < sequence->n && sequence->seq; ++i) {
        const krmPSEQDESC& entry = sequence->seq[i];
        WorkflowNode node;
        node.id = int(i);
        if (description) {
            node.label = entry.Model ? sequence_text(entry.Model) : QString();
            if (node.label.isEmpty() && entry.deviceModel)
                node.label = signatureText(entry.deviceModel);
            if (node.label.isEmpty())
                node.label = tr("ICC Profile");
            const QString maker = entry.Manufacturer ? sequence_text(entry.Manufacturer) : manufacturerName(entry.deviceMfg);
            node.summary = QStringLiteral("<center>") + technologyName(entry.technology).toHtmlEscaped()
                           + QStringLiteral("</center>") + deviceAttributesText(entry.attributes).toHtmlEscaped();
            if (!maker.isEmpty())
                node.summary += QStringLiteral("<br><i>") + maker.toHtmlEscaped() + QStringLiteral("</i>");
            node.color = QColor(60, 120, 60);
        } else {
            node.label = sequence_text(entry.Description);
            if (node.label.isEmpty())
                node.label = tr("(no description)");
            node.summary = QStringLiteral("<center>ID: ") + profileIdText(entry.ProfileID) + QStringLiteral("</center>");
            node.color = QColor(138, 82, 200);
        }
        node.content = node.summary;
        nodes << node;
    }
    scene_ = new WorkflowGraphScene(0, tr("Profile sequence"), QString(), this);
    scene_->setNodes(nodes);
    viewer_->setScene(scene_);
}
