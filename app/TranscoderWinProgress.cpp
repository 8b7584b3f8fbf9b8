// The main window's progress box and its ends: progress events, Cancel and Esc, the
// stop request, the close question and the termination signals.
#include "TranscoderWin.h"

#include "ConversionTexts.h"
#include "ConverterMsgBox.h"
#include "TextIds.h"
#include "TextTable.h"
#include "TranscodeWorker.h"
#include "VelaLoading.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QTimer>

namespace {

// Exit status of a program ended by a signal it handled, as shells report one that
// did not: 128 + the signal's number.
constexpr int SignalExitBase = 128;

TranscoderWin::QuitHook s_quitHook = [](int exitCode) { QCoreApplication::exit(exitCode); };

} // namespace

void TranscoderWin::SlotProgress(RunProgress Progress)
{
    if (!m_converting)
        return;
    // Every stop the window asks for sets m_stopAsked; the engine's own (a signal)
    // ends the program anyway.
    const ConversionTexts::ProgressView view = ConversionTexts::DescribeProgress(Progress, m_stopAsked);
    VelaLoadingWidget *box = m_loadingMask->LoadingWidget();
    box->SetText(view.title);
    box->SetProgress(view.percent);
    if (m_queueRunning) {
        m_queue.NoteProgress(Progress, Progress.last && !m_stopAsked);
        ShowQueueProgress();
        return;
    }
    box->SetDetail(view.detail);
}

void TranscoderWin::OnCancelRequested()
{
    if (m_collecting && !m_collectStopped) {
        qDebug() << "Folder search cancelled by the user";
        m_collectStopped = true;
        m_worker->RequestStop();
        return;
    }
    if (!m_converting || m_stopRepeat->isActive())
        return;
    qDebug() << "Conversion cancelled by the user";
    StopConverting();
    // Further presses are ignored while the run winds down (the button keeps the
    // focus: disabled, it would hand it to a covered field).
    m_stopRepeat->start();
}

void TranscoderWin::StopConverting()
{
    m_stopAsked = true;
    m_worker->RequestStop();
}

void TranscoderWin::SlotTerminate(int Signal)
{
    qDebug("Quitting on signal %d", Signal);
    m_quitting = true;
    // The engine has stopped the run already when the signal came during it; this
    // covers one that came just before, and keeps a queue from starting another.
    // The thread is joined as the window goes.
    if (m_converting)
        StopConverting();
    else if (m_collecting)
        m_worker->RequestStop(); // a long folder search must not hold up the quit
    s_quitHook(SignalExitBase + Signal);
}

void TranscoderWin::AskStopAndClose()
{
    // Open, not exec(): the queue goes on behind the question, and a run that ends
    // meanwhile takes the question away (DismissCloseQuestion).
    auto *box = new ConverterMsgBox(this, TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CLOSE_QUESTION),
                                    TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CLOSE_STOP),
                                    TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CLOSE_KEEP));
    box->setModal(true);
    m_closeQuestion = box;
    connect(box, &QDialog::accepted, this, [this]() { StopAndClose(); });
    box->open();
}

void TranscoderWin::StopAndClose()
{
    // The destructor stops the run and waits for it; the unfinished file goes.
    qDebug() << "Closing: the conversion is stopped";
    if (m_converting)
        StopConverting();
    m_closeConfirmed = true;
    close();
}

void TranscoderWin::DismissCloseQuestion()
{
    if (m_closeQuestion)
        m_closeQuestion->reject(); // the box deletes itself
}

void TranscoderWin::closeEvent(QCloseEvent *e)
{
    if (!m_converting || m_closeConfirmed) {
        e->accept();
        return;
    }
    e->ignore();
    if (!m_closeQuestion)
        AskStopAndClose();
}

TranscoderWin::QuitHook TranscoderWin::SetQuitHook(QuitHook hook)
{
    QuitHook previous = std::move(s_quitHook);
    s_quitHook = std::move(hook);
    return previous;
}
