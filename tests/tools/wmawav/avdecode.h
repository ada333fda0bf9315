// Decoding any audio file with the FFmpeg libraries, for the tests: what a
// player built on them gets from the decoder's and the encoder's results.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <QByteArray>
#include <QString>
#include <QVector>

#include <memory>

struct Decoded {
    QString error;  // empty when the whole file decoded
    QByteArray codec;
    int sampleRate = 0;
    int channels = 0;
    int bits = 0;                // 16 or 24 for integer samples, 0 for floats
    qint64 frames = 0;           // sample frames decoded
    double containerSeconds = 0;  // the length the container gives
    QVector<qint32> samples;     // interleaved, for integer samples only, at `bits`

    double seconds() const { return sampleRate ? double(frames) / sampleRate : 0; }
};

inline Decoded DecodeFile(const QString& path) {
    Decoded d;
    av_log_set_level(AV_LOG_ERROR);  // not the notes on streams of unknown length
    AVFormatContext* fc = nullptr;
    if (avformat_open_input(&fc, path.toLocal8Bit().constData(), nullptr, nullptr) < 0)
        return d.error = "cannot open " + path, d;
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> closer(
        fc, [](AVFormatContext* c) { avformat_close_input(&c); });
    const int index = avformat_find_stream_info(fc, nullptr) < 0
                          ? -1
                          : av_find_best_stream(fc, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0)
        return d.error = "no audio stream in " + path, d;
    const AVCodecParameters* par = fc->streams[index]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> dec(
        avcodec_alloc_context3(codec), [](AVCodecContext* c) { avcodec_free_context(&c); });
    if (!codec || avcodec_parameters_to_context(dec.get(), par) < 0 || avcodec_open2(dec.get(), codec, nullptr) < 0)
        return d.error = "cannot decode " + path, d;
    d.codec = codec->name;
    d.containerSeconds = fc->duration > 0 ? double(fc->duration) / AV_TIME_BASE : 0;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int failures = 0;
    auto receive = [&] {
        while (avcodec_receive_frame(dec.get(), frame) == 0) {
            d.sampleRate = frame->sample_rate;
            d.channels = frame->ch_layout.nb_channels;
            d.frames += frame->nb_samples;
            const auto format = AVSampleFormat(frame->format);
            const bool wide = av_get_packed_sample_fmt(format) == AV_SAMPLE_FMT_S32;
            d.bits = av_get_packed_sample_fmt(format) == AV_SAMPLE_FMT_S16 ? 16 : wide ? 24 : 0;
            const bool planar = av_sample_fmt_is_planar(format);
            for (int i = 0; d.bits && i < frame->nb_samples; ++i)
                for (int c = 0; c < d.channels; ++c) {
                    const int at = planar ? i : i * d.channels + c;
                    const uint8_t* plane = frame->extended_data[planar ? c : 0];
                    d.samples.append(wide ? reinterpret_cast<const qint32*>(plane)[at] >> 8
                                          : reinterpret_cast<const qint16*>(plane)[at]);
                }
        }
    };
    while (av_read_frame(fc, pkt) >= 0) {
        if (pkt->stream_index == index && avcodec_send_packet(dec.get(), pkt) < 0)
            ++failures;
        av_packet_unref(pkt);
        receive();
    }
    avcodec_send_packet(dec.get(), nullptr);
    receive();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    if (failures > 0 || d.frames == 0)
        d.error = QString("%1 packets of %2 failed to decode").arg(failures).arg(path);
    return d;
}
