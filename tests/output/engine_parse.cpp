#include "engine_parse.h"

#include "options.h"

#include <fstream>
#include <sstream>

using fixtures::FixtureError;

void EngineParse::SetUp()
{
    saved_ = {overwrite_yes, overwrite_no, intra_only, audio_sync_method, audio_volume,
              stdin_enabled};
    reset_file_options(&o, 0);
}

void EngineParse::TearDown()
{
    reset_file_options(&o, 0);
    engine_cleanup();
    reset_engine_state();
    overwrite_yes = saved_.overwrite_yes;
    overwrite_no = saved_.overwrite_no;
    intra_only = saved_.intra_only;
    audio_sync_method = saved_.audio_sync_method;
    audio_volume = saved_.audio_volume;
    stdin_enabled = saved_.stdin_enabled;
}

int EngineParse::parse(const Args &args)
{
    words = {"ffmpeg"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    note_named_inputs(int(argv.size()), argv.data(), option_table);
    return parse_command_line(&o, int(argv.size()), argv.data(), option_table, add_output_file);
}

std::string tag(const AVDictionary *d, const char *key)
{
    const AVDictionaryEntry *e = av_dict_get(d, key, nullptr, 0);
    return e ? e->value : "<none>";
}

std::string file_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

namespace {

void check(int ret, const std::string &what)
{
    if (ret < 0) {
        char text[128];
        av_strerror(ret, text, sizeof(text));
        throw FixtureError(what + ": " + text);
    }
}

AVChapter *new_chapter(int id, const ChapterSpec &c)
{
    AVChapter *ch = (AVChapter *)av_mallocz(sizeof(*ch));
    ch->id = id;
    ch->time_base = AVRational{1, 1000};
    ch->start = llround(c.start * 1000);
    ch->end = llround(c.end * 1000);
    av_dict_set(&ch->metadata, "title", c.title.c_str(), 0);
    return ch;
}

// One KLV triplet: 16-byte universal key, BER length, value.
void write_klv_packet(AVFormatContext *oc, int stream, int64_t pts)
{
    static const uint8_t key[16] = {0x06, 0x0e, 0x2b, 0x34, 0x02, 0x0b, 0x01, 0x01,
                                    0x0e, 0x01, 0x03, 0x01, 0x01, 0x00, 0x00, 0x00};
    AVPacket *pkt = av_packet_alloc();
    check(av_new_packet(pkt, 16 + 1 + 4), "klv packet");
    memcpy(pkt->data, key, 16);
    pkt->data[16] = 4;
    memcpy(pkt->data + 17, "gate", 4);
    pkt->stream_index = stream;
    pkt->pts = pkt->dts = pts;
    pkt->flags = AV_PKT_FLAG_KEY;
    check(av_interleaved_write_frame(oc, pkt), "write klv");
    av_packet_free(&pkt);
}

} // namespace

void remux(const std::string &src, const std::string &dst, const RemuxSpec &spec)
{
    AVFormatContext *ic = nullptr, *oc = nullptr;
    check(avformat_open_input(&ic, src.c_str(), nullptr, nullptr), "open " + src);
    check(avformat_find_stream_info(ic, nullptr), "probe " + src);
    check(avformat_alloc_output_context2(&oc, nullptr, nullptr, dst.c_str()), "output " + dst);

    std::vector<int> out_index(ic->nb_streams, -1);
    for (unsigned i = 0; i < ic->nb_streams; i++) {
        AVStream *in = ic->streams[i];
        if (!spec.keep.empty() && !spec.keep.count(in->codecpar->codec_type))
            continue;
        AVStream *out = avformat_new_stream(oc, nullptr);
        check(avcodec_parameters_copy(out->codecpar, in->codecpar), "parameters");
        out->codecpar->codec_tag = 0;
        out->time_base = in->time_base;
        av_dict_copy(&out->metadata, in->metadata, 0);
        for (const auto &t : spec.stream_tags)
            av_dict_set(&out->metadata, t.first.c_str(), t.second.c_str(), 0);
        out_index[i] = out->index;
    }
    int klv = -1;
    if (spec.add_klv_data) {
        AVStream *st = avformat_new_stream(oc, nullptr);
        st->codecpar->codec_type = AVMEDIA_TYPE_DATA;
        st->codecpar->codec_id = AV_CODEC_ID_SMPTE_KLV;
        st->time_base = AVRational{1, 90000};
        klv = st->index;
    }
    for (const auto &t : spec.global_tags)
        av_dict_set(&oc->metadata, t.first.c_str(), t.second.c_str(), 0);
    int nb_chapters = 0;
    for (size_t i = 0; i < spec.chapters.size(); i++)
        check(av_dynarray_add_nofree(&oc->chapters, &nb_chapters,
                                     new_chapter(int(i), spec.chapters[i])),
              "chapter");
    oc->nb_chapters = unsigned(nb_chapters);

    check(avio_open(&oc->pb, dst.c_str(), AVIO_FLAG_WRITE), "create " + dst);
    check(avformat_write_header(oc, nullptr), "header " + dst);
    AVPacket *pkt = av_packet_alloc();
    int klv_written = 0;
    while (av_read_frame(ic, pkt) >= 0) {
        int out = out_index[pkt->stream_index];
        if (out >= 0) {
            AVRational in_tb = ic->streams[pkt->stream_index]->time_base;
            if (klv >= 0 && pkt->pts != AV_NOPTS_VALUE &&
                av_compare_ts(pkt->pts, in_tb, klv_written, AVRational{2, 1}) >= 0)
                write_klv_packet(oc, klv, av_rescale_q(klv_written++, AVRational{2, 1},
                                                       oc->streams[klv]->time_base));
            av_packet_rescale_ts(pkt, in_tb, oc->streams[out]->time_base);
            pkt->stream_index = out;
            pkt->pos = -1;
            check(av_interleaved_write_frame(oc, pkt), "write " + dst);
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    check(av_write_trailer(oc), "trailer " + dst);
    avio_closep(&oc->pb);
    avformat_free_context(oc);
    avformat_close_input(&ic);
}
