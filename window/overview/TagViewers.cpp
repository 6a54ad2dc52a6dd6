#include "window/overview/TagViewers.h"

#include "window/analyses/GamutHullTagComponent.h"
#include "window/analyses/RoundtripTagComponent.h"
#include "window/analyses/GCRCurvesTagComponent.h"
#include "window/analyses/TVICurvesTagComponent.h"
#include "window/widgets/EngineMessageCapture.h"
#include "common/signatures/SignatureRange.h"
#include "common/signatures/Signatures.h"
#include "window/widgets/AppSettings.h"
#include "window/widgets/StoredDirectory.h"
#include "window/viewers/CLutComponent.h"
#include "window/viewers/CommentComponent.h"
#include "window/viewers/CurvesComponent.h"
#include "window/viewers/GenericTagComponent.h"
#include "window/viewers/MatrixComponent.h"
#include "window/viewers/MLUComponent.h"
#include "window/viewers/NamedColorComponent.h"
#include "window/viewers/NamedColorGamutComponent.h"
#include "window/viewers/PipelineComponent.h"
#include "window/viewers/PendingViewer.h"
#include "window/viewers/StructuredTagViewers.h"
#include "window/viewers/XYZComponent.h"

#include <QException>
#include <QLabel>
#include <QBoxLayout>
#include <QSettings>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Signatures

// Each byte of `value` lies between the corresponding bytes of `low` and `high`, so ("A2B0",
// "A2B2") accepts A2B0, A2B1, A2B2 and ("1CLR", "9CLR") the colour counts 1 to 9.
bool in_range(krmUInt32Number value, const char (&low)[5], const char (&high)[5])
{
    return signature_in_range(value, low, high);
}

bool is_one_of(krmUInt32Number value, std::initializer_list<krmUInt32Number> list)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool is_a2b(krmTagSignature sig) { return in_range(sig, "A2B0", "A2B2"); }
bool is_b2a(krmTagSignature sig) { return in_range(sig, "B2A0", "B2A2"); }

// LUT tags and the virtual matrix-shaper row, the ones the analyses work on.
bool is_analysed_lut(krmTagSignature sig)
{
    return is_a2b(sig) || is_b2a(sig) || in_range(sig, "D2B0", "D2B3") || in_range(sig, "B2D0", "B2D3")
           || sig == MatrixShaperTag;
}

bool is_lut_tag(krmTagSignature sig)
{
    return is_analysed_lut(sig) || sig == krmSig("gamt") || in_range(sig, "pre0", "pre2") || sig == krmSig("MHC2");
}

// Printers with four or more colorants: the spaces the ink analyses understand.
bool is_ink_space(krmColorSpaceSignature space)
{
    return space == krmSig("CMYK") || in_range(space, "4CLR", "9CLR") || in_range(space, "ACLR", "FCLR")
           || in_range(space, "MCH4", "MCH9") || in_range(space, "MCHA", "MCHF");
}

bool is_ink_printer(krmProfile profile)
{
    return krmGetProfileClass(profile) == krmSig("prtr") && is_ink_space(krmGetProfileColorSpace(profile));
}

const krmTagTypeSignature kXYZType2 = 0x17A505B8;   // read as 'XYZ '
const krmTagTypeSignature kCurveType2 = 0x9478EE00;  // read as 'curv'

// ---------------------------------------------------------------------------------------------
// Reading tags

// ---------------------------------------------------------------------------------------------
// Summaries of decoded content for the pages of viewers still to come

QString number(double value, int decimals = 4)
{
    return QString::number(value, 'f', decimals);
}

QString describe_xyz(const krmCIEXYZ& xyz)
{
    return format_xyz(xyz.X, xyz.Y, xyz.Z);
}

// ---------------------------------------------------------------------------------------------
// Building the tabs

