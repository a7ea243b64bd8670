#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "platform/interrupt.h"
#include "platform/terminal.h"

int main(int argc, char** argv) {
    using nimbrel::platform::StandardStream;
    // An interrupted build removes its half-written screensaver and work folder.
    nimbrel::platform::CleanUpOnInterrupt();
    std::vector<std::string> args(argv + 1, argv + argc);
    nimbrel::cli::Console console{std::cout, std::cerr};
    console.errIsTerminal = nimbrel::platform::IsTerminal(StandardStream::Error);
    if (int columns = nimbrel::platform::TerminalColumns(StandardStream::Error); columns > 0)
        console.columns = columns;
    return nimbrel::cli::RunCli(args, console);
}
