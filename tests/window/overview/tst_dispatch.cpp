// The viewer dispatch: tab sets of real and engine-written profiles, the analysis conditions, the
// raw fallback and the raw_dump preference, the MHC2 pipeline, and every row of every corpus
// profile clicked in the main window.

#include "window/analyses/GamutHullTagComponent.h"
#include "window/analyses/RoundtripTagComponent.h"
#include "window/analyses/GCRCurvesTagComponent.h"
#include "window/analyses/TVICurvesTagComponent.h"
#include "window/widgets/ColorScheme.h"
#include "window/app/Prismet.h"
#include "window/app/PrismetApp.h"
#include "window/widgets/HexViewer.h"
#include "common/signatures/Signatures.h"
#include "window/overview/TagViewers.h"
#include "window/overview/TagsListValueModel.h"
#include "window/overview/TagsTableView.h"
#include "tests/window/app/AppTestSupport.h"
#include "window/viewers/CommentComponent.h"
#include "window/viewers/CLutComponent.h"
#include "window/viewers/CurvesComponent.h"
#include "window/viewers/GenericTagComponent.h"
#include "window/viewers/MLUComponent.h"
#include "window/viewers/MatrixComponent.h"
#include "window/viewers/MatrixWidget.h"
#include "window/viewers/PendingViewer.h"
#include "window/viewers/NamedColorComponent.h"
#include "window/viewers/NamedColorGamutComponent.h"
#include "window/viewers/XYZComponent.h"
#include "window/viewers/PipelineComponent.h"
#include "window/viewers/StructuredTagViewers.h"
#include "window/viewers/WorkflowGraphScene.h"

#include <QApplication>
#include <QDateTime>
#include <QLocale>
#include <QTextEdit>
#include <QTimeZone>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QSettings>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <cmath>
#include <memory>

