// The main window's queue: several recordings converted in turn into the destination
// folder, the queue's lines in the loading box, its end, status and summary.
#include "TranscoderWin.h"

#include "ConversionOptions.h"
#include "ConversionTexts.h"
#include "ConverterMsgBox.h"
#include "TextIds.h"
#include "TextTable.h"
#include "TranscodeWorker.h"
#include "VelaBottomBar.h"
#include "VelaLabels.h"
#include "VelaLineEdit.h"
#include "VelaLoading.h"
#include "VelaStatusWidget.h"

#include <QDebug>
#include <QDir>
#include <QTimer>

QVector<ConverterMsgBox::ListEntry> TranscoderWin::SkippedEntries(const RecordingQueue &queue)
{
    QVector<ConverterMsgBox::ListEntry> entries;
    for (const QueuedRecording &recording : queue.Skipped())
        if (recording.listed)
            entries.append({ConversionTexts::Shown(FileNameOf(recording.source)),
                            ConversionTexts::SkippedReason(recording.skip)});
    return entries;
}

void TranscoderWin::StartQueue()
{
    // What the destination holds already is passed over: OK after a cancelled queue
    // goes on with the rest, and a stray Enter converts nothing twice.
    m_queue.Start();
    const int already = m_queue.NoteEarlierOutputs(
        [this](const QueuedRecording &recording) { return EarlierOutput(recording.source, OutputFolderOf(recording)); });
    if (already < m_queue.Size()) {
        BeginQueue(false);
        return;
    }
    AskConvertAgain(ConversionTexts::QueueAgainQuestion(m_queue.Size()), [this]() { BeginQueue(true); });
}

void TranscoderWin::BeginQueue(bool again)
{
    if (again)
        m_queue.Start();
    m_converting = true;
    m_queueRunning = true;
    m_stopAsked = false;
    m_outputPath.clear();
    m_choices = m_options->Choices();
    m_choices.mark_source = true;
    ShowChoiceNotes(QString());
    m_queue.SeekWaiting();
    m_queueClock.start();
    m_runClock.start();
    m_bottomBar->SlotShowLoading(ConversionTexts::ConvertingTitle(), 0);
    VelaLoadingWidget *box = m_loadingMask->LoadingWidget();
    box->SetProgressStyle(true);
    box->SetQueueStyle(true);
    m_loadingMask->ShowMask(true);
    StartQueueItem();
}

QString TranscoderWin::OutputFolderOf(const QueuedRecording &recording) const
{
    const QString destination = m_destinationEdit->text();
    return recording.subfolder.isEmpty() ? destination : destination + QLatin1Char('/') + recording.subfolder;
}

void TranscoderWin::StartQueueItem()
{
    for (;;) {
        QueuedRecording &recording = m_queue.Current();
        // A dropped folder's sub-folders are mirrored under the destination, so
        // nvr1/cam01.avi and nvr2/cam01.avi keep telling their cameras apart.
        const QString folder = OutputFolderOf(recording);
        if (!recording.subfolder.isEmpty() && !QDir().mkpath(folder))
            qDebug() << "Could not make the folder" << folder;
        const QString outputPath = FreeOutputPath(folder, FileNameOf(recording.source));
        if (!outputPath.isEmpty()) {
            recording.output = outputPath;
            qDebug().noquote() << outputPath;
            VelaLoadingWidget *box = m_loadingMask->LoadingWidget();
            box->SetText(ConversionTexts::ConvertingTitle());
            box->SetProgress(-1);
            ShowQueueProgress();
            m_worker->ClearStopRequest();
            emit SigTranscode(recording.source, outputPath, m_choices);
            return;
        }
        // Every numbered name is taken: this one fails, the queue goes on.
        qDebug() << "No free output name in" << folder << "for" << recording.source;
        m_queue.FinishNamesTaken();
        if (!m_queue.SeekWaiting()) {
            FinishQueue(false);
            return;
        }
    }
}

void TranscoderWin::ShowQueueProgress()
{
    VelaLoadingWidget *box = m_loadingMask->LoadingWidget();
    const int percent = m_queue.OverallPercent();
    box->SetQueueLine(ConversionTexts::QueueLine(m_queue.CurrentIndex() + 1, m_queue.Size(),
                                                 FileNameOf(m_queue.Current().source)));
    box->SetOverallProgress(percent);
    box->SetDetail(ConversionTexts::QueueOverall(percent, m_queue.RemainingUs(m_queueClock.nsecsElapsed() / 1000)));
}

void TranscoderWin::QueueRunEnded(const ConversionResult &result)
{
    const RunOutcome &outcome = result.outcome;
    m_queue.Finish(outcome);
    m_queue.NoteChoices(result);
    const QueuedRecording &recording = m_queue.Current();
    if (recording.state == QueuedRecording::State::Converted)
        m_outputPath = recording.output;
    else if (recording.state == QueuedRecording::State::Failed)
        qDebug("Failure: %s (%s)", run_failure_name(outcome.failure), outcome.error_text.c_str());
    // A stop asked for while this run was finishing still keeps the next from starting.
    if (outcome.end == RunEnd::Stopped || m_stopAsked) {
        FinishQueue(true);
        return;
    }
    if (!m_queue.SeekWaiting()) {
        FinishQueue(false);
        return;
    }
    StartQueueItem();
}

