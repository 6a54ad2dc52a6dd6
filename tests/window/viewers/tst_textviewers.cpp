// Text, comment and raw viewers: every text tag of the real-profile corpus, version 2
// descriptions with a Unicode part, private text tags, malformed directories and HTML cards.

#include "tests/support/ViewerTestSupport.h"

#include "window/widgets/HexViewer.h"
#include "window/viewers/CommentComponent.h"
#include "window/viewers/GenericTagComponent.h"
#include "window/widgets/HtmlHelpers.h"
#include "window/viewers/MLUComponent.h"
#include "window/viewers/MLU_TableModel.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QException>
#include <QLabel>
#include <QPalette>
#include <QStandardPaths>
#include <QTableView>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <vector>

using namespace viewertest;

namespace {

// Four columns of the model's rows: language, country, string.
QStringList rowTexts(const QAbstractItemModel& model, int row)
{
    QStringList cells;
    for (int column = 0; column < model.columnCount(); ++column)
        cells << model.index(row, column).data().toString();
    return cells;
}

QString utf8Text(const krmMLU* mlu, const char language[3], const char country[3])
{
    const krmUInt32Number size = krmMLUGetUTF8(mlu, language, country, nullptr, 0);
    std::vector<char> buffer(size + 1, 0);
    krmMLUGetUTF8(mlu, language, country, buffer.data(), size);
    return QString::fromUtf8(buffer.data());
}

bool isAscii(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// A version 2 profile whose 'desc' is written by the engine from `ascii` and re-read.
QByteArray engineWrittenDescription(const char* ascii)
{
    ProfilePtr profile(krmCreateProfilePlaceholder(nullptr));
    krmSetProfileVersion(profile.get(), 2.1);
    krmSetProfileClass(profile.get(), krmSig("mntr"));
    krmSetProfileColorSpace(profile.get(), krmSig("RGB "));
    krmSetProfilePCS(profile.get(), krmSig("XYZ "));
    krmMLU* mlu = krmMLUAlloc(nullptr, 1);
    krmMLUSetASCII(mlu, "en", "US", ascii);
    const bool written = krmWriteTag(profile.get(), krmSig("desc"), mlu);
    krmMLUFree(mlu);
    return written ? saveToBytes(profile.get()) : QByteArray();
}

}  // namespace

class TestTextViewers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void corpusTextTagsShowEveryTranslation();
    void versionTwoDescriptionShowsUnicodeRow();
    void singleLineIsATableMultiLineIsATextBox();
    void severalTranslationsAreRows();
    void longTranslationsAreCappedWithTooltipAndPane();
    void privateTextTagInPermissiveReading();
    void eightBitTextIsDecoded();
    void unreadableTagsThrow();
    void modelAnswersOnlyDisplayAndHeaders();

    void genericShowsTheStoredBytes();
    void genericNeverThrows();

    void htmlCards();
    void commentComponentShowsTheCard();
};

void TestTextViewers::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    registerPermissiveReading();
}

