#include "ui/file_dialog.h"

#include <QFileDialog>
#include <QList>

namespace nimbrel::ui {

namespace {

struct TestState {
    bool on = false;
    QList<QStringList> answers;
    QString lastTitle;
    QString lastFilter;
};

TestState& State() {
    static TestState state;
    return state;
}

QStringList TestAnswer(const QString& title, const QString& filter) {
    TestState& state = State();
    state.lastTitle = title;
    state.lastFilter = filter;
    return state.answers.isEmpty() ? QStringList() : state.answers.takeFirst();
}

}  // namespace

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
    if (State().on) return TestAnswer(title, filter);
    QFileDialog dialog(parent, title, directory, DialogFilter(filter));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles();
}

QString FileDialog::GetOpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                    const QString& directory) {
    if (State().on) {
        QStringList names = TestAnswer(title, filter);
        return names.isEmpty() ? QString() : names.first();
    }
    QFileDialog dialog(parent, title, directory, DialogFilter(filter));
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

QString FileDialog::GetSaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                    const QString& defaultSuffix, const QString& directory) {
    if (State().on) {
        QStringList names = TestAnswer(title, filter);
        return names.isEmpty() ? QString() : names.first();
    }
    QFileDialog dialog(parent, title, directory, DialogFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
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

}  // namespace nimbrel::ui
