// The shell commands, the About box and the interface state kept between runs, on the real
// main window. Every shell request is recorded instead of run, and the settings store lives in a
// private folder for the whole executable (and a fresh one for each test here).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <fstream>
#include <functional>

#include "app/about_box.h"
#include "app/interface_state.h"
#include "app/main_window.h"
#include "nimbrel_version.h"
#include "platform/settings_store.h"
#include "platform/shell.h"
#include "platform/temp.h"
#include "project/project_file.h"
#include "ui/file_name_edit.h"
#include "ui/message_box.h"
#include "ui/narrow_text.h"

namespace nimbrel::app {
namespace {

using platform::RecordedShellCalls;
using platform::SettingsStore;
using platform::ShellCall;

// Keeps every test of the executable away from the user's own settings and desktop.
class StateEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        directory_ = std::make_unique<platform::TempDirectory>("nimbrel-state");
        platform::SetSettingsLocation(directory_->Path());
        platform::SetShellRecording(true);
    }
    void TearDown() override {
        platform::SetSettingsLocation("");
        directory_.reset();
    }
    static std::string Location() { return directory_ ? directory_->Path() : std::string(); }

private:
    static inline std::unique_ptr<platform::TempDirectory> directory_;
};

const auto* const kStateEnvironment = ::testing::AddGlobalTestEnvironment(new StateEnvironment);

class ShellStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::MessageBox::SetTestMode(true);
        ui::MessageBox::ClearShown();
        platform::SetShellRecording(true);
        platform::ClearRecordedShellCalls();
        platform::SetSettingsLocation(settings_.Path());
#ifndef _WIN32
        // wine and xdg-open of our own, so that the requests reach the (recording) shell.
        savedPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        const std::string bin = dir_.File("bin");
        ::mkdir(bin.c_str(), 0700);
        for (const char* program : {"wine", "xdg-open"}) {
            const std::string path = bin + "/" + program;
            std::ofstream(path) << "#!/bin/sh\nexit 0\n";
            ::chmod(path.c_str(), 0700);
        }
        ::setenv("PATH", bin.c_str(), 1);