namespace {

struct ProfileCloser {
    void operator()(_krmProfile_struct* profile) const { krmCloseProfile(profile); }
};
using ProfilePtr = std::unique_ptr<_krmProfile_struct, ProfileCloser>;
struct PipelineFree {
    void operator()(krmPipeline* pipeline) const { krmPipelineFree(pipeline); }
};
using PipelinePtr = std::unique_ptr<krmPipeline, PipelineFree>;

const char* const kSRGB = "/usr/share/color/icc/colord/sRGB.icc";
const char* const kCMYK = "/usr/share/color/icc/ghostscript/default_cmyk.icc";

QStringList corpus()
{
    QStringList files;
    for (const QString folder : {"/usr/share/color/icc/colord", "/usr/share/color/icc/ghostscript"}) {
        for (const QString& name : QDir(folder).entryList({"*.icc"}, QDir::Files, QDir::Name))
            files << folder + QLatin1Char('/') + name;
    }
    return files;
}

ProfilePtr open(const char* path)
{
    return ProfilePtr(krmOpenProfileFromFile(path, "r"));
}

// Owns the widgets of a tab list.
struct Tabs {
    QList<ViewerTab> list;
    ~Tabs()
    {
        for (ViewerTab& tab : list)
            delete tab.widget;
    }
    QStringList titles() const
    {
        QStringList result;
        for (const ViewerTab& tab : list)
            result << tab.title;
        return result;
    }
    QString planned(int i) const
    {
        auto* pending = qobject_cast<PendingViewer*>(list.value(i).widget);
        return pending ? pending->viewerClass() : QString::fromLatin1(list.value(i).widget->metaObject()->className());
    }
};

QStringList stageTitles(int count)
{
    QStringList titles;
    for (int i = 1; i <= count; ++i)
        titles << QStringLiteral("Stage %1").arg(i);
    return titles;
}

int stageCount(krmProfile profile, krmTagSignature sig)
{
    PipelinePtr pipeline(tag_pipeline(profile, sig));
    return pipeline ? int(krmPipelineStageCount(pipeline.get())) : -1;
}

void setRawDump(bool on)
{
    appSettings()->setValue("raw_dump", on);
}

QByteArray saveToMemory(krmProfile profile)
{
    krmUInt32Number size = 0;
    if (!krmSaveProfileToMem(profile, nullptr, &size))
        return {};
    QByteArray bytes(qsizetype(size), '\0');
    if (!krmSaveProfileToMem(profile, bytes.data(), &size))
        return {};
    return bytes;
}

// Gives the directory entry `from` the signature `to` (ICC.1:2010 7.3: 12-byte entries after
// the 132-byte header and count), so a tag written under a known signature becomes a private one.
bool renameTag(QByteArray& bytes, krmTagSignature from, krmTagSignature to)
{
    const auto read32 = [&bytes](qsizetype at) {
        return (quint32(quint8(bytes[at])) << 24) | (quint32(quint8(bytes[at + 1])) << 16) |
               (quint32(quint8(bytes[at + 2])) << 8) | quint32(quint8(bytes[at + 3]));
    };
    if (bytes.size() < 132)
        return false;
    const quint32 count = read32(128);
    for (quint32 i = 0; i < count && 132 + qsizetype(i + 1) * 12 <= bytes.size(); ++i) {
        const qsizetype at = 132 + qsizetype(i) * 12;
        if (read32(at) == from) {
            for (int b = 0; b < 4; ++b)
                bytes[at + b] = char(to >> (24 - 8 * b));
            return true;
        }
    }
    return false;
}

ProfilePtr reopen(const QByteArray& bytes)
{
    return ProfilePtr(krmOpenProfileFromMem(bytes.constData(), krmUInt32Number(bytes.size())));
}

// sRGB written by the engine with a text tag, a signature tag and the structured tags the
// dispatch names, saved and read back.
QByteArray engineProfileBytes()
{
    ProfilePtr profile(krmCreate_sRGBProfile());
    if (!profile)
        return {};
    krmMLU* text = krmMLUAlloc(nullptr, 1);
    krmMLUSetASCII(text, krmNoLanguage, krmNoCountry, "private words");
    const bool wroteText = krmWriteTag(profile.get(), krmSig("targ"), text);
    krmMLUFree(text);

    const krmSignature technology = krmSig("CRT ");
    krmMeasurement measurement = {1, {0.1, 0.2, 0.3}, 2, 0.01, 3};
    krmViewingConditions viewing = {{95.0, 100.0, 108.0}, {19.0, 20.0, 21.0}, 1};
    krmVideoSignal cicp = {1, 13, 0, 1};
    krmColorantOrder order = {};
    std::fill(std::begin(order.Order), std::end(order.Order), krmUInt8Number(0xFF));
    order.Order[0] = 2;
    order.Order[1] = 0;
    order.Order[2] = 1;
    struct tm when = {};
    when.tm_year = 126;
    when.tm_mon = 11;
    when.tm_mday = 9;
    when.tm_hour = 7;
    const bool ok = wroteText && krmWriteTag(profile.get(), krmSig("tech"), &technology)
                    && krmWriteTag(profile.get(), krmSig("meas"), &measurement)
                    && krmWriteTag(profile.get(), krmSig("view"), &viewing)
                    && krmWriteTag(profile.get(), krmSig("cicp"), &cicp)
                    && krmWriteTag(profile.get(), krmSig("clro"), &order)
                    && krmWriteTag(profile.get(), krmSig("calt"), &when);
    return ok ? saveToMemory(profile.get()) : QByteArray();
}

// sRGB with an 'MHC2' tag: matrix = `scale` x identity stored scaled by 65535/32768, offsets, and
// three ramps of `entries` values rising from 0 to `top`.
QByteArray mhc2ProfileBytes(krmUInt32Number entries, double top)
{
    ProfilePtr profile(krmCreate_sRGBProfile());
    if (!profile)
        return {};
    std::vector<double> ramp(entries);
    for (krmUInt32Number i = 0; i < entries; ++i)
        ramp[i] = top * double(i) / double(entries - 1);
    krmMHC2 mhc2 = {};
    mhc2.CurveEntries = entries;
    mhc2.RedCurve = ramp.data();
    mhc2.GreenCurve = ramp.data();
    mhc2.BlueCurve = ramp.data();
    mhc2.MinLuminance = 0.25;
    mhc2.PeakLuminance = 600.125;
    const double stored = 65535.0 / 32768.0;
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column)
            mhc2.XYZ2XYZmatrix[row][column] = row == column ? 0.5 * stored : 0.0;
        mhc2.XYZ2XYZmatrix[row][3] = 0.125 * stored;
    }
    if (!krmWriteTag(profile.get(), krmSig("MHC2"), &mhc2))
        return {};
    return saveToMemory(profile.get());
}

