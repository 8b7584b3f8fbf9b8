// The main window: construction, layout, handlers, output naming, progress, results,
// cancelling and closing, about box and the end of the worker thread.
#include "TranscoderWin.h"

#include "ConversionOptions.h"
#include "ConversionTexts.h"
#include "ConverterMsgBox.h"
#include "SkinKeys.h"
#include "TextIds.h"
#include "TextTable.h"
#include "TranscodeWorker.h"
#include "VelaBottomBar.h"
#include "VelaButtons.h"
#include "VelaFileButton.h"
#include "VelaLabels.h"
#include "VelaLanguage.h"
#include "VelaLineEdit.h"
#include "VelaLoading.h"
#include "TerminationSignals.h"
#include "VelaSkin.h"
#include "VelaStatusWidget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDebug>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QIcon>
#include <QMimeData>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const char VersionPath[] = ":/VERSION";

// The about button shows only its icon: no frame, background or padding in any state
// but the keyboard's focus, which rings it in the accent colour.
const char AboutButtonStyle[] =
    "VelaIconButton, VelaIconButton:checked:hover:!pressed:!checked:pressed{"
    "\t\t\t\t\t\t\t\t color: transparent; border-radius: 0px; text-align: center; padding: 0px;"
    "\t\t\t\t\t\t\t\t background-color: transparent; border: 0px; }"
    "VelaIconButton:focus{ background-color: #E5F2FA; border: 1px solid #0079BC; border-radius: 3px; }";

constexpr int AboutButtonSize = 24;

// While a conversion runs at shutdown, the stop request is repeated at this interval
// until the worker thread has ended: a request that arrives before the engine has
// started its run is cleared by that run, the next one reaches it.
constexpr unsigned long StopRetryMsec = 100;

QString Colon(unsigned int textId)
{
    return TextById(textId) + QLatin1Char(':');
}

// Exit status of a program ended by a signal it handled, as shells report one that
// did not: 128 + the signal's number.
constexpr int SignalExitBase = 128;

TranscoderWin::FolderOpener s_folderOpener = [](const QUrl &folder) { return QDesktopServices::openUrl(folder); };
TranscoderWin::QuitHook s_quitHook = [](int exitCode) { QCoreApplication::exit(exitCode); };

QString FolderOf(const QString &path)
{
    return path.left(path.lastIndexOf(QLatin1Char('/')));
}

QString FileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// The listed files a search passed over, with why, for a summary box.
QVector<ConverterMsgBox::ListEntry> SkippedEntries(const RecordingQueue &queue)
{
    QVector<ConverterMsgBox::ListEntry> entries;
    for (const QueuedRecording &recording : queue.Skipped())
        if (recording.listed)
            entries.append({ConversionTexts::Shown(FileNameOf(recording.source)),
                            ConversionTexts::SkippedReason(recording.skip)});
    return entries;
}

} // namespace

TranscoderWin::TranscoderWin(QWidget *parent)
    : QMainWindow(parent)
{
    // The translator first: every text below is fetched in the user's language.
    InitLanguage();
    setFixedSize(WindowWidth, WindowHeight);
    setAcceptDrops(true);
    setWindowTitle(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_NAME));
    LoadVersion();
    InitUi();
    InitConnect();
    InitKeys();
    InitRememberedFolders();
    InitWorker();
}

TranscoderWin::~TranscoderWin()
{
    StopWorker();
    // The fields outlive this class's members while QWidget closes the window: their
    // focus-out validation must not reach the queue any more.
    disconnect(m_sourceEdit, nullptr, this, nullptr);
    disconnect(m_destinationEdit, nullptr, this, nullptr);
}

QString TranscoderWin::SourceFileName() const
{
    return FileNameOf(m_sourceEdit->text());
}

QString TranscoderWin::VersionText() const
{
    return m_versionText;
}

bool TranscoderWin::IsConverting() const
{
    return m_converting;
}

QStringList TranscoderWin::QueuedSources() const
{
    QStringList sources;
    if (m_queue.IsQueue()) {
        for (const QueuedRecording &recording : m_queue.Recordings())
            sources.append(recording.source);
    }
    return sources;
}

TranscoderWin::FolderOpener TranscoderWin::SetFolderOpener(FolderOpener opener)
{
    FolderOpener previous = std::move(s_folderOpener);
    s_folderOpener = std::move(opener);
    return previous;
}

TranscoderWin::QuitHook TranscoderWin::SetQuitHook(QuitHook hook)
{
    QuitHook previous = std::move(s_quitHook);
    s_quitHook = std::move(hook);
    return previous;
}

