// Run-time records of the engine and the process-wide tables that hold them.
//
// One run of ffmpeg_exec() fills the tables (inputs, outputs, filtergraphs), works
// on them and releases them in engine_cleanup(); reset_engine_state() then empties
// them so the next run in the same process starts clean. Every engine file may
// read and write these records; only run.cpp frees them.
//
// Times are signed 64-bit microseconds unless a stream time base is named;
// AV_NOPTS_VALUE marks an absent time.
#pragma once

#include "av.h"
#include "options.h"

#include <csignal>
#include <cstdint>
#include <cstdio>

struct InStream;
struct OutStream;
struct Filtergraph;
struct FramePool;
enum class RunFailure; // ffmpeg_exec.h

// ---- filtergraphs -----------------------------------------------------------

struct GraphInput {
    AVFilterContext *filter; // buffer source
    InStream *ist;
    Filtergraph *graph;
    char *name; // filter it feeds, plus ":" and the pad name when it has several inputs
};

struct GraphOutput {
    AVFilterContext *filter; // buffer sink ("buffersink" / "abuffersink")
    OutStream *ost;
    Filtergraph *graph;
    char *name;
    // Output pad of a complex graph that no output stream takes yet (its name is
    // the label); released once an output stream is bound to it.
    AVFilterInOut *pending_pad;
    // Sizes the picture is padded up to multiples of, for encoders of subsampled
    // chroma (0: no padding); set when the graph first gave an odd picture.
    int pad_width_step, pad_height_step;
};

struct Filtergraph {
    int index;
    const char *description; // "filter_complex" text; nullptr for a simple graph
    AVFilterGraph *graph;    // nullptr until first configured
    GraphInput **inputs;
    int nb_inputs;
    GraphOutput **outputs;
    int nb_outputs;
};

// ---- inputs -----------------------------------------------------------------

struct InFile {
    AVFormatContext *ctx;
    int eof_reached;
    int again; // last read asked to try again
    int warned_stream_count;
    int first_stream; // index of its first InStream in input_streams
    int64_t ts_offset;
    int stream_count;
    int realtime_read;
};

// Sub-picture canvas of a subtitle stream that feeds a video filter input.
struct SubPictureCanvas {
    AVFrame *frame;
    int64_t last_pts;
    int64_t end_pts;
    int w, h;
};

struct InStream {
    int file_index;
    AVStream *st;
    int discard;         // 1 while no output selected the stream
    int decoding_needed; // number of outputs that decode it
    AVCodecContext *dec_ctx; // owned decoder context
    const AVCodec *dec;
    AVDictionary *decoder_opts;
    AVFrame *decoded_frame;

    double ts_scale;
    AVRational forced_framerate; // "r" given for the input
    int top_field_first;
    int fix_sub_duration;

    int64_t start; // wall-clock start, for rate emulation
    int64_t dts, next_dts;
    int64_t pts, next_pts;
    int saw_first_ts;
    int showed_multi_packet_warning;
    int wrap_correction_done;

    // Frame parameters last seen; a change reconfigures the filtergraphs.
    int resample_width, resample_height, resample_pix_fmt;
    int resample_sample_fmt, resample_sample_rate, resample_channels;
    uint64_t resample_channel_layout;

    GraphInput **filters;
    int nb_filters;

    int dr1; // decoder pictures come from pool
    FramePool *pool;

    // Frames decoded so far, and those the filtergraphs could not take since the
    // last one they took: a stream whose frames stop reaching its outputs before
    // its input ends has lost the rest (decode.cpp).
    int64_t frames_decoded;
    int64_t frames_refused;
    // The frame parameters a graph rebuild failed for (frames like them are
    // dropped; the graphs keep serving the parameters they had); valid when set.
    struct {
        int set;
        int width, height, pix_fmt;
        int sample_fmt, sample_rate, channels;
        uint64_t channel_layout;
    } refused;
    // Microseconds taken off every timestamp of a stream that starts far from
    // the file's other streams, so it plays along with them (loop.cpp).
    int64_t ts_rebase;

    struct {
        int got_output;
        int ret;
        AVSubtitle subtitle;
    } prev_sub;
    SubPictureCanvas sub2video;
};

// ---- outputs ----------------------------------------------------------------

struct OutFile {
    AVFormatContext *ctx;
    AVDictionary *opts;
    int first_stream;
    int64_t recording_time; // NO_DURATION_LIMIT when unlimited
    int64_t start_time;
    uint64_t size_limit;    // NO_SIZE_LIMIT when unlimited
    int shortest;
    // What became of the file: the packets the muxer took, the first error of
    // writing it (a packet, the trailer or the close), and whether this run
    // created it, so that a failed run can remove it again.
    int64_t packets_written;
    int write_error;
    int created;
    // A regular file is written under a hidden partial name in the same folder
    // and renamed to its final name only once complete (publish_outputs), so a
    // file under the final name is never a cut-off one. Both nullptr for
    // outputs written directly (devices, pipes, other protocols). The device
    // and inode of the partial file tell whether it is still the one written.
    char *final_path;
    char *partial_path;
    uint64_t written_dev, written_ino;
    // No file had the final name when the run began: nobody agreed to replace
    // one, so a file another program puts there meanwhile is not overwritten.
    int final_was_free;
};

