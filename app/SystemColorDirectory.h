#pragma once

#include <QString>

// The system's colour-profile folder, or an empty string when the system has none (file dialogs
// then start in their own default folder).
QString system_color_directory();