// ---- start-up ----------------------------------------------------------------------

void TranscoderWin::InitLanguage()
{
    // Never removed: the translator serves every text for as long as the application
    // object exists, which owns it and deletes it last.
    auto *language = new VelaLanguage(VelaLanguage::SystemCode, QCoreApplication::instance());
    QCoreApplication::installTranslator(language);
    QApplication::setFont(language->Font());
}

QString TranscoderWin::ReadVersionFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "Version file is not exist";
        return QString();
    }
    QByteArray content = file.readAll();
    const int nul = content.indexOf('\0');
    if (nul >= 0)
        content.truncate(nul);
    QString version = QString::fromUtf8(content);
    version.remove(QStringLiteral("version="), Qt::CaseSensitive);
    version.remove(QLatin1Char('"'));
    return version;
}

void TranscoderWin::LoadVersion()
{
    m_versionText = ReadVersionFile(QString::fromLatin1(VersionPath));
}

void TranscoderWin::InitUi()
{
    auto *content = new QWidget(this);
    content->setFixedSize(WindowWidth, WindowHeight);

    m_aboutButton = new VelaIconButton(content);
    m_aboutButton->setFixedSize(AboutButtonSize, AboutButtonSize);
    m_aboutButton->setIcon(QIcon(VelaSkin::Instance()->GetImage(Skin::ICON::ICON_INFO)));
    m_aboutButton->setIconSize(QSize(AboutButtonSize, AboutButtonSize));
    m_aboutButton->setStyleSheet(QString::fromLatin1(AboutButtonStyle));

    m_sourceLabel = new VelaElideLabel(content);
    m_destinationLabel = new VelaElideLabel(content);

    m_sourceEdit = new VelaLineEdit(content, VelaLineEdit::Text, false, -1);
    m_destinationEdit = new VelaLineEdit(content, VelaLineEdit::Text, false, -1);
    // A file dropped on a field is a recording for the window, not text to insert.
    m_sourceEdit->setAcceptDrops(false);
    m_destinationEdit->setAcceptDrops(false);

    // Several recordings may be chosen at once; one keeps the single-file flow.
    m_sourceButton = new VelaFileButton(content, false, false, true);
    m_destinationButton = new VelaFileButton(content, false, true, false);

    m_loadingMask = new VelaLoadingMask(this, false);
    m_stopRepeat = new QTimer(this);
    m_stopRepeat->setInterval(int(StopRetryMsec));

    m_options = new ConversionOptions(content);
    m_choiceNotes = new VelaNoteLabel(content);

    m_bottomBar = new VelaBottomBar(content);
    m_bottomBar->AddRightButton(VelaBottomBar::Ok);
    m_bottomBar->button(VelaBottomBar::Ok)->setDisabled(true);

    m_sourceLabel->setText(Colon(TextId::WL_COMMON_SOURCE));
    m_destinationLabel->setText(Colon(TextId::WL_CLIENT_VIDEO_TRANSCODER_FILE_LOCATION));
    m_sourceButton->setText(TextById(TextId::WL_COMMON_CHOOSE));
    m_destinationButton->setText(TextById(TextId::WL_CLIENT_CHANGE_FOLDER));

    auto *grid = new QGridLayout;
    grid->setContentsMargins(0, 10, 0, 0);
    grid->setVerticalSpacing(4);
    grid->setHorizontalSpacing(10);
    grid->setColumnStretch(0, 140);
    grid->setColumnStretch(1, 310);
    grid->setColumnStretch(2, 100);
    grid->setRowStretch(5, 1);
    grid->addWidget(m_aboutButton, 0, 0, 1, -1, Qt::AlignRight);
    grid->addWidget(m_sourceLabel, 1, 0, 1, 1);
    grid->addWidget(m_sourceEdit, 1, 1, 1, 1, Qt::AlignVCenter);
    grid->addWidget(m_sourceButton, 1, 2, 1, 1, Qt::AlignVCenter);
    grid->addWidget(m_destinationLabel, 2, 0, 1, 1);
    grid->addWidget(m_destinationEdit, 2, 1, 1, 1, Qt::AlignVCenter);
    grid->addWidget(m_destinationButton, 2, 2, 1, 1, Qt::AlignVCenter);
    // The choices under the fields, and under them, the whole width across, what
    // became of them.
    grid->addWidget(m_options, 3, 1, 1, 2);
    grid->addWidget(m_choiceNotes, 4, 0, 1, -1);

    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(12, 0, 12, 0);
    column->addLayout(grid, 0);
    column->addStretch(1);
    column->addWidget(m_bottomBar, 0);
}

