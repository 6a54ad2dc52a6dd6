#pragma once

#include <QList>
#include <QPair>
#include <QString>

// The small HTML cards of the structured viewers: a centred page with a heading, a bordered
// two-column table, and XYZ triples written the same way everywhere.

using HtmlRows = QList<QPair<QString, QString>>;

// A whole page: the title as heading above `body`, text in the application palette's text colour.
QString make_html_page(const QString& title, const QString& body);

// A bordered key/value table. Keys and values are inserted as they are and may hold HTML.
QString make_html_table(const HtmlRows& rows);

// "X: 0.9642 Y: 1.0000 Z: 0.8249".
QString format_xyz(double x, double y, double z);