#endif
    }
    void TearDown() override {
        platform::SetSettingsLocation(StateEnvironment::Location());
#ifndef _WIN32
        ::setenv("PATH", savedPath_.c_str(), 1);
#endif
    }

    std::string File(const char* name, const std::string& bytes = "x") {
        std::string path = dir_.File(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // A project file of the kind, named and opened in the window.
    std::unique_ptr<TfrmMain> StartWithProject(int kind = project::kSlideShow) {
        std::string path = File("show.nssp", "[Options]\r\nType=" + std::to_string(kind) + "\r\n");
        return std::make_unique<TfrmMain>(QStringList{ui::FromNarrow(path)});
    }

    template <typename T = QWidget>
    static T* Find(QObject& parent, const char* name) {
        T* child = parent.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    static void SetOutput(TfrmMain& window, const char* box, const std::string& path) {
        Find<ui::FileNameEdit>(window, box)->setText(ui::FromNarrow(path));
    }
    static std::vector<ShellCall> Calls() {
        return RecordedShellCalls();
    }

    platform::TempDirectory dir_;
    platform::TempDirectory settings_{"nimbrel-settings"};
    std::string savedPath_;
};

// --- Test, Install, control panel, Help, Website ----------------------------------------------

TEST_F(ShellStateTest, TestRunsTheOutputOfTheProjectKindWithSlashS) {
    auto window = StartWithProject();
    const std::string lake = File("Lake Side.scr");
    const std::string flash = File("Movie.scr");
    SetOutput(*window, "feOutput", lake);
    SetOutput(*window, "feFlashOutput", flash);
    Find<QToolButton>(*window, "btnTest")->click();
    ASSERT_EQ(Calls().size(), 1u);
    EXPECT_EQ(Calls()[0], (ShellCall{std::nullopt, lake, std::string("/s"), std::nullopt}));

    // On the Flash page the Flash output box counts, never the slideshow's.
    Find<QStackedWidget>(*window, "nbMain")->setCurrentIndex(project::kFlash);
    Find<QAction>(*window, "Test1")->trigger();
    ASSERT_EQ(Calls().size(), 2u);
    EXPECT_EQ(Calls()[1].file, flash);
}

TEST_F(ShellStateTest, ARelativeOutputNamesTheScreensaverBesideTheProject) {
    auto window = StartWithProject();
    const std::string beside = File("Lake.scr");
    SetOutput(*window, "feOutput", "Lake.scr");
    Find<QAction>(*window, "Test1")->trigger();
    Find<QAction>(*window, "Install1")->trigger();
#ifdef _WIN32
    ASSERT_EQ(Calls().size(), 2u);
    EXPECT_EQ(Calls()[1].parameters, "desk.cpl,InstallScreenSaver " + beside);
#else
    // The installer is Windows' own: elsewhere only Test runs the screensaver.
    ASSERT_EQ(Calls().size(), 1u);
#endif
    EXPECT_EQ(Calls()[0].file, beside);
}

TEST_F(ShellStateTest, InstallHandsThePathUnquotedToTheInstaller) {
    auto window = StartWithProject();
    const std::string lake = File("Lake Side.scr");
    SetOutput(*window, "feOutput", lake);
    Find<QAction>(*window, "Install1")->trigger();
#ifdef _WIN32
    ASSERT_EQ(Calls().size(), 1u);
    EXPECT_EQ(Calls()[0],
              (ShellCall{std::nullopt, "rundll32.exe", "desk.cpl,InstallScreenSaver " + lake, std::nullopt}));
#else
    // The installer is Windows' own: elsewhere the user is told so.
    EXPECT_TRUE(Calls().empty());
    ASSERT_EQ(ui::MessageBox::ShownBoxes().size(), 1);
    EXPECT_TRUE(ui::MessageBox::ShownBoxes().first().text.contains(QStringLiteral("Windows")));
#endif
}

TEST_F(ShellStateTest, NothingRunsWithoutAnOutputFileButTheStateIsUpdated) {
    auto window = StartWithProject();
    QAction* test = Find<QAction>(*window, "Test1");
    QAction* install = Find<QAction>(*window, "Install1");
    QAction* save = Find<QAction>(*window, "Project3");  // btnSave follows it
    for (const std::string& output : {std::string(), dir_.File("deleted.scr"), dir_.Path()}) {
        SetOutput(*window, "feOutput", output);
        for (QAction* command : {test, install}) {
            save->setEnabled(false);
            command->trigger();
            EXPECT_TRUE(save->isEnabled()) << "UpdateCommandState after " << output;
        }
    }
    EXPECT_TRUE(Calls().empty());
    EXPECT_TRUE(ui::MessageBox::ShownBoxes().isEmpty());
}

TEST_F(ShellStateTest, ControlPanelHelpAndWebsiteNeedNoProject) {
    TfrmMain window({});
    QAction* save = Find<QAction>(window, "Project3");  // btnSave follows it
    save->setEnabled(true);
    Find<QAction>(window, "ScreenSaverControlPanel1")->trigger();
    EXPECT_FALSE(save->isEnabled());  // the control panel command updates the state too
    Find<QToolButton>(window, "btnContents")->click();
    Find<QAction>(window, "Contents1")->trigger();
    Find<QToolButton>(window, "btnWebsite")->click();
    Find<QAction>(window, "GotoWebsite1")->trigger();
    std::vector<ShellCall> calls = Calls();
#ifdef _WIN32
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0], (ShellCall{std::nullopt, "rundll32.exe",
                                   std::string("shell32.dll,Control_RunDLL desk.cpl,,1"), std::nullopt}));
    calls.erase(calls.begin());
#else
    // The control panel is Windows' own: elsewhere a message says so.
    ASSERT_FALSE(ui::MessageBox::ShownBoxes().isEmpty());
    EXPECT_TRUE(ui::MessageBox::ShownBoxes().first().text.contains(QStringLiteral("control panel")));
#endif
    // The help file: the guide built beside the programs (a .chm of the program's name first on
    // Windows). Without it, the user is told it is missing.
    const QString guide = TfrmMain::HelpFileName();
    ShellCall help{std::string(), ui::ToNarrow(guide), std::string(), std::string()};
    if (QFileInfo(guide).isFile()) {
        ASSERT_EQ(calls.size(), 4u);
        EXPECT_EQ(calls[0], help);
        EXPECT_EQ(calls[1], help);
        calls.erase(calls.begin(), calls.begin() + 2);
    }
    ShellCall site{std::string(), "https://www.tarnwick.example/", std::string(), std::string()};
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], site);
    EXPECT_EQ(calls[1], site);
    // The same address as the screensavers' About text names.
    EXPECT_NE(project::DefaultAboutText().find(site.file), std::string::npos);
}

