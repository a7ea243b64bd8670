// The main window, built for real and driven headless; widgets are found by their names.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QSlider>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <ctime>
#include <fstream>
#include <memory>

#include <filesystem>
#include <sstream>

#include "app/file_entries.h"
#include "app/main_window.h"
#include "cli/cli.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/temp.h"
#include "support/qt_test_env.h"
#include "ui/color_button.h"
#include "ui/file_dialog.h"
#include "ui/file_name_edit.h"
#include "ui/gradient_progress_bar.h"
#include "ui/limited_memo.h"
#include "ui/message_box.h"
#include "ui/narrow_text.h"

namespace nimbrel::app {
namespace {

using ui::MessageBox;

// The window is designed for a screen larger than the offscreen platform's 800 x 600, on which it
// would shrink: the tests run on one that holds it (the window manager tests try small screens).
const bool kLargeScreen = [] {
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen")
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" NIMBREL_APP_TEST_SCREEN);
    return true;
}();

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new test::QtTestEnvironment("app_tests", [] {
        MessageBox::SetTestMode(true);
        ui::FileDialog::SetTestMode(true);
    }));

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        MessageBox::SetTestMode(true);
        MessageBox::ClearShown();
        ui::FileDialog::SetTestMode(true);
    }

    std::unique_ptr<TfrmMain> Start(const QStringList& arguments = {}) {
        auto window = std::make_unique<TfrmMain>(arguments);
        return window;
    }

public:
    template <typename T = QWidget>
    static T* Find(TfrmMain& window, const char* name) {
        T* child = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    static bool Enabled(TfrmMain& window, const char* name) {
        if (auto* action = window.findChild<QAction*>(QString::fromLatin1(name))) return action->isEnabled();
        return Find(window, name)->isEnabled();
    }
    static QTreeWidget* Files(TfrmMain& window) { return Find<QTreeWidget>(window, "lvFiles"); }

protected:
    QString Path(const char* name) const { return ui::FromNarrow(dir_.File(name)); }

    platform::TempDirectory dir_;
};

const char* const kNamedCommands[] = {"btnSave",          "btnCompile",
                                      "btnTest",          "Project3",
                                      "Compile1",         "Test1",
                                      "Install1",         "lvFiles",
                                      "tnMain",           "txtFlash_Title",
                                      "memFlashShowText", "feFlash",
                                      "feFlashOutput",    "chkFlashChangeIcon",
                                      "feFlashIcon"};
const char* const kSlideShowCommands[] = {"btnAddFile", "btnRemoveFile", "btnCheck",
                                          "AddFile1",   "RemoveFile1",   "CheckFiles1"};
const char* const kAlwaysEnabled[] = {"btnNew",
                                      "btnOpen",
                                      "btnExit",
                                      "Project2",
                                      "Project4",
                                      "Exit1",
                                      "ScreenSaverControlPanel1",
                                      "Contents1",
                                      "GotoWebsite1",
                                      "About1",
                                      "btnContents",
                                      "btnAbout",
                                      "btnWebsite"};

void ExpectCommandState(TfrmMain& window, bool named, bool slideShow) {
    for (const char* name : kNamedCommands) EXPECT_EQ(MainWindowTest::Enabled(window, name), named) << name;
    for (const char* name : kSlideShowCommands)
        EXPECT_EQ(MainWindowTest::Enabled(window, name), named && slideShow) << name;
    for (const char* name : kAlwaysEnabled) EXPECT_TRUE(MainWindowTest::Enabled(window, name)) << name;
}

TEST_F(MainWindowTest, StartsWithoutProject) {
    auto window = Start();
    EXPECT_EQ(window->windowTitle(), "Untitled - Nimbrel");
    EXPECT_EQ(window->ProjectFileName(), "");
    EXPECT_EQ(window->ProjectKind(), project::kSlideShow);
    EXPECT_EQ(Find<QTabWidget>(*window, "pcMain")->currentIndex(), 0);
    EXPECT_EQ(Find<QTabWidget>(*window, "tnMain")->currentIndex(), 0);
    EXPECT_EQ(Find<QStackedWidget>(*window, "nbMain")->currentIndex(), 0);
    ExpectCommandState(*window, false, true);
    EXPECT_TRUE(MessageBox::ShownBoxes().isEmpty());
}

TEST_F(MainWindowTest, ControlsCarryTheirNamesAndLimits) {
    auto window = Start();
    auto* speed = Find<QSlider>(*window, "tbShowSpeed");
    EXPECT_EQ(speed->minimum(), 1);
    EXPECT_EQ(speed->maximum(), 240);
    EXPECT_EQ(speed->pageStep(), 10);
    EXPECT_EQ(speed->value(), 10);

    auto* transition = Find<QComboBox>(*window, "cboTransition");
    ASSERT_EQ(transition->count(), 130);
    EXPECT_EQ(transition->currentIndex(), -1);
    EXPECT_TRUE(transition->isEditable());
    // Every effect by a name of its own, at the index the project stores and the player plays.
    QStringList seen;
    for (int i = 0; i < 128; ++i) {
        const QString name = transition->itemText(i);
        EXPECT_FALSE(name.isEmpty() || name.startsWith(QStringLiteral("Image Transition"))) << i;
        EXPECT_FALSE(seen.contains(name)) << name.toStdString();
        seen << name;
    }
    EXPECT_EQ(transition->itemText(0), "Fade");
    EXPECT_EQ(transition->itemText(9), "Wipe From Left");
    EXPECT_EQ(transition->itemText(128), "Random");
    EXPECT_EQ(transition->itemText(129), "None");

    EXPECT_EQ(Find<QLineEdit>(*window, "txtShowName")->maxLength(), 254);
    EXPECT_EQ(Find<ui::LimitedMemo>(*window, "memShowText")->maxLength(), 246);
    EXPECT_EQ(Find<ui::LimitedMemo>(*window, "memFlashShowText")->maxLength(), 246);
    EXPECT_EQ(Find<ui::ColorButton>(*window, "btnBGColor")->color(), 0);
    EXPECT_EQ(Find<ui::FileNameEdit>(*window, "feOutput")->filter(), "ScreenSaver Files|*.scr");
    EXPECT_EQ(Find<ui::FileNameEdit>(*window, "feIcon")->filter(), "Icon Files|*.ico");
    EXPECT_EQ(Find<ui::FileNameEdit>(*window, "feFlash")->filter(), "Flash Files (*.swf)|*.swf");
    for (const char* name :
         {"chkCenter", "chkAutoSize", "chkStretch", "chkKeepAspect", "chkRandom", "chkChangeIcon",
          "feFlashOutput", "feFlashIcon", "pbar", "btnContents", "btnAbout", "btnWebsite", "Recent1"})
        Find<QObject>(*window, name);

    auto* pages = Find<QStackedWidget>(*window, "nbMain");
    ASSERT_EQ(pages->count(), 2);
    EXPECT_EQ(pages->widget(0)->windowTitle(), "Slide Show");
    EXPECT_EQ(pages->widget(1)->windowTitle(), "Flash");
    auto* bar = Find<QTabWidget>(*window, "pcMain");
    ASSERT_EQ(bar->count(), 3);
    EXPECT_EQ(bar->tabText(0), "File");
    EXPECT_EQ(bar->tabText(2), "Help");
    auto* notebook = Find<QTabWidget>(*window, "tnMain");
    ASSERT_EQ(notebook->count(), 3);
    EXPECT_EQ(notebook->tabText(0), "Project");
    EXPECT_EQ(notebook->tabText(1), "Options");
    EXPECT_EQ(notebook->tabText(2), "Show");  // motion, captions and monitors
    QTreeWidgetItem* header = Files(*window)->headerItem();
    EXPECT_EQ(header->text(0), "Filename");
    EXPECT_EQ(header->text(1), "Size");
    EXPECT_EQ(header->text(2), "Type");
    EXPECT_EQ(header->text(3), "Date");
}

