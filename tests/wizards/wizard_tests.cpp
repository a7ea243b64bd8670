// The type chooser and the two new-project wizards, built for real and driven headless; widgets
// are found by their names, modal windows are driven from timers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/main_window.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/temp.h"
#include "project/big_ini_file.h"
#include "project/project_file.h"
#include "support/qt_test_env.h"
#include "ui/color_button.h"
#include "ui/file_dialog.h"
#include "ui/file_name_edit.h"
#include "ui/limited_memo.h"
#include "ui/message_box.h"
#include "ui/narrow_text.h"
#include "wizards/flash_wizard.h"
#include "wizards/new_choice.h"
#include "wizards/slideshow_wizard.h"
#include "wizards/wizard_project.h"

namespace nimbrel::wizards {
namespace {

using app::TfrmMain;
using ui::MessageBox;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new test::QtTestEnvironment(
    "wizard_tests", [] { QApplication::setApplicationName(app::kApplicationTitle); }));

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

template <typename T = QWidget>
T* Find(const QObject& parent, const char* name) {
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

// The main window's own control (the wizards carry some of the same names).
template <typename T = QWidget>
T* MainControl(TfrmMain& main, const char* name) {
    return Find<T>(*main.centralWidget(), name);
}

// Runs `act` on the modal window named `name` once it is shown; a window that never comes is a
// failure, and whatever modal window is up then is closed so that the test ends.
void WhenShown(const char* name, std::function<void(QDialog&)> act) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget* shown = QApplication::activeModalWidget();
        if (shown && shown->objectName() == QLatin1String(name)) {
            timer->stop();
            timer->deleteLater();
            act(*qobject_cast<QDialog*>(shown));
        } else if (++*tries > 300) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << name << " was not shown";
            if (auto* dialog = qobject_cast<QDialog*>(shown)) dialog->reject();
        }
    });
    timer->start(10);
}

void Click(QDialog& dialog, const char* name) {
    Find<QAbstractButton>(dialog, name)->click();
}

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override {
        MessageBox::SetTestMode(true);
        MessageBox::ClearShown();
        ui::FileDialog::SetTestMode(true);
        main_ = std::make_unique<TfrmMain>(QStringList{});
        main_->SetNewProjectChooser(RunNewProjectChooser);
    }

    QString Path(const char* name) const { return ui::FromNarrow(dir_.File(name)); }
    std::string Read(const char* name) const { return platform::ReadWholeFile(dir_.File(name)); }
    bool Exists(const char* name) const { return platform::FileExists(dir_.File(name)); }
    // Player stubs for a build that Compile Now starts.
    void UseStubs() {
        WriteFile(dir_.File("stub.bin"), "MZ slideshow player");
        WriteFile(dir_.File("flash.bin"), "MZ flash player");
        main_->SetPlayerPaths(dir_.File("stub.bin"), dir_.File("flash.bin"));
    }
    QStringList Texts() const {
        QStringList texts;
        for (const auto& box : MessageBox::ShownBoxes()) texts << box.text;
        return texts;
    }

    platform::TempDirectory dir_;
    std::unique_ptr<TfrmMain> main_;
};

std::string DefaultOptions() {
    return "[Options]\r\nOutput=\r\nCenter=0\r\nAutoSize=0\r\nStretch=0\r\nKeepAspect=0\r\nRandom=0\r\n"
           "ShowSpeed=10\r\nTransition=-1\r\nBGColor=0\r\nColorR=0\r\nColorG=0\r\nColorB=0\r\n\r\n";
}

// ---- The wizard's project file, without a window ----

TEST(WizardProjectFile, ThreeFilesAndNoOptionChangedWriteTheExactKeys) {
    platform::TempDirectory dir;
    WizardProject project;
    project.files = {"/p/a.jpg", "/p/b.png", "/p/a.jpg"};
    WriteWizardProjectFile(dir.File("w.nssp"), project);
    EXPECT_EQ(platform::ReadWholeFile(dir.File("w.nssp")),
              "[Header]\r\nNumber=3\r\n\r\n[Files]\r\n0=/p/a.jpg\r\n1=/p/b.png\r\n2=/p/a.jpg\r\n\r\n" +
                  DefaultOptions());
}

TEST(WizardProjectFile, AnExistingProjectKeepsWhatTheWizardDoesNotWrite) {
    platform::TempDirectory dir;
    const std::string path = dir.File("old.nssp");
    WriteFile(path,
              "[Header]\r\nNumber=4\r\nType=1\r\n[Files]\r\n0=w\r\n1=x\r\n2=y\r\n3=z\r\n"
              "[Options]\r\nChangeIcon=1\r\nCenter=1\r\n[About]\r\nShowName=Old\r\n");
    WizardProject project;
    project.files = {"new.jpg"};
    project.slideShow.center = true;
    project.slideShow.random = true;
    project.slideShow.showSpeed = 240;
    project.slideShow.transition = 129;
    project.slideShow.backgroundColor = 0x00FF8040;
    WriteWizardProjectFile(path, project);
    EXPECT_EQ(
        platform::ReadWholeFile(path),
        "[Header]\r\nNumber=1\r\nType=1\r\n\r\n[Files]\r\n0=new.jpg\r\n1=x\r\n2=y\r\n3=z\r\n\r\n"
        "[Options]\r\nChangeIcon=1\r\nCenter=1\r\nOutput=\r\nAutoSize=0\r\nStretch=0\r\nKeepAspect=0\r\n"
        "Random=1\r\nShowSpeed=240\r\nTransition=129\r\nBGColor=16744512\r\nColorR=64\r\nColorG=128\r\n"
        "ColorB=255\r\n\r\n[About]\r\nShowName=Old\r\n\r\n");

    // A system colour (negative) splits into ColorR alone.
    project.slideShow.backgroundColor = -2147483643;
    WriteWizardProjectFile(path, project);
    project::LoadedProject loaded = project::LoadProject(path);
    EXPECT_EQ(project::TBigIniFile(path).ReadString("Options", "ColorR", ""), "-2147483643");
    EXPECT_EQ(loaded.type, 1);
}

