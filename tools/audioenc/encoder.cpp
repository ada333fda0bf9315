#include "audioenc/encoder.h"

#include "common/avobjects.h"
#include "common/outputfile.h"
#include "common/pcm24.h"
#include "audioenc/wavreader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

namespace {

// The input is read in blocks of about this many bytes.
constexpr size_t kReadBytes = 1 << 20;
// A pipe on the standard input is widened to this, so that the writer (the
// decoder) runs ahead while a block is encoded.
constexpr int kPipeBytes = 1 << 20;
constexpr int kAvioBufferBytes = 256 * 1024;
// SoX's resampler at this many bits of precision, its "high quality"
// setting: its error lies below the 16-bit source's own and far below
// what Opus keeps, and it costs less than the 28-bit setting.
constexpr double kResamplerPrecision = 20;

// Sample frames resampled and queued at a time.
constexpr size_t kSliceFrames = 4096;

// Makes a buffer hold at least `size` elements; it never shrinks, so that
// reusing it writes nothing into it beforehand.
template <typename T>
void GrowTo(std::vector<T>& buffer, size_t size) {
    if (buffer.size() < size)
        buffer.resize(size);
}

struct Failure {
    AudioEncStatus status;
    std::string message;
};

[[noreturn]] void Fail(AudioEncStatus status, std::string message) {
    throw Failure{status, std::move(message)};
}

struct FormatFreer {
    void operator()(AVFormatContext* c) const { avformat_free_context(c); }
};
struct FifoFreer {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};

// ---------------------------------------------------------------------------
// The input: a named file, opened without waiting and taken only when it is
// a regular file, or the standard input, a file or a pipe.

class Input {
public:
    explicit Input(const std::string& path) {
        struct stat st {};
        if (path == "-") {
            if (::fstat(STDIN_FILENO, &st) != 0)
                Fail(kEncInput, std::string("cannot read the standard input: ") + std::strerror(errno));
            if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode))
                Fail(kEncInput, "the standard input is neither a file nor a pipe");
            fd_ = STDIN_FILENO;
            if (S_ISFIFO(st.st_mode))
                ::fcntl(fd_, F_SETPIPE_SZ, kPipeBytes);  // where allowed; a smaller pipe works too
            return;
        }
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0)
            Fail(kEncInput, "cannot open " + path + ": " + std::strerror(errno));
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd_);
            Fail(kEncInput, path + " is not a regular file");
        }
        owned_ = true;
    }
    ~Input() {
        if (owned_)
            ::close(fd_);
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    int fd() const { return fd_; }

private:
    int fd_ = -1;
    bool owned_ = false;
};

// ---------------------------------------------------------------------------
// The output: the container writer writes and seeks in the temporary file
// through its descriptor.

#if LIBAVFORMAT_VERSION_MAJOR >= 61
using AvioWriteBuffer = const uint8_t*;
#else
using AvioWriteBuffer = uint8_t*;
#endif

class MuxOutput {
public:
    explicit MuxOutput(const std::string& output) : file_(output, kEncoderTempPrefix) {
        auto* buffer = static_cast<unsigned char*>(av_malloc(kAvioBufferBytes));
        if (buffer)
            avio_ = avio_alloc_context(buffer, kAvioBufferBytes, 1, this, nullptr, &Write, &Seek);
        if (!avio_) {
            av_free(buffer);
            throw std::bad_alloc();
        }
    }
    ~MuxOutput() {
        av_freep(&avio_->buffer);
        avio_context_free(&avio_);
    }
    MuxOutput(const MuxOutput&) = delete;
    MuxOutput& operator=(const MuxOutput&) = delete;

    AVIOContext* avio() { return avio_; }

    // The container writer reads its output back when it moves the index
    // (moov) in front of the audio: it opens the output anew for reading
    // (whatever its name), which is the temporary file, read with pread.
    void LetWriterReadBack(AVFormatContext* oc) {
        oc->opaque = this;
        oc->io_open = &OpenForReading;
        oc->io_close2 = &CloseReading;
    }

    // A failure of the container writer: the file's own when writing it
    // failed, otherwise the writer's.
    [[noreturn]] void FailWriting(const std::string& what, int err) {
        if (!error_.empty())
            Fail(kEncOutput, error_);
        Fail(kEncFailed, what + ": " + AvError(err));
    }

