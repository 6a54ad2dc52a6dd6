// The profile selector: listing real folders under the masks, icons and tooltips, a large folder
// with broken files, choosing (setProfile, selectProfile, restoreState, saveState), browsing,
// drag and drop, and the popup with its filter, search, keys and highlighted matches.

#include "window/widgets/ColorScheme.h"
#include "window/widgets/SystemColorDirectory.h"
#include "window/widgets/BuiltinProfiles.h"
#include "window/widgets/ICCProfileSelector.h"
#include "window/widgets/ProfileComboBox.h"
#include "window/widgets/ProfileHighlightDelegate.h"
#include "window/widgets/ProfilePopup.h"

#include <krm.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <functional>

namespace {

const QString kColord = QStringLiteral("/usr/share/color/icc/colord");
const QString kGhostscript = QStringLiteral("/usr/share/color/icc/ghostscript");

krmUInt32Number be32(const QByteArray& b, qsizetype at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(b.constData()) + at;
    return (krmUInt32Number(p[0]) << 24) | (krmUInt32Number(p[1]) << 16) | (krmUInt32Number(p[2]) << 8) | p[3];
}

QByteArray read_file(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A second reading of what the selector decides, straight from the file's bytes: the header's
// class and space, and for named-colour profiles whether some 'ncl2' colour has a PCS value.
struct RawProfile {
    krmUInt32Number deviceClass = 0;
    krmUInt32Number space = 0;
    krmUInt32Number version = 0;
    bool realNamedColors = false;
};

RawProfile raw_profile(const QString& path)
{
    RawProfile raw;
    const QByteArray b = read_file(path);
    if (b.size() < 132)
        return raw;
    raw.version = be32(b, 8);
    raw.deviceClass = be32(b, 12);
    raw.space = be32(b, 16);
    const krmUInt32Number tags = be32(b, 128);
    for (krmUInt32Number i = 0; i < tags && 132 + 12 * (i + 1) <= krmUInt32Number(b.size()); ++i) {
        const qsizetype entry = 132 + 12 * i;
        if (be32(b, entry) != krmSig("ncl2"))
            continue;
        const qsizetype offset = be32(b, entry + 4);
        const krmUInt32Number count = be32(b, offset + 12);
        const krmUInt32Number device = be32(b, offset + 16);
        const qsizetype stride = 32 + 6 + 2 * qsizetype(device);
        for (krmUInt32Number c = 0; c < count; ++c) {
            const qsizetype pcs = offset + 84 + stride * c + 32;
            if (pcs + 6 > b.size())
                break;
            if (b.mid(pcs, 6) != QByteArray(6, '\0'))
                raw.realNamedColors = true;
        }
    }
    return raw;
}

int class_bit(krmUInt32Number c)
{
    const krmUInt32Number classes[] = {krmSig("prtr"), krmSig("scnr"), krmSig("abst"),
                                       krmSig("spac"), krmSig("mntr"), krmSig("nmcl")};
    for (int i = 0; i < 6; ++i)
        if (classes[i] == c)
            return 1 << i;
    return 0;
}

int space_bit(krmUInt32Number s)
{
    if (s == krmSig("GRAY")) return 1;
    if (s == krmSig("RGB ")) return 2;
    if (s == krmSig("CMYK")) return 4;
    if (s == krmSig("Lab ")) return 8;
    const QByteArray t = QByteArray::fromHex(QByteArray::number(s, 16));
    if (t == "nmcl" || (t.startsWith("MCH") && QByteArray("123456789ABCDEF").contains(t[3])) ||
        (t.endsWith("CLR") && QByteArray("123456789ABCDEF").contains(t[0])))
        return 16;
    return 0;
}

bool expected_to_pass(const QString& path, int classMask, int spaceMask)
{
    const RawProfile raw = raw_profile(path);
    if (!(class_bit(raw.deviceClass) & classMask) || !(space_bit(raw.space) & spaceMask))
        return false;
    return raw.deviceClass != krmSig("nmcl") || raw.realNamedColors;
}

QImage icon_image(const QIcon& icon)
{
    return icon.pixmap(QSize(32, 40)).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage resource_image(const QString& name)
{
    return icon_image(QIcon(name));
}

QStringList names(const ICCProfileSelector& selector)
{
    QStringList list;
    for (const ProfileEntry& entry : selector.entries())
        list << entry.name;
    return list;
}

bool save_profile(krmProfile profile, const QString& path)
{
    krmUInt32Number size = 0;
    if (!krmSaveProfileToMem(profile, nullptr, &size))
        return false;
    QByteArray bytes(qsizetype(size), '\0');
    if (!krmSaveProfileToMem(profile, bytes.data(), &size))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool save_builtin(const QString& builtin, const QString& path)
{
    krmProfile profile = open_profile_by_name(builtin);
    const bool ok = profile && save_profile(profile, path);
    if (profile)
        krmCloseProfile(profile);
    return ok;
}

// An abstract profile with a measurement sheet of the given CGATS type in 'targ'.
bool save_abstract_with_target(const QString& path, const char* cgats)
{
    krmProfile profile = krmCreateLab4Profile(nullptr);
    krmMLU* mlu = krmMLUAlloc(nullptr, 1);
    bool ok = profile && mlu && krmMLUSetASCII(mlu, "", "", cgats) && krmWriteTag(profile, krmSig("targ"), mlu) &&
              save_profile(profile, path);
    if (mlu)
        krmMLUFree(mlu);
    if (profile)
        krmCloseProfile(profile);
    return ok;
}

const char* const kToolSheet = "TESSERATOR\n"
                               "NUMBER_OF_FIELDS 1\n"
                               "BEGIN_DATA_FORMAT\nSAMPLE_ID\nEND_DATA_FORMAT\n"
                               "NUMBER_OF_SETS 1\n"
                               "BEGIN_DATA\n1\nEND_DATA\n";
const char* const kOtherSheet = "CGATS.17\n"
                                "NUMBER_OF_FIELDS 1\n"
                                "BEGIN_DATA_FORMAT\nSAMPLE_ID\nEND_DATA_FORMAT\n"
                                "NUMBER_OF_SETS 1\n"
                                "BEGIN_DATA\n1\nEND_DATA\n";

int g_globalErrors = 0;
void count_error(krmContext, krmUInt32Number, const char*)
{
    ++g_globalErrors;
}

// Runs the selector's popup and hands it to `act` while it is open; returns whether `act` ran.
bool with_popup(ICCProfileSelector& selector, const std::function<void(ProfilePopup*)>& act)
{
    bool ran = false;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* popup = qobject_cast<ProfilePopup*>(QApplication::activePopupWidget());
        if (!popup)
            popup = selector.findChild<ProfilePopup*>();
        if (!popup || !popup->isVisible() || ran)
            return;
        ran = true;
        act(popup);
        if (popup->isVisible())
            popup->reject();
    });
    timer.start();
    selector.showProfilePopup();
    timer.stop();
    return ran;
}

QStringList list_texts(const ProfilePopup* popup)
{
    QStringList texts;
    for (int i = 0; i < popup->list()->count(); ++i)
        texts << popup->list()->item(i)->text();
    return texts;
}

int count_color(const QImage& image, const QColor& color)
{
    int n = 0;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            n += QColor(rgb.pixel(x, y)) == color;
    return n;
}

}  // namespace

class TestProfileSelector : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void defaultsOfAFreshSelector();
    void corpusFoldersUnderTheMasks_data();
    void corpusFoldersUnderTheMasks();
    void iconsAndTooltipsOfEveryKind();
    void largeFolderWithBrokenFilesListsQuietly();
    void unreadableFolderListsOnlyTheBuiltins();
    void userProfileOnlyWithAnImage();
    void setProfileRules();
    void fileNamesMatchExactlyBeforeCaseFolded();
    void selectProfileRules();
    void valueChangedOnlyWhenTheChoiceChanges();
    void restoreStateDefaults_data();
    void restoreStateDefaults();
    void restoreAndSaveAFile();
    void storedProfileThatIsGone();
    void browsingChoosesAFile();
    void dragAndDrop();
    void promptAndIconsProperties();
    void popupFilterItems();
    void popupSearchSwitchesFilterAndHighlights();
    void popupKeys();
    void popupAcceptsAndRejects();
    void popupPlacement();
    void popupScreenshot();

private:
    QTemporaryDir data_;
    QTemporaryDir work_;
};

