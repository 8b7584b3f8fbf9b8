// Metadata of a new output file, in this order: the "map_metadata" maps, chapters
// (copied from an input, cut to the output's start and duration), the default
// metadata taken from the inputs, and the "metadata" settings, where an empty
// value deletes a key.
//
// Called by add_output_file() once the output is registered and opened.
#include "output_internal.h"

#include <cstring>
#include <string>

namespace {

// Tags carried from one dictionary to another at most. Every tag set looks
// through those already there, so copying costs the square of their number:
// a file of 100,000 tags took minutes. Recorders write a few dozen.
constexpr int kMaxCarriedTags = 1000;

// av_dict_copy() of at most kMaxCarriedTags tags, with a warning naming how
// many were left out.
void copy_tags(AVDictionary **dst, const AVDictionary *src, int flags)
{
    const int count = av_dict_count(src);
    if (count <= kMaxCarriedTags) {
        av_dict_copy(dst, src, flags);
        return;
    }
    const AVDictionaryEntry *e = nullptr;
    for (int i = 0; i < kMaxCarriedTags && (e = av_dict_get(src, "", e, AV_DICT_IGNORE_SUFFIX)); i++)
        av_dict_set(dst, e->key, e->value, flags);
    av_log(nullptr, AV_LOG_WARNING, "Only the first %d of %d metadata tags are carried to the output\n",
           kMaxCarriedTags, count);
}

// Where a metadata specifier points: 'g' global, 's' streams (with a stream
// specifier), 'c' a chapter, 'p' a program.
struct MetaTarget {
    char type = 'g';
    int index = 0;
    const char *stream_spec = "";
};

// "", "g", "s", "s:<spec>", "c:<index>", "p:<index>".
int parse_meta_target(const char *text, MetaTarget *t)
{
    *t = MetaTarget();
    if (!*text)
        return 0;
    t->type = *text;
    switch (*text) {
    case 'g':
        break;
    case 's':
        if (text[1] && text[1] != ':') {
            av_log(nullptr, AV_LOG_FATAL, "Invalid metadata specifier %s.\n", text);
            return AVERROR(EINVAL);
        }
        t->stream_spec = text[1] == ':' ? text + 2 : "";
        break;
    case 'c':
    case 'p':
        if (text[1] == ':')
            t->index = int(strtol(text + 2, nullptr, 0));
        break;
    default:
        av_log(nullptr, AV_LOG_FATAL, "Invalid metadata type %c.\n", *text);
        return AVERROR(EINVAL);
    }
    return 0;
}

// The dictionary of a global, chapter or program target of `ctx`.
int target_dictionary(AVFormatContext *ctx, const MetaTarget &t, AVDictionary ***dict)
{
    switch (t.type) {
    case 'g':
        *dict = &ctx->metadata;
        return 0;
    case 'c':
        if (t.index < 0 || unsigned(t.index) >= ctx->nb_chapters) {
            av_log(nullptr, AV_LOG_FATAL, "Invalid %s index %d while processing metadata maps.\n",
                   "chapter", t.index);
            return AVERROR(EINVAL);
        }
        *dict = &ctx->chapters[t.index]->metadata;
        return 0;
    case 'p':
        if (t.index < 0 || unsigned(t.index) >= ctx->nb_programs) {
            av_log(nullptr, AV_LOG_FATAL, "Invalid %s index %d while processing metadata maps.\n",
                   "program", t.index);
            return AVERROR(EINVAL);
        }
        *dict = &ctx->programs[t.index]->metadata;
        return 0;
    default:
        return AVERROR(EINVAL);
    }
}

// A map marks the kinds of metadata it handles by hand, so the defaults leave
// them alone: the kinds of both its sides (an empty side is global). A map
// without an input only stops the defaults for its output side, all three kinds
// when that side is empty.
void mark_manual(PerFileOptions *o, char type)
{
    if (type == 'g')
        o->global_meta_mapped = 1;
    if (type == 's')
        o->stream_meta_mapped = 1;
    if (type == 'c')
        o->chapter_meta_mapped = 1;
}

// One "map_metadata" entry: the specifier names the output side, the value
// "<input file>[:<input side>]" the source. A negative input file only says that
// the output side is handled by hand.
int apply_metadata_map(PerFileOptions *o, AVFormatContext *oc, const SpecValue &entry)
{
    const char *out_spec = entry.specifier;
    char *rest;
    long in_file = strtol(entry.u.str, &rest, 0);
    if (in_file >= nb_input_files) {
        av_log(nullptr, AV_LOG_FATAL, "Invalid input file index %d while processing metadata maps\n",
               int(in_file));
        return AVERROR(EINVAL);
    }
    MetaTarget out, in;
    int ret = parse_meta_target(out_spec, &out);
    if (ret < 0)
        return ret;
    if (in_file < 0) {
        if (*out_spec) {
            mark_manual(o, out.type);
        } else {
            for (char type : {'g', 's', 'c'})
                mark_manual(o, type);
        }
        return 0;
    }
    if ((ret = parse_meta_target(*rest ? rest + 1 : rest, &in)) < 0)
        return ret;
    mark_manual(o, out.type);
    mark_manual(o, in.type);

    AVFormatContext *ic = input_files[in_file]->ctx;
    AVDictionary **src = nullptr;
    if (in.type == 's') {
        for (unsigned i = 0; i < ic->nb_streams && !src; i++) {
            int match = match_stream_spec(ic, ic->streams[i], in.stream_spec);
            if (match < 0)
                return 0; // an invalid specifier skips the entry
            if (match > 0)
                src = &ic->streams[i]->metadata;
        }
        if (!src) {
            av_log(nullptr, AV_LOG_FATAL, "Stream specifier %s does not match  any streams.\n",
                   in.stream_spec);
            return 0;
        }
    } else if ((ret = target_dictionary(ic, in, &src)) < 0) {
        return ret;
    }

    if (out.type == 's') {
        for (unsigned i = 0; i < oc->nb_streams; i++) {
            int match = match_stream_spec(oc, oc->streams[i], out.stream_spec);
            if (match < 0)
                break;
            if (match > 0)
                copy_tags(&oc->streams[i]->metadata, *src, AV_DICT_DONT_OVERWRITE);
        }
        return 0;
    }
    AVDictionary **dst;
    if ((ret = target_dictionary(oc, out, &dst)) < 0)
        return ret;
    copy_tags(dst, *src, AV_DICT_DONT_OVERWRITE);
    return 0;
}

// Copies the chapters of input `in_file` that fall into the output's time span,
// shifted to the output's start.
int copy_chapters(OutFile *of, int in_file, bool copy_metadata)
{
    InFile *ifile = input_files[in_file];
    AVFormatContext *is = ifile->ctx, *os = of->ctx;
    for (unsigned i = 0; i < is->nb_chapters; i++) {
        const AVChapter *in_ch = is->chapters[i];
        int64_t offset = av_rescale_q(of->start_time - ifile->ts_offset, AV_TIME_BASE_Q,
                                      in_ch->time_base);
        int64_t limit = of->recording_time == NO_DURATION_LIMIT
                            ? INT64_MAX
                            : av_rescale_q(of->recording_time, AV_TIME_BASE_Q, in_ch->time_base);
        if (in_ch->end < offset)
            continue;
        if (limit != INT64_MAX && in_ch->start > limit + offset)
            break;

        AVChapter *out_ch = (AVChapter *)av_mallocz(sizeof(*out_ch));
        if (!out_ch)
            return AVERROR(ENOMEM);
        out_ch->id = in_ch->id;
        out_ch->time_base = in_ch->time_base;
        out_ch->start = FFMAX(0, in_ch->start - offset);
        out_ch->end = FFMIN(limit, in_ch->end - offset);
        if (copy_metadata)
            copy_tags(&out_ch->metadata, in_ch->metadata, 0);
        int count = int(os->nb_chapters);
        int ret = av_dynarray_add_nofree(&os->chapters, &count, out_ch);
        if (ret < 0) {
            av_dict_free(&out_ch->metadata);
            av_free(out_ch);
            return ret;
        }
        os->nb_chapters = unsigned(count);
    }
    return 0;
}

int map_chapters(PerFileOptions *o, OutFile *of)
{
    int source = o->chapter_source;
    if (source == AUTO_CHAPTER_SOURCE) {
        source = -1;
        for (int i = 0; i < nb_input_files; i++)
            if (input_files[i]->ctx->nb_chapters) {
                source = i;
                break;
            }
    } else if (source >= nb_input_files) {
        av_log(nullptr, AV_LOG_FATAL, "Invalid input file index %d in chapter mapping.\n", source);
        return AVERROR(EINVAL);
    }
    if (source < 0)
        return 0;
    return copy_chapters(of, source, !o->chapter_meta_mapped);
}

void copy_default_metadata(PerFileOptions *o, OutFile *of, int first_stream)
{
    AVFormatContext *oc = of->ctx;
    if (!o->global_meta_mapped && nb_input_files) {
        copy_tags(&oc->metadata, input_files[0]->ctx->metadata, AV_DICT_DONT_OVERWRITE);
        if (of->recording_time != NO_DURATION_LIMIT)
            av_dict_set(&oc->metadata, "duration", nullptr, 0);
        av_dict_set(&oc->metadata, "creation_time", nullptr, 0);
    }
    if (o->stream_meta_mapped)
        return;
    for (int i = first_stream; i < nb_output_streams; i++) {
        OutStream *ost = output_streams[i];
        if (ost->source_index >= 0)
            copy_tags(&ost->st->metadata, input_streams[ost->source_index]->st->metadata,
                      AV_DICT_DONT_OVERWRITE);
    }
}

// One "metadata" setting "key=value"; an empty value deletes the key.
int apply_metadata_setting(AVFormatContext *oc, const SpecValue &entry)
{
    std::string text = entry.u.str;
    size_t eq = text.find('=');
    if (eq == std::string::npos) {
        av_log(nullptr, AV_LOG_FATAL, "No '=' character in metadata string %s.\n", entry.u.str);
        return AVERROR(EINVAL);
    }
    std::string key = text.substr(0, eq);
    std::string value = text.substr(eq + 1);
    const char *val = value.empty() ? nullptr : value.c_str();

    // Settings go to the file, its streams or its chapters only.
    MetaTarget t;
    int ret = strchr("gsc", entry.specifier[0]) ? parse_meta_target(entry.specifier, &t) : 0;
    if (ret < 0)
        return ret;
    if (!strchr("gsc", entry.specifier[0]))
        t.type = entry.specifier[0];
    switch (t.type) {
    case 's':
        for (unsigned i = 0; i < oc->nb_streams; i++) {
            int match = match_stream_spec(oc, oc->streams[i], t.stream_spec);
            if (match < 0)
                return match;
            if (match > 0)
                av_dict_set(&oc->streams[i]->metadata, key.c_str(), val, 0);
        }
        return 0;
    case 'g':
        return av_dict_set(&oc->metadata, key.c_str(), val, 0);
    case 'c':
        if (t.index < 0 || unsigned(t.index) >= oc->nb_chapters) {
            av_log(nullptr, AV_LOG_FATAL, "Invalid chapter index %d in metadata specifier.\n",
                   t.index);
            return AVERROR(EINVAL);
        }
        return av_dict_set(&oc->chapters[t.index]->metadata, key.c_str(), val, 0);
    default:
        av_log(nullptr, AV_LOG_FATAL, "Invalid metadata specifier %s.\n", entry.specifier);
        return AVERROR(EINVAL);
    }
}

} // namespace

int apply_output_metadata(PerFileOptions *o, OutFile *of, int first_stream)
{
    int ret;
    for (int i = 0; i < o->metadata_map_texts.count; i++)
        if ((ret = apply_metadata_map(o, of->ctx, o->metadata_map_texts.items[i])) < 0)
            return ret;
    if ((ret = map_chapters(o, of)) < 0)
        return ret;
    copy_default_metadata(o, of, first_stream);
    for (int i = 0; i < o->metadata_sets.count; i++)
        if ((ret = apply_metadata_setting(of->ctx, o->metadata_sets.items[i])) < 0)
            return ret;
    return 0;
}
