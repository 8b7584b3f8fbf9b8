// Entry and run state of the engine: ffmpeg_exec() runs one conversion from the
// argument vector to the last trailer, then releases every per-run record and
// empties the process-wide tables so the next call in the same process starts
// clean. ffmpeg_exec_observed() is the same run with a RunObserver and a
// RunOutcome (observe.cpp; stopping and signals in stop.cpp). The interaction on
// standard input is in keys.cpp.
//
// ffmpeg_exec() is called by the conversion worker and the command-line program.
#include "engine.h"
#include "ffmpeg_exec.h"
#include "observe.h"
#include "pool.h"

#include "platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// ---- process-wide run state -------------------------------------------------

InFile **input_files;
int nb_input_files;
InStream **input_streams;
int nb_input_streams;
OutFile **output_files;
int nb_output_files;
OutStream **output_streams;
int nb_output_streams;
Filtergraph **filtergraphs;
int nb_filtergraphs;

AVIOContext *progress_avio;
int64_t video_size, audio_size, subtitle_size, extra_size;
int nb_frames_dup, nb_frames_drop;
int run_quiet;
int run_failed;
int run_lost_media;
int leave_out_attached_pictures;
AttachedPictureTrouble attached_picture_failed;

uint8_t *subtitle_out;
FILE *vstats_file;
int64_t benchmark_clock;

namespace {

void discard_log(void *, int, const char *, va_list) {}

} // namespace

// ---- clean-up and reset -------------------------------------------------------

namespace {

void free_filtergraphs(void)
{
    for (int i = 0; i < nb_filtergraphs; i++) {
        Filtergraph *fg = filtergraphs[i];
        if (!fg)
            continue;
        avfilter_graph_free(&fg->graph);
        for (int j = 0; j < fg->nb_inputs; j++) {
            if (!fg->inputs[j])
                continue;
            av_freep(&fg->inputs[j]->name);
            av_freep(&fg->inputs[j]);
        }
        av_freep(&fg->inputs);
        for (int j = 0; j < fg->nb_outputs; j++) {
            GraphOutput *out = fg->outputs[j];
            if (!out)
                continue;
            avfilter_inout_free(&out->pending_pad);
            av_freep(&out->name);
            av_freep(&fg->outputs[j]);
        }
        av_freep(&fg->outputs);
        av_freep(&filtergraphs[i]);
    }
    av_freep(&filtergraphs);
}

void free_output_files(void)
{
    for (int i = 0; i < nb_output_files; i++) {
        OutFile *of = output_files[i];
        if (!of)
            continue;
        AVFormatContext *s = of->ctx;
        if (s && s->oformat && !(s->oformat->flags & AVFMT_NOFILE) && s->pb)
            avio_closep(&s->pb);
        avformat_free_context(s);
        av_dict_free(&of->opts);
        av_freep(&of->final_path);
        av_freep(&of->partial_path);
        av_freep(&output_files[i]);
    }
}

void free_output_streams(void)
{
    for (int i = 0; i < nb_output_streams; i++) {
        OutStream *ost = output_streams[i];
        if (!ost)
            continue;
        for (int j = 0; j < ost->nb_bsfs; j++)
            av_bsf_free(&ost->bsfs[j]);
        av_freep(&ost->bsfs);
        ost->nb_bsfs = 0;
        av_frame_free(&ost->filtered_frame);
        av_freep(&ost->forced_keyframes);
        av_freep(&ost->avfilter);
        av_freep(&ost->logfile_prefix);
        // Normally released when the outputs were finished; a run that failed
        // before that still owns them.
        av_freep(&ost->forced_kf_pts);
        av_dict_free(&ost->encoder_opts);
        if (ost->logfile)
            fclose(ost->logfile);
        avcodec_free_context(&ost->enc_ctx);
        av_freep(&output_streams[i]);
    }
}

void free_input_files(void)
{
    for (int i = 0; i < nb_input_files; i++) {
        if (!input_files[i])
            continue;
        avformat_close_input(&input_files[i]->ctx);
        av_freep(&input_files[i]);
    }
}

void free_input_streams(void)
{
    for (int i = 0; i < nb_input_streams; i++) {
        InStream *ist = input_streams[i];
        if (!ist)
            continue;
        av_frame_free(&ist->decoded_frame);
        av_dict_free(&ist->decoder_opts);
        // The decoder lets go of its pooled pictures before the pool is freed.
        avcodec_free_context(&ist->dec_ctx);
        free_frame_pool(ist->pool);
        ist->pool = nullptr;
        av_frame_free(&ist->sub2video.frame);
        av_freep(&ist->filters);
        av_freep(&input_streams[i]);
    }
}

} // namespace

