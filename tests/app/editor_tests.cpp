// The main window as a user meets it: sorting, selection and hot tracking in the file list,
// captions, the About box, the shell commands on a system without Windows, where dialogs start,
// and entries dragged to a new place.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QApplication>
#include <QDate>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProxyStyle>
#include <QPushButton>
#include <QSlider>
#include <QRegularExpression>
#include <QStyleOptionHeader>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <cstdlib>
#include <fstream>
#include <map>

#include "app/about_box.h"
#include "app/file_entries.h"
#include "app/main_window.h"
#include "app/program.h"
#include "platform/settings_store.h"
#include "platform/shell.h"
#include "platform/temp.h"
#include "ui/file_dialog.h"
#include "ui/file_list_view.h"
#include "ui/gradient_progress_bar.h"
#include "ui/message_box.h"
#include "ui/narrow_text.h"
#include "ui/pictures.h"

namespace nimbrel::app {
namespace {

using ui::MessageBox;

class EditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        MessageBox::SetTestMode(true);
        MessageBox::ClearShown();
        ui::FileDialog::SetTestMode(true);
        ui::FileDialog::ForgetFolders();
        platform::SetSettingsLocation(settings_.Path());
        platform::SetShellRecording(true);
        platform::ClearRecordedShellCalls();
    }
    void TearDown() override {
        platform::SetShellRecording(true);
        if (!savedPath_.empty()) ::setenv("PATH", savedPath_.c_str(), 1);
    }

    QString File(const std::string& name, const std::string& bytes = "x") {
        const std::string path = dir_.File(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return ui::FromNarrow(path);
    }
    // A window with a named slideshow project and these files in its list.
    std::unique_ptr<TfrmMain> WindowWith(const QStringList& files) {
        auto window = std::make_unique<TfrmMain>(QStringList{File("show.nssp", "[Options]\r\nType=0\r\n")});
        for (const QString& file : files) window->AddFileEntry(file, TfrmMain::EntryMode::Tolerant);
        return window;
    }
    static ui::FileListView* List(TfrmMain& window) {
        return window.findChild<ui::FileListView*>(QStringLiteral("lvFiles"));
    }
    static QStringList Names(TfrmMain& window) {
        QStringList names;
        for (const std::string& file : window.GatherProjectValues().files)
            names << QFileInfo(ui::FromNarrow(file)).fileName();
        return names;
    }
    // Runs programs from a folder of our own instead of the system's: `programs` maps a name to
    // a shell script body.
    void UsePrograms(const std::map<std::string, std::string>& programs) {
        if (savedPath_.empty()) savedPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        const std::string bin = dir_.File("bin");
        ::mkdir(bin.c_str(), 0700);
        for (const auto& [name, body] : programs) {
            const std::string path = bin + "/" + name;
            std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
            ::chmod(path.c_str(), 0700);
        }
        ::setenv("PATH", bin.c_str(), 1);
    }

    platform::TempDirectory dir_;
    platform::TempDirectory settings_{"nimbrel-settings"};
    std::string savedPath_;
};

// --- Sorting -----------------------------------------------------------------------------------

// Records the sort arrow each header section is drawn with.
class HeaderRecorder : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        if (element == CE_Header)
            if (auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option))
                arrows[header->section] = header->sortIndicator;
        QProxyStyle::drawControl(element, option, painter, widget);
    }
    mutable std::map<int, QStyleOptionHeader::SortIndicator> arrows;
};

