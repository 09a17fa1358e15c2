#include "denoiseoptions.h"

#include <cmath>

namespace {

bool parseSeconds(const QString& option, const QString& text, double& value, QString& error)
{
    bool ok = false;
    value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0 || value > 3600) {
        error = QStringLiteral("Invalid value for %1: \"%2\" (expected seconds between 0 and 3600)").arg(option, text);
        return false;
    }
    return true;
}

} // namespace

QString DenoiseOptions::usage()
{
    return QStringLiteral(
        "Usage: deepfilternet -input IN -modelpath DIR -output OUT [-stmlength S] [-mtslength M] [--alwayson]\n"
        "Reduces stationary noise in an audio file and writes a WAV file of the same\n"
        "length, sample rate and channel count.\n"
        "  -input IN       audio file to clean (WAV, FLAC, Ogg, MP3, ...)\n"
        "  -modelpath DIR  folder holding denoise.params\n"
        "  -output OUT     WAV file to write (replaced only when the run succeeds)\n"
        "  -stmlength S    seconds of music-like sound before switching to the gentler music handling\n"
        "  -mtslength M    seconds of other sound before switching back to speech handling\n"
        "  --alwayson      full suppression everywhere, no music handling\n"
        "Progress is printed as \"N_of_M\"; \"File Ready\" follows when the output is complete.\n");
}

bool DenoiseOptions::parse(const QStringList& arguments, QString& error)
{
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& option = arguments.at(i);
        if (option == QLatin1String("--alwayson")) {
            alwaysOn = true;
            continue;
        }
        if (option == QLatin1String("--help") || option == QLatin1String("-h")) {
            help = true;
            return true;
        }
        const bool takesValue = option == QLatin1String("-input") || option == QLatin1String("-modelpath")
            || option == QLatin1String("-output") || option == QLatin1String("-stmlength")
            || option == QLatin1String("-mtslength");
        if (!takesValue) {
            error = QStringLiteral("Unknown option: %1").arg(option);
            return false;
        }
        if (i + 1 >= arguments.size()) {
            error = QStringLiteral("Missing value for %1").arg(option);
            return false;
        }
        const QString value = arguments.at(++i);
        if (option == QLatin1String("-input"))
            input = value;
        else if (option == QLatin1String("-modelpath"))
            modelPath = value;
        else if (option == QLatin1String("-output"))
            output = value;
        else if (!parseSeconds(option, value, option == QLatin1String("-stmlength") ? stmLength : mtsLength, error))
            return false;
    }
    for (const auto& [name, value] : {std::pair{"-input", &input}, {"-modelpath", &modelPath}, {"-output", &output}}) {
        if (value->isEmpty()) {
            error = QStringLiteral("Missing required option %1").arg(QLatin1String(name));
            return false;
        }
    }
    return true;
}
