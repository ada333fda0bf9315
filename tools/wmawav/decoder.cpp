#include "wmawav/decoder.h"

#include "asf/asfheader.h"
#include "common/avobjects.h"
#include "common/uniquefd.h"
#include "common/outputfile.h"
#include "common/pcm24.h"
#include "common/wavheader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// A Header Object larger than this is not taken for a real one: real headers
// are a few kilobytes, or a few megabytes with embedded cover pictures.
constexpr uint64_t kMaxHeaderBytes = 64ull << 20;
// Output is collected in a buffer of this size and written in large blocks.
constexpr size_t kWriteBufferBytes = 1 << 20;

struct Failure {
    WmaWavStatus status;
    std::string message;
};

[[noreturn]] void Fail(WmaWavStatus status, std::string message) {
    throw Failure{status, std::move(message)};
}

bool IsWmaCodec(AVCodecID id) {
    switch (id) {
        case AV_CODEC_ID_WMAV1:
        case AV_CODEC_ID_WMAV2:
        case AV_CODEC_ID_WMAPRO:
        case AV_CODEC_ID_WMALOSSLESS:
        case AV_CODEC_ID_WMAVOICE:
            return true;
        default:
            return false;
    }
}

// True when the decoder gives more than 16 bits of the source's audio. WMA
// Lossless says so itself (24 bits a sample, decoded to 32-bit integers).
// WMA Pro decodes to floats whatever its source, so its header decides: a
// source of more than 16 bits a sample (a 24-bit master, as WMA Pro 24/96
// files are) keeps the decoder's precision in 24 bits, one of 16 bits stays
// at 16, where more bits would only carry the codec's noise.
bool HasMoreThan16Bits(const AVCodecContext& dec, const AVCodecParameters& par) {
    if (dec.bits_per_raw_sample > 16)
        return true;
    return dec.codec_id == AV_CODEC_ID_WMAPRO && par.bits_per_coded_sample > 16;
}

// ---------------------------------------------------------------------------
// The header check on raw bytes.

