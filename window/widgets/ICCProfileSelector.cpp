#include "window/widgets/ICCProfileSelector.h"

#include "window/widgets/SystemColorDirectory.h"
#include "window/widgets/BuiltinProfiles.h"
#include "window/widgets/ListingContext.h"
#include "window/widgets/ProfileComboBox.h"
#include "window/widgets/ProfilePopup.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>

#include <memory>
#include <type_traits>

// Outside any namespace, as the resource system requires.
static void init_selector_resources()
{
    static bool done = false;
    if (!done) {
        Q_INIT_RESOURCE(selector);
        done = true;
    }
}

namespace {

const QStringList kProfileNameFilters = {QStringLiteral("*.icc"), QStringLiteral("*.icm"), QStringLiteral("*.pf")};

// Shows the wait cursor while a folder is being listed.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

struct ProfileCloser {
    void operator()(krmProfile profile) const { krmCloseProfile(profile); }
};
using ProfileHandle = std::unique_ptr<std::remove_pointer_t<krmProfile>, ProfileCloser>;

// Opened in the listing context: a broken file is simply not a choice, not an error dialog.
ProfileHandle open_quietly(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return nullptr;
    return ProfileHandle(krmOpenProfileFromFileInContext(listing_context(), QFile::encodeName(path).constData(), "r"));
}

QString canonical_or_clean(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

}  // namespace

ICCProfileSelector::ICCProfileSelector(QWidget* parent)
    : ICCProfileSelector(31, 31, QString(), defaultBuiltins(), parent)
{
    setIcons(true);
}

ICCProfileSelector::ICCProfileSelector(int classMask, int spaceMask, const QString& prompt,
                                       const QStringList& builtins, QWidget* parent)
    : QWidget(parent)
    , classMask_(classMask)
    , spaceMask_(spaceMask)
    , builtins_(builtins)
{
    init_selector_resources();
    setAcceptDrops(true);
    build_ui(prompt);
    setIcons(false);
}

QStringList ICCProfileSelector::defaultBuiltins()
{
    return {QStringLiteral("*srgb"),     QStringLiteral("*argb"),        QStringLiteral("*colormatchrgb"),
            QStringLiteral("*applergb"), QStringLiteral("*srgblin"),     QStringLiteral("*argblin"),
            QStringLiteral("*prophoto"), QStringLiteral("*prophotolin"), QStringLiteral("*ecirgb"),
            QStringLiteral("*oprgb"),    QStringLiteral("*bt2020"),      QStringLiteral("*dcip3"),
            QStringLiteral("*lab"),      QStringLiteral("*gray10"),      QStringLiteral("*gray18"),
            QStringLiteral("*gray22"),   QStringLiteral("*gray30"),      QStringLiteral("*user")};
}

void ICCProfileSelector::build_ui(const QString& prompt)
{
    label_ = new QLabel(prompt, this);
    label_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    label_->setAcceptDrops(true);

    combo_ = new ProfileComboBox(this, this);
    combo_->setEditable(false);
    combo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo_->setMinimumContentsLength(10);
    label_->setBuddy(combo_);
    connect(combo_, &QComboBox::currentIndexChanged, this, &ICCProfileSelector::slotValueChanged);

    dirButton_ = new QPushButton(this);
    dirButton_->setObjectName(QStringLiteral("profilesDirButton"));
    dirButton_->setFlat(true);
    dirButton_->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    dirButton_->setFixedSize(40, 40);
    dirButton_->setIcon(QIcon(QStringLiteral(":/folder.png")));
    dirButton_->setIconSize(QSize(32, 32));
    dirButton_->setMouseTracking(true);
    dirButton_->setAttribute(Qt::WA_Hover);
    dirButton_->setToolTip(tr("Profiles folder: Select here the main repository for your ICC profiles."));
    connect(dirButton_, &QPushButton::clicked, this, &ICCProfileSelector::selectDirectory);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label_);
    layout->addWidget(combo_);
    layout->addWidget(dirButton_);

