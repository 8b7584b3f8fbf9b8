#include "ConversionTexts.h"

#include "TextIds.h"
#include "TextTable.h"
#include "printable.h"
#include "queue_share.h"

#include <QLocale>
#include <QStringList>

namespace ConversionTexts {
namespace {

constexpr qint64 MicrosecondsPerSecond = 1000000;

// Between the parts of the detail line: a middle dot with room around it.
const QString PartSeparator = QStringLiteral("  \u00b7  ");

QString Percent(int percent)
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_PERCENT).arg(percent);
}

QString Speed(double speed)
{
    // One decimal is what a user can compare; the locale chooses its separator.
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_SPEED).arg(QLocale().toString(speed, 'f', 1));
}

// Whether an event tells the end of a run that converted all of its source: its last
// event, unless the run was asked to stop (a stopped run also sends one).
bool ReachedEnd(const RunProgress &progress, bool stopAsked)
{
    return progress.last && !stopAsked;
}

int PercentDone(const RunProgress &progress, bool stopAsked)
{
    return run_percent(progress.out_time_us, progress.duration_us, ReachedEnd(progress, stopAsked));
}

// The wall-clock time still needed at the speed so far; -1 before the speed is known.
qint64 RemainingMicroseconds(const RunProgress &progress, bool stopAsked)
{
    if (progress.duration_us <= 0 || progress.speed <= 0)
        return -1;
    if (ReachedEnd(progress, stopAsked))
        return 0;
    const qint64 left = qMax<qint64>(0, progress.duration_us - progress.out_time_us);
    return qint64(double(left) / progress.speed);
}

} // namespace

QString ConvertingTitle()
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING) + QStringLiteral("...");
}

QString Shown(const QString &text)
{
    return QString::fromStdString(printable_text(text.toStdString()));
}

QString Words(const QueueWords &words)
{
    return QString::fromStdString(fill_arguments(TextById(words.id).toStdString(), words.args));
}

QString ClockText(qint64 microseconds)
{
    return QString::fromStdString(media_clock_text(microseconds));
}

ProgressView DescribeProgress(const RunProgress &progress, bool stopAsked)
{
    ProgressView view;
    view.percent = PercentDone(progress, stopAsked);
    view.title = ConvertingTitle();
    QStringList parts;
    if (view.percent >= 0)
        view.title += QLatin1Char(' ') + Percent(view.percent);
    else
        parts.append(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_CONVERTED)
                         .arg(ClockText(progress.out_time_us)));
    parts.append(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_ELAPSED).arg(ClockText(progress.elapsed_us)));
    const qint64 remaining = RemainingMicroseconds(progress, stopAsked);
    if (remaining >= 0)
        parts.append(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_LEFT).arg(ClockText(remaining)));
    if (progress.speed > 0)
        parts.append(Speed(progress.speed));
    view.detail = parts.join(PartSeparator);
    return view;
}

QString FailureReason(RunFailure failure)
{
    return Words(failure_words(failure));
}

QString ProblemText(const RunProblem &problem)
{
    return Words(problem_words(problem));
}

QString PartialStatus(const std::vector<RunProblem> &problems)
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_PARTIAL)
        .arg(problems.empty() ? QString() : ProblemText(problems.front()));
}

QString ProblemList(const std::vector<RunProblem> &problems)
{
    QStringList lines;
    for (const RunProblem &problem : problems)
        lines.append(ProblemText(problem));
    return lines.join(QLatin1Char('\n'));
}

QString SkippedReason(SkipReason reason)
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_SKIPPED).arg(Words(skip_words(reason)));
}

QString NamesTakenReason()
{
    return Words(names_taken_words());
}

QString QueueLine(int number, int total, const QString &fileName)
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_POSITION).arg(number).arg(total) + PartSeparator
           + Shown(fileName);
}

QString QueueOverall(int percent, qint64 remainingUs)
{
    QString text = TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_OVERALL).arg(percent);
    if (remainingUs >= 0)
        text += PartSeparator + TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_LEFT).arg(ClockText(remainingUs));
    return text;
}

QString QueueAllConverted(int count)
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_ALL_CONVERTED).arg(count);
}

QString QueueSomeConverted(int converted, int total)
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_SOME_CONVERTED).arg(converted).arg(total);
}

