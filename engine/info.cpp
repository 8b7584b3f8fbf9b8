// Information and help output: the start-up banner, the usage text, "version",
// the licence notice, the help listing (sections of the option table, the option
// lists of the library classes, codec and format descriptions) and the handler
// that every informational row of the option table points to.
//
// The banner and usage are called by the engine entry; show_information() only by
// option parsing. The lists themselves live in info_lists.cpp.
#include "info.h"

#include "engine.h"
#include "postproc_configuration.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

const char BANNER_INDENT[] = "  ";
const int ENCODE_OR_DECODE = AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_DECODING_PARAM;

// Only the first mismatch of a process carries the warning line; the library's
// configuration itself is logged every time.
bool warned_configuration_mismatch = false;

void info(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

void info(const char *fmt, ...)
{
    va_list vl;
    va_start(vl, fmt);
    av_vlog(nullptr, AV_LOG_INFO, fmt, vl);
    va_end(vl);
}

void show_license(void)
{
    info("%s is free software; you can redistribute it and/or modify\n"
         "it under the terms of the GNU General Public License as published by\n"
         "the Free Software Foundation; either version 2 of the License, or\n"
         "(at your option) any later version.\n"
         "\n"
         "%s is distributed in the hope that it will be useful,\n"
         "but WITHOUT ANY WARRANTY; without even the implied warranty of\n"
         "MERCHANTABILITY or FITNESS FOR A PARTICULAR PURPOSE.  See the\n"
         "GNU General Public License for more details.\n"
         "\n"
         "You should have received a copy of the GNU General Public License\n"
         "along with %s; if not, write to the Free Software\n"
         "Foundation, Inc., 51 Franklin Street, Fifth Floor, Boston, MA 02110-1301 USA\n",
         program_name, program_name, program_name);
}

// Logs the options of `cls` (when it has any) and then those of every class
// below it, each followed by an empty line.
void show_class_options(const AVClass *cls, int flags)
{
    if (cls->option && cls->option->name) {
        av_opt_show2(&cls, nullptr, flags, 0);
        info("\n");
    }
    void *iter = nullptr;
    while (const AVClass *child = av_opt_child_class_iterate(cls, &iter))
        show_class_options(child, flags);
}

void show_getting_help(void)
{
    info("Getting help:\n"
         "    -h      -- print basic options\n"
         "    -h long -- print more options\n"
         "    -h full -- print all options (including all format and codec specific options, "
         "very long)\n"
         "    See man %s for detailed description of the options.\n"
         "\n",
         program_name);
}

void show_general_help(const OptionEntry *table, const std::string &topic)
{
    bool full = topic == "full";
    bool advanced = full || topic == "long";
    if (!topic.empty() && !advanced)
        av_log(nullptr, AV_LOG_ERROR, "Unknown help option '%s'.\n", topic.c_str());

    show_usage();
    show_getting_help();
    show_help_sections(table, advanced);
    if (!full)
        return;
    show_class_options(avcodec_get_class(), ENCODE_OR_DECODE);
    show_class_options(avformat_get_class(), ENCODE_OR_DECODE);
    show_class_options(sws_get_class(), ENCODE_OR_DECODE);
    show_class_options(swr_get_class(), AV_OPT_FLAG_AUDIO_PARAM);
    show_class_options(avfilter_get_class(), AV_OPT_FLAG_FILTERING_PARAM);
}

// ---- codec and format descriptions ----------------------------------------------

const char *threading_text(int capabilities)
{
    bool frame = capabilities & AV_CODEC_CAP_FRAME_THREADS;
    bool slice = capabilities & AV_CODEC_CAP_SLICE_THREADS;
    if (frame && slice)
        return "frame and slice";
    if (frame)
        return "frame";
    if (slice)
        return "slice";
    return "no";
}

void show_codec_capability_lists(const AVCodec *c)
{
    if (c->supported_framerates) {
        info("    Supported framerates:");
        for (const AVRational *r = c->supported_framerates; r->num || r->den; r++)
            info(" %d/%d", r->num, r->den);
        info("\n");
    }
    if (c->pix_fmts) {
        info("    Supported pixel formats:");
        for (const enum AVPixelFormat *p = c->pix_fmts; *p != AV_PIX_FMT_NONE; p++) {
            const char *name = av_get_pix_fmt_name(*p);
            info(" %s", name ? name : "?");
        }
        info("\n");
    }
    if (c->supported_samplerates) {
        info("    Supported sample rates:");
        for (const int *rate = c->supported_samplerates; *rate; rate++)
            info(" %d", *rate);
        info("\n");
    }
    if (c->sample_fmts) {
        info("    Supported sample formats:");
        for (const enum AVSampleFormat *s = c->sample_fmts; *s != AV_SAMPLE_FMT_NONE; s++) {
            const char *name = av_get_sample_fmt_name(*s);
            info(" %s", name ? name : "?");
        }
        info("\n");
    }
    if (c->ch_layouts) {
        info("    Supported channel layouts:");
        for (const AVChannelLayout *l = c->ch_layouts; l->nb_channels; l++) {
            char name[128];
            if (av_channel_layout_describe(l, name, sizeof(name)) < 0)
                av_strlcpy(name, "?", sizeof(name));
            info(" %s", name);
        }
        info("\n");
    }
}

void describe_codec(const AVCodec *c)
{
    info("%s %s [%s]:\n", av_codec_is_encoder(c) ? "Encoder" : "Decoder", c->name,
         c->long_name ? c->long_name : "");
    if (c->type == AVMEDIA_TYPE_VIDEO)
        info("    Threading capabilities: %s\n", threading_text(c->capabilities));
    show_codec_capability_lists(c);
    if (c->priv_class)
        show_class_options(c->priv_class, ENCODE_OR_DECODE);
}

const char *codec_name_of(enum AVCodecID id)
{
    const AVCodecDescriptor *desc = avcodec_descriptor_get(id);
    return desc ? desc->name : "unknown";
}

} // namespace