void TestProfileSelector::initTestCase()
{
    QVERIFY(data_.isValid() && work_.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(data_.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(work_.path()));
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void TestProfileSelector::init()
{
    store_user_profile(nullptr);
}

void TestProfileSelector::defaultsOfAFreshSelector()
{
    ICCProfileSelector selector;
    QCOMPARE(selector.pclass(), 31);
    QCOMPARE(selector.space(), 31);
    QVERIFY(selector.icons());
    QCOMPARE(selector.prompt(), QString());
    QCOMPARE(selector.builtins(), ICCProfileSelector::defaultBuiltins());
    QCOMPARE(selector.builtins().size(), 18);
    QCOMPARE(selector.builtins().last(), QStringLiteral("*user"));
    QVERIFY(selector.acceptDrops());
    QCOMPARE(selector.currentProfile(), QString());
    QCOMPARE(selector.comboBox()->toolTip(), QStringLiteral("No profile selected"));

    auto* button = selector.findChild<QPushButton*>(QStringLiteral("profilesDirButton"));
    QVERIFY(button);
    QVERIFY(button->isFlat());
    QCOMPARE(button->size(), QSize(40, 40));
    QCOMPARE(button->iconSize(), QSize(32, 32));
    QVERIFY(!button->icon().isNull());
    QCOMPARE(button->toolTip(), QStringLiteral("Profiles folder: Select here the main repository for your ICC profiles."));
    QCOMPARE(selector.comboBox()->sizeAdjustPolicy(), QComboBox::AdjustToMinimumContentsLengthWithIcon);
    QCOMPARE(selector.comboBox()->minimumContentsLength(), 10);
    QVERIFY(!selector.comboBox()->isEditable());

    // Every built-in of the default list except "*user" is made and passes the default masks.
    QVERIFY(selector.setProfile(QString(), QString()));
    QCOMPARE(selector.entries().size(), 17);
    QCOMPARE(names(selector), ICCProfileSelector::defaultBuiltins().mid(0, 17));
    QCOMPARE(selector.currentProfile(), QStringLiteral("*srgb"));
    QCOMPARE(selector.comboBox()->currentText(), QStringLiteral("sRGB-like color space"));
}

void TestProfileSelector::corpusFoldersUnderTheMasks_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("classMask");
    QTest::addColumn<int>("spaceMask");
    for (const QString& folder : {kColord, kGhostscript}) {
        const QString base = QFileInfo(folder).fileName();
        QTest::newRow(qPrintable(base + " default")) << folder << 31 << 31;
        QTest::newRow(qPrintable(base + " with named")) << folder << 63 << 31;
        QTest::newRow(qPrintable(base + " output CMYK")) << folder << 1 << 4;
        QTest::newRow(qPrintable(base + " display gray")) << folder << 16 << 1;
        QTest::newRow(qPrintable(base + " colour spaces Lab")) << folder << 8 << 8;
        QTest::newRow(qPrintable(base + " named Lab only")) << folder << 32 << 8;
    }
}

void TestProfileSelector::corpusFoldersUnderTheMasks()
{
    QFETCH(QString, folder);
    QFETCH(int, classMask);
    QFETCH(int, spaceMask);
    QVERIFY2(QFileInfo(folder).isDir(),
             qPrintable(folder + (folder == kColord ? QStringLiteral(" is missing: install colord-data (tools/deps.sh test)")
                                                    : QStringLiteral(" is missing: install libgs-common (tools/deps.sh test)"))));

    ICCProfileSelector selector(classMask, spaceMask, QString(), {}, nullptr);
    selector.setIcons(true);
    QVERIFY(selector.setProfile(folder, QStringLiteral("*srgb")));

    QStringList expected;
    const QDir dir(folder);
    for (const QFileInfo& info : dir.entryInfoList({QStringLiteral("*.icc"), QStringLiteral("*.icm"), QStringLiteral("*.pf")},
                                                   QDir::Files, QDir::Name | QDir::IgnoreCase)) {
        if (expected_to_pass(info.filePath(), classMask, spaceMask))
            expected << info.filePath();
    }
    QCOMPARE(names(selector), expected);
    QCOMPARE(selector.comboBox()->count(), expected.size());

    for (int i = 0; i < selector.entries().size(); ++i) {
        const ProfileEntry& entry = selector.entries().at(i);
        const RawProfile raw = raw_profile(entry.name);
        QVERIFY(!entry.builtin);
        QVERIFY2(!entry.description.isEmpty(), qPrintable(entry.name));
        QCOMPARE(selector.comboBox()->itemText(i), entry.description);
        QCOMPARE(entry.version4, raw.version >= 0x04000000u);
        QCOMPARE(entry.named, raw.deviceClass == krmSig("nmcl"));
        QCOMPARE(entry.space, space_bit(raw.space));
        const QString icon = raw.deviceClass == krmSig("abst")
                                 ? (raw.version >= 0x04000000u ? ":/iccLnk4.png" : ":/iccLnk2.png")
                                 : (raw.version >= 0x04000000u ? ":/icc4.png" : ":/icc2.png");
        QVERIFY2(icon_image(selector.comboBox()->itemIcon(i)) == resource_image(icon), qPrintable(entry.name));

        // The tooltip shown for the entry once chosen.
        selector.comboBox()->setCurrentIndex(i);
        QCOMPARE(selector.comboBox()->toolTip(), QStringLiteral("<p>%1</p><p>%2</p><p>%3</p>")
                                                     .arg(entry.description.toHtmlEscaped(),
                                                          entry.rights.toHtmlEscaped(), entry.name));
    }
}

void TestProfileSelector::iconsAndTooltipsOfEveryKind()
{
    QTemporaryDir dir;
    QVERIFY(save_builtin(QStringLiteral("*lab"), dir.filePath(QStringLiteral("abstract4.icc"))));
    krmProfile lab2 = krmCreateLab2Profile(nullptr);
    QVERIFY(lab2 && save_profile(lab2, dir.filePath(QStringLiteral("abstract2.icc"))));
    krmCloseProfile(lab2);
    QVERIFY(save_abstract_with_target(dir.filePath(QStringLiteral("toolmade.icc")), kToolSheet));
    QVERIFY(save_abstract_with_target(dir.filePath(QStringLiteral("othersheet.icc")), kOtherSheet));
    QVERIFY(save_abstract_with_target(dir.filePath(QStringLiteral("garbagesheet.icc")), "\x01\x02 not a sheet"));
    QVERIFY(QFile::copy(kGhostscript + QStringLiteral("/srgb.icc"), dir.filePath(QStringLiteral("v2.icc"))));
    QVERIFY(QFile::copy(kColord + QStringLiteral("/sRGB.icc"), dir.filePath(QStringLiteral("v4.icm"))));

    krmProfile image = open_profile_by_name(kGhostscript + QStringLiteral("/srgb.icc"));
    QVERIFY(store_user_profile(image));
    krmCloseProfile(image);

    ICCProfileSelector selector(31, 31, QString(), {QStringLiteral("*srgb"), QStringLiteral("*user")}, nullptr);
    selector.setIcons(true);
    QVERIFY(selector.setProfile(dir.path(), QStringLiteral("*srgb")));

    const struct {
        QString name;
        QString icon;
        bool toolMade;
        bool abstract;
    } expected[] = {
        {QStringLiteral("*srgb"), QStringLiteral(":/iccb.png"), false, false},
        {QStringLiteral("*user"), QStringLiteral(":/iccEmbed2.png"), false, false},
        {dir.filePath(QStringLiteral("abstract2.icc")), QStringLiteral(":/iccLnk2.png"), false, true},
        {dir.filePath(QStringLiteral("abstract4.icc")), QStringLiteral(":/iccLnk4.png"), false, true},
        {dir.filePath(QStringLiteral("garbagesheet.icc")), QStringLiteral(":/iccLnk4.png"), false, true},
        {dir.filePath(QStringLiteral("othersheet.icc")), QStringLiteral(":/iccLnk4.png"), false, true},
        {dir.filePath(QStringLiteral("toolmade.icc")), QStringLiteral(":/iccAbsLnk.png"), true, true},
        {dir.filePath(QStringLiteral("v2.icc")), QStringLiteral(":/icc2.png"), false, false},
        {dir.filePath(QStringLiteral("v4.icm")), QStringLiteral(":/icc4.png"), false, false},
    };
    QCOMPARE(selector.entries().size(), int(std::size(expected)));
    for (int i = 0; i < selector.entries().size(); ++i) {
        const ProfileEntry& entry = selector.entries().at(i);
        QCOMPARE(entry.name, expected[i].name);
        QCOMPARE(entry.iconName(), expected[i].icon);
        QCOMPARE(entry.toolMadeAbstract, expected[i].toolMade);
        QCOMPARE(entry.abstract, expected[i].abstract);
        QVERIFY2(icon_image(selector.comboBox()->itemIcon(i)) == resource_image(expected[i].icon),
                 qPrintable(entry.name));
        QVERIFY2(!resource_image(expected[i].icon).isNull(), qPrintable(expected[i].icon));
    }

    const ProfileEntry& user = selector.entries().at(1);
    QVERIFY(user.builtin);
    QVERIFY(user.description.endsWith(QStringLiteral(" (Embedded)")));
    QVERIFY(!user.version4);
    const ProfileEntry& lab = selector.entries().at(3);
    QVERIFY(lab.notMatrixShaper);
    QCOMPARE(lab.space, 8);
    QCOMPARE(lab.pcs, 8);
    QVERIFY(!selector.entries().at(0).notMatrixShaper);

    // A built-in's tooltip is its description, a file's adds its rights and path.
    QVERIFY(selector.selectProfile(QStringLiteral("*srgb")));
    QCOMPARE(selector.comboBox()->toolTip(), QStringLiteral("sRGB-like color space"));
    QVERIFY(selector.selectProfile(QStringLiteral("v4.icm")));
    QVERIFY(selector.comboBox()->toolTip().startsWith(QStringLiteral("<p>")));
    QVERIFY(selector.comboBox()->toolTip().endsWith(QStringLiteral("<p>") + dir.filePath(QStringLiteral("v4.icm")) +
                                                    QStringLiteral("</p>")));

    // A version 4 embedded profile.
    krmProfile v4 = open_profile_by_name(QStringLiteral("*argb"));
    QVERIFY(store_user_profile(v4));
    krmCloseProfile(v4);
    selector.reload();
    QCOMPARE(selector.entries().at(1).iconName(), QStringLiteral(":/iccEmbed4.png"));
    QCOMPARE(selector.entries().at(1).description, QStringLiteral("AdobeRGB1998-like color space (Embedded)"));

    // Icons off: items without icons.
    selector.setIcons(false);
    for (int i = 0; i < selector.comboBox()->count(); ++i)
        QVERIFY(selector.comboBox()->itemIcon(i).isNull());
}

void TestProfileSelector::largeFolderWithBrokenFilesListsQuietly()
{
    QTemporaryDir dir;
    QStringList corpus;
    for (const QString& folder : {kColord, kGhostscript})
        for (const QFileInfo& info : QDir(folder).entryInfoList({QStringLiteral("*.icc")}, QDir::Files, QDir::Name))
            corpus << info.filePath();
    QVERIFY(!corpus.isEmpty());

    // 290 good copies and 10 truncated ones: five inside the header, five inside the tag data.
    int expectedGood = 0;
    for (int i = 0; i < 300; ++i) {
        const QString source = corpus.at(i % corpus.size());
        const QString target = dir.filePath(QStringLiteral("p%1.icc").arg(i, 3, 10, QLatin1Char('0')));
        if (i % 30 == 7) {
            QByteArray bytes = read_file(source);
            bytes.truncate((i / 30) % 2 ? 100 : bytes.size() / 2);
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        } else {
            QVERIFY(QFile::copy(source, target));
            expectedGood += expected_to_pass(source, 31, 31);
        }
    }

    const auto visibleWindows = [] {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets()) n += w->isVisible() ? 1 : 0;
        return n;
    };
    const int windowsBefore = visibleWindows();
    ICCProfileSelector selector;
    g_globalErrors = 0;
    krmSetLogErrorHandler(count_error);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(selector.setProfile(dir.path(), QStringLiteral("*srgb")));
    const qint64 firstMs = timer.elapsed();
    timer.restart();
    selector.reload();
    const qint64 reloadMs = timer.elapsed();
    krmSetLogErrorHandler(nullptr);

    // Errors in the global context are what open error dialogs in the program.
    QCOMPARE(g_globalErrors, 0);
    // No message box or other window came up for the broken files.
    QCOMPARE(visibleWindows(), windowsBefore);
    QVERIFY(!QApplication::activeModalWidget());

    int files = 0;
    int truncatedListed = 0;
    for (const ProfileEntry& entry : selector.entries()) {
        if (entry.builtin)
            continue;
        ++files;
        const int index = QFileInfo(entry.name).baseName().mid(1).toInt();
        if (index % 30 == 7) {
            ++truncatedListed;
            QVERIFY2(index / 30 % 2 == 0, "a profile cut inside its header was listed");
        }
    }
    QCOMPARE(files - truncatedListed, expectedGood);
    QCOMPARE(selector.currentProfile(), QStringLiteral("*srgb"));
    qInfo("Listing 300 profiles (10 truncated): first listing %lld ms, reload %lld ms, %d files listed",
          firstMs, reloadMs, files);
}

