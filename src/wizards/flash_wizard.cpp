#include "wizards/flash_wizard.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <exception>

#include "app/main_window.h"
#include "platform/error.h"
#include "project/project_file.h"
#include "ui/file_name_edit.h"
#include "ui/limited_memo.h"
#include "ui/message_box.h"
#include "ui/narrow_text.h"
#include "wizards/wizard_project.h"

namespace nimbrel::wizards {

namespace {

constexpr int kOuterWidth = 546;
constexpr int kOuterHeight = 330;
constexpr QPoint kDesignedPosition(192, 107);
constexpr int kAboutTextLimit = 246;

template <typename T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// One of the main window's project controls. They sit under its central widget, apart from the
// chooser and this wizard, which carry some of the same names.
template <typename T>
T* MainControl(app::TfrmMain& main, const char* name) {
    T* control = main.centralWidget()->findChild<T*>(QString::fromLatin1(name));
    if (!control) throw Error(std::string("The main window has no control ") + name);
    return control;
}

// The main window's file-name boxes refuse some characters; the copy stops at such a name.
void CopyPath(const ui::FileNameEdit* from, ui::FileNameEdit* to) {
    CheckBoxFileName(ui::ToNarrow(from->text()));
    to->setText(from->text());
}

}  // namespace

TfrmFlashWiz::TfrmFlashWiz(app::TfrmMain& main, QWidget* parent) : WizardFrame(main, parent) {
    setObjectName(QStringLiteral("frmFlashWiz"));
    setWindowTitle(tr("Flash Screensaver Wizard"));
    setSizeGripEnabled(true);  // a resizable border

    // 0 "Welcome"
    QVBoxLayout* welcome = AddPage("Welcome", tr("Nimbrel New Project Wizard"), WelcomeText());
    QWidget* page = nbMain->widget(0);
    feProjectFilename =
        Named(new ui::FileNameEdit(ui::FileNameEdit::DialogKind::Save, page), "feProjectFilename");
    feProjectFilename->setDialogTitle(tr("Create Project"));
    feProjectFilename->setFilter(kProjectFilter);
    feProjectFilename->setDefaultSuffix(QStringLiteral("nssp"));
    welcome->addStretch(1);
    welcome->addWidget(Caption(tr("Project Filename:"), feProjectFilename, page));
    welcome->addWidget(feProjectFilename);

    // 1 "Files"
    QVBoxLayout* files = AddPage(
        "Files", tr("Select Flash File"),
        QStringLiteral("Please select the flash file you would like to display during the screensavers run, "
                       "please ensure it is standalone and does not require external files, or do require "
                       "mouse input."));
    page = nbMain->widget(1);
    feFlashFile = Named(new ui::FileNameEdit(ui::FileNameEdit::DialogKind::Open, page), "feFlashFile");
    feFlashFile->setDialogTitle(tr("Select Flash File"));
    feFlashFile->setFilter(QStringLiteral("Flash File (*.swf)|*.swf"));
    files->addStretch(1);
    files->addWidget(Caption(tr("Flash (SWF) Filename:"), feFlashFile, page));
    files->addWidget(feFlashFile);
    files->addStretch(1);

    // 2 "Options"
    QVBoxLayout* options = AddPage("Options", tr("Project Options"),
                                   tr("Please fill in the details below for the project options"));
    page = nbMain->widget(2);
    txtFlash_Title = Named(new QLineEdit(page), "txtFlash_Title");
    txtFlash_Title->setMaxLength(32767);  // no limit of its own; a stored title is cut by the file
    memFlashShowText = Named(new ui::LimitedMemo(kAboutTextLimit, page), "memFlashShowText");
    memFlashShowText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    options->addWidget(Caption(tr("Show Title"), txtFlash_Title, page));
    options->addWidget(txtFlash_Title);
    options->addWidget(
        Caption(tr("Show Text, (Can be simple html - Shown in About box)"), memFlashShowText, page));
    options->addWidget(memFlashShowText, 1);

    // 3 "Final"
    QVBoxLayout* finalPage = AddPage("Final", tr("Finalisation"), FinalText());
    page = nbMain->widget(3);
    feOutput = Named(new ui::FileNameEdit(ui::FileNameEdit::DialogKind::Save, page), "feOutput");
    feOutput->setDialogTitle(tr("Select Screensaver File"));
    feOutput->setFilter(kScreensaverFilter);
    feOutput->setDefaultSuffix(QStringLiteral("scr"));
    chkFlashChangeIcon = Named(new QCheckBox(tr("Change Icon"), page), "chkFlashChangeIcon");
    feFlashIcon = Named(new ui::FileNameEdit(ui::FileNameEdit::DialogKind::Open, page), "feFlashIcon");
    feFlashIcon->setFilter(QStringLiteral("Icon Files|*.ico"));
    chkCompileNow = Named(new QCheckBox(tr("Compile Now"), page), "chkCompileNow");
    Button4 = Named(new QPushButton(tr("&Finish"), page), "Button4");
    Button4->setAutoDefault(false);
    finalPage->addStretch(1);
    finalPage->addWidget(Caption(tr("Output Filename:"), feOutput, page));
    finalPage->addWidget(feOutput);
    finalPage->addWidget(chkFlashChangeIcon);
    finalPage->addWidget(feFlashIcon);
    auto* finish = new QHBoxLayout;
    finish->addWidget(chkCompileNow);
    finish->addStretch(1);
    finish->addWidget(Button4);
    finalPage->addLayout(finish);

    connect(Button4, &QPushButton::clicked, this, &TfrmFlashWiz::Button4Click);

    resize(kOuterWidth, kOuterHeight);
    move(kDesignedPosition);
    FormCreate();
}

void TfrmFlashWiz::showEvent(QShowEvent* event) {
    WizardFrame::showEvent(event);
    if (!placed_) {
        placed_ = true;
        // The designed size is the outer one, frame included; the frame is known once shown.
        const QSize frame = frameGeometry().size() - size();
        resize(QSize(kOuterWidth, kOuterHeight) - frame);
        move(kDesignedPosition);
    }
}

void TfrmFlashWiz::CopyIntoMainWindow(const QString& path) {
    MainControl<QLineEdit>(main_, "txtFlash_Title")->setText(txtFlash_Title->text());
    MainControl<ui::LimitedMemo>(main_, "memFlashShowText")->setPlainText(memFlashShowText->toPlainText());
    CopyPath(feOutput, MainControl<ui::FileNameEdit>(main_, "feFlashOutput"));
    CopyPath(feFlashIcon, MainControl<ui::FileNameEdit>(main_, "feFlashIcon"));
    MainControl<QCheckBox>(main_, "chkFlashChangeIcon")->setChecked(chkFlashChangeIcon->isChecked());
    CopyPath(feFlashFile, MainControl<ui::FileNameEdit>(main_, "feFlash"));
    main_.SetProjectFileName(path);
    main_.SetProjectKind(project::kFlash);
    main_.SaveProject(path);
}

void TfrmFlashWiz::Button4Click() {
    const QString path = feProjectFilename->text();
    if (path.isEmpty()) {
        ShowMessage(kNoProjectFileName);
        return;  // the wizard stays open on its page
    }
    try {
        CopyIntoMainWindow(path);
    } catch (const std::exception& error) {
        ui::ShowErrorBox(this, ui::FromNarrow(error.what()));
        reject();
        return;
    }
    // The main window now shows its Flash page: Compile builds a Flash screensaver.
    if (chkCompileNow->isChecked()) main_.Compile1Click();
    accept();
}

}  // namespace nimbrel::wizards
