// The main window's drops: what a drag carries, and dropped folders searched on the
// worker thread under the loading box.
#include "TranscoderWin.h"

#include "TextIds.h"
#include "TextTable.h"
#include "TranscodeWorker.h"
#include "VelaFileButton.h"
#include "VelaLoading.h"

#include <QDebug>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>

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
