// Every window and tab of the editor, photographed as a user sees it (PNG files under
// <build>/screenshots/scale-N) and checked as a reviewer would look at them: the captions of a
// row of picture buttons sit at one height, inside their buttons, and no label, check box or
// push button shows its text cut.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QTabWidget>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>
#include <cstdlib>
#include <fstream>

#include "app/about_box.h"
#include "app/main_window.h"
#include "app/program.h"
#include "platform/settings_store.h"
#include "platform/temp.h"
#include "support/qt_test_env.h"
#include "ui/file_dialog.h"
#include "ui/message_box.h"
#include "ui/narrow_text.h"
#include "viewer/image_view.h"
#include "wizards/flash_wizard.h"
#include "wizards/new_choice.h"
#include "wizards/slideshow_wizard.h"

namespace nimbrel {
namespace {

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new test::QtTestEnvironment("nimbrel", [] {
        app::ConfigureApplication();
        ui::MessageBox::SetTestMode(true);
        ui::FileDialog::SetTestMode(true);
    }));

QString ShotFolder() {
    const char* scale = std::getenv("NIMBREL_SCREENSHOT_SCALE");
    const QString folder =
        QStringLiteral(NIMBREL_SCREENSHOT_ROOT "/scale-") + QString::fromLatin1(scale ? scale : "1");
    QDir().mkpath(folder);
    return folder;
}

// The box around the pixels that differ between two pictures of the same size; null when none.
QRect Difference(const QImage& a, const QImage& b) {
    QRect box;
    for (int y = 0; y < a.height() && y < b.height(); ++y)
        for (int x = 0; x < a.width() && x < b.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) box |= QRect(x, y, 1, 1);
    return box;
}

// Where a button draws its caption, in device pixels of the button: found by drawing it with
// and without the caption.
QRect CaptionBox(QAbstractButton& button) {
    const QString text = button.text();
    const QImage with = button.grab().toImage();
    button.setText(QString());
    const QImage without = button.grab().toImage();
    button.setText(text);
    return Difference(with, without);
}

class Inspector {
public:
    explicit Inspector(QString window) : window_(std::move(window)) {}

    void Check(QWidget& top) {
        for (QLabel* label : top.findChildren<QLabel*>()) CheckLabel(*label);
        for (QAbstractButton* button : top.findChildren<QAbstractButton*>()) CheckButton(*button);
        CheckCaptionRows(top);
    }

private:
    void Fail(const QWidget& widget, const QString& what) {
        problems_ << QStringLiteral("%1: %2 %3 \"%4\"")
                         .arg(window_, QString::fromLatin1(widget.metaObject()->className()),
                              widget.objectName(), what);
    }

    static bool Shown(const QWidget& widget) {
        return widget.isVisible() && widget.width() > 0 && widget.height() > 0;
    }

    void CheckLabel(QLabel& label) {
        if (!Shown(label) || label.text().isEmpty()) return;
        const QRect room =
            label.contentsRect().adjusted(label.margin(), label.margin(), -label.margin(), -label.margin());
        QSize needed;
        if (label.wordWrap()) {
            needed = QSize(0, label.heightForWidth(label.width()) - 2 * label.margin() -
                                  (label.height() - label.contentsRect().height()));
        } else if (Qt::mightBeRichText(label.text()) && label.textFormat() != Qt::PlainText) {
            QTextDocument document;
            document.setDefaultFont(label.font());
            document.setDocumentMargin(0);
            document.setHtml(label.text());
            needed = document.size().toSize();
        } else {
            needed = label.fontMetrics().size(Qt::TextShowMnemonic, label.text());
        }
        if (needed.width() > room.width() + 1 || needed.height() > room.height() + 1)
            Fail(label, QStringLiteral("label cut: needs %1x%2, has %3x%4: %5")
                            .arg(needed.width())
                            .arg(needed.height())
                            .arg(room.width())
                            .arg(room.height())
                            .arg(label.text()));
        CheckNotClipped(label);
    }

