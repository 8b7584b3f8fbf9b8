// Entry point of the transcoding engine.
//
// ffmpeg_exec() takes an argument vector in the style of the FFmpeg command line
// (argv[0] is a program name and is not read), performs one complete conversion on
// the calling thread and returns 0 when the run reached its end, or -1 when option
// parsing, the output check or the transcode set-up failed. The engine keeps its
// state in process-wide tables: one run at a time per process. argv is neither
// freed nor kept.
#pragma once

int ffmpeg_exec(int argc, char **argv);

// Asks the run in progress to stop as if "q" had been pressed: the loop ends at its
// next turn, the outputs are finished with their trailers and the run returns 0.
// Safe to call from any thread (the converter window calls it from the GUI thread
// while the run is on the worker thread). Every run clears the request when it
// starts, so a request made between runs does not stop the next one.
void ffmpeg_request_stop(void);