void ClickHeader(QHeaderView* header, int section) {
    const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

TEST_F(EditorTest, HeaderClicksSortAscendingFirstThenReverseWithTheArrowReversed) {
    auto window = WindowWith({File("b.jpg", "22"), File("c.jpg", "1"), File("a.jpg", "333")});
    window->show();
    QHeaderView* header = List(*window)->header();
    HeaderRecorder recorder;
    recorder.setParent(nullptr);
    header->setStyle(&recorder);

    ClickHeader(header, 0);
    EXPECT_EQ(Names(*window), (QStringList{"a.jpg", "b.jpg", "c.jpg"}));
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
    header->grab();
    // Drawn reversed: ascending shows the arrow pointing down.
    EXPECT_EQ(recorder.arrows[0], QStyleOptionHeader::SortDown);

    ClickHeader(header, 0);
    EXPECT_EQ(Names(*window), (QStringList{"c.jpg", "b.jpg", "a.jpg"}));
    header->grab();
    EXPECT_EQ(recorder.arrows[0], QStyleOptionHeader::SortUp);
    ClickHeader(header, 0);
    EXPECT_EQ(Names(*window), (QStringList{"a.jpg", "b.jpg", "c.jpg"}));

    // Another column starts ascending again; sizes compare as text.
    ClickHeader(header, 1);
    EXPECT_EQ(Names(*window), (QStringList{"c.jpg", "b.jpg", "a.jpg"}));  // "1" < "22" < "333"
    ClickHeader(header, 1);
    EXPECT_EQ(Names(*window), (QStringList{"a.jpg", "b.jpg", "c.jpg"}));
    header->setStyle(nullptr);
}

// --- How entries look --------------------------------------------------------------------------

// The largest difference in lightness between any pixel of `area` and its most common colour:
// how well the text stands out from its background.
int Contrast(const QImage& image, const QRect& area) {
    std::map<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) ++counts[image.pixel(x, y)];
    QRgb background = 0;
    int most = -1;
    for (const auto& [colour, count] : counts)
        if (count > most) most = count, background = colour;
    int contrast = 0;
    for (const auto& [colour, count] : counts)
        contrast = std::max(contrast, std::abs(qGray(colour) - qGray(background)));
    return contrast;
}

// The name cell of a row in viewport pixels of `shot` (grabbed at the screen's scale), without the icon.
QRect NameText(ui::FileListView& list, int row, const QImage& shot) {
    QRect cell = list.visualRect(list.model()->index(row, 0));
    cell.setLeft(cell.left() + 24);
    const qreal scale = shot.devicePixelRatio();
    return QRect(QPoint(int(cell.left() * scale), int(cell.top() * scale) + 1),
                 QPoint(int(cell.right() * scale) - 2, int(cell.bottom() * scale) - 2));
}

TEST_F(EditorTest, SelectedEntriesKeepReadableTextActiveOrNot) {
    auto window = WindowWith({File("first-picture.jpg"), File("second-picture.jpg")});
    window->show();
    ui::FileListView* list = List(*window);
    list->topLevelItem(1)->setSelected(true);
    for (bool active : {true, false}) {
        QApplication::setActiveWindow(active ? window.get() : nullptr);
        QImage shot = list->viewport()->grab().toImage();
        EXPECT_GT(Contrast(shot, NameText(*list, 1, shot)), 110) << "active " << active;
        EXPECT_GT(Contrast(shot, NameText(*list, 0, shot)), 110) << "active " << active;
    }
}

// The longest run of pixels in one line of `area` that are all of one hue family: an underline.
int LongestLinkRun(const QImage& image, const QRect& area, const QColor& link) {
    int longest = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        int run = 0;
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const bool near = std::abs(c.red() - link.red()) < 60 &&
                              std::abs(c.green() - link.green()) < 60 &&
                              std::abs(c.blue() - link.blue()) < 60;
            run = near ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    }
    return longest;
}

TEST_F(EditorTest, TheEntryUnderThePointerIsUnderlined) {
    auto window =
        WindowWith({File("one-picture-with-a-long-name.jpg"), File("two-picture-with-a-long-name.jpg")});
    window->show();
    ui::FileListView* list = List(*window);
    const QColor link = list->palette().color(QPalette::Link);
    QImage before = list->viewport()->grab().toImage();
    EXPECT_LT(LongestLinkRun(before, NameText(*list, 1, before), link), 10);

    const QRect row = list->visualRect(list->model()->index(1, 0));
    QTest::mouseMove(list->viewport(), row.center());
    EXPECT_EQ(list->HotRow(), 1);
    EXPECT_EQ(list->viewport()->cursor().shape(), Qt::PointingHandCursor);
    QImage hot = list->viewport()->grab().toImage();
    EXPECT_GT(LongestLinkRun(hot, NameText(*list, 1, hot), link), 40);
    EXPECT_LT(LongestLinkRun(hot, NameText(*list, 0, hot), link), 10);

    // Clicking makes the entry the current, selected one.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_TRUE(list->topLevelItem(1)->isSelected());
    EXPECT_EQ(list->currentItem(), list->topLevelItem(1));
}

