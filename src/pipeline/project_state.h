#pragma once
// The project as the editor's controls hold it: the values after New, and what loading a project
// file changes in them. The window and nimbrel-cli share these rules, so that both compile a
// project file to the same screensaver.

#include "project/project_file.h"

namespace nimbrel::pipeline {

// The controls' values after the New command: options off, speed 10, no transition, black,
// the default About text in both About boxes.
project::ProjectValues NewProjectValues();

// Applies a loaded project file to the controls' values as LoadProject does: the file list is
// emptied and refilled, the kind follows Type 0 or 1, and only the values the file was read for
// change. The slider keeps the speed within 1 to 240; a transition outside 0 to 129 is none (-1).
void ApplyLoadedProject(const project::LoadedProject& loaded, project::ProjectValues& values);

// The values a front end without earlier state (the command line) compiles for a project file:
// New's values with the file applied, and for a slideshow the file's options and About text even
// when it lists no pictures, so that saving during the build keeps them. The kind is the file's,
// also one this program does not know (which the build then refuses).
project::ProjectValues ProjectValuesFromFile(const project::LoadedProject& loaded);

}  // namespace nimbrel::pipeline
