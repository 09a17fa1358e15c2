#pragma once

#include <QString>
#include <QStringList>

// The command line: -input IN -modelpath DIR -output OUT, then optionally
// -stmlength S -mtslength M (hold times in seconds for switching from speech
// to music handling and back) and --alwayson (speech handling everywhere).
struct DenoiseOptions {
    QString input;
    QString modelPath;
    QString output;
    double stmLength = -1;   // negative: not given
    double mtsLength = -1;
    bool alwaysOn = false;
    bool help = false;

    // False with a message for an unknown option, a missing value, a bad
    // number or a missing required option.
    bool parse(const QStringList& arguments, QString& error);
    static QString usage();
};
