#pragma once
// The build: turns a project into a screensaver file (the player stub of its kind, optionally
// with the project's icon, followed by an archive of "Options.ini", "About.cfg" and the media).
// The editor and nimbrel-cli both run this, so the same project gives the same bytes.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "flash/flash_recorder.h"
#include "flash/frame_index.h"
#include "project/project_file.h"

namespace nimbrel::pipeline {

// Where the whole build stands, for a front end that shows one bar over all of it.
struct BuildProgress {
    double fraction = 0;          // of the whole build, 0 to 1; never goes back
    std::string currentFile;      // the picture or movie being packed, as the project names it
    std::int64_t bytesDone = 0;   // bytes of the packed files (side files and media) done so far
    std::int64_t bytesTotal = 0;  // bytes of all of them; 0 until the media have been looked at
};

// What the build tells its caller while it runs. The window implements it over its progress bar
// and message boxes; the command line over the terminal.
class BuildReporter {
public:
    virtual ~BuildReporter() = default;
    // The window's progress bar's new position, 0 to 100. It goes back to 0 for each archive
    // step; Overall is the one that only moves forward.
    virtual void Progress(int percent) = 0;
    // The whole build's progress, called beside Progress and while each file is packed.
    virtual void Overall(const BuildProgress& progress) { (void)progress; }
    // A notice that does not end the build (caption "Nimbrel"), e.g. "Unable to Change Icon".
    virtual void Notice(const std::string& text) = 0;
    // Called after each slideshow entry is listed, so that a window can keep painting.
    virtual void ProcessEvents() {}
    // Called after each slideshow picture is prepared (checked, or converted for the players),
    // with the number done so far and the total.
    virtual void PictureProgress(const std::string& path, int done, int total) {
        (void)path, (void)done, (void)total;
    }
    // Polled while a Flash movie is recorded: true stops the build at once.
    virtual bool Cancelled() { return false; }
};

struct BuildRequest {
    std::string projectFileName;    // the project file; saved before packing
    project::ProjectValues values;  // everything the window's controls hold
    std::string stubPath;           // stub.bin
    std::string flashStubPath;      // flash.bin
    bool strict = false;            // fail instead of leaving out media that cannot be read
    // False packs the project as it would be saved but leaves the project file untouched (the
    // command line's --output).
    bool saveProject = true;
    // The command line's --fit: this build fits a slideshow's pictures to fitWidth x fitHeight,
    // and the packed project says so, while the project file keeps its own choice.
    bool fitOverride = false;
    int fitWidth = 0, fitHeight = 0;
    // The command line's --store-compressed: this build stores pictures that are compressed
    // already as they are, whatever the project says; the project file keeps its own choice.
    bool storeCompressedOverride = false;
};

// A media file the build left out of the screensaver, and why ("cannot be found", "is a
// folder", ...). Every front end names each one; a strict build fails on the first instead.
struct LeftOutFile {
    std::string path;    // as the project lists it
    std::string reason;  // completes a sentence that starts with the path
};

struct BuildResult {
    // The screensaver written, as it is also put back into the output box.
    std::string outputPath;
    // The output box's new text: as the user wrote it, or the path derived from the project.
    std::string outputBoxText;
    // False when a slideshow had no pictures: the project was saved and nothing was built.
    bool built = false;
    std::int64_t outputSize = 0;
    // Media left out of the screensaver, in list order, each with its reason.
    std::vector<LeftOutFile> leftOutFiles;
    // Pictures packed as they are that the screensaver will not show (empty, no picture format it
    // reads, a damaged header, a size beyond the limits), in list order, each with its reason.
    std::vector<LeftOutFile> notShownFiles;
    // The completion box's text ("The project was saved during compile." ...), empty when !built.
    std::string completionText;
    // A Flash build whose movie could not be recorded: the one-line notice (also in the
    // completion text) that the screensaver plays only where a Flash control is installed.
    std::string notRecordedNotice;
    int recordedFrames = 0;  // frames of the recorded movie packed, 0 when none
    std::string posterFrame; // the recorded movie's first frame (a JPEG file's bytes), for the editor
};

inline constexpr const char* kCompletionCaption = "Nimbrel - Compile Complete!";

// The screensaver path for a project: the output box's text, or the project path with its
// extension replaced by ".scr".
std::string ChooseOutputPath(const std::string& outputBoxText, const std::string& projectFileName);

// The About file's bytes: name, CR LF, About text, CR LF.
std::string AboutFileBytes(const std::string& name, const std::string& aboutText);

// The completion box's text for an output file and its size, with the left-out media named and
// the pictures that will not be shown.
std::string CompletionText(const std::string& outputPath, std::int64_t size,
                           const std::vector<LeftOutFile>& leftOutFiles,
                           const std::vector<LeftOutFile>& notShownFiles = {});

// The checks run before any work: the player stub can be read, the output folder takes a new
// file, and (when strict) every picture or movie can be read. Raises nimbrel::Error with the
// message the failing step would give later. Nothing to build (a slideshow without pictures)
// needs no stub and no output folder.
void CheckBuildInputs(const BuildRequest& request);

// The error for a project whose Header/Type names a kind this program does not know.
std::string UnknownKindMessage(const std::string& projectFileName, int kind);

// A project's movie recorded as the build records it.
struct MovieRecording {
    flash::FrameIndex index;         // its frames named by their file names in the folder
    std::vector<std::string> files;  // the distinct frame files, in order
};

// Records `movie` into the existing, empty folder `frameDir` for the project file `projectFile`
// (whose [Flash] RecordSeconds sets the length of a scripted movie). `progress` gets frames done
// and the total; false from it stops the recording (flash::RecordingCancelled). Throws
// flash::RecordingError for a movie that cannot be recorded. The build, nimbrel-cli render and
// the editor's preview all record through this.
MovieRecording RecordProjectMovie(const std::string& movie, const std::string& projectFile,
                                  const std::string& frameDir, const flash::RecorderSetup& setup,
                                  const std::function<bool(int, int)>& progress);

// Runs the whole build. Errors that end it raise nimbrel::Error with the message to show; the
// screensaver that was at the output path before stays there, untouched, until the new one is
// complete. Refused before anything is written: a project of a kind this program does not know,
// an output path that is the project file, a media file, the icon or a player stub (compared as
// files on disk, not as spellings), a member or archive beyond the archive format's limits.
// Relative media, icon and output paths name files beside the project.
BuildResult CompileProject(const BuildRequest& request, BuildReporter& reporter);

}  // namespace nimbrel::pipeline
