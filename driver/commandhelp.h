#pragma once

class QCommandLineParser;

namespace commandhelp {

// Answers --help-all as the framework does: the client's own help followed
// by the framework's options, on standard output, then ends the process
// with exit code 0. Makes the application object the usage line needs.
[[noreturn]] void printHelpWithQtOptions(QCommandLineParser& parser, int argc, char* argv[]);

} // namespace commandhelp
