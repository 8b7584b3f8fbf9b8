// The window's keyboard access and how recordings come in besides a drop: every
// control in the Tab order with keys that work in every language, fields that show an
// error only once it matters, Select's menu of recordings or a folder, the folders
// remembered between starts, and OpenRecordings for the command line and the folder
// choice. The rest of the window is in TranscoderWin.cpp.
#include "TranscoderWin.h"

#include "ConversionOptions.h"
#include "RecordingFilter.h"
#include "RememberedFolders.h"
#include "TextIds.h"
#include "TextTable.h"
#include "TranscodeWorker.h"
#include "VelaBottomBar.h"
#include "VelaButtons.h"
#include "VelaFileButton.h"
#include "VelaLineEdit.h"
#include "VelaLoading.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QPair>
#include <QShortcut>

QKeySequence TranscoderWin::SelectKey()
{
    return QKeySequence(Qt::ALT | Qt::Key_S);
}

QKeySequence TranscoderWin::FilesKey()
{
    return QKeySequence(Qt::CTRL | Qt::Key_O);
}

QKeySequence TranscoderWin::FolderKey()
{
    return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O);
}

QKeySequence TranscoderWin::DestinationKey()
{
    return QKeySequence(Qt::ALT | Qt::Key_D);
}

QKeySequence TranscoderWin::KeepVideoKey()
{
    return QKeySequence(Qt::ALT | Qt::Key_K);
}

QKeySequence TranscoderWin::EvidenceKey()
{
    return QKeySequence(Qt::ALT | Qt::Key_E);
}

QKeySequence TranscoderWin::JoinKey()
{
    return QKeySequence(Qt::ALT | Qt::Key_J);
}

QKeySequence TranscoderWin::TimeKey()
{
    return QKeySequence(Qt::ALT | Qt::Key_T);
}

QKeySequence TranscoderWin::StartKey()
{
    return QKeySequence(Qt::CTRL | Qt::Key_Return);
}

QKeySequence TranscoderWin::AboutKey()
{
    return QKeySequence(Qt::Key_F1);
}

QString TranscoderWin::KeyHint(const QString &text, const QKeySequence &key)
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CONTROL_KEY_HINT).arg(text, key.toString(QKeySequence::NativeText));
}

void TranscoderWin::InitKeys()
{
    auto *ok = qobject_cast<VelaBaseButton *>(m_bottomBar->button(VelaBottomBar::Ok));
    QCheckBox *keepVideo = m_options->KeepVideoBox();
    QCheckBox *evidence = m_options->EvidenceBox();
    QCheckBox *join = m_options->JoinBox();
    QCheckBox *time = m_options->TimeBox();
    // Down the window, left to right; a click on a button leaves the focus where it
    // was (a field keeps its cursor), Tab reaches every one.
    const QList<QWidget *> order{m_sourceEdit, m_sourceButton, m_destinationEdit, m_destinationButton, keepVideo,
                                 evidence,     join,           time,              ok,                  m_aboutButton};
    for (QWidget *control : order) {
        if (control->focusPolicy() == Qt::NoFocus)
            control->setFocusPolicy(Qt::TabFocus);
    }
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    // Passing through an empty field is no mistake: a field is checked as it is
    // edited, and both when the user tries to start.
    for (VelaLineEdit *field : {m_sourceEdit, m_destinationEdit}) {
        field->SetValidateOnFocusOut(false);
        connect(field, &QLineEdit::returnPressed, this, [this]() { ShowFieldErrors(); });
    }

    InitSourceChoice();
    m_destinationButton->SetHint(
        KeyHint(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_DESTINATION_TIP), DestinationKey()));
    ok->SetHint(KeyHint(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CONVERT_TIP), StartKey()));
    m_aboutButton->SetHint(KeyHint(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_ABOUT_TIP), AboutKey()));
    const QList<QPair<QCheckBox *, QKeySequence>> boxes{
        {keepVideo, KeepVideoKey()}, {evidence, EvidenceKey()}, {join, JoinKey()}, {time, TimeKey()}};
    for (const auto &box : boxes)
        box.first->setToolTip(KeyHint(box.first->toolTip(), box.second));

    AddKey(SelectKey(), [this]() { m_sourceButton->click(); });
    AddKey(FilesKey(), [this]() { m_sourceButton->SlotChooseFiles(); });
    AddKey(FolderKey(), [this]() { m_sourceButton->SlotChooseFolder(); });
    AddKey(DestinationKey(), [this]() { m_destinationButton->click(); });
    for (const auto &entry : boxes) {
        QCheckBox *box = entry.first;
        AddKey(entry.second, [box]() {
            box->setFocus(Qt::ShortcutFocusReason);
            box->click();
        });
    }
    const auto start = [this]() {
        ShowFieldErrors();
        OnConvertClicked();
    };
    AddKey(StartKey(), start);
    AddKey(QKeySequence(Qt::CTRL | Qt::Key_Enter), start); // the keypad's Enter
    AddKey(AboutKey(), [this]() { OnAboutClicked(); });

    connect(m_destinationButton, &VelaFileButton::SigFileSelected, this,
            [](const QString &folder) { RememberedFolders::SetDestination(folder); });
    connect(this, &TranscoderWin::SigTranscode, this,
            [this](const QString &source, const QString &output) { RememberConversion(source, output); });
    connect(this, &TranscoderWin::SigJoin, this, [](const QStringList &sources, const QString &folder) {
        RememberedFolders::SetSource(QFileInfo(sources.first()).absolutePath());
        RememberedFolders::SetDestination(QFileInfo(folder).absoluteFilePath());
    });
}