QString QueueSummary(int converted, int total, bool failuresOnly, bool cancelled, int already)
{
    return WithAlready(cancelled ? QueueCancelled(converted, total) : QueueSomeConverted(converted, total), already)
           + QLatin1Char('\n')
           + TextById(failuresOnly ? TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_NOT_CONVERTED
                                   : TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_LOOK_AT);
}

QString WithPartial(const QString &status, int partial)
{
    if (partial <= 0)
        return status;
    return status + PartSeparator + TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_PARTIAL).arg(partial);
}

QString QueueOthers(int count)
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_OTHERS).arg(count);
}

QString QueueCancelled(int converted, int total)
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_CANCELLED).arg(converted).arg(total);
}

QString AgainQuestion(const QString &sourceName, const QString &outputName)
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_END_AGAIN_QUESTION).arg(Shown(sourceName), Shown(outputName));
}

QString QueueAgainQuestion(int count)
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_END_QUEUE_AGAIN_QUESTION).arg(count);
}

QString AgainButton()
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_END_AGAIN_YES);
}

QString WithAlready(const QString &status, int already)
{
    if (already <= 0)
        return status;
    return status + PartSeparator + TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_END_ALREADY_CONVERTED).arg(already);
}

QString NotRunReason()
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_END_NOT_RUN);
}

QString FailedNote(const QString &reason)
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_END_FAILED_NOTE).arg(reason);
}

QString FolderNotOpened(const QString &folder)
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_END_FOLDER_NOT_OPENED).arg(Shown(folder));
}

ChoiceNotes ResultNotes(const ConversionChoices &choices, const ConversionPlan &plan, const QString &evidencePath,
                        const QString &evidenceError)
{
    QStringList texts, tips;
    if (choices.keep_video) {
        if (plan.video_kept) {
            texts.append(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_PICTURE_KEPT));
        } else {
            texts.append(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_PICTURE_CONVERTED));
            if (!plan.keep_refusal.empty())
                tips.append(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_PICTURE_WHY)
                                .arg(Shown(QString::fromStdString(plan.keep_refusal))));
        }
    }
    if (choices.evidence) {
        if (!evidencePath.isEmpty()) {
            texts.append(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_EVIDENCE_WRITTEN));
            tips.append(Shown(evidencePath));
        } else {
            texts.append(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_EVIDENCE_MISSING));
            tips.append(EvidenceMissingReason(evidenceError));
        }
    }
    if (choices.time_in_picture != ConversionChoices::TimeInPicture::Off) {
        if (plan.time_shown) {
            texts.append(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_TIME_SHOWN));
        } else {
            texts.append(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_TIME_NOT_SHOWN));
            if (!plan.time_refusal.empty())
                tips.append(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_TIME_WHY)
                                .arg(Shown(QString::fromStdString(plan.time_refusal))));
        }
    }
    return {texts.join(PartSeparator), tips.join(QLatin1Char('\n'))};
}

QString QueueNotes(const ConversionChoices &choices, int kept, int records, int timeShown, int converted)
{
    QStringList texts;
    if (choices.keep_video)
        texts.append(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_PICTURES_KEPT)
                         .arg(kept)
                         .arg(converted));
    if (choices.evidence)
        texts.append(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_EVIDENCE_WRITTEN)
                         .arg(records)
                         .arg(converted));
    if (choices.time_in_picture != ConversionChoices::TimeInPicture::Off)
        texts.append(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_TIME_QUEUE).arg(timeShown).arg(converted));
    return texts.join(PartSeparator);
}

QString EvidenceMissingReason(const QString &error)
{
    if (error.isEmpty())
        return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_EVIDENCE_MISSING);
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_EVIDENCE_WHY).arg(Shown(error));
}

QString JoinedStatus(int joined, const QString &fileName)
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_END_JOINED).arg(joined).arg(Shown(fileName));
}

QString JoinedPartialStatus(const std::vector<RunProblem> &problems)
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_END_JOINED_PARTIAL)
        .arg(problems.empty() ? QString() : ProblemText(problems.front()));
}

int JoinedCount(const ConversionResult &result)
{
    int leftOut = 0;
    for (const RunProblem &problem : result.outcome.problems)
        leftOut += problem.kind == RunProblemKind::SegmentLeftOut ? 1 : 0;
    return int(result.plan.joined.size()) - leftOut;
}

} // namespace ConversionTexts
