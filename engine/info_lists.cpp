// Lists of what the media libraries offer, printed on standard output by the
// informational options: file formats, codecs, decoders and encoders, bitstream
// filters, protocols, filters, pixel formats, channel layouts and sample formats.
//
// Called only through show_information() (info.cpp) and the engine's tests.
#include "info.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

namespace {

char media_type_letter(enum AVMediaType type)
{
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        return 'V';
    case AVMEDIA_TYPE_AUDIO:
        return 'A';
    case AVMEDIA_TYPE_DATA:
        return 'D';
    case AVMEDIA_TYPE_SUBTITLE:
        return 'S';
    case AVMEDIA_TYPE_ATTACHMENT:
        return 'T';
    default:
        return '?';
    }
}

char flag_letter(bool set, char letter)
{
    return set ? letter : '.';
}

// ---- formats ------------------------------------------------------------------------

struct FormatRow {
    bool demuxing = false;
    bool muxing = false;
    const char *long_name = nullptr;
};

FormatRow &format_row(std::map<std::string, FormatRow> &rows, const char *name,
                      const char *long_name)
{
    FormatRow &row = rows[name];
    if (!row.long_name)
        row.long_name = long_name;
    return row;
}

// ---- codecs -------------------------------------------------------------------------

// Prints " (decoders: a b )" when some codec of that kind for the descriptor's id
// is named differently from the descriptor.
void print_codec_names_if_renamed(const AVCodecDescriptor *desc, int encoder)
{
    bool renamed = false;
    void *iter = nullptr;
    while (const AVCodec *c = next_codec_for_id(&iter, desc->id, encoder))
        if (strcmp(c->name, desc->name))
            renamed = true;
    if (!renamed)
        return;
    printf(" (%s: ", encoder ? "encoders" : "decoders");
    iter = nullptr;
    while (const AVCodec *c = next_codec_for_id(&iter, desc->id, encoder))
        printf("%s ", c->name);
    printf(")");
}

// ---- filters ------------------------------------------------------------------------

// Longest pad description printed; keeps the columns of the list readable.
const size_t MAX_PAD_DESCRIPTION = 63;

// One letter per static pad; filters whose instances create their pads as needed
// get an "N" for them; a side without any pads shows "|".
std::string describe_filter_pads(const AVFilter *f, int is_output)
{
    const AVFilterPad *pads = is_output ? f->outputs : f->inputs;
    unsigned count = avfilter_filter_pad_count(f, is_output);
    std::string text;
    for (unsigned i = 0; i < count; i++)
        text += media_type_letter(avfilter_pad_get_type(pads, int(i)));
    if (f->flags & (is_output ? AVFILTER_FLAG_DYNAMIC_OUTPUTS : AVFILTER_FLAG_DYNAMIC_INPUTS))
        text += 'N';
    if (text.empty())
        text = "|";
    return text;
}

// ---- channel layouts ------------------------------------------------------------------

// The library names channels it does not know "USR<number>"; those are not listed.
bool known_channel_name(int channel, char *name, size_t size)
{
    if (av_channel_name(name, size, static_cast<enum AVChannel>(channel)) < 0)
        return false;
    char generic[16];
    snprintf(generic, sizeof(generic), "USR%d", channel);
    return strcmp(name, generic) != 0;
}

} // namespace

std::vector<const AVCodecDescriptor *> sorted_codec_descriptors(void)
{
    std::vector<const AVCodecDescriptor *> list;
    for (const AVCodecDescriptor *d = avcodec_descriptor_next(nullptr); d;
         d = avcodec_descriptor_next(d))
        list.push_back(d);
    std::sort(list.begin(), list.end(), [](const AVCodecDescriptor *a, const AVCodecDescriptor *b) {
        if (a->type != b->type)
            return a->type < b->type;
        return strcmp(a->name, b->name) < 0;
    });
    return list;
}

