// What a run leaves behind: whether its output files were written completely,
// and the removal of the files a failed run created.
//
// A write that fails (disk full, file-size limit, I/O error, a trailer that could
// not be written, a close that could not flush) makes the file unusable, and a run
// whose outputs received no media at all produced nothing worth keeping; either
// way the caller must be told -1, never 0. The loop's muxing calls
// note_write_error(); ffmpeg_exec() calls settle_outputs() after the loop and
// remove_created_outputs() when the run ends with -1 (or was stopped by a caller
// who wants nothing of it). Each failure here is also recorded for the outcome.
#include "engine.h"
#include "observe.h"

#include <cstring>
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
           of->ctx->url, text);
    // Encoding the rest of the recording for a file that takes nothing is pointless.
    for (unsigned i = 0; i < of->ctx->nb_streams; i++)
        output_streams[of->first_stream + int(i)]->finished = 1;
}

int settle_outputs(void)
{
    int status = 0;
    int64_t packets = 0;
    for (int i = 0; i < nb_output_files; i++) {
        OutFile *of = output_files[i];
        close_output(of);
        packets += of->packets_written;
        if (of->write_error) {
            char text[128];
            av_strerror(of->write_error, text, sizeof(text));
            av_log(nullptr, AV_LOG_ERROR, "Output file #%d '%s' could not be written completely: %s\n", i,
                   of->ctx->url, text);
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
        const char *path = local_file_path(oc->url);
        if (path && unlink(path) == 0) {
            av_log(nullptr, AV_LOG_INFO, "Removed the unusable output file '%s'.\n", path);
            removed++;
        }
        of->created = 0;
    }
    return removed;
}
