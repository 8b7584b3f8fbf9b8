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
    // As if chosen with the source button: files as they are, folders searched.
    OpenRecordings(paths);
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