TEST(WizardProjectFile, LongValuesAreCutAndUnreadableFilesThrow) {
    platform::TempDirectory dir;
    WizardProject project;
    project.files = {std::string(300, 'f')};
    project.slideShow.output = std::string(300, 'o');
    WriteWizardProjectFile(dir.File("long.nssp"), project);
    project::TBigIniFile ini(dir.File("long.nssp"));
    EXPECT_EQ(ini.ReadString("Files", "0", ""), std::string(253, 'f'));
    EXPECT_EQ(ini.ReadString("Options", "Output", ""), std::string(248, 'o'));

    // A folder in the project file's place cannot be read, let alone rewritten.
    std::filesystem::create_directory(dir.File("folder.nssp"));
    EXPECT_THROW(WriteWizardProjectFile(dir.File("folder.nssp"), project), Error);
    EXPECT_THROW(WriteWizardProjectFile(dir.File(std::string(300, 'n')), project), Error);
}

TEST(WizardProjectFile, BoxFileNamesRefuseQuotesBarsAndBrackets) {
    for (const char* bad : {"a\"b", "a|b", "a<b", "a>b", "a[b", "a]b"}) {
        try {
            CheckBoxFileName(bad);
            ADD_FAILURE() << bad << " was accepted";
        } catch (const Error& error) {
            EXPECT_EQ(std::string(error.what()), std::string("Invalid file name - ") + bad);
        }
    }
    EXPECT_NO_THROW(CheckBoxFileName(""));
    EXPECT_NO_THROW(CheckBoxFileName("C:\\Shows\\my show (1)\\a*b?.scr"));
}

// ---- The chooser ----

TEST_F(WizardTest, ChooserCancelOpensNoWizardAndLeavesTheNewState) {
    bool wizardShown = false;
    WhenShown("frmNewChoice", [&](QDialog& chooser) {
        EXPECT_EQ(chooser.windowTitle(), QStringLiteral("Select Type"));
        EXPECT_EQ(Find<QToolButton>(chooser, "btnFlash")->text(), QStringLiteral("Flash"));
        EXPECT_EQ(Find<QToolButton>(chooser, "btnSlide")->text(), QStringLiteral("Slideshow"));
        EXPECT_EQ(Find<QToolButton>(chooser, "btnSlide")->size(), QSize(89, 70));
        EXPECT_EQ(Find<QPushButton>(chooser, "btnCancel")->text(), QStringLiteral("&Cancel"));
        wizardShown = chooser.findChild<QDialog*>() != nullptr;
        Click(chooser, "btnCancel");
    });
    main_->Project2Click();
    EXPECT_FALSE(wizardShown);
    EXPECT_EQ(main_->findChild<TfrmNewChoice*>(), nullptr);  // destroyed when it closed
    EXPECT_EQ(main_->windowTitle(), QStringLiteral("Nimbrel"));
    EXPECT_TRUE(main_->ProjectFileName().isEmpty());
    EXPECT_FALSE(MainControl(*main_, "btnSave")->isEnabled());
    EXPECT_EQ(MainControl<QSlider>(*main_, "tbShowSpeed")->value(), 10);
    EXPECT_EQ(MainControl<ui::LimitedMemo>(*main_, "memShowText")->toPlainText(),
              ui::FromNarrow(project::DefaultAboutText()));
}

TEST_F(WizardTest, CancelInTheWizardWritesNothingAndClosesTheChooser) {
    WhenShown("frmNewChoice", [&](QDialog& chooser) {
        WhenShown("frmWizard", [&](QDialog& wizard) {
            Find<ui::FileNameEdit>(wizard, "feProjectFilename")->setText(Path("p.nssp"));
            auto& slides = static_cast<TfrmWizard&>(wizard);
            slides.JvDragDrop1Drop({Path("a.jpg"), Path("b.jpg")});
            slides.Button2Click();
            Click(wizard, "Button3");
        });
        Click(chooser, "btnSlide");
        EXPECT_FALSE(chooser.isVisible()) << "the chooser closes once its wizard has closed";
    });
    main_->Project2Click();
    EXPECT_FALSE(Exists("p.nssp"));
    EXPECT_TRUE(main_->ProjectFileName().isEmpty());
    EXPECT_EQ(main_->windowTitle(), QStringLiteral("Nimbrel"));
    EXPECT_EQ(MainControl<QTreeWidget>(*main_, "lvFiles")->topLevelItemCount(), 0);
    EXPECT_TRUE(MessageBox::ShownBoxes().isEmpty());
}

// ---- The slideshow wizard ----

