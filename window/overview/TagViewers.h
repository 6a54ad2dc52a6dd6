#pragma once

#include "window/widgets/TagAccess.h"

#include <QList>
#include <QString>

class QWidget;

// One tab of the viewer area: its title and the viewer widget, owned by whoever holds the list.
struct ViewerTab {
    QString title;
    QWidget* widget = nullptr;
};

// The viewer tabs for one tag of the profile, never empty: the dispatch's tabs, or the raw dump
// alone when a viewer cannot show the tag; with the `raw_dump` preference a "Raw" tab follows.
// The widgets are created with `parent`.
QList<ViewerTab> createTagViewers(krmProfile profile, krmTagSignature sig, QWidget* parent);

// The tabs chosen for the tag by its signature, else by its stored type, else the raw dump.
// Throws QException when a viewer cannot show the tag; the tabs built so far are then deleted.
QList<ViewerTab> dispatchTagViewers(krmProfile profile, krmTagSignature sig, QWidget* parent);

// Which analysis tabs apply to a LUT tag of the profile.
bool is_gamut_available(krmProfile profile, krmTagSignature sig);
bool is_separation_available(krmProfile profile, krmTagSignature sig);
bool is_roundtrip_available(krmProfile profile, krmTagSignature sig);
bool is_dot_gain_available(krmProfile profile, krmTagSignature sig);