const AVCodec *next_codec_for_id(void **iter, enum AVCodecID id, int encoder)
{
    while (const AVCodec *c = av_codec_iterate(iter))
        if (c->id == id && (encoder ? av_codec_is_encoder(c) : av_codec_is_decoder(c)))
            return c;
    return nullptr;
}

void show_formats(void)
{
    std::map<std::string, FormatRow> rows; // byte order of the names
    void *iter = nullptr;
    while (const AVOutputFormat *of = av_muxer_iterate(&iter))
        format_row(rows, of->name, of->long_name).muxing = true;
    iter = nullptr;
    while (const AVInputFormat *ifmt = av_demuxer_iterate(&iter))
        format_row(rows, ifmt->name, ifmt->long_name).demuxing = true;

    puts("File formats:\n"
         " D. = Demuxing supported\n"
         " .E = Muxing supported\n"
         " --");
    // The list has always begun after "000"; names sorting before it are left out.
    for (auto it = rows.upper_bound("000"); it != rows.end(); ++it) {
        const FormatRow &row = it->second;
        printf(" %s%s %-15s %s\n", row.demuxing ? "D" : " ", row.muxing ? "E" : " ",
               it->first.c_str(), row.long_name ? row.long_name : " ");
    }
}

void show_codecs(void)
{
    puts("Codecs:\n"
         " D..... = Decoding supported\n"
         " .E.... = Encoding supported\n"
         " ..V... = Video codec\n"
         " ..A... = Audio codec\n"
         " ..S... = Subtitle codec\n"
         " ...I.. = Intra frame-only codec\n"
         " ....L. = Lossy compression\n"
         " .....S = Lossless compression\n"
         " -------");
    for (const AVCodecDescriptor *desc : sorted_codec_descriptors()) {
        void *iter = nullptr;
        bool decodable = next_codec_for_id(&iter, desc->id, 0);
        iter = nullptr;
        bool encodable = next_codec_for_id(&iter, desc->id, 1);
        printf(" %c%c%c%c%c%c", flag_letter(decodable, 'D'), flag_letter(encodable, 'E'),
               media_type_letter(desc->type),
               flag_letter(desc->props & AV_CODEC_PROP_INTRA_ONLY, 'I'),
               flag_letter(desc->props & AV_CODEC_PROP_LOSSY, 'L'),
               flag_letter(desc->props & AV_CODEC_PROP_LOSSLESS, 'S'));
        printf(" %-20s %s", desc->name, desc->long_name ? desc->long_name : "");
        print_codec_names_if_renamed(desc, 0);
        print_codec_names_if_renamed(desc, 1);
        printf("\n");
    }
}

void show_codec_list(int encoder)
{
    printf("%s:\n"
           " V..... = Video\n"
           " A..... = Audio\n"
           " S..... = Subtitle\n"
           " .F.... = Frame-level multithreading\n"
           " ..S... = Slice-level multithreading\n"
           " ...X.. = Codec is experimental\n"
           " ....B. = Supports draw_horiz_band\n"
           " .....D = Supports direct rendering method 1\n"
           " ------\n",
           encoder ? "Encoders" : "Decoders");
    for (const AVCodecDescriptor *desc : sorted_codec_descriptors()) {
        void *iter = nullptr;
        while (const AVCodec *c = next_codec_for_id(&iter, desc->id, encoder)) {
            int caps = c->capabilities;
            printf(" %c%c%c%c%c%c", media_type_letter(c->type),
                   flag_letter(caps & AV_CODEC_CAP_FRAME_THREADS, 'F'),
                   flag_letter(caps & AV_CODEC_CAP_SLICE_THREADS, 'S'),
                   flag_letter(caps & AV_CODEC_CAP_EXPERIMENTAL, 'X'),
                   flag_letter(caps & AV_CODEC_CAP_DRAW_HORIZ_BAND, 'B'),
                   flag_letter(caps & AV_CODEC_CAP_DR1, 'D'));
            printf(" %-20s %s", c->name, c->long_name ? c->long_name : "");
            if (strcmp(c->name, desc->name))
                printf(" (codec %s)", desc->name);
            printf("\n");
        }
    }
}

