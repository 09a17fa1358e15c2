#include "audio/audiolibrary.h"

#include <QRegularExpression>

#include <lame/lame.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace audiolib {

namespace {

thread_local ErrorCode t_lastError = ErrorCode::Ok;
// Data bytes a RIFF WAV can describe, with room for the header chunks.
constexpr qint64 kRiffDataLimit = 0xFFFFFFFFLL - (1 << 20);
std::atomic<int> g_initCount{0};

bool fail(ErrorCode code)
{
    t_lastError = code;
    return false;
}

void succeed()
{
    t_lastError = ErrorCode::Ok;
}

// libsndfile reports every failure to open through one call. Only its
// system error means the file could not be read at all; its own detailed
// codes (no channels, no data chunk, ...) all describe a malformed file.
ErrorCode openErrorOf(int sfError)
{
    switch (sfError) {
    case SF_ERR_SYSTEM:
        return ErrorCode::FileOpen;
    case SF_ERR_UNRECOGNISED_FORMAT:
        return ErrorCode::FileFormat;
    case SF_ERR_UNSUPPORTED_ENCODING:
        return ErrorCode::Encoding;
    default:
        return ErrorCode::Malformed;
    }
}

// The limits every opened stream must keep; Ok when it does.
ErrorCode streamLimitsError(const SF_INFO& info)
{
    if (info.channels <= 0 || info.samplerate <= 0)
        return ErrorCode::Malformed;
    if (info.samplerate < kMinSampleRate || info.samplerate > kMaxSampleRate)
        return ErrorCode::SampleRate;
    if (info.channels > kMaxChannels)
        return ErrorCode::Channels;
    return ErrorCode::Ok;
}

// The layout the file names (a WAV channel mask, for example); empty when
// it names none.
std::vector<Speaker> speakersOf(SNDFILE* file, int channels)
{
    std::vector<int> map(size_t(channels), SF_CHANNEL_MAP_INVALID);
    if (sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map.data(), int(sizeof(int) * map.size())) != SF_TRUE)
        return {};
    std::vector<Speaker> speakers;
    for (int entry : map) {
        switch (entry) {
        case SF_CHANNEL_MAP_LEFT:
        case SF_CHANNEL_MAP_FRONT_LEFT:
            speakers.push_back(Speaker::Left);
            break;
        case SF_CHANNEL_MAP_RIGHT:
        case SF_CHANNEL_MAP_FRONT_RIGHT:
            speakers.push_back(Speaker::Right);
            break;
        case SF_CHANNEL_MAP_MONO:
        case SF_CHANNEL_MAP_CENTER:
        case SF_CHANNEL_MAP_FRONT_CENTER:
            speakers.push_back(Speaker::Centre);
            break;
        case SF_CHANNEL_MAP_LFE:
            speakers.push_back(Speaker::LowFrequency);
            break;
        case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
            speakers.push_back(Speaker::FrontLeftOfCentre);
            break;
        case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
            speakers.push_back(Speaker::FrontRightOfCentre);
            break;
        case SF_CHANNEL_MAP_REAR_LEFT:
            speakers.push_back(Speaker::BackLeft);
            break;
        case SF_CHANNEL_MAP_REAR_RIGHT:
            speakers.push_back(Speaker::BackRight);
            break;
        case SF_CHANNEL_MAP_REAR_CENTER:
            speakers.push_back(Speaker::BackCentre);
            break;
        case SF_CHANNEL_MAP_SIDE_LEFT:
            speakers.push_back(Speaker::SideLeft);
            break;
        case SF_CHANNEL_MAP_SIDE_RIGHT:
            speakers.push_back(Speaker::SideRight);
            break;
        case SF_CHANNEL_MAP_TOP_CENTER:
        case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
        case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
        case SF_CHANNEL_MAP_TOP_FRONT_CENTER:
        case SF_CHANNEL_MAP_TOP_REAR_LEFT:
        case SF_CHANNEL_MAP_TOP_REAR_RIGHT:
        case SF_CHANNEL_MAP_TOP_REAR_CENTER:
            speakers.push_back(Speaker::Top);
            break;
        default:
            speakers.push_back(Speaker::Unknown);
            break;
        }
    }
    return speakers;
}

