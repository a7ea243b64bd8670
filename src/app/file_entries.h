#pragma once
// The window's side of a file-list entry: the type description and the short date text.

#include <QString>

#include "platform/file_info.h"

namespace nimbrel::app {

// The description of a file type for an extension given with its dot: the registered name on
// Windows, the desktop's type database elsewhere; the extension itself when neither knows it,
// "" for a name without extension.
QString FileTypeDescription(const QString& extension);

// A date in the user's short date format.
QString ShortDateText(const platform::LocalDateTime& date);

}  // namespace nimbrel::app
