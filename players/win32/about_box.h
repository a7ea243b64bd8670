#pragma once
// The configuration box of both players: an About box with the show's name and its About text
// (simple HTML: bold, italics, line breaks, links that open in the browser).

#include <windows.h>

#include "about_text.h"

namespace nimbrel::player::win32 {

// Shows the box modally over `owner` (may be null) and returns when it is closed.
void RunAboutBox(const AboutInfo& about, HWND owner);

}  // namespace nimbrel::player::win32