bool isFloatSubformat(int format)
{
    const int sub = format & SF_FORMAT_SUBMASK;
    return sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE;
}

int storedBits(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_24:
        return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        return 32;
    case SF_FORMAT_DOUBLE:
        return 64;
    default:
        return 16;
    }
}

// Integer PCM of 16 bits or fewer (in WAV, AIFF, FLAC and the like): its
// float and 16-bit reads are the same samples, scaled by 32768.
bool isPcm16(int format)
{
    const int sub = format & SF_FORMAT_SUBMASK;
    return sub == SF_FORMAT_PCM_16 || sub == SF_FORMAT_PCM_S8 || sub == SF_FORMAT_PCM_U8;
}

// Codecs that decode to floating point inside libsndfile; their integer
// reads are produced here from floats so that the scaling is explicit.
bool decodesToFloat(int format)
{
    const int sub = format & SF_FORMAT_SUBMASK;
    return sub == SF_FORMAT_VORBIS || sub == SF_FORMAT_OPUS || sub == SF_FORMAT_MPEG_LAYER_I
        || sub == SF_FORMAT_MPEG_LAYER_II || sub == SF_FORMAT_MPEG_LAYER_III;
}

// Rounds to the nearest integer, halves to even, as lrint does in the default
// rounding mode, but without a library call per sample: adding and taking
// away 1.5 * 2^52 leaves the nearest integer of any |value| below 2^51.
// Not a number becomes 0.
template <typename T>
T clampRound(double value)
{
    constexpr double kRoundingShift = 6755399441055744.0;
    const double lo = static_cast<double>(std::numeric_limits<T>::min());
    const double hi = static_cast<double>(std::numeric_limits<T>::max());
    if (std::isnan(value))
        return 0;
    return static_cast<T>((std::clamp(value, lo, hi) + kRoundingShift) - kRoundingShift);
}

void scaleSamples(void* data, qint64 count, SampleFormat format, float gain)
{
    switch (format) {
    case SampleFormat::Float32: {
        auto* p = static_cast<float*>(data);
        for (qint64 i = 0; i < count; ++i)
            p[i] *= gain;
        break;
    }
    case SampleFormat::Int16: {
        auto* p = static_cast<qint16*>(data);
        for (qint64 i = 0; i < count; ++i)
            p[i] = clampRound<qint16>(p[i] * static_cast<double>(gain));
        break;
    }
    case SampleFormat::Int32: {
        auto* p = static_cast<qint32*>(data);
        for (qint64 i = 0; i < count; ++i)
            p[i] = clampRound<qint32>(p[i] * static_cast<double>(gain));
        break;
    }
    }
}

sf_count_t readFrames(SNDFILE* file, void* buffer, sf_count_t frames, SampleFormat format)
{
    switch (format) {
    case SampleFormat::Int16:
        return sf_readf_short(file, static_cast<short*>(buffer), frames);
    case SampleFormat::Int32:
        return sf_readf_int(file, static_cast<int*>(buffer), frames);
    case SampleFormat::Float32:
        break;
    }
    return sf_readf_float(file, static_cast<float*>(buffer), frames);
}

sf_count_t writeFrames(SNDFILE* file, const void* buffer, sf_count_t frames, SampleFormat format)
{
    switch (format) {
    case SampleFormat::Int16:
        return sf_writef_short(file, static_cast<const short*>(buffer), frames);
    case SampleFormat::Int32:
        return sf_writef_int(file, static_cast<const int*>(buffer), frames);
    case SampleFormat::Float32:
        break;
    }
    return sf_writef_float(file, static_cast<const float*>(buffer), frames);
}

