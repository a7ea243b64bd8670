#include "ui/file_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QHash>
#include <QList>

namespace nimbrel::ui {

namespace {

struct TestState {
    bool on = false;
    QList<QStringList> answers;
    QString lastTitle;
    QString lastFilter;
    QString lastFolder;
};

struct Folders {
    QString project;
    QHash<QString, QString> byFilter;  // the folder last chosen from, by the dialog's filter
};

Folders& RememberedFolders() {
    static Folders folders;
    return folders;
}

bool IsFolder(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

// Remembers the folder of the first chosen file for dialogs of the same filter.
void Remember(const QString& filter, const QStringList& chosen) {
    if (chosen.isEmpty() || chosen.first().isEmpty()) return;
    RememberedFolders().byFilter[filter] = QFileInfo(chosen.first()).absolutePath();
}

TestState& State() {
    static TestState state;
    return state;
}

QStringList TestAnswer(const QString& title, const QString& filter, const QString& directory) {
    TestState& state = State();
    state.lastTitle = title;
    state.lastFilter = filter;
    state.lastFolder = FileDialog::StartFolder(filter, directory);
    QStringList answer = state.answers.isEmpty() ? QStringList() : state.answers.takeFirst();
    Remember(filter, answer);
    return answer;
}

// Opens a dialog wide enough to read its columns and filter, inside the parent's screen.
void SizeDialog(QFileDialog& dialog, QWidget* parent) {
    const QScreen* screen = parent && parent->screen() ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) dialog.resize(FileDialogSize(screen->availableGeometry().size()));
}

}  // namespace

QSize FileDialogSize(const QSize& available) {
    return QSize(860, 540).boundedTo(QSize(available.width() * 9 / 10, available.height() * 17 / 20));
}

QString DialogFilter(const QString& filter) {
    QStringList parts = filter.split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        // The description may already show its patterns ("Flash Files (*.swf)").
        if (parts[i].contains(u'('))
            entries << parts[i].section(u'(', 0, 0).trimmed() + QStringLiteral(" (") + patterns + u')';
        else
            entries << parts[i] + QStringLiteral(" (") + patterns + u')';
    }
    return entries.join(QStringLiteral(";;"));
}

QStringList FileDialog::GetOpenFileNames(QWidget* parent, const QString& title, const QString& filter,
                                         const QString& directory) {
    if (State().on) return TestAnswer(title, filter, directory);
    QFileDialog dialog(parent, title, StartFolder(filter, directory), DialogFilter(filter));
    SizeDialog(dialog, parent);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (dialog.exec() != QDialog::Accepted) return {};
    Remember(filter, dialog.selectedFiles());
    return dialog.selectedFiles();
}

QString FileDialog::GetOpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                    const QString& directory) {
    if (State().on) {
        QStringList names = TestAnswer(title, filter, directory);
        return names.isEmpty() ? QString() : names.first();
    }
    QFileDialog dialog(parent, title, StartFolder(filter, directory), DialogFilter(filter));
    SizeDialog(dialog, parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    Remember(filter, dialog.selectedFiles());
    return dialog.selectedFiles().first();
}

QString FileDialog::GetSaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                    const QString& defaultSuffix, const QString& directory) {
    if (State().on) {
        QStringList names = TestAnswer(title, filter, directory);
        return names.isEmpty() ? QString() : names.first();
    }
    QFileDialog dialog(parent, title, StartFolder(filter, directory), DialogFilter(filter));
    SizeDialog(dialog, parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    Remember(filter, dialog.selectedFiles());
    return dialog.selectedFiles().first();
}

void FileDialog::SetProjectFolder(const QString& folder) {
    RememberedFolders().project = folder;
}

QString FileDialog::StartFolder(const QString& filter, const QString& directory) {
    if (IsFolder(directory)) return directory;
    const Folders& folders = RememberedFolders();
    const QString last = folders.byFilter.value(filter);
    if (IsFolder(last)) return last;
    if (IsFolder(folders.project)) return folders.project;
    return QDir::homePath();
}

void FileDialog::SetTestMode(bool on) {
    State().on = on;
    State().answers.clear();
}

void FileDialog::SetNextFileNames(const QStringList& names) {
    State().answers.append(names);
}

QString FileDialog::LastTitle() {
    return State().lastTitle;
}

QString FileDialog::LastFilter() {
    return State().lastFilter;
}

QString FileDialog::LastFolder() {
    return State().lastFolder;
}

void FileDialog::ForgetFolders() {
    RememberedFolders() = Folders();
}

}  // namespace nimbrel::ui
