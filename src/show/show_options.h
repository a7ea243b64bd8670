#pragma once
// The show's own options beyond placing pictures: pan and zoom, captions and monitors, from the
// project's [Show] and [Captions] values. A value out of range gives its default, so that a
// hand-edited file shows as a project without the key does.

#include <string>
#include <vector>

#include "project/project_file.h"

namespace nimbrel::show {

enum class Monitors { Same, Each, Span };

struct ShowOptions {
    bool motion = false;
    int caption = project::kCaptionNone;  // project::kCaption*
    int captionPlace = project::kPlaceBottomLeft;
    Monitors monitors = Monitors::Same;
    std::vector<std::string> captions;  // the entries' own texts by file list index

    // The options of a project's values.
    static ShowOptions From(const project::SlideShowValues& values);
    // The entry's own text ("" for none).
    const std::string& CaptionOf(std::size_t entry) const;
};

}  // namespace nimbrel::show
