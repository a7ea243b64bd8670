#pragma once
// nimbrel-cli run in-process, with what it printed on each stream.
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace nimbrel::clitest {

struct CliRun {
    int code;
    std::string out, err;
};

inline CliRun Cli(std::vector<std::string> args) {
    std::ostringstream out, err;
    int code = cli::RunCli(args, out, err);
    return {code, out.str(), err.str()};
}

}  // namespace nimbrel::clitest
