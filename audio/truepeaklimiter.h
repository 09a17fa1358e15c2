#pragma once

#include <QtGlobal>

#include <deque>
#include <utility>
#include <vector>

// Applies one linear gain to a stream and keeps the true peak of the result
// at or below a ceiling. Each frame's required gain comes from the peak of
// the signal around it: its samples, and between them the 4x oversampled
// values refined by a parabola through their neighbours (no fixed
// worst-case factor, so limited peaks land on the ceiling, not under it).
// The oversampler is longer than the meter's, flat nearer to half the
// sample rate, so that the ceiling holds against finer reconstructions.
// The gain reaches each requirement over a 5 ms look-ahead (a moving
// average of the released gains, which never passes any requirement it
// covers). It rises again only as far as the deepest requirement of the
// next 25 ms allows: a steady bass tone, whose peaks all need the same gain,
// gets one constant gain and no distortion, while the gain rises with the
// decaying cycles of a transient, so that only the transient is ducked. With
// no requirement left within 25 ms it releases: quickly after a transient,
// slowly once limiting has lasted (sustained passages do not pump). It never rides the
// gain up and never clips: where no limiting is needed the output is the
// plain gained input. Output lags input by latency() frames; flush() lets
// the rest out at the end. Samples that are no number become silence.
class TruePeakLimiter final {
public:
    // The oversampler: 4 phases of a windowed sinc of kTaps taps each,
    // flat to 0.47 of the sample rate (bright material has its peaks
    // between the samples up there). The frames it needs after a frame (the
    // interval after it and the first oversampled value of the next one)
    // and before it.
    static constexpr qint64 kTaps = 96;
    static constexpr qint64 kDetectionLag = kTaps / 2 + 2;
    static constexpr qint64 kHistory = kTaps / 2 + 1;

    TruePeakLimiter(int sampleRate, int channels, double gain, double ceilingDb);

    // Appends the output frames that are ready to `out` (interleaved).
    void process(const float* in, qint64 frames, std::vector<float>& out);
    void flush(std::vector<float>& out);

    qint64 latency() const { return m_holdAhead + kDetectionLag; }
    // The deepest gain reduction applied so far, in dB (0 when none).
    double maxReductionDb() const;

private:

    // Works out the required gain of every frame whose neighbourhood has
    // arrived, up to absolute frame `available` (excluded).
    void requirements(qint64 available);
    float requiredGain(qint64 frame);
    // The largest magnitude of channel c's signal from frame `frame` up to
    // the next frame, refined between the oversampled values.
    float intervalPeak(int c, qint64 frame) const;
    // Outputs every frame whose look-ahead is known.
    void deliver(std::vector<float>& out);
    // The gain that frame m_next gets before the look-ahead average, from
    // the smallest required gain of the look-ahead (`soon`) and of the
    // hold's reach (`within`).
    double released(double soon, double within);

    // Sliding minimum of the required gains over `length` frames from frame
    // `from` on: frame indices and gains, the gains rising from front to back.
    struct SlidingMinimum {
        std::deque<std::pair<qint64, float>> window;
        qint64 end = 0;   // frames pushed into it
        // `required` holds frame `from`'s gain at index `head`.
        float slide(const std::vector<float>& required, qint64 head, qint64 from, qint64 length);
    };

    int m_sampleRate;
    int m_channels;
    float m_gain;
    float m_ceiling;          // linear, with a little headroom
    qint64 m_lookahead;       // frames
    qint64 m_holdAhead;       // frames
    double m_fastRelease;     // per-frame steps back towards unity
    double m_slowRelease;
    qint64 m_sustained;       // limiting longer than this many frames releases slowly

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
    SlidingMinimum m_soon;      // over the look-ahead
    SlidingMinimum m_within;    // over the hold's reach
    // Released gains of the last m_lookahead frames (a ring) and their sum.
    std::vector<double> m_smoothing;
    size_t m_slot = 0;          // the ring's slot of frame m_next
    double m_smoothingSum = 0;
    double m_released = 1.0;
    // The last frame with a requirement within the hold's reach, and since
    // when the limiting has gone on without a pause.
    qint64 m_lastLimited = -2;
    qint64 m_limitingSince = 0;
    double m_deepest = 1.0;
};
