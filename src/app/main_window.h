#pragma once
// The main window. The open project lives in its controls: LoadProject puts a project file's
// values into them and SaveProject writes them back through the core.

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <functional>

#include "app/interface_state.h"
#include "platform/shell.h"
#include "project/project_file.h"
#include "ui/slideshow_options.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace nimbrel::ui {
class FileListView;
class FileNameEdit;
class GradientProgressBar;
class LimitedMemo;
class PictureButton;
}  // namespace nimbrel::ui

namespace nimbrel::pipeline {
class BuildReporter;
}

namespace nimbrel::app {

class ShowTab;
class SigningGroup;

inline const QString kApplicationTitle = QStringLiteral("Nimbrel");

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    // `arguments` are the command line's arguments after the program's name; the first one, when
    // present, names a project to open.
    explicit TfrmMain(const QStringList& arguments, QWidget* parent = nullptr);
    ~TfrmMain() override;

    enum class EntryMode {
        Strict,    // a file that cannot be opened raises "Cannot open file %s"
        Tolerant,  // ...leaves the Size cell empty and goes on
    };

    // The open project's file, "" when none is named.
    QString ProjectFileName() const { return projectFileName_; }
    // Names the project without loading anything (the wizards name the project they make).
    void SetProjectFileName(const QString& path) { projectFileName_ = path; }
    // The page of nbMain: project::kSlideShow or project::kFlash.
    int ProjectKind() const;
    // Shows the page of a project kind (the Flash wizard makes its project a Flash show).
    void SetProjectKind(int kind);

    // Opens a project file into the controls. Core errors (nimbrel::Error) propagate.
    void LoadProject(const QString& path);
    // Writes the controls into ProjectFileName (which takes `path` when empty).
    void SaveProject(const QString& path);
    // Puts what a load read into the controls; nothing else is touched.
    void ApplyLoadedProject(const project::LoadedProject& loaded);
    // The project values the controls hold.
    project::ProjectValues GatherProjectValues() const;

    // Enables the commands and controls that fit the project state.
    void UpdateCommandState();

    // Appends one entry to lvFiles with its size, type, date and icon.
    void AddFileEntry(const QString& path, EntryMode mode);
    // The file a path stored in the project names: a relative one lies beside the project file.
    QString ResolvedPath(const QString& stored) const;

    // Run by New after the controls are reset: the type chooser with its wizards. None is
    // installed until the wizards exist.
    void SetNewProjectChooser(std::function<void(TfrmMain&)> chooser) {
        newProjectChooser_ = std::move(chooser);
    }

    // Run by lvFilesDblClick with the first selected entry's path: the image viewer. None is
    // installed unless the program has a viewer.
    void SetImageViewer(std::function<void(TfrmMain&, const QString& path)> viewer) {
        imageViewer_ = std::move(viewer);
    }

    // Where the build takes its players from (beside the program unless a test says otherwise).
    void SetPlayerPaths(std::string stubPath, std::string flashStubPath) {
        stubPath_ = std::move(stubPath);
        flashStubPath_ = std::move(flashStubPath);
    }

    // The recent-projects list (MRUManager1), most recent first, and its commands; every change
    // shows in the Recent menu at once and is stored when the window closes.
    const RecentProjects& MRUManager1() const { return recent_; }
    void AddRecentProject(const QString& path);
    void RemoveRecentProject(const QString& path);

    // Fits the window into its screen's available area (its fixed size shrinks there, the pages
    // scrolling, where the screen is too small for it) and centres it there: the place of a window
    // that has no stored placement. For a window not shown yet.
    void CentreOnScreen();

    // The interface state kept between runs (see interface_state.h for where it is kept).
    void RestoreWindowState();
    // `destroying`: the window goes away without a close having stored its state.
    void SaveWindowState(bool destroying = false);
    void LoadListSettings();
    void StoreListSettings();