void TestProfileSelector::unreadableFolderListsOnlyTheBuiltins()
{
    ICCProfileSelector selector;
    QVERIFY(selector.setProfile(work_.filePath(QStringLiteral("no-such-folder")), QStringLiteral("*lab")));
    QCOMPARE(selector.entries().size(), 17);
    QCOMPARE(selector.currentProfile(), QStringLiteral("*lab"));
}

void TestProfileSelector::userProfileOnlyWithAnImage()
{
    ICCProfileSelector selector;
    QVERIFY(selector.setProfile(QString(), QString()));
    QVERIFY(!names(selector).contains(QStringLiteral("*user")));
    QVERIFY(!selector.selectProfile(QStringLiteral("*user")));
    QCOMPARE(selector.currentProfile(), QStringLiteral("*srgb"));

    krmProfile image = open_profile_by_name(QStringLiteral("*gray18"));
    QVERIFY(store_user_profile(image));
    krmCloseProfile(image);
    QVERIFY(selector.selectProfile(QStringLiteral("*user")));
    QCOMPARE(selector.currentProfile(), QStringLiteral("*user"));
    QCOMPARE(selector.entries().last().name, QStringLiteral("*user"));
    QCOMPARE(selector.comboBox()->toolTip(), QStringLiteral("Gray color space (gamma 1.8) (Embedded)"));

    // An embedded profile outside the masks is not offered.
    ICCProfileSelector rgbOnly(31, 2, QString(), ICCProfileSelector::defaultBuiltins(), nullptr);
    QVERIFY(rgbOnly.setProfile(QString(), QString()));
    QVERIFY(!rgbOnly.selectProfile(QStringLiteral("*user")));
    QVERIFY(!names(rgbOnly).contains(QStringLiteral("*user")));
    QVERIFY(!names(rgbOnly).contains(QStringLiteral("*gray22")));
}

