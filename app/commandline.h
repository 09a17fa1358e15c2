#pragma once

#include <optional>

// The client's informational options, --help, --help-all and --version. They are
// answered before anything else happens: no window, no single-instance
// guard, no settings read or written. Every other argument is left to the
// framework's application object, as before.
namespace commandline {

// The exit code when the arguments asked for help or the version (the
// answer is then printed on standard output); no value otherwise.
std::optional<int> answerInformational(int argc, char* argv[]);

} // namespace commandline
