#include "audio/polyphasesinc.h"

#include "audio/pi.h"

#include <algorithm>
#include <cmath>

namespace {

// Zeroth-order modified Bessel function, for the Kaiser window.
double besselI0(double x)
{
    double sum = 1, term = 1;
    for (int k = 1; k < 60; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

} // namespace

std::vector<std::vector<double>> polyphaseSinc(int phases, int taps, double beta)
{
    const int length = phases * taps;
    const double centre = (length - 1) / 2.0;
    std::vector<std::vector<double>> table(size_t(phases), std::vector<double>(size_t(taps), 0.0));
    for (int p = 0; p < phases; ++p) {
        double sum = 0;
        for (int k = 0; k < taps; ++k) {
            const int j = k * phases + p;
            const double x = (j - centre) / phases;
            const double sinc = x == 0 ? 1.0 : std::sin(kPi * x) / (kPi * x);
            const double r = (j - centre) / (centre + 0.5);
            const double window = besselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / besselI0(beta);
            table[size_t(p)][size_t(k)] = sinc * window;
            sum += sinc * window;
        }
        for (double& t : table[size_t(p)])
            t /= sum;
    }
    return table;
}