void TranscoderWin::InitConnect()
{
    connect(m_aboutButton, &QAbstractButton::clicked, this, [this]() { OnAboutClicked(); });
    connect(m_sourceButton, &VelaFileButton::SigMultiFileSelected, this,
            [this](const QStringList &paths) { OnSourcesSelected(paths); });
    for (VelaLineEdit *field : {m_sourceEdit, m_destinationEdit}) {
        connect(field, &QLineEdit::textChanged, this, [this, field]() { OnFieldTextChanged(field); });
        connect(field, &QLineEdit::returnPressed, this, [this]() { OnConvertClicked(); });
    }
    // The whole path (or every queued one) as tool tip; a field's error text takes
    // its place while shown.
    connect(m_sourceEdit, &VelaLineEdit::SigValidated, this, [this](bool legal) {
        if (legal)
            RefreshSourceToolTip();
    });
    connect(m_destinationEdit, &VelaLineEdit::SigValidated, this, [this](bool legal) {
        if (legal)
            m_destinationEdit->setToolTip(ConversionTexts::Shown(m_destinationEdit->text()));
    });
    connect(m_sourceEdit, &QLineEdit::textEdited, this, [this]() { OnSourceEdited(); });
    connect(m_destinationEdit, &QLineEdit::textEdited, this, [this]() { m_destinationFromSource = false; });
    connect(m_destinationButton, &VelaFileButton::SigFileSelected, this, [this](const QString &path) {
        m_destinationEdit->setText(path);
        m_destinationFromSource = false;
    });
    auto *ok = qobject_cast<QAbstractButton *>(m_bottomBar->button(VelaBottomBar::Ok));
    connect(ok, &QAbstractButton::clicked, this, [this]() { OnConvertClicked(); });
    connect(m_loadingMask->LoadingWidget(), &VelaLoadingWidget::SigCancelClicked, this,
            [this]() { OnCancelRequested(); });
    connect(m_loadingMask, &VelaLoadingMask::SigEscapePressed, this, [this]() { OnCancelRequested(); });
    connect(m_stopRepeat, &QTimer::timeout, this, [this]() { m_worker->RequestStop(); });
    connect(m_bottomBar->StatusWidget(), &VelaStatusWidget::SigClicked, this, [this]() { OnStatusClicked(); });
    connect(TerminationSignals::Instance(), &TerminationSignals::SigTermination, this,
            &TranscoderWin::SlotTerminate);
}

void TranscoderWin::InitWorker()
{
    m_worker = new TranscodeWorker(nullptr);
    m_worker->moveToThread(&m_workerThread);
    connect(&m_workerThread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(this, &TranscoderWin::SigTranscode, m_worker, &TranscodeWorker::DoWork);
    connect(m_worker, SIGNAL(SigConversionEnded(ConversionResult)), this, SLOT(SlotConvertDone(ConversionResult)));
    connect(m_worker, SIGNAL(SigProgress(RunProgress)), this, SLOT(SlotProgress(RunProgress)));
    connect(this, &TranscoderWin::SigCollect, m_worker, &TranscodeWorker::DoCollect);
    connect(m_worker, SIGNAL(SigCollected(RecordingList)), this, SLOT(SlotCollected(RecordingList)));
    m_workerThread.start(QThread::InheritPriority);
}

void TranscoderWin::StopWorker()
{
    // The thread's event loop ends after the conversion in progress, if any; a
    // conversion is asked to end early so that closing the window does not wait for
    // all of it. The worker is deleted on its thread as the thread finishes.
    if (m_converting || m_collecting) {
        qDebug() << "Window closed during a conversion or a folder search: stopping it";
        // Asked before the thread is told to end, while the worker surely exists; its
        // flag also reaches a run that has not begun yet.
        m_worker->RequestStop();
    }
    m_workerThread.quit();
    // From here on the worker may be deleted on its thread at any moment: only the
    // engine's own request is repeated, which wakes a run blocked on input.
    while (!m_workerThread.wait(StopRetryMsec))
        TranscodeWorker::RequestEngineStop();
}

// ---- handlers ----------------------------------------------------------------------------

void TranscoderWin::OnSourceSelected(const QString &path)
{
    m_queue.Clear();
    m_sourceEdit->setText(path);
    RefreshSourceToolTip();
    FollowSourceFolder(path);
}

void TranscoderWin::OnSourcesSelected(const QStringList &paths)
{
    // Files only: nothing is probed here, so this is quick.
    SetRecordings(RecordingQueue::Collect(paths));
}

void TranscoderWin::SetRecordings(const RecordingList &recordings)
{
    RecordingQueue found;
    found.Set(recordings);
    if (found.Size() == 0) {
        const QString none = TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_NONE_FOUND);
        m_bottomBar->SlotShowWarning(none, 0);
        // Files that look like recordings (or could not be read) are named.
        if (found.ListedSkippedCount() > 0)
            ShowBox(new ConverterMsgBox(this, none, SkippedEntries(found)));
        return;
    }
    // One recording keeps the single flow, unless its search passed over files
    // to be named at the end.
    if (!found.IsQueue()) {
        OnSourceSelected(found.Recordings().first().source);
        return;
    }
    // The queue first: the field's validation asks it for the tool tip.
    m_queue.Set(recordings);
    m_sourceEdit->setText(m_queue.FieldText());
    RefreshSourceToolTip();
    FollowSourceFolder(recordings.first().source);
}

