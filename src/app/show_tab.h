#pragma once
// The main window's "Show" tab, beside Options: how the show moves, what each picture's caption
// says and where, and how it uses several monitors.

#include <QWidget>

#include "project/project_file.h"

class QCheckBox;
class QComboBox;
class QTreeWidget;

namespace nimbrel::ui {
class FileListView;
}

namespace nimbrel::app {


// The file list's column of the entries' own captions: after the four columns whose layout the
// list stores, shown while the show's captions are the entries' own texts, and the only column
// whose cells can be edited (F2, or a click on the selected entry's cell).
inline constexpr int kCaptionColumn = 4;
void AddCaptionColumn(ui::FileListView* list);
void ShowCaptionColumn(QTreeWidget* list, int caption);

class ShowTab : public QWidget {
    Q_OBJECT
public:
    explicit ShowTab(QWidget* parent = nullptr);

    void SetValues(const project::ShowValues& values);
    project::ShowValues Values() const;

    QCheckBox* chkMotion = nullptr;
    QComboBox* cboCaption = nullptr;
    QComboBox* cboCaptionPlace = nullptr;
    QComboBox* cboMonitors = nullptr;

signals:
    // The user changed a value (not SetValues).
    void Changed();
    // The caption source changed: the list's caption column is for the entries' own texts.
    void CaptionChanged(int caption);

private:
    void UpdateEnabled();
};

}  // namespace nimbrel::app
