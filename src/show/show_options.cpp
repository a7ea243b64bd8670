#include "show/show_options.h"

namespace nimbrel::show {

ShowOptions ShowOptions::From(const project::SlideShowValues& values) {
    ShowOptions options;
    const project::ShowValues& show = values.show;
    options.motion = show.motion;
    if (show.caption >= 0 && show.caption <= project::kCaptionLast) options.caption = show.caption;
    if (show.captionPlace >= 0 && show.captionPlace <= project::kPlaceLast) options.captionPlace = show.captionPlace;
    if (show.monitors == project::kMonitorsEach) options.monitors = Monitors::Each;
    if (show.monitors == project::kMonitorsSpan) options.monitors = Monitors::Span;
    options.captions = values.captions;
    return options;
}

const std::string& ShowOptions::CaptionOf(std::size_t entry) const {
    static const std::string none;
    return entry < captions.size() ? captions[entry] : none;
}

}  // namespace nimbrel::show
