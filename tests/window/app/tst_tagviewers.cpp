// The tags table and the raw tag dump, checked against the profile files read directly.

#include "tests/window/app/AppTestSupport.h"
#include "window/app/PrismetApp.h"
#include "window/widgets/HexViewer.h"
#include "window/overview/TagViewers.h"
#include "window/overview/TagsListValueModel.h"
#include "window/overview/TagsTableView.h"
#include "window/viewers/GenericTagComponent.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QTest>

#include <memory>

namespace {

struct ProfileCloser {
    void operator()(_krmProfile_struct* profile) const { krmCloseProfile(profile); }
};
using ProfilePtr = std::unique_ptr<_krmProfile_struct, ProfileCloser>;

QStringList corpus()
{
    QStringList files;
    for (const QString folder : {"/usr/share/color/icc/colord", "/usr/share/color/icc/ghostscript"}) {
        for (const QString& name : QDir(folder).entryList({"*.icc"}, QDir::Files, QDir::Name))
            files << folder + QLatin1Char('/') + name;
    }
    return files;
}

quint32 bigEndian32(const QByteArray& bytes, qsizetype at)
{
    return (quint32(quint8(bytes[at])) << 24) | (quint32(quint8(bytes[at + 1])) << 16) |
           (quint32(quint8(bytes[at + 2])) << 8) | quint32(quint8(bytes[at + 3]));
}

// Four bytes as the table writes a signature: up to the first zero byte, blanks kept.
QString fourChars(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.left(bytes.indexOf('\0') < 0 ? 4 : bytes.indexOf('\0')));
}

// The bytes of the tag's "Raw" tab, which raw_dump adds after the tag's own viewers.
QByteArray rawBytes(krmProfile profile, krmTagSignature signature, QWidget* parent)
{
    const QList<ViewerTab> tabs = createTagViewers(profile, signature, parent);
    QByteArray bytes;
    if (!tabs.isEmpty() && tabs.last().title == "Raw") {
        if (auto* raw = qobject_cast<GenericTagComponent*>(tabs.last().widget); raw && raw->hexViewer())
            bytes = raw->hexViewer()->data();
    }
    for (const ViewerTab& tab : tabs)
        delete tab.widget;
    return bytes;
}

}  // namespace

class TestTagViewers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void corpus_tableAndDumpMatchTheFile();
    void rawViewer_isNeverEmpty();
};

void TestTagViewers::initTestCase()
{
    apptest::isolateSettings();
    appSettings()->setValue("raw_dump", true);
}

void TestTagViewers::corpus_tableAndDumpMatchTheFile()
{
    const QStringList files = corpus();
    QVERIFY(files.size() >= 20);
    QWidget parent;
    for (const QString& path : files) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        ProfilePtr profile(krmOpenProfileFromFile(QFile::encodeName(path).constData(), "r"));
        QVERIFY2(profile, qPrintable(path));

        TagsTableView table;
        table.setProfile(profile.get());
        const quint32 count = bigEndian32(data, 128);
        const int virtualRows = table.tagsModel()->signatureAt(int(count)) == MatrixShaperTag ? 1 : 0;
        QCOMPARE(table.model()->rowCount(), int(count) + virtualRows);

        // ICC.1:2010 7.3: the tag table follows the header, 12 bytes per entry.
        for (quint32 i = 0; i < count; ++i) {
            const qsizetype entry = 132 + qsizetype(i) * 12;
            const quint32 signature = bigEndian32(data, entry);
            const quint32 offset = bigEndian32(data, entry + 4);
            const quint32 size = bigEndian32(data, entry + 8);
            const QString where = path + QStringLiteral(" entry %1").arg(i);

            QCOMPARE(table.model()->index(int(i), 0).data().toString(), fourChars(data.mid(entry, 4)));
            const QString tip = table.model()->index(int(i), 0).data(Qt::ToolTipRole).toString();
            QVERIFY2(tip.contains(QStringLiteral("'%1'").arg(fourChars(data.mid(offset, 4)))), qPrintable(where));

            // Tags that are not viewed as bytes already get the dump as their last tab.
            const QByteArray dumped = rawBytes(profile.get(), signature, &parent);
            QVERIFY2(dumped == data.mid(offset, size), qPrintable(where));
        }
    }
}

void TestTagViewers::rawViewer_isNeverEmpty()
{
    QWidget parent;
    ProfilePtr profile(krmOpenProfileFromFile("/usr/share/color/icc/colord/sRGB.icc", "r"));
    QVERIFY(profile);
    // Nothing to dump still says why.
    for (krmProfile p : {krmProfile(nullptr), profile.get()}) {
        const QList<ViewerTab> tabs = createTagViewers(p, krmSig("zzzz"), &parent);
        QCOMPARE(tabs.size(), 1);
        QCOMPARE(tabs.first().title, QStringLiteral("Raw"));
        auto* note = tabs.first().widget->findChild<QLabel*>("rawEmptyNote");
        QVERIFY(note && note->text().contains("'zzzz'"));
        delete tabs.first().widget;
    }

    // The table of no profile has no model.
    TagsTableView table;
    table.setProfile(profile.get());
    QVERIFY(table.model()->rowCount() > 0);
    table.setProfile(nullptr);
    QVERIFY(table.tagsModel() == nullptr);
}

QTEST_MAIN(TestTagViewers)
#include "tst_tagviewers.moc"
