// Cursor table. Creation is double-checked under a mutex so that concurrent first
// requests build one table; the instance pointer is atomic so that the unlocked first
// check is a well-defined read.
#include "CursorMgr.h"

#include "SkinKeys.h"
#include "VelaScale.h"
#include "VelaSkin.h"

#include <QMutex>
#include <QMutexLocker>
#include <QPixmap>

#include <atomic>

namespace {

std::atomic<CursorMgr *> s_instance{nullptr};
QMutex s_mutex;

} // namespace

void CursorMgr::Create()
{
    if (s_instance.load(std::memory_order_acquire))
        return;
    QMutexLocker lock(&s_mutex);
    if (s_instance.load(std::memory_order_relaxed))
        return;
    s_instance.store(new CursorMgr, std::memory_order_release);
}

void CursorMgr::Destroy()
{
    QMutexLocker lock(&s_mutex);
    delete s_instance.exchange(nullptr);
}

CursorMgr *CursorMgr::Instance()
{
    return s_instance.load(std::memory_order_acquire);
}

CursorMgr::CursorMgr(QObject *parent)
    : QObject(parent)
{
    FillCursors();
}

CursorMgr::~CursorMgr()
{
    qDeleteAll(m_cursors);
}

void CursorMgr::FillCursors()
{
    m_cursors.reserve(CursorCount);
    for (Qt::CursorShape shape : {Qt::ArrowCursor, Qt::OpenHandCursor, Qt::ClosedHandCursor,
                                  Qt::PointingHandCursor, Qt::WaitCursor, Qt::CrossCursor})
        m_cursors.append(new QCursor(shape));

    const QString folder = VelaSkin::Instance()->GetImage(Skin::CURSOR::CURSOR_PATH);
    for (const char *look : {"/PTZ/Normal", "/PTZ/Pressed"}) {
        for (int direction = 1; direction <= PtzDirectionCount; ++direction)
            AddImageCursor(folder + QLatin1String(look)
                           + QStringLiteral("/mouse_%1.png").arg(direction, 2, 10, QLatin1Char('0')));
        AddImageCursor(folder + QLatin1String(look) + QLatin1String("/mouse_absolute_position.png"));
    }
    for (const char *name : {"/Blank.png", "/mouse_cursor_crosswhite.png", "/mouse_cursor_crosswhite_pressed.png"})
        AddImageCursor(folder + QLatin1String("/Common") + QLatin1String(name));
}

void CursorMgr::AddImageCursor(const QString &path)
{
    // A missing image gives a cursor built from a null pixmap, as the platform allows.
    QPixmap pixmap(path);
    if (!pixmap.isNull() && VelaScale::Instance())
        pixmap.setDevicePixelRatio(VelaScale::Instance()->ImageScale());
    m_cursors.append(new QCursor(pixmap, HotSpot, HotSpot));
}

QCursor CursorMgr::GetCursor(int index) const
{
    if (index < 0 || index >= m_cursors.size())
        return QCursor();
    return *m_cursors[index];
}

int CursorMgr::Count() const
{
    return m_cursors.size();
}