void TranscoderWin::InitSourceChoice()
{
    const QString tab = QStringLiteral("\t");
    m_sourceButton->SetFolderChoice(
        TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOOSE_FILES) + tab + FilesKey().toString(QKeySequence::NativeText),
        TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOOSE_FOLDER) + tab + FolderKey().toString(QKeySequence::NativeText));
    m_sourceButton->SetNameFilter(RecordingFilter::NameFilter());
    m_sourceButton->SetHint(KeyHint(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOOSE_TIP), SelectKey()));
    connect(m_sourceButton, &VelaFileButton::SigFolderSelected, this,
            [this](const QString &folder) { OpenRecordings({folder}); });
    connect(m_sourceButton, &VelaFileButton::SigMultiFileSelected, this,
            []() { RememberedFolders::SetSource(VelaFileButton::LastFolder()); });
}

void TranscoderWin::AddKey(const QKeySequence &key, const std::function<void()> &action)
{
    auto *shortcut = new QShortcut(key, this);
    // Keys act only on what the user can see: nothing under the mask of a conversion,
    // a search or a box.
    connect(shortcut, &QShortcut::activated, this, [this, action]() {
        if (!Busy())
            action();
    });
}

void TranscoderWin::ShowFieldErrors()
{
    if (m_converting)
        return;
    m_sourceEdit->Validate();
    m_destinationEdit->Validate();
}

void TranscoderWin::InitRememberedFolders()
{
    const QString source = RememberedFolders::Source();
    if (!source.isEmpty()) {
        m_sourceButton->SetCurrentPath(source + QLatin1Char('/'));
        VelaFileButton::SetLastFolder(source);
    }
    const QString destination = RememberedFolders::Destination();
    if (!destination.isEmpty()) {
        // As if chosen with Change: a source chosen later does not move it.
        m_destinationEdit->setText(destination);
        m_destinationFromSource = false;
    }
}

void TranscoderWin::RememberConversion(const QString &source, const QString &output)
{
    RememberedFolders::SetSource(QFileInfo(source).absolutePath());
    RememberedFolders::SetDestination(QFileInfo(output).absolutePath());
}

void TranscoderWin::OpenRecordings(const QStringList &paths)
{
    if (paths.isEmpty() || Busy())
        return;
    // The next source dialog opens where these came from.
    const QFileInfo first(paths.first());
    const QString folder = first.isDir() ? first.absoluteFilePath() : first.absolutePath();
    VelaFileButton::SetLastFolder(folder);
    m_sourceButton->SetCurrentPath(first.isDir() ? folder + QLatin1Char('/') : first.absoluteFilePath());
    RememberedFolders::SetSource(folder);
    bool anyFolder = false;
    for (const QString &path : paths)
        anyFolder = anyFolder || QFileInfo(path).isDir();
    if (!anyFolder) {
        OnSourcesSelected(paths);
        return;
    }
    // Folders are searched on the worker thread, the window covered meanwhile with a
    // busy bar and Cancel (or Esc), which keeps the window as it was.
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
