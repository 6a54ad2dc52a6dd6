#pragma once

#include "window/overview/TagViewers.h"

#include <krm.h>

#include <QList>
#include <QMainWindow>
#include <QPointer>

namespace Ui {
class prismetClass;
}
class ProofingWidget;

// The main window. Owns the open profile and the viewer tabs built for the selected tag; the
// header view, the tags table and the proofing view borrow the profile.
class Prismet : public QMainWindow
{
    Q_OBJECT

public:
    explicit Prismet(QWidget* parent = nullptr);
    ~Prismet() override;

    krmProfile profile() const { return profile_; }
    QString profilePath() const { return profilePath_; }
    // The file being opened while an open is in progress, empty otherwise.
    QString openingPath() const { return openingPath_; }

    // The window that shows engine errors: the first one constructed while it lives.
    static Prismet* errorWindow();

    // The application's error dialog, naming the file the message is about (none when empty).
    void show_error(const QString& message, const QString& path);

    // The user manual for a program in `programFolder`: manual.pdf beside it, else in the
    // installed documentation folder ../share/doc/prismet; empty when neither exists.
    static QString manualPath(const QString& programFolder);

    // Whether a drag carrying these URLs is one profile file Prismet can open.
    static bool isProfileDrop(const QList<QUrl>& urls);

public slots:
    void open_filename(const QString& path);
    void open();
    void open_global();
    void open_local();
    void change_palette();
    void open_dir(const QString& folder);
    void preferences();
    void about();
    void updateActions();
    void copy();
    void load_image();
    void show_preview_dock(bool show);
    void onTagSelected(krmTagSignature signature);
    void user_manual();
    void check_profile();
    void open_recent_file();
    // File ▸ "Compare with profile…": a file dialog, then compare_with_file.
    void compare_with_profile();
    // The diff of the open profile against `path` in a dialog; its tag links select the tag here.
    void compare_with_file(const QString& path);
    // Makes the tags table's row of `signature` current (its viewers open); false when absent.
    bool select_tag(krmTagSignature signature);
    // The proofing dock's "Plot image colours": the image's colours to the Gamut view, opened
    // on the profile's device-to-PCS tag (A2B1, A2B0, D2B0 or the matrix-shaper) when none is shown.
    void plot_image_colours();
    // The Gamut view among the current viewer tabs, made current; null when there is none.
    QWidget* show_gamut_view();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void create_opengl_view();
    void setup_ui();
    void connect_actions();
    void connect_tab_bar();
    void create_proofing();
    void restore_layout();
    void show_open_dialog(const QString& folder, const QString& title);
    void widen_docks();
    void fit_first_size();
    void show_header_whole();
    void show_manual_window();
    static bool pdfViewerInstalled();

    void clear_viewers();
    void delete_viewer_widgets();
    void update_recent_files_menu();
    void add_recent_file(const QString& path);
    void update_title();
    QWidget* copy_target() const;
    void show_information(const QString& title, const QString& message);

    Ui::prismetClass* ui_ = nullptr;
    QList<ViewerTab> viewers_;
    QWidget* dataPage_ = nullptr;
    QString profilePath_;
    QString openingPath_;
    krmProfile profile_ = nullptr;
    ProofingWidget* proofing_ = nullptr;
    QAction* compareAction_ = nullptr;
    bool layoutReset_ = false;
    QPointer<QWidget> manualWindow_;  // the manual shown by the program itself, while open
};