// Owns the tabs being built until they are handed out, so a viewer that throws leaves nothing
// behind.
class TabList
{
public:
    explicit TabList(QWidget* parent) : parent_(parent) {}
    ~TabList()
    {
        for (ViewerTab& tab : tabs_)
            delete tab.widget;
    }
    TabList(const TabList&) = delete;
    TabList& operator=(const TabList&) = delete;

    QWidget* parent() const { return parent_; }
    void add(const QString& title, QWidget* widget) { tabs_.append(ViewerTab{title, widget}); }
    void pending(const QString& viewerClass, const QString& title, const QString& purpose, const HtmlRows& summary = {})
    {
        add(title, new PendingViewer(viewerClass, title, purpose, summary, parent_));
    }
    QList<ViewerTab> release() { return std::exchange(tabs_, {}); }

private:
    QWidget* parent_;
    QList<ViewerTab> tabs_;
};

// The engine's messages about the tag, above the bytes.
void add_engine_messages(GenericTagComponent* raw, const QStringList& messages)
{
    if (messages.isEmpty())
        return;
    auto* label = new QLabel(raw);
    label->setObjectName(QStringLiteral("engineMessages"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setContentsMargins(6, 6, 6, 6);
    label->setText(QObject::tr("The engine reported while reading the tag:") + QLatin1Char('\n') + messages.join(QLatin1Char('\n')));
    static_cast<QBoxLayout*>(raw->layout())->insertWidget(0, label);
}

QWidget* make_raw_viewer(krmProfile profile, krmTagSignature sig, QWidget* parent, const QStringList& messages = {})
{
    auto* raw = new GenericTagComponent(profile, sig, parent);
    add_engine_messages(raw, messages);
    if (raw->hexViewer() || raw->noteLabel())
        return raw;
    // Nothing to dump: say why rather than show a blank page.
    QString reason;
    if (sig == MatrixShaperTag)
        reason = QObject::tr("The matrix-shaper row stands for the colorant and tone curve tags together and has "
                             "no bytes of its own.");
    else if (!profile || !krmIsTag(profile, sig))
        reason = QObject::tr("The profile has no tag '%1'.").arg(signatureText(sig));
    else
        reason = QObject::tr("The tag '%1' holds no bytes.").arg(signatureText(sig));
    auto* label = new QLabel(reason, raw);
    label->setObjectName(QStringLiteral("rawEmptyNote"));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignCenter);
    raw->layout()->addWidget(label);
    return raw;
}

void add_xyz_tabs(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    tabs.add(QObject::tr("XYZ"), new XYZComponent(profile, sig, tabs.parent()));
}

void add_single_xyz_tab(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    tabs.add(QObject::tr("XYZ"), new SingleXYZTagComponent(profile, sig, tabs.parent()));
}

void add_curves_tab(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    tabs.add(QObject::tr("Curves"), new CurvesComponent(profile, sig, -1, tabs.parent()));
}

void add_mhc2_luminance_tab(TabList& tabs, krmProfile profile)
{
    const auto* mhc2 = static_cast<const krmMHC2*>(read_tag_of_type(profile, krmSig("MHC2"), {krmSig("MHC2")}));
    const HtmlRows rows = {{QObject::tr("Minimum"), QStringLiteral("%1").arg(mhc2->MinLuminance, 0, 'f', 3)},
                           {QObject::tr("Peak"), QStringLiteral("%1").arg(mhc2->PeakLuminance, 0, 'f', 3)}};
    tabs.add(QObject::tr("Luminance"), new CommentComponent(QObject::tr("Luminance"), rows, tabs.parent()));
}

void add_lut_tabs(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    const TagPipelinePtr pipeline(tag_pipeline(profile, sig));
    if (!pipeline)
        throw QException();

    tabs.add(QObject::tr("Pipeline"), new PipelineComponent(profile, sig, tabs.parent()));

    // Tab k is the tab of stage k: the pipeline graph brings a stage forward by that index.
    int index = 0;
    for (const krmStage* stage = krmPipelineFirstStage(pipeline.get()); stage; stage = krmStageNext(stage), ++index) {
        const QString title = QObject::tr("Stage %1").arg(index + 1);
        switch (krmStageType(stage)) {
        case krmSigCLutElemType:
            tabs.add(title, new CLutComponent(profile, sig, index, tabs.parent()));
            break;
        case krmSigCurveSetElemType:
            tabs.add(title, new CurvesComponent(profile, sig, index, tabs.parent()));
            break;
        case krmSigMatrixElemType:
            tabs.add(title, new MatrixComponent(profile, sig, index, tabs.parent()));
            break;
        default:
            tabs.add(title, new CommentComponent(stageTypeName(krmStageType(stage)), {}, tabs.parent()));
            break;
        }
    }

    if (sig == krmSig("MHC2"))
        add_mhc2_luminance_tab(tabs, profile);
    if (is_gamut_available(profile, sig))
        tabs.add(QObject::tr("Gamut"), new GamutHullTagComponent(profile, sig, tabs.parent()));
    if (is_separation_available(profile, sig))
        tabs.add(QObject::tr("Ink separation"), new GCRCurvesTagComponent(profile, sig, tabs.parent()));
    if (is_roundtrip_available(profile, sig))
        tabs.add(QObject::tr("Roundtrip"), new RoundtripTagComponent(profile, sig, tabs.parent()));
    if (is_dot_gain_available(profile, sig))
        tabs.add(QObject::tr("Dot gain"), new TVICurvesTagComponent(profile, sig, tabs.parent()));
}

void add_enumerated_tab(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    tabs.add(QObject::tr("Data"), new EnumeratedTagComponent(profile, sig, tabs.parent()));
}

void add_sequence_tab(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    tabs.add(QObject::tr("Sequence"), new ProfileSeqComponent(profile, sig, tabs.parent()));
}

void add_named_tabs(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    tabs.add(QObject::tr("Named"), new NamedColorComponent(profile, sig, tabs.parent()));
    tabs.add(QObject::tr("Chromaticity"), new XYZComponent(profile, sig, tabs.parent()));
    tabs.add(QObject::tr("Gamut"), new NamedColorGamutComponent(profile, sig, tabs.parent()));
}

void add_chad_tab(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    tabs.add(tagName(sig), new ChadTagComponent(profile, sig, tabs.parent()));
}

void add_viewing_conditions_tab(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    tabs.add(QObject::tr("Viewing Conditions"), new ViewingConditionsTagComponent(profile, sig, tabs.parent()));
}

void add_measurement_tab(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    tabs.add(QObject::tr("Measurement"), new MeasurementTagComponent(profile, sig, tabs.parent()));
}

void add_colorant_order_tab(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    tabs.add(QObject::tr("Order"), new ColorantOrderTagComponent(profile, sig, tabs.parent()));
}

void add_date_time_tab(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    tabs.add(QObject::tr("Date Time"), new DateTimeTagComponent(profile, sig, tabs.parent()));
}

void add_data_tab(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    tabs.add(QObject::tr("Data"), new DataTagComponent(profile, sig, tabs.parent()));
}

void add_screening_tab(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    tabs.add(QObject::tr("Screening"), new ScreeningTagComponent(profile, sig, tabs.parent()));
}

void add_meta_tab(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    tabs.add(QObject::tr("Meta"), new MetaTagComponent(profile, sig, tabs.parent()));
}

void add_cicp_tab(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    tabs.add(QObject::tr("CICP"), new CICPTagComponent(profile, sig, tabs.parent()));
}

void add_mlu_tab(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    tabs.add(QObject::tr("MLU"), new MLUComponent(profile, sig, tabs.parent()));
}

void add_raw_tab(TabList& tabs, krmProfile profile, krmTagSignature sig)
{
    auto* raw = static_cast<GenericTagComponent*>(make_raw_viewer(profile, sig, tabs.parent()));
    // Reached only when neither the signature nor the stored type has a viewer: say so, or the
    // bare bytes look like a failure.
    const krmTagTypeSignature type = stored_tag_type(profile, sig);
    if (type && raw->hexViewer()) {
        auto* label = new QLabel(QObject::tr("Prismet has no viewer for tags of type '%1': the bytes are shown as "
                                             "stored.")
                                     .arg(signatureText(type)),
                                 raw);
        label->setObjectName(QStringLiteral("unknownTypeNote"));
        label->setWordWrap(true);
        label->setContentsMargins(6, 6, 6, 6);
        static_cast<QBoxLayout*>(raw->layout())->insertWidget(0, label);
    }
    tabs.add(QObject::tr("Raw"), raw);
}

// ---------------------------------------------------------------------------------------------
// The dispatch table

using AddTabs = void (*)(TabList&, krmProfile, krmTagSignature);

struct SignatureRule {
    std::initializer_list<krmTagSignature> signatures;
    AddTabs add;
};

// Checked in order; the LUT tags (with their ranges and the virtual row) come between rules 4 and
// 6 and are tested apart.
const SignatureRule kRulesBeforeLut[] = {
    {{krmSig("cprt"), krmSig("crdi"), krmSig("desc"), krmSig("dmdd"), krmSig("dmnd"), krmSig("dscm"), krmSig("targ"),
      krmSig("vued")},
     add_mlu_tab},
    {{krmSig("bXYZ"), krmSig("bkpt"), krmSig("chrm"), krmSig("gXYZ"), krmSig("rXYZ"), krmSig("wtpt")}, add_xyz_tabs},
    {{krmSig("lumi")}, add_single_xyz_tab},
    {{krmSig("bTRC"), krmSig("bfd "), krmSig("gTRC"), krmSig("kTRC"), krmSig("rTRC"), krmSig("vcgt")}, add_curves_tab},
};

const SignatureRule kRulesAfterLut[] = {
    {{krmSig("ciis"), krmSig("rig0"), krmSig("rig2"), krmSig("tech")}, add_enumerated_tab},
    {{krmSig("pseq"), krmSig("psid")}, add_sequence_tab},
    {{krmSig("clot"), krmSig("clrt"), krmSig("ncl2")}, add_named_tabs},
    {{krmSig("arts"), krmSig("chad")}, add_chad_tab},
    {{krmSig("view")}, add_viewing_conditions_tab},
    {{krmSig("meas")}, add_measurement_tab},
    {{krmSig("clro")}, add_colorant_order_tab},
    {{krmSig("calt"), krmSig("dtim")}, add_date_time_tab},
    {{krmSig("psd0"), krmSig("psd1"), krmSig("psd2"), krmSig("psd3"), krmSig("ps2i"), krmSig("ps2s")}, add_data_tab},
    {{krmSig("scrn")}, add_screening_tab},
    {{krmSig("meta")}, add_meta_tab},
    {{krmSig("cicp")}, add_cicp_tab},
};

// Tags no rule names are shown by what their stored type is.
struct TypeRule {
    std::initializer_list<krmTagTypeSignature> types;
    AddTabs add;
};

const TypeRule kTypeRules[] = {
    {{krmSig("text"), krmSig("desc"), krmSig("mluc")}, add_mlu_tab},
    {{krmSig("XYZ ")}, add_xyz_tabs},
    {{krmSig("curv"), krmSig("para"), krmSig("vcgt")}, add_curves_tab},
    {{krmSig("mft1"), krmSig("mft2"), krmSig("mAB "), krmSig("mBA "), krmSig("mpet")}, add_lut_tabs},
    {{krmSig("pseq")}, add_sequence_tab},
    {{krmSig("ncl2")}, add_named_tabs},
};

AddTabs choose_tabs(krmProfile profile, krmTagSignature sig)
{
    for (const SignatureRule& rule : kRulesBeforeLut) {
        if (is_one_of(sig, rule.signatures))
            return rule.add;
    }
    if (is_lut_tag(sig))
        return add_lut_tabs;
    for (const SignatureRule& rule : kRulesAfterLut) {
        if (is_one_of(sig, rule.signatures))
            return rule.add;
    }
    const krmTagTypeSignature type = stored_tag_type(profile, sig);
    for (const TypeRule& rule : kTypeRules) {
        if (is_one_of(type, rule.types))
            return rule.add;
    }
    return add_raw_tab;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

bool is_gamut_available(krmProfile profile, krmTagSignature sig)
{
    if (!profile || !is_analysed_lut(sig))
        return false;
    const krmProfileClassSignature deviceClass = krmGetProfileClass(profile);
    if (!is_one_of(deviceClass, {krmSig("scnr"), krmSig("mntr"), krmSig("prtr"), krmSig("spac"), krmSig("abst")}))
        return false;
    const krmColorSpaceSignature space = krmGetProfileColorSpace(profile);
    return is_one_of(space, {krmSig("RGB "), krmSig("Lab "), krmSig("CMY "), krmSig("CMYK")})
           || in_range(space, "1CLR", "9CLR") || in_range(space, "ACLR", "FCLR") || in_range(space, "MCH1", "MCH9")
           || in_range(space, "MCHA", "MCHF");
}

bool is_separation_available(krmProfile profile, krmTagSignature sig)
{
    return profile && is_b2a(sig) && is_ink_printer(profile);
}

bool is_roundtrip_available(krmProfile profile, krmTagSignature sig)
{
    if (!profile || !(is_a2b(sig) || is_b2a(sig)))
        return false;
    // 'A2Bn' and 'B2An' differ in their first and third characters only.
    const krmTagSignature opposite = (sig & 0x00FF00FFu) | ((is_a2b(sig) ? krmSig("B2A0") : krmSig("A2B0")) & 0xFF00FF00u);
    return krmIsTag(profile, opposite);
}

bool is_dot_gain_available(krmProfile profile, krmTagSignature sig)
{
    return profile && is_a2b(sig) && is_ink_printer(profile);
}

QList<ViewerTab> dispatchTagViewers(krmProfile profile, krmTagSignature sig, QWidget* parent)
{
    TabList tabs(parent);
    // An entry the engine dropped (its data lies outside the file) has only its bytes, if any.
    if (profile && sig != MatrixShaperTag && !krmIsTag(profile, sig)) {
        const StoredDirectory directory = readStoredDirectory(profile);
        if (findStoredEntry(directory, sig)) {
            tabs.add(QObject::tr("Raw"), make_raw_viewer(profile, sig, parent));
            return tabs.release();
        }
    }
    choose_tabs(profile, sig)(tabs, profile, sig);
    return tabs.release();
}

QList<ViewerTab> createTagViewers(krmProfile profile, krmTagSignature sig, QWidget* parent)
{
    // What the engine says while the viewers read the tag belongs on the page, once, not in a
    // dialog per message.
    const EngineMessageCapture capture;
    QList<ViewerTab> tabs;
    try {
        tabs = dispatchTagViewers(profile, sig, parent);
    } catch (const std::exception&) {
        // QException and its family say a viewer cannot show the tag; anything else thrown while
        // building (memory) leaves the same way out. The bytes can always be shown.
        tabs.clear();
    }
    if (tabs.isEmpty())
        return {ViewerTab{QObject::tr("Raw"), make_raw_viewer(profile, sig, parent, capture.messages())}};

    const QSettings* settings = appSettings();
    const bool rawDump = settings && settings->value(QStringLiteral("raw_dump"), false).toBool();
    // Messages from viewers that still showed the tag get a raw page of their own.
    const bool messages = !capture.messages().isEmpty();
    if ((rawDump || messages) && sig != MatrixShaperTag && tabs.first().title != QObject::tr("Raw"))
        tabs.append(ViewerTab{QObject::tr("Raw"), make_raw_viewer(profile, sig, parent, capture.messages())});
    return tabs;
}