TEST_F(WizardTest, SlideShowWizardStartsOnWelcomeWithItsInitialStates) {
    TfrmWizard wizard(*main_);
    EXPECT_EQ(wizard.windowTitle(), QStringLiteral("New Project Wizard"));
    EXPECT_EQ(wizard.size(), QSize(517, 300));
    EXPECT_EQ(wizard.CurrentPage(), 0);
    auto* pages = Find<QStackedWidget>(wizard, "nbMain");
    ASSERT_EQ(pages->count(), 4);
    const char* names[] = {"Welcome", "Files", "Options", "Final"};
    const char* titles[] = {"Nimbrel New Project Wizard", "Add Files To Project", "Project Options",
                            "Finalisation"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(pages->widget(i)->objectName(), QLatin1String(names[i]));
        EXPECT_EQ(Find<QLabel>(*pages->widget(i), "lblTitle")->text(), QLatin1String(titles[i]));
    }
    EXPECT_TRUE(
        Find<QLabel>(*pages->widget(0), "lblText")
            ->text()
            .endsWith(QStringLiteral("will be lost.\n\nTo begin please enter a filename in the marked box "
                                     "below.  (This filename should not already exist.)  Then Press Next.")));
    EXPECT_EQ(Find<QPushButton>(wizard, "Button3")->text(), QStringLiteral("&Cancel"));
    EXPECT_EQ(Find<QPushButton>(wizard, "Button1")->text(), QStringLiteral("&Back"));
    EXPECT_EQ(Find<QPushButton>(wizard, "Button2")->text(), QStringLiteral("&Next"));
    EXPECT_EQ(Find<QPushButton>(wizard, "Button4")->text(), QStringLiteral("&Finish"));

    EXPECT_TRUE(Find<ui::FileNameEdit>(wizard, "feProjectFilename")->text().isEmpty());
    EXPECT_TRUE(Find<ui::FileNameEdit>(wizard, "feOutput")->text().isEmpty());
    for (const char* box :
         {"chkCenter", "chkAutoSize", "chkStretch", "chkKeepAspect", "chkRandom", "chkCompileNow"})
        EXPECT_FALSE(Find<QCheckBox>(wizard, box)->isChecked()) << box;
    EXPECT_EQ(Find<QCheckBox>(wizard, "chkCenter")->text(), QStringLiteral("&Center Images Within Screen"));
    auto* speed = Find<QSlider>(wizard, "tbShowSpeed");
    EXPECT_EQ(speed->value(), 10);
    EXPECT_EQ(speed->minimum(), 1);
    EXPECT_EQ(speed->maximum(), 240);
    EXPECT_EQ(speed->pageStep(), 10);
    EXPECT_EQ(speed->tickInterval(), 2);
    auto* transition = Find<QComboBox>(wizard, "cboTransition");
    auto* mainTransition = MainControl<QComboBox>(*main_, "cboTransition");
    EXPECT_EQ(transition->currentIndex(), -1);
    ASSERT_EQ(transition->count(), 130);
    for (int i = 0; i < 130; ++i) EXPECT_EQ(transition->itemText(i), mainTransition->itemText(i)) << i;
    EXPECT_EQ(Find<ui::ColorButton>(wizard, "btnBGColor")->color(), 0);
    auto* files = Find<QTreeWidget>(wizard, "lvFiles");
    EXPECT_EQ(files->columnCount(), 1);
    EXPECT_EQ(files->headerItem()->text(0), QStringLiteral("Filename"));
    EXPECT_EQ(files->header()->sectionResizeMode(0), QHeaderView::Stretch);  // the paths take the width
    EXPECT_EQ(files->selectionMode(), QAbstractItemView::SingleSelection);

    // Back on the first page and Next on the last leave the page; Next checks nothing.
    wizard.Button1Click();
    EXPECT_EQ(wizard.CurrentPage(), 0);
    for (int i = 0; i < 5; ++i) wizard.Button2Click();
    EXPECT_EQ(wizard.CurrentPage(), 3);
    wizard.Button1Click();
    EXPECT_EQ(wizard.CurrentPage(), 2);
}

TEST_F(WizardTest, AddDropAndDeleteFiles) {
    TfrmWizard wizard(*main_);
    auto* files = Find<QTreeWidget>(wizard, "lvFiles");
    // A drop while "Welcome" is shown still fills the list; nothing is filtered.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Path("notes.txt")), QUrl::fromLocalFile(ui::FromNarrow(dir_.Path()))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&wizard, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&wizard, &drop);
    EXPECT_EQ(wizard.CurrentPage(), 0);
    ASSERT_EQ(files->topLevelItemCount(), 2);
    EXPECT_EQ(files->topLevelItem(0)->text(0), QDir::toNativeSeparators(Path("notes.txt")));

    // The same picture twice gives two entries; the dialog's order is kept.
    ui::FileDialog::SetNextFileNames({Path("a.jpg"), Path("a.jpg"), Path("b.png")});
    wizard.ToolButton1Click();
    EXPECT_EQ(ui::FileDialog::LastTitle(), QStringLiteral("Add Files To Project"));
    EXPECT_EQ(
        ui::FileDialog::LastFilter(),
        QStringLiteral(
            "Supported Image Files|*.BMP;*.JPG;*.JPEG;*.WMF;*.ICO;*.PNG;*.GIF;*.EMF;*.PCX;*.DIB;*.WBMP;"
            "*.HEIC;*.HEIF;*.AVIF;*.WEBP;*.TIF;*.TIFF"));
    ASSERT_EQ(files->topLevelItemCount(), 5);
    EXPECT_EQ(files->topLevelItem(2)->text(0), files->topLevelItem(3)->text(0));
    wizard.ToolButton1Click();  // cancelled
    EXPECT_EQ(files->topLevelItemCount(), 5);

    files->clearSelection();
    wizard.ToolButton2Click();
    EXPECT_EQ(files->topLevelItemCount(), 5);
    files->topLevelItem(1)->setSelected(true);
    wizard.ToolButton2Click();
    ASSERT_EQ(files->topLevelItemCount(), 4);
    EXPECT_EQ(files->topLevelItem(1)->text(0), Path("a.jpg"));

    // Duplicates are written as keys of their own.
    Find<ui::FileNameEdit>(wizard, "feProjectFilename")->setText(Path("dup.nssp"));
    wizard.Button4Click();
    project::TBigIniFile ini(dir_.File("dup.nssp"));
    EXPECT_EQ(ini.ReadString("Files", "1", ""), ini.ReadString("Files", "2", ""));
    EXPECT_EQ(ini.ReadString("Header", "Number", ""), "4");
}

