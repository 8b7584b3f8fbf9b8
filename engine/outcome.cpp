// What a run leaves behind: whether its output files were written completely,
// and the removal of the files a failed run created.
//
// A write that fails (disk full, file-size limit, I/O error, a trailer that could
// not be written, a close that could not flush) makes the file unusable, and a run
// whose outputs received no media at all produced nothing worth keeping; either
// way the caller must be told -1, never 0. The loop's muxing calls
// note_write_error(); ffmpeg_exec() calls settle_outputs() after the loop and
// remove_created_outputs() when the run ends with -1 (or was stopped by a caller
// who wants nothing of it), and registers engine_cleanup_at_exit() for runs that
// end the process. Each failure here is also recorded for the outcome.
#include "engine.h"
#include "observe.h"
#include "output_naming.h"
#include "platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool has_own_file(const AVFormatContext *oc)
{
    return oc && oc->oformat && !(oc->oformat->flags & AVFMT_NOFILE);
}

// Flushes and closes the file of `of`; the first error of either is kept.
void close_output(OutFile *of)
{
    AVFormatContext *oc = of->ctx;
    if (!has_own_file(oc) || !oc->pb)
        return;
    avio_flush(oc->pb);
    const int pending = oc->pb->error;
    const int closed = avio_closep(&oc->pb);
    if (!of->write_error) {
        of->write_error = pending < 0 ? pending : closed < 0 ? closed : 0;
        if (of->write_error)
            record_run_failure(output_failure(of->write_error), of->write_error);
    }
}

} // namespace

void note_write_error(OutFile *of, int err)
{
    if (of->write_error)
        return;
    of->write_error = err < 0 ? err : AVERROR(EIO);
    record_run_failure(output_failure(of->write_error), of->write_error);
    char text[128];
    av_strerror(of->write_error, text, sizeof(text));
    av_log(nullptr, AV_LOG_ERROR, "Error writing output file '%s': %s; nothing more is written to it.\n",
           output_display_name(of), text);
    // Encoding the rest of the recording for a file that takes nothing is pointless.
    for (unsigned i = 0; i < of->ctx->nb_streams; i++)
        output_streams[of->first_stream + int(i)]->finished = 1;
}

void note_lost_media(RunFailure failure, int error, const char *text)
{
    av_log(nullptr, AV_LOG_ERROR, "%s; the conversion fails.\n", text);
    record_run_failure(failure, error, text);
    if (!run_lost_media) {
        run_lost_media = 1;
        // A file that will be removed is not worth the encoding.
        for (int i = 0; i < nb_output_streams; i++)
            output_streams[i]->finished = 1;
    }
}

const char *output_display_name(const OutFile *of)
{
    return of->final_path ? of->final_path : of->ctx->url;
}

namespace {

// Inputs a second run can read from the start again: files, not pipes or
// standard input (a named pipe's writer is gone; reopening it would wait for
// ever).
bool inputs_can_be_read_again(void)
{
    for (int i = 0; i < nb_input_files; i++) {
        const AVIOContext *pb = input_files[i]->ctx->pb;
        if (pb && !(pb->seekable & AVIO_SEEKABLE_NORMAL))
            return false;
    }
    return true;
}

} // namespace

bool note_attached_picture_failure(const OutStream *ost)
{
    const InStream *ist = ost->source_index >= 0 ? input_streams[ost->source_index] : nullptr;
    if (!ist || !(ist->st->disposition & AV_DISPOSITION_ATTACHED_PIC) || leave_out_attached_pictures)
        return false;
    // Made again, the run writes its outputs anew: only files under their
    // partial names can be taken back first.
    bool retry = engine_noted_stop() == StopCause::None;
    if (retry && !inputs_can_be_read_again()) {
        if (attached_picture_failed == AttachedPictureTrouble::None)
            av_log(nullptr, AV_LOG_ERROR, "The input's attached picture (cover art) cannot be converted, and the "
                                          "input cannot be read again without it; leave it out with -map 0:a.\n");
        retry = false;
    }
    for (int i = 0; i < nb_output_files; i++)
        retry &= output_files[i]->partial_path || !has_own_file(output_files[i]->ctx);
    if (attached_picture_failed != AttachedPictureTrouble::Final)
        attached_picture_failed = retry ? AttachedPictureTrouble::Retry : AttachedPictureTrouble::Final;
    return true;
}

bool limited_by_user(const OutFile *of, const OutStream *ost)
{
    return of->recording_time != NO_DURATION_LIMIT || of->start_time || of->size_limit != NO_SIZE_LIMIT ||
           ost->max_frames != INT64_MAX || of->shortest;
}

namespace {

// An output stream whose input gave decoded frames while not one packet of it
// reached the file lost its whole stream (an audio-only file from a recording
// with video, say). Streams limited by the user, and runs the user stopped, are
// not held to it.
void check_streams_reached_outputs(void)
{
    if (engine_noted_stop() != StopCause::None || run_lost_media)
        return;
    for (int i = 0; i < nb_output_streams; i++) {
        const OutStream *ost = output_streams[i];
        if (!ost->encoding_needed || ost->source_index < 0 || ost->packets_muxed)
            continue;
        const InStream *ist = input_streams[ost->source_index];
        const OutFile *of = output_files[ost->file_index];
        if (limited_by_user(of, ost) || of->write_error || !of->packets_written)
            continue;
        // A picture that decoded to nothing still leaves an empty track.
        if (!ist->frames_decoded && !note_attached_picture_failure(ost))
            continue;
        char text[256];
        snprintf(text, sizeof(text), "Output stream #%d:%d (%s) received nothing of its input stream #%d:%d",
                 ost->file_index, ost->index, av_get_media_type_string(ost->enc_ctx->codec_type),
                 ist->file_index, ist->st->index);
        note_lost_media(RunFailure::SourceUnreadable, 0, text);
    }
}

} // namespace

