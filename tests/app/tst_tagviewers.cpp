// The tags table and the raw tag viewer, checked against the profile files read directly.

#include "overview/TagViewers.h"
#include "overview/TagsTableView.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
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

// The bytes a dump shows, read back from its hex columns.
QByteArray bytesOfDump(const QString& text)
{
    QByteArray bytes;
    for (const QString& line : text.split('\n')) {
        // "oooooooo  xx xx xx xx xx xx xx xx  xx xx ... xx  ascii"
        if (line.size() < 10 || line[8] != ' ' || line[9] != ' ')
            continue;
        bool isOffset = false;
        line.left(8).toUInt(&isOffset, 16);
        if (!isOffset)
            continue;
        const QString hex = line.mid(10, 16 * 3 + 1);
        for (const QString& pair : hex.split(' ', Qt::SkipEmptyParts))
            bytes.append(char(pair.toUInt(nullptr, 16)));
    }
    return bytes;
}

// Four bytes as the table writes a signature: up to the first zero byte, blanks kept.
QString fourChars(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.left(bytes.indexOf('\0') < 0 ? 4 : bytes.indexOf('\0')));
}

QString rawText(krmProfile profile, krmTagSignature signature, QWidget* parent)
{
    const QList<ViewerTab> tabs = createTagViewers(profile, signature, parent);
    if (tabs.size() != 1 || tabs.first().title != "Raw")
        return QStringLiteral("<unexpected tabs>");
    auto* view = qobject_cast<QPlainTextEdit*>(tabs.first().widget);
    return view ? view->toPlainText() : QStringLiteral("<not a text view>");
}

}  // namespace

class TestTagViewers : public QObject
{
    Q_OBJECT

private slots:
    void hexDump_layout();
    void corpus_tableAndDumpMatchTheFile();
    void rawViewer_isNeverEmpty();
};

void TestTagViewers::hexDump_layout()
{
    QByteArray bytes("ABCDEFGHIJKLMNOP");
    bytes.append('\0');
    const QStringList lines = hexDumpText(bytes, 0x120).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0],
             QStringLiteral("00000120  41 42 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50  ABCDEFGHIJKLMNOP"));
    QVERIFY(lines[1].startsWith(QStringLiteral("00000130  00 ")));
    QVERIFY(lines[1].endsWith(QStringLiteral(" .")));
    // A short last line keeps its character column aligned with the full lines.
    QCOMPARE(lines[1].size(), lines[0].size() - 15);
    QVERIFY(hexDumpText(QByteArray()).isEmpty());
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
        QCOMPARE(table.model()->rowCount(), int(count));

        // ICC.1:2010 7.3: the tag table follows the header, 12 bytes per entry.
        for (quint32 i = 0; i < count; ++i) {
            const qsizetype entry = 132 + qsizetype(i) * 12;
            const quint32 signature = bigEndian32(data, entry);
            const quint32 offset = bigEndian32(data, entry + 4);
            const quint32 size = bigEndian32(data, entry + 8);
            const QString where = path + QStringLiteral(" entry %1").arg(i);

            QCOMPARE(table.model()->index(int(i), 0).data().toString(), fourChars(data.mid(entry, 4)));
            QCOMPARE(table.model()->index(int(i), 1).data().toString(),
                     fourChars(data.mid(offset, 4)));
            QCOMPARE(table.model()->index(int(i), 2).data().toString(), QString::number(offset));
            QCOMPARE(table.model()->index(int(i), 3).data().toString(), QString::number(size));

            const QByteArray dumped = bytesOfDump(rawText(profile.get(), signature, &parent));
            QVERIFY2(dumped == data.mid(offset, std::min<quint32>(size, 1024 * 1024)), qPrintable(where));
        }
    }
}

void TestTagViewers::rawViewer_isNeverEmpty()
{
    QWidget parent;
    ProfilePtr profile(krmOpenProfileFromFile("/usr/share/color/icc/colord/sRGB.icc", "r"));
    QVERIFY(profile);
    QVERIFY(rawText(nullptr, krmSig("desc"), &parent).contains("No profile"));
    QVERIFY(rawText(profile.get(), krmSig("zzzz"), &parent).contains("'zzzz'"));
    QVERIFY(rawText(profile.get(), kMatrixShaperSignature, &parent).contains("matrix-shaper"));

    // The table of no profile is empty and selecting nothing announces nothing.
    TagsTableView table;
    table.setProfile(profile.get());
    QVERIFY(table.model()->rowCount() > 0);
    table.setProfile(nullptr);
    QCOMPARE(table.model()->rowCount(), 0);
}

QTEST_MAIN(TestTagViewers)
#include "tst_tagviewers.moc"