TEST_F(WizardTest, FinishingWithThreeFilesWritesTheWizardsKeysAndOpensTheProject) {
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) WriteFile(dir_.File(name), "picture");
    WhenShown("frmNewChoice", [&](QDialog& chooser) {
        WhenShown("frmWizard", [&](QDialog& wizard) {
            Find<ui::FileNameEdit>(wizard, "feProjectFilename")->setText(Path("show.nssp"));
            auto& slides = static_cast<TfrmWizard&>(wizard);
            slides.Button2Click();
            ui::FileDialog::SetNextFileNames({Path("a.jpg"), Path("b.jpg"), Path("c.jpg")});
            Click(wizard, "ToolButton1");
            slides.Button2Click();
            slides.Button2Click();
            Click(wizard, "Button4");
        });
        Click(chooser, "btnSlide");
    });
    main_->Project2Click();
    EXPECT_EQ(Read("show.nssp"), "[Header]\r\nNumber=3\r\n\r\n[Files]\r\n0=" + dir_.File("a.jpg") +
                                     "\r\n1=" + dir_.File("b.jpg") + "\r\n2=" + dir_.File("c.jpg") +
                                     "\r\n\r\n" + DefaultOptions());
    EXPECT_TRUE(MessageBox::ShownBoxes().isEmpty());
    EXPECT_EQ(main_->ProjectFileName(), Path("show.nssp"));
    EXPECT_EQ(main_->windowTitle(), QStringLiteral("show.nssp - Nimbrel"));
    EXPECT_EQ(main_->ProjectKind(), project::kSlideShow);
    EXPECT_EQ(MainControl<QTreeWidget>(*main_, "lvFiles")->topLevelItemCount(), 3);
    // The written 0 wins over the load default of true.
    EXPECT_FALSE(MainControl<QCheckBox>(*main_, "chkCenter")->isChecked());
    EXPECT_EQ(MainControl<QComboBox>(*main_, "cboTransition")->currentIndex(), -1);
    EXPECT_EQ(MainControl<ui::LimitedMemo>(*main_, "memShowText")->toPlainText(),
              ui::FromNarrow(project::DefaultAboutText()));
    EXPECT_TRUE(MainControl(*main_, "btnSave")->isEnabled());
    EXPECT_TRUE(MainControl(*main_, "btnAddFile")->isEnabled());
    EXPECT_EQ(main_->findChild<TfrmWizard*>(), nullptr);
}

TEST_F(WizardTest, OptionsReachTheFileAndTheMainWindow) {
    TfrmWizard wizard(*main_);
    wizard.JvDragDrop1Drop({Path("x.png")});
    Find<ui::FileNameEdit>(wizard, "feProjectFilename")->setText(Path("o.nssp"));
    Find<ui::FileNameEdit>(wizard, "feOutput")->setText(Path("o.scr"));
    Find<QCheckBox>(wizard, "chkCenter")->setChecked(true);
    Find<QCheckBox>(wizard, "chkKeepAspect")->setChecked(true);
    Find<QSlider>(wizard, "tbShowSpeed")->setValue(77);
    Find<QComboBox>(wizard, "cboTransition")->setCurrentIndex(128);
    Find<ui::ColorButton>(wizard, "btnBGColor")->setColor(255);
    wizard.Button4Click();
    EXPECT_EQ(wizard.result(), QDialog::Accepted);
    project::TBigIniFile ini(dir_.File("o.nssp"));
    EXPECT_EQ(ini.ReadString("Options", "Output", ""), dir_.File("o.scr"));
    EXPECT_EQ(ini.ReadString("Options", "KeepAspect", ""), "1");
    EXPECT_EQ(ini.ReadString("Options", "ShowSpeed", ""), "77");
    EXPECT_EQ(ini.ReadString("Options", "Transition", ""), "128");
    EXPECT_EQ(ini.ReadString("Options", "BGColor", ""), "255");
    EXPECT_EQ(ini.ReadString("Options", "ColorR", ""), "255");
    EXPECT_TRUE(MainControl<QCheckBox>(*main_, "chkCenter")->isChecked());
    EXPECT_TRUE(MainControl<QCheckBox>(*main_, "chkKeepAspect")->isChecked());
    EXPECT_EQ(MainControl<QSlider>(*main_, "tbShowSpeed")->value(), 77);
    EXPECT_EQ(MainControl<QComboBox>(*main_, "cboTransition")->currentIndex(), 128);
    EXPECT_EQ(MainControl<ui::ColorButton>(*main_, "btnBGColor")->color(), 255);
    EXPECT_EQ(MainControl<ui::FileNameEdit>(*main_, "feOutput")->text(), Path("o.scr"));
}

