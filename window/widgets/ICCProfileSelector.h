#pragma once

#include "window/widgets/ProfileEntry.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

class QLabel;
class QPushButton;
class QSettings;
class ProfileComboBox;

// A compact profile chooser: an optional prompt, a combo box of the built-in profiles followed by
// the profiles of one folder (filtered by device class and colour space), and a folder button.
// Remembers folder and choice in the settings, accepts dropped files and folders, and opens a
// searchable list (ProfilePopup) instead of the combo box's own drop-down.
class ICCProfileSelector : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool showDir READ showDir WRITE setShowDir)
    Q_PROPERTY(bool icons READ icons WRITE setIcons)
    Q_PROPERTY(int pclass READ pclass WRITE setPclass)
    Q_PROPERTY(int space READ space WRITE setSpace)
    Q_PROPERTY(QString prompt READ prompt WRITE setPrompt)
    Q_PROPERTY(QStringList builtins READ builtins WRITE setBuiltins)

public:
    explicit ICCProfileSelector(QWidget* parent = nullptr);
    ICCProfileSelector(int classMask, int spaceMask, const QString& prompt, const QStringList& builtins,
                       QWidget* parent = nullptr);

    // The built-ins a selector made with the one-argument constructor lists, in this order.
    static QStringList defaultBuiltins();

    bool showDir() const;
    void setShowDir(bool show);
    bool icons() const { return icons_; }
    void setIcons(bool on);
    int pclass() const { return classMask_; }
    void setPclass(int mask) { classMask_ = mask; }
    int space() const { return spaceMask_; }
    void setSpace(int mask) { spaceMask_ = mask; }
    QString prompt() const;
    void setPrompt(const QString& text) { setPrompt(text, -1); }
    // Empty text hides the label; a negative width lets the label size itself.
    void setPrompt(const QString& text, int width);
    QStringList builtins() const { return builtins_; }
    void setBuiltins(const QStringList& names) { builtins_ = names; }

    // Chooses `name` (a built-in, or a file inside `folder`) and lists that folder. An empty
    // folder or name means "*srgb" with no folder. False, with nothing changed, when the file does
    // not open or does not pass the masks.
    bool setProfile(const QString& folder, const QString& name);
    // Chooses an entry by name; an absolute path to a file elsewhere moves to its folder.
    bool selectProfile(const QString& name);
    // The current entry's name (a built-in name or a file path), empty when none.
    QString currentProfile() const;
    QString currentFolder() const { return folder_; }

    // Reads folder and choice from `settings`, which browsing later writes into.
    bool restoreState(QSettings* settings, const QString& folderKey, const QString& profileKey);
    void saveState();
    // Lists the built-ins and the folder again, keeping the choice when it is still listed.
    void reload();

    const QVector<ProfileEntry>& entries() const { return entries_; }
    ProfileComboBox* comboBox() const { return combo_; }
    // The icon of an entry as lists show it (the same picture in the combo box and the popup).
    static QIcon entryIcon(const ProfileEntry& entry);

signals:
    void valueChanged();

public slots:
    void selectDirectory();
    void slotValueChanged();
    void showProfilePopup();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void build_ui(const QString& prompt);
    void list_entries();
    void add_entry_if_accepted(krmProfile profile, const QString& name);
    void fill_combo();
    int find_entry(const QString& name) const;
    void select_index(int index);
    void update_tooltip();
    void notify_if_changed(const QString& before);
    bool accepts_file(const QString& path) const;

    int classMask_ = 31;
    int spaceMask_ = 31;
    QStringList builtins_;
    QString folder_;
    QVector<ProfileEntry> entries_;
    bool icons_ = false;
    QPointer<QSettings> settings_;
    QString folderKey_;
    QString profileKey_;
    QByteArray language_ = "en";
    QByteArray country_ = "US";

    QLabel* label_ = nullptr;
    ProfileComboBox* combo_ = nullptr;
    QPushButton* dirButton_ = nullptr;
};
