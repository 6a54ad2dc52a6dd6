#include "window/widgets/ColorScheme.h"

#include "window/widgets/AppSettings.h"

#include <QApplication>
#include <QSettings>

QPalette dark_fusion_palette()
{
    const QColor window(53, 53, 53);
    const QColor base(35, 35, 35);
    const QColor text(232, 232, 232);
    const QColor disabledText(127, 127, 127);
    const QColor highlight(42, 130, 218);

    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabledText);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Link, highlight);
    p.setColor(QPalette::LinkVisited, highlight.lighter(130));
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Light, window.lighter(150));
    p.setColor(QPalette::Midlight, window.lighter(125));
    p.setColor(QPalette::Mid, window.darker(125));
    p.setColor(QPalette::Dark, window.darker(150));
    p.setColor(QPalette::Shadow, Qt::black);

    p.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Text, disabledText);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Highlight, window.lighter(130));
    p.setColor(QPalette::Disabled, QPalette::HighlightedText, disabledText);
    return p;
}

void apply_color_scheme()
{
    const bool dark = appSettings()->value("dark_always", true).toBool();
    // A palette without explicitly set roles hands the choice back to the style and platform.
    QApplication::setPalette(dark ? dark_fusion_palette() : QPalette());
}
