#pragma once
// The slideshow wizard: collects a slideshow in its own controls, writes a project file of its
// own and opens it in the main window, then compiles it when "Compile Now" is ticked.

#include <QStringList>

#include "ui/slideshow_options.h"
#include "wizards/wizard_frame.h"
#include "wizards/wizard_project.h"

class QToolButton;
class QTreeWidget;
namespace nimbrel::ui {
class FileListView;
}

namespace nimbrel::wizards {

class TfrmWizard : public WizardFrame {
    Q_OBJECT
public:
    TfrmWizard(app::TfrmMain& main, QWidget* parent = nullptr);

    // Writes the wizard's project file to `path` ("Nothing To Save" and no file for an empty
    // list). Names the main window's project when it has none. Core errors propagate.
    void WriteWizardProject(const QString& path);
    // The values of the wizard's controls.
    WizardProject Values() const;

public slots:
    void ToolButton1Click();  // Add
    void ToolButton2Click();  // Delete
    // Files dropped on the wizard, any page, in the order of the drop.
    void JvDragDrop1Drop(const QStringList& paths);

protected:
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Writes the project file and loads it into the main window.
    void MakeProject(const QString& path) override;

private:
    void AppendFile(const QString& path);

    QToolButton* ToolButton1 = nullptr;
    QToolButton* ToolButton2 = nullptr;
    ui::FileListView* lvFiles = nullptr;
    ui::SlideShowOptionControls options;  // the check boxes, show speed, transition, BG colour
    bool placed_ = false;
};

}  // namespace nimbrel::wizards
