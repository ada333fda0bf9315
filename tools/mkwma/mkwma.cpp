// mkwma: makes the project's test media.
//
//   mkwma encode OUT [--codec wmav1|wmav2|pcm|pcm24] [--channels N] [--rate HZ]
//                    [--seconds S] [--freqs LIST] [--bitrate BPS] [--title TEXT]
//                    [--wav IN.wav] [TAG OPTIONS]
//       Encodes audio into an ASF file (pcm: 16-bit PCM, pcm24: 24-bit PCM,
//       as no encoder at hand writes WMA of more than 16 bits). The audio is a sine tone per channel
//       (LIST is comma-separated per channel; "440+550+660" is a chord, "0"
//       silence; default 440,660,550,880,330,770,...), or the samples of a
//       16-bit PCM WAV file given with --wav (its rate and channels win).
//       --noise DBFS adds a pink noise floor of that RMS level to the tones,
//       as every recording has one (the same noise on every run).
//       The title goes into the header through the muxer. The TAG OPTIONS
//       are written afterwards through TagLib, all text as UTF-8:
//         --artist --comment --copyright       Content Description
//         --album-artist --album --disc --year --genre --composer
//                                              WM/AlbumArtist, WM/AlbumTitle,
//                                              WM/PartOfSet, WM/Year, WM/Genre,
//                                              WM/Composer (text)
//         --track TEXT      WM/TrackNumber: a number value when TEXT is all
//                           digits (as Windows Media Player writes it),
//                           otherwise text such as "3/12"
//         --picture FILE|damaged|size:N
//                           WM/Picture, front cover: FILE's bytes (MIME type
//                           from its extension); "damaged" a value whose
//                           picture length runs past its end; "size:N" N
//                           bytes, a PNG signature and then zeros
//         --attr NAME=VALUE  adds a text value to attribute NAME; repeated,
//                           each adds one value, in order
//         --typed-attr TYPE:NAME=VALUE
//                           the same with a value of another type: dword,
//                           qword or word (a number), bool (0 or 1), bytes
//                           (VALUE's bytes)
//         --add-picture TYPE:DESCRIPTION:FILE|size:N
//                           adds a WM/Picture of that picture type; repeated,
//                           in order
//   mkwma wav OUT [--channels N] [--rate HZ] [--seconds S] [--freqs LIST]
//                 [--noise DBFS]
//       Writes the same tones as a 16-bit PCM WAV file.
//   mkwma drm IN OUT content|extended|advanced
//       Copies an ASF file, adding an encryption object of that kind.
//   mkwma cut IN OUT inside-header|after-header|mid-data|fraction:F|zeros:F
//   mkwma flip IN OUT header-guid|object-size|data-size
//       Copies an ASF file, cut short or with header bytes inverted.
//       fraction:F keeps that fraction of the file's bytes (0 < F < 1), as a
//       download or copy that stopped would; zeros:F keeps the size but
//       zeroes everything after that fraction, as a download that a client
//       made at full size and never finished.
//   mkwma asftags IN OUT ITEM...
//       Copies an ASF file, adding tag objects written byte by byte, as
//       taggers other than TagLib write them. ITEM is OBJECT[/TYPE]:NAME=VALUE:
//       OBJECT is cd (NAME one of title, author, copyright, description,
//       rating), ecd, meta (stream 1) or lib; TYPE text (the default), bytes,
//       bool, dword, qword or word. Each object holds its items in the order
//       given; cd and ecd are appended to the header, meta and lib to the
//       Header Extension, in the order they first appear. In NAME and VALUE,
//       "\n", "\t", "\0" and "\\" stand for a newline, a tab, a zero
//       character and a backslash; a text ends with a zero character as
//       writers end it.
//   mkwma id3 IN OUT v3|v4-footer
//       Copies a file behind an ID3v2 tag (a title frame and padding) as some
//       tools write one: version 2.3, or 2.4 with a footer.
//   mkwma text OUT      a short text file
//   mkwma empty OUT     an empty file

#include "mkwma/asfedit.h"
#include "common/wavheader.h"

#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/asftag.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Command-line options by name; a repeated option keeps each value, in order.
using Options = std::multimap<std::string, std::string>;

struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string AvError(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

void Check(int err, const char* what) {
    if (err < 0)
        throw Error(std::string(what) + ": " + AvError(err));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Error("cannot open " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw Error("cannot write " + path);
}

// Planar float audio, one vector per channel.
struct Audio {
    int rate = 44100;
    std::vector<std::vector<float>> channels;
    size_t frames() const { return channels.empty() ? 0 : channels[0].size(); }
};

std::vector<std::vector<double>> ParseFreqs(const std::string& list, int channels) {
    static const double kDefaults[] = {440, 660, 550, 880, 330, 770, 495, 990};
    std::vector<std::vector<double>> out;
    std::stringstream ss(list);
    std::string item;
    while (!list.empty() && std::getline(ss, item, ',')) {
        std::vector<double> chord;
        std::stringstream cs(item);
        std::string f;
        while (std::getline(cs, f, '+'))
            chord.push_back(std::stod(f));
        out.push_back(chord);
    }
    while (static_cast<int>(out.size()) < channels)
        out.push_back({kDefaults[out.size() % 8]});
    out.resize(static_cast<size_t>(channels));
    return out;
}

Audio MakeTones(int channels, int rate, double seconds, const std::string& freqs) {
    if (channels < 1 || channels > 8 || rate < 8000 || rate > 192000 || seconds <= 0 || seconds > 3600)
        throw Error("unreasonable tone parameters");
    Audio a;
    a.rate = rate;
    const size_t n = static_cast<size_t>(std::llround(seconds * rate));
    const auto chords = ParseFreqs(freqs, channels);
    for (const auto& chord : chords) {
        std::vector<float> s(n, 0.0f);
        if (!chord.empty()) {
            const double amp = 0.5 / double(chord.size());
            for (size_t i = 0; i < n; ++i) {
                double v = 0;
                for (double f : chord)
                    v += amp * std::sin(2 * M_PI * f * double(i) / rate);
                s[i] = static_cast<float>(v);
            }
        }
        a.channels.push_back(std::move(s));
    }
    return a;
}

// Adds pink noise (white noise through Paul Kellet's economy filter, whose
// output, scaled by 0.0335, has the RMS of its input) of RMS level dbfs to every
// channel. A fixed generator makes the same noise on every run.
void AddNoiseFloor(Audio& a, double dbfs) {
    if (!(dbfs < 0) || dbfs < -120)
        throw Error("the noise level is a negative dBFS figure");
    const double white = std::pow(10.0, dbfs / 20) * 10 * std::sqrt(3.0);  // uniform noise of that RMS
    uint32_t seed = 22222;
    for (auto& s : a.channels) {
        double b0 = 0, b1 = 0, b2 = 0;
        for (float& v : s) {
            seed = seed * 1664525u + 1013904223u;
            const double w = (seed / 4294967296.0 * 2 - 1) * white;
            b0 = 0.99765 * b0 + w * 0.0990460;
            b1 = 0.96300 * b1 + w * 0.2965164;
            b2 = 0.57000 * b2 + w * 1.0526913;
            v = static_cast<float>(std::clamp(v + (b0 + b1 + b2 + w * 0.1848) * 0.0335, -1.0, 1.0));
        }
    }
}

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

// Reads a 16-bit PCM WAV file, walking its chunks.
Audio ReadWav(const std::string& path) {
    const std::vector<uint8_t> f = ReadFile(path);
    if (f.size() < 12 || std::memcmp(f.data(), "RIFF", 4) != 0 || std::memcmp(f.data() + 8, "WAVE", 4) != 0)
        throw Error(path + " is not a WAV file");
    int channels = 0, bits = 0, format = 0;
    Audio a;
    size_t pos = 12;
    while (pos + 8 <= f.size()) {
        const uint32_t len = Le32(f.data() + pos + 4);
        const uint8_t* body = f.data() + pos + 8;
        const size_t avail = f.size() - pos - 8;
        if (std::memcmp(f.data() + pos, "fmt ", 4) == 0 && len >= 16 && avail >= 16) {
            format = Le16(body);
            channels = Le16(body + 2);
            a.rate = static_cast<int>(Le32(body + 4));
            bits = Le16(body + 14);
        } else if (std::memcmp(f.data() + pos, "data", 4) == 0) {
            if (format != 1 || bits != 16 || channels < 1)
                throw Error(path + ": only 16-bit PCM is read");
            const size_t bytes = std::min<size_t>(len, avail);
            const size_t frames = bytes / (2 * size_t(channels));
            a.channels.assign(size_t(channels), std::vector<float>(frames));
            for (size_t i = 0; i < frames; ++i)
                for (int c = 0; c < channels; ++c)
                    a.channels[size_t(c)][i] =
                        int16_t(Le16(body + 2 * (i * size_t(channels) + size_t(c)))) / 32768.0f;
            return a;
        }
        pos += 8 + size_t(len) + (len & 1);
    }
    throw Error(path + ": no data chunk");
}

void WriteWav(const std::string& path, const Audio& a) {
    const size_t ch = a.channels.size();
    const size_t bytes = a.frames() * ch * 2;
    if (bytes > kWavMaxDataBytes)
        throw Error("too long for a WAV file");
    std::vector<uint8_t> out(kWavHeaderSize + bytes);
    BuildWavHeader(out.data(), uint32_t(a.rate), uint16_t(ch), uint32_t(bytes));
    uint8_t* p = out.data() + kWavHeaderSize;
    for (size_t i = 0; i < a.frames(); ++i)
        for (size_t c = 0; c < ch; ++c) {
            const long v = std::lround(std::max(-1.0f, std::min(1.0f, a.channels[c][i])) * 32767.0f);
            *p++ = uint8_t(v & 0xFF);
            *p++ = uint8_t((v >> 8) & 0xFF);
        }
    WriteFile(path, out);
}

struct FormatFree {
    void operator()(AVFormatContext* c) const {
        if (c->pb)
            avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
struct CodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

void EncodeAsf(const std::string& path, const Audio& a, const std::string& codecName, int64_t bitrate,
               const std::string& title) {
    AVCodecID id = AV_CODEC_ID_NONE;
    if (codecName == "wmav1")
        id = AV_CODEC_ID_WMAV1;
    else if (codecName == "wmav2")
        id = AV_CODEC_ID_WMAV2;
    else if (codecName == "pcm")
        id = AV_CODEC_ID_PCM_S16LE;
    else if (codecName == "pcm24")
        id = AV_CODEC_ID_PCM_S24LE;
    else
        throw Error("unknown codec " + codecName);
    const AVCodec* codec = avcodec_find_encoder(id);
    if (!codec)
        throw Error("libavcodec has no " + codecName + " encoder");
    const int channels = static_cast<int>(a.channels.size());

    AVFormatContext* rawOc = nullptr;
    Check(avformat_alloc_output_context2(&rawOc, nullptr, "asf", path.c_str()), "asf muxer");
    std::unique_ptr<AVFormatContext, FormatFree> oc(rawOc);
    if (!title.empty())
        av_dict_set(&oc->metadata, "title", title.c_str(), 0);

    std::unique_ptr<AVCodecContext, CodecFree> enc(avcodec_alloc_context3(codec));
    enc->sample_fmt = id == AV_CODEC_ID_PCM_S16LE   ? AV_SAMPLE_FMT_S16
                      : id == AV_CODEC_ID_PCM_S24LE ? AV_SAMPLE_FMT_S32
                                                    : AV_SAMPLE_FMT_FLTP;
    enc->sample_rate = a.rate;
    av_channel_layout_default(&enc->ch_layout, channels);
    enc->bit_rate = bitrate > 0 ? bitrate : (channels == 1 ? 64000 : 128000);
    enc->time_base = AVRational{1, a.rate};
    if (oc->oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Check(avcodec_open2(enc.get(), codec, nullptr), "opening the encoder");

    AVStream* st = avformat_new_stream(oc.get(), nullptr);
    if (!st)
        throw Error("out of memory");
    Check(avcodec_parameters_from_context(st->codecpar, enc.get()), "stream parameters");
    st->time_base = enc->time_base;
    Check(avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE), ("opening " + path).c_str());
    Check(avformat_write_header(oc.get(), nullptr), "writing the ASF header");

    std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    auto drain = [&]() {
        for (;;) {
            const int r = avcodec_receive_packet(enc.get(), pkt.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return;
            Check(r, "encoding");
            av_packet_rescale_ts(pkt.get(), enc->time_base, st->time_base);
            pkt->stream_index = st->index;
            Check(av_interleaved_write_frame(oc.get(), pkt.get()), "writing a packet");
        }
    };

    const int frameSize = enc->frame_size > 0 ? enc->frame_size : 1024;
    const bool shortLastFrame =
        (codec->capabilities & (AV_CODEC_CAP_VARIABLE_FRAME_SIZE | AV_CODEC_CAP_SMALL_LAST_FRAME)) ||
        enc->frame_size == 0;
    for (size_t pos = 0; pos < a.frames(); pos += size_t(frameSize)) {
        const size_t left = a.frames() - pos;
        const int n = left < size_t(frameSize) ? int(left) : frameSize;
        av_frame_unref(frame.get());
        frame->nb_samples = shortLastFrame ? n : frameSize;
        frame->format = enc->sample_fmt;
        frame->sample_rate = a.rate;
        Check(av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout), "layout");
        Check(av_frame_get_buffer(frame.get(), 0), "frame buffer");
        for (int i = 0; i < frame->nb_samples; ++i)
            for (int c = 0; c < channels; ++c) {
                const float v = i < n ? a.channels[size_t(c)][pos + size_t(i)] : 0.0f;
                if (enc->sample_fmt == AV_SAMPLE_FMT_FLTP)
                    reinterpret_cast<float*>(frame->extended_data[c])[i] = v;
                else if (enc->sample_fmt == AV_SAMPLE_FMT_S32)  // 24 bits in the upper bits
                    reinterpret_cast<int32_t*>(frame->data[0])[i * channels + c] =
                        int32_t(std::lround(std::max(-1.0f, std::min(1.0f, v)) * 8388607.0f) * 256);
                else
                    reinterpret_cast<int16_t*>(frame->data[0])[i * channels + c] =
                        int16_t(std::lround(std::max(-1.0f, std::min(1.0f, v)) * 32767.0f));
            }
        frame->pts = static_cast<int64_t>(pos);
        Check(avcodec_send_frame(enc.get(), frame.get()), "encoding");
        drain();
    }
    Check(avcodec_send_frame(enc.get(), nullptr), "flushing the encoder");
    drain();
    Check(av_write_trailer(oc.get()), "finishing the ASF file");
}

TagLib::String Utf8(const std::string& text) {
    return TagLib::String(text, TagLib::String::UTF8);
}

bool EndsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// The WM/Picture value that --picture asks for: a file, "damaged" or "size:N".
TagLib::ASF::Attribute PictureAttribute(const std::string& choice, int type = 3,
                                        const std::string& description = std::string()) {
    if (choice == "damaged") {
        // Picture type, a picture length far beyond the value, the MIME type
        // and an empty description (UTF-16LE, each ended by two zero bytes),
        // then a few bytes of picture.
        TagLib::ByteVector value(1, '\x03');
        value.append(TagLib::ByteVector::fromUInt(0x7fffffffu, false));
        value.append(Utf8("image/png").data(TagLib::String::UTF16LE));
        value.append(TagLib::ByteVector(4, '\0'));
        value.append(TagLib::ByteVector(16, 'x'));
        return TagLib::ASF::Attribute(value);
    }
    TagLib::ASF::Picture picture;
    picture.setType(static_cast<TagLib::ASF::Picture::Type>(type));
    picture.setDescription(Utf8(description));
    if (choice.rfind("size:", 0) == 0) {
        TagLib::ByteVector bytes("\x89PNG\r\n\x1a\n", 8);
        bytes.resize(static_cast<unsigned int>(std::stoul(choice.substr(5))), '\0');
        picture.setMimeType("image/png");
        picture.setPicture(bytes);
    } else {
        const std::vector<uint8_t> bytes = ReadFile(choice);
        picture.setMimeType(EndsWith(choice, ".png") ? "image/png" : "image/jpeg");
        picture.setPicture(TagLib::ByteVector(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<unsigned int>(bytes.size())));
    }
    return TagLib::ASF::Attribute(picture);
}

// Writes the tag options into the ASF file at path.
void WriteTags(const std::string& path, const Options& o) {
    static const std::pair<const char*, const char*> kTextAttributes[] = {
        {"album-artist", "WM/AlbumArtist"},
        {"album", "WM/AlbumTitle"},
        {"disc", "WM/PartOfSet"},
        {"year", "WM/Year"},
        {"genre", "WM/Genre"},
        {"composer", "WM/Composer"},
    };
    static const char* const kTagOptions[] = {"artist",  "comment", "copyright",   "album-artist", "album",
                                              "disc",    "year",    "genre",       "composer",     "track",
                                              "picture", "attr",    "add-picture", "typed-attr"};
    const auto has = [&](const char* key) { return o.count(key) > 0; };
    const auto at = [&](const char* key) { return o.find(key)->second; };
    if (std::none_of(std::begin(kTagOptions), std::end(kTagOptions), has))
        return;
    TagLib::ASF::File file(path.c_str(), false);
    if (!file.isValid())
        throw Error("TagLib cannot open " + path);
    TagLib::ASF::Tag* tag = file.tag();
    if (has("artist"))
        tag->setArtist(Utf8(at("artist")));
    if (has("comment"))
        tag->setComment(Utf8(at("comment")));
    if (has("copyright"))
        tag->setCopyright(Utf8(at("copyright")));
    for (const auto& [key, name] : kTextAttributes)
        if (has(key))
            tag->setAttribute(name, TagLib::ASF::Attribute(Utf8(at(key))));
    if (has("track")) {
        const std::string& track = at("track");
        if (!track.empty() && track.find_first_not_of("0123456789") == std::string::npos)
            tag->setAttribute("WM/TrackNumber",
                              TagLib::ASF::Attribute(static_cast<unsigned int>(std::stoul(track))));
        else
            tag->setAttribute("WM/TrackNumber", TagLib::ASF::Attribute(Utf8(track)));
    }
    if (has("picture"))
        tag->setAttribute("WM/Picture", PictureAttribute(at("picture")));
    // Each value of a repeated attribute is added in turn: TagLib writes the
    // first into the Extended Content Description, the others into the
    // Metadata Library.
    for (auto [it, end] = o.equal_range("attr"); it != end; ++it) {
        const size_t eq = it->second.find('=');
        if (eq == std::string::npos)
            throw Error("--attr wants NAME=VALUE: " + it->second);
        tag->addAttribute(Utf8(it->second.substr(0, eq)),
                          TagLib::ASF::Attribute(Utf8(it->second.substr(eq + 1))));
    }
    for (auto [it, end] = o.equal_range("typed-attr"); it != end; ++it) {
        const size_t colon = it->second.find(':');
        const size_t eq = it->second.find('=');
        if (colon == std::string::npos || eq == std::string::npos || eq < colon)
            throw Error("--typed-attr wants TYPE:NAME=VALUE: " + it->second);
        const std::string type = it->second.substr(0, colon);
        const std::string value = it->second.substr(eq + 1);
        TagLib::ASF::Attribute attribute;
        if (type == "dword")
            attribute = TagLib::ASF::Attribute(static_cast<unsigned int>(std::stoul(value)));
        else if (type == "qword")
            attribute = TagLib::ASF::Attribute(static_cast<unsigned long long>(std::stoull(value)));
        else if (type == "word")
            attribute = TagLib::ASF::Attribute(static_cast<unsigned short>(std::stoul(value)));
        else if (type == "bool")
            attribute = TagLib::ASF::Attribute(value == "1");
        else if (type == "bytes")
            attribute = TagLib::ASF::Attribute(
                TagLib::ByteVector(value.data(), static_cast<unsigned int>(value.size())));
        else
            throw Error("unknown attribute type " + type);
        tag->addAttribute(Utf8(it->second.substr(colon + 1, eq - colon - 1)), attribute);
    }
    for (auto [it, end] = o.equal_range("add-picture"); it != end; ++it) {
        const std::string& v = it->second;
        const size_t colon1 = v.find(':');
        const size_t colon2 = colon1 == std::string::npos ? colon1 : v.find(':', colon1 + 1);
        if (colon2 == std::string::npos)
            throw Error("--add-picture wants TYPE:DESCRIPTION:FILE|size:N: " + v);
        tag->addAttribute("WM/Picture", PictureAttribute(v.substr(colon2 + 1), std::stoi(v.substr(0, colon1)),
                                                         v.substr(colon1 + 1, colon2 - colon1 - 1)));
    }
    if (!file.save())
        throw Error("cannot write the tags of " + path);
}

template <typename Enum>
Enum Pick(const std::string& name, std::initializer_list<std::pair<const char*, Enum>> table) {
    for (const auto& [n, v] : table)
        if (name == n)
            return v;
    throw Error("unknown variant " + name);
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 'n' ? '\n' : c == 't' ? '\t' : c == '0' ? '\0' : c;
    }
    return out;
}

// UTF-8 text as UTF-16LE with a zero character at its end.
std::vector<uint8_t> Utf16Text(const std::string& utf8) {
    const TagLib::ByteVector bytes = Utf8(utf8).data(TagLib::String::UTF16LE);
    std::vector<uint8_t> out(bytes.begin(), bytes.end());
    out.insert(out.end(), {0, 0});
    return out;
}

// The bytes of a value, little-endian, as an object of kind stores it (a
// BOOL takes 32 bits in the Extended Content Description, 16 elsewhere).
std::vector<uint8_t> ValueBytes(const std::string& type, const std::string& value, TagObjectKind kind,
                                uint16_t& code) {
    if (type == "text") {
        code = 0;
        return Utf16Text(value);
    }
    if (type == "bytes") {
        code = 1;
        return std::vector<uint8_t>(value.begin(), value.end());
    }
    static const std::pair<const char*, std::pair<uint16_t, int>> kNumbers[] = {
        {"bool", {2, 0}}, {"dword", {3, 4}}, {"qword", {4, 8}}, {"word", {5, 2}}};
    for (const auto& [name, typeAndBytes] : kNumbers) {
        if (type != name)
            continue;
        code = typeAndBytes.first;
        int bytes = typeAndBytes.second;
        if (bytes == 0)
            bytes = kind == TagObjectKind::ExtendedContentDescription ? 4 : 2;
        const unsigned long long n = std::stoull(value);
        std::vector<uint8_t> out;
        for (int i = 0; i < bytes; ++i)
            out.push_back(uint8_t(n >> (8 * i)));
        return out;
    }
    throw Error("unknown value type " + type);
}

// Adds the tag objects that the asftags items describe.
void AddTagObjects(std::vector<uint8_t>& file, char** items, int count) {
    static const char* const kDescribed[] = {"title", "author", "copyright", "description", "rating"};
    std::vector<std::pair<TagObjectKind, std::vector<TagEntryBytes>>> objects;
    for (int i = 0; i < count; ++i) {
        const std::string item = items[i];
        const size_t colon = item.find(':');
        const size_t eq = item.find('=', colon);
        if (colon == std::string::npos || eq == std::string::npos)
            throw Error("a tag item is OBJECT[/TYPE]:NAME=VALUE: " + item);
        const std::string object = item.substr(0, colon);
        const size_t slash = object.find('/');
        const TagObjectKind kind =
            Pick<TagObjectKind>(object.substr(0, slash), {{"cd", TagObjectKind::ContentDescription},
                                                          {"ecd", TagObjectKind::ExtendedContentDescription},
                                                          {"meta", TagObjectKind::Metadata},
                                                          {"lib", TagObjectKind::MetadataLibrary}});
        auto it =
            std::find_if(objects.begin(), objects.end(), [&](const auto& o) { return o.first == kind; });
        if (it == objects.end())
            it = objects.insert(objects.end(), {kind, kind == TagObjectKind::ContentDescription
                                                          ? std::vector<TagEntryBytes>(5)
                                                          : std::vector<TagEntryBytes>()});
        const std::string name = Unescape(item.substr(colon + 1, eq - colon - 1));
        TagEntryBytes entry;
        entry.name = Utf16Text(name);
        entry.value = ValueBytes(slash == std::string::npos ? "text" : object.substr(slash + 1),
                                 Unescape(item.substr(eq + 1)), kind, entry.type);
        if (kind != TagObjectKind::ContentDescription) {
            it->second.push_back(entry);
            continue;
        }
        const auto field = std::find(std::begin(kDescribed), std::end(kDescribed), name);
        if (field == std::end(kDescribed))
            throw Error("the Content Description has no " + name);
        it->second[size_t(field - std::begin(kDescribed))] = entry;
    }
    for (const auto& [kind, entries] : objects) {
        const std::vector<uint8_t> object = TagObject(kind, entries);
        const bool inExtension = kind == TagObjectKind::Metadata || kind == TagObjectKind::MetadataLibrary;
        if (!(inExtension ? InsertExtensionObject(file, object) : InsertHeaderObject(file, object)))
            throw Error("cannot add tag objects to this file");
    }
}

// An ID3v2 tag with one title frame and 64 bytes of padding (or, with a
// footer, none: a tag with a footer has no padding).
std::vector<uint8_t> Id3Tag(bool v4WithFooter) {
    const std::string title = std::string(1, '\0') + "Behind an ID3 tag";
    std::vector<uint8_t> frames = {'T', 'I', 'T', '2'};
    for (int shift = 24; shift >= 0; shift -= 8)  // a 2.4 frame size is syncsafe; this one is small
        frames.push_back(uint8_t(title.size() >> shift));
    frames.insert(frames.end(), {0, 0});
    frames.insert(frames.end(), title.begin(), title.end());
    if (!v4WithFooter)
        frames.resize(frames.size() + 64, 0);
    const uint32_t size = uint32_t(frames.size());
    std::vector<uint8_t> header = {'I',
                                   'D',
                                   '3',
                                   uint8_t(v4WithFooter ? 4 : 3),
                                   0,
                                   uint8_t(v4WithFooter ? 0x10 : 0),
                                   uint8_t(size >> 21 & 0x7F),
                                   uint8_t(size >> 14 & 0x7F),
                                   uint8_t(size >> 7 & 0x7F),
                                   uint8_t(size & 0x7F)};
    std::vector<uint8_t> tag = header;
    tag.insert(tag.end(), frames.begin(), frames.end());
    if (v4WithFooter) {
        header[0] = '3', header[1] = 'D', header[2] = 'I';
        tag.insert(tag.end(), header.begin(), header.end());
    }
    return tag;
}

// --name value options after the positional arguments.
Options ParseOptions(int argc, char** argv, int first) {
    Options opts;
    for (int i = first; i < argc; ++i) {
        const std::string key = argv[i];
        if (key.rfind("--", 0) != 0 || i + 1 >= argc)
            throw Error("bad option " + key);
        opts.emplace(key.substr(2), argv[++i]);
    }
    return opts;
}

std::string Opt(const Options& o, const char* key, const char* def) {
    const auto it = o.find(key);
    return it == o.end() ? def : it->second;
}

int Usage() {
    std::fputs(
        "usage: mkwma encode OUT [--codec wmav1|wmav2|pcm|pcm24] [--channels N] [--rate HZ] [--seconds S]\n"
        "                        [--freqs LIST] [--bitrate BPS] [--title TEXT] [--wav IN.wav]\n"
        "                        [--noise DBFS]\n"
        "                        [--artist|--album-artist|--album|--track|--disc|--year|--genre|\n"
        "                         --composer|--comment|--copyright TEXT] [--picture FILE|damaged|size:N]\n"
        "                        [--attr NAME=VALUE]... [--typed-attr TYPE:NAME=VALUE]...\n"
        "                        [--add-picture TYPE:DESCRIPTION:FILE|size:N]...\n"
        "       mkwma wav OUT [--channels N] [--rate HZ] [--seconds S] [--freqs LIST] [--noise DBFS]\n"
        "       mkwma drm IN OUT content|extended|advanced\n"
        "       mkwma cut IN OUT inside-header|after-header|mid-data|fraction:F|zeros:F\n"
        "       mkwma flip IN OUT header-guid|object-size|data-size\n"
        "       mkwma tags IN OUT blocks:N:ENTRIES | mkwma tagcut OUT\n"
        "       mkwma asftags IN OUT cd|ecd|meta|lib[/TYPE]:NAME=VALUE...\n"
        "       mkwma id3 IN OUT v3|v4-footer\n"
        "       mkwma text OUT | mkwma empty OUT\n",
        stderr);
    return 2;
}

int Run(int argc, char** argv) {
    if (argc < 3)
        return Usage();
    const std::string cmd = argv[1];
    const std::string out = argv[2];
    if (cmd == "encode" || cmd == "wav") {
        const auto o = ParseOptions(argc, argv, 3);
        Audio audio;
        if (o.count("wav")) {
            audio = ReadWav(o.find("wav")->second);
        } else {
            audio = MakeTones(std::stoi(Opt(o, "channels", "2")), std::stoi(Opt(o, "rate", "44100")),
                              std::stod(Opt(o, "seconds", "3")), Opt(o, "freqs", ""));
            if (o.count("noise"))
                AddNoiseFloor(audio, std::stod(o.find("noise")->second));
        }
        if (cmd == "wav")
            WriteWav(out, audio);
        else {
            EncodeAsf(out, audio, Opt(o, "codec", "wmav2"), std::stoll(Opt(o, "bitrate", "0")),
                      Opt(o, "title", ""));
            WriteTags(out, o);
        }
        return 0;
    }
    if (cmd == "text") {
        const std::string text = "This is a plain text file, not Windows Media Audio.\n";
        WriteFile(out, std::vector<uint8_t>(text.begin(), text.end()));
        return 0;
    }
    if (cmd == "empty") {
        WriteFile(out, {});
        return 0;
    }
    if (cmd == "tagcut") {
        WriteFile(out, CutShortTagHeader());
        return 0;
    }
    if (cmd == "asftags" && argc >= 5) {
        std::vector<uint8_t> bytes = ReadFile(argv[2]);
        AddTagObjects(bytes, argv + 4, argc - 4);
        WriteFile(argv[3], bytes);
        return 0;
    }
    if (argc != 5)
        return Usage();
    std::vector<uint8_t> bytes = ReadFile(argv[2]);
    const std::string target = argv[3];
    const std::string variant = argv[4];
    bool ok = false;
    if (cmd == "drm") {
        ok = InsertEncryptionObject(
            bytes, Pick<EncryptionKind>(variant, {{"content", EncryptionKind::Content},
                                                  {"extended", EncryptionKind::ExtendedContent},
                                                  {"advanced", EncryptionKind::AdvancedContent}}));
    } else if (cmd == "id3") {
        const std::vector<uint8_t> tag = Id3Tag(Pick<bool>(variant, {{"v3", false}, {"v4-footer", true}}));
        bytes.insert(bytes.begin(), tag.begin(), tag.end());
        ok = true;
    } else if (cmd == "cut" && (variant.rfind("fraction:", 0) == 0 || variant.rfind("zeros:", 0) == 0)) {
        const bool zeros = variant[0] == 'z';
        const double fraction = std::stod(variant.substr(zeros ? 6 : 9));
        ok = fraction > 0 && fraction < 1;
        const auto kept = static_cast<size_t>(fraction * double(bytes.size()));
        if (ok && zeros)
            std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(kept), bytes.end(), 0);
        else if (ok)
            bytes.resize(kept);
    } else if (cmd == "cut") {
        ok = CutFile(bytes, Pick<CutPoint>(variant, {{"inside-header", CutPoint::InsideHeader},
                                                     {"after-header", CutPoint::AfterHeader},
                                                     {"mid-data", CutPoint::MidData}}));
    } else if (cmd == "tags" && variant.rfind("blocks:", 0) == 0) {
        const size_t colon = variant.find(':', 7);
        ok = colon != std::string::npos &&
             AddEmptyTagBlocks(bytes, std::stoi(variant.substr(7, colon - 7)), std::stoi(variant.substr(colon + 1)));
    } else if (cmd == "flip") {
        ok = FlipHeaderBytes(bytes, Pick<FlipTarget>(variant, {{"header-guid", FlipTarget::HeaderGuid},
                                                               {"object-size", FlipTarget::ObjectSize},
                                                               {"data-size", FlipTarget::DataSize}}));
    } else {
        return Usage();
    }
    if (!ok)
        throw Error(std::string(argv[2]) + ": cannot apply " + cmd + " " + variant + " to this file");
    WriteFile(target, bytes);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mkwma: %s\n", e.what());
        return 1;
    }
}