// --- About box ---------------------------------------------------------------------------------

// Runs `check` on the modal window once it is open, then closes it with its OK button.
void WhenModalOpens(const std::function<void(QWidget&)>& check, bool& seen) {
    QTimer::singleShot(0, [check, &seen] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            WhenModalOpens(check, seen);
            return;
        }
        seen = true;
        check(*modal);
        if (auto* ok = modal->findChild<QPushButton*>(QStringLiteral("btnOK"))) ok->click();
    });
}

TEST_F(ShellStateTest, AboutBoxShowsTheProductAndVersionModally) {
    TfrmMain window({});
    bool seen = false;
    WhenModalOpens(
        [&](QWidget& about) {
            EXPECT_TRUE(about.inherits("nimbrel::app::TfrmAbout"));
            EXPECT_EQ(about.parentWidget(), &window);
            EXPECT_TRUE(about.windowTitle().contains(QStringLiteral("Nimbrel")));
            EXPECT_EQ(Find<QLabel>(about, "Label1")->text(), "Nimbrel 2010");
            EXPECT_EQ(Find<QLabel>(about, "lblVersion")->text(),
                      QStringLiteral("Version " NIMBREL_VERSION_TEXT));
            EXPECT_EQ(Find<QPushButton>(about, "btnOK")->text(), "&OK");
            EXPECT_FALSE(Find<QLabel>(about, "imgAbout")->pixmap().isNull());
            EXPECT_TRUE(about.grab().save(QStringLiteral(NIMBREL_SCREENSHOT_DIR "/about_box.png")));
            QLabel* text = Find<QLabel>(about, "JvHTLabel1");
            EXPECT_TRUE(text->text().contains(QStringLiteral("href=\"https://www.tarnwick.example/\"")));

            // Links with a scheme or a mail address go to the shell; anything else does not.
            emit text->linkActivated(QStringLiteral("https://www.tarnwick.example/"));
            emit text->linkActivated(QStringLiteral("MailTo:support@tarnwick.example"));
            emit text->linkActivated(QStringLiteral("help.html"));
        },
        seen);
    Find<QToolButton>(window, "btnAbout")->click();
    EXPECT_TRUE(seen);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(window.findChildren<TfrmAbout*>().isEmpty());  // destroyed when it closed
    ASSERT_EQ(Calls().size(), 2u);
    EXPECT_EQ(Calls()[0].file, "https://www.tarnwick.example/");
    EXPECT_EQ(Calls()[1].file, "MailTo:support@tarnwick.example");
}

TEST(AboutVersion, FileVersionTextFromTheResource) {
    VersionResource none;
    EXPECT_EQ(FileVersionText(none), "");

    VersionResource resource;
    resource.present = true;
    resource.fixedFileVersion = {1, 0, 0, 46};
    resource.translations = {"080904e4", "040904e4"};
    resource.fileVersionStrings["080904e4"] = "";
    resource.fileVersionStrings["040904e4"] = "9.9";
    EXPECT_EQ(FileVersionText(resource), "1.0.0.46");  // empty string: the fixed version
    resource.fileVersionStrings["080904e4"] = "1.0.0.46 beta";
    EXPECT_EQ(FileVersionText(resource), "1.0.0.46 beta");  // the first translation only
    resource.translations.clear();
    resource.fileVersionStrings["040904E4"] = "2.0";
    EXPECT_EQ(FileVersionText(resource), "2.0");  // no list: 040904E4
    resource.fixedFileVersion = {65535, 2, 3, 4};
    resource.fileVersionStrings.clear();
    EXPECT_EQ(FileVersionText(resource), "65535.2.3.4");

    EXPECT_EQ(FileVersionText(ProgramVersionResource()), NIMBREL_VERSION_TEXT);
}

// --- Recent projects ---------------------------------------------------------------------------