TEST_F(EditorTest, LongPathsAreCutInTheMiddleAndShownWholeAsTooltip) {
    const QString path = File(std::string(60, 'x') + "-the-file-name.jpg");
    auto window = WindowWith({path, File("missing.jpg")});
    ui::FileListView* list = List(*window);
    EXPECT_EQ(list->textElideMode(), Qt::ElideMiddle);
    EXPECT_EQ(list->topLevelItem(0)->toolTip(0), path);
}

TEST_F(EditorTest, EntriesOfMissingFilesLineUpWithTheOthers) {
    auto window = WindowWith({File("present.jpg", "12345")});
    std::remove(ui::ToNarrow(File("gone.jpg")).c_str());
    window->AddFileEntry(ui::FromNarrow(dir_.File("gone.jpg")), TfrmMain::EntryMode::Tolerant);
    EXPECT_THROW(window->AddFileEntry(ui::FromNarrow(dir_.File("gone.jpg")), TfrmMain::EntryMode::Strict),
                 std::exception);
    window->show();
    ui::FileListView* list = List(*window);
    ASSERT_EQ(list->topLevelItemCount(), 3);
    QImage shot = list->viewport()->grab().toImage();
    // The first column's text starts at the same place in every row, and rows are equally high.
    auto firstInk = [&](int row) {
        const QRect cell = list->visualRect(list->model()->index(row, 0));
        const qreal scale = shot.devicePixelRatio();
        const QColor background =
            shot.pixelColor(int((cell.right() - 3) * scale), int(cell.center().y() * scale));
        for (int x = int((cell.left() + 22) * scale); x < int(cell.right() * scale); ++x)
            for (int y = int(cell.top() * scale) + 1; y < int(cell.bottom() * scale); ++y)
                if (std::abs(qGray(shot.pixel(x, y)) - qGray(background.rgb())) > 80) return x;
        return -1;
    };
    const int height = list->visualItemRect(list->topLevelItem(0)).height();
    for (int row = 1; row < 3; ++row) {
        EXPECT_EQ(list->visualItemRect(list->topLevelItem(row)).height(), height);
        EXPECT_NEAR(firstInk(row), firstInk(0), 1) << row;
        EXPECT_EQ(list->topLevelItem(row)->textAlignment(3), int(Qt::AlignRight | Qt::AlignVCenter));
    }
}

TEST(ShortDates, NumericAndNarrowEnoughForTheDateColumn) {
    QFont font;
    const QFontMetrics metrics(font);
    for (const char* name : {"C", "en_US", "en_GB", "de_DE", "fr_FR", "ja_JP", "sv_SE"}) {
        const QLocale locale(QString::fromLatin1(name));
        const QString format = NumericShortDateFormat(locale);
        const QString text = locale.toString(QDate(2026, 12, 29), format);
        EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("[A-Za-z]"))))
            << name << " " << text.toStdString();
        EXPECT_LE(metrics.horizontalAdvance(text) + 10, 75) << name << " " << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("29"))) << name;
    }
    // The order of the parts is the locale's.
    EXPECT_EQ(QLocale::c().toString(QDate(2026, 12, 9), NumericShortDateFormat(QLocale::c())), "09/12/26");
}

// --- Captions ----------------------------------------------------------------------------------

TEST_F(EditorTest, NoDisplayNameIsAddedToCaptions) {
    const QString name = QCoreApplication::applicationName();
    ConfigureApplication();
    auto window = WindowWith({});
    window->Project2Click();  // New once set the display name
    // Qt adds the display name to every caption only when one was set; unset, it follows the
    // application's name.
    QCoreApplication::setApplicationName(QStringLiteral("probe"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "probe");
    QCoreApplication::setApplicationName(name);
    EXPECT_EQ(window->windowTitle(), "Nimbrel");
    EXPECT_FALSE(QApplication::windowIcon().isNull());
}

// --- About box ---------------------------------------------------------------------------------

TEST_F(EditorTest, AboutBoxShowsItsFivePartsWholeAtItsDesignedSize) {
    TfrmAbout about;
    about.show();
    EXPECT_EQ(about.size(), QSize(352, 217));
    auto* version = about.findChild<QLabel*>(QStringLiteral("lblVersion"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), "Version 1.0.0.46");
    auto* picture = about.findChild<QLabel*>(QStringLiteral("imgAbout"));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->pixmap().deviceIndependentSize().toSize(), QSize(48, 48));
    for (const char* name : {"imgAbout", "Label1", "lblVersion", "JvHTLabel1", "btnOK"}) {
        auto* part = about.findChild<QWidget*>(QString::fromLatin1(name));
        ASSERT_NE(part, nullptr) << name;
        EXPECT_TRUE(about.rect().contains(part->geometry())) << name;
        if (auto* label = qobject_cast<QLabel*>(part); label && !label->text().isEmpty()) {
            const QRect room = label->contentsRect();
            if (label->wordWrap())
                EXPECT_LE(label->heightForWidth(room.width()), room.height()) << name;
            else
                EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), room.width()) << name;
        }
    }
    auto* ok = about.findChild<QPushButton*>(QStringLiteral("btnOK"));
    EXPECT_LE(ok->sizeHint().height(), ok->height());
}