void TestProfileSelector::setProfileRules()
{
    QTemporaryDir dir;
    QVERIFY(QFile::copy(kColord + QStringLiteral("/AppleRGB.icc"), dir.filePath(QStringLiteral("apple.icc"))));
    QVERIFY(QFile::copy(kGhostscript + QStringLiteral("/sgray.icc"), dir.filePath(QStringLiteral("gray.icc"))));
    QFile junk(dir.filePath(QStringLiteral("junk.icc")));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(500, 'j'));
    junk.close();

    ICCProfileSelector selector(31, 2, QString(), ICCProfileSelector::defaultBuiltins(), nullptr);
    // An empty folder selects "*srgb", whatever the name.
    QVERIFY(selector.setProfile(QString(), dir.filePath(QStringLiteral("apple.icc"))));
    QCOMPARE(selector.currentProfile(), QStringLiteral("*srgb"));
    QCOMPARE(selector.currentFolder(), QString());
    QVERIFY(selector.setProfile(dir.path(), QString()));
    QCOMPARE(selector.currentProfile(), QStringLiteral("*srgb"));
    QCOMPARE(selector.currentFolder(), QString());

    QVERIFY(selector.setProfile(dir.path(), QStringLiteral("apple.icc")));
    QCOMPARE(selector.currentProfile(), dir.filePath(QStringLiteral("apple.icc")));
    QCOMPARE(selector.currentFolder(), dir.path());

    // A broken file, a missing one and one outside the masks change nothing and report nothing.
    g_globalErrors = 0;
    krmSetLogErrorHandler(count_error);
    QVERIFY(!selector.setProfile(work_.path(), QStringLiteral("junk.icc")));
    QVERIFY(!selector.setProfile(dir.path(), QStringLiteral("junk.icc")));
    QVERIFY(!selector.setProfile(dir.path(), QStringLiteral("missing.icc")));
    QVERIFY(!selector.setProfile(dir.path(), QStringLiteral("gray.icc")));
    krmSetLogErrorHandler(nullptr);
    QCOMPARE(g_globalErrors, 0);
    QCOMPARE(selector.currentProfile(), dir.filePath(QStringLiteral("apple.icc")));
    QCOMPARE(selector.currentFolder(), dir.path());

    // A built-in that is not listed leaves no selection.
    QVERIFY(selector.setProfile(dir.path(), QStringLiteral("*gray22")));
    QCOMPARE(selector.currentProfile(), QString());
    QCOMPARE(selector.comboBox()->toolTip(), QStringLiteral("No profile selected"));
}

void TestProfileSelector::fileNamesMatchExactlyBeforeCaseFolded()
{
    QTemporaryDir dir;
    QVERIFY(QFile::copy(kColord + QStringLiteral("/AppleRGB.icc"), dir.filePath(QStringLiteral("Profile.icc"))));
    QVERIFY(QFile::copy(kColord + QStringLiteral("/sRGB.icc"), dir.filePath(QStringLiteral("profile.icc"))));
    QVERIFY(QFile::copy(kColord + QStringLiteral("/Rec709.icc"), dir.filePath(QStringLiteral("Other.ICC"))));

    ICCProfileSelector selector;
    QVERIFY(selector.setProfile(dir.path(), QStringLiteral("profile.icc")));
    QCOMPARE(selector.currentProfile(), dir.filePath(QStringLiteral("profile.icc")));
    QVERIFY(selector.selectProfile(QStringLiteral("Profile.icc")));
    QCOMPARE(selector.currentProfile(), dir.filePath(QStringLiteral("Profile.icc")));
    // Without an exact match, letter case does not matter; upper-case extensions are listed.
    QVERIFY(selector.selectProfile(QStringLiteral("other.icc")));
    QCOMPARE(selector.currentProfile(), dir.filePath(QStringLiteral("Other.ICC")));
    // A folder given with a trailing separator and a "." still finds the file.
    QVERIFY(selector.setProfile(dir.path() + QStringLiteral("/./"), QStringLiteral("profile.icc")));
    QCOMPARE(QFileInfo(selector.currentProfile()).canonicalFilePath(),
             QFileInfo(dir.filePath(QStringLiteral("profile.icc"))).canonicalFilePath());
}

