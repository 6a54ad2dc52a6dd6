#include "window/widgets/SystemColorDirectory.h"

#include <QDir>
#include <QFileInfo>

QString system_color_directory()
{
    // Where Linux distributions install shared ICC profiles (colord, Ghostscript, printers).
    const QString folder = QStringLiteral("/usr/share/color/icc");
    return QFileInfo(folder).isDir() ? folder : QString();
}

QString user_color_directory()
{
    // The XDG base directory rules: an unset or relative $XDG_DATA_HOME means the default.
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || QDir::isRelativePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(data + QStringLiteral("/icc"));
}