    label_->setVisible(!prompt.isEmpty());
    update_tooltip();
}

bool ICCProfileSelector::showDir() const
{
    return !dirButton_->isHidden();
}

void ICCProfileSelector::setShowDir(bool show)
{
    dirButton_->setVisible(show);
}

void ICCProfileSelector::setIcons(bool on)
{
    icons_ = on;
    if (on) {
        combo_->setMinimumHeight(40);
        combo_->setMaximumHeight(40);
        combo_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        combo_->setIconSize(QSize(32, 40));
    } else {
        combo_->setMinimumHeight(0);
        combo_->setMaximumHeight(QWIDGETSIZE_MAX);
        combo_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    }
    fill_combo();
}

QString ICCProfileSelector::prompt() const
{
    return label_->text();
}

void ICCProfileSelector::setPrompt(const QString& text, int width)
{
    if (text.isEmpty()) {
        label_->hide();
        label_->clear();
    } else {
        label_->setText(text);
        label_->show();
    }
    if (width < 0) {
        label_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        label_->setMinimumWidth(0);
        label_->setMaximumWidth(QWIDGETSIZE_MAX);
    } else {
        label_->setFixedWidth(width);
        label_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
}

QIcon ICCProfileSelector::entryIcon(const ProfileEntry& entry)
{
    init_selector_resources();
    return QIcon(entry.iconName());
}

QString ICCProfileSelector::currentProfile() const
{
    const int index = combo_->currentIndex();
    if (index < 0 || index >= entries_.size())
        return {};
    return entries_.at(index).name;
}

// ---------------------------------------------------------------------------------------------
// Listing
// ---------------------------------------------------------------------------------------------

void ICCProfileSelector::add_entry_if_accepted(krmProfile profile, const QString& name)
{
    if (!profile_passes_masks(profile, classMask_, spaceMask_))
        return;
    entries_.append(ProfileEntry::fromProfile(profile, name, language_.constData(), country_.constData()));
}

void ICCProfileSelector::list_entries()
{
    WaitCursor wait;
    entries_.clear();

    for (const QString& name : builtins_) {
        if (name == QLatin1String("*user") && !has_user_profile())
            continue;
        const ProfileHandle profile(open_profile_by_name(name));
        if (!profile)
            continue;
        const int before = entries_.size();
        add_entry_if_accepted(profile.get(), name);
        if (name == QLatin1String("*user") && entries_.size() > before) {
            ProfileEntry& entry = entries_.last();
            entry.description += QStringLiteral(" (") + tr("Embedded") + QStringLiteral(")");
            entry.builtin = true;
        }
    }

    if (folder_.isEmpty())
        return;
    const QDir dir(folder_);
    if (!dir.exists() || !dir.isReadable())
        return;
    // Sorted by name, ignoring case, as file dialogs show folders.
    const QFileInfoList files =
        dir.entryInfoList(kProfileNameFilters, QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& file : files) {
        const QString path = file.filePath();
        const ProfileHandle profile(
            krmOpenProfileFromFileInContext(listing_context(), QFile::encodeName(path).constData(), "r"));
        if (profile)
            add_entry_if_accepted(profile.get(), path);
    }
}

void ICCProfileSelector::fill_combo()
{
    const QSignalBlocker blocker(combo_);
    const int index = combo_->currentIndex();
    combo_->clear();
    if (icons_)
        combo_->setIconSize(QSize(32, 40));
    for (const ProfileEntry& entry : entries_) {
        if (icons_)
            combo_->addItem(entryIcon(entry), entry.displayText());
        else
            combo_->addItem(entry.displayText());
    }
    combo_->setCurrentIndex(index < combo_->count() ? index : -1);
}

void ICCProfileSelector::reload()
{
    const QString before = currentProfile();
    list_entries();
    fill_combo();
    const int index = find_entry(before);
    select_index(index >= 0 ? index : (entries_.isEmpty() ? -1 : 0));
    notify_if_changed(before);
}

int ICCProfileSelector::find_entry(const QString& name) const
{
    if (name.isEmpty())
        return -1;

    const bool builtin = name.startsWith(QLatin1Char('*'));
    QString wanted = name;
    if (!builtin)
        wanted = canonical_or_clean(QFileInfo(name).isRelative() ? folder_ + QLatin1Char('/') + name : name);

    QStringList keys;
    keys.reserve(entries_.size());
    for (const ProfileEntry& entry : entries_) {
        if (entry.name.startsWith(QLatin1Char('*')) != builtin)
            keys.append(QString());
        else
            keys.append(builtin ? entry.name : canonical_or_clean(entry.name));
    }
    // An exact match wins, so that two files differing only in case stay apart.
    const int exact = keys.indexOf(wanted);
    if (exact >= 0)
        return exact;
    const QString folded = wanted.toCaseFolded();
    for (int i = 0; i < keys.size(); ++i) {
        if (!keys.at(i).isEmpty() && keys.at(i).toCaseFolded() == folded)
            return i;
    }
    return -1;
}

void ICCProfileSelector::select_index(int index)
{
    const QSignalBlocker blocker(combo_);
    combo_->setCurrentIndex(index);
}

void ICCProfileSelector::update_tooltip()
{
    const int index = combo_->currentIndex();
    if (index < 0 || index >= entries_.size())
        combo_->setToolTip(tr("No profile selected"));
    else
        combo_->setToolTip(entries_.at(index).toolTip());
}

void ICCProfileSelector::notify_if_changed(const QString& before)
{
    if (currentProfile() != before)
        slotValueChanged();
    else
        update_tooltip();
}

bool ICCProfileSelector::accepts_file(const QString& path) const
{
    const ProfileHandle profile = open_quietly(path);
    return profile && profile_passes_masks(profile.get(), classMask_, spaceMask_);
}

// ---------------------------------------------------------------------------------------------
// Choosing
// ---------------------------------------------------------------------------------------------

bool ICCProfileSelector::setProfile(const QString& folder, const QString& name)
{
    QString dir = folder;
    QString file = name;
    if (dir.isEmpty() || file.isEmpty()) {
        dir.clear();
        file = QStringLiteral("*srgb");
    }
    if (!file.startsWith(QLatin1Char('*')) && !accepts_file(QDir(dir).filePath(file)))
        return false;

    const QString before = currentProfile();
    folder_ = dir;
    list_entries();
    fill_combo();
    select_index(find_entry(file));
    notify_if_changed(before);
    return true;
}

bool ICCProfileSelector::selectProfile(const QString& name)
{
    const QString before = currentProfile();
    if (name == QLatin1String("*user")) {
        if (!has_user_profile())
            return false;
        list_entries();
        fill_combo();
    }

    const int index = find_entry(name);
    if (index >= 0) {
        select_index(index);
        notify_if_changed(before);
        return true;
    }
    const QFileInfo info(name);
    if (!name.startsWith(QLatin1Char('*')) && info.isAbsolute())
        return setProfile(info.absolutePath(), info.fileName());

    select_index(entries_.isEmpty() ? -1 : 0);
    notify_if_changed(before);
    return false;
}

bool ICCProfileSelector::restoreState(QSettings* settings, const QString& folderKey, const QString& profileKey)
{
    settings_ = settings;
    folderKey_ = folderKey;
    profileKey_ = profileKey;

    QString folder = settings ? settings->value(folderKey).toString() : QString();
    if (folder.isEmpty())
        folder = system_color_directory();
    QString name = settings ? settings->value(profileKey).toString() : QString();
    if (name.isEmpty()) {
        if ((spaceMask_ & SpaceGray) && builtins_.contains(QStringLiteral("*gray22")))
            name = QStringLiteral("*gray22");
        else if ((spaceMask_ & SpaceRGB) && builtins_.contains(QStringLiteral("*srgb")))
            name = QStringLiteral("*srgb");
        else if ((spaceMask_ & SpaceCMYK) && builtins_.contains(QStringLiteral("*CoatedFOGRA39")))
            name = QStringLiteral("*CoatedFOGRA39");
        else if ((spaceMask_ & SpaceLab) && builtins_.contains(QStringLiteral("*lab")))
            name = QStringLiteral("*lab");
    }
    if (setProfile(folder, name))
        return true;

    // The stored file is gone or no longer fits: list the folder anyway, with nothing chosen.
    const QString before = currentProfile();
    folder_ = folder;
    list_entries();
    fill_combo();
    select_index(-1);
    notify_if_changed(before);
    return false;
}

void ICCProfileSelector::saveState()
{
    if (!settings_)
        return;
    QString name = currentProfile();
    if (!name.isEmpty() && !name.startsWith(QLatin1Char('*')))
        name = QFileInfo(name).fileName();
    if (name != QLatin1String("*user") && !profileKey_.isEmpty())
        settings_->setValue(profileKey_, name);
    if (!folderKey_.isEmpty())
        settings_->setValue(folderKey_, folder_);
}

void ICCProfileSelector::slotValueChanged()
{
    update_tooltip();
    emit valueChanged();
}

// ---------------------------------------------------------------------------------------------
// Browsing, dropping and the popup
// ---------------------------------------------------------------------------------------------

void ICCProfileSelector::selectDirectory()
{
    const QString start = folder_.isEmpty() ? system_color_directory() : folder_;
    const QString path = QFileDialog::getOpenFileName(this, tr("Select ICC profile"), start,
                                                      tr("ICC profiles (*.icc *.icm *.pf);;All files (*.*)"));
    if (path.isEmpty() || !accepts_file(path))
        return;

    const QFileInfo info(path);
    folder_ = info.absolutePath();
    if (settings_) {
        if (!folderKey_.isEmpty())
            settings_->setValue(folderKey_, folder_);
        if (!profileKey_.isEmpty())
            settings_->setValue(profileKey_, info.fileName());
    }
    list_entries();
    fill_combo();
    select_index(find_entry(info.absoluteFilePath()));
    slotValueChanged();
}

void ICCProfileSelector::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls()) {
        event->setDropAction(Qt::LinkAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void ICCProfileSelector::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->mimeData()->hasUrls()) {
        event->setDropAction(Qt::LinkAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void ICCProfileSelector::dropEvent(QDropEvent* event)
{
    for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isValid() || !url.isLocalFile())
            continue;
        const QFileInfo info(url.toLocalFile());
        const bool ok = info.isDir() ? setProfile(info.absoluteFilePath(), QStringLiteral("*srgb"))
                                     : setProfile(info.absolutePath(), info.fileName());
        if (ok) {
            event->setDropAction(Qt::LinkAction);
            event->accept();
        } else {
            event->ignore();
        }
        return;
    }
    event->ignore();
}

void ICCProfileSelector::showProfilePopup()
{
    if (entries_.isEmpty())
        return;

    ProfilePopup popup(this, this);
    const QSize size(combo_->width(), popup.sizeHint().height() + 200);

    const QPoint below = combo_->mapToGlobal(QPoint(0, combo_->height()));
    const int comboTop = combo_->mapToGlobal(QPoint(0, 0)).y();
    QScreen* screen = QGuiApplication::screenAt(below);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(below, size);

    QRect geometry(below, QSize(size.width(), qMin(size.height(), available.height())));
    if (geometry.bottom() > available.bottom())
        geometry.moveBottom(comboTop - 1);
    if (geometry.right() > available.right())
        geometry.moveRight(available.right());
    if (geometry.left() < available.left())
        geometry.moveLeft(available.left());
    if (geometry.top() < available.top())
        geometry.moveTop(available.top());
    if (geometry.bottom() > available.bottom())
        geometry.moveBottom(available.bottom());
    popup.setGeometry(geometry);

    popup.raise();
    if (popup.exec() != QDialog::Accepted)
        return;
    const int chosen = popup.chosenIndex();
    if (chosen < 0 || chosen >= entries_.size())
        return;
    select_index(chosen);
    slotValueChanged();
}
