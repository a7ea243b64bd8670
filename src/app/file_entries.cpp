#include "app/file_entries.h"

#include <QList>
#include <algorithm>

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

QString NumericShortDateFormat(const QLocale& locale) {
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (!format.contains(QStringLiteral("MMM")) && !format.contains(QStringLiteral("ddd"))) {
        // A two-digit year keeps the text within the 75-pixel column.
        format.replace(QStringLiteral("yyyy"), QStringLiteral("yy"));
        return format;
    }
    // A short format with month or day names ("d MMM yyyy") does not fit the Date column: the
    // same parts as numbers, in the locale's order.
    struct Part {
        qsizetype at;
        QString text;
    };
    QList<Part> parts{{format.indexOf(u'd'), QStringLiteral("dd")},
                      {format.indexOf(u'M'), QStringLiteral("MM")},
                      {format.indexOf(u'y'), QStringLiteral("yy")}};
    for (Part& part : parts)
        if (part.at < 0) part.at = format.size();
    std::stable_sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) { return a.at < b.at; });
    const QString separator =
        parts.first().text == QStringLiteral("yy") ? QStringLiteral("-") : QStringLiteral("/");
    return parts[0].text + separator + parts[1].text + separator + parts[2].text;
}

QString ShortDateText(const platform::LocalDateTime& date) {
    const QLocale locale;
    return locale.toString(QDate(date.year, date.month, date.day), NumericShortDateFormat(locale));
}

}  // namespace nimbrel::app