void engine_cleanup(void)
{
    free_filtergraphs();
    av_freep(&subtitle_out);
    free_output_files();
    free_output_streams();
    free_input_files();
    free_input_streams();

    if (vstats_file) {
        fclose(vstats_file);
        vstats_file = nullptr;
    }
    av_freep(&vstats_filename);
    // Left open only by a run that ended before its final report.
    avio_closep(&progress_avio);

    av_freep(&input_streams);
    av_freep(&input_files);
    av_freep(&output_streams);
    av_freep(&output_files);

    release_option_state();
    plat_stdin_restore();
    avformat_network_deinit();

    if (received_signal)
        av_log(nullptr, AV_LOG_INFO, "Received signal %d: terminating.\n", int(received_signal));
}

void reset_engine_state(void)
{
    input_files = nullptr;
    nb_input_files = 0;
    input_streams = nullptr;
    nb_input_streams = 0;
    output_files = nullptr;
    nb_output_files = 0;
    output_streams = nullptr;
    nb_output_streams = 0;
    filtergraphs = nullptr;
    nb_filtergraphs = 0;
    progress_avio = nullptr;
    video_size = audio_size = subtitle_size = extra_size = 0;
    nb_frames_dup = nb_frames_drop = 0;
    run_quiet = 0;
    run_failed = 0;
    run_lost_media = 0;
}

// ---- the run ----------------------------------------------------------------------

void print_run_benchmark(int64_t start_user_time)
{
    int64_t used = plat_user_time_us() - start_user_time;
    printf("bench: utime=%0.3fs maxrss=%ikB\n", used / 1000000.0, int(plat_peak_memory_kib()));
}

namespace {

// What is left of the per-output-stream set-up once the outputs are finished.
void release_output_setup(void)
{
    for (int i = 0; i < nb_output_streams; i++) {
        OutStream *ost = output_streams[i];
        if (!ost)
            continue;
        if (ost->stream_copy && ost->enc_ctx) {
            av_freep(&ost->enc_ctx->extradata);
            ost->enc_ctx->extradata_size = 0;
        }
        if (ost->logfile) {
            fclose(ost->logfile);
            ost->logfile = nullptr;
        }
        if (ost->enc_ctx) {
            av_freep(&ost->enc_ctx->subtitle_header);
            ost->enc_ctx->subtitle_header_size = 0;
        }
        av_freep(&ost->forced_kf_pts);
        av_dict_free(&ost->encoder_opts);
    }
}

// Whether the files this run created go: always when it failed, and when it was
// stopped and the caller does not want what was made until then.
bool discard_outputs(int status)
{
    return status < 0 || (observer_discards_stopped_output() && engine_noted_stop() != StopCause::None);
}

int end_run(PerFileOptions *o, int status, RunOutcome *outcome)
{
    // Options written after the last file name have no file to go to.
    reset_file_options(o, 0);
    // A finished file goes under its final name; a failed run leaves no
    // half-written or empty output behind, not even under its partial name.
    bool discard = discard_outputs(status);
    if (!discard && publish_outputs() < 0) {
        status = -1;
        discard = true;
    }
    const bool removed = discard && remove_created_outputs() > 0;
    engine_cleanup();
    reset_engine_state();
    if (outcome)
        settle_outcome(outcome, status, removed);
    observe_begin(nullptr);
    // Last: a signal of this run goes on to the handler it was meant for.
    end_run_signals();
    return status;
}

} // namespace

int ffmpeg_exec(int argc, char **argv)
{
    return ffmpeg_exec_observed(argc, argv, nullptr, nullptr);
}

