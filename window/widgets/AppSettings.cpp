#include "window/widgets/AppSettings.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSettings>

namespace {

QPointer<QSettings> g_settings;

}  // namespace

QSettings* createAppSettings(QObject* owner)
{
    delete g_settings;
    g_settings = new QSettings(QSettings::NativeFormat, QSettings::UserScope, QString::fromLatin1(OrganisationName),
                               QString::fromLatin1(ApplicationName), owner);
    return g_settings;
}

QSettings* appSettings()
{
    if (!g_settings && QCoreApplication::instance())
        createAppSettings(QCoreApplication::instance());
    return g_settings;
}
