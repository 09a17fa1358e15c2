#include "headless/headlessoptions.h"

#include "driver/commandhelp.h"
#include "settings/settings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <iostream>

namespace headless {

Options parseOptions(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs the Sonvira client without a window: every enabled watched folder of settings.xml is processed "
        "with its options, one line per event on standard output. SIGTERM or SIGINT end it, the queue kept."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Displays version information."));
    const QCommandLineOption login(QStringLiteral("login"),
                                   QStringLiteral("Checks the password of <email> against the service (read from the "
                                                  "terminal or standard input) and stores the log-in details."),
                                   QStringLiteral("email"));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Writes the client's debug output on standard error."));
    const QCommandLineOption retryErrors(QStringLiteral("retry-errors"),
                                         QStringLiteral("Submits every file in Error once more at the start, then runs on."));
    const QCommandLineOption list(QStringLiteral("list"),
                                  QStringLiteral("Prints the saved queue (state, file, error) and exits."));
    parser.addOptions({version, login, verbose, retryErrors, list});
    Options options;
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        const QString error = parser.errorText().isEmpty() ? QStringLiteral("Unexpected arguments.") : parser.errorText();
        std::cerr << error.toLocal8Bit().constData() << "\n" << parser.helpText().toLocal8Bit().constData();
        options.exitCode = 1;
        return options;
    }
    if (parser.isSet(version)) {
        std::cout << "Sonvira headless client " << Settings().versionText.constData() << std::endl;
        options.exitCode = 0;
    } else if (parser.isSet(QStringLiteral("help-all"))) {
        commandhelp::printHelpWithQtOptions(parser, argc, argv);
    } else if (parser.isSet(help)) {
        // The usage line names the executable, which needs an application object.
        QCoreApplication app(argc, argv);
        std::cout << parser.helpText().toLocal8Bit().constData();
        options.exitCode = 0;
    } else if (parser.isSet(login)) {
        options.loginEmail = parser.value(login);
    }
    options.verbose = parser.isSet(verbose);
    options.retryErrors = parser.isSet(retryErrors);
    options.list = parser.isSet(list);
    return options;
}

} // namespace headless
