#pragma once

#include <QString>

#include <optional>

namespace headless {

struct Options {
    // Set when the arguments were answered (--help, --version) or wrong.
    std::optional<int> exitCode;
    // --login EMAIL: store the log-in details and end.
    QString loginEmail;
    // --verbose: the debug output on standard error.
    bool verbose = false;
    // --retry-errors: every file in Error is submitted again once at the start.
    bool retryErrors = false;
    // --list: print the saved queue and end.
    bool list = false;
};

// Reads --help, --version, --login EMAIL, --list, --retry-errors and --verbose; help and version are printed
// on standard output, a wrong argument on standard error with the usage.
Options parseOptions(int argc, char* argv[]);

} // namespace headless
