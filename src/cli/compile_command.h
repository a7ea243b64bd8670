#pragma once
// `nimbrel-cli compile PROJECT.nssp [--stub-dir DIR] [--strict]`: the editor's Compile command
// without a window.

#include <ostream>
#include <string>
#include <vector>

namespace nimbrel::cli {

// Runs the command on its arguments (those after "compile"); returns the exit code.
// `progressOnTerminal` draws a bar that rewrites itself instead of printing lines.
int RunCompile(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               bool progressOnTerminal);
// The subcommand: a progress bar when standard output is a terminal, plain lines otherwise.
int CompileCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace nimbrel::cli
