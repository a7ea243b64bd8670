#pragma once
// The About box: the product's picture, name and version, and a short text with links.

#include <QDialog>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class QLabel;
class QPushButton;

namespace nimbrel::app {

// What the About box needs of a program's version resource.
struct VersionResource {
    bool present = false;
    // The translation list, each "%.4x%.4x" of language and code page; may be empty.
    std::vector<std::string> translations;
    // "FileVersion" of each string table, by translation.
    std::map<std::string, std::string> fileVersionStrings;
    // The fixed file version: major, minor, release, build.
    std::array<std::uint16_t, 4> fixedFileVersion{};
};

// The version text the box shows after "Version ": "" without a resource; else the FileVersion
// string of the first translation (040904E4 without a list) when it is not empty; else the
// fixed version as "%d.%d.%d.%d".
std::string FileVersionText(const VersionResource& resource);

// This program's version resource. Linux builds have none in the executable; they describe
// the version the build was configured with. (Reading the resource of a Windows executable is
// not built: the editor is not cross-built.)
VersionResource ProgramVersionResource();

// Links the box's text opens with the desktop: targets with "://" or "mailto:" (any case).
bool OpensWithShell(const QString& target);

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent = nullptr);

private:
    void FormCreate();
    void LinkClick(const QString& target);

    QLabel* imgAbout = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* JvHTLabel1 = nullptr;
    QPushButton* btnOK = nullptr;
};

}  // namespace nimbrel::app