TEST_F(WizardTest, FinishWithoutAProjectPathKeepsTheWizardOpen) {
    TfrmWizard wizard(*main_);
    wizard.show();
    wizard.JvDragDrop1Drop({Path("a.jpg")});
    wizard.Button2Click();
    wizard.Button2Click();
    wizard.Button4Click();
    ASSERT_EQ(MessageBox::ShownBoxes().size(), 1);
    const auto& box = MessageBox::ShownBoxes().front();
    EXPECT_EQ(box.text,
              QStringLiteral("No project filename set, please go back to the first page and set one."));
    EXPECT_EQ(box.caption, QStringLiteral("Nimbrel"));
    EXPECT_EQ(box.icon, QMessageBox::NoIcon);
    EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_TRUE(wizard.isVisible());
    EXPECT_EQ(wizard.CurrentPage(), 2);
    EXPECT_TRUE(main_->ProjectFileName().isEmpty());
    EXPECT_TRUE(std::filesystem::is_empty(dir_.Path()));
}

TEST_F(WizardTest, AnEmptyListWritesNothingButOpensAndCompilesThePath) {
    UseStubs();
    TfrmWizard wizard(*main_);
    Find<ui::FileNameEdit>(wizard, "feProjectFilename")->setText(Path("empty.nssp"));
    Find<QCheckBox>(wizard, "chkCompileNow")->setChecked(true);
    wizard.Button4Click();
    EXPECT_EQ(Texts(), QStringList{QStringLiteral("Nothing To Save")});
    EXPECT_EQ(wizard.result(), QDialog::Accepted);
    EXPECT_EQ(main_->ProjectFileName(), Path("empty.nssp"));
    EXPECT_EQ(main_->windowTitle(), QStringLiteral("empty.nssp - Nimbrel"));
    // Compile saved the empty slideshow and stopped before packing anything.
    project::TBigIniFile ini(dir_.File("empty.nssp"));
    EXPECT_EQ(ini.ReadString("Header", "Number", "?"), "0");
    EXPECT_EQ(ini.ReadString("Header", "Type", "?"), "0");
    EXPECT_EQ(ini.ReadString("Options", "Center", "?"), "0");
    EXPECT_FALSE(Exists("empty.scr"));
}

TEST_F(WizardTest, AnEmptyListOpensTheProjectAlreadyStoredThere) {
    const std::string stored = "[Header]\r\nNumber=1\r\nType=0\r\n\r\n[Files]\r\n0=kept.jpg\r\n\r\n";
    WriteFile(dir_.File("kept.nssp"), stored);
    TfrmWizard wizard(*main_);
    Find<ui::FileNameEdit>(wizard, "feProjectFilename")->setText(Path("kept.nssp"));
    wizard.Button4Click();
    EXPECT_EQ(Texts(), QStringList{QStringLiteral("Nothing To Save")});
    EXPECT_EQ(Read("kept.nssp"), stored);
    auto* files = MainControl<QTreeWidget>(*main_, "lvFiles");
    ASSERT_EQ(files->topLevelItemCount(), 1);
    EXPECT_EQ(files->topLevelItem(0)->text(0), QStringLiteral("kept.jpg"));
}

TEST_F(WizardTest, CompileNowBuildsTheSlideShow) {
    UseStubs();
    WriteFile(dir_.File("a.jpg"), std::string(500, 'j'));
    TfrmWizard wizard(*main_);
    wizard.JvDragDrop1Drop({Path("a.jpg")});
    Find<ui::FileNameEdit>(wizard, "feProjectFilename")->setText(Path("c.nssp"));
    Find<QCheckBox>(wizard, "chkCompileNow")->setChecked(true);
    wizard.Button4Click();
    ASSERT_EQ(MessageBox::ShownBoxes().size(), 1);
    EXPECT_EQ(MessageBox::ShownBoxes().front().caption, QStringLiteral("Nimbrel - Compile Complete!"));
    EXPECT_EQ(Read("c.scr").rfind("MZ slideshow player", 0), 0u);
    // The build's save wrote the full key set.
    EXPECT_EQ(project::TBigIniFile(dir_.File("c.nssp")).ReadString("Header", "Type", "?"), "0");
}

TEST_F(WizardTest, FinishingOntoAFlashProjectOpensItAsFlash) {
    WriteFile(dir_.File("f.nssp"),
              "[Header]\r\nNumber=0\r\nType=1\r\n[About]\r\nShowName=Fireworks\r\n"
              "[Options]\r\nFlashFile=fire.swf\r\n");
    TfrmWizard wizard(*main_);
    wizard.JvDragDrop1Drop({Path("a.jpg")});
    Find<ui::FileNameEdit>(wizard, "feProjectFilename")->setText(Path("f.nssp"));
    wizard.Button4Click();
    EXPECT_EQ(main_->ProjectKind(), project::kFlash);
    EXPECT_EQ(MainControl<QLineEdit>(*main_, "txtFlash_Title")->text(), QStringLiteral("Fireworks"));
    EXPECT_EQ(MainControl<ui::FileNameEdit>(*main_, "feFlash")->text(), QStringLiteral("fire.swf"));
    EXPECT_EQ(project::TBigIniFile(dir_.File("f.nssp")).ReadString("Files", "0", ""), dir_.File("a.jpg"));
}

