// The main window: construction, layout, handlers, output naming, results, about box
// and the end of the worker thread.
#include "TranscoderWin.h"

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
#include "VelaSkin.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDate>
#include <QDebug>
#include <QFile>
#include <QGridLayout>
#include <QIcon>
#include <QVBoxLayout>

namespace {

const char VersionPath[] = ":/VERSION";

// The about button shows only its icon: no frame, background or padding in any state.
const char AboutButtonStyle[] =
    "VelaIconButton, VelaIconButton:checked:hover:!pressed:!checked:pressed{"
    "\t\t\t\t\t\t\t\t color: transparent; border-radius: 0px; text-align: center; padding: 0px;"
    "\t\t\t\t\t\t\t\t background-color: transparent; border: 0px; }";

constexpr int AboutButtonSize = 24;

// While a conversion runs at shutdown, the stop request is repeated at this interval
// until the worker thread has ended: a request that arrives before the engine has
// started its run is cleared by that run, the next one reaches it.
constexpr unsigned long StopRetryMsec = 100;

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
    setWindowTitle(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_NAME));
    LoadVersion();
    InitUi();
    InitConnect();
    InitWorker();
}

TranscoderWin::~TranscoderWin()
{
    StopWorker();
}

QString TranscoderWin::SourceFileName() const
{
    const QString path = m_sourceEdit->text();
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString TranscoderWin::VersionText() const
{
    return m_versionText;
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

    m_sourceButton = new VelaFileButton(content, false, false, false);
    m_destinationButton = new VelaFileButton(content, false, true, false);

    m_loadingMask = new VelaLoadingMask(this, false);

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
    grid->setRowStretch(4, 1);
    grid->addWidget(m_aboutButton, 0, 0, 1, -1, Qt::AlignRight);
    grid->addWidget(m_sourceLabel, 1, 0, 1, 1);
    grid->addWidget(m_sourceEdit, 1, 1, 1, 1, Qt::AlignVCenter);
    grid->addWidget(m_sourceButton, 1, 2, 1, 1, Qt::AlignVCenter);
    grid->addWidget(m_destinationLabel, 2, 0, 1, 1);
    grid->addWidget(m_destinationEdit, 2, 1, 1, 1, Qt::AlignVCenter);
    grid->addWidget(m_destinationButton, 2, 2, 1, 1, Qt::AlignVCenter);

    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(12, 0, 12, 0);
    column->addLayout(grid, 0);
    column->addStretch(1);
    column->addWidget(m_bottomBar, 0);
}

void TranscoderWin::InitConnect()
{
    connect(m_aboutButton, &QAbstractButton::clicked, this, [this]() { OnAboutClicked(); });
    connect(m_sourceButton, &VelaFileButton::SigFileSelected, this,
            [this](const QString &path) { OnSourceSelected(path); });
    connect(m_sourceEdit, &QLineEdit::textChanged, this, [this]() { OnFieldTextChanged(m_sourceEdit); });
    connect(m_destinationEdit, &QLineEdit::textChanged, this,
            [this]() { OnFieldTextChanged(m_destinationEdit); });
    connect(m_destinationButton, &VelaFileButton::SigFileSelected, this,
            [this](const QString &path) { m_destinationEdit->setText(path); });
    auto *ok = qobject_cast<QAbstractButton *>(m_bottomBar->button(VelaBottomBar::Ok));
    connect(ok, &QAbstractButton::clicked, this, [this]() { OnConvertClicked(); });
}

void TranscoderWin::InitWorker()
{
    m_worker = new TranscodeWorker(nullptr);
    m_worker->moveToThread(&m_workerThread);
    connect(&m_workerThread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(this, &TranscoderWin::SigTranscode, m_worker, &TranscodeWorker::DoWork);
    connect(m_worker, SIGNAL(SigResultReady(int)), this, SLOT(SlotConvertDone(int)));
    m_workerThread.start(QThread::InheritPriority);
}

void TranscoderWin::StopWorker()
{
    // The thread's event loop ends after the conversion in progress, if any; a
    // conversion is asked to end early so that closing the window does not wait for
    // all of it. The worker is deleted on its thread as the thread finishes.
    m_workerThread.quit();
    if (!m_converting) {
        m_workerThread.wait();
        return;
    }
    qDebug() << "Window closed during a conversion: stopping it";
    do
        TranscodeWorker::RequestStop();
    while (!m_workerThread.wait(StopRetryMsec));
}

// ---- handlers ----------------------------------------------------------------------------

void TranscoderWin::OnSourceSelected(const QString &path)
{
    m_sourceEdit->setText(path);
    if (m_destinationEdit->text().isEmpty())
        m_destinationEdit->setText(path.left(path.lastIndexOf(QLatin1Char('/'))));
}

void TranscoderWin::OnFieldTextChanged(VelaLineEdit *field)
{
    // Both fields are needed: an empty destination would put the output into the
    // root folder.
    const bool ready = !m_sourceEdit->text().isEmpty() && !m_destinationEdit->text().isEmpty();
    m_bottomBar->button(VelaBottomBar::Ok)->setDisabled(!ready);
    field->Validate();
}

QString TranscoderWin::OutputName(const QString &sourceName, int number)
{
    const int dot = sourceName.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot < 0 ? sourceName : sourceName.left(dot);
    if (number == 0)
        return stem + QStringLiteral("_converted.mp4");
    return stem + QStringLiteral("_converted_%1.mp4").arg(number);
}

QString TranscoderWin::FreeOutputPath(const QString &folder, const QString &sourceName, int maxNumber)
{
    for (int number = 0; number <= maxNumber; ++number) {
        const QString path = folder + QLatin1Char('/') + OutputName(sourceName, number);
        if (!QFile::exists(path))
            return path;
    }
    return QString();
}

void TranscoderWin::OnConvertClicked()
{
    const QString sourceName = SourceFileName();
    const QString outputPath = FreeOutputPath(m_destinationEdit->text(), sourceName);
    qDebug().noquote() << OutputName(sourceName, 0);
    qDebug().noquote() << outputPath;
    if (outputPath.isEmpty()) {
        // Every numbered name up to the limit is taken: say so rather than overwrite.
        qDebug() << "No free output name in" << m_destinationEdit->text();
        ShowMessageBox(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_FAILED));
        return;
    }

    m_converting = true;
    emit SigTranscode(TranscodeWorker::ArgList(m_sourceEdit->text(), outputPath));
    m_bottomBar->SlotShowLoading(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING) + QStringLiteral("..."), 0);
    m_loadingMask->ShowMask();
}

void TranscoderWin::SlotConvertDone(int ExitCode)
{
    qDebug("ExitCode: %d", ExitCode);
    m_converting = false;
    if (ExitCode == 0) {
        m_bottomBar->SlotShowSuccess(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_SUCCESS), 0);
        m_loadingMask->HideMask();
        return;
    }
    ShowMessageBox(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_FAILED));
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
    auto *box = new ConverterMsgBox(this, text);
    box->setModal(true);
    m_bottomBar->SlotClearStatus(0);
    connect(box, &QObject::destroyed, m_loadingMask, [this]() { m_loadingMask->HideMask(); });
    m_loadingMask->ShowMask();
    box->exec();
}