TEST(LimitedMemo, EnterInsertsNoLineBreakAndTypingStopsAtTheLimit) {
    ui::LimitedMemo memo(5);
    QTest::keyClicks(&memo, "abc");
    QTest::keyClick(&memo, Qt::Key_Return);
    QTest::keyClick(&memo, Qt::Key_Enter);
    EXPECT_EQ(memo.toPlainText(), "abc");
    QTest::keyClicks(&memo, "defgh");
    EXPECT_EQ(memo.toPlainText(), "abcde");
    // Replacing a selection makes room; text set by the program is not cut.
    memo.selectAll();
    QTest::keyClicks(&memo, "xy");
    EXPECT_EQ(memo.toPlainText(), "xy");
    memo.setPlainText("longer than five");
    EXPECT_EQ(memo.toPlainText(), "longer than five");
}

TEST_F(MainWindowTest, ProjectArgumentIsLoadedAndNamesTheWindow) {
    // A missing file opens an empty project under that name; a second argument is ignored.
    QString first = Path("holiday.nssp");
    QString second = Path("other.nssp");
    WriteFile(ui::ToNarrow(second), "[Header]\r\nType=1\r\n");
    auto window = Start({first, second});
    EXPECT_EQ(window->windowTitle(), "holiday.nssp - Nimbrel");
    EXPECT_EQ(window->ProjectFileName(), first);
    EXPECT_EQ(window->ProjectKind(), project::kSlideShow);
    ExpectCommandState(*window, true, true);
    EXPECT_TRUE(MessageBox::ShownBoxes().isEmpty());
}

TEST_F(MainWindowTest, FlashProjectDisablesTheFileCommandsOnly) {
    QString path = Path("fireworks.nssp");
    WriteFile(ui::ToNarrow(path), "[Header]\r\nNumber=0\r\nType=1\r\n\r\n");
    auto window = Start({path});
    EXPECT_EQ(window->windowTitle(), "fireworks.nssp - Nimbrel");
    EXPECT_EQ(window->ProjectKind(), project::kFlash);
    EXPECT_EQ(Find<QStackedWidget>(*window, "nbMain")->currentIndex(), 1);
    ExpectCommandState(*window, true, false);
}

project::LoadedProject SlideShow(int speed, int transition) {
    project::LoadedProject loaded;
    loaded.number = 1;
    loaded.type = project::kSlideShow;
    loaded.files = {"/nowhere/beach.jpg"};
    loaded.slideShowRead = true;
    loaded.slideShow.center = true;
    loaded.slideShow.showSpeed = speed;
    loaded.slideShow.transition = transition;
    loaded.slideShow.backgroundColor = 0x00FF0000;
    loaded.slideShow.output = "/shows/holiday.scr";
    loaded.slideShow.showName = "Holiday";
    loaded.slideShow.showText = "Pictures from the <B>holiday</B>";
    return loaded;
}

TEST_F(MainWindowTest, LoadedSlideShowGoesIntoItsControlsOnly) {
    auto window = Start();
    Find<QLineEdit>(*window, "txtFlash_Title")->setText("keep me");
    Find<ui::FileNameEdit>(*window, "feFlash")->setText("/movies/keep.swf");

    window->ApplyLoadedProject(SlideShow(500, 200));
    EXPECT_TRUE(Find<QCheckBox>(*window, "chkCenter")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(*window, "chkRandom")->isChecked());
    EXPECT_EQ(Find<QSlider>(*window, "tbShowSpeed")->value(), 240);
    EXPECT_EQ(Find<QComboBox>(*window, "cboTransition")->currentIndex(), -1);
    EXPECT_EQ(Find<ui::ColorButton>(*window, "btnBGColor")->color(), 0x00FF0000);
    EXPECT_EQ(Find<ui::FileNameEdit>(*window, "feOutput")->text(), "/shows/holiday.scr");
    EXPECT_EQ(Find<QLineEdit>(*window, "txtShowName")->text(), "Holiday");
    EXPECT_EQ(Find<ui::LimitedMemo>(*window, "memShowText")->toPlainText(),
              "Pictures from the <B>holiday</B>");
    ASSERT_EQ(Files(*window)->topLevelItemCount(), 1);
    EXPECT_EQ(Files(*window)->topLevelItem(0)->text(0), "/nowhere/beach.jpg");
    // The Flash page is untouched.
    EXPECT_EQ(Find<QLineEdit>(*window, "txtFlash_Title")->text(), "keep me");
    EXPECT_EQ(Find<ui::FileNameEdit>(*window, "feFlash")->text(), "/movies/keep.swf");

    window->ApplyLoadedProject(SlideShow(0, 128));
    EXPECT_EQ(Find<QSlider>(*window, "tbShowSpeed")->value(), 1);
    EXPECT_EQ(Find<QComboBox>(*window, "cboTransition")->currentIndex(), 128);
    window->ApplyLoadedProject(SlideShow(31, -1));
    EXPECT_EQ(Find<QSlider>(*window, "tbShowSpeed")->value(), 31);
    EXPECT_EQ(Find<QComboBox>(*window, "cboTransition")->currentIndex(), -1);
}

