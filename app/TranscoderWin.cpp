// The main window: construction, layout and connections, the worker thread and its
// end, the fields and their handlers, output naming, OK and the about box. The queue,
// the progress box and stopping, drops, and the results live in the
// TranscoderWin<Concern>.cpp files beside this one.
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
#include "source_mark.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDate>
#include <QDebug>
#include <QFile>
#include <QGridLayout>
#include <QIcon>
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

TranscoderWin::EarlierOutputFinder s_earlierOutput = [](const QString &source, const QString &folder) {
    return QFile::decodeName(
        earlier_output_of(QFile::encodeName(source).toStdString(), QFile::encodeName(folder).toStdString()).c_str());
};

QString Colon(unsigned int textId)
{
    return TextById(textId) + QLatin1Char(':');
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

QString TranscoderWin::FolderOf(const QString &path)
{
    return path.left(path.lastIndexOf(QLatin1Char('/')));
}

QString TranscoderWin::FileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
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
    // The choices under the fields, two rows of two the whole width across (the
    // longer texts of some languages need it), and under them what became of them.
    grid->addWidget(m_options, 3, 0, 1, -1);
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
    connect(this, &TranscoderWin::SigJoin, m_worker, &TranscodeWorker::DoJoin);
    connect(m_worker, SIGNAL(SigJoinNamed(QString)), this, SLOT(SlotJoinNamed(QString)));
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
    // Found in a folder given: the destination follows that folder, under which
    // the sub-folders are mirrored, not the sub-folder of the first recording.
    const QueuedRecording &first = m_queue.Recordings().first();
    QString followed = FolderOf(first.source);
    if (!first.subfolder.isEmpty() && followed.endsWith(QLatin1Char('/') + first.subfolder))
        followed.chop(first.subfolder.size() + 1);
    FollowFolder(followed);
}

void TranscoderWin::FollowSourceFolder(const QString &path)
{
    FollowFolder(FolderOf(path));
}

void TranscoderWin::FollowFolder(const QString &folder)
{
    // A destination the user chose stays; one that only followed the last source
    // follows this one.
    if (m_destinationEdit->text().isEmpty() || m_destinationFromSource) {
        m_destinationEdit->setText(folder);
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
        if (m_options->Joins())
            StartJoin();
        else
            StartQueue();
        return;
    }
    // A stray Enter after "Conversion complete" must not make a second copy unasked.
    const QString earlier = s_earlierOutput(m_sourceEdit->text(), m_destinationEdit->text());
    if (!earlier.isEmpty()) {
        AskConvertAgain(ConversionTexts::AgainQuestion(SourceFileName(), FileNameOf(earlier)),
                        [this]() { StartSingle(); });
        return;
    }
    StartSingle();
}

void TranscoderWin::StartSingle()
{
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
    m_choices.mark_source = true;
    m_runClock.start();
    ShowChoiceNotes(QString());
    m_worker->ClearStopRequest();
    emit SigTranscode(m_sourceEdit->text(), outputPath, m_choices);
    ShowRunStarting();
}

void TranscoderWin::ShowRunStarting()
{
    m_bottomBar->SlotShowLoading(ConversionTexts::ConvertingTitle(), 0);
    VelaLoadingWidget *box = m_loadingMask->LoadingWidget();
    box->SetProgressStyle(true);
    box->SetText(ConversionTexts::ConvertingTitle());
    box->SetProgress(-1);
    box->SetDetail(QString());
    m_loadingMask->ShowMask(true);
}

void TranscoderWin::AskConvertAgain(const QString &question, std::function<void()> convert)
{
    auto *box = new ConverterMsgBox(this, question, ConversionTexts::AgainButton(),
                                    TextById(TextId::WL_COMMON_COMMON_CANCEL));
    box->setModal(true);
    m_bottomBar->SlotClearStatus(0);
    connect(box, &QDialog::accepted, this, std::move(convert));
    // The mask goes with the box, unless "Convert again" put up the progress.
    connect(box, &QObject::destroyed, m_loadingMask, [this]() {
        if (!m_converting)
            m_loadingMask->HideMask();
    });
    m_loadingMask->ShowMask();
    box->open();
}

QString TranscoderWin::EarlierOutput(const QString &source, const QString &folder)
{
    return s_earlierOutput(source, folder);
}

TranscoderWin::EarlierOutputFinder TranscoderWin::SetEarlierOutputFinder(EarlierOutputFinder finder)
{
    EarlierOutputFinder previous = std::move(s_earlierOutput);
    s_earlierOutput = std::move(finder);
    return previous;
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
