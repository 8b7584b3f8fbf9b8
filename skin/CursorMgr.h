// The process-wide cursor table: the standard cursors the widgets use and the image
// cursors of the skin's cursor folder, built once and handed out by index.
//
// The application calls Create() before it builds its first window and never calls
// Destroy(); widgets ask for GetCursor(CursorMgr::PointingHand) and the like.
// Create() and Destroy() may be called from any thread; lookups are GUI-thread only.
#pragma once

#include <QCursor>
#include <QObject>
#include <QVector>

class CursorMgr : public QObject
{
    Q_OBJECT

public:
    // Indexes of the table. The image cursors follow the standard ones: the 33 pan-tilt
    // cursors (32 directions and the absolute-position cursor) in their normal look,
    // the same 33 pressed, then the blank and the two cross-hair cursors.
    enum CursorIndex {
        Arrow = 0,
        OpenHand = 1,
        ClosedHand = 2,
        PointingHand = 3,
        Wait = 4,
        Cross = 5,
        PtzNormalFirst = 6,          // direction 1; direction n is PtzNormalFirst + n - 1
        PtzNormalAbsolute = 38,
        PtzPressedFirst = 39,
        PtzPressedAbsolute = 71,
        Blank = 72,
        CrossWhite = 73,
        CrossWhitePressed = 74,
        CursorCount = 75
    };
    static constexpr int PtzDirectionCount = 32;
    static constexpr int HotSpot = 23;    // of every image cursor, in image pixels at 1x

    // Creates the single instance and its cursors unless it exists already.
    static void Create();
    // Deletes the instance and its cursors.
    static void Destroy();
    // The instance, or nullptr before Create().
    static CursorMgr *Instance();

    // A copy of the cursor at index; the default (arrow) cursor for an index outside
    // the table.
    QCursor GetCursor(int index) const;
    int Count() const;

private:
    explicit CursorMgr(QObject *parent = nullptr);
    ~CursorMgr() override;

    void FillCursors();
    void AddImageCursor(const QString &path);

    QVector<QCursor *> m_cursors;
};