// What a tab shows: never a blank page.
QString shownText(QWidget* widget)
{
    if (auto* pending = qobject_cast<PendingViewer*>(widget))
        return pending->purpose().isEmpty() ? QString() : pending->browser()->toPlainText();
    if (auto* raw = qobject_cast<GenericTagComponent*>(widget)) {
        if (raw->hexViewer() && !raw->hexViewer()->data().isEmpty())
            return QStringLiteral("%1 bytes").arg(raw->hexViewer()->data().size());
        if (raw->noteLabel())
            return raw->noteLabel()->text();
        auto* note = raw->findChild<QLabel*>("rawEmptyNote");
        return note ? note->text() : QString();
    }
    if (auto* mlu = qobject_cast<MLUComponent*>(widget))
        return mlu->textBox() || mlu->tableView() ? QStringLiteral("text") : QString();
    if (auto* comment = qobject_cast<CommentComponent*>(widget))
        return comment->browser()->toPlainText().trimmed();
    if (auto* xyz = qobject_cast<XYZComponent*>(widget))
        return (xyz->scene()->diagram().title + QLatin1Char(' ') + xyz->scene()->diagram().subtitle).trimmed();
    if (auto* named = qobject_cast<NamedColorComponent*>(widget))
        return named->model()->rowCount() ? QStringLiteral("colours") : QString();
    if (auto* cloud = qobject_cast<NamedColorGamutComponent*>(widget))
        return cloud->entries().empty() ? QString() : QStringLiteral("points");
    if (auto* pipeline = qobject_cast<PipelineComponent*>(widget))
        return pipeline->scene()->boxes().isEmpty() ? QString() : QStringLiteral("graph");
    if (auto* curves = qobject_cast<CurvesComponent*>(widget))
        return curves->scene() && !curves->scene()->pathItems().isEmpty() ? QStringLiteral("curves") : QString();
    if (auto* card = qobject_cast<TagCardComponent*>(widget))
        return card->browser()->toPlainText().trimmed();
    const auto matrixText = [](const MatrixWidget* matrix) {
        QStringList cells;
        for (int r = 0; matrix && r < matrix->model()->rowCount(); ++r)
            for (int c = 0; c < matrix->model()->columnCount(); ++c)
                cells << matrix->model()->index(r, c).data().toString();
        return cells.join(QLatin1Char(' '));
    };
    if (auto* chad = qobject_cast<ChadTagComponent*>(widget))
        return matrixText(chad->matrixWidget());
    if (auto* matrix = qobject_cast<MatrixComponent*>(widget))
        return matrixText(matrix->matrixWidget());
    if (auto* clut = qobject_cast<CLutComponent*>(widget))
        return clut->model()->rowCount() > 0 ? clut->model()->index(0, 0).data().toString() : QString();
    if (auto* sequence = qobject_cast<ProfileSeqComponent*>(widget))
        return sequence->scene() && !sequence->scene()->boxes().isEmpty() ? QStringLiteral("graph") : QString();
    if (auto* data = qobject_cast<DataTagComponent*>(widget))
        return data->textView() ? data->textView()->toPlainText() : QString::number(data->hexViewer()->data().size());
    // A gamut is drawn, or left empty because the tag cannot be linked or spans no solid.
    if (auto* gamut = qobject_cast<GamutHullTagComponent*>(widget))
        return gamut->view()->meshCount() > 0 ? QStringLiteral("hull")
                                              : (gamut->transform() ? gamut->failure() : QStringLiteral("no transform"));
    if (auto* roundtrip = qobject_cast<RoundtripTagComponent*>(widget))
        return roundtrip->isComputed() ? QStringLiteral("roundtrip") : roundtrip->messageLabel()->text();
    if (auto* inks = qobject_cast<GCRCurvesTagComponent*>(widget))
        return inks->scene() && !inks->scene()->pathItems().isEmpty() ? QStringLiteral("curves") : QString();
    if (auto* dotGain = qobject_cast<TVICurvesTagComponent*>(widget))
        return dotGain->scene() ? QStringLiteral("graph") : dotGain->messageLabel() ? dotGain->messageLabel()->text() : QString();
    return QString();
}

}  // namespace

class TestDispatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void matrixShaperRow_opensThePipelineSet();
    void cmykOutput_analysisTabs();
    void analysisConditions();
    void signatureRules_onEngineWrittenTags();
    void privateTags_dispatchByStoredType();
    void unusableTag_fallsBackToRawAlone();
    void rawDump_addsRawWhereItShould();
    void mhc2_pipelineAndLuminance();
    void tagPipeline_isACopy();
    void mainWindow_everyRowOfEveryCorpusProfile();
    void mainWindow_paletteChangeRebuildsTheTabs();

private:
    static krmPluginTag permissive_;
};

krmPluginTag TestDispatch::permissive_ = {};

void TestDispatch::initTestCase()
{
    apptest::isolateSettings();
    // As the application does at start-up: permissive tag reading in the global context.
    permissive_.base.Magic = krmPluginMagicNumber;
    permissive_.base.ExpectedVersion = 2190;
    permissive_.base.Type = krmPluginTagSig;
    permissive_.Signature = 0;
    QVERIFY(krmRegisterPlugin(&permissive_));
}

void TestDispatch::init()
{
    setRawDump(false);
}

