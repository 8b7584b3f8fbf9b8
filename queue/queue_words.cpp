// The reasons' words; see queue_words.h.
#include "queue_words.h"

#include "EnglishTexts.h"
#include "TextIds.h"

namespace {

QueueWords words(unsigned int id, std::vector<std::string> args = {})
{
    return QueueWords{id, std::move(args)};
}

std::string clock(int64_t us)
{
    return media_clock_text(us);
}

} // namespace

QueueWords failure_words(RunFailure failure)
{
    switch (failure) {
    case RunFailure::SourceUnreadable:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_FAILURE_SOURCE_UNREADABLE);
    case RunFailure::SourceMissing:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_FAILURE_SOURCE_MISSING);
    case RunFailure::SourceIsFolder:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_FAILURE_SOURCE_IS_FOLDER);
    case RunFailure::SourceNoStream:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_FAILURE_SOURCE_NO_STREAM);
    case RunFailure::DestinationMissing:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_FAILURE_DESTINATION_MISSING);
    case RunFailure::DestinationNotWritable:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_FAILURE_DESTINATION_NOT_WRITABLE);
    case RunFailure::DiskFull:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_FAILURE_DISK_FULL);
    case RunFailure::OutputNameRefused:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_FAILURE_NAME_TOO_LONG);
    case RunFailure::EncoderRefused:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_FAILURE_ENCODER_REFUSED);
    case RunFailure::None:
    case RunFailure::Other:
        break;
    }
    return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_FAILURE_OTHER);
}

QueueWords names_taken_words()
{
    return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_FAILURE_NAMES_TAKEN);
}

QueueWords problem_words(const RunProblem &problem)
{
    switch (problem.kind) {
    case RunProblemKind::ShortOfDeclaredLength:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_PROBLEM_SHORT, {clock(problem.a), clock(problem.b)});
    case RunProblemKind::ReadingStoppedEarly:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_PROBLEM_READING_STOPPED,
                     {std::to_string(problem.b > 0 ? problem.a * 100 / problem.b : 0)});
    case RunProblemKind::DamagedPackets:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_PROBLEM_DAMAGED, {std::to_string(problem.a)});
    case RunProblemKind::DecodeErrors:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_PROBLEM_DECODE, {std::to_string(problem.a)});
    case RunProblemKind::StreamLeftOut:
        return words(problem.detail == "audio" ? TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_PROBLEM_AUDIO_LEFT_OUT
                                               : TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_PROBLEM_VIDEO_LEFT_OUT);
    case RunProblemKind::SegmentLeftOut:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_PROBLEM_SEGMENT_LEFT_OUT, {problem.detail});
    case RunProblemKind::TimelineGap:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_PROBLEM_TIME_GAP,
                     {clock(problem.a), clock(problem.b)});
    }
    return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_FAILURE_OTHER);
}

QueueWords skip_words(SkipReason reason)
{
    switch (reason) {
    case SkipReason::NotMedia:
        break;
    case SkipReason::Unreadable:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_SKIPPED_UNREADABLE);
    case SkipReason::SpecialFile:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_SKIPPED_SPECIAL);
    case SkipReason::TooSlow:
        return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_SKIPPED_TOO_SLOW);
    }
    return words(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_SKIPPED_NOT_MEDIA);
}

std::string english_words(const QueueWords &words)
{
    return fill_arguments(english_text(words.id), words.args);
}

std::string fill_arguments(const std::string &text, const std::vector<std::string> &args)
{
    std::string filled;
    for (size_t i = 0; i < text.size(); i++) {
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        const size_t number = size_t(next - '0');
        if (text[i] == '%' && next >= '1' && next <= '9' && number <= args.size()) {
            filled += args[number - 1];
            i++;
        } else {
            filled += text[i];
        }
    }
    return filled;
}
