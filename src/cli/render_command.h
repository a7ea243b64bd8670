#pragma once
// nimbrel-cli render: frames of a project's show as PNG files.

#include <iosfwd>
#include <string>
#include <vector>

namespace nimbrel::cli {

int RenderCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace nimbrel::cli