TEST_F(WizardTest, AFileThatCannotBeWrittenEndsFinishWithTheErrorBox) {
    std::filesystem::create_directory(dir_.File("locked.nssp"));
    UseStubs();
    TfrmWizard wizard(*main_);
    wizard.JvDragDrop1Drop({Path("a.jpg")});
    Find<ui::FileNameEdit>(wizard, "feProjectFilename")->setText(Path("locked.nssp"));
    Find<QCheckBox>(wizard, "chkCompileNow")->setChecked(true);
    wizard.Button4Click();
    ASSERT_EQ(MessageBox::ShownBoxes().size(), 1);
    EXPECT_EQ(MessageBox::ShownBoxes().front().caption, QStringLiteral("Nimbrel"));
    EXPECT_EQ(MessageBox::ShownBoxes().front().icon, QMessageBox::Critical);
    EXPECT_EQ(wizard.result(), QDialog::Rejected);
    // The project was not opened, nothing was compiled.
    EXPECT_EQ(main_->windowTitle(), QStringLiteral("Untitled - Nimbrel"));
    EXPECT_EQ(MainControl<QTreeWidget>(*main_, "lvFiles")->topLevelItemCount(), 0);
    EXPECT_FALSE(Exists("locked.scr"));
    EXPECT_FALSE(Exists("About.cfg"));
}

TEST_F(WizardTest, ATypedPathIsUsedAsTyped) {
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(ui::FromNarrow(dir_.Path())));
    TfrmWizard wizard(*main_);
    wizard.JvDragDrop1Drop({QStringLiteral("a.jpg")});
    Find<ui::FileNameEdit>(wizard, "feProjectFilename")->setText(QStringLiteral("Holiday"));
    wizard.Button4Click();
    QDir::setCurrent(before);
    EXPECT_TRUE(Exists("Holiday"));
    EXPECT_FALSE(Exists("Holiday.nssp"));
    EXPECT_EQ(main_->ProjectFileName(), QStringLiteral("Holiday"));
    EXPECT_EQ(main_->windowTitle(), QStringLiteral("Holiday - Nimbrel"));
}

// ---- The Flash wizard ----

TEST_F(WizardTest, FlashWizardStartsEmptyOnWelcome) {
    TfrmFlashWiz wizard(*main_);
    EXPECT_EQ(wizard.windowTitle(), QStringLiteral("Flash Screensaver Wizard"));
    EXPECT_EQ(wizard.CurrentPage(), 0);
    EXPECT_EQ(wizard.pos(), QPoint(192, 107));
    auto* pages = Find<QStackedWidget>(wizard, "nbMain");
    ASSERT_EQ(pages->count(), 4);
    const char* titles[] = {"Nimbrel New Project Wizard", "Select Flash File", "Project Options",
                            "Finalisation"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Find<QLabel>(*pages->widget(i), "lblTitle")->text(), QLatin1String(titles[i]));
    for (const char* box : {"feProjectFilename", "feFlashFile", "feOutput", "feFlashIcon"})
        EXPECT_TRUE(Find<ui::FileNameEdit>(wizard, box)->text().isEmpty()) << box;
    EXPECT_TRUE(Find<QLineEdit>(wizard, "txtFlash_Title")->text().isEmpty());
    EXPECT_TRUE(Find<ui::LimitedMemo>(wizard, "memFlashShowText")->toPlainText().isEmpty());
    EXPECT_EQ(Find<ui::LimitedMemo>(wizard, "memFlashShowText")->maxLength(), 246);
    EXPECT_FALSE(Find<QCheckBox>(wizard, "chkFlashChangeIcon")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(wizard, "chkCompileNow")->isChecked());
    EXPECT_EQ(Find<ui::FileNameEdit>(wizard, "feFlashFile")->filter(),
              QStringLiteral("Flash File (*.swf)|*.swf"));
    wizard.Button1Click();
    EXPECT_EQ(wizard.CurrentPage(), 0);
    for (int i = 0; i < 4; ++i) wizard.Button2Click();
    EXPECT_EQ(wizard.CurrentPage(), 3);
}

TEST_F(WizardTest, FlashFinishWithOnlyAProjectPathThroughNew) {
    // A slideshow with two entries was open before New, which keeps the file list.
    WriteFile(dir_.File("old.nssp"), "[Header]\r\nNumber=2\r\nType=0\r\n[Files]\r\n0=a.jpg\r\n1=b.jpg\r\n");
    main_->LoadProject(Path("old.nssp"));
    WhenShown("frmNewChoice", [&](QDialog& chooser) {
        WhenShown("frmFlashWiz", [&](QDialog& wizard) {
            Find<ui::FileNameEdit>(wizard, "feProjectFilename")->setText(Path("flash.nssp"));
            Click(wizard, "Button4");
        });
        Click(chooser, "btnFlash");
    });
    main_->Project2Click();
    EXPECT_EQ(Read("flash.nssp"),
              "[Header]\r\nNumber=2\r\nType=1\r\n\r\n[About]\r\nShowName=\r\nShowText=\r\n\r\n"
              "[Options]\r\nFlashFile=\r\nChangeIcon=0\r\nIconFile=\r\nOutput=\r\n\r\n");
    EXPECT_EQ(main_->ProjectFileName(), Path("flash.nssp"));
    EXPECT_EQ(main_->ProjectKind(), project::kFlash);
    EXPECT_EQ(main_->windowTitle(), QStringLiteral("Nimbrel"));  // not reopened
    EXPECT_TRUE(MainControl(*main_, "txtFlash_Title")->isEnabled());
    EXPECT_TRUE(MainControl(*main_, "btnCompile")->isEnabled());
    EXPECT_FALSE(MainControl(*main_, "btnAddFile")->isEnabled());
    // The default About text that New put into the memo was overwritten by the empty copy.
    EXPECT_TRUE(MainControl<ui::LimitedMemo>(*main_, "memFlashShowText")->toPlainText().isEmpty());
    EXPECT_EQ(main_->findChild<TfrmFlashWiz*>(), nullptr);
}

