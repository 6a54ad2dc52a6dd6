#pragma once

#include <krm.h>

#include <QString>

// Profiles the application names rather than loads: the built-ins ("*srgb", "*argb" ... "*lab",
// made in memory), "*user" (the profile embedded in the last loaded image) and file paths.
// Every profile returned belongs to the caller, who closes it with krmCloseProfile.

// A built-in name, "*user" or a file path; null when the name is unknown (any other name starting
// with "*"), the built-in cannot be made, or the file cannot be opened or is refused. Built-in
// names are case-sensitive.
krmProfile open_profile_by_name(const QString& name);

// Replaces 'desc' with `text` and 'cprt' with the application's free-use notice, both as
// English (en/US) localized texts. False when any allocation or write fails.
bool set_profile_description(krmProfile profile, const QString& text);

// Keeps a serialised copy of `profile` for "*user", in memory only; null empties the store.
bool store_user_profile(krmProfile profile);
bool has_user_profile();

// Removes the copy of an embedded profile that earlier versions left in the user's profile folder
// ($XDG_DATA_HOME/icc/prismet-embedded.icc); nothing else there is touched.
void remove_left_over_user_profile_file();