    void Commit() {
        avio_flush(avio_);
        if (!error_.empty() || avio_->error < 0)
            FailWriting("cannot write " + file_.output(), avio_->error);
        file_.Commit();
    }

private:
    static int Write(void* opaque, AvioWriteBuffer data, int size) {
        auto* self = static_cast<MuxOutput*>(opaque);
        try {
            self->file_.WriteAt(data, size_t(size), self->pos_);
        } catch (const OutputFailure& f) {
            if (self->error_.empty())
                self->error_ = f.message;
            return AVERROR(EIO);
        } catch (...) {
            return AVERROR(ENOMEM);
        }
        self->pos_ += uint64_t(size);
        self->size_ = std::max(self->size_, self->pos_);
        return size;
    }

    static int64_t Seek(void* opaque, int64_t offset, int whence) {
        auto* self = static_cast<MuxOutput*>(opaque);
        return SeekIn(self->pos_, self->size_, offset, whence);
    }

    // Moves pos in a file of size bytes as avio's seek callbacks do.
    static int64_t SeekIn(uint64_t& pos, uint64_t size, int64_t offset, int whence) {
        int64_t base = 0;
        switch (whence & ~AVSEEK_FORCE) {
            case AVSEEK_SIZE:
                return int64_t(size);
            case SEEK_SET:
                break;
            case SEEK_CUR:
                base = int64_t(pos);
                break;
            case SEEK_END:
                base = int64_t(size);
                break;
            default:
                return AVERROR(EINVAL);
        }
        if (offset < -base || offset > INT64_MAX - base)
            return AVERROR(EINVAL);
        pos = uint64_t(base + offset);
        return base + offset;
    }

    // A reader of the output and where it stands.
    struct ReadBack {
        MuxOutput* out;
        uint64_t pos = 0;
    };

    static int Read(void* opaque, uint8_t* data, int size) {
        auto* reader = static_cast<ReadBack*>(opaque);
        ssize_t got;
        do
            got = ::pread(reader->out->file_.fd(), data, size_t(size), off_t(reader->pos));
        while (got < 0 && errno == EINTR);
        if (got < 0)
            return AVERROR(errno);
        if (got == 0)
            return AVERROR_EOF;
        reader->pos += uint64_t(got);
        return int(got);
    }

    static int64_t SeekReading(void* opaque, int64_t offset, int whence) {
        auto* reader = static_cast<ReadBack*>(opaque);
        return SeekIn(reader->pos, reader->out->size_, offset, whence);
    }

    static int OpenForReading(AVFormatContext* oc, AVIOContext** pb, const char*, int flags, AVDictionary**) {
        if ((flags & AVIO_FLAG_READ_WRITE) != AVIO_FLAG_READ)
            return AVERROR(EINVAL);
        auto* reader = new (std::nothrow) ReadBack{static_cast<MuxOutput*>(oc->opaque)};
        auto* buffer = static_cast<unsigned char*>(av_malloc(kAvioBufferBytes));
        *pb = reader && buffer
                  ? avio_alloc_context(buffer, kAvioBufferBytes, 0, reader, &Read, nullptr, &SeekReading)
                  : nullptr;
        if (!*pb) {
            av_free(buffer);
            delete reader;
            return AVERROR(ENOMEM);
        }
        return 0;
    }

    static int CloseReading(AVFormatContext* oc, AVIOContext* pb) {
        if (pb == static_cast<MuxOutput*>(oc->opaque)->avio_)
            return 0;  // the output itself is closed by its owner
        delete static_cast<ReadBack*>(pb->opaque);
        av_freep(&pb->buffer);
        avio_context_free(&pb);
        return 0;
    }

    TempOutput file_;
    AVIOContext* avio_ = nullptr;
    uint64_t pos_ = 0;
    uint64_t size_ = 0;
    std::string error_;  // the first failure to write the file
};

// ---------------------------------------------------------------------------
// Encoding.

struct TargetSettings {
    const char* encoder;  // libavcodec's name for it
    const char* label;    // for messages
    const char* muxer;
    int monoKbps;
    int stereoKbps;
};

