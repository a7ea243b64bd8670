#pragma once
// nimbrel-cli render: frames of a project's show as PNG files.

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace nimbrel::cli {

int RenderCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// render's entry in Commands(): it reads its own arguments.
Command RenderCommandEntry();

}  // namespace nimbrel::cli
