#pragma once

#include <QString>

// The batch at a glance: the files queued since the queue was last idle,
// how many of them have finished, and how long the rest may take.
struct BatchFigures {
    // Files of the batch, and those of them that are Done or in Error.
    int total = 0;
    int finished = 0;
    int errors = 0;
    // Files of the batch that wait for a session.
    int waiting = 0;
    // 0 to 100, the running files counted by how far they have come.
    int percent = 0;
    // -1 until two files have finished.
    int secondsLeft = -1;
    // Files wait or run; otherwise the figures are those of the last batch
    // (none when its files have all left the queue).
    bool running = false;

    bool idle() const { return !running && total == 0; }
    // "N of M files, P %, about T left" while files wait or run, "All N
    // files done" (with the errors) once they have finished ("1 file done"
    // or "1 file failed" for one), and "Idle" when there is no batch to
    // tell of.
    QString text() const;

    bool operator==(const BatchFigures& other) const;
    bool operator!=(const BatchFigures& other) const { return !(*this == other); }
};

// "45 s" (by 5 s), "4 min", "2 h 5 min".
QString durationText(int seconds);
