// The main window's results: a run's outcome in the status line, the line under the
// choices, the failure box and the other message boxes, and the click on the result.
#include "TranscoderWin.h"

#include "ConversionTexts.h"
#include "ConverterMsgBox.h"
#include "DesktopNotice.h"
#include "TextIds.h"
#include "TextTable.h"
#include "VelaBottomBar.h"
#include "VelaLabels.h"
#include "VelaLoading.h"
#include "VelaStatusWidget.h"

#include <QApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QFile>
#include <QTimer>

namespace {

TranscoderWin::FolderOpener s_folderOpener = [](const QUrl &folder) { return QDesktopServices::openUrl(folder); };
// The urgency hint, and a desktop notification where the session has a bus that
// takes them.
TranscoderWin::AttentionHook s_attention = [](QWidget *window, const QString &text) {
    QApplication::alert(window);
    DesktopNotice::Send(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_NAME), text);
};
qint64 s_attentionAfterMsec = TranscoderWin::AttentionAfterMsec;

} // namespace

TranscoderWin::FolderOpener TranscoderWin::SetFolderOpener(FolderOpener opener)
{
    FolderOpener previous = std::move(s_folderOpener);
    s_folderOpener = std::move(opener);
    return previous;
}

void TranscoderWin::SlotConvertDone(ConversionResult Result)
{
    qDebug("ExitCode: %d", Result.outcome.status);
    TakeOutcome(Result);
}

void TranscoderWin::TakeOutcome(const ConversionResult &result)
{
    qDebug().noquote() << QString::fromStdString(plan_summary(result.plan, m_choices));
    if (m_queueRunning) {
        QueueRunEnded(result);
        return;
    }
    const RunOutcome &outcome = result.outcome;
    const bool joined = m_joining;
    m_stopRepeat->stop();
    m_converting = false;
    m_joining = false;
    // Another program took the planned name meanwhile: the run wrote the next.
    if (!outcome.outputs.empty())
        m_outputPath = QFile::decodeName(outcome.outputs.front().c_str());
    // What the close question asked about is over: the result shows as usual.
    DismissCloseQuestion();
    AskAttention(EndText(outcome));
    if (joined)
        ShowJoinResult(result);
    else
        ShowResult(outcome);
    // Only a file written has a picture kept, a record beside it or a time shown.
    if (outcome.end == RunEnd::Completed && outcome.status == 0) {
        const ConversionTexts::ChoiceNotes notes =
            ConversionTexts::ResultNotes(m_choices, result.plan, QFile::decodeName(result.evidence_path.c_str()),
                                         QString::fromStdString(result.evidence_error));
        ShowChoiceNotes(notes.text, notes.toolTip);
    }
}

void TranscoderWin::ShowChoiceNotes(const QString &text, const QString &toolTip)
{
    m_choiceNotes->setText(text);
    m_choiceNotes->setToolTip(toolTip);
}

void TranscoderWin::ShowResult(const RunOutcome &outcome)
{
    VelaStatusWidget *status = m_bottomBar->StatusWidget();
    if (outcome.end == RunEnd::Completed && outcome.status == 0) {
        const QString name = ConversionTexts::Shown(FileNameOf(m_outputPath));
        if (outcome.partial) {
            // The file plays, but it is not the whole recording: never shown as
            // plain complete.
            m_bottomBar->SlotShowWarning(ConversionTexts::PartialStatus(outcome.problems), 0);
            status->setToolTip(ConversionTexts::Shown(m_outputPath) + QLatin1Char('\n') +
                               ConversionTexts::ProblemList(outcome.problems));
        } else {
            m_bottomBar->SlotShowSuccess(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_WRITTEN_FILE).arg(name), 0);
            status->setToolTip(ConversionTexts::Shown(m_outputPath));
        }
        status->SetClickable(true);
        m_loadingMask->HideMask();
        return;
    }
    status->setToolTip(QString());
    if (outcome.end == RunEnd::Stopped) {
        // Ended early, whoever asked: the unfinished file is gone, and this is no failure.
        m_bottomBar->SlotShowInfo(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CANCELLED), 0);
        m_loadingMask->HideMask();
        return;
    }
    qDebug("Failure: %s (%s)", run_failure_name(outcome.failure), outcome.error_text.c_str());
    ShowFailure(ConversionTexts::FailureReason(outcome.failure));
}

void TranscoderWin::ShowFailure(const QString &reason)
{
    ShowMessageBox(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_FAILED) + QLatin1Char('\n') + reason);
    // The box is gone: the status line keeps a note of what failed.
    ShowFailureNote(reason);
}

void TranscoderWin::ShowFailureNote(const QString &reason)
{
    m_bottomBar->SlotShowWarning(ConversionTexts::FailedNote(reason), 0);
    VelaStatusWidget *status = m_bottomBar->StatusWidget();
    status->SetClickable(false);
    status->setToolTip(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_FAILED) + QLatin1Char('\n') + reason);
}

QString TranscoderWin::EndText(const RunOutcome &outcome) const
{
    if (outcome.end == RunEnd::Completed && outcome.status == 0)
        return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_WRITTEN_FILE).arg(ConversionTexts::Shown(FileNameOf(m_outputPath)));
    if (outcome.end == RunEnd::Stopped)
        return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CANCELLED);
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_FAILED);
}

bool TranscoderWin::WantsAttention(qint64 elapsedMsec, bool windowActive)
{
    return !windowActive && elapsedMsec >= s_attentionAfterMsec;
}

void TranscoderWin::AskAttention(const QString &text)
{
    if (WantsAttention(m_runClock.elapsed(), isActiveWindow()))
        s_attention(this, text);
}

TranscoderWin::AttentionHook TranscoderWin::SetAttentionHook(AttentionHook hook)
{
    AttentionHook previous = std::move(s_attention);
    s_attention = std::move(hook);
    return previous;
}

qint64 TranscoderWin::SetAttentionAfter(qint64 msec)
{
    const qint64 previous = s_attentionAfterMsec;
    s_attentionAfterMsec = msec;
    return previous;
}

void TranscoderWin::OnStatusClicked()
{
    if (m_outputPath.isEmpty())
        return;
    const QString path = FolderOf(m_outputPath);
    const QUrl folder = QUrl::fromLocalFile(path);
    if (s_folderOpener(folder))
        return;
    // No program opens folders here: say so, rather than nothing at all. The line
    // stays clickable for another try.
    qDebug() << "Could not open" << folder;
    m_bottomBar->SlotShowWarning(ConversionTexts::FolderNotOpened(path), 0);
    VelaStatusWidget *status = m_bottomBar->StatusWidget();
    status->setToolTip(ConversionTexts::Shown(path));
    status->SetClickable(true);
}

void TranscoderWin::ShowMessageBox(const QString &text)
{
    ShowBox(new ConverterMsgBox(this, text));
}

void TranscoderWin::ShowBox(ConverterMsgBox *box)
{
    box->setModal(true);
    m_bottomBar->SlotClearStatus(0);
    connect(box, &QObject::destroyed, m_loadingMask, [this]() { m_loadingMask->HideMask(); });
    m_loadingMask->ShowMask();
    box->exec();
}
