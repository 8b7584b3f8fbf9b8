// Routines the transcode stages share, and only they:
//   setup.cpp    prepare_transcode(): parameters, encoders, decoders, headers, mapping
//   source_rate.cpp whether a source's picture rate varies (set-up asks)
//   loop.cpp     the main loop, reading input packets, timestamp repair, end of stream
//   decode.cpp   decoding into the filtergraphs, sub-pictures, stream copy of packets
//   encode.cpp   pulling filtered frames, frame-rate sync, encoding, muxing, draining
//   progress.cpp the status line, the final summary, video statistics
// Tests of the loop include it to reach the frame-rate synchronisation directly.
#pragma once

#include "engine.h"

// ---- h264_level.cpp ------------------------------------------------------------

// Raises the "level" encoder option of an H.264 stream to the lowest level that
// holds its picture size, frame rate and reference frames, warning when it does.
// Set-up calls it before the encoder opens.
void fit_h264_level(OutStream *ost);

// The level_idc (9 for "1b") fit_h264_level() writes for a stream asked to be
// `asked_idc`: that level when it holds a width x height picture (`interlaced`:
// coded in macroblock pairs) at `frame_rate` pictures a second (0: unknown) with
// `dpb_frames` reference frames kept, else the lowest level above it that does;
// `asked_idc` itself when no level does or it names none.
int h264_level_holding(int asked_idc, int width, int height, bool interlaced, double frame_rate, int dpb_frames);

// The size a width x height picture at `frame_rate` (0: unknown; beyond 300 a
// time base rather than a rate, so unknown too) is scaled down to so that H.264
// level 5.1 holds it (frame size, frame side and macroblocks a second), keeping
// its shape with even sides; true when it must be scaled,
// false (and the size unchanged) when level 5.1 holds it as it is.
bool h264_fit_to_level_51(int width, int height, double frame_rate, int *fit_width, int *fit_height);

// For an H.264 output stream whose size the engine's own simple graph decides
// (no -s, no filters of the user's): when its picture is beyond level 5.1,
// warns, sets the encoder's size to the fitting one and builds the graph again
// to scale to it. 1 when scaled, 0 when not, or a negative error. Set-up calls
// it once the encoder's size and rate are set, before fit_h264_level().
int scale_to_h264_level(OutStream *ost);

// ---- decode.cpp ----------------------------------------------------------------

// Decodes one packet of `ist` (nullptr: the input ended, flush the decoder) into
// its filtergraphs or encoders, and copies it to the outputs that copy the stream.
// Returns a negative error when the decoder refused the data.
int decode_input_packet(InStream *ist, const AVPacket *pkt);

// Pushes the sub-picture canvas of every subtitle stream of `ifile` that feeds a
// video filter again, so the filter that overlays it can go on (pkt is a packet
// of stream `st` of that file).
void sub2video_heartbeat(InFile *ifile, const AVStream *st, int64_t pts);

// At the end of `ist`'s input: when its last frames could not be given to its
// filtergraphs (a change they cannot follow), the outputs it feeds lost the end
// of their stream and the run fails (note_lost_media).
void check_stream_reached_its_end(InStream *ist);

// Frees the graph of `fg` after a failed rebuild so nothing is fed to it again,
// and finishes the output streams it fed.
void abandon_filtergraph(Filtergraph *fg);

// ---- encode.cpp ----------------------------------------------------------------

// Pulls every frame the output sinks hold and encodes it. 0 or a negative error.
int drain_sinks(void);

// Encodes one filtered video frame (pts in encoder time base) as often as the
// frame-rate synchronisation says, and muxes the packets.
void encode_video_frame(OutStream *ost, AVFrame *frame);

// Encodes one decoded subtitle for `ost` and muxes it.
void encode_subtitle(OutFile *of, OutStream *ost, AVSubtitle *sub);

// The last checks (timestamp order, frame limit), the bitstream filters and the
// interleaved write. pkt is in the muxer stream's time base; it is consumed.
void mux_packet(OutFile *of, OutStream *ost, AVPacket *pkt);

// Sends the end of stream through every output's bitstream filters and muxes what
// they still hold.
void flush_bitstream_filters(void);

// Encodes nothing until every encoder has given out all it holds.
void drain_encoders(void);

// False (and the stream finished) once the output reached its recording time.
bool within_recording_time(OutStream *ost);

// Frame-rate synchronisation of one filtered video frame whose timestamp is
// frame_pts (encoder time base): how many times to encode it (0 drops it).
// Counts duplicates and drops and may move ost->sync_opts, as the method says.
int video_frames_to_emit(OutStream *ost, double frame_pts);

// The video sync method in force for the muxer `fmt` (the option, or the one the
// muxer's timestamp flags call for).
int effective_video_sync(const AVOutputFormat *fmt);

// ---- source_rate.cpp -------------------------------------------------------------

// Whether the constant-rate synchronisation would drop or repeat any of `count`
// pictures for rate reasons: `periods` are their times in frame periods, in
// order. The first picture's start, and gaps longer than `periods_in_gap` (kept
// as gaps), do not count.
bool constant_rate_would_change(const double *periods, size_t count, double periods_in_gap);

// Whether the pictures of `ist` come at a varying rate: converted at the
// constant rate `rate` (encoder time base 1/rate), some of them would be
// dropped or repeated. Judged on the timestamps of the stream's first part.
bool source_rate_varies(const InStream *ist, AVRational rate);

// ---- loop.cpp --------------------------------------------------------------------

// How much of the recording's time this run's loop closed up (forward jumps in
// the timestamps of formats with discontinuities), in microseconds.
int64_t timeline_closed_us(void);

// ---- progress.cpp --------------------------------------------------------------

// One line of the video statistics file for the packet just encoded.
void write_video_stats(OutStream *ost, int frame_size);

// Process-wide QP histogram, exposed for tests.
extern int qp_histogram[52];