TEST_F(MainWindowTest, NothingReadLeavesTheControlsAsTheyWere) {
    auto window = Start();
    window->ApplyLoadedProject(SlideShow(77, 5));
    Files(*window)->clear();

    // Number 0: the page is shown, the slideshow's controls keep their values.
    project::LoadedProject empty;
    window->ApplyLoadedProject(empty);
    EXPECT_EQ(Find<QSlider>(*window, "tbShowSpeed")->value(), 77);
    EXPECT_EQ(Find<QComboBox>(*window, "cboTransition")->currentIndex(), 5);
    EXPECT_EQ(Find<QLineEdit>(*window, "txtShowName")->text(), "Holiday");
    EXPECT_EQ(Files(*window)->topLevelItemCount(), 0);

    project::LoadedProject flash;
    flash.type = project::kFlash;
    flash.flashRead = true;
    flash.flash = {"Fireworks", "text", "/movies/fireworks.swf", true, "/icons/rocket.ico", "/shows/f.scr"};
    window->ApplyLoadedProject(flash);
    EXPECT_EQ(window->ProjectKind(), project::kFlash);
    EXPECT_EQ(Find<QLineEdit>(*window, "txtFlash_Title")->text(), "Fireworks");
    EXPECT_EQ(Find<ui::FileNameEdit>(*window, "feFlashIcon")->text(), "/icons/rocket.ico");
    EXPECT_TRUE(Find<QCheckBox>(*window, "chkFlashChangeIcon")->isChecked());
    EXPECT_EQ(Find<QLineEdit>(*window, "txtShowName")->text(), "Holiday");

    // An unknown kind leaves the page as it was.
    project::LoadedProject other;
    other.type = 2;
    window->ApplyLoadedProject(other);
    EXPECT_EQ(window->ProjectKind(), project::kFlash);
}

TEST_F(MainWindowTest, SaveGathersTheControls) {
    auto window = Start();
    window->ApplyLoadedProject(SlideShow(42, 128));
    window->AddFileEntry("/nowhere/sunset.png", TfrmMain::EntryMode::Tolerant);
    Find<QCheckBox>(*window, "chkRandom")->setChecked(true);
    Find<ui::LimitedMemo>(*window, "memShowText")->setPlainText("one\ntwo");
    Find<QLineEdit>(*window, "txtFlash_Title")->setText("Fireworks");
    Find<ui::FileNameEdit>(*window, "feFlashOutput")->setText("/shows/fireworks.scr");

    project::ProjectValues values = window->GatherProjectValues();
    EXPECT_EQ(values.kind, project::kSlideShow);
    EXPECT_EQ(values.files, (std::vector<std::string>{"/nowhere/beach.jpg", "/nowhere/sunset.png"}));
    EXPECT_TRUE(values.slideShow.center);
    EXPECT_TRUE(values.slideShow.random);
    EXPECT_EQ(values.slideShow.showSpeed, 42);
    EXPECT_EQ(values.slideShow.transition, 128);
    EXPECT_EQ(values.slideShow.backgroundColor, 0x00FF0000);
    EXPECT_EQ(values.slideShow.output, "/shows/holiday.scr");
    EXPECT_EQ(values.slideShow.showText, "one\r\ntwo");  // a pasted line break is stored as CR LF
    EXPECT_EQ(values.flash.title, "Fireworks");
    EXPECT_EQ(values.flash.output, "/shows/fireworks.scr");

    // The file list counts for a Flash project too.
    project::LoadedProject flash;
    flash.type = project::kFlash;
    window->ApplyLoadedProject(flash);
    values = window->GatherProjectValues();
    EXPECT_EQ(values.kind, project::kFlash);
    EXPECT_EQ(values.files.size(), 2u);
}

TEST_F(MainWindowTest, SaveNamesAnUnnamedProjectAndKeepsTheCaption) {
    auto window = Start();
    QString path = Path("new.nssp");
    window->SaveProject(path);
    EXPECT_EQ(window->ProjectFileName(), path);
    EXPECT_EQ(window->windowTitle(), "Untitled - Nimbrel");
    EXPECT_TRUE(platform::FileExists(ui::ToNarrow(path)));
    ExpectCommandState(*window, true, true);
}

TEST_F(MainWindowTest, LoadingAFileAppliesWhatWasRead) {
    QString path = Path("holiday.nssp");
    std::string missingPicture = dir_.File("beach.jpg");
    WriteFile(ui::ToNarrow(path),
              "[Header]\r\nNumber=2\r\nType=0\r\n\r\n[Files]\r\n0=" + missingPicture +
                  "\r\n\r\n[Options]\r\nShowSpeed=500\r\nTransition=200\r\nColorR=255\r\n"
                  "ColorG=0\r\nColorB=0\r\nBGColor=65280\r\n\r\n[About]\r\nShowName=Holiday\r\n");
    auto window = Start();
    Find<QLineEdit>(*window, "txtFlash_Title")->setText("keep me");
    window->LoadProject(path);
    EXPECT_EQ(window->windowTitle(), "holiday.nssp - Nimbrel");
    EXPECT_TRUE(Find<QCheckBox>(*window, "chkCenter")->isChecked());  // a missing Center reads as on
    EXPECT_FALSE(Find<QCheckBox>(*window, "chkAutoSize")->isChecked());
    EXPECT_EQ(Find<QSlider>(*window, "tbShowSpeed")->value(), 240);
    EXPECT_EQ(Find<QComboBox>(*window, "cboTransition")->currentIndex(), -1);
    EXPECT_EQ(Find<ui::ColorButton>(*window, "btnBGColor")->color(), 255);  // from ColorR/G/B
    EXPECT_EQ(Find<QLineEdit>(*window, "txtFlash_Title")->text(), "keep me");
    // Number 2 with one file key: the list ends at the highest file key there is.
    QTreeWidget* files = Files(*window);
    ASSERT_EQ(files->topLevelItemCount(), 1);
    EXPECT_EQ(files->topLevelItem(0)->text(0), ui::FromNarrow(missingPicture));
    EXPECT_EQ(files->topLevelItem(0)->text(1), "");
    EXPECT_TRUE(MessageBox::ShownBoxes().isEmpty());

    // A project without files keeps the slideshow's controls and empties the list.
    QString empty = Path("empty.nssp");
    WriteFile(ui::ToNarrow(empty), "[Header]\r\nNumber=0\r\n\r\n[Options]\r\nShowSpeed=5\r\n");
    window->LoadProject(empty);
    EXPECT_EQ(Find<QSlider>(*window, "tbShowSpeed")->value(), 240);
    EXPECT_EQ(files->topLevelItemCount(), 0);
    EXPECT_EQ(window->windowTitle(), "empty.nssp - Nimbrel");
}

