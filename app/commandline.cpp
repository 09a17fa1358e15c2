#include "app/commandline.h"

#include "driver/commandhelp.h"
#include "settings/settings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <iostream>

namespace commandline {

std::optional<int> answerInformational(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Sends audio files to the Sonvira processing service and "
                                                    "brings the processed audio back."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Displays version information."));
    parser.addOption(version);
    // Unknown arguments (the framework's own, such as -platform) are not
    // errors here: the application object takes them later.
    parser.parse(arguments);
    if (parser.isSet(version)) {
        std::cout << "Sonvira desktop client " << Settings().versionText.constData() << std::endl;
        return 0;
    }
    if (parser.isSet(QStringLiteral("help-all")))
        commandhelp::printHelpWithQtOptions(parser, argc, argv);
    if (parser.isSet(help)) {
        // The usage line names the executable, which needs an application object.
        QCoreApplication app(argc, argv);
        std::cout << parser.helpText().toLocal8Bit().constData();
        return 0;
    }
    return std::nullopt;
}

} // namespace commandline