void TranscoderWin::FollowSourceFolder(const QString &path)
{
    // A destination the user chose stays; one that only followed the last source
    // follows this one.
    if (m_destinationEdit->text().isEmpty() || m_destinationFromSource) {
        m_destinationEdit->setText(FolderOf(path));
        m_destinationFromSource = true;
    }
}

void TranscoderWin::OnSourceEdited()
{
    // Typed into by hand, the field no longer stands for the queue: what it holds is
    // one path, as in a field that never held a queue.
    if (!m_queue.IsQueue())
        return;
    m_queue.Clear();
    RefreshSourceToolTip();
}

void TranscoderWin::RefreshSourceToolTip()
{
    m_sourceEdit->setToolTip(m_queue.IsQueue() ? m_queue.ToolTip() : ConversionTexts::Shown(m_sourceEdit->text()));
}

void TranscoderWin::OnFieldTextChanged(VelaLineEdit *field)
{
    // Both fields are needed: an empty destination would put the output into the
    // root folder.
    const bool ready = !m_sourceEdit->text().isEmpty() && !m_destinationEdit->text().isEmpty();
    m_bottomBar->button(VelaBottomBar::Ok)->setDisabled(!ready);
    field->Validate();
    // The last result speaks of the fields as they were.
    if (!m_converting) {
        m_bottomBar->SlotClearStatus(0);
        ShowChoiceNotes(QString());
    }
}

QString TranscoderWin::OutputName(const QString &sourceName, int number)
{
    return QFile::decodeName(converted_output_name(QFile::encodeName(sourceName).toStdString(), number).c_str());
}

QString TranscoderWin::FreeOutputPath(const QString &folder, const QString &sourceName, int maxNumber)
{
    const std::string path = free_output_path(QFile::encodeName(folder).toStdString(),
                                              QFile::encodeName(sourceName).toStdString(),
                                              output_path_taken_on_disk, maxNumber);
    return QFile::decodeName(path.c_str());
}

void TranscoderWin::OnConvertClicked()
{
    // Enter in a field comes here too: only what OK itself would allow.
    if (m_converting || !m_bottomBar->button(VelaBottomBar::Ok)->isEnabled())
        return;
    if (m_queue.IsQueue()) {
        StartQueue();
        return;
    }
    const QString sourceName = SourceFileName();
    const QString outputPath = FreeOutputPath(m_destinationEdit->text(), sourceName);
    qDebug().noquote() << OutputName(sourceName, 0);
    qDebug().noquote() << outputPath;
    if (outputPath.isEmpty()) {
        // Every numbered name up to the limit is taken: say so rather than overwrite.
        qDebug() << "No free output name in" << m_destinationEdit->text();
        ShowFailure(ConversionTexts::NamesTakenReason());
        return;
    }

    m_converting = true;
    m_stopAsked = false;
    m_outputPath = outputPath;
    m_choices = m_options->Choices();
    ShowChoiceNotes(QString());
    m_worker->ClearStopRequest();
    emit SigTranscode(m_sourceEdit->text(), outputPath, m_choices);
    m_bottomBar->SlotShowLoading(ConversionTexts::ConvertingTitle(), 0);
    VelaLoadingWidget *box = m_loadingMask->LoadingWidget();
    box->SetProgressStyle(true);
    box->SetText(ConversionTexts::ConvertingTitle());
    box->SetProgress(-1);
    box->SetDetail(QString());
    m_loadingMask->ShowMask(true);
}

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

