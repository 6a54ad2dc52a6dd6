#pragma once

#include "imaging/RasterImage.h"

#include <krm.h>

#include <QWidget>

#include <memory>

#include <vector>

class HoverInfoPopup;
class ICCProfileSelector;
class ImageViewer;
class QAction;
class QCheckBox;
class QComboBox;
class QPushButton;
struct ImageColourCloud;
class QHBoxLayout;
class QMenu;

// The proofing dock: an image shown through the open (proofed) profile on this screen, either
// straight (image profile → screen) or soft-proofed (image profile → proofed profile → back →
// screen), with the proof's black ink, media colour and gamut alarm on request, and the proofed
// device values of the pixel under the pointer.
class ProofingWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ProofingWidget(QWidget* parent = nullptr);
    ~ProofingWidget() override;

    // The main window's profile, borrowed; null when none is open.
    void set_profile(krmProfile profile);
    // The loaded image's colours through its profile (relative colorimetric) to L*a*b*, at most
    // 100000 evenly spaced samples; null without an image or when they cannot be converted.
    std::shared_ptr<const ImageColourCloud> image_colour_cloud() const;
    QPushButton* plotButton() const { return plotButton_; }
    // Loads one image file; false (after a message) when it is not an image this view reads.
    bool load_image_file(const QString& path);
    void show_error(const QString& message);

    // The profiles and settings of the display transform's chain, in chain order.
    struct Chain {
        std::vector<krmProfile> profiles;
        std::vector<krmUInt32Number> intents;
        std::vector<krmBool> bpc;
        krmUInt32Number flags = 0;
        bool proof = false;  // through the proofed profile (extended transform with gamut profile)
    };
    Chain display_chain(krmProfile display) const;
    // The rows of the hover popup for one image pixel; empty without a hover transform.
    QString value_table(const QPoint& image_pos) const;

    const RasterImage& image() const { return image_; }
    krmProfile imageProfile() const { return imageProfile_; }
    krmTransform hoverTransform() const { return hover_; }
    ImageViewer* imageViewer() const { return view_; }
    HoverInfoPopup* hoverPopup() const { return popup_; }
    ICCProfileSelector* imageProfileSelector() const { return selector_; }
    QMenu* contextMenu() const { return menu_; }

signals:
    void image_loaded();
    // "Plot image colours" was pressed.
    void plot_image_colours();

public slots:
    void load_image();
    void paste_image();
    void zoom_in();
    void zoom_out();
    void on_intent_changed(int index);
    void on_image_profile_changed();
    void on_clipboard_changed();
    void on_pixel_hovered(const QPoint& pos, QRgb pixel, const QPoint& global_pos);
    void on_file_dropped(const QString& filename);
    void update_proof_transform();

private:
    void build_ui();
    void build_selector();
    void build_menu();
    void connect_signals();
    void show_image(RasterImage image);
    void choose_default_profile_for(krmColorSpaceSignature space);
    void set_image_profile(krmProfile profile);
    void uncheck_and_disable_options();
    krmTransform make_display_transform() const;
    bool image_profile_fits() const;

    ImageViewer* view_ = nullptr;
    HoverInfoPopup* popup_ = nullptr;
    QCheckBox* softProofing_ = nullptr;
    QCheckBox* blackInk_ = nullptr;
    QCheckBox* mediaColor_ = nullptr;
    QCheckBox* gamutCheck_ = nullptr;
    QComboBox* intentBox_ = nullptr;
    QPushButton* plotButton_ = nullptr;
    QString imageName_;
    ICCProfileSelector* selector_ = nullptr;
    QHBoxLayout* choices_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* loadAction_ = nullptr;
    QAction* pasteAction_ = nullptr;
    QAction* zoomInAction_ = nullptr;
    QAction* zoomOutAction_ = nullptr;

    krmProfile proofed_ = nullptr;  // borrowed
    krmProfile imageProfile_ = nullptr;  // owned
    krmTransform hover_ = nullptr;  // owned
    RasterImage image_;
    int intent_ = 1;
    bool loading_ = false;  // the selector changes while an image is being taken in
    bool dialogShown_ = false;
};