TEST_F(WizardTest, FlashFinishCopiesEveryValueAndSavesTheFlashLayout) {
    TfrmFlashWiz wizard(*main_);
    Find<ui::FileNameEdit>(wizard, "feProjectFilename")->setText(Path("f.nssp"));
    Find<ui::FileNameEdit>(wizard, "feFlashFile")->setText(QStringLiteral("C:\\Movies\\fireworks.swf"));
    Find<QLineEdit>(wizard, "txtFlash_Title")->setText(QStringLiteral("Fireworks"));
    Find<ui::LimitedMemo>(wizard, "memFlashShowText")->setPlainText(QStringLiteral("Bang <B>bang</B>"));
    Find<ui::FileNameEdit>(wizard, "feOutput")->setText(QStringLiteral("C:\\Shows\\fireworks.scr"));
    // An icon chosen with "Change Icon" left off.
    Find<ui::FileNameEdit>(wizard, "feFlashIcon")->setText(QStringLiteral("C:\\Icons\\rocket.ico"));
    wizard.Button4Click();
    EXPECT_EQ(wizard.result(), QDialog::Accepted);
    EXPECT_TRUE(MessageBox::ShownBoxes().isEmpty());
    EXPECT_EQ(Read("f.nssp"),
              "[Header]\r\nNumber=0\r\nType=1\r\n\r\n[About]\r\nShowName=Fireworks\r\nShowText=Bang "
              "<B>bang</B>\r\n\r\n"
              "[Options]\r\nFlashFile=C:\\Movies\\fireworks.swf\r\nChangeIcon=0\r\nIconFile=C:"
              "\\Icons\\rocket.ico\r\n"
              "Output=C:\\Shows\\fireworks.scr\r\n\r\n");
    EXPECT_EQ(MainControl<ui::FileNameEdit>(*main_, "feFlash")->text(),
              QStringLiteral("C:\\Movies\\fireworks.swf"));
    EXPECT_EQ(MainControl<ui::FileNameEdit>(*main_, "feFlashOutput")->text(),
              QStringLiteral("C:\\Shows\\fireworks.scr"));
    EXPECT_EQ(MainControl<ui::FileNameEdit>(*main_, "feFlashIcon")->text(),
              QStringLiteral("C:\\Icons\\rocket.ico"));
    EXPECT_FALSE(MainControl<QCheckBox>(*main_, "chkFlashChangeIcon")->isChecked());
    // The slideshow page's controls are not touched.
    EXPECT_TRUE(MainControl<ui::FileNameEdit>(*main_, "feOutput")->text().isEmpty());
}

TEST_F(WizardTest, FlashFinishOntoAnExistingProjectKeepsItsOtherKeys) {
    WriteFile(dir_.File("old.nssp"),
              "[Header]\r\nNumber=1\r\nType=0\r\n[Files]\r\n0=a.jpg\r\n"
              "[Options]\r\nCenter=1\r\n[Extra]\r\nkeep=me\r\n");
    TfrmFlashWiz wizard(*main_);
    Find<ui::FileNameEdit>(wizard, "feProjectFilename")->setText(Path("old.nssp"));
    Find<QCheckBox>(wizard, "chkFlashChangeIcon")->setChecked(true);
    wizard.Button4Click();
    project::TBigIniFile ini(dir_.File("old.nssp"));
    EXPECT_EQ(ini.ReadString("Header", "Type", ""), "1");
    EXPECT_EQ(ini.ReadString("Files", "0", ""), "a.jpg");
    EXPECT_EQ(ini.ReadString("Options", "Center", ""), "1");
    EXPECT_EQ(ini.ReadString("Options", "ChangeIcon", ""), "1");
    EXPECT_EQ(ini.ReadString("Extra", "keep", ""), "me");
}

TEST_F(WizardTest, ARefusedFileNameStopsTheCopyThere) {
    UseStubs();
    TfrmFlashWiz wizard(*main_);
    Find<ui::FileNameEdit>(wizard, "feProjectFilename")->setText(Path("bad.nssp"));
    Find<QLineEdit>(wizard, "txtFlash_Title")->setText(QStringLiteral("Title"));
    Find<ui::FileNameEdit>(wizard, "feOutput")->setText(QStringLiteral("out.scr"));
    Find<ui::FileNameEdit>(wizard, "feFlashIcon")->setText(QStringLiteral("a<b>.ico"));
    Find<QCheckBox>(wizard, "chkFlashChangeIcon")->setChecked(true);
    Find<ui::FileNameEdit>(wizard, "feFlashFile")->setText(QStringLiteral("movie.swf"));
    Find<QCheckBox>(wizard, "chkCompileNow")->setChecked(true);
    wizard.Button4Click();
    ASSERT_EQ(MessageBox::ShownBoxes().size(), 1);
    EXPECT_EQ(MessageBox::ShownBoxes().front().text, QStringLiteral("Invalid file name - a<b>.ico."));
    EXPECT_EQ(MessageBox::ShownBoxes().front().icon, QMessageBox::Critical);
    EXPECT_EQ(wizard.result(), QDialog::Rejected);
    // What was copied before stays; nothing after it, nothing named, saved or compiled.
    EXPECT_EQ(MainControl<QLineEdit>(*main_, "txtFlash_Title")->text(), QStringLiteral("Title"));
    EXPECT_EQ(MainControl<ui::FileNameEdit>(*main_, "feFlashOutput")->text(), QStringLiteral("out.scr"));
    EXPECT_TRUE(MainControl<ui::FileNameEdit>(*main_, "feFlashIcon")->text().isEmpty());
    EXPECT_FALSE(MainControl<QCheckBox>(*main_, "chkFlashChangeIcon")->isChecked());
    EXPECT_TRUE(MainControl<ui::FileNameEdit>(*main_, "feFlash")->text().isEmpty());
    EXPECT_TRUE(main_->ProjectFileName().isEmpty());
    EXPECT_EQ(main_->ProjectKind(), project::kSlideShow);
    EXPECT_FALSE(Exists("bad.nssp"));
}

