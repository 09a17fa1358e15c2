#pragma once

#include "denoiseoptions.h"
#include "denoiseparameters.h"

#include <QString>
#include <QtGlobal>

#include <functional>

// One run of the noise suppressor: a first pass over the input learns each
// channel's noise floor, a second pass suppresses it and writes the result
// under a temporary name that replaces the output only when it is complete.
class DenoiseJob {
public:
    using Progress = std::function<void(int step, int steps)>;

    DenoiseJob(const DenoiseOptions& options, const DenoiseParameters& parameters);
    // False with a message when the input cannot be read or the output
    // cannot be written; nothing is left at the output path then.
    // An input shorter than one analysis frame is copied through. NaN and
    // infinite input samples are taken as silence.
    bool run(const Progress& progress, QString& error);
    // The NaN and infinite samples the last run met.
    qint64 nonFiniteSamples() const { return m_nonFinite; }

private:
    DenoiseOptions m_options;
    DenoiseParameters m_parameters;
    qint64 m_nonFinite = 0;
};