namespace {

// The usage line and where to read more, for a command line naming no input.
void show_short_usage(void)
{
    show_usage();
    av_log(nullptr, AV_LOG_WARNING, "Use -h to get full help or, even better, run 'man %s'\n", program_name);
}

int run_conversion(int argc, char **argv, const RunObserver *observer, RunOutcome *outcome)
{
    // Before any file is opened: none may become standard input, output or error.
    plat_fill_closed_standard_descriptors();
    observe_begin(observer);
    begin_run_signals();
    set_run_phase(RunPhase::Opening);
    PerFileOptions o;
    memset(&o, 0, sizeof(o));
    atexit(engine_cleanup_at_exit);
    reset_file_options(&o, 0);
    // A caller that changed its mind before the run began gets no work done.
    if (engine_stop_cause() != StopCause::None)
        return end_run(&o, -1, outcome);

    setvbuf(stderr, nullptr, _IONBF, 0);
    av_log_set_flags(AV_LOG_SKIP_REPEATED);
    early_log_setup(argc, argv, option_table);

    if (argc > 1 && !strcmp(argv[1], "-d")) {
        run_quiet = 1;
        av_log_set_callback(discard_log);
        argc--;
        argv++;
    }

    avdevice_register_all();
    avformat_network_init();
    show_banner(argc, argv, option_table);

    avformat_network_deinit();

    int idx = find_option_position(argc, argv, option_table, "cpuflags");
    if (idx && idx + 1 < argc)
        handle_cpuflags(nullptr, "cpuflags", argv[idx + 1]);

    note_named_inputs(argc, argv, option_table);
    if (parse_command_line(&o, argc, argv, option_table, add_output_file) < 0)
        return end_run(&o, -1, outcome);
    // A file that could not be opened as asked has already said why; when that
    // left no output at all, the run also says that it has none. A command line
    // without any input is explained, whatever else went wrong with it.
    const bool no_input = nb_input_files <= 0 && find_next_option(argc, argv, option_table, "i", 1) <= 0;
    if (run_failed || nb_output_files <= 0) {
        if (no_input)
            show_short_usage();
        else if (nb_output_files <= 0 && nb_input_files > 0)
            av_log(nullptr, AV_LOG_FATAL, "At least one output file must be specified\n");
        return end_run(&o, -1, outcome);
    }
    // Stopped while the files were opened: nothing was converted yet.
    if (engine_stop_cause() != StopCause::None)
        return end_run(&o, -1, outcome);

    int64_t run_start = plat_user_time_us();
    benchmark_clock = run_start;

    if (prepare_transcode() < 0) {
        release_output_setup();
        if (no_input) // an output without a source: most likely a command line gone wrong
            show_short_usage();
        return end_run(&o, -1, outcome);
    }

    if (stdin_enabled) {
        if (!run_quiet)
            plat_stdin_prepare();
        av_log(nullptr, AV_LOG_INFO, "Press [q] to stop, [?] for help\n");
    }

    // Failures inside the loop are reported there and do not change the status:
    // the outputs are still finished.
    set_run_phase(RunPhase::Looping);
    transcode_loop(av_gettime());
    // ... but an output that could not be written, or no media at all, is a failure.
    const int status = settle_outputs();

    release_output_setup();
    if (do_benchmark)
        print_run_benchmark(run_start);
    return end_run(&o, status, outcome);
}

} // namespace

int ffmpeg_exec_observed(int argc, char **argv, const RunObserver *observer, RunOutcome *outcome)
{
    leave_out_attached_pictures = 0;
    int status = run_conversion(argc, argv, observer, outcome);
    // A cover picture is no reason to lose the sound: a run that failed on its
    // attached picture is made again without it.
    if (status < 0 && attached_picture_failed == AttachedPictureTrouble::Retry) {
        av_log(nullptr, AV_LOG_WARNING, "The input's attached picture (cover art) cannot be converted: "
                                        "converting without it.\n");
        leave_out_attached_pictures = 1;
        status = run_conversion(argc, argv, observer, outcome);
        leave_out_attached_pictures = 0;
    }
    attached_picture_failed = AttachedPictureTrouble::None;
    return status;
}