void TranscoderWin::SlotConvertDone(ConversionResult Result)
{
    qDebug("ExitCode: %d", Result.outcome.status);
    if (m_asking) {
        // Handled once the close question is answered (and only if the window stays).
        m_pendingOutcome = std::make_unique<ConversionResult>(Result);
        return;
    }
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
    m_stopRepeat->stop();
    m_converting = false;
    // Another program took the planned name meanwhile: the run wrote the next.
    if (!outcome.outputs.empty())
        m_outputPath = QFile::decodeName(outcome.outputs.front().c_str());
    ShowResult(outcome);
    // Only a file written has a picture kept or a record beside it.
    if (outcome.end == RunEnd::Completed && outcome.status == 0) {
        const ConversionTexts::ChoiceNotes notes = ConversionTexts::ResultNotes(
            m_choices, result.plan.video_kept, QString::fromStdString(result.plan.keep_refusal),
            QFile::decodeName(result.evidence_path.c_str()), QString::fromStdString(result.evidence_error));
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
}

void TranscoderWin::OnStatusClicked()
{
    if (m_outputPath.isEmpty())
        return;
    const QUrl folder = QUrl::fromLocalFile(FolderOf(m_outputPath));
    if (!s_folderOpener(folder))
        qDebug() << "Could not open" << folder;
}

void TranscoderWin::SlotTerminate(int Signal)
{
    qDebug("Quitting on signal %d", Signal);
    // The engine has stopped the run already when the signal came during it; this
    // covers one that came just before, and keeps a queue from starting another.
    // The thread is joined as the window goes.
    if (m_converting)
        StopConverting();
    else if (m_collecting)
        m_worker->RequestStop(); // a long folder search must not hold up the quit
    s_quitHook(SignalExitBase + Signal);
}

bool TranscoderWin::ConfirmStopAndClose()
{
    auto *box = new ConverterMsgBox(this, TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CLOSE_QUESTION),
                                    TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CLOSE_STOP),
                                    TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CLOSE_KEEP));
    box->setModal(true);
    m_asking = true;
    const bool stop = box->exec() == QDialog::Accepted;
    m_asking = false;
    return stop;
}

void TranscoderWin::closeEvent(QCloseEvent *e)
{
    if (!m_converting || m_asking) {
        if (m_asking)
            e->ignore();
        else
            e->accept();
        return;
    }
    const bool stop = ConfirmStopAndClose();
    std::unique_ptr<ConversionResult> pending = std::move(m_pendingOutcome);
    if (stop) {
        // The destructor stops the run and waits for it; the unfinished file goes.
        qDebug() << "Closing: the conversion is stopped";
        if (m_converting)
            StopConverting();
        e->accept();
        return;
    }
    e->ignore();
    if (pending)
        TakeOutcome(*pending);
}

QStringList TranscoderWin::DroppedPaths(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            paths.append(url.toLocalFile());
    }
    return paths;
}

bool TranscoderWin::Busy() const
{
    return m_converting || m_collecting || m_loadingMask->isVisible();
}

void TranscoderWin::dragEnterEvent(QDragEnterEvent *e)
{
    if (!Busy() && !DroppedPaths(e->mimeData()).isEmpty())
        e->acceptProposedAction();
}

void TranscoderWin::dropEvent(QDropEvent *e)
{
    const QStringList paths = DroppedPaths(e->mimeData());
    if (Busy() || paths.isEmpty())
        return;
    e->acceptProposedAction();
    // As if chosen with the source button: its next dialog opens in this folder.
    const QString first = paths.first();
    VelaFileButton::SetLastFolder(QFileInfo(first).isDir() ? first : FolderOf(first));
    bool folder = false;
    for (const QString &path : paths)
        folder = folder || QFileInfo(path).isDir();
    if (!folder) {
        OnSourcesSelected(paths);
        return;
    }
    // Every file under a folder is probed: on the worker thread, the window covered
    // meanwhile.
    // A large archive takes a while: a busy bar and Cancel (or Esc), which keeps
    // the window as it was.
    m_collecting = true;
    m_collectStopped = false;
    m_worker->ClearStopRequest();
    VelaLoadingWidget *box = m_loadingMask->LoadingWidget();
    box->SetProgressStyle(true);
    box->SetProgress(-1);
    box->SetDetail(QString());
    box->SetText(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_SCANNING));
    m_loadingMask->ShowMask(true);
    emit SigCollect(paths);
}

