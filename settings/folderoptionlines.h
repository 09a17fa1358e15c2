#pragma once

#include <QList>
#include <QString>

#include <optional>

// The option lines a watched folder keeps, as the folder editor offers
// them: loudness targets in postProcessing_Arguments ("normOp00: -16 LUFS",
// a line each), one noise-reduction mode in preProcessing_Arguments
// ("nredOp00: ..."), and what pre-processing does with its result
// (preProcessing_Result). They are read and written here; the editor only
// shows the choices.
namespace folderoptions {

// One offered choice: its label in the editor and the line it stands for.
struct Choice {
    const char* label;
    const char* line;
};

// The loudness targets, in the editor's order.
const QList<Choice>& loudnessTargets();
// One flag per target: whether a line of the arguments names it (equal to
// its line, ignoring case).
QList<bool> chosenTargets(const QString& postProcessingArguments);
// The lines of the chosen targets, in target order, a line feed between them.
QString targetArguments(const QList<bool>& chosen);

// The noise-reduction modes, in the editor's order (Custom last).
enum class NoiseMode { None, SpeechWithMusic, AlwaysOn, Custom };
const QList<Choice>& noiseModes();

struct NoiseReduction {
    NoiseMode mode = NoiseMode::None;
    // The custom values as the line gives them ("-stmlength 1 -mtslength
    // 2", whatever the order); unset unless the line gave both.
    std::optional<QString> speechToMusic;
    std::optional<QString> musicToSpeech;
};
// The mode a line of the arguments names (the last one that does); failing
// that, Custom with the values of the first line when it gives both; None
// otherwise.
NoiseReduction readNoiseReduction(const QString& preProcessingArguments);
// The line of a mode; for Custom with the values as customArguments makes them.
QString noiseArguments(NoiseMode mode, const QString& speechToMusic, const QString& musicToSpeech);
// A custom value clamped to 0.25..4 when it is a number (infinities
// included); nullopt when it is not one.
std::optional<double> customValue(const QString& text);
// "-stmlength S -mtslength M": a value that is not a number is replaced by
// its default on its own; when neither is one, the defaults as written.
QString customArguments(const QString& speechToMusic, const QString& musicToSpeech);

// What pre-processing does with its result: replace the original, or keep
// it and write the result beside it with a suffix (and then maybe delete
// that copy once the file is submitted).
struct PreProcessResult {
    bool replaceOriginal = false;
    bool deleteAfterSubmission = false;
};
PreProcessResult readPreProcessResult(int stored);
int preProcessResultNumber(const PreProcessResult& result);

} // namespace folderoptions
