#pragma once

#include <QByteArray>

#include <vector>

// One second-order IIR section. The design is computed by the constructor;
// the per-channel state persists across apply() calls, so one filter object
// filters one stream continuously.
//
// Types: "high_shelf", "low_shelf", "high_pass", "low_pass", "peaking"
// (audio-EQ-cookbook designs) and "high_shelf_DeMan", "high_pass_DeMan"
// (fixed published designs). Any other name throws std::invalid_argument
// "Invalid filter type: <name>". Sections designed elsewhere (the
// K-weighting of every sample rate) are built from their coefficients.
class IIRFilter {
public:
    // Coefficients divided by a0.
    struct Design {
        double b0, b1, b2, a1, a2;
    };

    IIRFilter(double G, double Q, double fc, double fs, const QByteArray& type, double passbandGain);
    // A section designed elsewhere (a0 is 1); G, Q and fc read 0.
    IIRFilter(const QByteArray& type, double fs, const Design& design, double passbandGain);

    // Filters interleaved samples in place; `count` is the number of samples
    // (all channels together).
    void apply(float* samples, qint64 count, int channels);
    // Runs a whole chain over the samples. A chain of two on a mono or
    // stereo piece passes it sample by sample (both stereo channels in one
    // vector register where the processor has one), which keeps the state
    // in registers and lets the recursions overlap; between its two filters
    // the samples stay in double, so the result is that of applying each
    // filter in turn up to the rounding of the intermediate samples. With
    // `energy`, the squares of the filtered samples (each in double) are
    // added to energy[c] per channel in the same pass. Without
    // `keepOutput` the caller needs only the squares: a chain of two then
    // leaves the samples unfiltered and sums the squares of its unrounded
    // output.
    static void applyChain(std::vector<IIRFilter>& chain, float* samples, qint64 count, int channels,
        double* energy = nullptr, bool keepOutput = true);

    double gainDb() const { return m_gainDb; }
    double q() const { return m_q; }
    double centerFrequency() const { return m_centerFrequency; }
    double sampleRate() const { return m_sampleRate; }
    const QByteArray& filterType() const { return m_filterType; }
    double passbandGain() const { return m_passbandGain; }
    double b0() const { return m_b0; }
    double b1() const { return m_b1; }
    double b2() const { return m_b2; }
    double a0() const { return m_a0; }
    double a1() const { return m_a1; }
    double a2() const { return m_a2; }

private:
    void designCookbook();
    void designDeMan();
    // The passband gain goes into the feed-forward coefficients: the
    // outputs come out scaled, and so does the output state.
    Design scaledDesign() const;
    void ensureState(int channels);
    static void cascadeMono(IIRFilter& first, IIRFilter& second, float* samples, qint64 frames, double* energy,
        bool keepOutput);
    static void cascadeStereo(IIRFilter& first, IIRFilter& second, float* samples, qint64 frames, double* energy,
        bool keepOutput);

    double m_gainDb;
    double m_q;
    double m_centerFrequency;
    double m_sampleRate;
    QByteArray m_filterType;
    double m_passbandGain;
    double m_b0 = 1, m_b1 = 0, m_b2 = 0;
    double m_a0 = 1, m_a1 = 0, m_a2 = 0;
    std::vector<double> m_x1, m_x2, m_y1, m_y2;
};