// ---- banner, usage, versions ----------------------------------------------------

const char *built_postproc_configuration(void)
{
    return WVC_POSTPROC_CONFIGURATION;
}

void print_library_versions(const char *indent)
{
    unsigned loaded = postproc_version();
    info("%slib%-11s %2d.%3d.%3d / %2d.%3d.%3d\n", indent, "postproc", LIBPOSTPROC_VERSION_MAJOR,
         LIBPOSTPROC_VERSION_MINOR, LIBPOSTPROC_VERSION_MICRO, int(loaded >> 16),
         int((loaded >> 8) & 0xff), int(loaded & 0xff));
}

int check_library_configuration(const char *indent, const char *built_with)
{
    const char *loaded = postproc_configuration();
    if (!strcmp(loaded, built_with))
        return 0;
    if (!warned_configuration_mismatch) {
        warned_configuration_mismatch = true;
        info("%sWARNING: library configuration mismatch\n", indent);
    }
    info("%s%-11s configuration: %s\n", indent, "postproc", loaded);
    return 1;
}

void show_banner(int argc, char **argv, const OptionEntry *table)
{
    if (find_option_position(argc, argv, table, "version"))
        return;
    check_library_configuration(BANNER_INDENT, built_postproc_configuration());
    print_library_versions(BANNER_INDENT);
}

void show_usage(void)
{
    info("Hyper fast Audio and Video encoder\n");
    info("usage: %s [options] [[infile options] -i infile]... {[outfile options] outfile}...\n",
         program_name);
    info("\n");
}

// Messages above the current log level are dropped here as everywhere else: the
// libraries hand every message to the callback, and verbose or debug chatter has
// no place among the help text on standard output.
void help_log_callback(void *, int level, const char *fmt, va_list vl)
{
    if (level > av_log_get_level())
        return;
    vfprintf(stdout, fmt, vl);
}

// ---- help -----------------------------------------------------------------------

