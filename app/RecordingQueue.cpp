// The recordings of a queue; see RecordingQueue.h.
#include "RecordingQueue.h"

#include "ConversionTexts.h"
#include "TextIds.h"
#include "TextTable.h"
#include "media_scan.h"
#include "queue_share.h"
#include "recording_search.h"

#include <QFile>
#include <QFileInfo>

#include <string>
#include <vector>

namespace {

QString FileName(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QueuedRecording::State StateOf(QueueState state)
{
    switch (state) {
    case QueueState::Waiting:
        break;
    case QueueState::Running:
        return QueuedRecording::State::Converting;
    case QueueState::Converted:
    case QueueState::Partial:
        return QueuedRecording::State::Converted;
    case QueueState::Failed:
        return QueuedRecording::State::Failed;
    case QueueState::Stopped:
        return QueuedRecording::State::Stopped;
    }
    return QueuedRecording::State::Waiting;
}

QueueState ShareStateOf(const QueuedRecording &recording)
{
    switch (recording.state) {
    case QueuedRecording::State::Converting:
        return QueueState::Running;
    case QueuedRecording::State::Converted:
        return recording.problems.empty() ? QueueState::Converted : QueueState::Partial;
    case QueuedRecording::State::AlreadyConverted:
        return QueueState::Converted; // its turn is over: done in the overall share
    case QueuedRecording::State::Failed:
        return QueueState::Failed;
    case QueuedRecording::State::Stopped:
        return QueueState::Stopped;
    case QueuedRecording::State::Waiting:
    case QueuedRecording::State::Skipped:
        break;
    }
    return QueueState::Waiting;
}

} // namespace

RecordingList RecordingQueue::Collect(const QStringList &paths, const std::function<bool()> &stopped)
{
    std::vector<std::string> inputs;
    for (const QString &path : paths)
        inputs.push_back(QFile::encodeName(path).toStdString());
    // Files named directly are not probed here: their runs tell their lengths.
    const RecordingSearch search = find_recordings(inputs, false, stopped);
    RecordingList recordings;
    for (const FoundRecording &found : search.recordings) {
        QueuedRecording recording;
        recording.source = QFile::decodeName(found.source.c_str());
        recording.durationUs = found.duration_us;
        recording.subfolder = QFile::decodeName(mirrored_folder(found, false).c_str());
        recordings.append(recording);
    }
    for (const SkippedFile &file : search.skipped) {
        QueuedRecording recording;
        recording.source = QFile::decodeName(file.path.c_str());
        recording.state = QueuedRecording::State::Skipped;
        recording.skip = file.reason;
        recording.listed = file.listed;
        recordings.append(recording);
    }
    return recordings;
}

void RecordingQueue::Set(const RecordingList &recordings)
{
    m_recordings.clear();
    m_skipped.clear();
    for (const QueuedRecording &recording : recordings)
        (recording.state == QueuedRecording::State::Skipped ? m_skipped : m_recordings).append(recording);
    m_current = 0;
}

const RecordingList &RecordingQueue::Skipped() const
{
    return m_skipped;
}

int RecordingQueue::ListedSkippedCount() const
{
    int count = 0;
    for (const QueuedRecording &recording : m_skipped)
        count += recording.listed ? 1 : 0;
    return count;
}

void RecordingQueue::Clear()
{
    Set(RecordingList());
}

int RecordingQueue::Size() const
{
    return m_recordings.size();
}

bool RecordingQueue::IsQueue() const
{
    return m_recordings.size() > 1 || (!m_recordings.isEmpty() && ListedSkippedCount() > 0);
}

const RecordingList &RecordingQueue::Recordings() const
{
    return m_recordings;
}

QString RecordingQueue::FieldText() const
{
    if (m_recordings.isEmpty())
        return QString();
    if (m_recordings.size() == 1)
        return ConversionTexts::Shown(m_recordings.first().source);
    // One multi-argument call: a "%2" in the file name stays as it is.
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_SOURCE)
        .arg(ConversionTexts::Shown(FileName(m_recordings.first().source)), QString::number(m_recordings.size() - 1));
}

QString RecordingQueue::ToolTip() const
{
    QStringList sources;
    for (const QueuedRecording &recording : m_recordings)
        sources.append(ConversionTexts::Shown(recording.source));
    return sources.join(QLatin1Char('\n'));
}

void RecordingQueue::Start()
{
    for (QueuedRecording &recording : m_recordings) {
        recording.output.clear();
        recording.convertedUs = 0;
        recording.state = QueuedRecording::State::Waiting;
        recording.failure = RunFailure::None;
        recording.namesTaken = false;
        recording.problems.clear();
        recording.videoKept = false;
        recording.timeShown = false;
        recording.evidencePath.clear();
        recording.evidenceError.clear();
    }
    m_current = 0;
}

int RecordingQueue::CurrentIndex() const
{
    return m_current;
}

QueuedRecording &RecordingQueue::Current()
{
    return m_recordings[m_current];
}