void TestDispatch::matrixShaperRow_opensThePipelineSet()
{
    ProfilePtr profile = open(kSRGB);
    QVERIFY(profile);
    const int stages = stageCount(profile.get(), MatrixShaperTag);
    QVERIFY(stages >= 2);
    Tabs tabs{createTagViewers(profile.get(), MatrixShaperTag, nullptr)};
    // A display RGB profile: "Gamut" applies; no roundtrip for the virtual tag.
    QCOMPARE(tabs.titles(), QStringList{"Pipeline"} + stageTitles(stages) + QStringList{"Gamut"});
    QCOMPARE(tabs.planned(0), QStringLiteral("PipelineComponent"));
    QCOMPARE(tabs.planned(stages + 1), QStringLiteral("GamutHullTagComponent"));

    // Stage tabs follow the stage types, in pipeline order.
    PipelinePtr pipeline(tag_pipeline(profile.get(), MatrixShaperTag));
    int i = 1;
    for (const krmStage* stage = krmPipelineFirstStage(pipeline.get()); stage; stage = krmStageNext(stage), ++i) {
        switch (krmStageType(stage)) {
        case krmSigCurveSetElemType: QCOMPARE(tabs.planned(i), QStringLiteral("CurvesComponent")); break;
        case krmSigMatrixElemType: QCOMPARE(tabs.planned(i), QStringLiteral("MatrixComponent")); break;
        case krmSigCLutElemType: QCOMPARE(tabs.planned(i), QStringLiteral("CLutComponent")); break;
        default: QCOMPARE(tabs.planned(i), QStringLiteral("CommentComponent")); break;
        }
    }
    // The pipeline graph has one box per stage.
    auto* pipelinePage = qobject_cast<PipelineComponent*>(tabs.list[0].widget);
    QCOMPARE(pipelinePage->scene()->boxes().size(), stages);
}

void TestDispatch::cmykOutput_analysisTabs()
{
    ProfilePtr profile = open(kCMYK);
    QVERIFY(profile);
    QCOMPARE(krmGetProfileClass(profile.get()), krmSig("prtr"));

    const int b2aStages = stageCount(profile.get(), krmSig("B2A0"));
    QVERIFY(b2aStages > 0);
    Tabs b2a{createTagViewers(profile.get(), krmSig("B2A0"), nullptr)};
    QCOMPARE(b2a.titles(),
             (QStringList{"Pipeline"} + stageTitles(b2aStages) + QStringList{"Gamut", "Ink separation", "Roundtrip"}));
    QCOMPARE(b2a.planned(b2aStages + 2), QStringLiteral("GCRCurvesTagComponent"));

    const int a2bStages = stageCount(profile.get(), krmSig("A2B0"));
    Tabs a2b{createTagViewers(profile.get(), krmSig("A2B0"), nullptr)};
    QCOMPARE(a2b.titles(),
             (QStringList{"Pipeline"} + stageTitles(a2bStages) + QStringList{"Gamut", "Roundtrip", "Dot gain"}));
    QCOMPARE(a2b.planned(a2bStages + 3), QStringLiteral("TVICurvesTagComponent"));

    // Each CLUT stage page shows its nodes once its tab is selected.
    for (int i = 1; i <= a2bStages; ++i) {
        if (auto* clut = qobject_cast<CLutComponent*>(a2b.list[i].widget)) {
            clut->tabSelected();
            QVERIFY(!shownText(clut).isEmpty());
        }
    }
}

void TestDispatch::analysisConditions()
{
    ProfilePtr cmyk = open(kCMYK);
    ProfilePtr gray = open("/usr/share/color/icc/ghostscript/default_gray.icc");
    ProfilePtr rgb = open(kSRGB);
    QVERIFY(cmyk && gray && rgb);

    // Roundtrip needs the opposite direction of the same intent.
    QVERIFY(is_roundtrip_available(cmyk.get(), krmSig("A2B0")));
    QCOMPARE(is_roundtrip_available(cmyk.get(), krmSig("A2B1")), bool(krmIsTag(cmyk.get(), krmSig("B2A1"))));
    QVERIFY(!is_roundtrip_available(cmyk.get(), krmSig("D2B0")));
    QVERIFY(!is_roundtrip_available(cmyk.get(), MatrixShaperTag));
    // Ink analyses: printers only, B2A for separation, A2B for dot gain.
    QVERIFY(is_separation_available(cmyk.get(), krmSig("B2A2")));
    QVERIFY(!is_separation_available(cmyk.get(), krmSig("A2B0")));
    QVERIFY(is_dot_gain_available(cmyk.get(), krmSig("A2B2")));
    QVERIFY(!is_dot_gain_available(cmyk.get(), krmSig("B2A0")));
    QVERIFY(!is_dot_gain_available(rgb.get(), krmSig("A2B0")));
    // Gamut: the LUT tags and the virtual row, never 'gamt' or 'pre0'; gray is outside every test.
    QVERIFY(is_gamut_available(cmyk.get(), krmSig("D2B3")));
    QVERIFY(is_gamut_available(cmyk.get(), krmSig("B2D0")));
    QVERIFY(!is_gamut_available(cmyk.get(), krmSig("gamt")));
    QVERIFY(!is_gamut_available(cmyk.get(), krmSig("pre0")));
    QVERIFY(is_gamut_available(rgb.get(), MatrixShaperTag));
    for (krmTagSignature sig : {krmSig("A2B0"), krmSig("B2A0"), MatrixShaperTag}) {
        QVERIFY(!is_gamut_available(gray.get(), sig));
        QVERIFY(!is_separation_available(gray.get(), sig));
        QVERIFY(!is_dot_gain_available(gray.get(), sig));
    }
    QVERIFY(!is_gamut_available(nullptr, krmSig("A2B0")));

    // A gray profile's LUT row: the pipeline and its stages only.
    if (krmIsTag(gray.get(), krmSig("A2B0")) && !krmIsTag(gray.get(), krmSig("B2A0"))) {
        Tabs tabs{createTagViewers(gray.get(), krmSig("A2B0"), nullptr)};
        QCOMPARE(tabs.titles(), QStringList{"Pipeline"} + stageTitles(stageCount(gray.get(), krmSig("A2B0"))));
    }
}

