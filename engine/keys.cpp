// Interaction on standard input while a run is in its loop: single keys (quit,
// verbosity, QP histogram, packet dumps, debug modes, help) and commands sent
// to the filtergraphs ("c", "C").
//
// handle_keyboard() is called by the transcode loop; poll_key() also by the
// command reader here.
#include "engine.h"

#include "platform.h"

#include <cctype>
#include <climits>
#include <cstdio>

namespace {

int64_t last_keyboard_poll; // microseconds; kept across runs
int pending_key = -1;       // a byte read ahead by the debug-value reader

} // namespace

// ---- standard input -------------------------------------------------------------

namespace {

// Next byte of standard input: the byte read ahead first, then the platform's.
int next_input_byte(bool wait)
{
    if (pending_key >= 0) {
        int key = pending_key;
        pending_key = -1;
        return key;
    }
    return wait ? plat_stdin_wait_byte() : plat_stdin_poll_byte();
}

// Reads a signed decimal number the way scanf("%d") does: leading white space is
// skipped and the first byte after the number stays for the next reader.
bool read_decimal(int *value)
{
    int c;
    do
        c = next_input_byte(true);
    while (c >= 0 && isspace(c));
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = next_input_byte(true);
    }
    if (c < 0 || !isdigit(c)) {
        pending_key = c;
        return false;
    }
    long long v = 0;
    for (; c >= 0 && isdigit(c); c = next_input_byte(true))
        if (v <= INT_MAX)
            v = v * 10 + (c - '0');
    pending_key = c;
    if (negative)
        v = -v;
    *value = int(v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : v);
    return true;
}

void apply_debug_value(int debug)
{
    for (int i = 0; i < nb_input_streams; i++)
        if (input_streams[i]->dec_ctx)
            input_streams[i]->dec_ctx->debug = debug;
    for (int i = 0; i < nb_output_streams; i++)
        if (output_streams[i]->enc_ctx)
            output_streams[i]->enc_ctx->debug = debug;
    if (debug)
        av_log_set_level(AV_LOG_DEBUG);
    fprintf(stderr, "debug=%d\n", debug);
}

// Debug modes the cycle skips: the coefficient dump and the two picture
// visualisations of older library versions (0x2000, 0x4000).
constexpr int DEBUG_VIS_QP_OLD = 0x2000;
constexpr int DEBUG_VIS_MB_TYPE_OLD = 0x4000;
constexpr int DEBUG_CYCLE_SKIPPED = FF_DEBUG_DCT_COEFF | DEBUG_VIS_QP_OLD | DEBUG_VIS_MB_TYPE_OLD;

int next_debug_mode(void)
{
    int debug = 0;
    if (nb_input_streams > 0 && input_streams[0]->dec_ctx)
        debug = int(unsigned(input_streams[0]->dec_ctx->debug) << 1);
    if (!debug)
        debug = 1;
    while (debug & DEBUG_CYCLE_SKIPPED)
        debug = int(unsigned(debug) << 1);
    return debug;
}

void send_filter_command(int key)
{
    fprintf(stderr, "\nEnter command: <target> <time> <command>[ <argument>]\n");
    char line[4096];
    size_t n = 0;
    int k;
    while ((k = poll_key()) != '\n' && k != '\r' && n < sizeof(line) - 1) {
        if (k > 0) {
            line[n++] = char(k);
        } else if (plat_stdin_at_end()) {
            break; // nothing more will come: do not wait forever
        } else {
            av_usleep(10000);
        }
    }
    line[n] = '\0';

    char target[64], command[256], arg[256] = "";
    double time = 0;
    int fields = 0;
    if (k <= 0 || (fields = sscanf(line, "%63[^ ] %lf %255[^ ] %255[^\n]", target, &time,
                                   command, arg)) < 3) {
        av_log(nullptr, AV_LOG_ERROR,
               "Parse error, at least 3 arguments were expected, only %d given in string '%s'\n",
               k <= 0 ? 0 : (fields < 0 ? 0 : fields), line);
        return;
    }
    av_log(nullptr, AV_LOG_DEBUG, "Processing command target:%s time:%f command:%s arg:%s",
           target, time, command, arg);
    for (int i = 0; i < nb_filtergraphs; i++) {
        Filtergraph *fg = filtergraphs[i];
        if (!fg->graph)
            continue;
        if (time < 0) {
            char reply[4096] = "";
            int ret = avfilter_graph_send_command(fg->graph, target, command, arg, reply,
                                                  sizeof(reply),
                                                  key == 'c' ? AVFILTER_CMD_FLAG_ONE : 0);
            fprintf(stderr, "Command reply for stream %d: ret:%d res:%s\n", fg->index, ret,
                    reply);
        } else {
            avfilter_graph_queue_command(fg->graph, target, command, arg, 0, time);
        }
    }
}

const char keyboard_help[] = "key    function\n"
                             "?      show this help\n"
                             "+      increase verbosity\n"
                             "-      decrease verbosity\n"
                             "c      Send command to filtergraph\n"
                             "D      cycle through available debug modes\n"
                             "h      dump packets/hex press to cycle through the 3 states\n"
                             "q      quit\n"
                             "s      Show QP histogram\n";

} // namespace

int poll_key(void)
{
    return next_input_byte(false);
}

int handle_keyboard(int64_t now)
{
    if (received_nb_signals)
        return AVERROR_EXIT;
    if (now - last_keyboard_poll < 100000 || run_quiet)
        return 0;
    int key = poll_key();
    last_keyboard_poll = now;

    switch (key) {
    case 'q':
        return AVERROR_EXIT;
    case '+':
        av_log_set_level(av_log_get_level() + 10);
        break;
    case '-':
        av_log_set_level(av_log_get_level() - 10);
        break;
    case 's':
        qp_hist ^= 1;
        break;
    case 'h':
        if (do_hex_dump)
            do_hex_dump = do_pkt_dump = 0;
        else if (do_pkt_dump)
            do_hex_dump = 1;
        else
            do_pkt_dump = 1;
        av_log_set_level(AV_LOG_DEBUG);
        break;
    case 'c':
    case 'C':
        send_filter_command(key);
        break;
    case 'd': {
        int debug = 0;
        if (!read_decimal(&debug))
            fprintf(stderr, "error parsing debug value\n");
        apply_debug_value(debug);
        break;
    }
    case 'D':
        apply_debug_value(next_debug_mode());
        break;
    case '?':
        fputs(keyboard_help, stderr);
        break;
    default:
        break;
    }
    return 0;
}

