#pragma once
// nimbrel-cli's subcommand dispatcher. Each subcommand is a function over its arguments and
// two output streams returning the exit code, so the tests can run it in-process.

#include <iosfwd>
#include <string>
#include <vector>

namespace nimbrel::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the work failed: a damaged archive, a write error
inline constexpr int kExitUsage = 2;    // the command line was wrong

struct Command {
    std::string name;
    std::string usage;    // the arguments, e.g. "FILE DIR"
    std::string summary;  // one line for --help
    // `args` are the arguments after the subcommand's name.
    int (*run)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
};

// Every subcommand, in the order --help lists them. A new subcommand is one more entry here.
const std::vector<Command>& Commands();

// Runs the command line (without the program name) and returns the exit code.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The archive subcommands (archive_commands.cpp).
int ListCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int VerifyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int ExtractCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace nimbrel::cli