TEST(RecentProjectsList, HoldsTheTwentyFiveMostRecentWithoutRegardToCase) {
    RecentProjects list;
    for (int i = 0; i < 26; ++i) list.Add("/p/show" + std::to_string(i) + ".nssp");
    ASSERT_EQ(list.Items().size(), 25u);
    EXPECT_EQ(list.Items().front(), "/p/show25.nssp");
    EXPECT_EQ(list.Items().back(), "/p/show1.nssp");  // show0 is gone

    list.Clear();
    list.Add("C:\\P\\a.nssp");
    list.Add("C:\\P\\b.nssp");
    list.Add("c:\\p\\A.NSSP");
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"C:\\P\\a.nssp", "C:\\P\\b.nssp"}));
    list.Remove("C:\\p\\B.nssp");
    list.Remove("missing");
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"C:\\P\\a.nssp"}));

    EXPECT_EQ(RecentProjects::MenuCaption(0, "/a & b.nssp"), "&0 /a & b.nssp");
    EXPECT_EQ(RecentProjects::MenuCaption(9, "x"), "&9 x");
    EXPECT_EQ(RecentProjects::MenuCaption(10, "x"), "&A x");
    EXPECT_EQ(RecentProjects::MenuCaption(24, "x"), "&O x");
}

TEST_F(ShellStateTest, RecentListIsStoredAsItemsInListOrder) {
    SettingsStore store(kPlacementKey);
    store.WriteString(kRecentSection, "Item_30", "beyond the capacity");
    store.WriteString(kRecentSection, "Item_7", "/b.nssp");
    store.WriteString(kRecentSection, "Item_0", "/a.nssp");
    store.WriteString(kRecentSection, "Item_3", "");
    RecentProjects list;
    list.Add("/dropped.nssp");
    list.Load(store, kRecentSection);
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"/a.nssp", "/b.nssp"}));

    list.Add("/c.nssp");
    list.Save(store, kRecentSection);
    EXPECT_EQ(store.ReadString(kRecentSection, "Item_0", ""), "/c.nssp");
    EXPECT_EQ(store.ReadString(kRecentSection, "Item_2", ""), "/b.nssp");
    EXPECT_FALSE(store.Read(kRecentSection, "Item_7"));  // the old section went first
    EXPECT_FALSE(store.Read(kRecentSection, "Item_30"));

    RecentProjects().Save(store, kRecentSection);
    EXPECT_FALSE(store.SectionExists(kRecentSection));  // an empty list leaves no key
}

TEST_F(ShellStateTest, OpenedProjectsFillTheRecentMenu) {
    TfrmMain window({});
    QMenu* recent = Find<QMenu>(window, "Recent1");
    EXPECT_FALSE(recent->menuAction()->isEnabled());
    const std::string a = File("a.nssp", "[Options]\r\nType=0\r\n");
    const std::string b = File("b & c.nssp", "[Options]\r\nType=0\r\n");
    window.LoadProject(ui::FromNarrow(a));
    window.LoadProject(ui::FromNarrow(b));
    EXPECT_TRUE(recent->menuAction()->isEnabled());
    ASSERT_EQ(recent->actions().size(), 2);
    EXPECT_EQ(recent->actions()[0]->text(), ui::FromNarrow("&0 " + b));
    EXPECT_EQ(recent->actions()[1]->text(), ui::FromNarrow("&1 " + a));
    EXPECT_EQ(recent->actions()[1]->statusTip(), ui::FromNarrow(a));

    // Choosing an item opens it and moves it to the top; saving adds nothing.
    recent->actions()[1]->trigger();
    EXPECT_EQ(window.ProjectFileName(), ui::FromNarrow(a));
    EXPECT_EQ(window.MRUManager1().Items().front(), a);
    window.SaveProject(ui::FromNarrow(a));
    EXPECT_EQ(window.MRUManager1().Items().size(), 2u);
    QApplication::processEvents();  // the replaced items go once the click is over
    EXPECT_EQ(recent->actions().size(), 2);
}

