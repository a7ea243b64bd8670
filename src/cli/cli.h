#pragma once
// nimbrel-cli's commands. Each command is one entry in Commands(): its options, its help and a
// function over the parsed arguments and the console, so the tests run it in-process. A new
// command is a file with its entry function, listed in Commands(); a new option is one more
// line in its command's option list.

#include <cstddef>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace nimbrel::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the work failed: a damaged archive, a write error
inline constexpr int kExitUsage = 2;    // the command line was wrong

// Where a command writes: results to `out`, progress, warnings and errors to `err`.
struct Console {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;  // progress may redraw a bar on `err`
    int columns = 80;            // the terminal's width, when errIsTerminal
};

struct Option {
    std::string name;       // "--output"
    std::string shortName;  // "-o", or empty
    std::string value;      // what follows, e.g. "FILE"; empty for a switch
    std::string needs;      // said when the value is missing: "--output needs a file name"
    std::string help;       // one line for --help
};

// The command line after the command's name, parsed against its options.
class Arguments {
public:
    std::vector<std::string> operands;
    bool Has(const std::string& name) const { return values_.count(name) != 0; }
    // The value of an option given with one (the last one given wins); "" when absent.
    std::string Value(const std::string& name) const;
    void Set(const std::string& name, std::string value) { values_[name] = std::move(value); }

private:
    std::map<std::string, std::string> values_;
};

struct Command {
    std::string name;
    std::string operands;  // e.g. "FILE DIR", as the usage line shows them
    std::size_t minOperands = 0;
    std::size_t maxOperands = 0;
    std::string summary;                // one line for nimbrel-cli --help
    std::string description;            // a paragraph for the command's --help
    std::vector<Option> options;        // besides --help
    std::vector<std::string> examples;  // whole command lines
    int (*run)(const Arguments& args, Console& console) = nullptr;
    // Instead of `run`, for a command that reads its own arguments (all of them, as typed,
    // --help included): only its name and summary come from this entry.
    int (*runRaw)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) = nullptr;
};

// Every command, in the order --help lists them.
const std::vector<Command>& Commands();

// The command's full help: usage, description, options, examples and exit codes.
std::string CommandHelp(const Command& command);

// Runs the command line (without the program name) and returns the exit code.
int RunCli(const std::vector<std::string>& args, Console& console);
// The same with two plain streams and no terminal (for scripts and tests).
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Each command's entry, defined beside its code (compile_command.cpp, archive_commands.cpp).
Command CompileCommandEntry();
Command InstallerCommandEntry();
Command ListCommandEntry();
Command VerifyCommandEntry();
Command ExtractCommandEntry();

}  // namespace nimbrel::cli