constexpr int MAX_MAPPED_CHANNELS = 32;

struct OutStream {
    int file_index;
    int index;        // index in the output format context
    int source_index; // InStream index, or -1
    AVStream *st;
    AVCodecContext *enc_ctx; // owned encoder context (also holds stream-copy parameters)
    const AVCodec *enc;
    InStream *sync_ist;
    int encoding_needed;
    int stream_copy;
    AVDictionary *encoder_opts;

    // Bitstream filter chain, in order. Allocated (av_bsf_alloc) when the stream is
    // created but NOT initialised: set-up fills par_in (the stream parameters, or
    // the previous filter's par_out) and time_base_in of each and calls
    // av_bsf_init() in chain order.
    AVBSFContext **bsfs;
    int nb_bsfs;

    int frame_number;
    int64_t max_frames;
    int64_t sync_opts; // next output timestamp in encoder time base
    // The source's rate varies (source_rate.cpp): every picture is encoded once
    // at its own time, in a time base fine enough to keep them apart.
    int follows_source_times;
    int64_t first_pts;
    int64_t last_mux_dts; // dts of the last packet written, in stream time base
    int64_t mux_end_us;   // end of the last packet written (microseconds), for reports
    int64_t packets_muxed; // packets the muxer took for this stream

    // What the encoder said about its last packet (quality statistics side data).
    struct {
        int have;         // 0 until a packet carried statistics
        int quality;      // lambda (QP x 118)
        int pict_type;
        int error_count;
        uint64_t error[4]; // sum of squared errors per plane, when computed
    } coded;

    AVRational frame_rate;
    int force_fps;
    int top_field_first;
    float frame_aspect_ratio;
    int keep_pix_fmt;

    char *forced_keyframes;
    int64_t *forced_kf_pts;
    int forced_kf_count;
    int forced_kf_index;

    char *logfile_prefix;
    FILE *logfile;

    char *avfilter; // simple filtergraph description
    GraphOutput *filter;
    AVFrame *filtered_frame;

    int copy_initial_nonkeyframes;
    int copy_prior_start;

    int64_t sws_flags;
    int dither_method;
    double dither_scale;

    int audio_channels_map[MAX_MAPPED_CHANNELS];
    int audio_channels_mapped;

    // Set for streams made from "attach": the file's bytes are already in both
    // enc_ctx->extradata and st->codecpar (codec_type attachment).
    const char *attachment_filename;
    int finished;
    int unavailable;
};

// ---- process-wide run state -------------------------------------------------

extern InFile **input_files;
extern int nb_input_files;
extern InStream **input_streams;
extern int nb_input_streams;
extern OutFile **output_files;
extern int nb_output_files;
extern OutStream **output_streams;
extern int nb_output_streams;
extern Filtergraph **filtergraphs;
extern int nb_filtergraphs;

extern AVIOContext *progress_avio; // whoever closes it sets it back to nullptr
extern int64_t video_size, audio_size, subtitle_size, extra_size;
extern int nb_frames_dup, nb_frames_drop;
extern int run_quiet; // "-d" as first argument
// Set when a file named on the command line could not be opened as asked (an output
// that would replace an input, a failed output open, ...). Parsing goes on, but the
// run then ends with -1 instead of working on a half-registered output.
extern int run_failed;
// Set when media was lost on the way during the loop (an encoder or filtergraph
// failed, a stream's frames stopped reaching its output): the outputs are still
// closed, but the run ends with -1 and removes them (note_lost_media).
extern int run_lost_media;

// Attached pictures (cover art): when one of them cannot be converted the run
// is made again without them (leave_out_attached_pictures set for it), unless
// the run wrote somewhere it cannot take back (a pipe, a device) or was stopped.
enum class AttachedPictureTrouble { None, Retry, Final };
extern AttachedPictureTrouble attached_picture_failed;
extern int leave_out_attached_pictures;
// Notes that output stream `ost` failed (setup or no packet at all); true when
// its source is an attached picture.
bool note_attached_picture_failure(const OutStream *ost);

// The last termination signal of the run in progress and how many arrived; both
// start at 0 with every run (stop.cpp; the other ways to stop are in observe.h).
extern volatile sig_atomic_t received_signal;
extern volatile sig_atomic_t received_nb_signals;

extern uint8_t *subtitle_out; // subtitle encoding buffer
extern FILE *vstats_file;     // opened at the first statistics line, closed by engine_cleanup
// Process user time (microseconds) at the last benchmark mark; set at the start
// of every run.
extern int64_t benchmark_clock;

// Handler of SIGINT, SIGTERM and SIGHUP while a run is in progress: records the signal and
// wakes the run's thread, never ends the process.
void on_termination_signal(int sig);

