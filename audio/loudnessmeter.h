#pragma once

#include "audio/iirfilter.h"
#include "audio/loudnessreport.h"
#include "audio/loudnessseries.h"

#include <QByteArray>

#include <atomic>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

namespace audiolib {
class DecodeStream;
}
class LoudnessRange;
class TruePeakDetector;

// Measures a file's gated integrated loudness (LUFS, 400 ms blocks with 75 %
// overlap, absolute gate -70, relative gate -10) and the RMS level of the
// unfiltered samples (dB) in one streaming pass. Memory does not depend on
// the length the header states: a block's frames are read once, and the
// measurement ends where the stream really ends. A stream shorter than one
// block has no gated block and so no integrated loudness (minus infinity,
// as silence); an empty one reads -100 for both figures. Samples that are no
// number count as silence and are counted; any finite sample, however
// large, gives finite figures.
//
// Failures throw: std::runtime_error "Can't load file, error <code>",
// "Error getting channel info", "Error reading from source file (GetData)";
// std::invalid_argument "Invalid filter class: <name>".
class LoudnessMeter {
public:
    LoudnessMeter(const QByteArray& path, const QByteArray& filterClass, float blockSize);
    // Measures a stream opened already (over bytes in memory, for example);
    // its info() must succeed and it must deliver floats or 16-bit
    // samples, else "Error getting channel info".
    LoudnessMeter(std::unique_ptr<audiolib::DecodeStream> stream, const QByteArray& filterClass, float blockSize);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Reads the whole stream once; fills lufs() and dbRms(), then
    // isMeasured(). Later calls change nothing. A `stop` set by another
    // thread ends the reading early: std::runtime_error "Stopped".
    void measure(const std::atomic<bool>* stop = nullptr);

    double lufs() const { return m_lufs; }
    double dbRms() const { return m_dbRms; }
    // Safe to poll from another thread while measure() runs.
    bool isMeasured() const { return m_measured.load(); }
    QByteArray filePath() const { return m_filePath; }
    int sampleRate() const { return m_sampleRate; }
    int channels() const { return m_channels; }
    qint64 frames() const { return m_frames; }
    // Number of gating blocks the last measure() used.
    qint64 blockCount() const { return m_blockCount; }
    // NaN and infinite samples the last measure() met; they count as silence.
    qint64 nonFiniteSamples() const { return m_nonFinite; }

    // With collection on (before measure()), measure() also fills series():
    // momentary and short-term loudness over time and the sample peak. Read
    // it only once isMeasured().
    void collectSeries(bool on) { m_collectSeries = on; }
    const LoudnessSeries& series() const { return m_series; }

    // With the report on (before measure()), measure() also fills report():
    // loudness range, maximum momentary and short-term loudness, true peak
    // and sample peak, reading the stream to its real end. The figures of
    // lufs() and dbRms() do not change. Read it only once isMeasured().
    void collectReport(bool on) { m_collectReport = on; }
    const LoudnessReport& report() const { return m_report; }

    // Free text for a viewer to remember what it has shown.
    QByteArray displayTag;

    // Loudness weight of each channel of the stream (see channelweights.h).
    const std::vector<double>& channelWeights() const { return m_channelWeights; }
    // The filter chain of a class, for sample rate fs, with the passband
    // gain `gain` on its first filter.
    static std::vector<IIRFilter> filterChain(const QByteArray& filterClass, double fs, double gain = 1.0);

private:
    // Takes the stream's format and checks the block size.
    void setUp();
    // Reads the frames of the stream up to frame `upper` (excluded) that
    // earlier blocks have not read; they land in m_fresh, unfiltered, and
    // count into the RMS level. Frames past the end of the stream are
    // silence.
    void readUpTo(qint64 upper);
    // First frame and end frame (excluded) of gating block j.
    qint64 blockStart(qint64 j) const;
    qint64 blockEnd(qint64 j) const;
    // Reads block j, filters its new frames and stores each channel's sum
    // of squared filtered samples in zj. Every sample belongs to four overlapping blocks but is
    // squared once: the new frames are summed in stretches cut at every
    // block start, and a block adds up the stretches it covers.
    void blockEnergy(qint64 j, double* zj);
    // Reads up to `count` samples into `out` as floats, the non-finite
    // ones replaced with silence and counted; returns how many came and
    // sets `squares` to the sum of their squares (each in double).
    qint64 decode(float* out, qint64 count, double& squares);
    // Replaces the non-finite samples of the first `count` with silence
    // and counts them.
    void silenceNonFinite(float* samples, qint64 count);
    // Feeds the report the delivered unfiltered samples of m_fresh (peaks).
    void reportUnfiltered(qint64 delivered);
    // Filters `frames` frames of `samples`, the stream's frames from
    // `first` on, adding each channel's sum of squares to energy[c] (when
    // given) and, with the report, to the loudness range (the frames before
    // m_deliveredEnd). Only the squares come out: the samples may be left
    // unfiltered.
    void filterPiece(float* samples, qint64 first, qint64 frames, double* energy);
    // Reads what the gating blocks left of the stream: its non-finite
    // samples are counted, and the report takes the rest of its figures.
    void readTail();
    void finishReport();

    // One stretch of filtered frames, from `start` to the next stretch.
    struct Stretch {
        qint64 start;
        std::vector<double> energy;   // per channel
    };
    std::deque<Stretch> m_stretches;
    qint64 m_nextCut = 1;             // the next block start to cut at

    // Series collection: the weighted energy of every stretch of the last
    // short-term window, and their sum.
    void seriesStretch(const Stretch& stretch);
    void seriesPoint(qint64 j, double momentaryEnergy);
    double weightedEnergy(const double* energy) const;
    bool m_collectSeries = false;
    bool m_collectReport = false;
    LoudnessReport m_report;
    std::unique_ptr<TruePeakDetector> m_truePeak;
    std::unique_ptr<LoudnessRange> m_range;
    float m_samplePeak = 0;
    LoudnessSeries m_series;
    std::vector<double> m_weights;
    std::deque<std::pair<qint64, double>> m_windowStretches;   // start frame, weighted energy
    double m_windowEnergy = 0;
    qint64 m_shortTermHops = 30;

    int m_sampleRate = 0;
    QByteArray m_filterClass;
    float m_blockSize;
    std::vector<IIRFilter> m_filters;
    std::vector<float> m_fresh;      // the samples read for the current block
    bool m_int16 = false;            // the stream delivers 16-bit samples
    std::vector<qint16> m_raw;       // ... read here first
    qint64 m_samplesConsumed = 0;
    bool m_streamEnded = false;      // the stream delivered less than was asked for
    qint64 m_deliveredEnd = 0;       // frames the stream has really delivered
    std::vector<double> m_pieceEnergy;
    qint64 m_nonFinite = 0;
    int m_channels = 0;
    std::vector<double> m_channelWeights;
    qint64 m_frames = 0;
    std::unique_ptr<audiolib::DecodeStream> m_stream;
    double m_sumOfSquares = 0;
    qint64 m_sampleCount = 0;
    double m_dbRms = 0;
    double m_lufs = 0;
    QByteArray m_filePath;
    std::atomic<bool> m_measured{false};
    qint64 m_blockCount = 0;
};