const TargetSettings& SettingsOf(EncodeTarget target) {
    static const TargetSettings kFlac{"flac", "FLAC", "flac", 0, 0};
    static const TargetSettings kOpus{"libopus", "Opus", "ogg", 64, 128};
    static const TargetSettings kAac{"aac", "AAC", "ipod", 96, 192};
    switch (target) {
        case EncodeTarget::Opus:
            return kOpus;
        case EncodeTarget::M4a:
            return kAac;
        case EncodeTarget::Flac:
            break;
    }
    return kFlac;
}

// The rate that AAC carries the source in: its own where AAC has it, else
// the next higher one that AAC has (the highest for anything above).
int AacRate(const AVCodec& codec, int rate) {
    int best = 0, highest = 0;
    for (const int* r = codec.supported_samplerates; r && *r; ++r) {
        if (*r == rate)
            return rate;
        highest = std::max(highest, *r);
        if (*r > rate && (best == 0 || *r < best))
            best = *r;
    }
    return best ? best : highest ? highest : rate;
}

class Encoder {
public:
    Encoder(const EncodeOptions& options, const WavStreamFormat& in) : settings_(SettingsOf(options.target)), in_(in) {
        const AVCodec* codec = avcodec_find_encoder_by_name(settings_.encoder);
        if (!codec)
            Fail(kEncFailed, std::string("this build of libavcodec has no ") + settings_.label + " encoder");
        ctx_.reset(avcodec_alloc_context3(codec));
        if (!ctx_)
            throw std::bad_alloc();
        lossless_ = options.target == EncodeTarget::Flac;
        int rate = int(in.sampleRate);
        if (lossless_) {
            ctx_->sample_fmt = in.bitsPerSample == 16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S32;
            ctx_->bits_per_raw_sample = in.bitsPerSample;
            ctx_->compression_level = 5;
        } else {
            rate = options.target == EncodeTarget::Opus ? 48000 : AacRate(*codec, rate);
            ctx_->sample_fmt = options.target == EncodeTarget::Opus ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP;
            int kbps = options.kbps > 0 ? options.kbps : in.channels == 1 ? settings_.monoKbps : settings_.stereoKbps;
            // A rate the channels cannot take is capped to the most they can:
            // libopus takes 256 kb/s a channel, an AAC frame 6144 bits a
            // channel. Said on stderr as a note; the result is made.
            const int most = options.target == EncodeTarget::Opus ? 256 * int(in.channels)
                                                                   : int(6144LL * in.channels * rate / 1024 / 1000);
            if (kbps > most) {
                std::fprintf(stderr, "audioenc: note: %s takes at most %d kb/s for %d channel%s: %d kb/s used\n",
                             settings_.label, most, int(in.channels), in.channels == 1 ? "" : "s", most);
                kbps = most;
            }
            ctx_->bit_rate = int64_t(kbps) * 1000;
            // Opus in VBR (libopus's default too); the AAC encoder makes
            // AAC-LC unless told otherwise.
            if (options.target == EncodeTarget::Opus)
                av_opt_set(ctx_->priv_data, "vbr", "on", 0);
        }
        ctx_->sample_rate = rate;
        ctx_->time_base = AVRational{1, rate};
        av_channel_layout_default(&ctx_->ch_layout, in.channels);

        AVFormatContext* oc = nullptr;
        int err = avformat_alloc_output_context2(&oc, nullptr, settings_.muxer, nullptr);
        if (err < 0 || !oc)
            Fail(kEncFailed, std::string("this build of libavformat cannot write ") + settings_.muxer);
        oc_.reset(oc);
        if (oc->oformat->flags & AVFMT_GLOBALHEADER)
            ctx_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        err = avcodec_open2(ctx_.get(), codec, nullptr);
        if (err < 0)
            Fail(kEncFailed, std::string("cannot start the ") + settings_.label + " encoder: " + AvError(err));
        frameSize_ = ctx_->frame_size > 0 ? ctx_->frame_size : 4096;

        stream_ = avformat_new_stream(oc, nullptr);
        if (!stream_)
            throw std::bad_alloc();
        err = avcodec_parameters_from_context(stream_->codecpar, ctx_.get());
        if (err < 0)
            throw std::bad_alloc();
        stream_->time_base = ctx_->time_base;

        frame_.reset(av_frame_alloc());
        pkt_.reset(av_packet_alloc());
        if (!frame_ || !pkt_)
            throw std::bad_alloc();
        if (!lossless_)
            StartResampler();
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Writes the container's header into `out`, which outlives the writing.
    void Start(MuxOutput& out) {
        out_ = &out;
        oc_->pb = out.avio();
        AVDictionary* muxerOptions = nullptr;
        // The edit list that records AAC's encoder delay and the length in
        // the MP4 container counts samples, not milliseconds (the default),
        // so that players end exactly where the input did. The index (moov)
        // goes in front of the audio, where a player that reads over a
        // network finds it at once.
        if (std::strcmp(settings_.muxer, "ipod") == 0) {
            av_dict_set_int(&muxerOptions, "movie_timescale", ctx_->sample_rate, 0);
            av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
            out.LetWriterReadBack(oc_.get());
        }
        const int err = avformat_write_header(oc_.get(), &muxerOptions);
        av_dict_free(&muxerOptions);
        if (err < 0)
            out.FailWriting(std::string("cannot write the ") + settings_.muxer + " header", err);
    }

    // Encodes `frames` sample frames of interleaved little-endian PCM as the
    // WAV stream holds them.
    void Write(const uint8_t* samples, size_t frames) {
        inFrames_ += frames;
        if (lossless_) {
            WriteExact(samples, frames);
            return;
        }
        // A slice at a time, so that the resampler's output and the queue
        // stay in the processor's cache instead of growing with the block.
        while (frames > 0) {
            const size_t n = std::min(frames, kSliceFrames);
            const size_t count = n * size_t(in_.channels);
            const uint8_t* native = samples;
            if (in_.bitsPerSample == 24) {
                GrowTo(wide_, count);
                UnpackFrom24Bits(samples, count, wide_.data());
                native = reinterpret_cast<const uint8_t*>(wide_.data());
            }
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
            else {
                GrowTo(wide_, (count + 1) / 2);
                uint8_t* swapped = reinterpret_cast<uint8_t*>(wide_.data());
                for (size_t i = 0; i < 2 * count; i += 2) {
                    swapped[i] = samples[i + 1];
                    swapped[i + 1] = samples[i];
                }
                native = swapped;
            }
#endif
            Resample(&native, int(n));
            SendWholeFrames();
            samples += n * in_.frameBytes();
            frames -= n;
        }
    }

    // Encodes what is left, ends the stream and writes the container's end.
    void Finish() {
        if (lossless_) {
            if (filled_ > 0) {
                frame_->nb_samples = filled_;
                Send(frame_.get());
            }
        } else {
            FinishResampled();
        }
        Send(nullptr);
        const int err = av_write_trailer(oc_.get());
        if (err < 0)
            out_->FailWriting(std::string("cannot finish the ") + settings_.muxer + " file", err);
    }

private:
    // FLAC: the samples go into the encoder's frames as they are (24 bits in
    // the upper bits of 32).
    void WriteExact(const uint8_t* samples, size_t frames) {
        const size_t frameBytes = in_.frameBytes();
        while (frames > 0) {
            if (filled_ == 0)
                NewFrame(frameSize_);
            const int n = int(std::min<size_t>(size_t(frameSize_ - filled_), frames));
            const size_t count = size_t(n) * size_t(in_.channels);
            uint8_t* dst = frame_->data[0] + size_t(filled_) * size_t(in_.channels) *
                                                 size_t(av_get_bytes_per_sample(ctx_->sample_fmt));
            if (in_.bitsPerSample == 24) {
                UnpackFrom24Bits(samples, count, reinterpret_cast<int32_t*>(dst));
            } else {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
                for (size_t i = 0; i < 2 * count; i += 2) {
                    dst[i] = samples[i + 1];
                    dst[i + 1] = samples[i];
                }
#else
                std::memcpy(dst, samples, 2 * count);
#endif
            }
            samples += size_t(n) * frameBytes;
            frames -= size_t(n);
            filled_ += n;
            if (filled_ == frameSize_) {
                Send(frame_.get());
                filled_ = 0;
            }
        }
    }

    void StartResampler() {
        AVChannelLayout inLayout{};
        av_channel_layout_default(&inLayout, in_.channels);
        const AVSampleFormat inFormat = in_.bitsPerSample == 24 ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16;
        // SoX's resampler where this build has it, else libswresample's own
        // with a longer filter than its default.
        for (const bool soxr : {true, false}) {
            SwrContext* swr = nullptr;
            int err = swr_alloc_set_opts2(&swr, &ctx_->ch_layout, ctx_->sample_fmt, ctx_->sample_rate, &inLayout,
                                          inFormat, int(in_.sampleRate), 0, nullptr);
            swr_.reset(swr);
            if (err < 0)
                Fail(kEncFailed, "cannot set up the resampler: " + AvError(err));
            if (soxr) {
                av_opt_set(swr, "resampler", "soxr", 0);
                av_opt_set_double(swr, "precision", kResamplerPrecision, 0);
            } else {
                av_opt_set_int(swr, "filter_size", 64, 0);
            }
            err = swr_init(swr);
            if (err >= 0)
                break;
            if (!soxr)
                Fail(kEncFailed, "cannot set up the resampler: " + AvError(err));
        }
        fifo_.reset(av_audio_fifo_alloc(ctx_->sample_fmt, ctx_->ch_layout.nb_channels, 2 * frameSize_));
        if (!fifo_)
            throw std::bad_alloc();
    }

    // Resamples `frames` frames at in[0] (a null pointer: what the resampler
    // still holds) into the queue of samples for the encoder.
    void Resample(const uint8_t* const* in, int frames) {
        const int channels = ctx_->ch_layout.nb_channels;
        for (;;) {
            const int room = swr_get_out_samples(swr_.get(), frames);
            if (room < 0)
                Fail(kEncFailed, "cannot resample: " + AvError(room));
            if (room == 0)
                return;
            GrowTo(resampled_, size_t(room) * size_t(channels));
            uint8_t* planes[AV_NUM_DATA_POINTERS] = {};
            const bool planar = av_sample_fmt_is_planar(ctx_->sample_fmt);
            for (int c = 0; c < (planar ? channels : 1); ++c)
                planes[c] = reinterpret_cast<uint8_t*>(resampled_.data() + size_t(c) * size_t(room));
            const int got = swr_convert(swr_.get(), planes, room, const_cast<const uint8_t**>(in), frames);
            if (got < 0)
                Fail(kEncFailed, "cannot resample: " + AvError(got));
            if (got > 0 && av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(planes), got) < got)
                throw std::bad_alloc();
            outFrames_ += uint64_t(got);
            // Input is taken whole in one call; what the resampler holds may
            // take more than one to come out.
            if (in || got == 0)
                return;
        }
    }

