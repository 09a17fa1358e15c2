#pragma once

#include <QtGlobal>

#include <deque>
#include <utility>
#include <vector>

// Applies one linear gain to a stream and keeps the true peak of the result
// at or below a ceiling: the gain is lowered only around the samples whose
// oversampled peak would pass the ceiling, reaching its lowest before each
// such peak (look-ahead) and coming back smoothly afterwards. It never rides
// the gain up and never clips: where no limiting is needed the output is the
// plain gained input. Output lags input by latency() frames; flush() lets the
// rest out at the end.
class TruePeakLimiter final {
public:
    TruePeakLimiter(int sampleRate, int channels, double gain, double ceilingDb);

    // Appends the output frames that are ready to `out` (interleaved).
    void process(const float* in, qint64 frames, std::vector<float>& out);
    void flush(std::vector<float>& out);

    qint64 latency() const { return m_lookahead + kDetectionLag; }
    // The deepest gain reduction applied so far, in dB (0 when none).
    double maxReductionDb() const;

private:
    static constexpr qint64 kDetectionLag = 17;   // frames the oversampler needs after a frame
    static constexpr qint64 kHistory = 32;        // frames it needs before one

    // Works out the required gain of every frame whose neighbourhood has
    // arrived, up to absolute frame `available` (excluded).
    void requirements(qint64 available);
    float requiredGain(qint64 frame);
    // Outputs every frame whose look-ahead is known.
    void deliver(std::vector<float>& out);

    int m_channels;
    float m_gain;
    float m_ceiling;          // linear, with a little headroom
    qint64 m_lookahead;       // frames
    double m_release;         // per-frame step back towards unity

    // Gained input per channel, from absolute frame m_base on; frames before
    // the start are silence.
    std::vector<std::vector<float>> m_channelsIn;
    qint64 m_base = -kHistory;
    qint64 m_received = 0;    // frames received
    qint64 m_next = 0;        // next frame to output
    // Required gains from frame m_next on (from index m_requiredHead), as
    // far as worked out.
    std::vector<float> m_required;
    qint64 m_requiredHead = 0;
    qint64 m_requiredEnd = 0;
    float m_lastInterval = 0;   // oversampled peak between the last two frames worked out
    // Sliding minimum of the required gains over m_lookahead frames: frame
    // indices and gains, the gains rising from front to back.
    std::deque<std::pair<qint64, float>> m_minimum;
    qint64 m_minimumEnd = 0;    // frames pushed into it
    // Released gains of the last m_lookahead frames (a ring) and their sum.
    std::vector<double> m_smoothing;
    size_t m_slot = 0;          // the ring's slot of frame m_next
    double m_smoothingSum = 0;
    double m_released = 1.0;
    double m_deepest = 1.0;
};
