#pragma once

#include <QByteArray>

#include <atomic>

// Writes `output` (a WAV in the source's own resolution) as `input` with
// `gain` applied and its true peak held at or below `ceilingDb` dBTP by the
// look-ahead true-peak limiter. Runs on the caller's thread, streaming:
// memory does not grow with the file. Returns false, with the reason in
// `error`, when the input cannot be read or the output not written;
// `maxReductionDb` is the deepest gain reduction the limiter applied. A
// set `stop` ends the render early, unsucceeded ("Stopped").
bool renderLimited(const QByteArray& input, const QByteArray& output, double gain, double ceilingDb,
                   double& maxReductionDb, QByteArray& error, const std::atomic<bool>* stop = nullptr);
