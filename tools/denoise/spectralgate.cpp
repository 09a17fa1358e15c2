#include "spectralgate.h"

#include <algorithm>
#include <cmath>

SpectralGate::SpectralGate(std::vector<double> noiseFloor, const GateSettings& settings)
    : m_noise(std::move(noiseFloor))
    , m_settings(settings)
    , m_previousClean(m_noise.size(), 0.0)
    , m_previousPeak(m_noise.size(), 0)
    , m_power(m_noise.size(), 0.0)
    , m_peak(m_noise.size(), 0)
    , m_floorDb(20.0 * std::log10(settings.speechFloor))
{
}

bool SpectralGate::looksLikeMusic(const std::vector<double>& power)
{
    const size_t bins = power.size();
    double active = 0, stablePeaks = 0;
    for (size_t k = 0; k < bins; ++k) {
        const double excess = power[k] - m_noise[k];
        const bool isPeak = k >= 2 && k + 2 < bins && power[k] > power[k - 1] && power[k] >= power[k + 1]
            && power[k] > power[k - 2] && power[k] >= power[k + 2] && power[k] > m_settings.musicPeakPower * m_noise[k];
        m_peak[k] = isPeak;
        if (excess <= 0)
            continue;
        active += excess;
        const bool wasPeak = m_previousPeak[k] || (k > 0 && m_previousPeak[k - 1]) || (k + 1 < bins && m_previousPeak[k + 1]);
        if (isPeak && wasPeak) {
            // A peak's energy sits in its main lobe, one bin either side.
            for (size_t j = k - 1; j <= k + 1; ++j)
                stablePeaks += std::max(0.0, power[j] - m_noise[j]);
        }
    }
    std::swap(m_peak, m_previousPeak);
    return active > 0 && stablePeaks >= m_settings.musicPeakShare * active;
}

void SpectralGate::updateHandling(bool musicFrame)
{
    if (m_settings.alwaysOn) {
        m_music = false;
    } else if (musicFrame != m_music) {
        const int hold = m_music ? m_settings.musicToSpeechFrames : m_settings.speechToMusicFrames;
        if (++m_run >= hold) {
            m_music = musicFrame;
            m_run = 0;
        }
    } else {
        m_run = 0;
    }
    const double target = 20.0 * std::log10(m_music ? m_settings.musicFloor : m_settings.speechFloor);
    const double step = std::clamp(target - m_floorDb, -m_settings.floorStepDb, m_settings.floorStepDb);
    m_floorDb += step;
}

void SpectralGate::process(std::vector<std::complex<float>>& spectrum)
{
    const size_t bins = m_noise.size();
    for (size_t k = 0; k < bins; ++k)
        m_power[k] = std::norm(spectrum[k]);
    updateHandling(looksLikeMusic(m_power));
    const double floorGain = std::pow(10.0, m_floorDb / 20.0);
    const double a = m_settings.snrSmoothing;
    for (size_t k = 0; k < bins; ++k) {
        const double gamma = m_power[k] / m_noise[k];
        const double xi = a * m_previousClean[k] / m_noise[k] + (1.0 - a) * std::max(gamma - 1.0, 0.0);
        const double gain = std::max(xi / (1.0 + xi), floorGain);
        spectrum[k] *= float(gain);
        m_previousClean[k] = gain * gain * m_power[k];
    }
}
