// The converter's window: source recording, destination folder, OK.
//
// OK derives a free output name in the destination folder (<name>_converted.mp4, then
// <name>_converted_1.mp4, ...), hands the twelve engine words to the worker thread,
// shows "Converting..." and covers the window with the loading mask until the result
// is back: "Conversion complete" in the status line, or the failure box (the mask goes
// when the box is closed). The about button shows name, version and notice.
//
// The window owns its worker and worker thread for its whole life. Destroying the
// window ends the thread: a conversion still running is asked to finish early (its
// output still gets its trailer) and the thread is joined before the window is gone.
// GUI thread only.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QThread>

class TranscodeWorker;
class VelaBottomBar;
class VelaElideLabel;
class VelaFileButton;
class VelaIconButton;
class VelaLineEdit;
class VelaLoadingMask;

class TranscoderWin : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int WindowWidth = 550;
    static constexpr int WindowHeight = 180;
    // The highest number of an output name (<name>_converted_<n>.mp4) the search tries.
    static constexpr int MaxOutputNumber = 9999;

    explicit TranscoderWin(QWidget *parent = nullptr);
    ~TranscoderWin() override;

    // The source field's text after its last "/" (all of it without a "/").
    QString SourceFileName() const;
    // The version text read at construction ("1.0.2-0011" and a line feed).
    QString VersionText() const;

    // The version text of a version file: its content up to the first NUL byte, as
    // UTF-8, with every "version=" and every double quote removed and nothing
    // trimmed. Empty, with "Version file is not exist" in the debug log, when the
    // file cannot be opened.
    static QString ReadVersionFile(const QString &path);

    // Output name number n for a source file name: the name without its extension
    // (from its last "." on; a name without "." is kept whole) followed by
    // "_converted.mp4" for n = 0 or "_converted_<n>.mp4" otherwise.
    static QString OutputName(const QString &sourceName, int number);
    // The first output path folder + "/" + OutputName(sourceName, n), n = 0, 1, ...,
    // maxNumber, at which nothing exists yet; empty when every one is taken.
    static QString FreeOutputPath(const QString &folder, const QString &sourceName,
                                  int maxNumber = MaxOutputNumber);

signals:
    void SigTranscode(QStringList ArgList);

private slots:
    void SlotConvertDone(int ExitCode);

private:
    void InitLanguage();
    void LoadVersion();
    void InitUi();
    void InitConnect();
    void InitWorker();
    void StopWorker();

    void OnAboutClicked();
    void OnSourceSelected(const QString &path);
    void OnFieldTextChanged(VelaLineEdit *field);
    void OnConvertClicked();
    // Shows a message box over the masked window; the mask goes with the box.
    void ShowMessageBox(const QString &text);
    QString AboutText() const;

    VelaIconButton *m_aboutButton = nullptr;
    VelaLineEdit *m_sourceEdit = nullptr;
    VelaLineEdit *m_destinationEdit = nullptr;
    VelaElideLabel *m_sourceLabel = nullptr;
    VelaElideLabel *m_destinationLabel = nullptr;
    VelaFileButton *m_sourceButton = nullptr;
    VelaFileButton *m_destinationButton = nullptr;
    VelaBottomBar *m_bottomBar = nullptr;
    VelaLoadingMask *m_loadingMask = nullptr;
    TranscodeWorker *m_worker = nullptr;
    QThread m_workerThread;
    QString m_versionText;
    // From OK until the result has arrived.
    bool m_converting = false;
};