void TestDispatch::signatureRules_onEngineWrittenTags()
{
    QByteArray bytes = engineProfileBytes();
    QVERIFY(!bytes.isEmpty());
    ProfilePtr profile = reopen(bytes);
    QVERIFY(profile);

    struct Case {
        krmTagSignature sig;
        QStringList titles;
        QStringList classes;
        QString summaryText;  // a piece of the decoded content the page must show
    };
    const QList<Case> cases = {
        {krmSig("desc"), {"MLU"}, {"MLUComponent"}, {}},
        {krmSig("targ"), {"MLU"}, {"MLUComponent"}, {}},
        {krmSig("wtpt"), {"XYZ"}, {"XYZComponent"}, "XYZ:(0.96"},
        {krmSig("rTRC"), {"Curves"}, {"CurvesComponent"}, {}},
        {krmSig("chad"), {tagName(krmSig("chad"))}, {"ChadTagComponent"}, "1.04"},
        {krmSig("tech"), {"Data"}, {"EnumeratedTagComponent"}, technologyName(krmSig("CRT "))},
        {krmSig("meas"), {"Measurement"}, {"MeasurementTagComponent"}, "X: 0.1000 Y: 0.2000 Z: 0.3000"},
        {krmSig("view"), {"Viewing Conditions"}, {"ViewingConditionsTagComponent"}, "X: 95.0000"},
        {krmSig("cicp"), {"CICP"}, {"CICPTagComponent"}, "13"},
        {krmSig("clro"), {"Order"}, {"ColorantOrderTagComponent"}, "2, 0, 1"},
        {krmSig("calt"), {"Date Time"}, {"DateTimeTagComponent"}, QLocale::system().toString(QDateTime(QDate(2026, 12, 9), QTime(7, 0), QTimeZone::utc()), QLocale::NarrowFormat)},
    };
    for (const Case& c : cases) {
        const QString where = signatureText(c.sig);
        QVERIFY2(krmIsTag(profile.get(), c.sig), qPrintable(where));
        Tabs tabs{createTagViewers(profile.get(), c.sig, nullptr)};
        QCOMPARE(tabs.titles(), c.titles);
        for (int i = 0; i < c.classes.size(); ++i)
            QCOMPARE(tabs.planned(i), c.classes[i]);
        if (!c.summaryText.isEmpty())
            QVERIFY2(shownText(tabs.list[0].widget).contains(c.summaryText),
                     qPrintable(where + ": " + shownText(tabs.list[0].widget)));
    }

    // Named colours: three tabs, and the count of colours on the page.
    ProfilePtr named = open("/usr/share/color/icc/colord/x11-colors.icc");
    QVERIFY(named);
    for (krmTagSignature sig : {krmSig("ncl2"), krmSig("clrt")}) {
        if (!krmIsTag(named.get(), sig))
            continue;
        Tabs tabs{createTagViewers(named.get(), sig, nullptr)};
        QCOMPARE(tabs.titles(), (QStringList{"Named", "Chromaticity", "Gamut"}));
        QCOMPARE(tabs.planned(1), QStringLiteral("XYZComponent"));
        QCOMPARE(tabs.planned(2), QStringLiteral("NamedColorGamutComponent"));
    }

    // 'lumi' is an XYZ tab with the single-value viewer.
    ProfilePtr cmyk = open(kCMYK);
    for (krmProfile p : {profile.get(), cmyk.get()}) {
        if (!krmIsTag(p, krmSig("lumi")))
            continue;
        Tabs tabs{createTagViewers(p, krmSig("lumi"), nullptr)};
        QCOMPARE(tabs.titles(), QStringList{"XYZ"});
        QCOMPARE(tabs.planned(0), QStringLiteral("SingleXYZTagComponent"));
    }
}