TEST_F(MainWindowTest, AProjectThatCannotBeReadIsReported) {
    auto window = Start();
    window->AddFileEntry("/nowhere/a.jpg", TfrmMain::EntryMode::Tolerant);
    // A folder in place of the project file cannot be read.
    QString folder = ui::FromNarrow(dir_.Path() + "folder.nssp");
    ASSERT_EQ(::mkdir(ui::ToNarrow(folder).c_str(), 0755), 0);
    ui::FileDialog::SetNextFileNames({folder});
    window->Project4Click();
    ASSERT_EQ(MessageBox::ShownBoxes().size(), 1);
    EXPECT_EQ(MessageBox::ShownBoxes().first().caption, "Nimbrel");
    EXPECT_EQ(MessageBox::ShownBoxes().first().icon, QMessageBox::Critical);
    EXPECT_EQ(window->ProjectFileName(), folder);
    EXPECT_EQ(Files(*window)->topLevelItemCount(), 0);
    EXPECT_EQ(window->windowTitle(), "Untitled - Nimbrel");
}

TEST_F(MainWindowTest, SaveWritesTheControlsThroughTheProjectFile) {
    QString path = Path("holiday.nssp");
    auto window = Start({path});
    window->ApplyLoadedProject(SlideShow(42, 128));
    Find<QCheckBox>(*window, "chkRandom")->setChecked(true);
    Find<QCheckBox>(*window, "chkStoreCompressed")->setChecked(true);
    Find<ui::LimitedMemo>(*window, "memShowText")->setPlainText("Pictures from the <B>holiday</B>");
    window->Project3Click();
    EXPECT_TRUE(MessageBox::ShownBoxes().isEmpty());
    std::string text = platform::ReadWholeFile(ui::ToNarrow(path));
    EXPECT_NE(text.find("[Header]\r\nNumber=1\r\nType=0\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("0=/nowhere/beach.jpg\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Random=1\r\nShowSpeed=42\r\nTransition=128\r\nBGColor=16711680\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("ShowText=Pictures from the <B>holiday</B>\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Pictures]\r\nStoreCompressed=1\r\n"), std::string::npos) << text;

    // What was saved loads back into the same controls.
    auto reopened = Start({path});
    EXPECT_EQ(Find<QSlider>(*reopened, "tbShowSpeed")->value(), 42);
    EXPECT_EQ(Find<QComboBox>(*reopened, "cboTransition")->currentIndex(), 128);
    EXPECT_EQ(Find<ui::ColorButton>(*reopened, "btnBGColor")->color(), 0x00FF0000);
    EXPECT_TRUE(Find<QCheckBox>(*reopened, "chkRandom")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(*reopened, "chkStoreCompressed")->isChecked());
    EXPECT_EQ(Files(*reopened)->topLevelItemCount(), 1);
}

// --- File-list entries ---------------------------------------------------------------------

TEST_F(MainWindowTest, StrictAndTolerantEntriesForAFileThatCannotBeOpened) {
    auto window = Start();
    QTreeWidget* files = Files(*window);
    QAbstractItemModelTester tester(files->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QString missing = Path("gone.jpg");
    QString todayBefore = ShortDateText(platform::CurrentLocalDateTime());

    window->AddFileEntry(missing, TfrmMain::EntryMode::Tolerant);
    ASSERT_EQ(files->topLevelItemCount(), 1);
    QTreeWidgetItem* entry = files->topLevelItem(0);
    EXPECT_EQ(entry->text(0), missing);
    EXPECT_EQ(entry->text(1), "");
    EXPECT_EQ(entry->text(2), FileTypeDescription(".jpg"));
    EXPECT_FALSE(entry->text(2).isEmpty());
    QString todayAfter = ShortDateText(platform::CurrentLocalDateTime());
    EXPECT_TRUE(entry->text(3) == todayBefore || entry->text(3) == todayAfter)
        << entry->text(3).toStdString();

    try {
        window->AddFileEntry(missing, TfrmMain::EntryMode::Strict);
        ADD_FAILURE() << "strict mode accepted a missing file";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot open file " + ui::ToNarrow(missing));
    }
    ASSERT_EQ(files->topLevelItemCount(), 2);
    entry = files->topLevelItem(1);
    EXPECT_EQ(entry->text(0), missing);
    for (int column = 1; column < 4; ++column) EXPECT_EQ(entry->text(column), "") << column;
    // No icon of its own: only a transparent stand-in that keeps it in line with the others.
    const QImage stand = entry->icon(0).pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < stand.height(); ++y)
        for (int x = 0; x < stand.width(); ++x) ASSERT_EQ(qAlpha(stand.pixel(x, y)), 0);

    // A folder cannot be opened either.
    EXPECT_THROW(window->AddFileEntry(ui::FromNarrow(dir_.Path()), TfrmMain::EntryMode::Strict), Error);
}

TEST_F(MainWindowTest, EntryCellsOfAnExistingFile) {
    auto window = Start();
    QString picture = Path("beach.jpg");
    QString readme = Path("README");
    QString odd = Path("notes.zq7nimbrel");
    WriteFile(ui::ToNarrow(picture), std::string(1000, 'x'));
    WriteFile(ui::ToNarrow(readme), "hello");
    WriteFile(ui::ToNarrow(odd), "");
    // Opened yesterday, changed a year ago: the list shows yesterday.
    std::time_t now = std::time(nullptr);
    timespec times[2] = {{now - 24 * 3600, 0}, {now - 365 * 24 * 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, ui::ToNarrow(picture).c_str(), times, 0), 0);

    window->AddFileEntry(picture, TfrmMain::EntryMode::Strict);
    window->AddFileEntry(readme, TfrmMain::EntryMode::Strict);
    window->AddFileEntry(odd, TfrmMain::EntryMode::Strict);
    window->AddFileEntry(picture, TfrmMain::EntryMode::Strict);  // the same path twice is fine
    QTreeWidget* files = Files(*window);
    ASSERT_EQ(files->topLevelItemCount(), 4);
    QTreeWidgetItem* entry = files->topLevelItem(0);
    EXPECT_EQ(entry->text(1), "1000");
    std::time_t yesterday = now - 24 * 3600;
    std::tm local{};
    ::localtime_r(&yesterday, &local);
    EXPECT_EQ(entry->text(3), QLocale().toString(QDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday),
                                                 NumericShortDateFormat(QLocale())));
    EXPECT_FALSE(entry->icon(0).isNull());
    EXPECT_EQ(files->topLevelItem(1)->text(1), "5");
    EXPECT_EQ(files->topLevelItem(1)->text(2), "");
    EXPECT_EQ(files->topLevelItem(2)->text(2), ".zq7nimbrel");
    EXPECT_EQ(files->topLevelItem(3)->text(0), picture);
}

