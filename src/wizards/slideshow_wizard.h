#pragma once
// The slideshow wizard: collects a slideshow in its own controls, writes a project file of its
// own and opens it in the main window, then compiles it when "Compile Now" is ticked.

#include <QStringList>

#include "wizards/wizard_frame.h"
#include "wizards/wizard_project.h"

class QCheckBox;
class QComboBox;
class QSlider;
class QToolButton;
class QTreeWidget;

namespace nimbrel::ui {
class ColorButton;
class FileNameEdit;
}  // namespace nimbrel::ui

namespace nimbrel::wizards {

// The transition box's 130 items, as the main window lists them.
QStringList TransitionNames();

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
    void Button4Click();      // Finish
    // Files dropped on the wizard, any page, in the order of the drop.
    void JvDragDrop1Drop(const QStringList& paths);

protected:
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void AppendFile(const QString& path);

    ui::FileNameEdit* feProjectFilename = nullptr;
    QToolButton* ToolButton1 = nullptr;
    QToolButton* ToolButton2 = nullptr;
    QTreeWidget* lvFiles = nullptr;
    QCheckBox* chkCenter = nullptr;
    QCheckBox* chkAutoSize = nullptr;
    QCheckBox* chkStretch = nullptr;
    QCheckBox* chkKeepAspect = nullptr;
    QCheckBox* chkRandom = nullptr;
    QSlider* tbShowSpeed = nullptr;
    QComboBox* cboTransition = nullptr;
    ui::ColorButton* btnBGColor = nullptr;
    ui::FileNameEdit* feOutput = nullptr;
    QCheckBox* chkCompileNow = nullptr;
    QPushButton* Button4 = nullptr;
    bool placed_ = false;
};

}  // namespace nimbrel::wizards
