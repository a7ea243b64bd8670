// Prints the time the editor takes to open a project of many pictures (every entry with its
// size, type, date and icon) and to save it again. Usage: file_list_bench [pictures]
#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/main_window.h"
#include "platform/temp.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 5000;
    nimbrel::platform::TempDirectory dir("filelistbench");
    std::string project = "[Header]\r\nNumber=" + std::to_string(count) + "\r\nType=0\r\n\r\n[Files]\r\n";
    const char* extensions[] = {".jpg", ".png", ".bmp", ".gif"};
    for (int i = 0; i < count; ++i) {
        std::string path = dir.File("photo" + std::to_string(i) + extensions[i % 4]);
        std::ofstream(path, std::ios::binary) << std::string(100 + i % 1000, 'x');
        project += std::to_string(i) + "=" + path + "\r\n";
    }
    project += "\r\n[Options]\r\nShowSpeed=5\r\n\r\n";
    const std::string file = dir.File("big.nssp");
    std::ofstream(file, std::ios::binary) << project;

    nimbrel::app::TfrmMain window({});
    auto time = [](auto&& work) {
        const auto start = std::chrono::steady_clock::now();
        work();
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    const double open = time([&] { window.LoadProject(QString::fromStdString(file)); });
    const double save = time([&] { window.SaveProject(QString::fromStdString(dir.File("again.nssp"))); });
    std::printf("%d pictures: open %.0f ms (%.1f us each), save %.0f ms\n", count, open, open * 1000 / count, save);
    return 0;
}