void RecordingQueue::NoteProgress(const RunProgress &progress, bool reachedEnd)
{
    QueuedRecording &recording = Current();
    recording.state = QueuedRecording::State::Converting;
    if (progress.duration_us > 0)
        recording.durationUs = progress.duration_us;
    recording.convertedUs = run_done_us(progress.out_time_us, recording.durationUs, reachedEnd);
}

void RecordingQueue::Finish(const RunOutcome &outcome)
{
    QueuedRecording &recording = Current();
    recording.state = StateOf(state_after_run(outcome));
    if (recording.state == QueuedRecording::State::Converted) {
        recording.problems = outcome.problems;
        // Another program took the planned name meanwhile: the run wrote the next.
        if (!outcome.outputs.empty())
            recording.output = QFile::decodeName(outcome.outputs.front().c_str());
    } else if (recording.state == QueuedRecording::State::Failed) {
        recording.failure = outcome.failure == RunFailure::None ? RunFailure::Other : outcome.failure;
    }
}

void RecordingQueue::NoteChoices(const ConversionResult &result)
{
    QueuedRecording &recording = Current();
    recording.videoKept = result.plan.video_kept;
    recording.timeShown = result.plan.time_shown;
    recording.evidencePath = QFile::decodeName(result.evidence_path.c_str());
    recording.evidenceError = QString::fromStdString(result.evidence_error);
}

void RecordingQueue::FinishNamesTaken()
{
    QueuedRecording &recording = Current();
    recording.state = QueuedRecording::State::Failed;
    recording.failure = RunFailure::Other;
    recording.namesTaken = true;
}

bool RecordingQueue::Advance()
{
    if (m_current + 1 >= m_recordings.size())
        return false;
    ++m_current;
    return true;
}

int RecordingQueue::ConvertedCount() const
{
    int count = 0;
    for (const QueuedRecording &recording : m_recordings)
        count += recording.state == QueuedRecording::State::Converted ? 1 : 0;
    return count;
}

int RecordingQueue::PartialCount() const
{
    int count = 0;
    for (const QueuedRecording &recording : m_recordings)
        count += recording.state == QueuedRecording::State::Converted && !recording.problems.empty() ? 1 : 0;
    return count;
}

int RecordingQueue::KeptCount() const
{
    int count = 0;
    for (const QueuedRecording &recording : m_recordings)
        count += recording.state == QueuedRecording::State::Converted && recording.videoKept ? 1 : 0;
    return count;
}

int RecordingQueue::EvidenceCount() const
{
    int count = 0;
    for (const QueuedRecording &recording : m_recordings)
        count += recording.state == QueuedRecording::State::Converted && !recording.evidencePath.isEmpty() ? 1 : 0;
    return count;
}

int RecordingQueue::TimeShownCount() const
{
    int count = 0;
    for (const QueuedRecording &recording : m_recordings)
        count += recording.state == QueuedRecording::State::Converted && recording.timeShown ? 1 : 0;
    return count;
}

int RecordingQueue::FailedCount() const
{
    int count = 0;
    for (const QueuedRecording &recording : m_recordings)
        count += recording.state == QueuedRecording::State::Failed ? 1 : 0;
    return count;
}

std::vector<QueueShare> RecordingQueue::Shares() const
{
    std::vector<QueueShare> shares;
    for (const QueuedRecording &recording : m_recordings)
        shares.push_back({recording.durationUs, recording.convertedUs, ShareStateOf(recording)});
    return shares;
}

int RecordingQueue::OverallPercent() const
{
    return queue_percent(Shares());
}

qint64 RecordingQueue::RemainingUs(qint64 elapsedUs) const
{
    return queue_time_left_us(Shares(), elapsedUs);
}

int RecordingQueue::NoteEarlierOutputs(const std::function<QString(const QueuedRecording &recording)> &earlierOutput)
{
    for (QueuedRecording &recording : m_recordings) {
        if (recording.state != QueuedRecording::State::Waiting)
            continue;
        const QString output = earlierOutput(recording);
        if (output.isEmpty())
            continue;
        recording.state = QueuedRecording::State::AlreadyConverted;
        recording.output = output;
    }
    return AlreadyConvertedCount();
}

int RecordingQueue::AlreadyConvertedCount() const
{
    int count = 0;
    for (const QueuedRecording &recording : m_recordings)
        count += recording.state == QueuedRecording::State::AlreadyConverted ? 1 : 0;
    return count;
}

bool RecordingQueue::SeekWaiting()
{
    for (int index = m_current; index < m_recordings.size(); ++index) {
        if (m_recordings[index].state == QueuedRecording::State::Waiting) {
            m_current = index;
            return true;
        }
    }
    return false;
}

QStringList RecordingQueue::NotRun() const
{
    QStringList sources;
    for (const QueuedRecording &recording : m_recordings) {
        if (recording.state == QueuedRecording::State::Waiting || recording.state == QueuedRecording::State::Stopped ||
            recording.state == QueuedRecording::State::Converting)
            sources.append(recording.source);
    }
    return sources;
}
