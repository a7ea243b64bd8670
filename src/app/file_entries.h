#pragma once
// The window's side of a file-list entry: the type description and the short date text.

#include <QLocale>
#include <QString>

#include "platform/file_info.h"

namespace nimbrel::app {

// The description of a file type for an extension given with its dot: the registered name on
// Windows, the desktop's type database elsewhere; the extension itself when neither knows it,
// "" for a name without extension.
QString FileTypeDescription(const QString& extension);

// The user's short date format with numbers only and a two-digit year, so that it fits the
// Date column: "dd/MM/yyyy" becomes "dd/MM/yy"; a format that names the month or the day
// ("d MMM yyyy") becomes "dd/MM/yy" in the same order ("yy-MM-dd" when the year leads).
QString NumericShortDateFormat(const QLocale& locale);

// A date in the user's short numeric date format.
QString ShortDateText(const platform::LocalDateTime& date);

}  // namespace nimbrel::app
