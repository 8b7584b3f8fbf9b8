// Label style, cursor table and the rules of the installed application style sheet.
// The sheet is checked on small stand-ins that carry the class names, object names and
// dynamic properties of the library's widgets, since the selectors match on exactly
// those.
#include "StyleTest.h"

#include "CursorMgr.h"
#include "VelaLabelStyle.h"
#include "VelaScale.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

class VelaElideLabel : public QLabel
{
    Q_OBJECT
    Q_PROPERTY(bool Highlight MEMBER m_highlight)

public:
    explicit VelaElideLabel(QWidget *parent = nullptr) : QLabel(parent) {}
    void SetHighlight(bool highlight)
    {
        m_highlight = highlight;
        style()->unpolish(this);
        style()->polish(this);
    }

private:
    bool m_highlight = false;
};

class VelaNoteLabel : public VelaElideLabel
{
    Q_OBJECT

public:
    using VelaElideLabel::VelaElideLabel;
};

class VelaStatusWidget : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString Style MEMBER m_style)

public:
    explicit VelaStatusWidget(const QString &style) : m_style(style), m_label(new VelaElideLabel(this)) {}
    VelaElideLabel *Label() const { return m_label; }

private:
    QString m_style;
    VelaElideLabel *m_label;
};


class VelaWhiteButton : public QPushButton
{
    Q_OBJECT
};

class VelaBlueButton : public QPushButton
{
    Q_OBJECT
};

class VelaRedButton : public QPushButton
{
    Q_OBJECT
};

class VelaFileButton : public QPushButton
{
    Q_OBJECT
};

namespace {

QColor TextColour(const QWidget *widget, QPalette::ColorRole role = QPalette::WindowText)
{
    return widget->palette().color(role);
}

} // namespace

void StyleTest::initTestCase()
{
    qApp->setStyleSheet(VelaScale::ReadStyleSheet(":/css/VelaStyleSheet.css"));
    QVERIFY(!qApp->styleSheet().isEmpty());
}

void StyleTest::cleanupTestCase()
{
    qApp->setStyleSheet(QString());
}

void StyleTest::labelStyleDrawsDisabledTextFlat_data()
{
    QTest::addColumn<int>("hint");
    QTest::addColumn<bool>("switchedOff");
    QTest::newRow("etch") << static_cast<int>(QStyle::SH_EtchDisabledText) << true;
    QTest::newRow("dither") << static_cast<int>(QStyle::SH_DitherDisabledText) << true;
    QTest::newRow("underline shortcut") << static_cast<int>(QStyle::SH_UnderlineShortcut) << false;
    QTest::newRow("tool tip delay") << static_cast<int>(QStyle::SH_ToolTip_WakeUpDelay) << false;
    QTest::newRow("blink") << static_cast<int>(QStyle::SH_TextControl_FocusIndicatorTextCharFormat) << false;
    QTest::newRow("scroll bar click") << static_cast<int>(QStyle::SH_ScrollBar_LeftClickAbsolutePosition) << false;
}

void StyleTest::labelStyleDrawsDisabledTextFlat()
{
    QFETCH(int, hint);
    QFETCH(bool, switchedOff);
    const auto styleHint = static_cast<QStyle::StyleHint>(hint);
    QLabel label;
    auto *style = new VelaLabelStyle;
    style->setParent(&label);
    label.setStyle(style);
    if (switchedOff)
        QCOMPARE(style->styleHint(styleHint, nullptr, &label), 0);
    else
        QCOMPARE(style->styleHint(styleHint, nullptr, &label), style->baseStyle()->styleHint(styleHint, nullptr, &label));
}