int settle_outputs(void)
{
    check_streams_reached_outputs();
    int status = run_lost_media ? -1 : 0;
    int64_t packets = 0;
    for (int i = 0; i < nb_output_files; i++) {
        OutFile *of = output_files[i];
        close_output(of);
        packets += of->packets_written;
        if (of->write_error) {
            char text[128];
            av_strerror(of->write_error, text, sizeof(text));
            av_log(nullptr, AV_LOG_ERROR, "Output file #%d '%s' could not be written completely: %s\n", i,
                   output_display_name(of), text);
            status = -1;
        }
    }
    if (nb_output_files > 0 && !packets) {
        av_log(nullptr, AV_LOG_ERROR, "No media reached any output file: the conversion failed.\n");
        // Nothing in the source could be decoded into the outputs.
        record_run_failure(RunFailure::SourceUnreadable, 0, "No media reached any output file");
        status = -1;
    }
    return status;
}

namespace {

// Fails the run for a file that is not where it was written any more (deleted,
// its folder deleted or renamed, replaced by another file meanwhile).
int vanished(OutFile *of, const char *path)
{
    char text[512];
    snprintf(text, sizeof(text), "The output file '%s' vanished while it was written (it or its folder was "
             "removed or moved)", path);
    av_log(nullptr, AV_LOG_ERROR, "%s.\n", text);
    record_run_failure(RunFailure::DestinationMissing, AVERROR(ENOENT), text);
    of->created = 0; // whatever is at that name now is not this run's to remove
    return -1;
}

bool is_written_file(const OutFile *of, const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 && uint64_t(st.st_dev) == of->written_dev && uint64_t(st.st_ino) == of->written_ino;
}

// Renames the partial file to the final name. A name that was free when the
// run began must still be free: two conversions that chose the same name (two
// batch runs into one folder) must not silently replace one another's file.
int move_into_place(OutFile *of)
{
    if (!of->final_was_free)
        return rename(of->partial_path, of->final_path);
    while (plat_rename_no_replace(of->partial_path, of->final_path) != 0) {
        if (errno != EEXIST || !observer_never_replaces())
            return -1;
        // Another conversion finished a file under this name meanwhile: this
        // one moves on to the next free name of the rule.
        const std::string next = next_free_converted_path(of->final_path);
        char *moved = next.empty() ? nullptr : av_strdup(next.c_str());
        if (!moved) {
            errno = next.empty() ? EEXIST : ENOMEM;
            return -1;
        }
        av_log(nullptr, AV_LOG_WARNING, "'%s' was taken during the conversion; the output is '%s'\n",
               of->final_path, moved);
        av_free(of->final_path);
        of->final_path = moved;
    }
    return 0;
}

} // namespace

int publish_outputs(void)
{
    // Every file is checked before any is renamed: a run either puts all its
    // files in place or none.
    int status = 0;
    for (int i = 0; i < nb_output_files; i++) {
        OutFile *of = output_files[i];
        if (of->partial_path && of->created && !is_written_file(of, of->partial_path))
            status = vanished(of, of->final_path);
    }
    if (status < 0)
        return status;
    for (int i = 0; i < nb_output_files; i++) {
        OutFile *of = output_files[i];
        if (!of->partial_path || !of->created)
            continue;
        if (move_into_place(of) != 0) {
            const int err = AVERROR(errno);
            char text[512], reason[128];
            if (err == AVERROR(EEXIST))
                snprintf(reason, sizeof(reason), "another file took that name during the conversion");
            else
                av_strerror(err, reason, sizeof(reason));
            snprintf(text, sizeof(text), "Could not put the finished output in place as '%s': %s",
                     of->final_path, reason);
            av_log(nullptr, AV_LOG_ERROR, "%s\n", text);
            record_run_failure(output_failure(err), err, text);
            status = -1;
            continue;
        }
        of->created = 0; // complete and in place: nothing to remove any more
        if (!is_written_file(of, of->final_path))
            status = vanished(of, of->final_path);
        else
            observe_output_placed(of->final_path);
    }
    return status;
}

int remove_created_outputs(void)
{
    int removed = 0;
    for (int i = 0; i < nb_output_files; i++) {
        OutFile *of = output_files[i];
        if (!of || !of->created)
            continue;
        AVFormatContext *oc = of->ctx;
        if (oc->pb)
            avio_closep(&oc->pb);
        const char *path = of->partial_path ? of->partial_path : local_file_path(oc->url);
        if (path && unlink(path) == 0) {
            av_log(nullptr, AV_LOG_INFO, "Removed the unusable output file '%s'.\n", path);
            removed++;
        }
        of->created = 0;
    }
    return removed;
}

void engine_cleanup_at_exit(void)
{
    // Outputs are still registered here only when a run ended the process half
    // way (a malformed time, a table that cannot grow): they are as unusable as
    // those of any failed run.
    remove_created_outputs();
    engine_cleanup();
}