void show_bsfs(void)
{
    puts("Bitstream filters:");
    void *iter = nullptr;
    while (const AVBitStreamFilter *bsf = av_bsf_iterate(&iter))
        puts(bsf->name);
    puts("");
}

void show_protocols(void)
{
    puts("Supported file protocols:\n"
         "Input:");
    void *opaque = nullptr;
    while (const char *name = avio_enum_protocols(&opaque, 0))
        puts(name);
    puts("Output:");
    opaque = nullptr;
    while (const char *name = avio_enum_protocols(&opaque, 1))
        puts(name);
}

void show_filters(void)
{
    puts("Filters:");
    void *iter = nullptr;
    while (const AVFilter *f = av_filter_iterate(&iter)) {
        std::string pads = describe_filter_pads(f, 0) + "->" + describe_filter_pads(f, 1);
        if (pads.size() > MAX_PAD_DESCRIPTION)
            pads.resize(MAX_PAD_DESCRIPTION);
        printf("%-16s %-10s %s\n", f->name, pads.c_str(), f->description ? f->description : "");
    }
}

void show_pix_fmts(void)
{
    puts("Pixel formats:\n"
         "I.... = Supported Input  format for conversion\n"
         ".O... = Supported Output format for conversion\n"
         "..H.. = Hardware accelerated format\n"
         "...P. = Paletted format\n"
         "....B = Bitstream format\n"
         "FLAGS NAME            NB_COMPONENTS BITS_PER_PIXEL\n"
         "-----");
    for (const AVPixFmtDescriptor *desc = av_pix_fmt_desc_next(nullptr); desc;
         desc = av_pix_fmt_desc_next(desc)) {
        if (!desc->name)
            continue;
        enum AVPixelFormat fmt = av_pix_fmt_desc_get_id(desc);
        printf("%c%c%c%c%c %-16s       %d            %2d\n",
               flag_letter(sws_isSupportedInput(fmt) > 0, 'I'),
               flag_letter(sws_isSupportedOutput(fmt) > 0, 'O'),
               flag_letter(desc->flags & AV_PIX_FMT_FLAG_HWACCEL, 'H'),
               flag_letter(desc->flags & AV_PIX_FMT_FLAG_PAL, 'P'),
               flag_letter(desc->flags & AV_PIX_FMT_FLAG_BITSTREAM, 'B'), desc->name,
               desc->nb_components, av_get_bits_per_pixel(desc));
    }
}

void show_layouts(void)
{
    puts("Individual channels:\n"
         "NAME        DESCRIPTION");
    for (int channel = 0; channel < 63; channel++) {
        char name[32], description[128];
        if (!known_channel_name(channel, name, sizeof(name)))
            continue;
        if (av_channel_description(description, sizeof(description), static_cast<enum AVChannel>(channel)) < 0)
            description[0] = 0;
        printf("%-12s%s\n", name, description);
    }

    puts("\nStandard channel layouts:\n"
         "NAME        DECOMPOSITION");
    void *iter = nullptr;
    while (const AVChannelLayout *layout = av_channel_layout_standard(&iter)) {
        char name[128];
        if (av_channel_layout_describe(layout, name, sizeof(name)) < 0)
            continue;
        printf("%-12s", name);
        for (int i = 0; i < layout->nb_channels; i++) {
            char channel[32];
            av_channel_name(channel, sizeof(channel),
                            av_channel_layout_channel_from_index(layout, unsigned(i)));
            printf("%s%s", i ? "+" : "", channel);
        }
        printf("\n");
    }
}

void show_sample_fmts(void)
{
    char line[128];
    // -1 gives the header line.
    for (int fmt = -1; fmt < AV_SAMPLE_FMT_NB; fmt++)
        if (av_get_sample_fmt_string(line, sizeof(line), static_cast<enum AVSampleFormat>(fmt)))
            puts(line);
}
