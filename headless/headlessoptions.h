#pragma once

#include <QString>

#include <optional>

namespace headless {

struct Options {
    // Set when the arguments were answered (--help, --version) or wrong.
    std::optional<int> exitCode;
    // --login EMAIL: store the log-in details and end.
    QString loginEmail;
};

// Reads --help, --version and --login EMAIL; help and version are printed
// on standard output, a wrong argument on standard error with the usage.
Options parseOptions(int argc, char* argv[]);

} // namespace headless
