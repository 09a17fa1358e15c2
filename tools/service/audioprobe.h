#pragma once

#include <QString>

// What the service needs to know about an uploaded file before taking it.
struct AudioFacts {
    double durationSeconds = 0;
    int sampleRate = 0;
    int channels = 0;
    bool sourceIsFloat = false;
    int sourceBits = 16;
    bool isWav = false;   // a RIFF/RF64 WAV container, which passthrough copies as it is
};

// Opens the file with the decoder: false (with the reason) when it is not
// decodable audio.
bool probeAudio(const QString& path, AudioFacts& facts, QString& error);