class InputFile {
public:
    // Opened without waiting (a FIFO would wait for a writer), and refused
    // unless it is a regular file. The standard input is taken as it is,
    // under the same rule, and left open.
    explicit InputFile(const std::string& path) {
        struct stat st {};
        if (path == kStandardInput) {
            if (::fstat(STDIN_FILENO, &st) != 0)
                Fail(kStatusUnsupported,
                     "cannot read the standard input: " + std::string(std::strerror(errno)));
            if (!S_ISREG(st.st_mode))
                Fail(kStatusUnsupported, "the standard input is not a regular file");
            fd_ = STDIN_FILENO;
        } else {
            owned_.reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
            fd_ = owned_.get();
            if (fd_ < 0)
                Fail(kStatusUnsupported, "cannot open " + path + ": " + std::strerror(errno));
            if (::fstat(fd_, &st) != 0)
                Fail(kStatusDamaged, "cannot read " + path + ": " + std::strerror(errno));
            if (!S_ISREG(st.st_mode))
                Fail(kStatusUnsupported, path + " is not a regular file");
        }
        size_ = static_cast<uint64_t>(st.st_size);
        SkipId3Tag();
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // The ASF file's size and offsets leave out an ID3 tag in front of it.
    uint64_t size() const { return size_ - start_; }

    // Reads up to `count` bytes from the start of the ASF file.
    std::vector<uint8_t> ReadStart(size_t count) const {
        std::vector<uint8_t> buf(count);
        buf.resize(ReadAt(buf.data(), count, 0));
        return buf;
    }

    // Reads and seeks for libavformat. They keep a position of their own
    // rather than the descriptor's, which the standard input shares with
    // whoever handed it over: reading starts at the start of the file,
    // wherever its offset stands.
    static int ReadPacket(void* opaque, uint8_t* buf, int size) {
        InputFile* file = static_cast<InputFile*>(opaque);
        int n = 0;
        try {
            n = static_cast<int>(file->ReadAt(buf, static_cast<size_t>(size), file->pos_));
        } catch (...) {  // nothing is thrown through libavformat
            return AVERROR(EIO);
        }
        if (n == 0)
            return AVERROR_EOF;
        file->pos_ += static_cast<uint64_t>(n);
        return n;
    }

    static int64_t SeekTo(void* opaque, int64_t offset, int whence) {
        InputFile* file = static_cast<InputFile*>(opaque);
        if (whence & AVSEEK_SIZE)
            return static_cast<int64_t>(file->size());
        int64_t base = 0;
        switch (whence & ~AVSEEK_FORCE) {
            case SEEK_SET:
                break;
            case SEEK_CUR:
                base = static_cast<int64_t>(file->pos_);
                break;
            case SEEK_END:
                base = static_cast<int64_t>(file->size());
                break;
            default:
                return AVERROR(EINVAL);
        }
        if (offset < -base || offset > INT64_MAX - base)
            return AVERROR(EINVAL);
        file->pos_ = static_cast<uint64_t>(base + offset);
        return base + offset;
    }

private:
    // Reads up to `count` bytes at `offset` in the ASF file, less only at its
    // end.
    size_t ReadAt(uint8_t* buf, size_t count, uint64_t offset) const {
        if (offset >= size())
            return 0;
        count = static_cast<size_t>(std::min<uint64_t>(count, size() - offset));
        size_t got = 0;
        while (got < count) {
            const ssize_t n =
                ::pread(fd_, buf + got, count - got, static_cast<off_t>(start_ + offset + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                Fail(kStatusDamaged, std::string("read error: ") + std::strerror(errno));
            if (n == 0)
                break;
            got += static_cast<size_t>(n);
        }
        return got;
    }

    // Some tools put an ID3v2 tag in front of the ASF header. The ASF file
    // starts behind it.
    void SkipId3Tag() {
        const std::vector<uint8_t> h = ReadStart(10);
        const uint64_t size = Id3v2PrefixLength(h.data(), h.size());
        if (size == 0)
            return;
        if (size >= size_)
            Fail(kStatusDamaged, "the file is damaged: its ID3 tag runs past its end");
        start_ = size;
    }

    // Closed with the file, also when its constructor fails, unless it is
    // the standard input.
    UniqueFd owned_;
    int fd_ = -1;
    uint64_t size_ = 0;   // of the whole file
    uint64_t start_ = 0;  // where the ASF file starts in it
    uint64_t pos_ = 0;    // libavformat's position in the ASF file
};

// libavformat reads the very file that was opened and checked, through its
// descriptor, rather than opening the path a second time.
constexpr int kAvioBufferBytes = 64 * 1024;

struct AvioFreer {
    void operator()(AVIOContext* c) const {
        av_freep(&c->buffer);
        avio_context_free(&c);
    }
};

WmaWavStatus StatusOf(AsfScan scan) {
    switch (scan) {
        case AsfScan::NotAsf:
            return kStatusUnsupported;
        case AsfScan::Drm:
            return kStatusDrm;
        default:
            return kStatusDamaged;
    }
}

// What the structure check learnt of a file that it lets through.
struct AsfFacts {
    bool cutShort = false;       // it ends inside its audio packets
    double expectedSeconds = 0;  // its length by its header, 0 when unknown
};

AsfFacts CheckAsfStructure(const InputFile& file, bool acceptCutShort) {
    std::vector<uint8_t> start = file.ReadStart(kAsfHeaderObjectFixedSize);
    const uint64_t headerSize = AsfHeaderObjectSize(start.data(), start.size());
    if (headerSize < kAsfHeaderObjectFixedSize) {
        // Not ASF at all, or a Header Object too short for its own fixed part.
        const AsfScan scan =
            ScanAsfHeader(start.data(), start.size()) == AsfScan::NotAsf ? AsfScan::NotAsf : AsfScan::Damaged;
        Fail(StatusOf(scan), AsfScanText(scan));
    }
    if (headerSize > file.size() || headerSize > kMaxHeaderBytes)
        Fail(kStatusDamaged, AsfScanText(AsfScan::Damaged));

    const size_t want = static_cast<size_t>(headerSize) + kAsfDataObjectFixedSize;
    std::vector<uint8_t> head = file.ReadStart(want);
    const AsfScan header = ScanAsfHeader(head.data(), head.size());
    if (header != AsfScan::Ok)
        Fail(StatusOf(header), AsfScanText(header));

    AsfFacts facts;
    AsfFileProperties props;
    const bool haveProps = ReadAsfFileProperties(head.data(), head.size(), props);
    if (haveProps && !props.broadcast && props.playDuration / 10000 > props.preroll)
        facts.expectedSeconds = double(props.playDuration) / 1e7 - double(props.preroll) / 1e3;

    const size_t hs = static_cast<size_t>(headerSize);
    const AsfScan data = ScanAsfDataObject(head.data() + hs, head.size() - hs, file.size() - headerSize);
    if (data == AsfScan::Ok)
        return facts;
    if (data != AsfScan::CutShort || !acceptCutShort)
        Fail(StatusOf(data), AsfScanText(data));

    // The file ends inside its packets. It is taken for a file cut short only
    // when File Properties agrees that it should be longer: a Data Object
    // size that alone runs past the end is damage, not a cut.
    if (!haveProps || (!props.broadcast && props.fileSize != 0 && props.fileSize <= file.size()))
        Fail(kStatusDamaged, AsfScanText(AsfScan::Damaged));
    facts.cutShort = true;
    return facts;
}

// Seconds with one decimal, "53.9", whatever the locale.
std::string Tenths(double seconds) {
    const long long tenths = std::llround(seconds * 10);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

// ---------------------------------------------------------------------------
// The output file.

// The WAV file being written: a temporary file renamed to the output once
// whole, or for the output "-" the standard output, written as a stream.
class WavOutput {
public:
    WavOutput(const std::string& output, uint32_t sampleRate, uint16_t channels, int bits)
        : output_(output),
          sampleRate_(sampleRate),
          channels_(channels),
          bits_(bits),
          headerSize_(WavHeaderSize(bits)),
          maxDataBytes_(WavMaxDataBytes(bits)) {
        buffer_.reserve(kWriteBufferBytes);
        // Room for the header, written again once the data size is known.
        buffer_.resize(headerSize_);
        if (output != kStandardOutput) {
            file_ = std::make_unique<TempOutput>(output, kTempPrefix);
            return;
        }
        // A reader of a stream cannot wait for the sizes: until they are
        // known they say "unknown", as streaming writers do, and so they
        // stay where they cannot be written later (a pipe) or do not fit.
        struct stat st {};
        const off_t at = ::lseek(STDOUT_FILENO, 0, SEEK_CUR);
        // Appended to, the header could not be written in its place.
        const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
        streamStart_ = ::fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode) && at >= 0 && flags >= 0 &&
                               !(flags & O_APPEND)
                           ? at
                           : -1;
        BuildWavHeader(buffer_.data(), sampleRate_, channels_, 0, bits_);
        std::memset(buffer_.data() + 4, 0xFF, 4);
        std::memset(buffer_.data() + headerSize_ - 4, 0xFF, 4);
    }
    WavOutput(const WavOutput&) = delete;
    WavOutput& operator=(const WavOutput&) = delete;

    // Returns a pointer where at least `bytes` bytes may be written, flushing
    // the buffer first when it has not that much room left.
    uint8_t* Reserve(size_t bytes) {
        if (buffer_.capacity() - buffer_.size() < bytes)
            Flush();
        if (buffer_.capacity() < bytes)
            buffer_.reserve(bytes);
        const size_t used = buffer_.size();
        buffer_.resize(used + bytes);
        return buffer_.data() + used;
    }

    // Keeps `bytes` of the last Reserve() and drops the rest.
    void Commit(size_t reserved, size_t bytes) {
        buffer_.resize(buffer_.size() - (reserved - bytes));
        dataBytes_ += bytes;
        if (dataBytes_ > maxDataBytes_ && file_)
            Fail(kStatusTooLong, "the decoded audio exceeds the 4 GiB that a WAV file can hold");
    }

    uint64_t dataBytes() const { return dataBytes_; }

    void Finish() {
        Flush();
        uint8_t header[kWavExtensibleHeaderSize];
        if (file_) {
            BuildWavHeader(header, sampleRate_, channels_, static_cast<uint32_t>(dataBytes_), bits_);
            file_->WriteAt(header, headerSize_, 0);
            file_->Commit();
            return;
        }
        if (streamStart_ < 0)
            return;
        // Audio beyond the 4 GiB of the sizes gets the header of a file whose
        // length is not known: RIFF size 8 and data size 0, which readers
        // (libsndfile, and so LAME, and FFmpeg) read to the end of the file,
        // where "unknown" (0xFFFFFFFF) would stop them at 4 GiB.
        const bool fits = dataBytes_ <= maxDataBytes_;
        BuildWavHeader(header, sampleRate_, channels_, fits ? static_cast<uint32_t>(dataBytes_) : 0, bits_);
        if (!fits) {
            const uint8_t eight[4] = {8, 0, 0, 0};
            std::memcpy(header + 4, eight, 4);
        }
        WriteAllAt(STDOUT_FILENO, header, headerSize_, static_cast<uint64_t>(streamStart_), output_);
    }

private:
    void Flush() {
        if (file_)
            file_->WriteAt(buffer_.data(), buffer_.size(), written_);
        else
            WriteNext(buffer_.data(), buffer_.size());
        written_ += buffer_.size();
        buffer_.clear();
    }

    // A stream is written in order, wherever it is.
    void WriteNext(const uint8_t* data, size_t size) {
        while (size > 0) {
            const ssize_t n = ::write(STDOUT_FILENO, data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                Fail(kStatusOutput, std::string("cannot write the standard output: ") +
                                        std::strerror(n < 0 ? errno : ENOSPC));
            data += n;
            size -= static_cast<size_t>(n);
        }
    }

    std::string output_;
    std::unique_ptr<TempOutput> file_;  // none for the standard output
    uint32_t sampleRate_;
    uint16_t channels_;
    int bits_;
    size_t headerSize_;
    uint64_t maxDataBytes_;
    off_t streamStart_ = -1;  // where a seekable standard output's header lies
    std::vector<uint8_t> buffer_;
    uint64_t written_ = 0;
    uint64_t dataBytes_ = 0;
};

// ---------------------------------------------------------------------------
// Decoding.

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};

// Converts decoded frames to interleaved 16-bit or 24-bit samples at a
// fixed rate and channel count, rebuilding the converter whenever the
// decoder's output format changes.
class Converter {
public:
    Converter(int outRate, int outChannels, int bits) : outRate_(outRate), bits_(bits) {
        av_channel_layout_default(&outLayout_, outChannels);
    }
    ~Converter() {
        av_channel_layout_uninit(&outLayout_);
        av_channel_layout_uninit(&inLayout_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    int channels() const { return outLayout_.nb_channels; }

    void Convert(const AVFrame* frame, WavOutput& out) {
        if (frame->nb_samples <= 0)
            return;
        if (!swr_ || frame->format != inFormat_ || frame->sample_rate != inRate_ ||
            av_channel_layout_compare(&frame->ch_layout, &frameLayout_) != 0) {
            Drain(out);
            Configure(frame);
        }
        Run(frame->extended_data, frame->nb_samples, out);
    }

    // Pushes out what the converter still holds (its resampling delay).
    void Drain(WavOutput& out) {
        if (swr_)
            Run(nullptr, 0, out);
    }

private:
    void Configure(const AVFrame* frame) {
        if (frame->sample_rate <= 0 || frame->ch_layout.nb_channels <= 0)
            Fail(kStatusDamaged, "the decoder produced audio without a valid format");
        av_channel_layout_uninit(&frameLayout_);
        av_channel_layout_uninit(&inLayout_);
        if (av_channel_layout_copy(&frameLayout_, &frame->ch_layout) < 0)
            Fail(kStatusDamaged, "out of memory");
        // A layout that only gives a channel count is taken as that count's
        // usual layout, so that a 5.1 stream without a channel mask still
        // gets a proper mixdown.
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ||
            frame->ch_layout.order == AV_CHANNEL_ORDER_AMBISONIC) {
            av_channel_layout_copy(&inLayout_, &frame->ch_layout);
        } else {
            av_channel_layout_default(&inLayout_, frame->ch_layout.nb_channels);
        }
        // 24 bits go through 32-bit integers from an integer decoder, through
        // floats from a floating-point one, so that no precision is lost on
        // the way to the 24-bit samples.
        const AVSampleFormat inFormat = static_cast<AVSampleFormat>(frame->format);
        if (bits_ == 16)
            outFormat_ = AV_SAMPLE_FMT_S16;
        else if (av_get_packed_sample_fmt(inFormat) == AV_SAMPLE_FMT_S32)
            outFormat_ = AV_SAMPLE_FMT_S32;
        else
            outFormat_ = AV_SAMPLE_FMT_FLT;
        SwrContext* swr = nullptr;
        int err = swr_alloc_set_opts2(&swr, &outLayout_, outFormat_, outRate_, &inLayout_, inFormat,
                                      frame->sample_rate, 0, nullptr);
        if (err >= 0)
            err = swr_init(swr);
        swr_.reset(swr);
        if (err < 0)
            Fail(kStatusDamaged, "cannot convert the decoded audio: " + AvError(err));
        inFormat_ = frame->format;
        inRate_ = frame->sample_rate;
    }

    void Run(const uint8_t* const* in, int inSamples, WavOutput& out) {
        // With input, a single call converts everything; draining may need
        // more than one round. Each drain round either produces samples or
        // ends the loop, and the converter's delay is finite.
        for (int round = 0; round < 64; ++round) {
            const int maxOut = swr_get_out_samples(swr_.get(), inSamples);
            if (maxOut < 0)
                Fail(kStatusDamaged, "cannot convert the decoded audio");
            if (maxOut == 0 && in == nullptr)
                return;
            const int channels = outLayout_.nb_channels;
            const size_t frameBytes = size_t(bits_ / 8) * size_t(channels);
            const size_t reserved = size_t(maxOut) * frameBytes;
            uint8_t* dst = out.Reserve(reserved);
            // 16 bits are converted straight into the output; 24 bits through
            // a buffer of 32-bit samples.
            uint8_t* converted = dst;
            if (bits_ != 16) {
                wide_.resize(size_t(maxOut) * size_t(channels));
                converted = reinterpret_cast<uint8_t*>(wide_.data());
            }
            const int got = swr_convert(swr_.get(), &converted, maxOut,
                                        in ? const_cast<const uint8_t**>(in) : nullptr, inSamples);
            if (got < 0)
                Fail(kStatusDamaged, "cannot convert the decoded audio: " + AvError(got));
            if (bits_ != 16)
                PackTo24Bits(&converted, outFormat_, channels, got, dst);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
            else
                for (size_t i = 0; i + 1 < size_t(got) * frameBytes; i += 2)
                    std::swap(dst[i], dst[i + 1]);
#endif
            out.Commit(reserved, size_t(got) * frameBytes);
            if (in != nullptr || got == 0)
                return;
        }
    }

    std::unique_ptr<SwrContext, SwrFreer> swr_;
    AVChannelLayout outLayout_{};
    AVChannelLayout inLayout_{};
    AVChannelLayout frameLayout_{};
    int outRate_;
    int bits_;
    AVSampleFormat outFormat_ = AV_SAMPLE_FMT_S16;
    std::vector<int32_t> wide_;  // 24-bit audio on its way, as 32-bit samples or floats
    int inFormat_ = -1;
    int inRate_ = 0;
};

DecodeResult Decode(const std::string& input, const std::string& output, const DecodeOptions& options) {
    if (output != kStandardOutput)
        CheckOutputPath(output);
    InputFile file(input);
    const AsfFacts facts = CheckAsfStructure(file, options.acceptCutShort);

    // The container is fixed: no probing, so a file that merely carries the
    // extension is never read as some other format.
    const AVInputFormat* asf = av_find_input_format("asf");
    if (!asf)
        Fail(kStatusUnsupported, "this build of libavformat cannot read ASF");
    auto* avioBuffer = static_cast<unsigned char*>(av_malloc(kAvioBufferBytes));
    if (!avioBuffer)
        Fail(kStatusDamaged, "out of memory");
    std::unique_ptr<AVIOContext, AvioFreer> avio(avio_alloc_context(
        avioBuffer, kAvioBufferBytes, 0, &file, InputFile::ReadPacket, nullptr, InputFile::SeekTo));
    if (!avio) {
        av_free(avioBuffer);
        Fail(kStatusDamaged, "out of memory");
    }
    AVFormatContext* rawFmt = avformat_alloc_context();
    if (!rawFmt)
        Fail(kStatusDamaged, "out of memory");
    rawFmt->pb = avio.get();
    rawFmt->flags |= AVFMT_FLAG_CUSTOM_IO;
    // On failure avformat_open_input frees the context itself.
    int err = avformat_open_input(&rawFmt, input.c_str(), asf, nullptr);
    if (err < 0)
        Fail(kStatusDamaged, "cannot read the ASF file: " + AvError(err));
    // Declared after avio, so closed before it is freed.
    std::unique_ptr<AVFormatContext, FormatCloser> fmt(rawFmt);

    AVStream* stream = nullptr;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        if (!stream && fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            stream = fmt->streams[i];
        else
            fmt->streams[i]->discard = AVDISCARD_ALL;
    }
    if (!stream)
        Fail(kStatusUnsupported, "the file has no audio stream");
    const AVCodecID codecId = stream->codecpar->codec_id;
    if (options.wmaCodecsOnly && !IsWmaCodec(codecId))
        Fail(kStatusUnsupported,
             std::string("the audio is not Windows Media Audio (") + avcodec_get_name(codecId) + ")");

    const AVCodec* codec = avcodec_find_decoder(codecId);
    if (!codec)
        Fail(kStatusUnsupported, std::string("no decoder for ") + avcodec_get_name(codecId));
    std::unique_ptr<AVCodecContext, CodecFreer> dec(avcodec_alloc_context3(codec));
    if (!dec)
        Fail(kStatusDamaged, "out of memory");
    err = avcodec_parameters_to_context(dec.get(), stream->codecpar);
    if (err >= 0)
        err = avcodec_open2(dec.get(), codec, nullptr);
    if (err < 0)
        Fail(kStatusDamaged, "cannot decode the audio stream: " + AvError(err));
    if (dec->sample_rate <= 0 || dec->ch_layout.nb_channels <= 0)
        Fail(kStatusDamaged, "the audio stream has no valid sample rate or channel count");

    const int outChannels = dec->ch_layout.nb_channels > 2 ? 2 : dec->ch_layout.nb_channels;
    const int bits = options.keepDepth && HasMoreThan16Bits(*dec, *stream->codecpar) ? 24 : 16;
    Converter converter(dec->sample_rate, outChannels, bits);
    WavOutput out(output, static_cast<uint32_t>(dec->sample_rate), static_cast<uint16_t>(converter.channels()),
                  bits);

    std::unique_ptr<AVPacket, PacketFreer> pkt(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    if (!pkt || !frame)
        Fail(kStatusDamaged, "out of memory");

    uint64_t packets = 0;
    uint64_t badPackets = 0;
    auto receiveFrames = [&]() {
        for (;;) {
            const int r = avcodec_receive_frame(dec.get(), frame.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return;
            if (r < 0) {
                ++badPackets;
                return;
            }
            converter.Convert(frame.get(), out);
            av_frame_unref(frame.get());
        }
    };

    // Every packet the demuxer returns uses up at least one byte of the file,
    // so a well-behaved demuxer ends within this many reads; the bound only
    // guards against one that does not.
    const int64_t cut = static_cast<int64_t>(file.size());
    const uint64_t maxReads = static_cast<uint64_t>(avio_size(fmt->pb) > 0 ? avio_size(fmt->pb) : 0) + 4096;
    for (uint64_t reads = 0;; ++reads) {
        if (reads > maxReads)
            Fail(kStatusDamaged, "the file is damaged: reading does not end");
        err = av_read_frame(fmt.get(), pkt.get());
        if (err == AVERROR_EOF)
            break;
        // In a file cut short, a read that fails at the cut is its end, and
        // so is the payload whose reading reached the cut: the demuxer hands
        // it over shortened to what was there, and it is dropped.
        if (facts.cutShort && (err < 0 ? avio_feof(fmt->pb) != 0 : avio_tell(fmt->pb) >= cut)) {
            av_packet_unref(pkt.get());
            break;
        }
        if (err < 0)
            Fail(kStatusDamaged, "the file is damaged: " + AvError(err));
        if (pkt->stream_index == stream->index) {
            ++packets;
            const int s = avcodec_send_packet(dec.get(), pkt.get());
            if (s < 0 && s != AVERROR(EAGAIN))
                ++badPackets;
            receiveFrames();
        }
        av_packet_unref(pkt.get());
    }
    if (avcodec_send_packet(dec.get(), nullptr) >= 0)
        receiveFrames();
    converter.Drain(out);

    if (out.dataBytes() == 0)
        Fail(kStatusDamaged, "the file holds no decodable audio");
    // A few bad packets are dropped, as a player would; a stream that mostly
    // fails to decode is not passed off as a conversion.
    if (badPackets * 2 > packets)
        Fail(kStatusDamaged, "the file is damaged: most of its audio cannot be decoded");

    out.Finish();
    DecodeResult result;
    result.decodedSeconds =
        double(out.dataBytes()) / (double(bits / 8) * converter.channels() * dec->sample_rate);
    result.expectedSeconds = facts.expectedSeconds;
    // A file of its full size whose audio stops early (the rest zeros, as a
    // download that a client made at full size and never finished) is told
    // as one cut short too: its header says how long it should be. A small
    // shortfall is an encoder's rounding, not a missing part.
    const double missing = facts.expectedSeconds - result.decodedSeconds;
    const bool endsEarly = options.acceptCutShort && facts.expectedSeconds > 0 && missing > 1.0 &&
                           missing > 0.1 * facts.expectedSeconds;
    if (facts.cutShort || endsEarly) {
        result.status = kStatusCutShort;
        result.message =
            "cut short: " + Tenths(result.decodedSeconds) + " s of " +
            (facts.expectedSeconds > 0 ? Tenths(facts.expectedSeconds) + " s" : "an unknown length");
    }
    return result;
}

}  // namespace

DecodeResult DecodeToWav(const std::string& input, const std::string& output, const DecodeOptions& options) {
    try {
        return Decode(input, output, options);
    } catch (const Failure& f) {
        DecodeResult result;
        result.status = f.status;
        result.message = f.message;
        return result;
    } catch (const OutputFailure& f) {
        DecodeResult result;
        result.status = kStatusOutput;
        result.message = f.message;
        return result;
    } catch (const std::bad_alloc&) {
        DecodeResult result;
        result.status = kStatusDamaged;
        result.message = "out of memory";
        return result;
    }
}