int wavSubformat(const StreamInfo& input, WavFormat format)
{
    if (format == WavFormat::Pcm16)
        return SF_FORMAT_PCM_16;
    if (input.sourceIsFloat)
        return SF_FORMAT_FLOAT;
    if (input.sourceBits == 24)
        return SF_FORMAT_PCM_24;
    if (input.sourceBits == 32)
        return SF_FORMAT_PCM_32;
    return SF_FORMAT_PCM_16;
}

bool validInput(const StreamInfo& input)
{
    return input.sampleRate > 0 && input.channels > 0 && input.channels <= 1024;
}

// Checks one block handed to a writer: the frame count it holds, 0 for an
// empty block (nothing to write), -1 with the error set for a closed writer
// or a block that is not a whole number of frames.
qint64 blockFrames(bool open, const void* data, qint64 bytes, int frameBytes)
{
    if (!open) {
        fail(ErrorCode::NotOpen);
        return -1;
    }
    if (bytes == 0)
        return 0;
    if (data == nullptr || bytes < 0 || bytes % frameBytes != 0) {
        fail(ErrorCode::Parameter);
        return -1;
    }
    return bytes / frameBytes;
}

} // namespace

ErrorCode lastError()
{
    return t_lastError;
}

int lastErrorCode()
{
    return static_cast<int>(t_lastError);
}

const char* errorText(ErrorCode code)
{
    switch (code) {
    case ErrorCode::Ok: return "no error";
    case ErrorCode::NotInitialized: return "audio library not initialised";
    case ErrorCode::FileOpen: return "file missing, unreadable or not creatable";
    case ErrorCode::FileFormat: return "not a supported audio file";
    case ErrorCode::Unsupported: return "unsupported format or channel count";
    case ErrorCode::Parameter: return "invalid argument";
    case ErrorCode::Read: return "decoding failed";
    case ErrorCode::Write: return "writing failed";
    case ErrorCode::Encoder: return "MP3 encoder failed";
    case ErrorCode::NotOpen: return "stream not open";
    case ErrorCode::Busy: return "a writer is attached already";
    case ErrorCode::Memory: return "out of memory";
    case ErrorCode::Malformed: return "malformed audio file";
    case ErrorCode::Encoding: return "unsupported audio encoding";
    case ErrorCode::SampleRate: return "sample rate outside 8000 to 768000 Hz";
    case ErrorCode::Channels: return "more than 64 channels";
    }
    return "unknown error";
}

bool initialize()
{
    if (sf_version_string() == nullptr)
        return fail(ErrorCode::NotInitialized);
    lame_global_flags* probe = lame_init();
    if (probe == nullptr)
        return fail(ErrorCode::NotInitialized);
    lame_close(probe);
    g_initCount.fetch_add(1);
    succeed();
    return true;
}

void release()
{
    int count = g_initCount.load();
    while (count > 0 && !g_initCount.compare_exchange_weak(count, count - 1)) {
    }
}

bool isInitialized()
{
    return g_initCount.load() > 0;
}

quint32 mp3EncoderVersion()
{
    lame_version_t v{};
    get_lame_version_numerical(&v);
    const quint32 marker = v.alpha != 0 ? 0xA0u : (v.beta != 0 ? 0xB0u : 0u);
    return (quint32(v.major & 0xFF) << 24) | (quint32(v.minor & 0xFF) << 16) | marker;
}

int bytesPerSample(SampleFormat format)
{
    return format == SampleFormat::Int16 ? 2 : 4;
}

// ---------------------------------------------------------------- WavWriter

struct WavWriter::Impl {
    SNDFILE* file = nullptr;
    StreamInfo input;
    bool failed = false;
};

WavWriter::WavWriter()
    : d(std::make_unique<Impl>())
{
}

WavWriter::~WavWriter()
{
    if (isOpen())
        close();
}