void TestProfileSelector::selectProfileRules()
{
    QTemporaryDir here;
    QTemporaryDir elsewhere;
    QVERIFY(QFile::copy(kColord + QStringLiteral("/AppleRGB.icc"), here.filePath(QStringLiteral("apple.icc"))));
    QVERIFY(QFile::copy(kColord + QStringLiteral("/Rec709.icc"), elsewhere.filePath(QStringLiteral("rec709.icc"))));

    ICCProfileSelector selector;
    QVERIFY(selector.setProfile(here.path(), QStringLiteral("*lab")));
    QVERIFY(selector.selectProfile(QStringLiteral("apple.icc")));
    QCOMPARE(selector.currentProfile(), here.filePath(QStringLiteral("apple.icc")));
    QVERIFY(selector.selectProfile(QStringLiteral("*gray30")));
    QCOMPARE(selector.currentProfile(), QStringLiteral("*gray30"));

    // An unknown relative name falls back to the first entry.
    QVERIFY(!selector.selectProfile(QStringLiteral("nothing.icc")));
    QCOMPARE(selector.currentProfile(), QStringLiteral("*srgb"));
    QVERIFY(!selector.selectProfile(QStringLiteral("*nothing")));
    QCOMPARE(selector.currentProfile(), QStringLiteral("*srgb"));

    // An absolute path elsewhere moves to its folder.
    QVERIFY(selector.selectProfile(elsewhere.filePath(QStringLiteral("rec709.icc"))));
    QCOMPARE(selector.currentFolder(), elsewhere.path());
    QCOMPARE(selector.currentProfile(), elsewhere.filePath(QStringLiteral("rec709.icc")));
    QVERIFY(!names(selector).contains(here.filePath(QStringLiteral("apple.icc"))));
    QVERIFY(!selector.selectProfile(elsewhere.filePath(QStringLiteral("missing.icc"))));
    QCOMPARE(selector.currentProfile(), elsewhere.filePath(QStringLiteral("rec709.icc")));
}

void TestProfileSelector::valueChangedOnlyWhenTheChoiceChanges()
{
    ICCProfileSelector selector;
    QSignalSpy spy(&selector, &ICCProfileSelector::valueChanged);
    QVERIFY(selector.setProfile(QString(), QString()));
    QCOMPARE(spy.count(), 1);  // nothing -> "*srgb", once despite the rebuilt list
    QVERIFY(selector.setProfile(QString(), QStringLiteral("*srgb")));
    QCOMPARE(spy.count(), 1);
    QVERIFY(selector.selectProfile(QStringLiteral("*argb")));
    QCOMPARE(spy.count(), 2);
    selector.reload();  // the choice is still listed: kept, no signal
    QCOMPARE(selector.currentProfile(), QStringLiteral("*argb"));
    QCOMPARE(spy.count(), 2);
    // The user turning the combo box.
    selector.comboBox()->setCurrentIndex(4);
    QCOMPARE(spy.count(), 3);
    QCOMPARE(selector.currentProfile(), QStringLiteral("*srgblin"));
    QCOMPARE(selector.comboBox()->toolTip(), QStringLiteral("Rec709/gamma 1.0, (sRGB-linear) color space"));
}

void TestProfileSelector::restoreStateDefaults_data()
{
    QTest::addColumn<int>("spaceMask");
    QTest::addColumn<QStringList>("builtins");
    QTest::addColumn<QString>("expected");
    const QStringList all = ICCProfileSelector::defaultBuiltins();
    QTest::newRow("RGB") << 2 << all << "*srgb";
    QTest::newRow("gray and RGB") << 3 << all << "*gray22";
    QTest::newRow("RGB without gray22") << 3 << QStringList{"*srgb", "*gray18"} << "*srgb";
    QTest::newRow("Lab") << 8 << all << "*lab";
    QTest::newRow("CMYK with a FOGRA built-in") << 4 << QStringList{"*CoatedFOGRA39", "*lab"} << "";
    QTest::newRow("CMYK only") << 4 << all << "";
}

void TestProfileSelector::restoreStateDefaults()
{
    QFETCH(int, spaceMask);
    QFETCH(QStringList, builtins);
    QFETCH(QString, expected);
    QSettings settings(work_.filePath(QStringLiteral("empty-%1.ini").arg(QTest::currentDataTag())), QSettings::IniFormat);
    settings.clear();

    ICCProfileSelector selector(31, spaceMask, QString(), builtins, nullptr);
    QVERIFY(selector.restoreState(&settings, QStringLiteral("img_dir"), QStringLiteral("img_prf")));
    QCOMPARE(selector.currentProfile(), expected);
    if (!expected.isEmpty())
        QCOMPARE(selector.currentFolder(), system_color_directory());
    // Restoring reads only.
    QVERIFY(!settings.contains(QStringLiteral("img_dir")));
}

void TestProfileSelector::restoreAndSaveAFile()
{
    QTemporaryDir dir;
    QVERIFY(QFile::copy(kColord + QStringLiteral("/ProPhotoRGB.icc"), dir.filePath(QStringLiteral("pro.icc"))));
    QSettings settings(work_.filePath(QStringLiteral("file.ini")), QSettings::IniFormat);
    settings.setValue(QStringLiteral("cmp_dir"), dir.path());
    settings.setValue(QStringLiteral("cmp_prf"), QStringLiteral("pro.icc"));

    {
        ICCProfileSelector selector;
        QVERIFY(selector.restoreState(&settings, QStringLiteral("cmp_dir"), QStringLiteral("cmp_prf")));
        QCOMPARE(selector.currentProfile(), dir.filePath(QStringLiteral("pro.icc")));
        selector.selectProfile(QStringLiteral("pro.icc"));
        selector.saveState();
        QCOMPARE(settings.value(QStringLiteral("cmp_prf")).toString(), QStringLiteral("pro.icc"));
        QCOMPARE(settings.value(QStringLiteral("cmp_dir")).toString(), dir.path());

        QVERIFY(selector.selectProfile(QStringLiteral("*ecirgb")));
        selector.saveState();
        QCOMPARE(settings.value(QStringLiteral("cmp_prf")).toString(), QStringLiteral("*ecirgb"));
    }

    // "*user" is never written: the next run has no image.
    krmProfile image = open_profile_by_name(QStringLiteral("*applergb"));
    QVERIFY(store_user_profile(image));
    krmCloseProfile(image);
    ICCProfileSelector selector;
    QVERIFY(selector.restoreState(&settings, QStringLiteral("cmp_dir"), QStringLiteral("cmp_prf")));
    QCOMPARE(selector.currentProfile(), QStringLiteral("*ecirgb"));
    QVERIFY(selector.selectProfile(QStringLiteral("*user")));
    selector.saveState();
    QCOMPARE(settings.value(QStringLiteral("cmp_prf")).toString(), QStringLiteral("*ecirgb"));
}