void TestDispatch::privateTags_dispatchByStoredType()
{
    QByteArray bytes = engineProfileBytes();
    QVERIFY(renameTag(bytes, krmSig("targ"), krmSig("zTxt")));
    QVERIFY(renameTag(bytes, krmSig("tech"), krmSig("zSig")));
    QVERIFY(renameTag(bytes, krmSig("rXYZ"), krmSig("zXYZ")));
    QVERIFY(renameTag(bytes, krmSig("gTRC"), krmSig("zCrv")));
    ProfilePtr profile = reopen(bytes);
    QVERIFY(profile);

    QCOMPARE(stored_tag_type(profile.get(), krmSig("zTxt")), krmSig("text"));
    QCOMPARE(stored_tag_type(profile.get(), krmSig("none")), krmTagTypeSignature(0));

    Tabs text{createTagViewers(profile.get(), krmSig("zTxt"), nullptr)};
    QCOMPARE(text.titles(), QStringList{"MLU"});
    auto* mlu = qobject_cast<MLUComponent*>(text.list[0].widget);
    QVERIFY(mlu);
    // An XYZ value under a private signature is no tag the chromaticity viewer knows: the bytes.
    Tabs xyz{createTagViewers(profile.get(), krmSig("zXYZ"), nullptr)};
    QCOMPARE(xyz.titles(), QStringList{"Raw"});
    auto* rawXYZ = qobject_cast<GenericTagComponent*>(xyz.list[0].widget);
    QVERIFY(rawXYZ && rawXYZ->hexViewer());
    QCOMPARE(rawXYZ->hexViewer()->data().left(4), QByteArray("XYZ "));
    Tabs curve{createTagViewers(profile.get(), krmSig("zCrv"), nullptr)};
    QCOMPARE(curve.titles(), QStringList{"Curves"});
    // 'sig ' is a type no rule names: the bytes.
    Tabs sig{createTagViewers(profile.get(), krmSig("zSig"), nullptr)};
    QCOMPARE(sig.titles(), QStringList{"Raw"});
    auto* raw = qobject_cast<GenericTagComponent*>(sig.list[0].widget);
    QVERIFY(raw && raw->hexViewer());
    QCOMPARE(raw->hexViewer()->data().left(4), QByteArray("sig "));
}

void TestDispatch::unusableTag_fallsBackToRawAlone()
{
    // A 'lumi' that holds text: the XYZ viewer cannot use it, so the bytes alone are shown, and
    // raw_dump adds no second "Raw".
    QByteArray bytes = engineProfileBytes();
    QVERIFY(renameTag(bytes, krmSig("targ"), krmSig("lumi")));
    QVERIFY(renameTag(bytes, krmSig("meas"), krmSig("A2B0")));
    ProfilePtr profile = reopen(bytes);
    QVERIFY(profile);
    for (bool rawDump : {false, true}) {
        setRawDump(rawDump);
        for (krmTagSignature sig : {krmSig("lumi"), krmSig("A2B0")}) {
            Tabs tabs{createTagViewers(profile.get(), sig, nullptr)};
            QCOMPARE(tabs.titles(), QStringList{"Raw"});
            QVERIFY(!shownText(tabs.list[0].widget).isEmpty());
        }
    }
    // A tag the profile does not have: one "Raw" page that says so.
    Tabs absent{createTagViewers(profile.get(), krmSig("zzzz"), nullptr)};
    QCOMPARE(absent.titles(), QStringList{"Raw"});
    QVERIFY(shownText(absent.list[0].widget).contains("'zzzz'"));
    QVERIFY(tag_pipeline(profile.get(), krmSig("A2B0")) == nullptr);
}

void TestDispatch::rawDump_addsRawWhereItShould()
{
    ProfilePtr profile = open(kSRGB);
    QVERIFY(profile);
    setRawDump(true);
    Tabs desc{createTagViewers(profile.get(), krmSig("desc"), nullptr)};
    QCOMPARE(desc.titles(), (QStringList{"MLU", "Raw"}));
    Tabs wtpt{createTagViewers(profile.get(), krmSig("wtpt"), nullptr)};
    QCOMPARE(wtpt.titles(), (QStringList{"XYZ", "Raw"}));
    Tabs shaper{createTagViewers(profile.get(), MatrixShaperTag, nullptr)};
    QVERIFY(!shaper.titles().contains("Raw"));

    QByteArray bytes = engineProfileBytes();
    QVERIFY(renameTag(bytes, krmSig("tech"), krmSig("zSig")));
    ProfilePtr privateTag = reopen(bytes);
    Tabs sig{createTagViewers(privateTag.get(), krmSig("zSig"), nullptr)};
    QCOMPARE(sig.titles(), QStringList{"Raw"});

    setRawDump(false);
    Tabs plain{createTagViewers(profile.get(), krmSig("desc"), nullptr)};
    QCOMPARE(plain.titles(), QStringList{"MLU"});
}

