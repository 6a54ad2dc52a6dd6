// The user manual: its layout (title and contents on page 1, every part of the window covered),
// the manual.pdf the build wrote, and where Help > Manual finds it.

#include "tests/window/app/AppTestSupport.h"

#include "ManualDocument.h"
#include "window/app/Prismet.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QApplication>
#include <QTest>
#include <QTextBrowser>

namespace {

QString manualSource()
{
    QFile file(QStringLiteral(PRISMET_MANUAL_SOURCE));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

}  // namespace

class TestManual : public QObject
{
    Q_OBJECT

private slots:
    void firstPageHasTitleAndContents();
    void coversEveryPartOfTheWindow_data();
    void coversEveryPartOfTheWindow();
    void buildWroteThePdf();
    void helpFindsTheManual();
    void helpShowsTheManualItselfWithoutAPdfViewer();
};

void TestManual::firstPageHasTitleAndContents()
{
    const QString source = manualSource();
    QVERIFY(!source.isEmpty());
    const ManualDocument manual(source);
    QVERIFY(manual.title().contains("Prismet"));
    QCOMPARE(manual.pageOfText(manual.title()), 1);
    QCOMPARE(manual.pageOfText("Contents"), 1);

    const QList<ManualDocument::Heading> contents = manual.contents();
    QVERIFY(contents.size() >= 15);
    int previous = 2;
    for (const ManualDocument::Heading& heading : contents) {
        // Each entry is on page 1 with its page number, and the pages run in order from 2.
        QVERIFY2(heading.page >= previous, qPrintable(heading.text));
        QVERIFY(heading.page <= manual.pageCount());
        QCOMPARE(manual.pageOfText(heading.text + QLatin1Char('\t') + QString::number(heading.page)), 1);
        previous = heading.page;
    }
    QVERIFY(manual.pageCount() >= 5);
}

void TestManual::coversEveryPartOfTheWindow_data()
{
    QTest::addColumn<QString>("heading");
    for (const char* heading : {"Starting Prismet", "Opening profiles", "Profile header", "Tags table", "Viewer area",
                                "Text (MLU)", "Raw", "Curves", "Pipeline", "Matrix", "CLUT", "Chromaticity",
                                "Named colours", "Small structured tags", "The 3D view", "Gamut", "Roundtrip",
                                "Ink separation", "Dot gain", "Checking a profile", "Soft proofing",
                                "The profile chooser", "Preferences", "Command-line tool"})
        QTest::newRow(heading) << QString::fromLatin1(heading);
}

void TestManual::coversEveryPartOfTheWindow()
{
    QFETCH(QString, heading);
    const ManualDocument manual(manualSource());
    bool found = false;
    for (const ManualDocument::Heading& entry : manual.contents())
        found = found || entry.text == heading;
    QVERIFY(found);
}

void TestManual::buildWroteThePdf()
{
    QFile pdf(QStringLiteral(PRISMET_MANUAL_PDF));
    QVERIFY2(pdf.open(QIODevice::ReadOnly), PRISMET_MANUAL_PDF);
    const QByteArray bytes = pdf.readAll();
    QVERIFY(bytes.startsWith("%PDF-"));
    QVERIFY(bytes.trimmed().endsWith("%%EOF"));
    // As many pages as the layout has.
    const ManualDocument manual(manualSource());
    static const QRegularExpression count(QStringLiteral("/Count (\\d+)"));
    const QRegularExpressionMatch match = count.match(QString::fromLatin1(bytes));
    QVERIFY(match.hasMatch());
    QCOMPARE(match.captured(1).toInt(), manual.pageCount());
}

void TestManual::helpFindsTheManual()
{
    // The build folder: manual.pdf beside the program.
    const QString built = QFileInfo(QStringLiteral(PRISMET_MANUAL_PDF)).absoluteFilePath();
    QCOMPARE(Prismet::manualPath(QFileInfo(built).absolutePath()), built);

    // An installed layout: bin/prismet and share/doc/prismet/manual.pdf.
    QTemporaryDir prefix;
    QVERIFY(QDir(prefix.path()).mkpath("bin"));
    QCOMPARE(Prismet::manualPath(prefix.filePath("bin")), QString());
    QVERIFY(QDir(prefix.path()).mkpath("share/doc/prismet"));
    QVERIFY(QFile::copy(built, prefix.filePath("share/doc/prismet/manual.pdf")));
    QCOMPARE(Prismet::manualPath(prefix.filePath("bin")), QDir::cleanPath(prefix.filePath("share/doc/prismet/manual.pdf")));
}

void TestManual::helpShowsTheManualItselfWithoutAPdfViewer()
{
    // An empty PATH hides xdg-mime and xdg-open: no PDF viewer can be found or started.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray());
    Prismet window;
    QMetaObject::invokeMethod(&window, "user_manual");
    qputenv("PATH", path);
    QWidget* shown = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("manualWindow"))
            shown = widget;
    QVERIFY(shown);
    QVERIFY(shown->isVisible());
    auto* browser = qobject_cast<QTextBrowser*>(shown);
    QVERIFY(browser);
    QVERIFY(browser->toPlainText().contains(ManualDocument(manualSource()).title()));
    shown->close();
}

QTEST_MAIN(TestManual)

#include "tst_manual.moc"