void TranscoderWin::SlotCollected(RecordingList Recordings)
{
    m_collecting = false;
    m_loadingMask->HideMask();
    if (m_collectStopped) {
        // Cancelled: what the search found until then is not what was dropped.
        m_worker->ClearStopRequest();
        return;
    }
    SetRecordings(Recordings);
}

QString TranscoderWin::AboutText() const
{
    // Name and version on the first line (the version text ends in a line feed), an
    // empty line, then the notice with the current year.
    QString notice = TextById(TextId::WL_CLIENT_MSG_ABOUT);
    notice.replace(QStringLiteral("%1"), QString::number(QDate::currentDate().year()));
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_NAME) + QLatin1Char(' ') + m_versionText
           + QLatin1Char('\n') + notice;
}

void TranscoderWin::OnAboutClicked()
{
    ShowMessageBox(AboutText());
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

// ---- several recordings ------------------------------------------------------------------

void TranscoderWin::StartQueue()
{
    m_converting = true;
    m_queueRunning = true;
    m_stopAsked = false;
    m_outputPath.clear();
    m_choices = m_options->Choices();
    ShowChoiceNotes(QString());
    m_queue.Start();
    m_queueClock.start();
    m_bottomBar->SlotShowLoading(ConversionTexts::ConvertingTitle(), 0);
    VelaLoadingWidget *box = m_loadingMask->LoadingWidget();
    box->SetProgressStyle(true);
    box->SetQueueStyle(true);
    m_loadingMask->ShowMask(true);
    StartQueueItem();
}

void TranscoderWin::StartQueueItem()
{
    const QString folder = m_destinationEdit->text();
    for (;;) {
        QueuedRecording &recording = m_queue.Current();
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
        if (!m_queue.Advance()) {
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
    if (!m_queue.Advance()) {
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
    m_loadingMask->LoadingWidget()->SetQueueStyle(false);
    const int converted = m_queue.ConvertedCount();
    const int partial = m_queue.PartialCount();
    const int total = m_queue.Size();
    ShowChoiceNotes(ConversionTexts::QueueNotes(m_choices, m_queue.KeptCount(), m_queue.EvidenceCount(), converted));
    if (m_queue.FailedCount() > 0 || partial > 0 || m_queue.ListedSkippedCount() > 0 || MissingRecords() > 0)
        ShowQueueSummary();
    else
        m_loadingMask->HideMask();

    QString text;
    if (stopped)
        text = ConversionTexts::QueueCancelled(converted, total);
    else if (converted == total)
        text = ConversionTexts::QueueAllConverted(converted);
    else
        text = ConversionTexts::QueueSomeConverted(converted, total);
    text = ConversionTexts::WithPartial(text, partial);
    if (!stopped && converted == total && partial == 0 && m_queue.ListedSkippedCount() == 0)
        m_bottomBar->SlotShowSuccess(text, 0);
    else if (stopped && m_queue.FailedCount() == 0)
        m_bottomBar->SlotShowInfo(text, 0); // the user's own stop is no bad news
    else
        m_bottomBar->SlotShowWarning(text, 0);
    // Every output is in the destination folder, which a click opens.
    VelaStatusWidget *status = m_bottomBar->StatusWidget();
    status->SetClickable(converted > 0);
    status->setToolTip(converted > 0 ? ConversionTexts::Shown(FolderOf(m_outputPath)) : QString());
}

void TranscoderWin::ShowQueueSummary()
{
    // Failures first, then files converted with problems, then files the
    // searches passed over.
    QVector<ConverterMsgBox::ListEntry> failures, partial;
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
    const QVector<ConverterMsgBox::ListEntry> skipped = SkippedEntries(m_queue);
    const int others = m_queue.Skipped().size() - m_queue.ListedSkippedCount();
    QString message = ConversionTexts::QueueSummary(m_queue.ConvertedCount(), m_queue.Size(),
                                                    partial.isEmpty() && skipped.isEmpty());
    if (others > 0)
        message = ConversionTexts::QueueOthers(others) + QLatin1Char('\n') + message;
    // How many pictures were kept and evidence records written, above the count.
    const QString notes = m_choiceNotes->FullText();
    if (!notes.isEmpty())
        message = notes + QLatin1Char('\n') + message;
    ShowBox(new ConverterMsgBox(this, message, failures + partial + skipped));
}

int TranscoderWin::MissingRecords() const
{
    if (!m_choices.evidence)
        return 0;
    return m_queue.ConvertedCount() - m_queue.EvidenceCount();
}