bool WavWriter::open(const QByteArray& utf8Path, const StreamInfo& input, WavFormat format, qint64 expectedFrames)
{
    if (d->file != nullptr)
        return fail(ErrorCode::Busy);
    if (!validInput(input))
        return fail(ErrorCode::Parameter);
    SF_INFO info{};
    info.samplerate = input.sampleRate;
    info.channels = input.channels;
    info.format = wavSubformat(input, format);
    const int bytesPerFrame = input.channels * (storedBits(info.format) / 8);
    const bool fitsRiff = expectedFrames >= 0 && expectedFrames * bytesPerFrame < kRiffDataLimit;
    info.format |= fitsRiff ? SF_FORMAT_WAV : SF_FORMAT_RF64;
    if (!sf_format_check(&info))
        return fail(ErrorCode::Unsupported);
    d->file = sf_open(utf8Path.constData(), SFM_WRITE, &info);
    if (d->file == nullptr)
        return fail(ErrorCode::FileOpen);
    if (!fitsRiff)
        sf_command(d->file, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    sf_command(d->file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    d->input = input;
    d->failed = false;
    succeed();
    return true;
}

bool WavWriter::write(const void* data, qint64 bytes)
{
    const sf_count_t frames = blockFrames(d->file != nullptr, data, bytes, d->input.frameBytes());
    if (frames <= 0)
        return frames == 0;
    if (writeFrames(d->file, data, frames, d->input.format) != frames) {
        d->failed = true;
        return fail(ErrorCode::Write);
    }
    return true;
}

bool WavWriter::close()
{
    if (d->file == nullptr)
        return fail(ErrorCode::NotOpen);
    const bool ok = sf_close(d->file) == 0 && !d->failed;
    d->file = nullptr;
    return ok ? true : fail(ErrorCode::Write);
}

bool WavWriter::isOpen() const
{
    return d->file != nullptr;
}

// ---------------------------------------------------------------- Mp3Writer

struct Mp3Writer::Impl {
    lame_global_flags* lame = nullptr;
    FILE* file = nullptr;
    StreamInfo input;
    std::vector<float> left, right;
    std::vector<unsigned char> mp3;
    bool failed = false;

    // An encoder failure and a failed file write (a full disk) are told apart.
    bool put(int bytes)
    {
        if (bytes < 0) {
            failed = true;
            return fail(ErrorCode::Encoder);
        }
        if (bytes > 0 && std::fwrite(mp3.data(), 1, size_t(bytes), file) != size_t(bytes)) {
            failed = true;
            return fail(ErrorCode::Write);
        }
        return true;
    }

    void release()
    {
        if (lame != nullptr)
            lame_close(lame);
        if (file != nullptr)
            std::fclose(file);
        lame = nullptr;
        file = nullptr;
    }
};

Mp3Writer::Mp3Writer()
    : d(std::make_unique<Impl>())
{
}

Mp3Writer::~Mp3Writer()
{
    if (isOpen())
        close();
}

int Mp3Writer::bitRateFromOptions(const QByteArray& options)
{
    static const QRegularExpression pattern(QStringLiteral("^-b([0-9]{1,3})$"));
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(options.trimmed()));
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

bool Mp3Writer::open(const QByteArray& utf8Path, const StreamInfo& input, const QByteArray& options)
{
    if (d->lame != nullptr)
        return fail(ErrorCode::Busy);
    const int kbps = bitRateFromOptions(options);
    if (kbps <= 0 || !validInput(input))
        return fail(ErrorCode::Parameter);
    if (input.channels > 2)
        return fail(ErrorCode::Unsupported);
    d->lame = lame_init();
    if (d->lame == nullptr)
        return fail(ErrorCode::Memory);
    lame_set_in_samplerate(d->lame, input.sampleRate);
    lame_set_num_channels(d->lame, input.channels);
    lame_set_mode(d->lame, input.channels == 1 ? MONO : JOINT_STEREO);
    lame_set_VBR(d->lame, vbr_off);
    lame_set_brate(d->lame, kbps);
    if (lame_init_params(d->lame) < 0 || lame_get_brate(d->lame) != kbps) {
        d->release();
        return fail(ErrorCode::Encoder);
    }
    d->file = std::fopen(utf8Path.constData(), "w+b");
    if (d->file == nullptr) {
        d->release();
        return fail(ErrorCode::FileOpen);
    }
    d->input = input;
    d->failed = false;
    succeed();
    return true;
}

bool Mp3Writer::write(const void* data, qint64 bytes)
{
    const qint64 frames = blockFrames(d->lame != nullptr, data, bytes, d->input.frameBytes());
    if (frames <= 0)
        return frames == 0;
    const int channels = d->input.channels;
    d->left.resize(size_t(frames));
    d->right.resize(size_t(frames));
    // One loop per sample format, so that the conversion is not a branch per sample.
    const auto split = [&](const auto* in, double scale) {
        for (qint64 i = 0; i < frames; ++i) {
            d->left[size_t(i)] = float(in[i * channels] * scale);
            if (channels > 1)
                d->right[size_t(i)] = float(in[i * channels + 1] * scale);
        }
    };
    switch (d->input.format) {
    case SampleFormat::Float32:
        split(static_cast<const float*>(data), 1.0);
        break;
    case SampleFormat::Int16:
        split(static_cast<const qint16*>(data), 1.0 / 32768.0);
        break;
    case SampleFormat::Int32:
        split(static_cast<const qint32*>(data), 1.0 / 2147483648.0);
        break;
    }
    // Worst case from the encoder's documentation: 1.25 * samples + 7200.
    d->mp3.resize(size_t(frames + frames / 4 + 7200));
    const int encoded = lame_encode_buffer_ieee_float(d->lame, d->left.data(),
        channels == 1 ? d->left.data() : d->right.data(), int(frames), d->mp3.data(), int(d->mp3.size()));
    return d->put(encoded);
}

bool Mp3Writer::close()
{
    if (d->lame == nullptr)
        return fail(ErrorCode::NotOpen);
    d->mp3.resize(7200);
    d->put(lame_encode_flush(d->lame, d->mp3.data(), int(d->mp3.size())));
    // The Info tag gives decoders the exact length (encoder delay, padding).
    lame_mp3_tags_fid(d->lame, d->file);
    const bool flushed = std::fflush(d->file) == 0;
    const bool ok = flushed && !d->failed;
    d->release();
    return ok ? true : fail(ErrorCode::Write);
}

bool Mp3Writer::isOpen() const
{
    return d->lame != nullptr;
}

// ------------------------------------------------------------- DecodeStream

// A file held in memory, read through libsndfile's virtual I/O.
struct MemoryFile {
    QByteArray bytes;
    sf_count_t position = 0;

    static MemoryFile& of(void* user) { return *static_cast<MemoryFile*>(user); }
    static sf_count_t length(void* user) { return of(user).bytes.size(); }
    static sf_count_t seek(sf_count_t offset, int whence, void* user)
    {
        MemoryFile& m = of(user);
        const sf_count_t base = whence == SEEK_CUR ? m.position : whence == SEEK_END ? m.bytes.size() : 0;
        if (offset < -base || offset > m.bytes.size() - base)
            return -1;
        m.position = base + offset;
        return m.position;
    }
    static sf_count_t read(void* out, sf_count_t count, void* user)
    {
        MemoryFile& m = of(user);
        const sf_count_t n = std::clamp<sf_count_t>(m.bytes.size() - m.position, 0, std::max<sf_count_t>(count, 0));
        std::memcpy(out, m.bytes.constData() + m.position, size_t(n));
        m.position += n;
        return n;
    }
    static sf_count_t write(const void*, sf_count_t, void*) { return 0; }
    static sf_count_t tell(void* user) { return of(user).position; }
};

struct DecodeStream::Impl {
    std::unique_ptr<MemoryFile> memory;   // set for a stream over bytes
    SNDFILE* file = nullptr;
    SF_INFO sfInfo{};
    StreamInfo info;
    qint64 frames = 0;
    qint64 position = 0;
    float gain = 1.0f;
    bool viaFloat = false;   // integer delivery produced from float decoding
    std::vector<float> scratch;
    std::unique_ptr<SampleSink> sink;

    bool adopt(SNDFILE* opened, const SF_INFO& openedInfo, Samples samples, bool exactLength);

    qint64 countFrames()
    {
        std::vector<float> buffer(size_t(4096) * size_t(sfInfo.channels));
        qint64 total = 0;
        sf_count_t got = 0;
        while ((got = sf_readf_float(file, buffer.data(), 4096)) > 0)
            total += got;
        sf_seek(file, 0, SEEK_SET);
        return total;
    }

    sf_count_t decode(void* buffer, sf_count_t count)
    {
        if (!viaFloat)
            return readFrames(file, buffer, count, info.format);
        const qint64 samples = count * info.channels;
        scratch.resize(size_t(samples));
        const sf_count_t got = sf_readf_float(file, scratch.data(), count);
        const double scale = info.format == SampleFormat::Int16 ? 32768.0 : 2147483648.0;
        for (qint64 i = 0; i < got * info.channels; ++i) {
            if (info.format == SampleFormat::Int16)
                static_cast<qint16*>(buffer)[i] = clampRound<qint16>(scratch[size_t(i)] * scale);
            else
                static_cast<qint32*>(buffer)[i] = clampRound<qint32>(scratch[size_t(i)] * scale);
        }
        return got;
    }
};

DecodeStream::DecodeStream()
    : d(std::make_unique<Impl>())
{
}

DecodeStream::~DecodeStream()
{
    close();
}

bool DecodeStream::open(const QByteArray& utf8Path, Samples samples, bool exactLength)
{
    close();
    SF_INFO sfInfo{};
    return d->adopt(sf_open(utf8Path.constData(), SFM_READ, &sfInfo), sfInfo, samples, exactLength);
}

bool DecodeStream::openBytes(const QByteArray& bytes, Samples samples, bool exactLength)
{
    close();
    d->memory = std::make_unique<MemoryFile>();
    d->memory->bytes = bytes;
    static SF_VIRTUAL_IO io{&MemoryFile::length, &MemoryFile::seek, &MemoryFile::read, &MemoryFile::write,
        &MemoryFile::tell};
    SF_INFO sfInfo{};
    return d->adopt(sf_open_virtual(&io, SFM_READ, &sfInfo, d->memory.get()), sfInfo, samples, exactLength);
}

// Takes over a file libsndfile opened (null when it could not), or refuses
// it when it breaks the stream limits.
bool DecodeStream::Impl::adopt(SNDFILE* opened, const SF_INFO& openedInfo, Samples samples, bool exactLength)
{
    if (opened == nullptr) {
        memory.reset();
        return fail(openErrorOf(sf_error(nullptr)));
    }
    const ErrorCode limits = streamLimitsError(openedInfo);
    if (limits != ErrorCode::Ok) {
        sf_close(opened);
        memory.reset();
        return fail(limits);
    }
    file = opened;
    sfInfo = openedInfo;
    info.sampleRate = sfInfo.samplerate;
    info.channels = sfInfo.channels;
    info.sourceIsFloat = isFloatSubformat(sfInfo.format);
    info.speakers = speakersOf(file, sfInfo.channels);
    info.sourceBits = storedBits(sfInfo.format);
    if (samples == Samples::Float || info.sourceIsFloat || (samples == Samples::FloatOrInt16 && !isPcm16(sfInfo.format)))
        info.format = SampleFormat::Float32;
    else
        info.format = info.sourceBits >= 24 ? SampleFormat::Int32 : SampleFormat::Int16;
    viaFloat = info.format != SampleFormat::Float32 && decodesToFloat(sfInfo.format);
    const bool estimated = (sfInfo.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
    // An unknown length comes as the largest count; in bytes it would wrap.
    const bool unknown = sfInfo.frames < 0 || sfInfo.frames > std::numeric_limits<qint64>::max() / (kMaxChannels * 8);
    frames = (exactLength && estimated) || unknown ? countFrames() : qint64(sfInfo.frames);
    position = 0;
    gain = 1.0f;
    succeed();
    return true;
}

bool DecodeStream::isOpen() const
{
    return d->file != nullptr;
}

void DecodeStream::close()
{
    if (d->sink)
        stopWriter();
    if (d->file != nullptr)
        sf_close(d->file);
    d->file = nullptr;
    d->memory.reset();
    d->frames = 0;
    d->position = 0;
}

bool DecodeStream::info(StreamInfo& out) const
{
    if (d->file == nullptr)
        return fail(ErrorCode::NotOpen);
    out = d->info;
    return true;
}

qint64 DecodeStream::lengthBytes() const
{
    return d->file ? d->frames * d->info.frameBytes() : 0;
}

qint64 DecodeStream::lengthFrames() const
{
    return d->file ? d->frames : 0;
}

qint64 DecodeStream::positionBytes() const
{
    return d->file ? d->position * d->info.frameBytes() : 0;
}

void DecodeStream::setVolume(float gain)
{
    d->gain = gain;
}

float DecodeStream::volume() const
{
    return d->gain;
}

bool DecodeStream::startWavWriter(const QByteArray& utf8Path, WavFormat format)
{
    if (d->file == nullptr)
        return fail(ErrorCode::NotOpen);
    if (d->sink)
        return fail(ErrorCode::Busy);
    auto writer = std::make_unique<WavWriter>();
    if (!writer->open(utf8Path, d->info, format, d->frames))
        return false;
    d->sink = std::move(writer);
    return true;
}

bool DecodeStream::startMp3Writer(const QByteArray& utf8Path, const QByteArray& options)
{
    if (d->file == nullptr)
        return fail(ErrorCode::NotOpen);
    if (d->sink)
        return fail(ErrorCode::Busy);
    auto writer = std::make_unique<Mp3Writer>();
    if (!writer->open(utf8Path, d->info, options))
        return false;
    d->sink = std::move(writer);
    return true;
}

bool DecodeStream::stopWriter()
{
    if (!d->sink)
        return fail(ErrorCode::NotOpen);
    const bool ok = d->sink->close();
    d->sink.reset();
    return ok;
}

qint64 DecodeStream::read(void* buffer, qint64 bytes)
{
    if (d->file == nullptr) {
        fail(ErrorCode::NotOpen);
        return -1;
    }
    const int frameBytes = d->info.frameBytes();
    if (buffer == nullptr || bytes < 0 || (bytes > 0 && bytes < frameBytes)) {
        fail(ErrorCode::Parameter);
        return -1;
    }
    const sf_count_t wanted = bytes / frameBytes;
    if (wanted == 0)
        return 0;
    const sf_count_t got = d->decode(buffer, wanted);
    if (got < 0 || (got < wanted && sf_error(d->file) != SF_ERR_NO_ERROR)) {
        fail(ErrorCode::Read);
        return -1;
    }
    succeed();
    if (got == 0)
        return 0;
    if (d->gain != 1.0f)
        scaleSamples(buffer, got * d->info.channels, d->info.format, d->gain);
    d->position += got;
    const qint64 delivered = got * frameBytes;
    if (d->sink && !d->sink->write(buffer, delivered))
        return -1;
    return delivered;
}

} // namespace audiolib