    void SendWholeFrames() {
        while (av_audio_fifo_size(fifo_.get()) >= frameSize_)
            SendFromQueue(frameSize_);
    }

    void SendFromQueue(int frames) {
        NewFrame(frames);
        if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame_->data), frames) < frames)
            Fail(kEncFailed, "cannot queue the resampled audio");
        Send(frame_.get());
    }

    // The resampled length is made exactly the input's at the new rate: what
    // the resampler gives at the end may be a sample more or less.
    void FinishResampled() {
        Resample(nullptr, 0);
        const uint64_t expected =
            uint64_t(av_rescale_rnd(int64_t(inFrames_), ctx_->sample_rate, in_.sampleRate, AV_ROUND_NEAR_INF));
        int64_t queued = av_audio_fifo_size(fifo_.get());
        if (outFrames_ > expected) {
            queued -= int64_t(std::min<uint64_t>(outFrames_ - expected, uint64_t(queued)));
        } else if (outFrames_ < expected) {
            const int missing = int(expected - outFrames_);
            resampled_.assign(size_t(missing) * size_t(ctx_->ch_layout.nb_channels), 0.0f);
            uint8_t* planes[AV_NUM_DATA_POINTERS] = {};
            const bool planar = av_sample_fmt_is_planar(ctx_->sample_fmt);
            for (int c = 0; c < (planar ? ctx_->ch_layout.nb_channels : 1); ++c)
                planes[c] = reinterpret_cast<uint8_t*>(resampled_.data() + size_t(c) * size_t(missing));
            if (av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(planes), missing) < missing)
                throw std::bad_alloc();
            queued += missing;
        }
        while (queued > 0) {
            const int n = int(std::min<int64_t>(queued, frameSize_));
            SendFromQueue(n);
            queued -= n;
        }
    }

    void NewFrame(int samples) {
        av_frame_unref(frame_.get());
        frame_->nb_samples = samples;
        frame_->format = ctx_->sample_fmt;
        frame_->sample_rate = ctx_->sample_rate;
        if (av_channel_layout_copy(&frame_->ch_layout, &ctx_->ch_layout) < 0 ||
            av_frame_get_buffer(frame_.get(), 0) < 0)
            throw std::bad_alloc();
    }

    // Hands a frame (nullptr: the end) to the encoder and writes what it
    // gives.
    void Send(AVFrame* frame) {
        if (frame) {
            frame->pts = nextPts_;
            nextPts_ += frame->nb_samples;
        }
        int err = avcodec_send_frame(ctx_.get(), frame);
        if (err < 0)
            Fail(kEncFailed, std::string("the ") + settings_.label + " encoder failed: " + AvError(err));
        for (;;) {
            err = avcodec_receive_packet(ctx_.get(), pkt_.get());
            if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
                return;
            if (err < 0)
                Fail(kEncFailed, std::string("the ") + settings_.label + " encoder failed: " + AvError(err));
            av_packet_rescale_ts(pkt_.get(), ctx_->time_base, stream_->time_base);
            pkt_->stream_index = stream_->index;
            err = av_interleaved_write_frame(oc_.get(), pkt_.get());
            if (err < 0)
                out_->FailWriting(std::string("cannot write the ") + settings_.muxer + " file", err);
        }
    }

    const TargetSettings& settings_;
    WavStreamFormat in_;
    bool lossless_ = false;
    std::unique_ptr<AVCodecContext, CodecFreer> ctx_;
    std::unique_ptr<AVFormatContext, FormatFreer> oc_;
    AVStream* stream_ = nullptr;
    MuxOutput* out_ = nullptr;
    std::unique_ptr<AVFrame, FrameFreer> frame_;
    std::unique_ptr<AVPacket, PacketFreer> pkt_;
    std::unique_ptr<SwrContext, SwrFreer> swr_;
    std::unique_ptr<AVAudioFifo, FifoFreer> fifo_;
    int frameSize_ = 0;
    int filled_ = 0;  // samples in frame_ so far, for FLAC
    int64_t nextPts_ = 0;
    uint64_t inFrames_ = 0;   // sample frames read
    uint64_t outFrames_ = 0;  // sample frames out of the resampler
    std::vector<int32_t> wide_;      // 24-bit input as 32-bit samples
    std::vector<float> resampled_;   // the resampler's output
};

