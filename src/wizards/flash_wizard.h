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

public slots:
    void Button4Click();  // Finish

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Copies the values into the main window and saves there; errors propagate.
    void CopyIntoMainWindow(const QString& path);

    ui::FileNameEdit* feProjectFilename = nullptr;
    ui::FileNameEdit* feFlashFile = nullptr;
    QLineEdit* txtFlash_Title = nullptr;
    ui::LimitedMemo* memFlashShowText = nullptr;
    ui::FileNameEdit* feOutput = nullptr;
    QCheckBox* chkFlashChangeIcon = nullptr;
    ui::FileNameEdit* feFlashIcon = nullptr;
    QCheckBox* chkCompileNow = nullptr;
    QPushButton* Button4 = nullptr;
    bool placed_ = false;
};

}  // namespace nimbrel::wizards