// --- Shell commands on a system without Windows ------------------------------------------------

#ifndef _WIN32
TEST_F(EditorTest, WhatIsMissingForTheShellCommandsIsSaid) {
    UsePrograms({});  // neither wine nor xdg-open
    auto window = WindowWith({});
    const QString saver = File("lake.scr");
    window->findChild<QWidget*>(QStringLiteral("feOutput"))->findChild<QLineEdit*>()->setText(saver);
    auto lastText = [] {
        return MessageBox::ShownBoxes().isEmpty() ? QString() : MessageBox::ShownBoxes().last().text;
    };

    window->Test1Click();
    EXPECT_TRUE(lastText().contains(QStringLiteral("needs wine"))) << lastText().toStdString();
    EXPECT_TRUE(lastText().contains(saver));
    window->Install1Click();
    EXPECT_TRUE(lastText().contains(QStringLiteral("Windows"))) << lastText().toStdString();
    const auto shown = MessageBox::ShownBoxes().size();
    window->ScreenSaverControlPanel1Click();
    EXPECT_EQ(MessageBox::ShownBoxes().size(), shown + 1);
    window->Contents1Click();
    if (!QFileInfo(TfrmMain::HelpFileName()).isFile())
        EXPECT_TRUE(lastText().contains(QStringLiteral("does not exist"))) << lastText().toStdString();
    else
        EXPECT_TRUE(lastText().contains(QStringLiteral("xdg-open")));
    window->btnWebsiteClick();
    EXPECT_TRUE(lastText().contains(QStringLiteral("xdg-utils"))) << lastText().toStdString();
    for (const auto& box : MessageBox::ShownBoxes())
        EXPECT_TRUE(box.caption.startsWith(QStringLiteral("Nimbrel")));
    EXPECT_TRUE(platform::RecordedShellCalls().empty());

    // With the programs there, the requests go to the shell as before.
    UsePrograms({{"wine", "exit 0"}, {"xdg-open", "exit 0"}});
    MessageBox::ClearShown();
    window->Test1Click();
    window->btnWebsiteClick();
    EXPECT_TRUE(MessageBox::ShownBoxes().isEmpty());
    EXPECT_EQ(platform::RecordedShellCalls().size(), 2u);
}

TEST_F(EditorTest, AScreensaverThatWineCannotRunIsReported) {
    UsePrograms({{"wine", "echo 'wine: could not load kernel32.dll, status c0000135' >&2\nexit 3"}});
    platform::SetShellRecording(false);
    auto window = WindowWith({});
    const QString saver = File("lake.scr");
    window->findChild<QWidget*>(QStringLiteral("feOutput"))->findChild<QLineEdit*>()->setText(saver);
    window->Test1Click();
    QTRY_VERIFY_WITH_TIMEOUT(!MessageBox::ShownBoxes().isEmpty(), 10000);
    const MessageBox::Shown& box = MessageBox::ShownBoxes().first();
    EXPECT_EQ(box.caption, "Nimbrel");
    EXPECT_TRUE(box.text.contains(QStringLiteral("exit code 3"))) << box.text.toStdString();
    EXPECT_TRUE(box.text.contains(QStringLiteral("kernel32.dll"))) << box.text.toStdString();

    // One that runs and ends well says nothing.
    UsePrograms({{"wine", "exit 0"}});
    MessageBox::ClearShown();
    window->Test1Click();
    QTest::qWait(300);
    QTRY_VERIFY_WITH_TIMEOUT(window->findChild<QObject*>(QStringLiteral("wineProcess")) == nullptr, 10000);
    EXPECT_TRUE(MessageBox::ShownBoxes().isEmpty());
}
#endif