TEST_F(MainWindowTest, PhotoFormatsAreOfferedAndShowTheirTypeName) {
    auto window = Start({Path("photos.nssp")});
    struct Case {
        const char* name;
        const char* format;  // what the type name says, in any case
    };
    const Case cases[] = {{"phone.heic", "HEIF"}, {"phone.HEIF", "HEIF"}, {"web.avif", "AVIF"},
                          {"web.webp", "WEBP"},   {"scan.tif", "TIFF"},   {"scan.tiff", "TIFF"}};
    QStringList chosen;
    for (const Case& c : cases) {
        chosen << Path(c.name);
        WriteFile(ui::ToNarrow(chosen.back()), "x");
    }
    ui::FileDialog::SetNextFileNames(chosen);
    window->AddFile1Click();
    EXPECT_TRUE(ui::FileDialog::LastFilter().endsWith("*.HEIC;*.HEIF;*.AVIF;*.WEBP;*.TIF;*.TIFF"))
        << ui::FileDialog::LastFilter().toStdString();
    QTreeWidget* files = Files(*window);
    ASSERT_EQ(files->topLevelItemCount(), static_cast<int>(std::size(cases)));
    for (int i = 0; i < files->topLevelItemCount(); ++i) {
        const QString type = files->topLevelItem(i)->text(2);
        SCOPED_TRACE(cases[i].name);
        EXPECT_TRUE(type.toUpper().contains(QString::fromLatin1(cases[i].format))) << type.toStdString();
        EXPECT_FALSE(type.startsWith(u'.')) << type.toStdString();
        EXPECT_EQ(type, FileTypeDescription(u'.' + QFileInfo(cases[i].name).suffix()));
    }
}