void TestDispatch::mhc2_pipelineAndLuminance()
{
    const QByteArray bytes = mhc2ProfileBytes(5, 1.0);
    QVERIFY(!bytes.isEmpty());
    ProfilePtr profile = reopen(bytes);
    QVERIFY(profile);

    Tabs tabs{createTagViewers(profile.get(), krmSig("MHC2"), nullptr)};
    QCOMPARE(tabs.titles(), (QStringList{"Pipeline", "Stage 1", "Stage 2", "Luminance"}));
    QCOMPARE(tabs.planned(1), QStringLiteral("MatrixComponent"));
    QCOMPARE(tabs.planned(2), QStringLiteral("CurvesComponent"));
    const QString luminance = shownText(tabs.list[3].widget);
    QVERIFY2(luminance.contains("Minimum") && luminance.contains("0.250"), qPrintable(luminance));
    QVERIFY2(luminance.contains("Peak") && luminance.contains("600.125"), qPrintable(luminance));

    // Matrix 0.5 x identity with offset 0.125, then identity ramps: out = 0.5 in + 0.125.
    PipelinePtr pipeline(tag_pipeline(profile.get(), krmSig("MHC2")));
    QVERIFY(pipeline);
    QCOMPARE(krmPipelineInputChannels(pipeline.get()), 3u);
    QCOMPARE(krmPipelineOutputChannels(pipeline.get()), 3u);
    for (float v : {0.0f, 0.2f, 0.6f, 1.0f}) {
        const krmFloat32Number in[3] = {v, v * 0.5f, 1.0f - v};
        krmFloat32Number out[3] = {};
        krmPipelineEvalFloat(in, out, pipeline.get());
        for (int c = 0; c < 3; ++c)
            QVERIFY2(std::fabs(out[c] - (0.5f * in[c] + 0.125f)) < 1e-3f, qPrintable(QString::number(out[c])));
    }

    // Curve entries above 1 are clamped to the 16-bit range instead of wrapping around.
    const QByteArray steep = mhc2ProfileBytes(3, 2.0);
    ProfilePtr steepProfile = reopen(steep);
    QVERIFY(steepProfile);
    PipelinePtr clamped(tag_pipeline(steepProfile.get(), krmSig("MHC2")));
    QVERIFY(clamped);
    const krmFloat32Number in[3] = {1.0f, 1.0f, 1.0f};
    krmFloat32Number out[3] = {};
    krmPipelineEvalFloat(in, out, clamped.get());
    QVERIFY2(std::fabs(out[0] - 1.0f) < 1e-3f, qPrintable(QString::number(out[0])));

    // No analysis tab for MHC2, and it is in no group of the table.
    QVERIFY(!is_gamut_available(profile.get(), krmSig("MHC2")));
}

void TestDispatch::tagPipeline_isACopy()
{
    ProfilePtr profile = open(kCMYK);
    QVERIFY(profile);
    const auto* cached = static_cast<const krmPipeline*>(krmReadTag(profile.get(), krmSig("A2B0")));
    QVERIFY(cached);
    PipelinePtr copy(tag_pipeline(profile.get(), krmSig("A2B0")));
    QVERIFY(copy && copy.get() != cached);
    QCOMPARE(krmPipelineStageCount(copy.get()), krmPipelineStageCount(cached));
    // Same results as the profile's own object, which stays usable after the copy is freed.
    const krmUInt16Number in[4] = {0x1234, 0x8000, 0xC000, 0x4000};
    krmUInt16Number a[3] = {}, b[3] = {};
    krmPipelineEval16(in, a, copy.get());
    copy.reset();
    krmPipelineEval16(in, b, cached);
    krmUInt16Number c[3] = {};
    PipelinePtr again(tag_pipeline(profile.get(), krmSig("A2B0")));
    krmPipelineEval16(in, c, again.get());
    QCOMPARE(QList<int>({a[0], a[1], a[2]}), QList<int>({b[0], b[1], b[2]}));
    QCOMPARE(QList<int>({c[0], c[1], c[2]}), QList<int>({b[0], b[1], b[2]}));
    QVERIFY(tag_pipeline(profile.get(), krmSig("desc")) == nullptr);
    QVERIFY(tag_pipeline(nullptr, krmSig("A2B0")) == nullptr);
}

