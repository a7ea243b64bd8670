#include "cli/cli.h"
#ifdef NIMBREL_HAVE_RENDER
#include "cli/render_command.h"
#endif

#include <exception>
#include <ostream>
#include <sstream>

#include "nimbrel_version.h"

namespace nimbrel::cli {

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        CompileCommandEntry(),
        InstallerCommandEntry(),
        ListCommandEntry(),
        VerifyCommandEntry(),
        ExtractCommandEntry(),
#ifdef NIMBREL_HAVE_RENDER
        RenderCommandEntry(),
#endif
    };
    return commands;
}

std::string Arguments::Value(const std::string& name) const {
    auto it = values_.find(name);
    return it == values_.end() ? std::string() : it->second;
}

namespace {

constexpr const char* kExitCodes = "Exit codes: 0 success, 1 failure, 2 wrong command line.\n";

bool IsHelp(const std::string& arg) {
    return arg == "--help" || arg == "-h";
}

std::string UsageLine(const Command& c) {
    return "nimbrel-cli " + c.name + " [OPTIONS]" + (c.operands.empty() ? "" : " " + c.operands);
}

void PrintMainHelp(std::ostream& out) {
    out << "Usage: nimbrel-cli COMMAND [OPTIONS] [ARGUMENTS]\n"
           "       nimbrel-cli --help | --version\n\n"
           "Builds Nimbrel screensavers from their projects and looks inside them.\n\n"
           "Commands:\n";
    std::size_t width = 0;
    for (const Command& c : Commands()) width = std::max(width, c.name.size());
    for (const Command& c : Commands())
        out << "  " << c.name << std::string(width - c.name.size() + 3, ' ') << c.summary << "\n";
    out << "\nRun \"nimbrel-cli COMMAND --help\" for a command's options and examples.\n"
           "FILE may be an archive of its own or a screensaver (.scr) that ends with one.\n\n"
        << kExitCodes;
}

// The option as the help shows it: "-o, --output FILE" or "    --strict".
std::string OptionHead(const Option& o) {
    std::string head = o.shortName.empty() ? "    " : o.shortName + ", ";
    head += o.name;
    if (!o.value.empty()) head += " " + o.value;
    return head;
}

const Option kHelpOption{"--help", "-h", "", "", "show this help and exit"};

// A mistake on the command line: the message, the usage and where to read more.
int UsageError(const Command& c, const std::string& message, std::ostream& err) {
    err << "nimbrel-cli " << c.name << ": " << message << "\n"
        << "Usage: " << UsageLine(c) << "\n"
        << "Run \"nimbrel-cli " << c.name << " --help\" for the options.\n";
    return kExitUsage;
}

const Option* FindOption(const Command& c, const std::string& text) {
    for (const Option& o : c.options)
        if (o.name == text || (!o.shortName.empty() && o.shortName == text)) return &o;
    return nullptr;
}

// Parses `args` against the command's options. Returns -1 when the command should run,
// otherwise the exit code (help was printed, or the command line was wrong).
int Parse(const Command& c, const std::vector<std::string>& args, Arguments& parsed, Console& console) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (IsHelp(arg)) {
            console.out << CommandHelp(c);
            return kExitOk;
        }
        std::string name = arg;
        std::string value;
        bool inlineValue = false;
        if (std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        const Option* option = FindOption(c, name);
        if (!option) return UsageError(c, "unknown option " + name, console.err);
        if (option->value.empty()) {
            if (inlineValue) return UsageError(c, option->name + " takes no value", console.err);
            parsed.Set(option->name, "");
            continue;
        }
        if (!inlineValue) {
            // "--stub-dir --strict" is a forgotten folder, not a folder named "--strict".
            if (i + 1 >= args.size() || FindOption(c, args[i + 1]) || IsHelp(args[i + 1]) ||
                args[i + 1] == "--")
                return UsageError(c, option->needs, console.err);
            value = args[++i];
        }
        if (value.empty()) return UsageError(c, option->needs, console.err);
        parsed.Set(option->name, value);
    }
    if (parsed.operands.size() < c.minOperands) {
        std::istringstream names(c.operands);
        std::string missing;
        for (std::size_t k = 0; k <= parsed.operands.size() && names >> missing;) ++k;
        return UsageError(c, "missing " + missing, console.err);
    }
    if (parsed.operands.size() > c.maxOperands)
        return UsageError(c, "too many arguments (from \"" + parsed.operands[c.maxOperands] + "\")",
                          console.err);
    return -1;
}

}  // namespace

std::string CommandHelp(const Command& c) {
    std::ostringstream text;
    text << "Usage: " << UsageLine(c) << "\n\n";
    if (!c.description.empty()) text << c.description << "\n";
    text << "Options:\n";
    std::vector<const Option*> options;
    for (const Option& o : c.options) options.push_back(&o);
    options.push_back(&kHelpOption);
    std::size_t width = 0;
    for (const Option* o : options) width = std::max(width, OptionHead(*o).size());
    for (const Option* o : options) {
        std::string head = OptionHead(*o);
        text << "  " << head << std::string(width - head.size() + 2, ' ') << o->help << "\n";
    }
    if (!c.examples.empty()) {
        text << "\n" << (c.examples.size() == 1 ? "Example:\n" : "Examples:\n");
        for (const std::string& e : c.examples) text << "  " << e << "\n";
    }
    text << "\n" << kExitCodes;
    return text.str();
}

int RunCli(const std::vector<std::string>& args, Console& console) {
    if (args.empty()) {
        PrintMainHelp(console.err);
        return kExitUsage;
    }
    const std::string& name = args[0];
    if (IsHelp(name)) {
        PrintMainHelp(console.out);
        return kExitOk;
    }
    if (name == "--version") {
        console.out << "nimbrel-cli " << NIMBREL_VERSION_TEXT << "\n";
        return kExitOk;
    }
    if (name == "help" && args.size() <= 2) {
        if (args.size() == 1) {
            PrintMainHelp(console.out);
            return kExitOk;
        }
        for (const Command& c : Commands()) {
            if (c.name != args[1]) continue;
            if (c.runRaw) return RunCli({c.name, "--help"}, console);
            console.out << CommandHelp(c);
            return kExitOk;
        }
    }
    for (const Command& c : Commands()) {
        if (c.name != name) continue;
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        try {
            if (c.runRaw) return c.runRaw(rest, console.out, console.err);
            Arguments parsed;
            if (int code = Parse(c, rest, parsed, console); code >= 0) return code;
            return c.run(parsed, console);
        } catch (const std::exception& e) {
            console.err << "nimbrel-cli " << c.name << ": " << e.what() << "\n";
            return kExitFailure;
        }
    }
    const std::string& unknown = name == "help" ? args[1] : name;
    if (unknown.rfind("-", 0) == 0)
        console.err << "nimbrel-cli: unknown option " << unknown << " (see nimbrel-cli --help)\n";
    else
        console.err << "nimbrel-cli: unknown command \"" << unknown << "\" (see nimbrel-cli --help)\n";
    return kExitUsage;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Console console{out, err};
    return RunCli(args, console);
}

}  // namespace nimbrel::cli
