#include "app/SystemColorDirectory.h"

#include <QFileInfo>

QString system_color_directory()
{
    // Where Linux distributions install shared ICC profiles (colord, Ghostscript, printers).
    const QString folder = QStringLiteral("/usr/share/color/icc");
    return QFileInfo(folder).isDir() ? folder : QString();
}