const HelpSection help_sections[] = {
    {"Print help / information / capabilities:", OPTF_EXIT, 0, 0, false},
    {"Global options (affect whole program instead of just one file:", 0,
     OPTF_EXPERT | OPTF_EXIT | OPTF_PERFILE | OPTF_FIELD | OPTF_SPEC, 0, false},
    {"Advanced global options:", OPTF_EXPERT, OPTF_EXIT | OPTF_PERFILE | OPTF_FIELD | OPTF_SPEC, 0,
     true},
    {"Per-file main options:", 0,
     OPTF_EXPERT | OPTF_VIDEO | OPTF_AUDIO | OPTF_SUBTITLE | OPTF_EXIT,
     OPTF_PERFILE | OPTF_FIELD | OPTF_SPEC, false},
    {"Advanced per-file options:", OPTF_EXPERT, OPTF_VIDEO | OPTF_AUDIO | OPTF_SUBTITLE,
     OPTF_PERFILE | OPTF_FIELD | OPTF_SPEC, true},
    {"Video options:", OPTF_VIDEO, OPTF_EXPERT | OPTF_AUDIO, 0, false},
    {"Advanced Video options:", OPTF_VIDEO | OPTF_EXPERT, OPTF_AUDIO, 0, true},
    {"Audio options:", OPTF_AUDIO, OPTF_EXPERT | OPTF_VIDEO, 0, false},
    {"Advanced Audio options:", OPTF_AUDIO | OPTF_EXPERT, OPTF_VIDEO, 0, true},
    {"Subtitle options:", OPTF_SUBTITLE, 0, 0, false},
};
const int help_section_count = int(sizeof(help_sections) / sizeof(help_sections[0]));

bool help_row_selected(const OptionEntry *row, const HelpSection &section)
{
    if ((row->flags & section.required) != section.required)
        return false;
    if (row->flags & section.rejected)
        return false;
    return !section.group || (row->flags & section.group);
}

void show_help_section(const OptionEntry *table, const HelpSection &section)
{
    bool heading_shown = false;
    for (const OptionEntry *row = table; row->name; row++) {
        if (!help_row_selected(row, section))
            continue;
        if (!heading_shown) {
            info("%s\n", section.heading);
            heading_shown = true;
        }
        char name_and_arg[64];
        av_strlcpy(name_and_arg, row->name, sizeof(name_and_arg));
        if (row->argname) {
            av_strlcat(name_and_arg, " ", sizeof(name_and_arg));
            av_strlcat(name_and_arg, row->argname, sizeof(name_and_arg));
        }
        info("-%-17s  %s\n", name_and_arg, row->help ? row->help : "");
    }
    info("\n");
}

void show_help_sections(const OptionEntry *table, bool advanced)
{
    for (int i = 0; i < help_section_count; i++)
        if (advanced || !help_sections[i].advanced)
            show_help_section(table, help_sections[i]);
    info("\n");
}

void show_help(const OptionEntry *table, const char *arg)
{
    std::string topic = arg ? arg : "";
    std::string param;
    size_t eq = topic.find('=');
    if (eq != std::string::npos) {
        param = topic.substr(eq + 1);
        topic.resize(eq);
    }

    if (topic == "decoder" || topic == "encoder")
        show_codec_help(param.c_str(), topic == "encoder");
    else if (topic == "demuxer")
        show_demuxer_help(param.c_str());
    else if (topic == "muxer")
        show_muxer_help(param.c_str());
    else
        show_general_help(table, topic);
}

