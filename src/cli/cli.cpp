#include "cli/cli.h"
#include "cli/compile_command.h"
#ifdef NIMBREL_HAVE_RENDER
#include "cli/render_command.h"
#endif

#include <exception>
#include <ostream>

namespace nimbrel::cli {

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"compile", "PROJECT.nssp", "build the project's screensaver [--stub-dir DIR] [--strict]",
         CompileCommand},
        {"list", "FILE", "list the members of an archive or screensaver", ListCommand},
        {"verify", "FILE", "check the archive CRC and every member's CRC", VerifyCommand},
        {"extract", "FILE DIR", "write every member into DIR under its bare name", ExtractCommand},
#ifdef NIMBREL_HAVE_RENDER
        {"render", "PROJECT.nssp --size WxH --at T1,T2,... --out DIR [--seed N]",
         "write the show's frames at those times as PNG files", RenderCommand},
#endif
    };
    return commands;
}

namespace {
void PrintHelp(std::ostream& out) {
    out << "Usage: nimbrel-cli COMMAND [ARGUMENTS]\n\nCommands:\n";
    for (const Command& c : Commands()) {
        std::string head = "  " + c.name + " " + c.usage;
        if (head.size() < 24) head.resize(24, ' ');
        out << head << "  " << c.summary << "\n";
    }
    out << "\nFILE may be an archive of its own or a screensaver (.scr) that ends with one.\n"
           "Exit codes: 0 success, 1 failure, 2 wrong command line.\n";
}
}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        PrintHelp(err);
        return kExitUsage;
    }
    const std::string& name = args[0];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintHelp(out);
        return kExitOk;
    }
    for (const Command& c : Commands()) {
        if (c.name != name) continue;
        std::vector<std::string> rest(args.begin() + 1, args.end());
        if (!rest.empty() && (rest[0] == "--help" || rest[0] == "-h")) {
            out << "Usage: nimbrel-cli " << c.name << " " << c.usage << "\n  " << c.summary << "\n";
            return kExitOk;
        }
        try {
            return c.run(rest, out, err);
        } catch (const std::exception& e) {
            err << "nimbrel-cli " << c.name << ": " << e.what() << "\n";
            return kExitFailure;
        }
    }
    err << "nimbrel-cli: unknown command \"" << name << "\" (see nimbrel-cli --help)\n";
    return kExitUsage;
}

}  // namespace nimbrel::cli
