#include "pipeline/project_state.h"

#include <algorithm>

#include "project/value_ranges.h"

namespace nimbrel::pipeline {

project::ProjectValues NewProjectValues() {
    project::ProjectValues values;
    values.slideShow.showText = project::DefaultAboutText();
    values.flash.showText = project::DefaultAboutText();
    return values;
}

void ApplyLoadedProject(const project::LoadedProject& loaded, project::ProjectValues& values) {
    values.files.clear();
    if (loaded.type == project::kSlideShow || loaded.type == project::kFlash) values.kind = loaded.type;
    if (loaded.slideShowRead) {
        values.files = loaded.files;
        values.slideShow = loaded.slideShow;
        values.slideShow.showSpeed = std::clamp(values.slideShow.showSpeed, project::kMinShowSpeed, project::kMaxShowSpeed);
        if (values.slideShow.transition < 0 || values.slideShow.transition > project::kTransitionNone)
            values.slideShow.transition = -1;
    }
    if (loaded.flashRead) values.flash = loaded.flash;
}

project::ProjectValues ProjectValuesFromFile(const project::LoadedProject& loaded) {
    project::ProjectValues values = NewProjectValues();
    project::LoadedProject withOptions = loaded;
    if (loaded.type == project::kSlideShow) withOptions.slideShowRead = true;
    ApplyLoadedProject(withOptions, values);
    // No page to keep here: a kind this program does not know stays unknown, and the build
    // refuses it instead of saving it as a slideshow.
    values.kind = loaded.type;
    return values;
}

}  // namespace nimbrel::pipeline