TEST_F(WizardTest, FlashCompileNowBuildsTheFlashScreensaver) {
    UseStubs();
    WriteFile(dir_.File("movie.swf"), "FWS movie");
    TfrmFlashWiz wizard(*main_);
    Find<ui::FileNameEdit>(wizard, "feProjectFilename")->setText(Path("m.nssp"));
    Find<ui::FileNameEdit>(wizard, "feFlashFile")->setText(Path("movie.swf"));
    Find<QCheckBox>(wizard, "chkCompileNow")->setChecked(true);
    wizard.Button4Click();
    ASSERT_EQ(MessageBox::ShownBoxes().size(), 1);
    EXPECT_EQ(MessageBox::ShownBoxes().front().caption, QStringLiteral("Nimbrel - Compile Complete!"));
    EXPECT_TRUE(MessageBox::ShownBoxes().front().text.contains(QStringLiteral("File: m.scr Output")));
    EXPECT_EQ(Read("m.scr").rfind("MZ flash player", 0), 0u);
    EXPECT_EQ(MainControl<ui::FileNameEdit>(*main_, "feFlashOutput")->text(), Path("m.scr"));
    EXPECT_FALSE(Exists("About.cfg"));
}

TEST_F(WizardTest, FlashCancelAndAMissingPathChangeNothing) {
    main_->SetNewProjectChooser(nullptr);
    main_->Project2Click();  // no chooser in the way: New's values, untitled
    WhenShown("frmFlashWiz", [&](QDialog& wizard) {
        Find<ui::FileNameEdit>(wizard, "feFlashFile")->setText(QStringLiteral("movie.swf"));
        Find<QLineEdit>(wizard, "txtFlash_Title")->setText(QStringLiteral("Title"));
        Click(wizard, "Button4");  // no project path: a message, the wizard stays
        EXPECT_TRUE(wizard.isVisible());
        Click(wizard, "Button3");
    });
    TfrmFlashWiz wizard(*main_);
    EXPECT_EQ(wizard.exec(), QDialog::Rejected);
    EXPECT_EQ(Texts(), QStringList{kNoProjectFileName});
    EXPECT_TRUE(MainControl<QLineEdit>(*main_, "txtFlash_Title")->text().isEmpty());
    EXPECT_TRUE(MainControl<ui::FileNameEdit>(*main_, "feFlash")->text().isEmpty());
    EXPECT_EQ(MainControl<ui::LimitedMemo>(*main_, "memFlashShowText")->toPlainText(),
              ui::FromNarrow(project::DefaultAboutText()));
    EXPECT_TRUE(main_->ProjectFileName().isEmpty());
    EXPECT_EQ(main_->ProjectKind(), project::kSlideShow);
}

TEST_F(WizardTest, BrowseDialogsOfTheFileNameBoxes) {
    TfrmWizard slides(*main_);
    TfrmFlashWiz flash(*main_);
    struct Case {
        QWidget* wizard;
        const char* box;
        const char* title;
        const char* filter;
    };
    const Case cases[] = {
        {&slides, "feProjectFilename", "Create Project", "Nimbrel Project Files|*.nssp"},
        {&slides, "feOutput", "Select Screensaver File", "Screensaver File|*.scr"},
        {&flash, "feProjectFilename", "Create Project", "Nimbrel Project Files|*.nssp"},
        {&flash, "feFlashFile", "Select Flash File", "Flash File (*.swf)|*.swf"},
        {&flash, "feOutput", "Select Screensaver File", "Screensaver File|*.scr"},
        {&flash, "feFlashIcon", "", "Icon Files|*.ico"},
    };
    for (const Case& c : cases) {
        ui::FileDialog::SetNextFileNames({Path("chosen")});
        auto* box = Find<ui::FileNameEdit>(*c.wizard, c.box);
        box->browse();
        EXPECT_EQ(ui::FileDialog::LastTitle(), QLatin1String(c.title)) << c.box;
        EXPECT_EQ(ui::FileDialog::LastFilter(), QLatin1String(c.filter)) << c.box;
        EXPECT_EQ(box->text(), Path("chosen"));
    }
}

TEST_F(WizardTest, ScreenshotsOfEveryPage) {
    main_->show();
    TfrmNewChoice chooser(*main_);
    chooser.show();
    EXPECT_TRUE(chooser.grab().save(QStringLiteral(NIMBREL_SCREENSHOT_DIR "/wizard_chooser.png")));
    TfrmWizard slides(*main_);
    slides.JvDragDrop1Drop({Path("beach.jpg"), Path("sunset.png")});
    TfrmFlashWiz flash(*main_);
    for (auto [wizard, name] :
         {std::pair<WizardFrame*, const char*>{&slides, "slideshow"}, {&flash, "flash"}}) {
        wizard->show();
        for (int page = 0; page < 4; ++page) {
            const QString file = QStringLiteral(NIMBREL_SCREENSHOT_DIR "/wizard_%1_page%2.png")
                                     .arg(QLatin1String(name))
                                     .arg(page);
            EXPECT_TRUE(wizard->grab().save(file)) << file.toStdString();
            wizard->Button2Click();
        }
    }
    EXPECT_EQ(flash.frameGeometry().size(), QSize(546, 330));
}

}  // namespace
}  // namespace nimbrel::wizards