void TestDispatch::mainWindow_everyRowOfEveryCorpusProfile()
{
    apptest::ModalWatcher watcher;
    Prismet window;
    window.resize(1200, 800);
    window.show();
    auto* table = window.findChild<TagsTableView*>("tagsListTabView");
    auto* tabs = window.findChild<QTabWidget*>("tagTabbedViewer");
    QVERIFY(table && tabs);

    for (bool rawDump : {false, true}) {
        setRawDump(rawDump);
        for (const QString& path : corpus()) {
            const qsizetype errorsBefore = watcher.messages.size();
            window.open_filename(path);
            QCOMPARE(window.profilePath(), path);
            const int rows = table->model()->rowCount();
            QVERIFY(rows > 0);
            for (int row = 0; row < rows; ++row) {
                table->setCurrentIndex(table->model()->index(row, 0));
                const QString where = QStringLiteral("%1 row %2 '%3'")
                                          .arg(path)
                                          .arg(row)
                                          .arg(table->model()->index(row, 1).data().toString());
                QVERIFY2(tabs->count() > 0, qPrintable(where));
                for (int i = 0; i < tabs->count(); ++i) {
                    tabs->setCurrentIndex(i);
                    QVERIFY2(tabs->widget(i)->inherits("IProfileComponentView"), qPrintable(where));
                    QVERIFY2(!shownText(tabs->widget(i)).isEmpty(),
                             qPrintable(where + " tab " + tabs->tabText(i) + " is blank"));
                }
            }
            for (qsizetype i = errorsBefore; i < watcher.messages.size(); ++i)
                watcher.messages[i] = path + QStringLiteral(": ") + watcher.messages[i];
        }
    }
    // Corpus files whose own bytes are broken: the engine reports it when the tag is read, and
    // the tag is shown raw. Their 'B2A0' ('mBA ') lays its matrix over the second M curve.
    const QStringList knownBroken = {"/usr/share/color/icc/colord/Crayons.icc",
                                     "/usr/share/color/icc/colord/x11-colors.icc"};
    for (const QString& message : std::as_const(watcher.messages))
        QVERIFY2(knownBroken.contains(message.section(QStringLiteral(": "), 0, 0)), qPrintable(message));
    for (const QString& path : knownBroken) {
        ProfilePtr profile = open(QFile::encodeName(path).constData());
        Tabs tabs{createTagViewers(profile.get(), krmSig("B2A0"), nullptr)};
        QCOMPARE(tabs.titles(), QStringList{"Raw"});
    }
}

void TestDispatch::mainWindow_paletteChangeRebuildsTheTabs()
{
    const QPalette original = QApplication::palette();
    Prismet window;
    window.show();
    window.open_filename(QString::fromLatin1(kCMYK));
    auto* table = window.findChild<TagsTableView*>("tagsListTabView");
    auto* tabs = window.findChild<QTabWidget*>("tagTabbedViewer");
    const int b2a0 = [&] {
        for (int row = 0; row < table->model()->rowCount(); ++row)
            if (table->tagsModel()->signatureAt(row) == krmSig("B2A0"))
                return row;
        return -1;
    }();
    QVERIFY(b2a0 >= 0);
    table->setCurrentIndex(table->model()->index(b2a0, 0));
    QCOMPARE(tabs->tabText(0), QStringLiteral("Pipeline"));
    QPointer<QWidget> before = tabs->widget(0);

    // Qt hands a new palette to the widgets only while the application's event loop runs: switch
    // it from inside the loop, as the system would. The viewers being rebuilt also receive the
    // palette, so they must not be deleted while it is being delivered.
    const QPalette next = is_dark_palette() ? QPalette(QColor(230, 230, 230)) : dark_fusion_palette();
    QTimer::singleShot(0, [&] {
        QApplication::setPalette(next);
        QTimer::singleShot(50, qApp, &QCoreApplication::quit);
    });
    QTimer::singleShot(5000, qApp, &QCoreApplication::quit);  // never hang the run
    QApplication::exec();
    QTRY_VERIFY(before.isNull());
    QCOMPARE(tabs->tabText(0), QStringLiteral("Pipeline"));

    // Optional picture of the window for a person to look at.
    const QByteArray shots = qgetenv("PRISMET_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        QApplication::setPalette(dark_fusion_palette());
        QCoreApplication::processEvents();
        window.resize(1400, 900);
        tabs->setCurrentIndex(0);
        QTest::qWait(200);
        window.grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/lut_tag_dark.png"));
        tabs->setCurrentIndex(2);
        QTest::qWait(100);
        window.grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/lut_stage_dark.png"));
    }
    QApplication::setPalette(original);
}

QTEST_MAIN(TestDispatch)
#include "tst_dispatch.moc"
