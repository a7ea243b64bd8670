#include "app/file_entries.h"

#include <QDate>
#include <QLocale>
#include <QMimeDatabase>

#include "ui/narrow_text.h"

namespace nimbrel::app {

QString FileTypeDescription(const QString& extension) {
    if (extension.isEmpty()) return {};
#ifndef Q_OS_WIN
    QMimeDatabase database;
    const QList<QMimeType> types = database.mimeTypesForFileName(QStringLiteral("x") + extension);
    if (!types.isEmpty() && !types.first().comment().isEmpty()) return types.first().comment();
#endif
    return ui::FromNarrow(platform::GetFileTypeName(ui::ToNarrow(extension)));
}

QString ShortDateText(const platform::LocalDateTime& date) {
    return QLocale().toString(QDate(date.year, date.month, date.day), QLocale::ShortFormat);
}

}  // namespace nimbrel::app