TEST_F(MainWindowTest, RemoveAndCheckFiles) {
    QString path = Path("show.nssp");
    auto window = Start({path});
    QTreeWidget* files = Files(*window);
    QAbstractItemModelTester tester(files->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QStringList names;
    for (const char* name : {"1.jpg", "2.jpg", "3.jpg", "4.jpg", "5.jpg"}) {
        names << Path(name);
        WriteFile(ui::ToNarrow(names.back()), "x");
        window->AddFileEntry(names.back(), TfrmMain::EntryMode::Strict);
    }
    for (int i : {0, 2, 3}) files->topLevelItem(i)->setSelected(true);
    window->RemoveFile1Click();
    ASSERT_EQ(files->topLevelItemCount(), 2);
    EXPECT_EQ(files->topLevelItem(0)->text(0), names[1]);
    EXPECT_EQ(files->topLevelItem(1)->text(0), names[4]);

    platform::RemoveFile(ui::ToNarrow(names[1]));
    window->AddFileEntry(ui::FromNarrow(dir_.Path()),
                         TfrmMain::EntryMode::Tolerant);  // a folder is missing too
    window->CheckFiles1Click();
    ASSERT_EQ(files->topLevelItemCount(), 1);
    EXPECT_EQ(files->topLevelItem(0)->text(0), names[4]);
    auto* bar = Find<ui::GradientProgressBar>(*window, "pbar");
    EXPECT_EQ(bar->position(), 0);
    EXPECT_EQ(bar->maximum(), 100);
}

TEST_F(MainWindowTest, RelativeEntriesNameFilesBesideTheProjectWhereverTheProgramRuns) {
    // The project lists its pictures by bare name; the program runs from another folder.
    std::filesystem::create_directories(dir_.File("show/pics"));
    WriteFile(dir_.File("show/beach.jpg"), std::string(1000, 'x'));
    WriteFile(dir_.File("show/pics/lake.jpg"), std::string(20, 'x'));
    const std::string project = dir_.File("show/holiday.nssp");
    WriteFile(project,
              "[Header]\r\nNumber=3\r\nType=0\r\n\r\n[Files]\r\n0=beach.jpg\r\n1=pics/"
              "lake.jpg\r\n2=gone.jpg\r\n\r\n");
    platform::TempDirectory elsewhere;
    const auto started = std::filesystem::current_path();
    std::filesystem::current_path(elsewhere.Path());
    struct Back {
        std::filesystem::path to;
        ~Back() { std::filesystem::current_path(to); }
    } back{started};

    auto window = Start({ui::FromNarrow(project)});
    QTreeWidget* files = Files(*window);
    ASSERT_EQ(files->topLevelItemCount(), 3);
    EXPECT_EQ(files->topLevelItem(0)->text(0), "beach.jpg");  // shown and kept as stored
    EXPECT_EQ(files->topLevelItem(0)->text(1), "1000");
    EXPECT_EQ(files->topLevelItem(1)->text(1), "20");
    EXPECT_EQ(files->topLevelItem(2)->text(1), "");

    QString viewed;
    window->SetImageViewer([&](TfrmMain&, const QString& path) { viewed = path; });
    files->topLevelItem(1)->setSelected(true);
    window->lvFilesDblClick();
    EXPECT_EQ(viewed, ui::FromNarrow(dir_.File("show/pics/lake.jpg")));

    window->CheckFiles1Click();  // only the picture that is really gone goes
    ASSERT_EQ(files->topLevelItemCount(), 2);
    window->SaveProject(ui::FromNarrow(project));
    std::string saved = platform::ReadWholeFile(project);
    EXPECT_NE(saved.find("0=beach.jpg\r\n1=pics/lake.jpg\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("Number=2"), std::string::npos);
}

TEST_F(MainWindowTest, ColumnsSortAsText) {
    auto window = Start();
    QTreeWidget* files = Files(*window);
    QAbstractItemModelTester tester(files->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QString big = Path("big.jpg"), small = Path("small.jpg");
    WriteFile(ui::ToNarrow(big), std::string(1000, 'x'));
    WriteFile(ui::ToNarrow(small), std::string(900, 'x'));
    window->AddFileEntry(small, TfrmMain::EntryMode::Strict);
    window->AddFileEntry(big, TfrmMain::EntryMode::Strict);
    EXPECT_EQ(files->topLevelItem(0)->text(0), small);  // display order until a header is clicked
    QHeaderView* header = files->header();
    emit header->sectionClicked(1);
    EXPECT_EQ(files->topLevelItem(0)->text(1), "1000");
    emit header->sectionClicked(1);
    EXPECT_EQ(files->topLevelItem(0)->text(1), "900");
    EXPECT_EQ(window->GatherProjectValues().files.front(), ui::ToNarrow(small));
}

// --- Commands --------------------------------------------------------------------------------

TEST_F(MainWindowTest, OpenUsesTheDialogsFirstFile) {
    auto window = Start();
    QString path = Path("holiday.nssp");
    ui::FileDialog::SetNextFileNames({});
    window->Project4Click();
    EXPECT_EQ(window->ProjectFileName(), "");
    EXPECT_EQ(ui::FileDialog::LastTitle(), "Open Project");
    EXPECT_EQ(ui::FileDialog::LastFilter(), "Project Files (*.nssp)|*.nssp");

    ui::FileDialog::SetNextFileNames({path, Path("second.nssp")});
    window->Project4Click();
    EXPECT_EQ(window->ProjectFileName(), path);
    EXPECT_EQ(window->windowTitle(), "holiday.nssp - Nimbrel");
    ExpectCommandState(*window, true, true);
}

TEST_F(MainWindowTest, AddFileStopsAtTheFirstFileThatCannotBeOpened) {
    auto window = Start({Path("holiday.nssp")});
    QString a = Path("a.jpg"), b = Path("b.jpg"), gone = Path("gone.jpg");
    WriteFile(ui::ToNarrow(a), "a");
    WriteFile(ui::ToNarrow(b), "b");
    ui::FileDialog::SetNextFileNames({a, gone, b});
    window->AddFile1Click();
    EXPECT_EQ(ui::FileDialog::LastTitle(), "Add Files To Project");
    EXPECT_TRUE(ui::FileDialog::LastFilter().startsWith("Supported Image Files|*.BMP;*.JPG;"));
    QTreeWidget* files = Files(*window);
    ASSERT_EQ(files->topLevelItemCount(), 2);
    EXPECT_EQ(files->topLevelItem(1)->text(0), gone);
    EXPECT_EQ(files->topLevelItem(1)->text(1), "");
    ASSERT_EQ(MessageBox::ShownBoxes().size(), 1);
    EXPECT_EQ(MessageBox::ShownBoxes().first().text, "Cannot open file " + gone + ".");
}

TEST_F(MainWindowTest, DroppedFilesAreAddedStrictly) {
    auto window = Start();  // dropping works with no project open too
    QString text = Path("notes.txt"), picture = Path("p.png");
    WriteFile(ui::ToNarrow(text), "text");
    WriteFile(ui::ToNarrow(picture), "png");
    auto drop = [&](const QStringList& paths) { window->JvDragDrop1Drop(paths); };
    drop({text});
    ASSERT_EQ(Files(*window)->topLevelItemCount(), 1);
    EXPECT_EQ(Files(*window)->topLevelItem(0)->text(1), "4");

    // A folder first: its error is shown, it keeps an empty row and the picture is not added.
    QString folder = ui::FromNarrow(dir_.Path());
    folder.chop(1);
    drop({folder, picture});
    ASSERT_EQ(Files(*window)->topLevelItemCount(), 2);
    EXPECT_EQ(Files(*window)->topLevelItem(1)->text(0), folder);
    ASSERT_EQ(MessageBox::ShownBoxes().size(), 1);
    EXPECT_EQ(MessageBox::ShownBoxes().first().text, "Cannot open file " + folder + ".");

    // From the desktop: a drag with text only is refused; of a drop's URLs only the local files
    // come in, with native separators, in the order of the drop.
    QMimeData plain;
    plain.setText(QStringLiteral("p.png"));
    QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &plain, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &refused);
    EXPECT_FALSE(refused.isAccepted());
    QMimeData urls;
    urls.setUrls({QUrl(QStringLiteral("http://example.invalid/a.png")), QUrl::fromLocalFile(picture),
                  QUrl::fromLocalFile(text)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &urls, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &urls, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &dropped);
    EXPECT_TRUE(dropped.isAccepted());
    ASSERT_EQ(Files(*window)->topLevelItemCount(), 4);
    EXPECT_EQ(Files(*window)->topLevelItem(2)->text(0), QDir::toNativeSeparators(picture));
    EXPECT_EQ(Files(*window)->topLevelItem(3)->text(0), QDir::toNativeSeparators(text));
}

TEST_F(MainWindowTest, NewResetsTheControlsButKeepsTheFileList) {
    QString path = Path("holiday.nssp");
    auto window = Start({path});
    window->ApplyLoadedProject(SlideShow(77, 5));
    Find<QCheckBox>(*window, "chkFlashChangeIcon")->setChecked(true);
    window->Project2Click();
    EXPECT_EQ(window->windowTitle(), "Nimbrel");
    EXPECT_EQ(window->ProjectFileName(), "");
    ExpectCommandState(*window, false, true);
    EXPECT_EQ(Files(*window)->topLevelItemCount(), 1);
    EXPECT_FALSE(Find<QCheckBox>(*window, "chkCenter")->isChecked());
    EXPECT_EQ(Find<QSlider>(*window, "tbShowSpeed")->value(), 10);
    EXPECT_EQ(Find<QComboBox>(*window, "cboTransition")->currentIndex(), -1);
    EXPECT_EQ(Find<ui::ColorButton>(*window, "btnBGColor")->color(), 0);
    EXPECT_EQ(Find<QLineEdit>(*window, "txtShowName")->text(), "");
    EXPECT_EQ(Find<ui::FileNameEdit>(*window, "feOutput")->text(), "");
    EXPECT_FALSE(Find<QCheckBox>(*window, "chkFlashChangeIcon")->isChecked());
    QString about = ui::FromNarrow(project::DefaultAboutText());
    EXPECT_EQ(Find<ui::LimitedMemo>(*window, "memShowText")->toPlainText(), about);
    EXPECT_EQ(Find<ui::LimitedMemo>(*window, "memFlashShowText")->toPlainText(), about);
}

TEST_F(MainWindowTest, ClosingAsksToSaveOnlyANamedProject) {
    auto unnamed = Start();
    EXPECT_TRUE(unnamed->close());
    EXPECT_TRUE(MessageBox::ShownBoxes().isEmpty());

    QString path = Path("holiday.nssp");
    auto window = Start({path});
    MessageBox::SetNextAnswer(QMessageBox::No);
    EXPECT_TRUE(window->close());
    ASSERT_EQ(MessageBox::ShownBoxes().size(), 1);
    const MessageBox::Shown& box = MessageBox::ShownBoxes().first();
    EXPECT_EQ(box.caption, "Nimbrel - Save File?");
    EXPECT_EQ(box.text, "Would you like to save the current editor file");
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(box.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_FALSE(platform::FileExists(ui::ToNarrow(path)));

    auto again = Start({path});
    MessageBox::SetNextAnswer(QMessageBox::Yes);
    EXPECT_TRUE(again->close());
    EXPECT_TRUE(platform::FileExists(ui::ToNarrow(path)));
}

TEST_F(MainWindowTest, AFailedSaveIsShownAndKeepsTheWindowOpen) {
    // The project names a file inside a folder that does not exist, so no save can succeed.
    QString path = Path("missing-folder/holiday.nssp");
    auto window = Start({path});
    MessageBox::SetNextAnswer(QMessageBox::Yes);
    EXPECT_FALSE(window->close());
    ASSERT_EQ(MessageBox::ShownBoxes().size(), 2);
    const MessageBox::Shown& error = MessageBox::ShownBoxes().last();
    EXPECT_EQ(error.caption, "Nimbrel");
    EXPECT_EQ(error.icon, QMessageBox::Critical);
    EXPECT_EQ(error.buttons, QMessageBox::Ok);
    EXPECT_FALSE(error.text.isEmpty());
}

TEST(ColorButton, PaletteChoiceBecomesTheButtonsValue) {
    ui::ColorButton button;
    const auto& palette = ui::ColorButton::PaletteColors();
    ASSERT_EQ(palette.size(), 20u);
    EXPECT_EQ(palette[1], 255);
    EXPECT_EQ(palette[19], 10461087);
    EXPECT_EQ(button.customColors(), std::vector<std::int32_t>(16, 16777215));
    std::int32_t reported = -1;
    QObject::connect(&button, &ui::ColorButton::colorChanged, [&](std::int32_t c) { reported = c; });
    QToolButton* red = nullptr;
    for (QToolButton* swatch : button.menu()->findChildren<QToolButton*>())
        if (swatch->toolTip() == "255") red = swatch;
    ASSERT_NE(red, nullptr);
    red->click();
    EXPECT_EQ(button.color(), 255);
    EXPECT_EQ(reported, 255);
    // Red sits in the low byte.
    EXPECT_EQ(ui::ColorButton::ToQColor(255), QColor(255, 0, 0));
    EXPECT_EQ(ui::ColorButton::FromQColor(QColor(0, 0, 255)), 0x00FF0000);
}

TEST(ErrorBox, FullStopOnlyAfterCharactersAboveIt) {
    EXPECT_EQ(ui::ErrorBoxText("File access denied"), "File access denied.");
    EXPECT_EQ(ui::ErrorBoxText("Cannot open file C:\\a.jpg"), "Cannot open file C:\\a.jpg.");
    EXPECT_EQ(ui::ErrorBoxText("Cannot open file /pictures/"), "Cannot open file /pictures/.");  // '/' > '.'
    EXPECT_EQ(ui::ErrorBoxText("Already a sentence."), "Already a sentence.");
    EXPECT_EQ(ui::ErrorBoxText("Stop!"), "Stop!");
    EXPECT_EQ(ui::ErrorBoxText("I/O error (5)"), "I/O error (5)");
    EXPECT_EQ(ui::ErrorBoxText("Disk full -"), "Disk full -");
    EXPECT_EQ(ui::ErrorBoxText(""), "");

    MessageBox::ClearShown();
    ui::ShowErrorBox(nullptr, "Disk full");
    ASSERT_EQ(MessageBox::ShownBoxes().size(), 1);
    EXPECT_EQ(MessageBox::ShownBoxes().first().caption, "Nimbrel");
    EXPECT_EQ(MessageBox::ShownBoxes().first().text, "Disk full.");
    EXPECT_EQ(MessageBox::ShownBoxes().first().icon, QMessageBox::Critical);
    EXPECT_EQ(MessageBox::ShownBoxes().first().buttons, QMessageBox::Ok);
}

TEST(FileDialogSize, WideEnoughForItsColumnsYetInsideTheScreen) {
    EXPECT_GE(ui::FileDialogSize(QSize(1920, 1050)).width(), 800);
    EXPECT_GE(ui::FileDialogSize(QSize(1920, 1050)).height(), 500);
    const QSize small = ui::FileDialogSize(QSize(960, 510));  // 1920 x 1080 at a scale of 2
    EXPECT_LE(small.width(), 960);
    EXPECT_LE(small.height(), 510);
}

TEST(DialogFilter, ProgramFiltersBecomeDialogFilters) {
    EXPECT_EQ(ui::DialogFilter("ScreenSaver Files|*.scr"), "ScreenSaver Files (*.scr)");
    EXPECT_EQ(ui::DialogFilter("Flash Files (*.swf)|*.swf"), "Flash Files (*.swf)");
    EXPECT_EQ(ui::DialogFilter("Images|*.BMP;*.JPG|All|*"), "Images (*.BMP *.JPG);;All (*)");
}

TEST_F(MainWindowTest, ScreenshotOfTheWindow) {
    QString path = Path("holiday.nssp");
    auto window = Start({path});
    QString picture = Path("beach.jpg");
    WriteFile(ui::ToNarrow(picture), std::string(1234, 'x'));
    window->AddFileEntry(picture, TfrmMain::EntryMode::Strict);
    window->show();
    EXPECT_EQ(window->centralWidget()->size(), QSize(658, 586));  // the client area below the menu
    QImage shot = window->grab().toImage();
    EXPECT_TRUE(shot.save(QStringLiteral(NIMBREL_SCREENSHOT_DIR "/main_window.png")));
    Find<QTabWidget>(*window, "tnMain")->setCurrentIndex(1);
    EXPECT_TRUE(window->grab().save(QStringLiteral(NIMBREL_SCREENSHOT_DIR "/main_window_options.png")));
    Find<QStackedWidget>(*window, "nbMain")->setCurrentIndex(1);
    EXPECT_TRUE(window->grab().save(QStringLiteral(NIMBREL_SCREENSHOT_DIR "/main_window_flash.png")));
}

TEST_F(MainWindowTest, CompileBuildsWhatTheCommandLineBuilds) {
    // The same example project, compiled once by the window and once by nimbrel-cli.
    namespace fs = std::filesystem;
    std::string stubs = dir_.File("stubs");
    fs::create_directories(stubs);
    std::string stub(4096, '\0');
    for (std::size_t i = 0; i < stub.size(); ++i) stub[i] = static_cast<char>(i * 7 + 3);
    WriteFile(stubs + "/stub.bin", "MZ" + stub);
    WriteFile(stubs + "/flash.bin", "MZ flash");
    for (const char* side : {"window", "cli"}) {
        fs::create_directories(dir_.File(side));
        for (const auto& entry : fs::directory_iterator(NIMBREL_EXAMPLE_DIR))
            fs::copy_file(entry.path(), fs::path(dir_.File(side)) / entry.path().filename());
    }

    auto window = Start({Path("window/holiday.nssp")});
    window->SetPlayerPaths(stubs + "/stub.bin", stubs + "/flash.bin");
    window->Compile1Click();
    ASSERT_EQ(MessageBox::ShownBoxes().size(), 1);
    const auto& box = MessageBox::ShownBoxes().front();
    EXPECT_EQ(box.caption, QStringLiteral("Nimbrel - Compile Complete!"));
    EXPECT_EQ(box.icon, QMessageBox::Information);
    EXPECT_TRUE(box.text.startsWith(
        QStringLiteral("The project was saved during compile.\nFile: holiday.scr Output\n")));
    EXPECT_EQ(Find<ui::GradientProgressBar>(*window, "pbar")->position(), 100);
    EXPECT_EQ(Find<ui::FileNameEdit>(*window, "feOutput")->text(), QStringLiteral("holiday.scr"));

    std::ostringstream out, err;
    ASSERT_EQ(cli::RunCli({"compile", dir_.File("cli/holiday.nssp"), "--stub-dir", stubs}, out, err), 0)
        << err.str();
    std::string byWindow = platform::ReadWholeFile(dir_.File("window/holiday.scr"));
    std::string byCli = platform::ReadWholeFile(dir_.File("cli/holiday.scr"));
    EXPECT_GT(byWindow.size(), stub.size());
    EXPECT_TRUE(byWindow == byCli) << "the window and the command line built different screensavers";
    EXPECT_EQ(platform::ReadWholeFile(dir_.File("window/holiday.nssp")),
              platform::ReadWholeFile(dir_.File("cli/holiday.nssp")));
}

TEST_F(MainWindowTest, CompileErrorsGoToTheErrorBoxOnly) {
    WriteFile(dir_.File("p.nssp"),
              "[Header]\r\nNumber=1\r\nType=0\r\n[Files]\r\n0=" + dir_.File("p.nssp") + "\r\n");
    auto window = Start({Path("p.nssp")});
    window->SetPlayerPaths(dir_.File("missing-stub.bin"), dir_.File("missing-flash.bin"));
    window->Compile1Click();
    ASSERT_EQ(MessageBox::ShownBoxes().size(), 1);
    EXPECT_EQ(MessageBox::ShownBoxes().front().caption, QStringLiteral("Nimbrel"));
    EXPECT_EQ(MessageBox::ShownBoxes().front().text,
              QStringLiteral("Cannot open file ") + Path("missing-stub.bin") + QStringLiteral("."));
    EXPECT_FALSE(platform::FileExists(dir_.File("p.scr")));
}

TEST_F(MainWindowTest, AProjectOfAnUnknownKindIsNeitherBuiltNorOverwritten) {
    const std::string bytes = "[Header]\r\nNumber=2\r\nType=2\r\n\r\n[Files]\r\n0=a.jpg\r\n1=b.jpg\r\n\r\n";
    WriteFile(dir_.File("odd.nssp"), bytes);
    auto window = Start({Path("odd.nssp")});
    window->SetPlayerPaths(dir_.File("stub.bin"), dir_.File("flash.bin"));
    window->Compile1Click();
    ASSERT_EQ(MessageBox::ShownBoxes().size(), 1);
    EXPECT_TRUE(MessageBox::ShownBoxes().front().text.contains("a kind this program does not know (Type=2"))
        << MessageBox::ShownBoxes().front().text.toStdString();
    EXPECT_EQ(platform::ReadWholeFile(dir_.File("odd.nssp")), bytes);
    EXPECT_FALSE(platform::FileExists(dir_.File("odd.scr")));
}

}  // namespace
}  // namespace nimbrel::app