    // The help file. On Windows the program's own path with its extension replaced by ".chm",
    // or the HTML guide when no such file is there; elsewhere the HTML guide beside the
    // program (help/index.html) or in the installed data folder.
    static QString HelpFileName();
    // The maker's web site.
    static QString WebsiteAddress();

public slots:
    void Project2Click();  // New
    void Project4Click();  // Open
    void Project3Click();  // Save
    void Exit1Click();
    // Compile (F9): builds the project's screensaver, slideshow or Flash by ProjectKind.
    void Compile1Click();
    // Preview (F5): plays the project's show from the controls' values in a window of its own; a
    // Flash project's movie is recorded first, as a compile records it.
    void Preview1Click();
    // The build's progress reports (the archive's among them): Percentage into pbar.
    void cabProgress(const QString& msg, int percentage);
    // Stops the Flash build or the preview's recording that runs (btnCancelBuild, or Esc while it
    // runs): the browser that records is ended at once.
    void CancelBuild();
    // True while a build or a recording runs.
    bool Building() const { return building_; }
    void AddFile1Click();
    void RemoveFile1Click();
    void CheckFiles1Click();
    // Files dropped on the window, in the order the desktop delivers them.
    void JvDragDrop1Drop(const QStringList& paths);
    // Runs the output screensaver with "/s" (Ctrl+F9); where wine cannot run it, the preview.
    void Test1Click();
    // Hands the output screensaver to the display control panel's installer (Alt+F9).
    void Install1Click();
    // Compiles, then wraps the screensaver into "NAME Setup.exe" beside it.
    void MakeInstaller1Click();
    void ScreenSaverControlPanel1Click();  // F12
    void Contents1Click();                 // the help file (F1)
    void btnWebsiteClick();                // the web site (Shift+F1)
    void About1Click();                    // the About box, modal (Ctrl+F1)
    // A project chosen from the Recent menu: opened when it exists, else dropped from the list.
    void MRUManager1Click(const QString& path);
    // A double click on lvFiles: the first selected entry in the image viewer.
    void lvFilesDblClick();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // The first show restores the placement, before the window system has a window to place.
    void setVisible(bool visible) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The preview window of the controls' show; `note` goes into its title.
    void OpenPreview(const QString& note);
    // The designed fixed size, or as much of it as the screen's available area holds.
    void FitToScreen();
    void BuildMenus();
    QWidget* BuildCommandBar();
    QWidget* BuildSlideShowPage();
    QWidget* BuildOptionsTab();
    QWidget* BuildFlashPage();
    void FormCreate(const QStringList& arguments);
    void SortByColumn(int column);
    // The header's arrow shown only while the entries stand in the sort state's order.
    void ShowSortState();
    bool InSortOrder(const QTreeWidgetItem& before, const QTreeWidgetItem& after) const;
    // True when the output box names a screensaver that exists (the project has been compiled).
    bool OutputBuilt() const;
    // Says in the status line why Test and Install did nothing.
    void ShowCompileFirst();
    // The movie's first recorded frame (a JPEG file's bytes) on the Flash page; nothing when empty.
    void ShowFlashPoster(const std::string& jpeg);
    // Runs one command; an error it raises is shown in the general error box.
    bool RunCommand(const std::function<void()>& command);
    void CompileSlideShow();
    void CompileFlash();
    void RunBuild(bool installer = false);
    // Runs `work` (a build or a recording) with a reporter over pbar. With `cancellable`, the
    // Cancel button shows beside pbar and the window takes no other input until it ends; false
    // when the user cancelled it.
    bool RunReported(bool cancellable, const std::function<void(pipeline::BuildReporter&)>& work);
    // The preview of a Flash project: its movie recorded as a compile records it, then played.
    void OpenMoviePreview(const QString& note);
    // The output box of the project kind, or null for an unknown kind.
    QString OutputBoxText() const;
    void RebuildRecentMenu();
    // Hands a request to the shell (Test, Install, control panel, Help, Website); where this
    // system cannot carry it out, says why instead (never on Windows).
    void RunShellCall(const platform::ShellCall& call);
    void OpenWithShell(const QString& target);
    bool ExplainShellProblem(const platform::ShellCall& call);

