#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <memory>
#include <vector>

// The client's audio layer: decoding of any file libsndfile reads (WAV, RF64,
// FLAC, Ogg, MP3), a volume stage, WAV writing and MP3 writing. Every call
// that fails records an error code for the calling thread, which callers
// print after a fixed text ("Error creating stream from file: 2").
//
// Streams deliver interleaved samples; lengths, positions and read sizes are
// in bytes of what the stream delivers, as 64-bit numbers.
namespace audiolib {

// Stable numbers: they appear in messages on standard error.
enum class ErrorCode : int {
    Ok = 0,
    NotInitialized = 1,   // initialize() failed or was not called where it is needed
    FileOpen = 2,         // the file is missing, unreadable or cannot be created
    FileFormat = 3,       // the file is not audio the decoder understands
    Unsupported = 4,      // a format, channel count or rate the operation cannot handle
    Parameter = 5,        // a bad argument (null buffer, bad option text, ...)
    Read = 6,             // decoding failed in the middle of the file
    Write = 7,            // writing the output failed
    Encoder = 8,          // the MP3 encoder refused its settings or failed
    NotOpen = 9,          // the stream or writer is not open
    Busy = 10,            // a writer is already attached to the stream
    Memory = 11,
    Malformed = 12,       // a readable file whose header or chunks are broken
    Encoding = 13,        // an audio file in an encoding the decoder lacks
    SampleRate = 14,      // a sample rate outside kMinSampleRate..kMaxSampleRate
    Channels = 15,        // more than kMaxChannels channels
};

// Streams outside these limits are refused when they are opened: buffers
// sized from a lying header must not exhaust memory.
inline constexpr int kMinSampleRate = 8000;
inline constexpr int kMaxSampleRate = 768000;
inline constexpr int kMaxChannels = 64;

// Error code of the last failed call on this thread (Ok after a success of a
// call that resets it: open, read, start of a writer).
ErrorCode lastError();
int lastErrorCode();
// A short English description of a code, for command-line tools.
const char* errorText(ErrorCode code);

// Process-wide start and release. initialize() checks that the decoder and
// the MP3 encoder are usable; decoding and writing do not depend on it, so a
// failure is only reported. Calls may repeat; release() matches initialize().
bool initialize();
void release();
bool isInitialized();
// Text printed before the error code when initialize() fails.
inline constexpr const char* kInitErrorText = "Error initializing audio library: ";

// Version of the MP3 encoder as one number 0xMMmmPPBB (major, minor, patch,
// beta/alpha marker), shown in hexadecimal.
quint32 mp3EncoderVersion();

// Sample formats a stream can deliver.
enum class SampleFormat {
    Int16,    // 16-bit signed
    Int32,    // 32-bit signed, full scale (24-bit sources arrive shifted up 8 bits)
    Float32,  // 32-bit float, full scale +-1.0
};
int bytesPerSample(SampleFormat format);

// Where a channel's loudspeaker stands, as a file's channel layout names it
// (the channel mask of a WAVE_FORMAT_EXTENSIBLE header, for example).
enum class Speaker {
    Unknown,
    Left,
    Right,
    Centre,
    LowFrequency,
    FrontLeftOfCentre,
    FrontRightOfCentre,
    BackLeft,
    BackRight,
    BackCentre,
    SideLeft,
    SideRight,
    Top,   // any of the height channels
};

struct StreamInfo {
    int sampleRate = 0;
    int channels = 0;
    bool sourceIsFloat = false;   // the file stores floating-point samples
    int sourceBits = 16;          // stored resolution: 16, 24 or 32 (8-bit counts as 16)
    SampleFormat format = SampleFormat::Float32;   // what read() delivers
    // One entry per channel when the file names its layout, else empty.
    std::vector<Speaker> speakers;
    int frameBytes() const { return channels * bytesPerSample(format); }
};

enum class WavFormat {
    Pcm16,          // 16-bit PCM, floats clipped to full scale
    SourceFormat,   // the source's own resolution (float stays float)
};

// Receives the samples a stream delivers; implemented by the two writers.
class SampleSink {
public:
    virtual ~SampleSink() = default;
    virtual bool write(const void* data, qint64 bytes) = 0;
    virtual bool close() = 0;
};

// A WAV file written from interleaved samples in the format of `input`.
// A plain RIFF WAV when the expected length fits into its 4 GiB limit; RF64
// when it does not, or when the length is not known (RF64 then falls back to
// a RIFF header if the data turn out to fit), so no data are ever lost to a
// wrapped size field.
class WavWriter : public SampleSink {
public:
    WavWriter();
    ~WavWriter() override;
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    bool open(const QByteArray& utf8Path, const StreamInfo& input, WavFormat format, qint64 expectedFrames = -1);
    bool write(const void* data, qint64 bytes) override;
    // Completes the header; false when any write failed.
    bool close() override;
    bool isOpen() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// A constant-bit-rate MP3 file. Options: "-b<kbit/s>", for example "-b128".
// An existing file is overwritten.
class Mp3Writer : public SampleSink {
public:
    Mp3Writer();
    ~Mp3Writer() override;
    Mp3Writer(const Mp3Writer&) = delete;
    Mp3Writer& operator=(const Mp3Writer&) = delete;

    bool open(const QByteArray& utf8Path, const StreamInfo& input, const QByteArray& options);
    bool write(const void* data, qint64 bytes) override;
    // Flushes the encoder and closes the file; false when any step failed.
    bool close() override;
    bool isOpen() const;
    // The bit rate in kbit/s named by an option text, or 0 when it names none.
    static int bitRateFromOptions(const QByteArray& options);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// A decoding stream over one file.
class DecodeStream {
public:
    enum class Samples {
        Float,    // 32-bit float whatever the source holds
        Native,   // the source's own resolution: Float32 for float sources,
                  // Int32 for 24- and 32-bit PCM, Int16 for everything else
        FloatOrInt16,   // Int16 where the source is integer PCM of 16 bits
                        // or fewer (Float's samples times 32768, exactly,
                        // in half the bytes), else Float32
    };

    DecodeStream();
    ~DecodeStream();
    DecodeStream(const DecodeStream&) = delete;
    DecodeStream& operator=(const DecodeStream&) = delete;

    // With exactLength the length is counted by decoding the file once when
    // the container does not state it exactly (MP3); otherwise it may be the
    // decoder's estimate. A length the container does not know at all (FLAC
    // without a sample count) is always counted by decoding.
    bool open(const QByteArray& utf8Path, Samples samples, bool exactLength = false);
    // The same for a file held in memory (the stream keeps its own copy).
    bool openBytes(const QByteArray& bytes, Samples samples, bool exactLength = false);
    bool isOpen() const;
    void close();   // also stops an attached writer

    // False (NotOpen) when no file is open.
    bool info(StreamInfo& out) const;
    qint64 lengthBytes() const;
    qint64 lengthFrames() const;
    qint64 positionBytes() const;

    // Linear gain applied to every delivered sample from the next read on.
    // Integer samples that pass full scale are clipped, never wrapped.
    void setVolume(float gain);
    float volume() const;

    // Attaches a writer that receives every block read() delivers.
    bool startWavWriter(const QByteArray& utf8Path, WavFormat format);
    bool startMp3Writer(const QByteArray& utf8Path, const QByteArray& options);
    // Completes and detaches the writer; false when it had failed or none was
    // attached.
    bool stopWriter();

    // Delivers up to `bytes` (whole frames only). Returns the bytes delivered,
    // 0 at the end, -1 on error (bad arguments, decoding or writer failure).
    qint64 read(void* buffer, qint64 bytes);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace audiolib
