#include "VelaFileButton.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>

namespace {

// The Qt dialogs, used unless a test installs its own provider.
class QtFileDialogs : public VelaFileDialogProvider
{
public:
    QString GetOpenFileName(QWidget *parent, const QString &startPath, const QString &nameFilter) override
    {
        return QFileDialog::getOpenFileName(parent, QString(), startPath, nameFilter, nullptr, QFileDialog::Options());
    }

    QStringList GetOpenFileNames(QWidget *parent, const QString &startPath, const QString &nameFilter) override
    {
        return QFileDialog::getOpenFileNames(parent, QString(), startPath, nameFilter, nullptr, QFileDialog::Options());
    }

    QString GetExistingDirectory(QWidget *parent, const QString &startFolder) override
    {
        return QFileDialog::getExistingDirectory(parent, QString(), startFolder,
                                                 QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    }
};

QtFileDialogs s_qtDialogs;
VelaFileDialogProvider *s_provider = nullptr;
QString s_lastFolder;    // shared by every file button of the process

VelaFileDialogProvider *Dialogs()
{
    return s_provider ? s_provider : &s_qtDialogs;
}

} // namespace

VelaFileDialogProvider::~VelaFileDialogProvider() = default;

VelaFileButton::VelaFileButton(QWidget *parent, bool noShadow, bool directoryMode, bool multiple)
    : VelaShadowButton(parent, noShadow)
    , m_directoryMode(directoryMode)
    , m_multiple(multiple)
{
    connect(this, &QAbstractButton::clicked, this, &VelaFileButton::SlotClicked);
}

VelaFileButton::~VelaFileButton()
{
    m_mediaRoot.reset();
}

void VelaFileButton::SetNameFilter(const QString &nameFilter)
{
    m_nameFilter = nameFilter;
}

QString VelaFileButton::NameFilter() const
{
    return m_nameFilter;
}

QString VelaFileButton::CurrentPath() const
{
    return m_currentPath;
}

void VelaFileButton::SetCurrentPath(const QString &path)
{
    m_currentPath = path;
}

void VelaFileButton::SetFolderChoice(const QString &filesText, const QString &folderText)
{
    delete m_choiceMenu;
    m_choiceMenu = new QMenu(this);
    connect(m_choiceMenu->addAction(filesText), &QAction::triggered, this, &VelaFileButton::SlotChooseFiles);
    connect(m_choiceMenu->addAction(folderText), &QAction::triggered, this, &VelaFileButton::SlotChooseFolder);
}

QMenu *VelaFileButton::ChoiceMenu() const
{
    return m_choiceMenu;
}

void VelaFileButton::SlotClicked()
{
    if (m_choiceMenu) {
        // Not exec(): the menu closes by itself when an entry is taken or the user
        // clicks elsewhere, and nothing waits for it meanwhile.
        // Under the button, its right edge on the button's: the button sits at the
        // window's right.
        m_choiceMenu->popup(mapToGlobal(QPoint(width() - m_choiceMenu->sizeHint().width(), height())));
        return;
    }
    if (m_directoryMode)
        SlotOpenQtDirDialog();
    else
        SlotChooseFiles();
}

void VelaFileButton::SlotChooseFiles()
{
    if (m_multiple)
        SlotOpenQtMultiFileDialog();
    else
        SlotOpenQtFileDialog();
}

void VelaFileButton::SlotChooseFolder()
{
    if (!MediaAvailable())
        return;
    const QString start = m_currentPath.isEmpty() ? (s_lastFolder.isEmpty() ? QDir::homePath() : s_lastFolder)
                                                  : QFileInfo(m_currentPath).path();
    emit SigLoadingMask(true);
    const QString folder = Dialogs()->GetExistingDirectory(this, StartPath(start));
    emit SigLoadingMask(false);
    if (folder.isEmpty())
        return;
    // A folder of recordings is chosen as a file would be: the next dialogs open in it.
    m_currentPath = folder + QLatin1Char('/');
    s_lastFolder = folder;
    emit SigFolderSelected(folder);
}

void VelaFileButton::SetMediaRoot(const QSharedPointer<QDir> &root)
{
    m_mediaRoot = root;
}

QString VelaFileButton::LastFolder()
{
    return s_lastFolder;
}

void VelaFileButton::SetLastFolder(const QString &folder)
{
    s_lastFolder = folder;
}

VelaFileDialogProvider *VelaFileButton::SetDialogProvider(VelaFileDialogProvider *provider)
{
    VelaFileDialogProvider *previous = s_provider;
    s_provider = provider;
    return previous;
}

bool VelaFileButton::MediaAvailable()
{
    if (m_mediaRoot && !m_mediaRoot->exists()) {
        emit SigNoUsb();
        return false;
    }
    return true;
}

QString VelaFileButton::StartPath(const QString &preferred) const
{
    if (!m_mediaRoot)
        return preferred;
    // On a medium, stay on it: a remembered path elsewhere gives way to its root.
    const QString root = m_mediaRoot->absolutePath();
    return preferred.startsWith(root) ? preferred : root;
}

void VelaFileButton::SlotOpenQtFileDialog()
{
    if (!MediaAvailable())
        return;
    if (m_currentPath.isEmpty())
        m_currentPath = QDir::homePath();

    emit SigLoadingMask(true);
    const QString path = Dialogs()->GetOpenFileName(this, StartPath(m_currentPath), m_nameFilter);
    emit SigLoadingMask(false);
    if (path.isEmpty())
        return;
    m_currentPath = path;
    s_lastFolder = QFileInfo(path).path();
    emit SigFileSelected(path);
}

void VelaFileButton::SlotOpenQtMultiFileDialog()
{
    if (!MediaAvailable())
        return;
    if (m_currentPath.isEmpty())
        m_currentPath = QDir::homePath();

    emit SigLoadingMask(true);
    const QStringList paths = Dialogs()->GetOpenFileNames(this, StartPath(m_currentPath), m_nameFilter);
    emit SigLoadingMask(false);
    if (paths.isEmpty())
        return;
    for (const QString &path : paths) {
        if (!path.isEmpty()) {
            m_currentPath = path;
            s_lastFolder = QFileInfo(path).path();
            break;
        }
    }
    emit SigMultiFileSelected(paths);
}

void VelaFileButton::SlotOpenQtDirDialog()
{
    if (!MediaAvailable())
        return;
    if (s_lastFolder.isEmpty())
        s_lastFolder = QDir::homePath();

    emit SigLoadingMask(true);
    const QString folder = Dialogs()->GetExistingDirectory(this, StartPath(s_lastFolder));
    emit SigLoadingMask(false);
    if (folder.isEmpty())
        return;
    // The shared last folder stays with the last chosen file: a folder choice does not
    // move where the next folder dialog of any button opens.
    m_currentPath = folder;
    emit SigFileSelected(folder);
}

VelaBlueFileButton::VelaBlueFileButton(QWidget *parent, bool noShadow, bool directoryMode, bool multiple)
    : VelaFileButton(parent, noShadow, directoryMode, multiple)
{
}