void show_codec_help(const char *name, int encoder)
{
    if (!name || !*name) {
        av_log(nullptr, AV_LOG_ERROR, "No codec name specified.\n");
        return;
    }
    const AVCodec *codec =
        encoder ? avcodec_find_encoder_by_name(name) : avcodec_find_decoder_by_name(name);
    if (codec) {
        describe_codec(codec);
        return;
    }
    const AVCodecDescriptor *desc = avcodec_descriptor_get_by_name(name);
    if (!desc) {
        av_log(nullptr, AV_LOG_ERROR, "Codec '%s' is not recognized by FFmpeg.\n", name);
        return;
    }
    bool described = false;
    void *iter = nullptr;
    while ((codec = next_codec_for_id(&iter, desc->id, encoder))) {
        describe_codec(codec);
        described = true;
    }
    if (!described)
        av_log(nullptr, AV_LOG_ERROR,
               "Codec '%s' is known to FFmpeg, but no %s for it are available. FFmpeg might "
               "need to be recompiled with additional external libraries.\n",
               name, encoder ? "encoders" : "decoders");
}

void show_demuxer_help(const char *name)
{
    const AVInputFormat *fmt = av_find_input_format(name);
    if (!fmt) {
        av_log(nullptr, AV_LOG_ERROR, "Unknown format '%s'.\n", name);
        return;
    }
    info("Demuxer %s [%s]:\n", fmt->name, fmt->long_name ? fmt->long_name : "");
    if (fmt->extensions)
        info("    Common extensions: %s.\n", fmt->extensions);
    if (fmt->priv_class)
        show_class_options(fmt->priv_class, AV_OPT_FLAG_DECODING_PARAM);
}

void show_muxer_help(const char *name)
{
    const AVOutputFormat *fmt = av_guess_format(name, nullptr, nullptr);
    if (!fmt) {
        av_log(nullptr, AV_LOG_ERROR, "Unknown format '%s'.\n", name);
        return;
    }
    info("Muxer %s [%s]:\n", fmt->name, fmt->long_name ? fmt->long_name : "");
    if (fmt->extensions)
        info("    Common extensions: %s.\n", fmt->extensions);
    if (fmt->mime_type)
        info("    Mime type: %s.\n", fmt->mime_type);
    if (fmt->video_codec != AV_CODEC_ID_NONE)
        info("    Default video codec: %s.\n", codec_name_of(fmt->video_codec));
    if (fmt->audio_codec != AV_CODEC_ID_NONE)
        info("    Default audio codec: %s.\n", codec_name_of(fmt->audio_codec));
    if (fmt->subtitle_codec != AV_CODEC_ID_NONE)
        info("    Default subtitle codec: %s.\n", codec_name_of(fmt->subtitle_codec));
    if (fmt->priv_class)
        show_class_options(fmt->priv_class, AV_OPT_FLAG_ENCODING_PARAM);
}

// ---- the informational options ----------------------------------------------------

namespace {

struct InformationOption {
    const char *name;
    void (*show)(void);
};

const InformationOption information_lists[] = {
    {"L", show_license},
    {"formats", show_formats},
    {"codecs", show_codecs},
    {"decoders", [] { show_codec_list(0); }},
    {"encoders", [] { show_codec_list(1); }},
    {"bsfs", show_bsfs},
    {"protocols", show_protocols},
    {"filters", show_filters},
    {"pix_fmts", show_pix_fmts},
    {"layouts", show_layouts},
    {"sample_fmts", show_sample_fmts},
};

bool is_help_option(const std::string &name)
{
    return name == "h" || name == "?" || name == "help" || name == "-help";
}

} // namespace

// Handler of every informational row. The help rows consume no argument, yet the
// parser hands every handler the element that follows the option, which the help
// takes as its topic; it stays on the command line (parsing stops right after).
int show_information(void *, const char *opt, const char *arg)
{
    std::string name = opt;
    name.resize(std::min(name.size(), name.find(':')));

    if (is_help_option(name)) {
        av_log_set_callback(help_log_callback);
        show_help(option_table, arg);
    } else if (name == "version") {
        av_log_set_callback(help_log_callback);
        print_library_versions("");
    } else {
        for (const InformationOption &o : information_lists)
            if (name == o.name) {
                o.show();
                fflush(stdout);
                return 0;
            }
        av_log(nullptr, AV_LOG_ERROR, "No information is available for '-%s'\n", opt);
    }
    fflush(stdout);
    return 0;
}