// Interrupt callback given to every format context: true on a second signal, and
// on any stop while the run opens its files or the loop reads input.
int engine_interrupt_cb(void *unused);
extern const AVIOInterruptCB interrupt_callback;

// Logs "Assertion %s failed at %s:%d\n" at panic level and aborts.
#define ENGINE_ASSERT(cond)                                                           \
    do {                                                                              \
        if (!(cond)) {                                                                \
            av_log(nullptr, AV_LOG_PANIC, "Assertion %s failed at %s:%d\n", #cond,     \
                   __FILE__, __LINE__);                                               \
            abort();                                                                  \
        }                                                                             \
    } while (0)

// ---- stages, one file each -----------------------------------------------

// run.cpp
void engine_cleanup(void);
void reset_engine_state(void);
// Prints the "bench:" line with the user time since start_user_time.
void print_run_benchmark(int64_t start_user_time);

// keys.cpp
// Reacts to one key of standard input (at most every 100 ms); AVERROR_EXIT asks
// the loop to end.
int handle_keyboard(int64_t now);
int poll_key(void); // next key 0-255, or -1

// filters.cpp
Filtergraph *create_simple_graph(InStream *ist, OutStream *ost);
int build_filtergraph(Filtergraph *fg);
// Configures a built graph; when an encoder needs its odd picture padded, builds
// the graph again with the padding. 0 or a negative error.
int finish_filtergraph(Filtergraph *fg);
int attach_graph_output(Filtergraph *fg, GraphOutput *ofilter, AVFilterInOut *out);
int input_feeds_graph(Filtergraph *fg, InStream *ist);
enum AVPixelFormat pick_encoder_pixel_format(AVCodecContext *enc_ctx, const AVCodec *codec,
                                             enum AVPixelFormat target);
void pick_encoder_sample_format(AVCodecContext *enc_ctx, const AVCodec *codec);

// setup.cpp
int prepare_transcode(void);

// loop.cpp
int transcode_loop(int64_t timer_start); // main loop, end-of-stream flush and drain
void finish_output_stream(OutStream *ost);

// progress.cpp
void report_progress(int is_last, int64_t timer_start, int64_t cur_time);
void periodic_report(int64_t timer_start, int64_t cur_time);
void benchmark_mark(const char *fmt, ...);

// info.cpp
void show_banner(int argc, char **argv, const OptionEntry *table);
void show_usage(void);

// input.cpp
// How far a second probe reads into a file whose first probe left a picture or
// sound stream without parameters: a minute of media, and at most this many
// bytes (a minute of a 1080p camera at 8 Mbit/s).
constexpr int64_t LONG_PROBE_US = 60 * int64_t(AV_TIME_BASE);
constexpr int64_t LONG_PROBE_BYTES = 64 << 20;
const AVCodec *find_codec_by_name(const char *name, enum AVMediaType type, int encoder);
// Gives an audio decoder context without a channel layout the default layout for
// its channel count. Returns 1 when the context has a layout afterwards, 0 when
// none could be guessed. Logs nothing: callers decide what to say.
int guess_input_channel_layout(InStream *ist);
// Opens the file of `ic` once more, under the same format and the same guard,
// for a look at its packets that leaves `ic` where it is. Only files can be
// read again; 0, or a negative error (nothing opened).
int open_input_again(const AVFormatContext *ic, AVFormatContext **again);

// output.cpp
// Remembers the input names of the command line about to be parsed, so that no
// output, wherever it is named, replaces one of them.
void note_named_inputs(int argc, char **argv, const OptionEntry *table);
// Asks (or refuses) before an existing file is written over; 0 when it may be
// written, a negative error when it must be left alone.
int check_overwrite(const char *filename);
// The local path a URL names ("file:" prefix removed), or nullptr when it goes
// through another protocol.
const char *local_file_path(const char *url);

// outcome.cpp
// Whether options cut `ost` of `of` short on purpose: a length, a start or a
// size limit of the output, a frame limit of the stream, or "-shortest".
bool limited_by_user(const OutFile *of, const OutStream *ost);
// The output's name as the user gave it (its final name while it is written
// under a partial one).
const char *output_display_name(const OutFile *of);
// Records the first write error of `of` (logged once) and finishes its streams.
void note_write_error(OutFile *of, int err);
// After the loop: closes every output file; 0 when each was written completely and
// media reached at least one of them, else -1 (said why).
int settle_outputs(void);
// Media was lost on the way: logs `text` (as an error), records `failure` for
// the outcome, ends every output stream (nothing more is worth encoding) and
// makes the run end with -1.
void note_lost_media(RunFailure failure, int error, const char *text);
// After settle_outputs() of a run that keeps its files: checks that each file
// written under its partial name is still the one written, then renames it to
// its final name. 0, or -1 when one vanished or could not be renamed (said why).
int publish_outputs(void);
// Removes the files this run created (for runs that end with -1, and stopped
// runs whose caller discards them); returns how many were removed.
int remove_created_outputs(void);
// Registered to run at process exit: removes the files of a run that ended the
// process, then releases everything (engine_cleanup).
void engine_cleanup_at_exit(void);
