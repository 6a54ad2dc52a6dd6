#pragma once

#include <QString>

// The system's colour-profile folder, or an empty string when the system has none (file dialogs
// then start in their own default folder).
QString system_color_directory();

// Where the user keeps colour profiles: "icc" in $XDG_DATA_HOME, which defaults to
// ~/.local/share. Whether it exists is for the caller to check.
QString user_color_directory();