void TestProfileSelector::storedProfileThatIsGone()
{
    QTemporaryDir dir;
    QVERIFY(QFile::copy(kColord + QStringLiteral("/Rec709.icc"), dir.filePath(QStringLiteral("rec.icc"))));
    QSettings settings(work_.filePath(QStringLiteral("gone.ini")), QSettings::IniFormat);
    settings.setValue(QStringLiteral("img_dir"), dir.path());
    settings.setValue(QStringLiteral("img_prf"), QStringLiteral("deleted.icc"));

    ICCProfileSelector selector;
    QVERIFY(!selector.restoreState(&settings, QStringLiteral("img_dir"), QStringLiteral("img_prf")));
    QCOMPARE(selector.currentProfile(), QString());
    QCOMPARE(selector.comboBox()->currentIndex(), -1);
    QCOMPARE(selector.comboBox()->toolTip(), QStringLiteral("No profile selected"));
    // The folder is still listed, for the user to choose again.
    QCOMPARE(selector.currentFolder(), dir.path());
    QVERIFY(names(selector).contains(dir.filePath(QStringLiteral("rec.icc"))));
}

void TestProfileSelector::browsingChoosesAFile()
{
    QTemporaryDir dir;
    QVERIFY(QFile::copy(kColord + QStringLiteral("/BruceRGB.icc"), dir.filePath(QStringLiteral("bruce.icc"))));
    QVERIFY(QFile::copy(kGhostscript + QStringLiteral("/default_cmyk.icc"), dir.filePath(QStringLiteral("cmyk.icc"))));
    QFile junk(dir.filePath(QStringLiteral("junk.icc")));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(400, 'z'));
    junk.close();

    QSettings settings(work_.filePath(QStringLiteral("browse.ini")), QSettings::IniFormat);
    settings.clear();
    ICCProfileSelector selector(31, 2, QString(), ICCProfileSelector::defaultBuiltins(), nullptr);
    QVERIFY(selector.restoreState(&settings, QStringLiteral("img_dir"), QStringLiteral("img_prf")));
    QSignalSpy spy(&selector, &ICCProfileSelector::valueChanged);

    QString answer;
    QString seenTitle;
    QTimer timer;
    timer.setInterval(20);
    connect(&timer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog) {
            // A busy machine can make the file dialog warn before its folder model has loaded;
            // dismiss that and let the next tick answer the file dialog again.
            if (auto* box = qobject_cast<QDialog*>(modal))
                box->reject();
            return;
        }
        seenTitle = dialog->windowTitle();
        if (answer.isEmpty()) {
            dialog->reject();
        } else {
            // Answer as the user's choice without the dialog's own existence check, which
            // waits on its asynchronous folder model and can stall on a loaded machine.
            // Type the full path as a user would: the dialog's own selection follows its
            // folder model, which loads asynchronously and can lag on a busy machine.
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(edit);
            edit->setText(answer);
            QMetaObject::invokeMethod(dialog, "accept");
        }
    });
    timer.start();

    const QString before = selector.currentProfile();
    answer.clear();  // cancelled
    selector.selectDirectory();
    QCOMPARE(seenTitle, QStringLiteral("Select ICC profile"));
    QCOMPARE(selector.currentProfile(), before);

    g_globalErrors = 0;
    krmSetLogErrorHandler(count_error);
    for (const char* refused : {"junk.icc", "cmyk.icc"}) {
        answer = dir.filePath(QString::fromLatin1(refused));
        selector.selectDirectory();
        QCOMPARE(selector.currentProfile(), before);
    }
    krmSetLogErrorHandler(nullptr);
    QCOMPARE(g_globalErrors, 0);
    QCOMPARE(spy.count(), 0);
    QVERIFY(!settings.contains(QStringLiteral("img_prf")));

    answer = dir.filePath(QStringLiteral("bruce.icc"));
    selector.selectDirectory();
    timer.stop();
    QCOMPARE(selector.currentProfile(), dir.filePath(QStringLiteral("bruce.icc")));
    QCOMPARE(selector.currentFolder(), dir.path());
    QCOMPARE(settings.value(QStringLiteral("img_dir")).toString(), dir.path());
    QCOMPARE(settings.value(QStringLiteral("img_prf")).toString(), QStringLiteral("bruce.icc"));
    QCOMPARE(spy.count(), 1);
}

void TestProfileSelector::dragAndDrop()
{
    QTemporaryDir dir;
    QVERIFY(QFile::copy(kColord + QStringLiteral("/WideGamutRGB.icc"), dir.filePath(QStringLiteral("wide.icc"))));
    QVERIFY(QFile::copy(kColord + QStringLiteral("/PAL-RGB.icc"), dir.filePath(QStringLiteral("pal.icc"))));
    QFile junk(dir.filePath(QStringLiteral("junk.icc")));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(400, 'z'));
    junk.close();

    ICCProfileSelector selector;
    selector.resize(400, 40);
    QVERIFY(selector.setProfile(QString(), QString()));

    auto drag = [&](QMimeData* mime) {
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction | Qt::LinkAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&selector, &enter);
        return std::make_pair(enter.isAccepted(), enter.dropAction());
    };
    // As in a real drag, the drop follows an accepted enter.
    auto drop = [&](QMimeData* mime) {
        drag(mime);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction | Qt::LinkAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&selector, &event);
        return event.isAccepted();
    };

    QMimeData text;
    text.setText(QStringLiteral("not a file"));
    QVERIFY(!drag(&text).first);

    QMimeData folder;
    folder.setUrls({QUrl::fromLocalFile(dir.path())});
    const auto entered = drag(&folder);
    QVERIFY(entered.first);
    QCOMPARE(entered.second, Qt::LinkAction);
    QVERIFY(drop(&folder));
    // The built-ins, then the folder's profiles, with "*srgb" chosen.
    QStringList expected = ICCProfileSelector::defaultBuiltins().mid(0, 17);
    expected << dir.filePath(QStringLiteral("pal.icc")) << dir.filePath(QStringLiteral("wide.icc"));
    QCOMPARE(names(selector), expected);
    QCOMPARE(selector.currentProfile(), QStringLiteral("*srgb"));

    QMimeData file;
    file.setUrls({QUrl(QStringLiteral("https://example.invalid/x.icc")), QUrl::fromLocalFile(dir.filePath(QStringLiteral("wide.icc")))});
    QVERIFY(drop(&file));
    QCOMPARE(selector.currentProfile(), dir.filePath(QStringLiteral("wide.icc")));

    QMimeData broken;
    broken.setUrls({QUrl::fromLocalFile(dir.filePath(QStringLiteral("junk.icc")))});
    QVERIFY(!drop(&broken));
    QCOMPARE(selector.currentProfile(), dir.filePath(QStringLiteral("wide.icc")));
}

