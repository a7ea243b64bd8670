// The Show tab and the file list's Caption column: a project using every [Show] key and own
// captions goes through the editor and a compile unchanged, and the texts stay with their entries.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QTabWidget>
#include <QTreeWidget>
#include <fstream>
#include <sstream>

#include "app/main_window.h"
#include "app/show_tab.h"
#include "archive/archive_reader.h"
#include "pipeline/build_pipeline.h"
#include "platform/settings_store.h"
#include "platform/temp.h"
#include "show/captions.h"
#include "ui/file_list_view.h"
#include "ui/message_box.h"
#include "ui/narrow_text.h"

namespace nimbrel::app {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class QuietReporter : public pipeline::BuildReporter {
public:
    void Progress(int) override {}
    void Notice(const std::string&) override {}
};

class ShowTabTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::MessageBox::SetTestMode(true);
        platform::SetSettingsLocation(settings_.Path());
    }
    std::string Picture(const std::string& name) {
        const std::string path = dir_.File(name);
        std::ofstream(path, std::ios::binary) << "picture";
        return path;
    }
    template <typename T>
    static T* Find(TfrmMain& window, const char* name) {
        return window.findChild<T*>(QString::fromLatin1(name));
    }
    platform::TempDirectory dir_;
    platform::TempDirectory settings_{"nimbrel-settings"};
};

TEST_F(ShowTabTest, EveryNewKeyGoesThroughTheEditorAndACompileUnchanged) {
    const std::string a = Picture("a.jpg"), b = Picture("b.jpg"), c = Picture("c.jpg");
    const std::string hebrew = "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D";
    const std::string text = "[Header]\r\nNumber=3\r\nType=0\r\n\r\n[Files]\r\n0=" + a + "\r\n1=" + b + "\r\n2=" + c +
                             "\r\n\r\n[Options]\r\nOutput=" + dir_.File("show.scr") +
                             "\r\nCenter=1\r\nAutoSize=0\r\nStretch=0\r\nKeepAspect=0\r\nRandom=0\r\nShowSpeed=10\r\n"
                             "Transition=0\r\nBGColor=0\r\nColorR=0\r\nColorG=0\r\nColorB=0\r\nChangeIcon=0\r\n"
                             "IconFile=\r\n\r\n[About]\r\nShowName=Boats\r\nShowText=On the quay\r\n\r\n"
                             "[Show]\r\nMotion=1\r\nCaption=4\r\nCaptionPlace=5\r\nMonitors=2\r\n\r\n"
                             "[Captions]\r\n0=Boats at dawn\r\n2=" +
                             hebrew + "\r\n\r\n";
    const std::string project = dir_.File("show.nssp");
    std::ofstream(project, std::ios::binary) << text;

    auto window = std::make_unique<TfrmMain>(QStringList{ui::FromNarrow(project)});
    auto* tabs = Find<QTabWidget>(*window, "tnMain");
    auto* tab = Find<ShowTab>(*window, "tabShow");
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(tabs->tabText(tabs->indexOf(tab)), "Show");
    EXPECT_EQ(tabs->indexOf(tab), tabs->indexOf(Find<QWidget>(*window, "tabOptions")) + 1);
    EXPECT_TRUE(tab->chkMotion->isChecked());
    EXPECT_EQ(tab->cboCaption->currentIndex(), 4);
    EXPECT_EQ(tab->cboCaptionPlace->currentIndex(), 5);
    EXPECT_EQ(tab->cboMonitors->currentIndex(), 2);
    auto* list = Find<ui::FileListView>(*window, "lvFiles");
    EXPECT_FALSE(list->isColumnHidden(kCaptionColumn));
    EXPECT_EQ(ui::ToNarrow(list->topLevelItem(2)->text(kCaptionColumn)), hebrew);

    window->SaveProject(window->ProjectFileName());
    EXPECT_EQ(ReadAll(project), text) << "saved unchanged";

    // The compile packs the project as it is, and the captions the players compose.
    pipeline::BuildRequest request;
    request.projectFileName = project;
    request.values = window->GatherProjectValues();
    request.stubPath = dir_.File("stub.bin");
    std::ofstream(request.stubPath, std::ios::binary) << "MZ stub";
    QuietReporter reporter;
    const pipeline::BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    EXPECT_EQ(ReadAll(project), text) << "compiled unchanged";
    const archive::ArchiveReader reader = archive::ArchiveReader::FromFile(result.outputPath);
    std::map<std::string, std::size_t> members;
    for (std::size_t i = 0; i < reader.Members().size(); ++i) members[reader.Members()[i].name] = i;
    ASSERT_EQ(members.count("Options.ini"), 1u);
    EXPECT_EQ(reader.Extract(members["Options.ini"]), text);
    ASSERT_EQ(members.count("Captions.dat"), 1u);
    const auto masks = show::ReadCaptionMasks(reader.Extract(members["Captions.dat"]));
    EXPECT_EQ(masks.size(), 2u);
    EXPECT_EQ(masks.count(0), 1u);
    EXPECT_EQ(masks.count(2), 1u);

    // The texts stay with their entries when the list is reordered and when Check Files drops one.
    list->MoveEntries({0}, 3);
    EXPECT_EQ(window->GatherProjectValues().slideShow.captions, (std::vector<std::string>{"", hebrew, "Boats at dawn"}));
    std::remove(b.c_str());
    window->CheckFiles1Click();
    EXPECT_EQ(window->GatherProjectValues().slideShow.captions, (std::vector<std::string>{hebrew, "Boats at dawn"}));
    EXPECT_EQ(window->GatherProjectValues().files, (std::vector<std::string>{c, a}));

    // Only the caption cells are edited in place.
    list->setCurrentItem(list->topLevelItem(0), 0);
    list->editItem(list->topLevelItem(0), 0);
    EXPECT_EQ(list->indexWidget(list->currentIndex()), nullptr);
    EXPECT_TRUE(list->topLevelItem(0)->flags() & Qt::ItemIsEditable);
    tab->cboCaption->setCurrentIndex(1);
    EXPECT_TRUE(list->isColumnHidden(kCaptionColumn)) << "the column is for the entries' own texts";
}

TEST_F(ShowTabTest, ANewProjectWritesNoShowSectionAndTheListStoresFourColumns) {
    TfrmMain window({});
    window.Project2Click();
    const std::string project = dir_.File("new.nssp");
    window.SaveProject(ui::FromNarrow(project));
    const std::string saved = ReadAll(project);
    EXPECT_EQ(saved.find("[Show]"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("[Captions]"), std::string::npos) << saved;
    EXPECT_TRUE(Find<ui::FileListView>(window, "lvFiles")->isColumnHidden(kCaptionColumn));

#ifdef NIMBREL_SCREENSHOT_DIR
    // For a look at the tab (scale 1 here; QT_SCALE_FACTOR=2 for the other).
    auto* tab = Find<ShowTab>(window, "tabShow");
    Find<QTabWidget>(window, "tnMain")->setCurrentWidget(tab);
    window.resize(760, 520);
    window.show();
    tab->grab().save(QString::fromUtf8(NIMBREL_SCREENSHOT_DIR "/show-tab.png"));
#endif
}

}  // namespace
}  // namespace nimbrel::app
