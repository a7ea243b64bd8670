// The recorder where the browser cannot be driven from this build (the Windows programs): every
// movie is reported as not recorded, and the build packs the movie alone.
#include "flash/flash_recorder.h"

namespace nimbrel::flash {

Recording RecordMovie(const std::string& swfPath, const std::string&, const RecorderSetup&,
                      const RecordOptions&) {
    throw RecordingError(swfPath + " was not recorded: the recorder runs only in the Linux build");
}

}  // namespace nimbrel::flash