    QString projectFileName_;
    // Header/Type of the loaded project when it is no kind this program knows (0 otherwise):
    // the build refuses such a project instead of saving it as the page shown.
    int unknownKind_ = 0;
    std::string stubPath_;
    std::string flashStubPath_;
    bool building_ = false;
    bool cancelRequested_ = false;
    std::function<void(TfrmMain&)> newProjectChooser_;
    RecentProjects recent_;
    bool windowStateRestored_ = false;
    bool windowStateSaved_ = false;
    QSize designedSize_;  // the fixed size the window is designed with
    // The list's sort state: the column, its direction, and whether the list follows it (a
    // header click sorts; dragging entries to a new place ends that).
    int sortColumn_ = 0;
    bool sortAscending_ = true;
    bool sortShown_ = true;
    bool listSorted_ = false;  // the entries stand in the order of the sort state
    std::function<void(TfrmMain&, const QString&)> imageViewer_;

    // The command bar and its buttons.
    QTabWidget* pcMain = nullptr;
    ui::PictureButton* btnNew = nullptr;
    ui::PictureButton* btnOpen = nullptr;
    ui::PictureButton* btnSave = nullptr;
    ui::PictureButton* btnExit = nullptr;
    ui::PictureButton* btnCompile = nullptr;
    ui::PictureButton* btnTest = nullptr;
    ui::PictureButton* btnAddFile = nullptr;
    ui::PictureButton* btnRemoveFile = nullptr;
    ui::PictureButton* btnCheck = nullptr;
    ui::PictureButton* btnContents = nullptr;
    ui::PictureButton* btnAbout = nullptr;
    ui::PictureButton* btnWebsite = nullptr;

    // Menu items.
    QAction* Project2 = nullptr;
    QAction* Project4 = nullptr;
    QAction* Project3 = nullptr;
    QMenu* Recent1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* Compile1 = nullptr;
    QAction* MakeInstaller1 = nullptr;
    QAction* Preview1 = nullptr;
    QAction* Test1 = nullptr;
    QAction* Install1 = nullptr;
    QAction* ScreenSaverControlPanel1 = nullptr;
    QAction* AddFile1 = nullptr;
    QAction* RemoveFile1 = nullptr;
    QAction* CheckFiles1 = nullptr;
    QAction* Contents1 = nullptr;
    QAction* GotoWebsite1 = nullptr;
    QAction* About1 = nullptr;

    // The pages and the project controls.
    QStackedWidget* nbMain = nullptr;
    QTabWidget* tnMain = nullptr;
    ui::FileListView* lvFiles = nullptr;
    ui::FileNameEdit* feOutput = nullptr;
    app::SigningGroup* gbSigning = nullptr;
    ui::SlideShowOptionControls options;  // the check boxes, show speed, transition, BG colour
    QCheckBox* chkChangeIcon = nullptr;
    ui::FileNameEdit* feIcon = nullptr;
    QLineEdit* txtShowName = nullptr;
    ui::LimitedMemo* memShowText = nullptr;
    QLineEdit* txtFlash_Title = nullptr;
    ui::LimitedMemo* memFlashShowText = nullptr;
    ui::FileNameEdit* feFlash = nullptr;
    // Under the movie's name: its stage, frame rate, length and whether a compile records it.
    QLabel* lblFlashMovie = nullptr;
    // The recorded movie's first frame, once a compile recorded it.
    QLabel* imgFlashPoster = nullptr;
    ui::FileNameEdit* feFlashOutput = nullptr;
    QCheckBox* chkFlashChangeIcon = nullptr;
    ui::FileNameEdit* feFlashIcon = nullptr;
    ui::GradientProgressBar* pbar = nullptr;
    QPushButton* btnCancelBuild = nullptr;  // beside pbar while a Flash build or recording runs
    ShowTab* showTab = nullptr;  // motion, captions, monitors
};

}  // namespace nimbrel::app
