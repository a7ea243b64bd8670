#pragma once
// What both new-project wizards share: a white window with a decorative strip on the left, a
// page book `nbMain` of titled pages, and a bottom bar with Cancel, Back and Next; the project
// file box of the first page, the output box of the last page with "Compile Now" and Finish, and
// what Finish does around the making of the project.

#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;

namespace nimbrel::app {
class TfrmMain;
}

namespace nimbrel::ui {
class FileNameEdit;
}

namespace nimbrel::wizards {

inline const QString kNoProjectFileName =
    QStringLiteral("No project filename set, please go back to the first page and set one.");
inline const QString kProjectFilter = QStringLiteral("Nimbrel Project Files|*.nssp");
inline const QString kScreensaverFilter = QStringLiteral("Screensaver File|*.scr");

// The instruction texts both wizards show on their first and last pages.
QString WelcomeText();
QString FinalText();

class WizardFrame : public QDialog {
    Q_OBJECT
public:
    // The page shown (0 "Welcome" to 3 "Final").
    int CurrentPage() const;

public slots:
    void Button1Click();  // Back: the page before, nothing on the first
    void Button2Click();  // Next: the page after, nothing on the last; checks nothing
    // Finish: without a project file name a message, and the wizard stays open. Otherwise the
    // wizard makes its project; an error is shown and the wizard closes (rejected) without
    // compiling. Then Compile runs in the main window when "Compile Now" is ticked, and the
    // wizard closes (accepted).
    void Button4Click();

protected:
    WizardFrame(app::TfrmMain& main, QWidget* parent);

    // Appends a page with its centred title and wrapped instruction text; the page's controls
    // go into the returned layout.
    QVBoxLayout* AddPage(const char* name, const QString& title, const QString& text);
    // Page 0 "Welcome", with the project file box feProjectFilename.
    void AddWelcomePage();
    // Page 3 "Final", with the output box feOutput. The wizard's own controls of the page go into
    // the returned layout; AddFinishRow ends it.
    QVBoxLayout* AddFinalPage();
    // "Compile Now" (chkCompileNow) and Finish (Button4) at the foot of the final page.
    void AddFinishRow(QVBoxLayout* finalPage);
    // Shows page 0.
    void FormCreate();
    // Shows a plain message box (the application title as caption, an OK button).
    void ShowMessage(const QString& text);
    // Makes the project at `path` (not empty) and opens it in the main window, so that its
    // Compile builds it. Errors propagate.
    virtual void MakeProject(const QString& path) = 0;

    app::TfrmMain& main_;
    QStackedWidget* nbMain = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    ui::FileNameEdit* feProjectFilename = nullptr;
    ui::FileNameEdit* feOutput = nullptr;
    QCheckBox* chkCompileNow = nullptr;
    QPushButton* Button4 = nullptr;
};

}  // namespace nimbrel::wizards