void TestTextViewers::corpusTextTagsShowEveryTranslation()
{
    const QStringList paths = corpusProfiles();
    QVERIFY2(paths.size() >= 20, "the colord and ghostscript profiles are expected to be installed");
    int viewers = 0;
    for (const QString& path : paths) {
        ProfilePtr profile(krmOpenProfileFromFile(QFile::encodeName(path).constData(), "r"));
        QVERIFY2(profile, qPrintable(path));
        for (const krmTagSignature sig : {krmSig("desc"), krmSig("cprt"), krmSig("dmnd"), krmSig("dmdd")}) {
            if (!krmIsTag(profile.get(), sig))
                continue;
            const QString where = path + QLatin1Char(' ') + QString::number(sig, 16);
            const auto* mlu = static_cast<const krmMLU*>(krmReadTag(profile.get(), sig));
            QVERIFY2(mlu, qPrintable(where));
            const krmUInt32Number count = krmMLUTranslationsCount(mlu);
            QVERIFY2(count > 0, qPrintable(where));

            MLUComponent viewer(profile.get(), sig);
            ++viewers;
            if (viewer.textBox()) {
                QCOMPARE(count, 1u);
                QVERIFY2(!viewer.textBox()->toPlainText().isEmpty(), qPrintable(where));
                continue;
            }
            QVERIFY2(viewer.model(), qPrintable(where));
            QAbstractItemModelTester tester(viewer.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
            QCOMPARE(viewer.model()->rowCount(), int(count));
            for (krmUInt32Number i = 0; i < count; ++i) {
                char language[3] = {}, country[3] = {};
                QVERIFY(krmMLUTranslationCodes(mlu, i, language, country));
                const QString shown = viewer.model()->index(int(i), 2).data().toString();
                // The wide path of the model against the engine's own UTF-8 conversion.
                QString expected = utf8Text(mlu, language, country);
                expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
                if (isAscii(expected))
                    QCOMPARE(shown, expected);
                QVERIFY2(!shown.isEmpty(), qPrintable(where));
            }
        }
    }
    QVERIFY(viewers >= 2 * paths.size());
}

void TestTextViewers::versionTwoDescriptionShowsUnicodeRow()
{
    const QByteArray bytes = engineWrittenDescription("Test display");
    QVERIFY(!bytes.isEmpty());
    ProfilePtr profile = openFromBytes(bytes);
    QVERIFY(profile);
    MLUComponent viewer(profile.get(), krmSig("desc"));
    QCOMPARE(krmGetTagStoredType(profile.get(), krmSig("desc")), krmSig("desc"));
    QVERIFY(viewer.model());
    QAbstractItemModelTester tester(viewer.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(viewer.model()->rowCount(), 2);
    // The ASCII part under empty codes, then the Unicode part.
    QCOMPARE(rowTexts(*viewer.model(), 0), QStringList({"", "", "Test display"}));
    QCOMPARE(rowTexts(*viewer.model(), 1), QStringList({"(Unicode)", "", "Test display"}));
}

void TestTextViewers::singleLineIsATableMultiLineIsATextBox()
{
    {
        ProfilePtr profile = openFromBytes(buildProfile({{krmSig("cprt"), textType("No rights reserved")}}));
        QVERIFY(profile);
        MLUComponent viewer(profile.get(), krmSig("cprt"));
        QVERIFY(!viewer.textBox());
        QVERIFY(viewer.tableView());
        QCOMPARE(viewer.model()->rowCount(), 1);
        QCOMPARE(viewer.model()->index(0, 2).data().toString(), QStringLiteral("No rights reserved"));
        QCOMPARE(viewer.tableView()->frameShape(), QFrame::NoFrame);
        QCOMPARE(viewer.tableView()->selectionBehavior(), QAbstractItemView::SelectRows);
    }
    for (const QByteArray& text : {QByteArray("first line\nsecond line"), QByteArray("first\rsecond")}) {
        ProfilePtr profile = openFromBytes(buildProfile({{krmSig("cprt"), textType(text)}}));
        QVERIFY(profile);
        MLUComponent viewer(profile.get(), krmSig("cprt"));
        QVERIFY(!viewer.tableView());
        QVERIFY(viewer.textBox());
        QVERIFY(viewer.textBox()->isReadOnly());
        QCOMPARE(viewer.textBox()->lineWrapMode(), QTextEdit::NoWrap);
        QCOMPARE(viewer.textBox()->document()->blockCount(), 2);
    }
}

void TestTextViewers::longTranslationsAreCappedWithTooltipAndPane()
{
    // sRGB's 'dmdd' holds 27 paragraphs: every row stays a few lines tall, the tooltip and the
    // pane give the whole text of a row.
    ProfilePtr profile(krmOpenProfileFromFile("/usr/share/color/icc/colord/sRGB.icc", "r"));
    QVERIFY(profile);
    MLUComponent viewer(profile.get(), krmSig("dmdd"));
    viewer.resize(700, 500);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QTableView* table = viewer.tableView();
    MLU_TableModel* model = viewer.model();
    QVERIFY(table && model && viewer.textPane());
    QVERIFY(model->rowCount() >= 20);

    const int line = table->fontMetrics().lineSpacing();
    int tallest = 0;
    for (int row = 0; row < model->rowCount(); ++row) {
        tallest = std::max(tallest, table->rowHeight(row));
        const QModelIndex text = model->index(row, MLU_TableModel::StringColumn);
        QTextDocument tip;
        tip.setHtml(text.data(Qt::ToolTipRole).toString());
        // (Rich text reads no-break spaces back as plain ones.)
        QCOMPARE(tip.toPlainText().trimmed(), text.data().toString().replace(QChar(0xA0), QLatin1Char(' ')).trimmed());
    }
    QVERIFY2(tallest <= 3 * line + 12, qPrintable(QString::number(tallest)));
    QVERIFY(tallest > line + 6);  // long texts do get more than one line

    // The pane follows the selected row, whole and read-only.
    QVERIFY(viewer.textPane()->isReadOnly());
    QCOMPARE(viewer.textPane()->toPlainText(), model->index(0, MLU_TableModel::StringColumn).data().toString());
    table->selectRow(5);
    QCOMPARE(viewer.textPane()->toPlainText(), model->index(5, MLU_TableModel::StringColumn).data().toString());

    // Stored text is never read as markup in the tooltip.
    krmMLU* mlu = krmMLUAlloc(nullptr, 1);
    krmMLUSetASCII(mlu, "en", "US", "<b>bold</b> & more");
    MLU_TableModel markup(mlu);
    QTextDocument tip;
    tip.setHtml(markup.index(0, MLU_TableModel::StringColumn).data(Qt::ToolTipRole).toString());
    QCOMPARE(tip.toPlainText().trimmed(), QStringLiteral("<b>bold</b> & more"));
    krmMLUFree(mlu);
}

void TestTextViewers::severalTranslationsAreRows()
{
    // Two translations, the first with a line break: several translations always make a table.
    const QByteArray tag = mlucType({{"en", "US", "Line one\nLine two"},
                                     {"de", "DE", QString::fromUtf8("Größe €")},
                                     {"ja", "JP", QString::fromUtf8("表示")}});
    ProfilePtr profile = openFromBytes(buildProfile({{krmSig("desc"), tag}}, 0x04300000));
    QVERIFY(profile);
    MLUComponent viewer(profile.get(), krmSig("desc"));
    QVERIFY(viewer.model());
    QAbstractItemModelTester tester(viewer.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(viewer.model()->rowCount(), 3);
    QCOMPARE(rowTexts(*viewer.model(), 0), QStringList({"en", "US", "Line one\nLine two"}));
    QCOMPARE(rowTexts(*viewer.model(), 1), QStringList({"de", "DE", QString::fromUtf8("Größe €")}));
    QCOMPARE(rowTexts(*viewer.model(), 2), QStringList({"ja", "JP", QString::fromUtf8("表示")}));
    // The two-line text is not cut to one line.
    QVERIFY(viewer.tableView()->rowHeight(0) > viewer.tableView()->rowHeight(1));
}

void TestTextViewers::privateTextTagInPermissiveReading()
{
    ProfilePtr profile = openFromBytes(buildProfile({{krmSig("zPrv"), textType("vendor note")}}));
    QVERIFY(profile);
    MLUComponent viewer(profile.get(), krmSig("zPrv"));
    QVERIFY(viewer.model());
    QCOMPARE(rowTexts(*viewer.model(), 0), QStringList({"", "", "vendor note"}));
}

void TestTextViewers::eightBitTextIsDecoded()
{
    // 'text' holds bytes; the engine keeps them as sign-extended units. Latin-1 and UTF-8
    // bytes must both read as the characters they stand for.
    const QByteArray latin1("Copyright \xA9 Caf\xE9");
    const QByteArray utf8 = QString::fromUtf8("Copyright © Café").toUtf8();
    for (const QByteArray& bytes : {latin1, utf8}) {
        ProfilePtr profile = openFromBytes(buildProfile({{krmSig("cprt"), textType(bytes)}}));
        QVERIFY(profile);
        MLUComponent viewer(profile.get(), krmSig("cprt"));
        QCOMPARE(viewer.model()->index(0, 2).data().toString(), QString::fromUtf8("Copyright © Café"));
    }
    // A real Unicode text under empty codes is left as it is, half-width forms included.
    const QString halfwidth = QString::fromUtf8("ｶﾀｶﾅ");
    ProfilePtr profile = openFromBytes(buildProfile({{krmSig("desc"), mlucType({{"", "", halfwidth}})}}, 0x04300000));
    QVERIFY(profile);
    MLUComponent viewer(profile.get(), krmSig("desc"));
    QCOMPARE(viewer.model()->index(0, 2).data().toString(), halfwidth);
}

void TestTextViewers::unreadableTagsThrow()
{
    // Absent tag, malformed text, and a text signature holding a non-text type (decoded by
    // permissive reading into an XYZ record, which must not be read as text).
    const QByteArray xyz = be32(krmSig("XYZ ")) + be32(0) + be32(0xF6D6) + be32(0x10000) + be32(0xD32D);
    const QByteArray bad_mluc = be32(krmSig("mluc")) + be32(0) + be32(1) + be32(24) + QByteArray(12, '\0');
    ProfilePtr profile = openFromBytes(buildProfile({{krmSig("desc"), xyz}, {krmSig("cprt"), bad_mluc}}));
    QVERIFY(profile);
    QVERIFY_THROWS_EXCEPTION(QException, MLUComponent(profile.get(), krmSig("dmnd")));
    QVERIFY_THROWS_EXCEPTION(QException, MLUComponent(profile.get(), krmSig("cprt")));
    QVERIFY_THROWS_EXCEPTION(QException, MLUComponent(profile.get(), krmSig("desc")));
    QVERIFY_THROWS_EXCEPTION(QException, MLUComponent(nullptr, krmSig("desc")));
}

void TestTextViewers::modelAnswersOnlyDisplayAndHeaders()
{
    krmMLU* mlu = krmMLUAlloc(nullptr, 2);
    krmMLUSetASCII(mlu, "en", "GB", "colour");
    krmMLUSetASCII(mlu, "en", "US", "color");
    {
        MLU_TableModel model(mlu);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.columnCount(), 3);
        // Each row shows its own text, not the first entry of its language.
        QCOMPARE(rowTexts(model, 1), QStringList({"en", "US", "color"}));
        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Language"));
        QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Country"));
        QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("String"));
        QVERIFY(!model.headerData(0, Qt::Vertical).isValid());
        QVERIFY(!model.headerData(0, Qt::Horizontal, Qt::ToolTipRole).isValid());
        QVERIFY(!model.index(0, 0).data(Qt::ToolTipRole).isValid());
        QVERIFY(!model.index(0, 0).data(Qt::EditRole).isValid());
        QVERIFY(!model.data(QModelIndex()).isValid());
        QCOMPARE(model.flags(model.index(0, 2)), Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        QCOMPARE(model.flags(QModelIndex()), Qt::NoItemFlags);
    }
    krmMLUFree(mlu);

    MLU_TableModel empty(nullptr);
    QCOMPARE(empty.rowCount(), 0);
}

void TestTextViewers::genericShowsTheStoredBytes()
{
    const QByteArray data = be32(krmSig("zzzz")) + be32(0) + QByteArray("\x01\x02\x41\x0A", 4);
    const QByteArray bytes = buildProfile({{krmSig("zPrv"), data}});
    ProfilePtr profile = openFromBytes(bytes);
    QVERIFY(profile);
    GenericTagComponent viewer(profile.get(), krmSig("zPrv"));
    QVERIFY(viewer.hexViewer());
    QVERIFY(!viewer.noteLabel());
    QCOMPARE(viewer.hexViewer()->data(), data);
    QVERIFY(bytes.contains(viewer.hexViewer()->data()));

    // A real profile: the bytes are exactly the file's bytes at the directory's offset.
    const QString path = QStringLiteral("/usr/share/color/icc/colord/sRGB.icc");
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();
    ProfilePtr srgb(krmOpenProfileFromFile(QFile::encodeName(path).constData(), "r"));
    QVERIFY(srgb);
    for (krmInt32Number i = 0; i < krmGetTagCount(srgb.get()); ++i) {
        krmUInt32Number offset = 0, size = 0;
        const krmTagSignature sig = krmGetTagSignature(srgb.get(), krmUInt32Number(i));
        QVERIFY(krmGetTagOffsetAndSize(srgb.get(), krmUInt32Number(i), &offset, &size));
        GenericTagComponent raw(srgb.get(), sig);
        QVERIFY(raw.hexViewer());
        QCOMPARE(raw.hexViewer()->data(), whole.mid(offset, size));
    }
}

void TestTextViewers::genericNeverThrows()
{
    const QByteArray text = textType("fine");
    // Each directory is broken in one way; the viewer shows at most the bytes inside the file.
    const QList<QPair<const char*, QList<RawTag>>> cases = {
        {"offset past the end of the file", {{krmSig("desc"), text, 0x7FFFFFF0, 12}}},
        {"size runs past the end", {{krmSig("desc"), text, 0, 0x10000}}},
        {"offset + size overflows", {{krmSig("desc"), text, 0x90, 0xFFFFFFF0}}},
        {"zero size", {{krmSig("desc"), text, 0x90, 0}}},
        {"offset inside the header", {{krmSig("desc"), text, 4, 8}}},
    };
    for (const auto& [cause, tags] : cases) {
        QList<RawTag> directory = tags;
        directory.append({krmSig("cprt"), textType("kept")});
        ProfilePtr profile = openFromBytes(buildProfile(directory));
        QVERIFY2(profile, cause);
        GenericTagComponent viewer(profile.get(), krmSig("desc"));
        if (viewer.hexViewer())
            QVERIFY2(!viewer.hexViewer()->data().isEmpty(), cause);
        // The MLU viewer refuses what it cannot read rather than showing garbage.
        try {
            MLUComponent text_viewer(profile.get(), krmSig("desc"));
        } catch (const QException&) {
        }
        GenericTagComponent other(profile.get(), krmSig("cprt"));
        QVERIFY2(other.hexViewer(), cause);
    }
    GenericTagComponent absent(nullptr, krmSig("desc"));
    QVERIFY(!absent.hexViewer());

    // A profile made in memory has tags with no stored bytes yet.
    ProfilePtr placeholder(krmCreateProfilePlaceholder(nullptr));
    krmMLU* mlu = krmMLUAlloc(nullptr, 1);
    krmMLUSetASCII(mlu, "en", "US", "unsaved");
    krmWriteTag(placeholder.get(), krmSig("cprt"), mlu);
    krmMLUFree(mlu);
    GenericTagComponent unsaved(placeholder.get(), krmSig("cprt"));
    QVERIFY(!unsaved.hexViewer());
}

void TestTextViewers::htmlCards()
{
    QPalette palette = QApplication::palette();
    const QPalette saved = palette;
    palette.setColor(QPalette::Text, QColor(0x12, 0xAB, 0xEF));
    QApplication::setPalette(palette);
    const QString page = make_html_page(QStringLiteral("Title"), QStringLiteral("<p>body</p>"));
    QApplication::setPalette(saved);
    QCOMPARE(page, QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body style=\"text-align:center; "
                                  "color: #12abef; \"><p>&nbsp;<br></p><h1>Title</h1><p>body</p></body></html>"));

    QCOMPARE(make_html_table({}), QStringLiteral("<div style=\"display:inline-block; text-align:center;\"><table "
                                                 "border=\"1\" cellspacing=\"0\" cellpadding=\"6\"></table></div>"));
    const QString table = make_html_table({{"a", "<b>1</b>"}, {"b", "2"}});
    QVERIFY(table.contains(QStringLiteral("<tr><td>a</td><td><b>1</b></td></tr><tr><td>b</td><td>2</td></tr></table>")));

    QCOMPARE(format_xyz(0.9642, 1.0, 0.82491), QStringLiteral("X: 0.9642 Y: 1.0000 Z: 0.8249"));
    QCOMPARE(format_xyz(-0.00004, 12.5, 0), QStringLiteral("X: -0.0000 Y: 12.5000 Z: 0.0000"));
}

void TestTextViewers::commentComponentShowsTheCard()
{
    CommentComponent card(QStringLiteral("Luminance"), {{"Minimum", "0.500"}, {"Peak", "1000.000"}});
    QCOMPARE(card.browser()->frameShape(), QFrame::NoFrame);
    const QString text = card.browser()->toPlainText();
    QVERIFY(text.contains(QStringLiteral("Luminance")));
    QVERIFY(text.contains(QStringLiteral("Minimum")));
    QVERIFY(text.contains(QStringLiteral("1000.000")));
    QVERIFY(text.indexOf(QStringLiteral("Minimum")) < text.indexOf(QStringLiteral("Peak")));

    CommentComponent empty(QStringLiteral("Named colour"), {});
    QVERIFY(empty.browser()->toPlainText().contains(QStringLiteral("Named colour")));
}

QTEST_MAIN(TestTextViewers)
#include "tst_textviewers.moc"
