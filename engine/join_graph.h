// The engine's words for a join that plan_join (join.h) has ordered: either
// every picture converted through one filter graph, or, when every segment's
// picture can be kept and they are all coded alike, the pictures copied through
// a segment list of the join's own making with only the sound converted.
// Used by join.cpp and the join tests.
#pragma once

#include "join.h"

#include <string>
#include <vector>

// What the joined file's picture and sound become.
struct JoinTarget {
    bool picture = false, sound = false;
    int width = 0, height = 0;
    std::string rate = "25";
    int sample_rate = 0;
    std::string layout;
    ConversionChoices::TimeInPicture time = ConversionChoices::TimeInPicture::Off;
};

// The name a segment is told by in problems and reasons: its file's name.
std::string segment_name(const std::string &path);

// Why the pictures of the `joined` segments (in order) cannot be copied
// unchanged into one file; "" when they can: each one's picture could be kept
// on its own (JoinSegment::keep_refusal), each is in a container that opens no
// other file, each is coded as the first one is (JoinSegment::picture_params)
// and each name can be written into the segment list.
std::string kept_join_refusal(const std::vector<const JoinSegment *> &joined);

// The segment list the kept pictures are read through, as a "data:" URL (no
// file is written): each segment by its absolute path, pinned to the container
// its look found and to local files, with the length it fills in the joined
// file (its own and the gap kept after it).
std::string segment_list_url(const std::vector<const JoinSegment *> &joined);

// The words between "ffmpeg" and the output options: inputs, filter graph and
// stream maps. Converted: one input per segment, every picture fitted to the
// target. Kept: the segment list (`list_url`) for the pictures, then one input
// per segment with sound, each segment's sound filling exactly the length its
// picture fills.
std::vector<std::string> converted_join_words(const std::vector<const JoinSegment *> &joined,
                                              const JoinTarget &target);
std::vector<std::string> kept_join_words(const std::vector<const JoinSegment *> &joined, const JoinTarget &target,
                                         const std::string &list_url);
