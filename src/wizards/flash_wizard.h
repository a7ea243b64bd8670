#pragma once
// The Flash wizard: collects a Flash show, copies it into the main window's Flash controls,
// makes the main window's project a Flash project and saves it there, then compiles it when
// "Compile Now" is ticked.

#include "wizards/wizard_frame.h"

class QCheckBox;
class QLineEdit;

namespace nimbrel::ui {
class FileNameEdit;
class LimitedMemo;
}  // namespace nimbrel::ui

namespace nimbrel::wizards {

class TfrmFlashWiz : public WizardFrame {
    Q_OBJECT
public:
    TfrmFlashWiz(app::TfrmMain& main, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    // Copies the values into the main window and saves there.
    void MakeProject(const QString& path) override;

private:
    ui::FileNameEdit* feFlashFile = nullptr;
    QLineEdit* txtFlash_Title = nullptr;
    ui::LimitedMemo* memFlashShowText = nullptr;
    QCheckBox* chkFlashChangeIcon = nullptr;
    ui::FileNameEdit* feFlashIcon = nullptr;
    bool placed_ = false;
};

}  // namespace nimbrel::wizards