void TestProfileSelector::promptAndIconsProperties()
{
    ICCProfileSelector selector(31, 31, QStringLiteral("Image profile:"), {QStringLiteral("*srgb")}, nullptr);
    auto* label = selector.findChild<QLabel*>();
    QVERIFY(label);
    QCOMPARE(label->buddy(), static_cast<QWidget*>(selector.comboBox()));
    QVERIFY(!label->isHidden());
    QCOMPARE(selector.prompt(), QStringLiteral("Image profile:"));
    QVERIFY(!selector.icons());
    QCOMPARE(selector.comboBox()->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);

    selector.setPrompt(QStringLiteral("Reference:"), 120);
    QCOMPARE(label->minimumWidth(), 120);
    QCOMPARE(label->maximumWidth(), 120);
    QCOMPARE(label->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    selector.setPrompt(QStringLiteral("Reference:"), -1);
    QCOMPARE(label->maximumWidth(), QWIDGETSIZE_MAX);
    selector.setProperty("prompt", QString());
    QVERIFY(label->isHidden());

    selector.setProperty("icons", true);
    QCOMPARE(selector.comboBox()->minimumHeight(), 40);
    QCOMPARE(selector.comboBox()->maximumHeight(), 40);
    QCOMPARE(selector.comboBox()->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(selector.comboBox()->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(selector.comboBox()->iconSize(), QSize(32, 40));
    selector.setIcons(false);
    QCOMPARE(selector.comboBox()->maximumHeight(), QWIDGETSIZE_MAX);

    selector.setProperty("showDir", false);
    QVERIFY(!selector.showDir());
    QVERIFY(selector.findChild<QPushButton*>(QStringLiteral("profilesDirButton"))->isHidden());
    selector.setProperty("pclass", 63);
    selector.setProperty("space", 4);
    QCOMPARE(selector.pclass(), 63);
    QCOMPARE(selector.space(), 4);
}

void TestProfileSelector::popupFilterItems()
{
    auto filterState = [](int classMask, int spaceMask) {
        ICCProfileSelector selector(classMask, spaceMask, QString(), {QStringLiteral("*srgb"), QStringLiteral("*lab"),
                                                                      QStringLiteral("*gray22")}, nullptr);
        selector.setProfile(QString(), QString());
        selector.show();
        QStringList state;
        bool hidden = false;
        with_popup(selector, [&](ProfilePopup* popup) {
            auto* model = qobject_cast<QStandardItemModel*>(popup->filter()->model());
            for (int i = 0; i < popup->filter()->count(); ++i)
                state << popup->filter()->itemText(i) + (model->item(i)->isEnabled() ? "" : "-");
            hidden = popup->filter()->isHidden();
        });
        return std::make_pair(state, hidden);
    };
    auto all = filterState(31, 31);
    QCOMPARE(all.first, QStringList({"All", "GRAY", "RGB", "CMYK"}));
    QVERIFY(!all.second);
    auto named = filterState(63, 1 | 2 | 8);
    QCOMPARE(named.first, QStringList({"All", "GRAY", "RGB", "CMYK-", "Named"}));
    auto rgbOnly = filterState(31, 2 | 8);
    QCOMPARE(rgbOnly.first, QStringList({"All", "GRAY-", "RGB", "CMYK-"}));
    QVERIFY(rgbOnly.second);  // one space besides "All" is no choice
}

void TestProfileSelector::popupSearchSwitchesFilterAndHighlights()
{
    ICCProfileSelector selector;
    QVERIFY(selector.setProfile(kGhostscript, QStringLiteral("*srgb")));
    selector.resize(520, 40);
    selector.show();
    QVERIFY(QTest::qWaitForWindowExposed(&selector));

    QStringList expected;
    for (const ProfileEntry& entry : selector.entries())
        if (entry.displayText().contains(QStringLiteral("rgb"), Qt::CaseInsensitive))
            expected << entry.displayText();
    QVERIFY(expected.size() > 5);

    QVERIFY(with_popup(selector, [&](ProfilePopup* popup) {
        QCOMPARE(popup->list()->count(), selector.entries().size());
        QCOMPARE(popup->list()->currentRow(), 0);
        popup->filter()->setCurrentIndex(3);  // CMYK
        for (int i = 0; i < popup->list()->count(); ++i)
            QCOMPARE(selector.entries().at(popup->list()->item(i)->data(Qt::UserRole).toInt()).space, 4);
        const QImage plain = popup->list()->viewport()->grab().toImage();
        QCOMPARE(count_color(plain, ProfileHighlightDelegate::matchBackground()), 0);

        popup->list()->setFocus();
        QTest::keyClicks(popup->list(), QStringLiteral("rgb"));
        QCOMPARE(popup->searchField()->text(), QStringLiteral("rgb"));
        QVERIFY(popup->searchField()->hasFocus());
        QCOMPARE(popup->filter()->currentIndex(), 0);
        QCOMPARE(list_texts(popup), expected);
        for (int i = 0; i < popup->list()->count(); ++i) {
            const int index = popup->list()->item(i)->data(Qt::UserRole).toInt();
            QCOMPARE(popup->list()->item(i)->toolTip(), selector.entries().at(index).toolTip());
        }

        // The match is drawn white on blue.
        QTest::qWait(50);
        const QImage highlighted = popup->list()->viewport()->grab().toImage();
        QVERIFY(count_color(highlighted, ProfileHighlightDelegate::matchBackground()) > 50);
        QVERIFY(count_color(highlighted, Qt::white) > 0);

        // "Named" profiles only where the masks allow them; a search matching nothing empties the list.
        QTest::keyClicks(popup->searchField(), QStringLiteral("zzz"));
        QCOMPARE(popup->list()->count(), 0);
        QTest::keyClick(popup->searchField(), Qt::Key_Down);  // nothing to move
        QTest::keyClick(popup->searchField(), Qt::Key_Return);  // nothing to accept
        QVERIFY(popup->isVisible());
    }));
}

void TestProfileSelector::popupKeys()
{
    const QStringList five = {QStringLiteral("*srgb"), QStringLiteral("*argb"), QStringLiteral("*applergb"),
                              QStringLiteral("*ecirgb"), QStringLiteral("*dcip3")};
    ICCProfileSelector selector(31, 31, QString(), five, nullptr);
    QVERIFY(selector.setProfile(QString(), QString()));
    selector.show();
    QVERIFY(with_popup(selector, [](ProfilePopup* popup) {
        QListWidget* list = popup->list();
        QCOMPARE(list->count(), 5);
        QTest::keyClick(list, Qt::Key_PageDown);
        QCOMPARE(list->currentRow(), 4);
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(list->currentRow(), 4);
        QTest::keyClick(list, Qt::Key_Up);
        QCOMPARE(list->currentRow(), 3);
        QTest::keyClick(list, Qt::Key_PageUp);
        QCOMPARE(list->currentRow(), 0);
        QTest::keyClick(list, Qt::Key_Up);
        QCOMPARE(list->currentRow(), 0);
        // Keys reach the list also from the search field and the filter.
        QTest::keyClick(popup->searchField(), Qt::Key_Down);
        QCOMPARE(list->currentRow(), 1);
        QTest::keyClick(popup->filter(), Qt::Key_Down);
        QCOMPARE(list->currentRow(), 2);
        QCOMPARE(popup->filter()->currentIndex(), 0);
    }));

    // A long list: Page Down moves ten rows.
    ICCProfileSelector many;
    QVERIFY(many.setProfile(kColord, QStringLiteral("*srgb")));
    many.show();
    QVERIFY(with_popup(many, [](ProfilePopup* popup) {
        QTest::keyClick(popup->list(), Qt::Key_PageDown);
        QCOMPARE(popup->list()->currentRow(), 10);
        QTest::keyClick(popup->list(), Qt::Key_PageDown);
        QCOMPARE(popup->list()->currentRow(), 20);
    }));
}

void TestProfileSelector::popupAcceptsAndRejects()
{
    ICCProfileSelector selector;
    QVERIFY(selector.setProfile(QString(), QString()));
    selector.show();
    QSignalSpy spy(&selector, &ICCProfileSelector::valueChanged);

    QVERIFY(with_popup(selector, [](ProfilePopup* popup) {
        QTest::keyClick(popup->list(), Qt::Key_Down);
        QTest::keyClick(popup->list(), Qt::Key_Down);
        QTest::keyClick(popup->list(), Qt::Key_Return);
    }));
    QCOMPARE(selector.currentProfile(), QStringLiteral("*colormatchrgb"));
    QCOMPARE(spy.count(), 1);

    // Choosing the same entry again still tells the owner.
    QVERIFY(with_popup(selector, [](ProfilePopup* popup) {
        QTest::keyClicks(popup->list(), QStringLiteral("colormatch"));
        QCOMPARE(popup->list()->count(), 1);
        QTest::keyClick(popup->searchField(), Qt::Key_Enter);
    }));
    QCOMPARE(selector.currentProfile(), QStringLiteral("*colormatchrgb"));
    QCOMPARE(spy.count(), 2);

    // Clicking an item.
    QVERIFY(with_popup(selector, [](ProfilePopup* popup) {
        QListWidgetItem* item = popup->list()->item(12);
        const QRect rect = popup->list()->visualItemRect(item);
        QTest::mouseClick(popup->list()->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    }));
    QCOMPARE(selector.currentProfile(), QStringLiteral("*lab"));
    QCOMPARE(spy.count(), 3);

    // Escape, and a press outside the popup, change nothing.
    QVERIFY(with_popup(selector, [](ProfilePopup* popup) {
        QTest::keyClick(popup->list(), Qt::Key_Down);
        QTest::keyClick(popup->list(), Qt::Key_Escape);
        QVERIFY(!popup->isVisible());
    }));
    QVERIFY(with_popup(selector, [](ProfilePopup* popup) {
        QTest::keyClick(popup->list(), Qt::Key_Down);
        QTest::mousePress(popup, Qt::LeftButton, Qt::NoModifier, QPoint(-20, -20));
        QVERIFY(!popup->isVisible());
    }));
    QCOMPARE(selector.currentProfile(), QStringLiteral("*lab"));
    QCOMPARE(spy.count(), 3);

    // Opening the combo box opens the popup; nothing opens without entries.
    QVERIFY(with_popup(selector, [](ProfilePopup*) {}));
    ICCProfileSelector empty(31, 4, QString(), {QStringLiteral("*srgb")}, nullptr);
    QVERIFY(empty.setProfile(QString(), QString()));
    QCOMPARE(empty.entries().size(), 0);
    QVERIFY(!with_popup(empty, [](ProfilePopup*) {}));
}

void TestProfileSelector::popupPlacement()
{
    ICCProfileSelector selector;
    QVERIFY(selector.setProfile(QString(), QString()));
    selector.resize(360, 40);
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen->availableGeometry();

    selector.move(available.left() + 100, available.top() + 50);
    selector.show();
    QVERIFY(QTest::qWaitForWindowExposed(&selector));
    QVERIFY(with_popup(selector, [&](ProfilePopup* popup) {
        const QPoint below = selector.comboBox()->mapToGlobal(QPoint(0, selector.comboBox()->height()));
        QCOMPARE(popup->geometry().topLeft(), below);
        QCOMPARE(popup->width(), selector.comboBox()->width());
        QVERIFY(popup->height() > 200);
        QVERIFY(popup->windowFlags() & Qt::Popup);
        QVERIFY(popup->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(popup->windowFlags() & Qt::WindowStaysOnTopHint);
    }));

    // Near the bottom right corner: above the combo box, inside the screen.
    selector.move(available.right() - 200, available.bottom() - 60);
    QTest::qWait(50);
    QVERIFY(with_popup(selector, [&](ProfilePopup* popup) {
        const QRect g = popup->geometry();
        QVERIFY(available.contains(g));
        QCOMPARE(g.bottom(), selector.comboBox()->mapToGlobal(QPoint(0, 0)).y() - 1);
        QCOMPARE(g.right(), available.right());
    }));
}

// Pictures of the open popup for a person to look at; written only when PRISMET_SCREENSHOT_DIR
// names a folder.
void TestProfileSelector::popupScreenshot()
{
    const QByteArray out = qgetenv("PRISMET_SCREENSHOT_DIR");
    if (out.isEmpty())
        QSKIP("set PRISMET_SCREENSHOT_DIR to write screenshots");
    const bool dark = qEnvironmentVariableIsSet("PRISMET_SCREENSHOT_DARK");
    if (dark) {
        QApplication::setStyle(QStringLiteral("Fusion"));
        QApplication::setPalette(dark_fusion_palette());
    }
    QWidget window;
    window.setWindowTitle(QStringLiteral("Selector"));
    auto* selector = new ICCProfileSelector(&window);
    selector->setPrompt(QStringLiteral("Image profile:"));
    QVERIFY(selector->setProfile(kColord, QStringLiteral("*srgb")));
    window.setGeometry(200, 150, 560, 60);
    selector->setGeometry(10, 10, 540, 40);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(with_popup(*selector, [&](ProfilePopup* popup) {
        QTest::keyClicks(popup->list(), QStringLiteral("rgb"));
        QTest::keyClick(popup->searchField(), Qt::Key_Down);
        QTest::keyClick(popup->searchField(), Qt::Key_Down);
        QTest::qWait(100);
        const QString suffix = dark ? QStringLiteral("-dark.png") : QStringLiteral(".png");
        QVERIFY(popup->grab().save(QFile::decodeName(out) + QStringLiteral("/selector-popup") + suffix));
        QVERIFY(window.grab().save(QFile::decodeName(out) + QStringLiteral("/selector-combo") + suffix));
        popup->list()->setFocus();
    }));
}

QTEST_MAIN(TestProfileSelector)
#include "tst_profileselector.moc"
