#pragma once

#include <complex>
#include <vector>

// Settings of the per-frame suppression, in the units of one frame.
struct GateSettings {
    double snrSmoothing = 0.98;
    double speechFloor = 0.03;      // linear amplitude
    double musicFloor = 0.16;
    double floorStepDb = 1.0;       // largest change of the floor per frame
    double musicPeakPower = 31.6;   // peak power over the floor
    double musicPeakShare = 0.5;
    bool alwaysOn = false;
    int speechToMusicFrames = 0;    // music frames in a row before music handling
    int musicToSpeechFrames = 0;    // other frames in a row before speech handling
};

// Suppresses stationary noise in one channel, frame by frame: a Wiener gain
// from the decision-directed a-priori SNR, never below a floor that is deep
// in speech handling and shallower in music handling. Music handling starts
// after a run of frames dominated by stable spectral peaks and ends after a
// run of other frames (the hold times); --alwayson keeps speech handling.
class SpectralGate {
public:
    SpectralGate(std::vector<double> noiseFloor, const GateSettings& settings);

    void process(std::vector<std::complex<float>>& spectrum);
    bool inMusicHandling() const { return m_music; }

private:
    bool looksLikeMusic(const std::vector<double>& power);
    void updateHandling(bool musicFrame);

    std::vector<double> m_noise;
    GateSettings m_settings;
    std::vector<double> m_previousClean;   // |G X|^2 of the previous frame
    std::vector<char> m_previousPeak;
    std::vector<double> m_power;
    std::vector<char> m_peak;
    bool m_music = false;
    int m_run = 0;
    double m_floorDb;
};
