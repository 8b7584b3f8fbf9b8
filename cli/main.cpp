// The engine's command-line program: runs one conversion with the arguments it was
// given, the way the converter window does, and exits 0 when the run completed or
// was ended with the "q" key, 1 otherwise. A run ended by SIGINT or SIGTERM still
// finishes its file, but a script must not take that file for a whole one: the
// engine raises the signal again once the file is done, which ends the program by
// the signal's default action, and should the signal be ignored the status is 1.
#include "ffmpeg_exec.h"

int main(int argc, char **argv)
{
    RunOutcome outcome;
    if (ffmpeg_exec_observed(argc, argv, nullptr, &outcome) != 0)
        return 1;
    return outcome.end == RunEnd::Stopped && outcome.stop == StopCause::Signal ? 1 : 0;
}