void StyleTest::cursorTableIsCreatedOnce()
{
    QVERIFY(CursorMgr::Instance() == nullptr);
    CursorMgr::Create();
    CursorMgr *first = CursorMgr::Instance();
    QVERIFY(first != nullptr);
    CursorMgr::Create();
    QCOMPARE(CursorMgr::Instance(), first);

    QCOMPARE(first->Count(), 75);
    QCOMPARE(first->GetCursor(CursorMgr::Arrow).shape(), Qt::ArrowCursor);
    QCOMPARE(first->GetCursor(CursorMgr::PointingHand).shape(), Qt::PointingHandCursor);
    QCOMPARE(first->GetCursor(CursorMgr::Wait).shape(), Qt::WaitCursor);
    QCOMPARE(first->GetCursor(CursorMgr::Cross).shape(), Qt::CrossCursor);
    for (int index = CursorMgr::PtzNormalFirst; index < CursorMgr::CursorCount; ++index) {
        const QCursor cursor = first->GetCursor(index);
        QCOMPARE(cursor.shape(), Qt::BitmapCursor);
        QVERIFY2(!cursor.pixmap().isNull(), qPrintable(QString::number(index)));
        QCOMPARE(cursor.hotSpot(), QPoint(CursorMgr::HotSpot, CursorMgr::HotSpot));
    }

    CursorMgr::Destroy();
    QVERIFY(CursorMgr::Instance() == nullptr);
    CursorMgr::Create();
    QVERIFY(CursorMgr::Instance() != nullptr);
    QCOMPARE(CursorMgr::Instance()->Count(), 75);
    CursorMgr::Destroy();
}

void StyleTest::cursorLookupOutsideTheTableGivesArrow()
{
    CursorMgr::Create();
    QCOMPARE(CursorMgr::Instance()->GetCursor(75).shape(), Qt::ArrowCursor);
    QCOMPARE(CursorMgr::Instance()->GetCursor(-1).shape(), Qt::ArrowCursor);
    CursorMgr::Destroy();
}

void StyleTest::labelColoursFollowTheirProperties_data()
{
    QTest::addColumn<bool>("note");
    QTest::addColumn<bool>("highlight");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("plain") << false << false << true << QColor("#36434D");
    QTest::newRow("highlighted") << false << true << true << QColor("#00CCFF");
    QTest::newRow("disabled") << false << false << false << QColor("#A8ABAD");
    QTest::newRow("note") << true << false << true << QColor("#575D61");
}

void StyleTest::labelColoursFollowTheirProperties()
{
    QFETCH(bool, note);
    QFETCH(bool, highlight);
    QFETCH(bool, enabled);
    QFETCH(QColor, colour);
    QWidget window;
    VelaElideLabel *label = note ? new VelaNoteLabel(&window) : new VelaElideLabel(&window);
    label->setEnabled(enabled);
    window.show();
    label->SetHighlight(highlight);
    QCOMPARE(TextColour(label), colour);
}

void StyleTest::statusTextTakesTheColourOfItsStyle_data()
{
    QTest::addColumn<QString>("style");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("loading") << "Loading" << QColor("#0079BC");
    QTest::newRow("warning") << "Warning" << QColor("#FA4B4B");
    QTest::newRow("success") << "Success" << QColor("#1CA600");
    QTest::newRow("info") << "Info" << QColor("#575D61");
}

void StyleTest::statusTextTakesTheColourOfItsStyle()
{
    QFETCH(QString, style);
    QFETCH(QColor, colour);
    VelaStatusWidget status(style);
    status.show();
    QCOMPARE(TextColour(status.Label()), colour);
}

void StyleTest::buttonClassesGetTheirColours_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QColor>("text");
    QTest::addColumn<QColor>("background");
    QTest::newRow("white") << "white" << QColor("#5D5D5D") << QColor("#F5F6FA");
    QTest::newRow("file") << "file" << QColor("#5D5D5D") << QColor("#F5F6FA");
    QTest::newRow("blue") << "blue" << QColor("#FFFFFF") << QColor("#4BAEFA");
    QTest::newRow("red") << "red" << QColor("#FFFFFF") << QColor("#EB5F5F");
}

void StyleTest::buttonClassesGetTheirColours()
{
    QFETCH(QString, kind);
    QFETCH(QColor, text);
    QFETCH(QColor, background);
    QWidget window;
    QPushButton *button = nullptr;
    if (kind == "white")
        button = new VelaWhiteButton;
    else if (kind == "file")
        button = new VelaFileButton;
    else if (kind == "blue")
        button = new VelaBlueButton;
    else
        button = new VelaRedButton;
    button->setParent(&window);
    window.show();
    QCOMPARE(TextColour(button, QPalette::ButtonText), text);
    QCOMPARE(TextColour(button, QPalette::Button), background);
}

#include "StyleTest.moc"
