#include "wizards/flash_wizard.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/main_window.h"
#include "platform/error.h"
#include "project/project_file.h"
#include "ui/file_name_edit.h"
#include "ui/form_helpers.h"
#include "ui/limited_memo.h"
#include "ui/narrow_text.h"
#include "ui/screen_fit.h"
#include "wizards/wizard_project.h"

namespace nimbrel::wizards {

namespace {

constexpr int kOuterWidth = 546;
constexpr int kOuterHeight = 330;
constexpr QPoint kDesignedPosition(192, 107);
constexpr int kAboutTextLimit = 246;

using ui::Caption;
using ui::Named;

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

    AddWelcomePage();  // 0 "Welcome"

    // 1 "Files"
    QVBoxLayout* files = AddPage(
        "Files", tr("Select Flash File"),
        QStringLiteral("Please select the flash file you would like to display during the screensavers run, "
                       "please ensure it is standalone and does not require external files, or do require "
                       "mouse input."));
    QWidget* page = nbMain->widget(1);
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
    QVBoxLayout* finalPage = AddFinalPage();
    page = nbMain->widget(3);
    chkFlashChangeIcon = Named(new QCheckBox(tr("Change Icon"), page), "chkFlashChangeIcon");
    feFlashIcon = Named(new ui::FileNameEdit(ui::FileNameEdit::DialogKind::Open, page), "feFlashIcon");
    feFlashIcon->setFilter(QStringLiteral("Icon Files|*.ico"));
    finalPage->addWidget(chkFlashChangeIcon);
    finalPage->addWidget(feFlashIcon);
    AddFinishRow(finalPage);

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
        ui::KeepOnScreen(*this);  // all of it on a small or scaled screen too
    }
}

void TfrmFlashWiz::MakeProject(const QString& path) {
    MainControl<QLineEdit>(main_, "txtFlash_Title")->setText(txtFlash_Title->text());
    MainControl<ui::LimitedMemo>(main_, "memFlashShowText")->setPlainText(memFlashShowText->toPlainText());
    CopyPath(feOutput, MainControl<ui::FileNameEdit>(main_, "feFlashOutput"));
    CopyPath(feFlashIcon, MainControl<ui::FileNameEdit>(main_, "feFlashIcon"));
    MainControl<QCheckBox>(main_, "chkFlashChangeIcon")->setChecked(chkFlashChangeIcon->isChecked());
    CopyPath(feFlashFile, MainControl<ui::FileNameEdit>(main_, "feFlash"));
    main_.SetProjectFileName(path);
    // The main window now shows its Flash page: Compile builds a Flash screensaver.
    main_.SetProjectKind(project::kFlash);
    main_.SaveProject(path);
}

}  // namespace nimbrel::wizards
