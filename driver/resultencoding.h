#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class DeleteRequests;
class QueueFile;
class audioEncoderParent;
class mp3Encoder;

// The MP3 jobs of finished files. For a file from a watched folder that
// asks for MP3, one encoder per result (the destination file, then each
// post-processing output), named with the folder's MP3 suffix and the
// preset, at the folder's bit rate. With deleteWAVafterMP3Encoding each
// encoder asks, once its MP3 is complete, for its WAV to be deleted. The
// jobs are owned here; destroying them cancels the running ones (their
// partial MP3s are removed).
class ResultEncoding {
public:
    using Started = std::function<void(audioEncoderParent*)>;
    using Ended = std::function<void(const mp3Encoder&)>;

    ResultEncoding(DeleteRequests& deleteRequests, Started started);
    ~ResultEncoding();
    ResultEncoding(const ResultEncoding&) = delete;
    ResultEncoding& operator=(const ResultEncoding&) = delete;

    void encodeResults(const QueueFile& file);
    int count() const { return int(m_jobs.size()); }
    audioEncoderParent* at(int index) const;
    // Tells `ended` once about each job that ended since the last call,
    // with its MP3 or failed (a cancelled job is not told).
    void reportEnded(const Ended& ended);
    // Destroys every finished job, telling `forget` about each first.
    void clearFinished(const std::function<void(const audioEncoderParent*)>& forget);

private:
    struct Job {
        std::unique_ptr<mp3Encoder> encoder;
        bool told = false;
    };

    DeleteRequests& m_deleteRequests;
    Started m_started;
    std::vector<Job> m_jobs;
};

// A finished file's results: the destination file, then each
// post-processing output.
QStringList resultFiles(const QueueFile& file);

// The MP3 name of one result: folder + complete base name + suffix + ".mp3",
// with the preset expanded into it.
QString mp3NameFor(const QString& result, const QString& suffix, const QString& preset);