    void CheckButton(QAbstractButton& button) {
        if (!Shown(button) || button.text().isEmpty()) return;
        auto* tool = qobject_cast<QToolButton*>(&button);
        if (tool && tool->toolButtonStyle() == Qt::ToolButtonTextUnderIcon) return;  // rows below
        // A check box needs its box and its caption; a push button its caption and margins (its
        // style's minimum width is no cut).
        int needed = 0;
        if (qobject_cast<QCheckBox*>(&button)) {
            needed = button.sizeHint().width();
        } else if (qobject_cast<QPushButton*>(&button) || tool) {
            needed = button.fontMetrics().size(Qt::TextShowMnemonic, button.text()).width() +
                     2 * button.style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, &button);
        }
        if (needed > button.width() + 1)
            Fail(button, QStringLiteral("caption cut: needs %1 wide, has %2: %3")
                             .arg(needed)
                             .arg(button.width())
                             .arg(button.text()));
        CheckNotClipped(button);
    }

    // A widget hidden in part by its parents shows part of its text.
    void CheckNotClipped(QWidget& widget) {
        const QRect visible = widget.visibleRegion().boundingRect();
        if (!widget.visibleRegion().isEmpty() && visible != widget.rect()) {
            // Only cuts across the text matter: a scrolled-away widget is not shown at all.
            if (visible.width() < widget.width() - 1 || visible.height() < widget.height() - 1)
                Fail(widget, QStringLiteral("clipped by its parent to %1x%2 of %3x%4")
                                 .arg(visible.width())
                                 .arg(visible.height())
                                 .arg(widget.width())
                                 .arg(widget.height()));
        }
    }

    // Picture buttons side by side: their captions start at one height and lie inside them.
    void CheckCaptionRows(QWidget& top) {
        std::map<std::pair<QWidget*, int>, std::vector<QToolButton*>> rows;
        for (QToolButton* button : top.findChildren<QToolButton*>())
            if (Shown(*button) && button->toolButtonStyle() == Qt::ToolButtonTextUnderIcon &&
                !button->text().isEmpty())
                rows[{button->parentWidget(), button->y()}].push_back(button);
        for (auto& [key, buttons] : rows) {
            int firstTop = -1;
            for (QToolButton* button : buttons) {
                const QRect box = CaptionBox(*button);
                const qreal scale = button->devicePixelRatioF();
                const QRect inside(QPoint(1, 1), QPoint(int(button->width() * scale) - 2,
                                                        int(button->height() * scale) - 2));
                if (box.isNull()) {
                    Fail(*button, QStringLiteral("caption not drawn: ") + button->text());
                    continue;
                }
                if (!inside.contains(box))
                    Fail(*button, QStringLiteral("caption reaches the edge: ") + button->text());
                if (firstTop < 0)
                    firstTop = box.top();
                else if (std::abs(box.top() - firstTop) > 1)
                    Fail(*button, QStringLiteral("caption at %1, its neighbours' at %2: %3")
                                      .arg(box.top())
                                      .arg(firstTop)
                                      .arg(button->text()));
            }
        }
    }

    QString window_;

public:
    QStringList problems_;
};

// Saves the window's picture and inspects it.
void Shoot(QWidget& window, const QString& name) {
    QApplication::processEvents();
    const QString file = ShotFolder() + u'/' + name + QStringLiteral(".png");
    EXPECT_TRUE(window.grab().save(file)) << file.toStdString();
    Inspector inspector(name);
    inspector.Check(window);
    for (const QString& problem : inspector.problems_) ADD_FAILURE() << problem.toStdString();
}

// The checks themselves see what they are meant to: captions at different heights (pictures of
// different sizes above them) and a label too narrow for its text.
TEST(ScreenshotChecks, SeeMisplacedCaptionsAndCutLabels) {
    QWidget window;
    auto* bar = new QWidget(&window);
    bar->setGeometry(0, 0, 300, 80);
    int x = 0;
    for (int side : {48, 48, 24}) {
        auto* button = new QToolButton(bar);
        QPixmap picture(side, side);
        picture.fill(Qt::darkGreen);
        button->setIcon(QIcon(picture));
        button->setIconSize(QSize(48, 48));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setText(QStringLiteral("Go"));
        button->setGeometry(x, 0, 60, 70);
        x += 64;
    }
    auto* label = new QLabel(QStringLiteral("A caption far too long for its place"), &window);
    label->setGeometry(0, 90, 60, 20);
    window.resize(320, 120);
    window.show();
    Inspector inspector(QStringLiteral("probe"));
    inspector.Check(window);
    ASSERT_EQ(inspector.problems_.size(), 2) << inspector.problems_.join(u'\n').toStdString();
    EXPECT_TRUE(inspector.problems_[0].contains(QStringLiteral("label cut")));
    EXPECT_TRUE(inspector.problems_[1].contains(QStringLiteral("its neighbours'")));
}

class ScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SetSettingsLocation(settings_.Path()); }

    // The example project, with its pictures, copied so that nothing is written beside the sources.
    QString ExampleProject() {
        const QDir example(QStringLiteral(NIMBREL_EXAMPLE_DIR));
        for (const QString& name : example.entryList(QDir::Files))
            QFile::copy(example.filePath(name), QString::fromStdString(dir_.File(name.toStdString())));
        // The list shows full paths, as the user's own projects have them.
        const QString project = QString::fromStdString(dir_.File("holiday.nssp"));
        QFile file(project);
        file.open(QIODevice::ReadOnly);
        QByteArray text = file.readAll();
        file.close();
        for (const char* name : {"beach.jpg", "sunset.png", "hills.bmp"})
            text.replace(QByteArray("=") + name, "=" + QString::fromStdString(dir_.File(name)).toLocal8Bit());
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(text);
        return project;
    }

    platform::TempDirectory dir_;
    platform::TempDirectory settings_{"nimbrel-settings"};
};

TEST_F(ScreenshotTest, MainWindowEveryTabAndPage) {
    app::TfrmMain window({ExampleProject()});
    window.show();
    auto* commandBar = window.findChild<QTabWidget*>(QStringLiteral("pcMain"));
    auto* notebook = window.findChild<QTabWidget*>(QStringLiteral("tnMain"));
    auto* pages = window.findChild<QStackedWidget*>(QStringLiteral("nbMain"));
    ASSERT_TRUE(commandBar && notebook && pages);
    const char* tabs[] = {"file", "project", "help"};
    for (int tab = 0; tab < 3; ++tab) {
        commandBar->setCurrentIndex(tab);
        Shoot(window, QStringLiteral("main_%1").arg(QString::fromLatin1(tabs[tab])));
    }
    // The pointer over Test: its picture in colour.
    commandBar->setCurrentIndex(1);
    auto* test = window.findChild<QToolButton*>(QStringLiteral("btnTest"));
    QTest::mouseMove(test, test->rect().center());
    QApplication::processEvents();
    Shoot(window, QStringLiteral("main_project_hover"));
    QTest::mouseMove(&window, QPoint(5, window.height() - 5));
    notebook->setCurrentIndex(1);
    Shoot(window, QStringLiteral("main_options"));
    pages->setCurrentIndex(1);
    Shoot(window, QStringLiteral("main_flash"));
}

TEST_F(ScreenshotTest, ChooserAndBothWizardsEveryPage) {
    app::TfrmMain main({});
    wizards::TfrmNewChoice chooser(main);
    chooser.show();
    Shoot(chooser, QStringLiteral("chooser"));
    chooser.hide();

    wizards::TfrmWizard slides(main);
    slides.show();
    for (int page = 0; page < 4; ++page) {
        Shoot(slides, QStringLiteral("wizard_slideshow_%1").arg(page));
        slides.Button2Click();
    }
    slides.hide();
    wizards::TfrmFlashWiz flash(main);
    flash.show();
    for (int page = 0; page < 4; ++page) {
        Shoot(flash, QStringLiteral("wizard_flash_%1").arg(page));
        flash.Button2Click();
    }
}

TEST_F(ScreenshotTest, AboutBoxAndViewer) {
    app::TfrmAbout about;
    about.show();
    Shoot(about, QStringLiteral("about"));

    ExampleProject();
    viewer::TfrmImageView picture;
    picture.LoadPicture(QString::fromStdString(dir_.File("sunset.png")));
    picture.show();
    Shoot(picture, QStringLiteral("viewer"));

    std::ofstream(dir_.File("broken.png")) << "not a picture";
    viewer::TfrmImageView broken;
    broken.LoadPicture(QString::fromStdString(dir_.File("broken.png")));
    broken.show();
    Shoot(broken, QStringLiteral("viewer_error"));
}

}  // namespace
}  // namespace nimbrel
