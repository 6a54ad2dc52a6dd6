#include "window/widgets/HtmlHelpers.h"

#include <QApplication>
#include <QPalette>

QString make_html_page(const QString& title, const QString& body)
{
    const QString text_color = QApplication::palette().color(QPalette::Text).name(QColor::HexRgb);
    return QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body style=\"text-align:center; color: ")
        + text_color + QStringLiteral("; \"><p>&nbsp;<br></p><h1>") + title + QStringLiteral("</h1>") + body
        + QStringLiteral("</body></html>");
}

QString make_html_table(const HtmlRows& rows)
{
    QString html = QStringLiteral(
        "<div style=\"display:inline-block; text-align:center;\"><table border=\"1\" cellspacing=\"0\" "
        "cellpadding=\"6\">");
    for (const auto& [key, value] : rows)
        html += QStringLiteral("<tr><td>") + key + QStringLiteral("</td><td>") + value + QStringLiteral("</td></tr>");
    html += QStringLiteral("</table></div>");
    return html;
}

QString format_xyz(double x, double y, double z)
{
    return QStringLiteral("X: %1 Y: %2 Z: %3").arg(x, 0, 'f', 4).arg(y, 0, 'f', 4).arg(z, 0, 'f', 4);
}
