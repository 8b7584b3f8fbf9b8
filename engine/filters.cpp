// Filtergraphs (placeholder: not built yet).
#include "engine.h"

Filtergraph *create_simple_graph(InStream *, OutStream *) { return nullptr; }
int build_filtergraph(Filtergraph *) { return AVERROR(ENOSYS); }
int attach_graph_output(Filtergraph *, GraphOutput *, AVFilterInOut *) { return AVERROR(ENOSYS); }
int input_feeds_graph(Filtergraph *, InStream *) { return 0; }
enum AVPixelFormat pick_encoder_pixel_format(AVCodecContext *, const AVCodec *, enum AVPixelFormat target) { return target; }
void pick_encoder_sample_format(AVCodecContext *, const AVCodec *) {}
