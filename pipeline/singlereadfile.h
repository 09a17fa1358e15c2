#pragma once

#include <QFile>

// A file that can be read from its start once: whatever sends it can never
// rewind it and send it again on its own, so the service never receives a
// job (and charges for it) twice without the client knowing.
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
