// The recordings of a queue; see RecordingQueue.h.
#include "RecordingQueue.h"

#include "ConversionTexts.h"
#include "TextIds.h"
#include "TextTable.h"
#include "media_scan.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <string>
#include <vector>

namespace {

// One spelling per file, so that a file dropped twice, or reached through a link,
// is converted once.
QString IdentityOf(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

void AddFolder(const QString &folder, RecordingList *found, const std::function<bool()> &stopped)
{
    std::vector<std::string> files;
    std::vector<MediaProbe> probes;
    std::vector<SkippedFile> skipped;
    if (find_media_files(QFile::encodeName(folder).toStdString(), &files, &probes, stopped, &skipped) < 0)
        return;
    for (size_t i = 0; i < files.size(); ++i) {
        QueuedRecording recording;
        recording.source = QFile::decodeName(files[i].c_str());
        recording.durationUs = probes[i].duration_us;
        found->append(recording);
    }
    for (const SkippedFile &file : skipped) {
        QueuedRecording recording;
        recording.source = QFile::decodeName(file.path.c_str());
        recording.state = QueuedRecording::State::Skipped;
        recording.skip = file.reason;
        recording.listed = file.listed;
        found->append(recording);
    }
}

QString FileName(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

RecordingList RecordingQueue::Collect(const QStringList &paths, const std::function<bool()> &stopped)
{
    RecordingList found;
    for (const QString &path : paths) {
        if (path.isEmpty() || (stopped && stopped()))
            continue;
        if (QFileInfo(path).isDir()) {
            AddFolder(path, &found, stopped);
        } else {
            QueuedRecording recording;
            recording.source = path;
            found.append(recording);
        }
    }
    RecordingList recordings;
    QSet<QString> seen;
    for (const QueuedRecording &recording : found) {
        const QString identity = IdentityOf(recording.source);
        if (!seen.contains(identity)) {
            seen.insert(identity);
            recordings.append(recording);
        }
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
    recording.convertedUs = qMax<qint64>(0, progress.out_time_us);
    // The probed length and the time reached differ by a few microseconds either way:
    // the recording counts whole at its run's end, and never before.
    if (recording.durationUs > 0)
        recording.convertedUs = reachedEnd ? recording.durationUs : qMin(recording.convertedUs, recording.durationUs - 1);
}

void RecordingQueue::Finish(const RunOutcome &outcome)
{
    QueuedRecording &recording = Current();
    if (outcome.end == RunEnd::Completed && outcome.status == 0) {
        recording.state = QueuedRecording::State::Converted;
        recording.problems = outcome.problems;
        // Another program took the planned name meanwhile: the run wrote the next.
        if (!outcome.outputs.empty())
            recording.output = QFile::decodeName(outcome.outputs.front().c_str());
    } else if (outcome.end == RunEnd::Stopped) {
        recording.state = QueuedRecording::State::Stopped;
    } else {
        recording.state = QueuedRecording::State::Failed;
        recording.failure = outcome.failure == RunFailure::None ? RunFailure::Other : outcome.failure;
    }
}

void RecordingQueue::NoteChoices(const ConversionResult &result)
{
    QueuedRecording &recording = Current();
    recording.videoKept = result.plan.video_kept;
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

int RecordingQueue::FailedCount() const
{
    int count = 0;
    for (const QueuedRecording &recording : m_recordings)
        count += recording.state == QueuedRecording::State::Failed ? 1 : 0;
    return count;
}

double RecordingQueue::DoneFraction() const
{
    if (m_recordings.isEmpty())
        return 0.0;
    double knownSum = 0.0;
    int known = 0;
    for (const QueuedRecording &recording : m_recordings) {
        if (recording.durationUs > 0) {
            knownSum += double(recording.durationUs);
            ++known;
        }
    }
    // Unknown lengths weigh as much as the average known one; with none known,
    // every recording weighs the same.
    const double average = known > 0 ? knownSum / known : 1.0;
    double total = 0.0;
    double done = 0.0;
    for (const QueuedRecording &recording : m_recordings) {
        const double weight = recording.durationUs > 0 ? double(recording.durationUs) : average;
        total += weight;
        switch (recording.state) {
        case QueuedRecording::State::Converted:
        case QueuedRecording::State::AlreadyConverted:
        case QueuedRecording::State::Failed:
        case QueuedRecording::State::Stopped:
            done += weight;
            break;
        case QueuedRecording::State::Converting:
            if (recording.durationUs > 0)
                done += weight * qMin(1.0, double(recording.convertedUs) / double(recording.durationUs));
            break;
        case QueuedRecording::State::Waiting:
        case QueuedRecording::State::Skipped:
            break;
        }
    }
    return total > 0.0 ? done / total : 0.0;
}

int RecordingQueue::OverallPercent() const
{
    return qBound(0, int(DoneFraction() * 100.0), 100);
}

qint64 RecordingQueue::RemainingUs(qint64 elapsedUs) const
{
    const double fraction = DoneFraction();
    if (fraction <= 0.0 || elapsedUs <= 0)
        return -1;
    return qint64(double(elapsedUs) * (1.0 - fraction) / fraction);
}

int RecordingQueue::NoteEarlierOutputs(const std::function<QString(const QString &source)> &earlierOutput)
{
    for (QueuedRecording &recording : m_recordings) {
        if (recording.state != QueuedRecording::State::Waiting)
            continue;
        const QString output = earlierOutput(recording.source);
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
