#include "settings/folderoptionlines.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace folderoptions {

namespace {

const char* const kNoiseLinePrefix = "nredOp00: ";
const char* const kDefaultCustomArguments = "-stmlength 0.5 -mtslength 2.0";
// The custom values used in place of one that is not a number.
constexpr double kDefaultSpeechToMusic = 0.5;
constexpr double kDefaultMusicToSpeech = 2.0;
// preProcessing_Result: bit 1 keeps the original; 6 also deletes the result once submitted.
constexpr int kKeepOriginal = 2;
constexpr int kKeepOriginalDeleteResult = 6;

// "-key value" pairs of a line split at runs of white space; a token that
// begins with "-" and has a successor is a key, the successor its value.
QHash<QString, QString> keyValuePairs(const QString& line)
{
    const QStringList tokens = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    QHash<QString, QString> pairs;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        if (tokens.at(i).startsWith(QLatin1Char('-')) && i + 1 < tokens.size()) {
            pairs.insert(tokens.at(i).mid(1), tokens.at(i + 1));
            ++i;
        }
    }
    return pairs;
}

bool namesLine(const QString& line, const Choice& choice)
{
    return QString::fromLatin1(choice.line).compare(line, Qt::CaseInsensitive) == 0;
}

} // namespace

const QList<Choice>& loudnessTargets()
{
    static const QList<Choice> targets{
        {"-19 LUFS", "normOp00: -19 LUFS"},   {"-18 LUFS", "normOp00: -18 LUFS"},
        {"-16 LUFS", "normOp00: -16 LUFS"},   {"-14 LUFS", "normOp00: -14 LUFS"},
        {"-23 dBrms", "normOp00: -23 dBrms"}, {"-20 dBrms", "normOp00: -20 dBrms"},
        {"-18 dBrms", "normOp00: -18 dBrms"},
    };
    return targets;
}

QList<bool> chosenTargets(const QString& postProcessingArguments)
{
    QList<bool> chosen(loudnessTargets().size(), false);
    for (const QString& line : postProcessingArguments.split(QLatin1Char('\n'))) {
        for (qsizetype i = 0; i < chosen.size(); ++i)
            chosen[i] = chosen[i] || namesLine(line, loudnessTargets().at(i));
    }
    return chosen;
}

QString targetArguments(const QList<bool>& chosen)
{
    QStringList lines;
    for (qsizetype i = 0; i < chosen.size() && i < loudnessTargets().size(); ++i) {
        if (chosen.at(i))
            lines << QString::fromLatin1(loudnessTargets().at(i).line);
    }
    return lines.join(QLatin1Char('\n'));
}

const QList<Choice>& noiseModes()
{
    static const QList<Choice> modes{
        {"None", "nredOp00: SKIP"},
        {"Speech with music", "nredOp00: -stmlength 0.5 -mtslength 2.0"},
        {"Always on", "nredOp00: --alwayson"},
        {"Custom:", "nredOp00: CUSTOM"},
    };
    return modes;
}

NoiseReduction readNoiseReduction(const QString& preProcessingArguments)
{
    const QStringList lines = preProcessingArguments.split(QLatin1Char('\n'));
    NoiseReduction found;
    bool matched = false;
    for (const QString& line : lines) {
        for (qsizetype i = 0; i < noiseModes().size(); ++i) {
            if (namesLine(line, noiseModes().at(i))) {
                found.mode = NoiseMode(i);
                matched = true;
            }
        }
    }
    if (matched)
        return found;
    const QHash<QString, QString> pairs = keyValuePairs(lines.first());
    const auto stm = pairs.constFind(QStringLiteral("stmlength"));
    const auto mts = pairs.constFind(QStringLiteral("mtslength"));
    if (stm != pairs.cend() && mts != pairs.cend())
        return {NoiseMode::Custom, stm.value(), mts.value()};
    return {};
}

QString noiseArguments(NoiseMode mode, const QString& speechToMusic, const QString& musicToSpeech)
{
    if (mode == NoiseMode::Custom)
        return QLatin1String(kNoiseLinePrefix) + customArguments(speechToMusic, musicToSpeech);
    return QString::fromLatin1(noiseModes().at(int(mode)).line);
}

std::optional<double> customValue(const QString& text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || std::isnan(value))
        return std::nullopt;
    return std::clamp(value, 0.25, 4.0);
}

QString customArguments(const QString& speechToMusic, const QString& musicToSpeech)
{
    const std::optional<double> stm = customValue(speechToMusic);
    const std::optional<double> mts = customValue(musicToSpeech);
    if (!stm && !mts)
        return QString::fromLatin1(kDefaultCustomArguments);
    const auto shown = [](double value) { return QString::number(value, 'g', 6); };
    return QStringLiteral("-stmlength %1 -mtslength %2")
        .arg(shown(stm.value_or(kDefaultSpeechToMusic)), shown(mts.value_or(kDefaultMusicToSpeech)));
}

PreProcessResult readPreProcessResult(int stored)
{
    if ((stored & kKeepOriginal) == 0)
        return {true, false};
    return {false, stored == kKeepOriginalDeleteResult};
}

int preProcessResultNumber(const PreProcessResult& result)
{
    if (result.replaceOriginal)
        return 0;
    return result.deleteAfterSubmission ? kKeepOriginalDeleteResult : kKeepOriginal;
}

} // namespace folderoptions