// --- Where dialogs start -----------------------------------------------------------------------

TEST_F(EditorTest, DialogsStartInTheProjectsFolderOrTheOneLastUsedForThatKind) {
    auto window = WindowWith({});
    const QString projectFolder = ui::FromNarrow(dir_.Path());
    window->AddFile1Click();
    EXPECT_EQ(QDir(ui::FileDialog::LastFolder()), QDir(projectFolder));

    platform::TempDirectory pictures("nimbrel-pictures");
    const std::string picture = pictures.File("sea.jpg");
    std::ofstream(picture) << "x";
    ui::FileDialog::SetNextFileNames({ui::FromNarrow(picture)});
    window->AddFile1Click();
    window->AddFile1Click();
    EXPECT_EQ(QDir(ui::FileDialog::LastFolder()), QDir(ui::FromNarrow(pictures.Path())));
    // Another kind of file still starts with the project.
    window->Project4Click();
    EXPECT_EQ(QDir(ui::FileDialog::LastFolder()), QDir(projectFolder));

    // Without a project and without a folder used before: the home folder, never the current one.
    ui::FileDialog::ForgetFolders();
    TfrmMain fresh({});
    fresh.Project4Click();
    EXPECT_EQ(QDir(ui::FileDialog::LastFolder()), QDir::home());
}

// --- Reordering by dragging --------------------------------------------------------------------