void Encode(const std::string& input, const std::string& output, const EncodeOptions& options) {
    CheckOutputPath(output);
    Input in(input);
    WavStreamReader reader(in.fd());
    const size_t blockFrames = kReadBytes / reader.format().frameBytes();
    std::vector<uint8_t> block(blockFrames * reader.format().frameBytes());
    size_t frames = reader.Read(block.data(), blockFrames);
    if (frames == 0)
        Fail(kEncInput, "the WAV stream holds no audio");

    // The encoder is set up before the output is made, and goes before it.
    std::optional<MuxOutput> out;
    Encoder encoder(options, reader.format());
    out.emplace(output);
    encoder.Start(*out);
    while (frames > 0) {
        encoder.Write(block.data(), frames);
        frames = reader.Read(block.data(), blockFrames);
    }
    encoder.Finish();
    out->Commit();
}

}  // namespace

EncodeResult EncodeWav(const std::string& input, const std::string& output, const EncodeOptions& options) {
    EncodeResult result;
    try {
        Encode(input, output, options);
    } catch (const Failure& f) {
        result.status = f.status;
        result.message = f.message;
    } catch (const WavStreamError& e) {
        result.status = kEncInput;
        result.message = e.message;
    } catch (const OutputFailure& f) {
        result.status = kEncOutput;
        result.message = f.message;
    } catch (const std::bad_alloc&) {
        result.status = kEncFailed;
        result.message = "out of memory";
    }
    return result;
}

bool EncodeTargetFromName(const std::string& name, EncodeTarget* target) {
    if (name == "flac")
        *target = EncodeTarget::Flac;
    else if (name == "opus")
        *target = EncodeTarget::Opus;
    else if (name == "m4a")
        *target = EncodeTarget::M4a;
    else
        return false;
    return true;
}