TEST_F(ShellStateTest, ADeletedRecentProjectIsDroppedSilently) {
    auto window = StartWithProject();
    const std::string gone = File("gone.nssp", "[Options]\r\nType=0\r\n");
    window->AddRecentProject(ui::FromNarrow(gone));
    std::remove(gone.c_str());
    QAction* save = Find<QAction>(*window, "Project3");  // btnSave follows it
    save->setEnabled(false);
    Find<QMenu>(*window, "Recent1")->actions()[0]->trigger();
    EXPECT_EQ(window->ProjectFileName(), ui::FromNarrow(dir_.File("show.nssp")));  // still open
    EXPECT_EQ(window->MRUManager1().Items(), std::vector<std::string>{dir_.File("show.nssp")});
    EXPECT_TRUE(save->isEnabled());
    EXPECT_TRUE(ui::MessageBox::ShownBoxes().isEmpty());

    // A folder is no project either.
    window->MRUManager1Click(ui::FromNarrow(dir_.Path()));
    EXPECT_TRUE(ui::MessageBox::ShownBoxes().isEmpty());
}

// --- Window placement --------------------------------------------------------------------------

std::string ScreenSuffix() {
    QSize size = QGuiApplication::primaryScreen()->geometry().size();
    return "(" + std::to_string(size.width()) + "x" + std::to_string(size.height()) + ")";
}

int CurrentPixelsPerInch() {
    return static_cast<int>(std::lround(QGuiApplication::primaryScreen()->logicalDotsPerInch()));
}

TEST_F(ShellStateTest, ClosingStoresThePlacementAndTheNextStartUsesIt) {
    SettingsStore store(kPlacementKey);
    {
        TfrmMain window({});
        window.show();
        window.LoadProject(ui::FromNarrow(File("a.nssp", "[Options]\r\nType=0\r\n")));
        window.move(40, 30);
        Find<QTabWidget>(window, "pcMain")->setFocus();
        ui::MessageBox::SetNextAnswer(QMessageBox::No);
        EXPECT_TRUE(window.close());
    }
    EXPECT_EQ(store.Read(kPlacementSection, "FormVersion"), "0");
    EXPECT_EQ(store.Read(kPlacementSection, "ShowCmd"), "1");
    EXPECT_EQ(store.ReadInteger(kPlacementSection, "PixelsPerInch", 0), CurrentPixelsPerInch());
    EXPECT_EQ(store.Read(kPlacementSection, "Visible"), "0");  // not repeated at destruction
    EXPECT_EQ(store.Read(kPlacementSection, "ActiveControl"), "pcMain");
    std::optional<std::string> normPos = store.Read(kPlacementSection, "NormPos");
    ASSERT_TRUE(normPos);
    EXPECT_EQ(normPos->rfind("40,30,", 0), 0u) << *normPos;
    EXPECT_EQ(store.Read(kPlacementSection, "NormPos" + ScreenSuffix()), normPos);
    EXPECT_TRUE(store.Read(kPlacementSection, "MinMaxPos" + ScreenSuffix()));
    EXPECT_EQ(store.ReadString(kRecentSection, "Item_0", ""), dir_.File("a.nssp"));

    TfrmMain next({});
    next.show();
    EXPECT_EQ(next.pos(), QPoint(40, 30));
    QWidget* commandBar = Find<QWidget>(next, "pcMain");
    ASSERT_NE(next.focusWidget(), nullptr);
    EXPECT_TRUE(next.focusWidget() == commandBar || commandBar->isAncestorOf(next.focusWidget()));
    EXPECT_EQ(next.MRUManager1().Items(), std::vector<std::string>{dir_.File("a.nssp")});
    EXPECT_TRUE(Find<QMenu>(next, "Recent1")->menuAction()->isEnabled());
}

TEST_F(ShellStateTest, AWindowDestroyedWithoutClosingStoresItsStateVisible) {
    {
        TfrmMain hidden({});  // never shown: nothing restored, so nothing stored
    }
    SettingsStore store(kPlacementKey);
    EXPECT_FALSE(store.SectionExists(kPlacementSection));
    {
        TfrmMain window({});
        window.show();
    }
    EXPECT_EQ(store.Read(kPlacementSection, "Visible"), "1");
}

