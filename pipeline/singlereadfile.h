#pragma once

#include <QFile>

// A file that can be read from its start once. The network layer sends a
// request again on its own when a connection closes before the answer,
// rewinding the body first; an upload whose body cannot be rewound is
// reported as failed instead, so the service never receives a job (and
// charges for it) twice without the client knowing.
class SingleReadFile : public QFile {
public:
    using QFile::QFile;

    // Allowed only to the start and only before anything has been read.
    bool seek(qint64 position) override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;

private:
    bool m_read = false;
};
