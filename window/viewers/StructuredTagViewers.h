#pragma once

#include "window/widgets/IProfileComponentView.h"

#include <krm.h>

#include <QString>

class GraphicsViewer;
class HexViewer;
class QLabel;
class QTextBrowser;
class QTextEdit;
class WorkflowGraphScene;

// The viewers of tags holding a handful of fields. Each reads its tag once and throws QException
// when the profile lacks it or it cannot be read in the expected type.

// A centred HTML card: a title over a bordered table of the tag's fields.
class TagCardComponent : public IProfileComponentView
{
    Q_OBJECT

public:
    QTextBrowser* browser() const { return browser_; }

protected:
    explicit TagCardComponent(QWidget* parent);
    void set_card(const QString& title, const QString& body);

private:
    QTextBrowser* browser_ = nullptr;
};

// 'cicp': the four video code points.
// A coding-independent code point with its ITU-T H.273 name, e.g. "16 – SMPTE ST 2084 (PQ), BT.2100".
QString cicp_primaries_text(int code);
QString cicp_transfer_text(int code);
QString cicp_matrix_text(int code);

class CICPTagComponent : public TagCardComponent
{
    Q_OBJECT
public:
    CICPTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);
};

// 'clro': the colorant numbers in laydown order.
class ColorantOrderTagComponent : public TagCardComponent
{
    Q_OBJECT
public:
    ColorantOrderTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);
};

// 'calt', 'dtim': the stored time (UTC) in the system's short format.
class DateTimeTagComponent : public TagCardComponent
{
    Q_OBJECT
public:
    DateTimeTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);
};

// 'ciis', 'rig0', 'rig2', 'tech': the signature's meaning.
class EnumeratedTagComponent : public TagCardComponent
{
    Q_OBJECT
public:
    EnumeratedTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);
};

// 'meas': observer, backing, geometry, flare and illuminant.
class MeasurementTagComponent : public TagCardComponent
{
    Q_OBJECT
public:
    MeasurementTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);
};

// 'meta': the dictionary's names and values.
class MetaTagComponent : public TagCardComponent
{
    Q_OBJECT
public:
    MetaTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);
};

// 'scrn': frequency, angle and spot shape of each screen.
class ScreeningTagComponent : public TagCardComponent
{
    Q_OBJECT
public:
    ScreeningTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);
};

// 'lumi': one XYZ value.
class SingleXYZTagComponent : public TagCardComponent
{
    Q_OBJECT
public:
    SingleXYZTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);
};

// 'view': illuminant, surround and illuminant type.
class ViewingConditionsTagComponent : public TagCardComponent
{
    Q_OBJECT
public:
    ViewingConditionsTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);
};

// 'psd0'…'psd3', 'ps2i', 'ps2s': PostScript data, as text or, when flagged binary, as a hex dump.
class DataTagComponent : public IProfileComponentView
{
    Q_OBJECT
public:
    DataTagComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);

    // Exactly one of the two is set.
    HexViewer* hexViewer() const { return hex_; }
    QTextEdit* textView() const { return text_; }

private:
    HexViewer* hex_ = nullptr;
    QTextEdit* text_ = nullptr;
};

// 'pseq', 'psid': the profiles of a sequence as a column of boxes.
class ProfileSeqComponent : public IProfileComponentView
{
    Q_OBJECT
public:
    ProfileSeqComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);

    GraphicsViewer* viewer() const { return viewer_; }
    // Null for a tag other than 'pseq' or 'psid'.
    WorkflowGraphScene* scene() const { return scene_; }

private:
    GraphicsViewer* viewer_ = nullptr;
    WorkflowGraphScene* scene_ = nullptr;
};

// The screening card's body: the heading, then one row per channel.
QString screening_body(const krmScreening& screening);

// A sequence entry's text as UTF-8 of the default translation, NULs removed; "(null)" without one.
QString sequence_text(const krmMLU* mlu);