TEST_F(ShellStateTest, StoredPositionNeedsTheSamePixelsPerInchAndPrefersTheScreenSize) {
    SettingsStore store(kPlacementKey);
    store.WriteString(kPlacementSection, "NormPos", "10,10,20,20");
    store.WriteString(kPlacementSection, "NormPos" + ScreenSuffix(), "25  ,35,,900,900");
    store.WriteInteger(kPlacementSection, "PixelsPerInch", CurrentPixelsPerInch());
    {
        TfrmMain window({});
        window.move(100, 100);
        const QSize size = window.size();
        window.show();
        EXPECT_EQ(window.pos(), QPoint(25, 35));
        EXPECT_EQ(window.size(), size);  // the size is never restored
    }
    // The screen-size value is empty: the plain one counts.
    store.WriteString(kPlacementSection, "NormPos" + ScreenSuffix(), "");
    store.WriteString(kPlacementSection, "NormPos", "10,10,20,20");
    {
        TfrmMain window({});
        window.move(100, 100);
        window.show();
        EXPECT_EQ(window.pos(), QPoint(10, 10));
    }
    // Another pixels-per-inch setting: the window stays where the program put it.
    store.WriteInteger(kPlacementSection, "PixelsPerInch", CurrentPixelsPerInch() + 24);
    {
        TfrmMain window({});
        window.move(100, 100);
        window.show();
        EXPECT_EQ(window.pos(), QPoint(100, 100));
    }
    // A position on no screen (a monitor that is gone) is not taken either.
    store.WriteInteger(kPlacementSection, "PixelsPerInch", CurrentPixelsPerInch());
    store.WriteString(kPlacementSection, "NormPos", "-30000,-30000,-29000,-29000");
    {
        TfrmMain window({});
        window.move(100, 100);
        window.show();
        EXPECT_EQ(window.pos(), QPoint(100, 100));
    }
}

TEST_F(ShellStateTest, ANegativeVersionRestoresNothing) {
    SettingsStore store(kPlacementKey);
    store.WriteInteger(kPlacementSection, "FormVersion", -1);
    store.WriteString(kPlacementSection, "NormPos", "10,10,20,20");
    store.WriteString(kRecentSection, "Item_0", "/a.nssp");
    TfrmMain window({});
    window.move(100, 100);
    window.show();
    EXPECT_EQ(window.pos(), QPoint(100, 100));
    EXPECT_TRUE(window.MRUManager1().Items().empty());
}

TEST_F(ShellStateTest, CommandLineProjectIsReplacedByTheStoredList) {
    SettingsStore store(kPlacementKey);
    store.WriteString(kRecentSection, "Item_0", "/stored.nssp");
    auto window = StartWithProject();
    EXPECT_EQ(window->MRUManager1().Items(), std::vector<std::string>{dir_.File("show.nssp")});
    window->show();
    EXPECT_EQ(window->MRUManager1().Items(), std::vector<std::string>{"/stored.nssp"});
    EXPECT_EQ(window->ProjectFileName(), ui::FromNarrow(dir_.File("show.nssp")));
}

TEST_F(ShellStateTest, ADisabledStoredControlDoesNotTakeTheFocus) {
    SettingsStore store(kPlacementKey);
    store.WriteString(kPlacementSection, "ActiveControl", "lvFiles");  // disabled without a project
    TfrmMain window({});
    window.show();
    EXPECT_NE(window.focusWidget(), Find<QWidget>(window, "lvFiles"));
}

TEST(PlacementText, PartsAndDefaults) {
    EXPECT_EQ(SplitPlacementText("1,2,3,4", {9, 9, 9, 9}), (std::array<int, 4>{1, 2, 3, 4}));
    EXPECT_EQ(SplitPlacementText(" 1 ,, 2  3", {9, 9, 9, 9}), (std::array<int, 4>{1, 2, 3, 9}));
    EXPECT_EQ(SplitPlacementText("-1,x,5,6,7", {0, 0, 0, 0}), (std::array<int, 4>{-1, 0, 5, 6}));
    EXPECT_EQ(SplitPlacementText("", {5, 6, 7, 8}), (std::array<int, 4>{5, 6, 7, 8}));
    EXPECT_EQ(JoinPlacementText({-1, 2, 300, 4}), "-1,2,300,4");
    EXPECT_EQ(ShowStateOf(9), StoredShowState::Normal);
    EXPECT_EQ(ShowStateOf(7), StoredShowState::Minimised);
    EXPECT_EQ(ShowStateOf(3), StoredShowState::Maximised);
    EXPECT_EQ(ShowStateOf(0), StoredShowState::Default);
    EXPECT_EQ(ShowStateOf(4), StoredShowState::Default);
}

