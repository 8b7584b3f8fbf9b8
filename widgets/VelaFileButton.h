// Buttons that open a file or folder dialog and report the choice.
//
//     auto *source = new VelaFileButton(content, false, false, false);   // one file
//     auto *target = new VelaFileButton(content, false, true, false);    // a folder
//     connect(source, &VelaFileButton::SigFileSelected, this, [](const QString &path) {...});
//
// Modes, fixed at construction:
//   file      (directoryMode false, multiple false): an open-file dialog that starts at
//             the file chosen last with this button (the home folder the first time);
//             SigFileSelected(path).
//   files     (multiple true): the same with several files; SigMultiFileSelected(list).
//   folder    (directoryMode true): a folder dialog (folders only, links not resolved)
//             that starts at the folder of the file chosen last in any file dialog of
//             the process (the home folder before that); SigFileSelected(folder).
//   choice    (SetFolderChoice on a file button): a click opens a menu under the button
//             with the file dialog and a folder dialog; a folder chosen there is
//             reported with SigFolderSelected(folder) and becomes where the next file
//             and folder dialogs open. SlotChooseFiles and SlotChooseFolder open either
//             dialog straight away (keyboard shortcuts).
// The dialogs have no title; the name filter is empty (all files) unless set. A
// cancelled dialog changes nothing and emits nothing. SigLoadingMask(true) is emitted
// before a dialog opens and SigLoadingMask(false) after it closes, so an owner can dim
// itself meanwhile.
//
// The dialogs go through a VelaFileDialogProvider; tests install their own with
// SetDialogProvider to answer without a real (blocking) dialog. GUI thread only.
#pragma once

#include "VelaButtons.h"

#include <QDir>
#include <QPointer>
#include <QSharedPointer>
#include <QStringList>

class QMenu;

class VelaFileDialogProvider
{
public:
    virtual ~VelaFileDialogProvider();

    // Each returns an empty result when the user cancels.
    virtual QString GetOpenFileName(QWidget *parent, const QString &startPath, const QString &nameFilter) = 0;
    virtual QStringList GetOpenFileNames(QWidget *parent, const QString &startPath, const QString &nameFilter) = 0;
    virtual QString GetExistingDirectory(QWidget *parent, const QString &startFolder) = 0;
};

class VelaFileButton : public VelaShadowButton
{
    Q_OBJECT

public:
    VelaFileButton(QWidget *parent = nullptr, bool noShadow = false, bool directoryMode = false,
                   bool multiple = false);
    ~VelaFileButton() override;

    // The filter passed to the file dialogs, in QFileDialog's syntax ("Videos (*.mp4)").
    void SetNameFilter(const QString &nameFilter);
    QString NameFilter() const;

    // The last path chosen with this button; empty before the first choice. Setting it
    // chooses where the next file dialog opens.
    QString CurrentPath() const;
    void SetCurrentPath(const QString &path);

    // Offers a folder beside the files: a click opens a menu of two entries with these
    // texts (a "\t" in a text puts what follows, a key, at the menu's right edge).
    void SetFolderChoice(const QString &filesText, const QString &folderText);
    // The menu of SetFolderChoice; null without one.
    QMenu *ChoiceMenu() const;

    // Restricts the dialogs to a removable medium shared by several buttons: they open
    // at its folder, and when the folder is missing no dialog opens and SigNoUsb() is
    // emitted instead. A null root lifts the restriction.
    void SetMediaRoot(const QSharedPointer<QDir> &root);

    // The folder of the file chosen last in any file dialog of the process.
    static QString LastFolder();
    static void SetLastFolder(const QString &folder);

    // Installs the dialogs used by every file button; null restores the Qt dialogs.
    // The caller keeps ownership. Returns the provider that was installed before.
    static VelaFileDialogProvider *SetDialogProvider(VelaFileDialogProvider *provider);

public slots:
    // The file dialog of the button's mode (one file or several).
    void SlotChooseFiles();
    // The folder dialog of the folder choice (SigFolderSelected).
    void SlotChooseFolder();

signals:
    void SigMultiFileSelected(QStringList strFilePathList);
    void SigFileSelected(QString strFilePath);
    void SigFolderSelected(QString strFolder);
    void SigLoadingMask(bool blMask);
    void SigNoUsb();

protected slots:
    void SlotOpenQtDirDialog();
    void SlotOpenQtFileDialog();
    void SlotOpenQtMultiFileDialog();

private slots:
    void SlotClicked();

private:
    // False (after SigNoUsb) when a media root is set but missing.
    bool MediaAvailable();
    QString StartPath(const QString &preferred) const;

    QSharedPointer<QDir> m_mediaRoot;
    QString m_nameFilter;
    QString m_currentPath;
    QPointer<QMenu> m_choiceMenu;
    bool m_directoryMode;
    bool m_multiple;
};

// The file button in the primary (blue) colours.
class VelaBlueFileButton : public VelaFileButton
{
    Q_OBJECT

public:
    VelaBlueFileButton(QWidget *parent = nullptr, bool noShadow = false, bool directoryMode = false,
                       bool multiple = false);
};
