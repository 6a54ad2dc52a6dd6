#pragma once

class QObject;
class QSettings;

// The one settings store (user scope, organisation "Corvane", application "Corvane Prismet").
// Kept apart from the application object so that viewers and the overview read settings without
// depending on the application shell.

inline constexpr char OrganisationName[] = "Corvane";
inline constexpr char ApplicationName[] = "Corvane Prismet";

// The store. Created by the application object at start; when a program runs without it (the
// tests) the first call creates it on the running application. Null without an application.
QSettings* appSettings();

// Creates the store as a child of `owner`, replacing any earlier one; the owner deletes it.
QSettings* createAppSettings(QObject* owner);
