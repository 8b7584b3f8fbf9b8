// The main window's join: the recordings of the queue made into one file in the
// destination folder by the worker (TranscodeWorker::DoJoin), with the progress of
// a single conversion, and what the status line says about the joined file.
#include "TranscoderWin.h"

#include "ConversionOptions.h"
#include "ConversionTexts.h"
#include "TranscodeWorker.h"
#include "VelaBottomBar.h"
#include "VelaLineEdit.h"
#include "VelaLoading.h"
#include "VelaStatusWidget.h"

#include <QDebug>

#include <cerrno>

void TranscoderWin::StartJoin()
{
    // A joined file is always made anew: what the destination holds of single
    // recordings says nothing about this order of them.
    m_converting = true;
    m_joining = true;
    m_stopAsked = false;
    m_outputPath.clear();
    m_choices = m_options->Choices();
    m_runClock.start();
    ShowChoiceNotes(QString());
    m_worker->ClearStopRequest();
    emit SigJoin(QueuedSources(), m_destinationEdit->text(), m_choices);
    ShowRunStarting();
}

void TranscoderWin::SlotJoinNamed(QString Output)
{
    qDebug().noquote() << Output;
    m_outputPath = Output;
}

void TranscoderWin::ShowJoinResult(const ConversionResult &result)
{
    const RunOutcome &outcome = result.outcome;
    if (m_outputPath.isEmpty() && outcome.end == RunEnd::Failed && outcome.failure == RunFailure::Other &&
        outcome.error == -EEXIST) {
        // Every numbered joined name is taken: nothing was run.
        ShowFailure(ConversionTexts::NamesTakenReason());
        return;
    }
    if (outcome.end != RunEnd::Completed || outcome.status != 0) {
        ShowResult(outcome);
        return;
    }
    VelaStatusWidget *status = m_bottomBar->StatusWidget();
    if (outcome.partial) {
        // The file plays, but a recording is missing from it or a gap was closed:
        // never shown as a plain join.
        m_bottomBar->SlotShowWarning(ConversionTexts::JoinedPartialStatus(outcome.problems), 0);
        status->setToolTip(ConversionTexts::Shown(m_outputPath) + QLatin1Char('\n') +
                           ConversionTexts::ProblemList(outcome.problems));
    } else {
        m_bottomBar->SlotShowSuccess(
            ConversionTexts::JoinedStatus(ConversionTexts::JoinedCount(result), FileNameOf(m_outputPath)), 0);
        status->setToolTip(ConversionTexts::Shown(m_outputPath));
    }
    status->SetClickable(true);
    m_loadingMask->HideMask();
}