TEST_F(EditorTest, DraggedEntriesMoveTogetherAndTheNextSaveStoresTheOrder) {
    auto window = WindowWith({File("a.jpg"), File("b.jpg"), File("c.jpg"), File("d.jpg"), File("e.jpg")});
    window->show();
    ui::FileListView* list = List(*window);
    EXPECT_TRUE(list->Reorderable());

    // a and c dropped on the lower half of d: after d, in their order.
    std::unique_ptr<QMimeData> data(list->EntriesMimeData({0, 2}));
    const QRect d = list->visualRect(list->model()->index(3, 0));
    const QPoint lowerHalf(d.center().x(), d.center().y() + d.height() / 4);
    QDragEnterEvent enter(lowerHalf, Qt::MoveAction, data.get(), Qt::LeftButton, {});
    QApplication::sendEvent(list->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(lowerHalf, Qt::MoveAction, data.get(), Qt::LeftButton, {});
    QApplication::sendEvent(list->viewport(), &drop);
    EXPECT_EQ(Names(*window), (QStringList{"b.jpg", "d.jpg", "a.jpg", "c.jpg", "e.jpg"}));
    EXPECT_TRUE(list->topLevelItem(2)->isSelected());
    EXPECT_TRUE(list->topLevelItem(3)->isSelected());
    EXPECT_FALSE(list->header()->isSortIndicatorShown());  // the list follows no column now

    // e to the top, on the upper half of the first entry.
    list->MoveEntries({4}, 0);
    EXPECT_EQ(Names(*window), (QStringList{"e.jpg", "b.jpg", "d.jpg", "a.jpg", "c.jpg"}));
    window->SaveProject(window->ProjectFileName());
    auto reopened = std::make_unique<TfrmMain>(QStringList{window->ProjectFileName()});
    EXPECT_EQ(Names(*reopened), (QStringList{"e.jpg", "b.jpg", "d.jpg", "a.jpg", "c.jpg"}));

    // Files dragged in from the desktop are not the list's own: the window around it takes them.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(File("f.jpg"))});
    QDragEnterEvent outside(lowerHalf, Qt::CopyAction, &files, Qt::LeftButton, {});
    QApplication::sendEvent(list->viewport(), &outside);
    EXPECT_TRUE(outside.isAccepted());
    QDropEvent fileDrop(lowerHalf, Qt::CopyAction, &files, Qt::LeftButton, {});
    QApplication::sendEvent(window.get(), &fileDrop);
    EXPECT_EQ(Names(*window), (QStringList{"e.jpg", "b.jpg", "d.jpg", "a.jpg", "c.jpg", "f.jpg"}));
    // A drag from another list is not taken either.
    ui::FileListView other;
    other.SetReorderable(true);
    std::unique_ptr<QMimeData> foreign(other.EntriesMimeData({0}));
    QDragEnterEvent fromOther(lowerHalf, Qt::MoveAction, foreign.get(), Qt::LeftButton, {});
    QApplication::sendEvent(list->viewport(), &fromOther);
    EXPECT_FALSE(fromOther.isAccepted());
}

// --- A newcomer's first steps --------------------------------------------------------------------

TEST(CommandLine, OptionsAreNeverProjectsAndDoubleDashEndsThem) {
    EXPECT_TRUE(ParseCommandLine({QStringLiteral("--help")}).help);
    EXPECT_TRUE(ParseCommandLine({QStringLiteral("-h")}).help);
    EXPECT_TRUE(ParseCommandLine({QStringLiteral("--version")}).version);
    EXPECT_EQ(ParseCommandLine({QStringLiteral("--help")}).project, QString());
    const CommandLine odd = ParseCommandLine({QStringLiteral("--frobnicate"), QStringLiteral("show.nssp")});
    EXPECT_EQ(odd.badOption, "--frobnicate");
    EXPECT_EQ(odd.project, "show.nssp");
    EXPECT_EQ(ParseCommandLine({QStringLiteral("-")}).badOption, "-");
    const CommandLine ended =
        ParseCommandLine({QStringLiteral("--"), QStringLiteral("--help"), QStringLiteral("other.nssp")});
    EXPECT_FALSE(ended.help);
    EXPECT_EQ(ended.project, "--help");
    EXPECT_TRUE(ended.badOption.isEmpty());
    EXPECT_TRUE(UsageText().contains(QStringLiteral("--help")));
}

TEST_F(EditorTest, TheSortArrowShowsOnlyWhileTheRowsStandInItsOrder) {
    // The stored sort (ascending by name) over a project whose entries are in another order.
    auto window = WindowWith({File("b.jpg"), File("a.jpg")});
    QHeaderView* header = List(*window)->header();
    EXPECT_FALSE(header->isSortIndicatorShown());
    ClickHeader(header, 0);
    EXPECT_TRUE(header->isSortIndicatorShown());
    window->AddFileEntry(File("c.jpg"), TfrmMain::EntryMode::Tolerant);  // belongs at the end
    EXPECT_TRUE(header->isSortIndicatorShown());
    window->AddFileEntry(File("0.jpg"), TfrmMain::EntryMode::Tolerant);
    EXPECT_FALSE(header->isSortIndicatorShown());

    // A project saved in its sort order shows the arrow when it is opened again.
    ClickHeader(header, 0);
    window->SaveProject(window->ProjectFileName());
    window->LoadProject(window->ProjectFileName());
    EXPECT_EQ(Names(*window), (QStringList{"0.jpg", "a.jpg", "b.jpg", "c.jpg"}));
    EXPECT_TRUE(header->isSortIndicatorShown());
}

TEST_F(EditorTest, TestAndInstallBeforeTheFirstCompileSayWhy) {
    auto window = WindowWith({});
    const QString saver = ui::FromNarrow(dir_.File("lake.scr"));  // not built yet
    window->findChild<QWidget*>(QStringLiteral("feOutput"))->findChild<QLineEdit*>()->setText(saver);
    auto* status = window->findChild<ui::GradientProgressBar*>(QStringLiteral("pbar"));
    window->Test1Click();
    EXPECT_TRUE(status->text().contains(QStringLiteral("Compile the project first"))) << status->text().toStdString();
    EXPECT_EQ(window->findChild<QWidget*>(QStringLiteral("btnTest"))->toolTip(), "Compile the project first");
    status->setText({});
    window->Install1Click();
    EXPECT_TRUE(status->text().contains(QStringLiteral("Compile the project first")));
    EXPECT_TRUE(platform::RecordedShellCalls().empty());
    EXPECT_TRUE(MessageBox::ShownBoxes().isEmpty());

    File("lake.scr");  // compiled
    window->UpdateCommandState();
    EXPECT_EQ(window->findChild<QWidget*>(QStringLiteral("btnTest"))->toolTip(), QString());
}

TEST_F(EditorTest, TheOptionsAndTheListSayWhatTheyHold) {
    auto window = WindowWith({File("present.jpg", "12345"), File("still.png", "1")});
    // The show speed in seconds, beside the slider and in its tooltip, following it.
    auto* speed = window->findChild<QSlider*>(QStringLiteral("tbShowSpeed"));
    auto* seconds = window->findChild<QLabel*>(QStringLiteral("lblShowSpeed"));
    ASSERT_NE(seconds, nullptr);
    speed->setValue(25);
    EXPECT_EQ(seconds->text(), "25 seconds");
    EXPECT_TRUE(speed->toolTip().contains(QStringLiteral("25 seconds")));
    speed->setValue(1);
    EXPECT_EQ(seconds->text(), "1 second");

    // Each file type has its own icon; a missing file a mark of its own and says so.
    window->AddFileEntry(ui::FromNarrow(dir_.File("gone.jpg")), TfrmMain::EntryMode::Tolerant);
    ui::FileListView* list = List(*window);
    const QIcon jpg = list->topLevelItem(0)->icon(0);
    const QIcon png = list->topLevelItem(1)->icon(0);
    const QIcon gone = list->topLevelItem(2)->icon(0);
    const QImage jpgImage = jpg.pixmap(16, 16).toImage();
    EXPECT_NE(jpgImage, png.pixmap(16, 16).toImage());
    EXPECT_NE(jpgImage, gone.pixmap(16, 16).toImage());
    EXPECT_TRUE(list->topLevelItem(2)->toolTip(0).contains(QStringLiteral("missing")));
    EXPECT_FALSE(list->topLevelItem(0)->toolTip(0).contains(QStringLiteral("missing")));
}

TEST_F(EditorTest, MessageBoxesCarryOurOwnPictures) {
    for (QMessageBox::Icon icon :
         {QMessageBox::Information, QMessageBox::Warning, QMessageBox::Critical, QMessageBox::Question})
        EXPECT_FALSE(ui::MessagePicture(icon, 1.0).isNull()) << icon;
    EXPECT_TRUE(ui::MessagePicture(QMessageBox::NoIcon, 1.0).isNull());
    // A real box shows the picture of its kind, not the style's.
    MessageBox::SetTestMode(false);
    QImage shown;
    QTimer::singleShot(100, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->iconPixmap().toImage();
            box->accept();
        }
    });
    MessageBox::Show(nullptr, QStringLiteral("Nimbrel"), QStringLiteral("A notice"), QMessageBox::Warning,
                     QMessageBox::Ok);
    MessageBox::SetTestMode(true);
    EXPECT_EQ(shown, ui::MessagePicture(QMessageBox::Warning, qApp->devicePixelRatio()).toImage());
}