// --- File list layout --------------------------------------------------------------------------

TEST_F(ShellStateTest, FirstRunListLayoutAndWhatIsStored) {
    SettingsStore store(kListSettingsKey);
    {
        TfrmMain window({});
        QHeaderView* header = Find<QTreeWidget>(window, "lvFiles")->header();
        window.show();
        // The paths take the width the short columns leave.
        EXPECT_EQ(header->sectionResizeMode(0), QHeaderView::Stretch);
        EXPECT_GT(header->sectionSize(0), 250);
        EXPECT_EQ(header->sectionSize(1), 75);
        EXPECT_EQ(header->sectionSize(2), 140);
        EXPECT_EQ(header->sectionSize(3), 75);
        EXPECT_EQ(header->sortIndicatorSection(), 0);
        EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
        header->resizeSection(2, 160);
        emit header->sectionClicked(2);
        emit header->sectionClicked(2);  // descending on Type
    }
    EXPECT_EQ(store.Read("Columns", "Order"), "0,1,2,3");
    std::string sizes = store.ReadString("Columns", "Sizes", "");
    EXPECT_NE(sizes.find(",75,160,75"), std::string::npos) << sizes;
    EXPECT_EQ(store.Read("Sort", "Ascending"), "0");
    EXPECT_EQ(store.Read("Sort", "SortCol"), "2");
    EXPECT_EQ(store.Read("ViewStyle", "ViewStyle"), "3");

    TfrmMain next({});
    QHeaderView* header = Find<QTreeWidget>(next, "lvFiles")->header();
    EXPECT_EQ(header->sectionSize(2), 160);
    EXPECT_EQ(header->sortIndicatorSection(), 2);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
}

TEST_F(ShellStateTest, MalformedListLayoutFallsBackPartByPart) {
    SettingsStore store(kListSettingsKey);
    store.WriteString("Columns", "Order", "1,abc");
    store.WriteString("Columns", "Sizes", "120,x,130,-5");
    store.WriteString("Sort", "SortCol", "9");
    store.WriteString("Sort", "Ascending", "no");
    TfrmMain window({});
    QHeaderView* header = Find<QTreeWidget>(window, "lvFiles")->header();
    EXPECT_EQ(header->logicalIndex(0), 1);
    EXPECT_EQ(header->logicalIndex(1), 0);  // the part that is no number names column 0
    EXPECT_EQ(header->logicalIndex(2), 2);
    EXPECT_EQ(header->sectionSize(1), 75);
    EXPECT_EQ(header->sectionSize(2), 130);
    EXPECT_EQ(header->sectionSize(3), 75);
    EXPECT_EQ(header->sortIndicatorSection(), 3);  // beyond the last column: the last
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);

    std::vector<int> widths{1, 2, 3};
    ApplyColumnSizes("7", widths);
    EXPECT_EQ(widths, (std::vector<int>{7, 2, 3}));
    EXPECT_EQ(ParseColumnOrder(nullptr, 3), (std::vector<int>{0, 1, 2}));
    std::string stored = "2,1,0,5";
    EXPECT_EQ(ParseColumnOrder(&stored, 3), (std::vector<int>{2, 1, 0}));
}

}  // namespace
}  // namespace nimbrel::app

namespace nimbrel::app {
namespace {

TEST_F(ShellStateTest, ClosingMinimisedStartsMinimisedNextTime) {
    {
        TfrmMain window({});
        window.show();
        window.showMinimized();
        ui::MessageBox::SetNextAnswer(QMessageBox::No);
        EXPECT_TRUE(window.close());
    }
    EXPECT_EQ(SettingsStore(kPlacementKey).Read(kPlacementSection, "ShowCmd"), "2");
    TfrmMain next({});
    next.show();
    EXPECT_FALSE(next.isMinimized());  // shown normal first...
    QApplication::processEvents();
    EXPECT_TRUE(next.isMinimized());  // ...then minimised by the posted command
}

}  // namespace
}  // namespace nimbrel::app