void TranscoderWin::FinishQueue(bool stopped)
{
    m_stopRepeat->stop();
    m_converting = false;
    m_queueRunning = false;
    DismissCloseQuestion();
    m_loadingMask->LoadingWidget()->SetQueueStyle(false);
    const int converted = m_queue.ConvertedCount();
    const int partial = m_queue.PartialCount();
    const int toConvert = m_queue.Size() - m_queue.AlreadyConvertedCount();
    ShowChoiceNotes(ConversionTexts::QueueNotes(m_choices, m_queue.KeptCount(), m_queue.EvidenceCount(),
                                                 m_queue.TimeShownCount(), converted));
    const QString text = QueueStatusText(stopped);
    AskAttention(text);
    // Leaving, the window shows no summary: no one would read it.
    const bool notRun = stopped && !m_queue.NotRun().isEmpty() && !m_closeConfirmed && !m_quitting;
    if (m_closeConfirmed || m_quitting)
        m_loadingMask->HideMask();
    else if (m_queue.FailedCount() > 0 || partial > 0 || m_queue.ListedSkippedCount() > 0 || MissingRecords() > 0 || notRun)
        ShowQueueSummary(stopped);
    else
        m_loadingMask->HideMask();

    if (!stopped && converted == toConvert && partial == 0 && m_queue.ListedSkippedCount() == 0)
        m_bottomBar->SlotShowSuccess(text, 0);
    else if (stopped && m_queue.FailedCount() == 0)
        m_bottomBar->SlotShowInfo(text, 0); // the user's own stop is no bad news
    else
        m_bottomBar->SlotShowWarning(text, 0);
    // Every output is in the destination folder, which a click opens.
    for (const QueuedRecording &recording : m_queue.Recordings()) {
        if (m_outputPath.isEmpty() && recording.state == QueuedRecording::State::AlreadyConverted)
            m_outputPath = recording.output;
    }
    const bool anyOutput = converted + m_queue.AlreadyConvertedCount() > 0;
    VelaStatusWidget *status = m_bottomBar->StatusWidget();
    status->SetClickable(anyOutput);
    status->setToolTip(anyOutput ? ConversionTexts::Shown(FolderOf(m_outputPath)) : QString());
}

QString TranscoderWin::QueueStatusText(bool stopped) const
{
    const int converted = m_queue.ConvertedCount();
    const int toConvert = m_queue.Size() - m_queue.AlreadyConvertedCount();
    QString text;
    if (stopped)
        text = ConversionTexts::QueueCancelled(converted, toConvert);
    else if (converted == toConvert)
        text = ConversionTexts::QueueAllConverted(converted);
    else
        text = ConversionTexts::QueueSomeConverted(converted, toConvert);
    text = ConversionTexts::WithPartial(text, m_queue.PartialCount());
    return ConversionTexts::WithAlready(text, m_queue.AlreadyConvertedCount());
}

void TranscoderWin::ShowQueueSummary(bool stopped)
{
    // Failures first, then files converted with problems, then the ones a stop left
    // unconverted, then files the searches passed over.
    QVector<ConverterMsgBox::ListEntry> failures, partial, notRun;
    for (const QueuedRecording &recording : m_queue.Recordings()) {
        const QString name = ConversionTexts::Shown(FileNameOf(recording.source));
        if (recording.state == QueuedRecording::State::Failed)
            failures.append({name, recording.namesTaken ? ConversionTexts::NamesTakenReason()
                                                        : ConversionTexts::FailureReason(recording.failure)});
        else if (recording.state == QueuedRecording::State::Converted && !recording.problems.empty())
            partial.append({name, ConversionTexts::PartialStatus(recording.problems)});
        if (m_choices.evidence && recording.state == QueuedRecording::State::Converted &&
            recording.evidencePath.isEmpty())
            partial.append({name, ConversionTexts::EvidenceMissingReason(recording.evidenceError)});
    }
    if (stopped) {
        for (const QString &source : m_queue.NotRun())
            notRun.append({ConversionTexts::Shown(FileNameOf(source)), ConversionTexts::NotRunReason()});
    }
    const QVector<ConverterMsgBox::ListEntry> skipped = SkippedEntries(m_queue);
    const int others = m_queue.Skipped().size() - m_queue.ListedSkippedCount();
    const int already = m_queue.AlreadyConvertedCount();
    QString message = ConversionTexts::QueueSummary(m_queue.ConvertedCount(), m_queue.Size() - already,
                                                    partial.isEmpty() && skipped.isEmpty(), stopped, already);
    if (others > 0)
        message = ConversionTexts::QueueOthers(others) + QLatin1Char('\n') + message;
    // How many pictures were kept and evidence records written, above the count.
    const QString notes = m_choiceNotes->FullText();
    if (!notes.isEmpty())
        message = notes + QLatin1Char('\n') + message;
    ShowBox(new ConverterMsgBox(this, message, failures + partial + notRun + skipped));
}

int TranscoderWin::MissingRecords() const
{
    if (!m_choices.evidence)
        return 0;
    return m_queue.ConvertedCount() - m_queue.EvidenceCount();
}
