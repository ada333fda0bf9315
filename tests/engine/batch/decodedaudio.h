// Decoding a result back with the FFmpeg libraries: its samples (as 32-bit
// integers, the source's significant bits at the top), its format and its
// length after the container's own trimming (pre-skip, end trimming, edit
// lists), as a player hears it.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <QString>

#include <memory>
#include <vector>

struct DecodedAudio {
    QString error;
    int sampleRate = 0;
    int channels = 0;
    int bits = 0;  // significant bits per sample
    std::vector<qint32> samples;  // interleaved
    double seconds() const { return channels && sampleRate ? double(samples.size()) / channels / sampleRate : 0; }
};

inline DecodedAudio DecodeAudio(const QByteArray& path) {
    DecodedAudio d;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.constData(), nullptr, nullptr) < 0) {
        d.error = "cannot open";
        return d;
    }
    const std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> closer(
        format, [](AVFormatContext* f) { avformat_close_input(&f); });
    if (avformat_find_stream_info(format, nullptr) < 0) {
        d.error = "no stream info";
        return d;
    }
    const int stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (stream < 0) {
        d.error = "no audio";
        return d;
    }
    const AVCodecParameters* par = format->streams[stream]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> dec(avcodec_alloc_context3(codec),
                                                                   [](AVCodecContext* c) { avcodec_free_context(&c); });
    if (!codec || avcodec_parameters_to_context(dec.get(), par) < 0 || avcodec_open2(dec.get(), codec, nullptr) < 0) {
        d.error = "no decoder";
        return d;
    }
    d.sampleRate = dec->sample_rate;
    d.channels = dec->ch_layout.nb_channels;
    d.bits = par->bits_per_raw_sample > 0 ? par->bits_per_raw_sample : 16;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const auto take = [&] {
        while (avcodec_receive_frame(dec.get(), frame) == 0) {
            const auto fmt = static_cast<AVSampleFormat>(frame->format);
            const bool planar = av_sample_fmt_is_planar(fmt);
            for (int i = 0; i < frame->nb_samples; ++i) {
                for (int c = 0; c < d.channels; ++c) {
                    const int at = planar ? i : i * d.channels + c;
                    const uint8_t* data = frame->extended_data[planar ? c : 0];
                    switch (av_get_packed_sample_fmt(fmt)) {
                        case AV_SAMPLE_FMT_S16:
                            d.samples.push_back(qint32(reinterpret_cast<const int16_t*>(data)[at]) * 65536);
                            break;
                        case AV_SAMPLE_FMT_S32:
                            d.samples.push_back(reinterpret_cast<const int32_t*>(data)[at]);
                            break;
                        case AV_SAMPLE_FMT_FLT:
                            d.samples.push_back(qint32(
                                qBound(-1.0, double(reinterpret_cast<const float*>(data)[at]), 1.0) * 2147483647.0));
                            break;
                        default:
                            d.error = "sample format";
                    }
                }
            }
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream && avcodec_send_packet(dec.get(), packet) >= 0)
            take();
        av_packet_unref(packet);
    }
    avcodec_send_packet(dec.get(), nullptr);
    take();
    av_packet_free(&packet);
    av_frame_free(&frame);
    return d;
}
