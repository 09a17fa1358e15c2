#include "audio/kweighting.h"

#include "audio/pi.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <map>
#include <mutex>

namespace {

// The sections BS.1770 gives for 48 kHz.
constexpr double kStandardRate = 48000.0;
constexpr IIRFilter::Design kShelf48{1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241,
    0.73248077421585};
constexpr IIRFilter::Design kHighPass48{1.0, -2.0, 1.0, -1.99004745483398, 0.99007225036621};
// Their analog prototypes, whose bilinear transforms at 48 kHz they are.
constexpr double kShelfF0 = 1681.974450955533;
constexpr double kShelfGainDb = 3.999843853973347;
constexpr double kShelfQ = 0.7071752369554196;
constexpr double kShelfMidExponent = 0.4996667741545416;
constexpr double kHighPassF0 = 38.13547087602444;
constexpr double kHighPassQ = 0.5003270373238773;
// Where the standard's sections stop describing it (0.45 of 48 kHz).
constexpr double kStandardTop = 0.45 * kStandardRate;

double decibels(std::complex<double> h)
{
    return 20.0 * std::log10(std::abs(h));
}

std::complex<double> digitalResponse(const IIRFilter::Design& d, double f, double fs)
{
    const std::complex<double> zi = std::polar(1.0, -2.0 * kPi * f / fs);
    return (d.b0 + zi * (d.b1 + zi * d.b2)) / (1.0 + zi * (d.a1 + zi * d.a2));
}

// The bilinear transforms of the prototypes at fs. The standard's high-pass
// has numerator 1, -2, 1, so its passband gain is that of 48 kHz at every rate.
IIRFilter::Design bilinearShelf(double fs)
{
    const double K = std::tan(kPi * kShelfF0 / fs);
    const double Vh = std::pow(10.0, kShelfGainDb / 20.0);
    const double Vb = std::pow(Vh, kShelfMidExponent);
    const double D = 1.0 + K / kShelfQ + K * K;
    return {(Vh + Vb * K / kShelfQ + K * K) / D, 2.0 * (K * K - Vh) / D, (Vh - Vb * K / kShelfQ + K * K) / D,
        2.0 * (K * K - 1.0) / D, (1.0 - K / kShelfQ + K * K) / D};
}

double highPassDenominator(double fs)
{
    const double K = std::tan(kPi * kHighPassF0 / fs);
    return 1.0 + K / kHighPassQ + K * K;
}

IIRFilter::Design bilinearHighPass(double fs)
{
    const double K = std::tan(kPi * kHighPassF0 / fs);
    const double D = highPassDenominator(fs);
    const double gain = highPassDenominator(kStandardRate) / D;
    return {gain, -2.0 * gain, gain, 2.0 * (K * K - 1.0) / D, (1.0 - K / kHighPassQ + K * K) / D};
}

double shelfTargetDb(double f)
{
    if (f <= kStandardTop)
        return decibels(digitalResponse(kShelf48, f, kStandardRate));
    const std::complex<double> s(0.0, f / kShelfF0);
    const double Vh = std::pow(10.0, kShelfGainDb / 20.0);
    const double Vb = std::pow(Vh, kShelfMidExponent);
    return decibels((Vh * s * s + Vb * s / kShelfQ + 1.0) / (s * s + s / kShelfQ + 1.0));
}

using Coefficients = std::array<double, 5>;

IIRFilter::Design designOf(const Coefficients& p)
{
    return {p[0], p[1], p[2], p[3], p[4]};
}

bool stable(const Coefficients& p)
{
    return std::fabs(p[4]) < 1.0 && std::fabs(p[3]) < 1.0 + p[4];
}

// Solves the 5 x 5 system a x = rhs by elimination with pivoting.
Coefficients solve(std::array<std::array<double, 6>, 5> m)
{
    for (int k = 0; k < 5; ++k) {
        int pivot = k;
        for (int r = k + 1; r < 5; ++r)
            if (std::fabs(m[r][k]) > std::fabs(m[pivot][k]))
                pivot = r;
        std::swap(m[k], m[pivot]);
        for (int r = 0; r < 5; ++r) {
            if (r == k || m[k][k] == 0.0)
                continue;
            const double factor = m[r][k] / m[k][k];
            for (int c = k; c < 6; ++c)
                m[r][c] -= factor * m[k][c];
        }
    }
    Coefficients x{};
    for (int k = 0; k < 5; ++k)
        x[k] = m[k][k] != 0.0 ? m[k][5] / m[k][k] : 0.0;
    return x;
}

// Fits the shelf at fs: Levenberg-Marquardt on the dB errors at
// logarithmically spaced frequencies, started from the bilinear transform;
// each round weights the points by their last error, which drives the fit
// towards the smallest largest error.
IIRFilter::Design fitShelf(double fs)
{
    std::vector<double> freqs, target;
    for (double f = 20.0; f < 0.45 * fs; f *= 1.03)
        freqs.push_back(f);
    freqs.push_back(0.45 * fs);
    for (double f : freqs)
        target.push_back(shelfTargetDb(f));
    const size_t n = freqs.size();
    std::vector<double> weight(n, 1.0), error(n);
    std::vector<Coefficients> jacobian(n);
    auto errors = [&](const Coefficients& p, std::vector<double>& out) {
        double cost = 0;
        for (size_t i = 0; i < n; ++i) {
            out[i] = decibels(digitalResponse(designOf(p), freqs[i], fs)) - target[i];
            cost += weight[i] * out[i] * out[i];
        }
        return cost;
    };
    const IIRFilter::Design start = bilinearShelf(fs);
    Coefficients p{start.b0, start.b1, start.b2, start.a1, start.a2};
    std::vector<double> trial(n), shifted(n);
    for (int round = 0; round < 4; ++round) {
        double cost = errors(p, error);
        double damping = 1e-3;
        for (int iteration = 0; iteration < 40 && damping < 1e6; ++iteration) {
            for (int k = 0; k < 5; ++k) {
                Coefficients q = p;
                const double h = 1e-7;
                q[k] += h;
                errors(q, shifted);
                for (size_t i = 0; i < n; ++i)
                    jacobian[i][k] = (shifted[i] - error[i]) / h;
            }
            std::array<std::array<double, 6>, 5> normal{};
            for (size_t i = 0; i < n; ++i)
                for (int r = 0; r < 5; ++r) {
                    for (int c = 0; c < 5; ++c)
                        normal[r][c] += weight[i] * jacobian[i][r] * jacobian[i][c];
                    normal[r][5] -= weight[i] * jacobian[i][r] * error[i];
                }
            bool improved = false;
            while (!improved && damping < 1e6) {
                auto damped = normal;
                for (int r = 0; r < 5; ++r)
                    damped[r][r] *= 1.0 + damping;
                const Coefficients step = solve(damped);
                Coefficients q = p;
                for (int k = 0; k < 5; ++k)
                    q[k] += step[k];
                const double trialCost = stable(q) ? errors(q, trial) : HUGE_VAL;
                if (trialCost < cost) {
                    improved = cost - trialCost > 1e-12 * cost;
                    p = q;
                    cost = trialCost;
                    error.swap(trial);
                    damping *= 0.3;
                    if (!improved)
                        damping = 1e6;
                } else {
                    damping *= 10.0;
                }
            }
        }
        double sum = 0;
        for (size_t i = 0; i < n; ++i) {
            weight[i] *= std::fabs(error[i]) + 1e-6;
            sum += weight[i];
        }
        for (double& w : weight)
            w *= double(n) / sum;
    }
    return designOf(p);
}

IIRFilter::Design shelfFor(double fs)
{
    if (fs == kStandardRate)
        return kShelf48;
    static std::mutex lock;
    static std::map<double, IIRFilter::Design> fitted;
    std::lock_guard<std::mutex> guard(lock);
    const auto it = fitted.find(fs);
    if (it != fitted.end())
        return it->second;
    return fitted.emplace(fs, fitShelf(fs)).first->second;
}

} // namespace

namespace kweighting {

std::vector<IIRFilter> chain(double fs, double gain)
{
    std::vector<IIRFilter> filters;
    filters.emplace_back(QByteArray("k_weighting_shelf"), fs, shelfFor(fs), gain);
    filters.emplace_back(QByteArray("k_weighting_high_pass"), fs,
        fs == kStandardRate ? kHighPass48 : bilinearHighPass(fs), 1.0);
    return filters;
}

} // namespace kweighting
