#pragma once
// Every open and save dialog of the program goes through here, so that tests can choose files.

#include <QSize>
#include <QString>
#include <QStringList>

class QWidget;

namespace nimbrel::ui {

class FileDialog {
public:
    // Filters are written as the program's own texts, pairs of "description|patterns"
    // separated by "|" ("Icon Files|*.ico"); patterns are separated by ";".
    // Returns the chosen files, empty when cancelled.
    static QStringList GetOpenFileNames(QWidget* parent, const QString& title, const QString& filter,
                                        const QString& directory = {});
    static QString GetOpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                   const QString& directory = {});
    // A save dialog that asks before overwriting and appends `defaultSuffix` ("scr") to a name
    // typed without one.
    static QString GetSaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                   const QString& defaultSuffix, const QString& directory = {});

    // Where dialogs start when the caller names no folder (or one that does not exist): the
    // folder last used for the same kind of file (the same filter) in this run, else the open
    // project's folder, else the user's home folder; never the current directory.
    static void SetProjectFolder(const QString& folder);
    static QString StartFolder(const QString& filter, const QString& directory = {});

    // Test seam: while on, no dialog appears; each call takes the next queued answer (an empty
    // list cancels) and records its title, filter and starting folder.
    static void SetTestMode(bool on);
    static void SetNextFileNames(const QStringList& names);
    static QString LastTitle();
    static QString LastFilter();
    static QString LastFolder();
    // Forgets the folders remembered for each kind of file and the project's folder.
    static void ForgetFolders();
};

// The program's "description|patterns|..." filter in the dialog's own form
// ("description (patterns);;...").
QString DialogFilter(const QString& filter);

// The size the file dialogs open with on a screen whose available area is `available`: wide
// enough for their columns and filter, never larger than most of the area.
QSize FileDialogSize(const QSize& available);

}  // namespace nimbrel::ui