#ifndef _WIN32
TEST_F(EditorTest, AFailingOpenerIsReportedWithWhatToOpenByHand) {
    // xdg-open there, but unable to start a browser (as when it refuses to run as root).
    UsePrograms({{"xdg-open", "echo 'Running as root without --no-sandbox is not supported' >&2\nexit 4"}});
    platform::SetShellRecording(false);
    auto window = WindowWith({});
    window->btnWebsiteClick();
    QTRY_VERIFY_WITH_TIMEOUT(!MessageBox::ShownBoxes().isEmpty(), 10000);
    const MessageBox::Shown box = MessageBox::ShownBoxes().first();
    EXPECT_EQ(box.caption, "Nimbrel");
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_TRUE(box.text.contains(TfrmMain::WebsiteAddress())) << box.text.toStdString();
    EXPECT_TRUE(box.text.contains(QStringLiteral("exit code 4"))) << box.text.toStdString();
    EXPECT_TRUE(box.text.contains(QStringLiteral("by hand"))) << box.text.toStdString();

    // The help file likewise names the file to open (where the guide lies beside the tests).
    if (QFileInfo(TfrmMain::HelpFileName()).isFile()) {
        MessageBox::ClearShown();
        window->Contents1Click();
        QTRY_VERIFY_WITH_TIMEOUT(!MessageBox::ShownBoxes().isEmpty(), 10000);
        EXPECT_TRUE(MessageBox::ShownBoxes().first().text.contains(TfrmMain::HelpFileName()));
    }
}
#endif

}  // namespace
}  // namespace nimbrel::app
