#include "driver/commandhelp.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <cstdlib>

namespace commandhelp {

void printHelpWithQtOptions(QCommandLineParser& parser, int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // Only the framework's own handling prints its options; given just
    // --help-all, it prints and exits.
    parser.process(QStringList{QCoreApplication::applicationFilePath(), QStringLiteral("--help-all")});
    std::exit(0);
}

} // namespace commandhelp
