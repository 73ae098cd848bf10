// Commands run to their end with standard output and error read together, as the SMB fixture
// and its users read them.
#ifndef ZEBTEST_SMB_SUBPROCESS_H
#define ZEBTEST_SMB_SUBPROCESS_H

#include "process.h"

#include <string>
#include <vector>

namespace zebtest {

// exited and code as for any program; output holds standard output and error together.
using CommandResult = Outcome;

// Runs argv (argv[0] is looked up in PATH) with the "NAME=value" settings of env, and waits at
// most timeoutMs for its end; a command still running then is killed. Standard input is
// /dev/null.
inline CommandResult RunCommand(const std::vector<std::string>& argv,
                                const std::vector<std::string>& env = {}, int timeoutMs = 60000) {
    ProcessOptions options;
    options.env = env;
    options.errorsToOutput = true;
    return Run(argv, options, timeoutMs);
}

} // namespace zebtest

#endif
