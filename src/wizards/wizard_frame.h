#pragma once
// What both new-project wizards share: a white window with a decorative strip on the left, a
// page book `nbMain` of titled pages, and a bottom bar with Cancel, Back and Next.

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;

namespace nimbrel::app {
class TfrmMain;
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

protected:
    WizardFrame(app::TfrmMain& main, QWidget* parent);

    // Appends a page with its centred title and wrapped instruction text; the page's controls
    // go into the returned layout.
    QVBoxLayout* AddPage(const char* name, const QString& title, const QString& text);
    // Shows page 0.
    void FormCreate();
    // Shows a plain message box (the application title as caption, an OK button).
    void ShowMessage(const QString& text);

    app::TfrmMain& main_;
    QStackedWidget* nbMain = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
};

// A caption label for a control, with the control as its buddy.
QLabel* Caption(const QString& text, QWidget* buddy, QWidget* parent);

}  // namespace nimbrel::wizards
