// Labels (eliding, tool tips, placeholder, highlight), the status line (show, delayed
// clear, codes by group, queued calls), the bottom bar (roles, layout, status width,
// retranslation) and the loading mask.
#include "PanelsTest.h"

#include "TextIds.h"
#include "TextTable.h"
#include "VelaBottomBar.h"
#include "VelaButtons.h"
#include "VelaLabels.h"
#include "VelaLanguage.h"
#include "VelaLoading.h"
#include "VelaStatusWidget.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <memory>

namespace {

std::unique_ptr<QWidget> s_window;

const QString LongText = QStringLiteral("Some of your settings are invalid. Please enter them again.");

VelaElideLabel *Label(int width, bool alwaysTooltip = false)
{
    auto *label = new VelaElideLabel(s_window.get());
    label->SetAlwaysTooltip(alwaysTooltip);
    label->show();
    label->resize(width, label->height());
    return label;
}

VelaBottomBar *Bar(int width)
{
    auto *bar = new VelaBottomBar(s_window.get());
    bar->show();
    bar->resize(width, bar->height());
    return bar;
}

VelaElideLabel *StatusLabel(VelaBottomBar *bar)
{
    return bar->StatusWidget()->findChild<VelaElideLabel *>();
}

QColor TextColour(QWidget *widget)
{
    return widget->palette().color(QPalette::WindowText);
}

} // namespace

void PanelsTest::init()
{
    s_window = std::make_unique<QWidget>();
    s_window->resize(550, 180);
    s_window->show();
}

void PanelsTest::cleanup()
{
    s_window.reset();
}

// ---------------------------------------------------------------- labels

void PanelsTest::labelElidesWithToolTipOnlyWhenCut_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("alwaysTooltip");
    QTest::addColumn<bool>("cut");

    QTest::newRow("caption fits") << QStringLiteral("Source:") << false << false;
    QTest::newRow("caption fits, tool tip asked for") << QStringLiteral("Source:") << true << false;
    QTest::newRow("long text cut") << LongText << false << true;
    QTest::newRow("long text cut, tool tip asked for") << LongText << true << true;
    QTest::newRow("empty text has no tool tip") << QString() << true << false;
}

void PanelsTest::labelElidesWithToolTipOnlyWhenCut()
{
    QFETCH(QString, text);
    QFETCH(bool, alwaysTooltip);
    QFETCH(bool, cut);

    VelaElideLabel *label = Label(140, alwaysTooltip);
    label->setText(text);
    QCOMPARE(label->FullText(), text);
    if (cut) {
        QVERIFY(label->text().endsWith(QChar(0x2026)));
        QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width());
    } else {
        QCOMPARE(label->text(), text);
    }
    const bool tip = !text.isEmpty() && (cut || alwaysTooltip);
    QCOMPARE(label->toolTip(), tip ? "<a>" + text + "</a>" : QString());
    QCOMPARE(label->minimumHeight(), 28);
}

void PanelsTest::labelTextGrowsBackWhenWidened()
{
    VelaElideLabel *label = Label(120);
    label->setText(LongText);
    QVERIFY(label->text() != LongText);
    label->resize(500, label->height());
    QCOMPARE(label->text(), LongText);
    QVERIFY(label->toolTip().isEmpty());
    label->resize(120, label->height());
    QVERIFY(label->text().endsWith(QChar(0x2026)));

    // In a layout the label may be made narrower than its text, and elides there.
    auto *row = new QWidget(s_window.get());
    auto *layout = new QHBoxLayout(row);
    auto *caption = new VelaElideLabel(LongText, row);
    layout->addWidget(caption);
    row->setFixedWidth(150);
    row->show();
    QTRY_VERIFY(caption->width() < 150);
    QVERIFY(caption->text().endsWith(QChar(0x2026)));
}

void PanelsTest::labelKeepsItsTextWhateverItsToolTip()
{
    // A tool tip left from an earlier, cut text must not come back as the text.
    VelaElideLabel *label = Label(100);
    label->setText(LongText);
    const QString rich = QStringLiteral("<b>Source</b>");
    label->setText(rich);
    QVERIFY(label->toolTip().isEmpty());
    label->resize(300, label->height());
    QCOMPARE(label->text(), rich);

    // Nor a tool tip the owner set.
    label->setText(QStringLiteral("Source:"));
    label->setToolTip(QStringLiteral("The recording to convert"));
    label->resize(200, label->height());
    QCOMPARE(label->text(), QStringLiteral("Source:"));
}

void PanelsTest::labelShowsPlaceholderAndHonoursWidthOverride()
{
    VelaElideLabel *label = Label(300);
    label->SetPlaceholderText(QStringLiteral("No folder chosen"));
    label->setText(QString());
    QCOMPARE(label->text(), QStringLiteral("No folder chosen"));
    QVERIFY(label->toolTip().isEmpty());
    label->setText(QStringLiteral("/rec"));
    QCOMPARE(label->text(), QStringLiteral("/rec"));

    label->setText(LongText);
    label->SetElideWidth(60);
    QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= 60);
    QVERIFY(!label->toolTip().isEmpty());
    label->SetElideWidth(-1);
    label->resize(600, label->height());
    QCOMPARE(label->text(), LongText);
}

void PanelsTest::highlightSwitchesTheColour()
{
    VelaElideLabel *label = Label(200);
    label->setText(QStringLiteral("Source:"));
    QCOMPARE(TextColour(label), QColor(0x36, 0x43, 0x4D));
    QVERIFY(label->setProperty("Highlight", true));
    QCOMPARE(TextColour(label), QColor(0x00, 0xCC, 0xFF));
    label->SetHighlight(false);
    QCOMPARE(TextColour(label), QColor(0x36, 0x43, 0x4D));
    label->setEnabled(false);
    QCOMPARE(label->palette().color(QPalette::Disabled, QPalette::WindowText), QColor(0xA8, 0xAB, 0xAD));
}

// ---------------------------------------------------------------- status line

void PanelsTest::loadingStatusStaysUntilReplaced()
{
    VelaBottomBar *bar = Bar(550);
    VelaStatusWidget *status = bar->StatusWidget();
    QVERIFY(!status->isVisible());
    bar->SlotShowLoading(QStringLiteral("Converting..."), 0);
    QVERIFY(status->isVisible());
    QCOMPARE(status->Style(), QStringLiteral("Loading"));
    QCOMPARE(status->Text(), QStringLiteral("Converting..."));
    QCOMPARE(TextColour(StatusLabel(bar)), QColor(0x00, 0x79, 0xBC));

    // A status with a short delay, shown at the same moment, clears; the loading one stays.
    VelaBottomBar *control = Bar(550);
    control->SlotShowSuccess(QStringLiteral("Done"), 20);
    QTRY_VERIFY(!control->StatusWidget()->isVisible());
    QVERIFY(status->isVisible());

    bar->SlotShowSuccess(QStringLiteral("Conversion complete"), 0);
    QCOMPARE(status->Style(), QStringLiteral("Success"));
    QCOMPARE(TextColour(StatusLabel(bar)), QColor(0x1C, 0xA6, 0x00));
    bar->SlotClearStatus(0);
    QVERIFY(!status->isVisible());
}

void PanelsTest::statusCodesShowByTheirGroup_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("style");    // empty: nothing shown
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("clearAfter");   // 0: stays

    QTest::newRow("0x101 no change") << 0x101 << "Warning" << "No settings were changed." << 5000;
    QTest::newRow("0x102 press save") << 0x102 << "Warning" << "Click \"Save\" to apply settings." << 5000;
    QTest::newRow("0x104 system error") << 0x104 << "Warning" << "The operation failed." << 5000;
    QTest::newRow("0x201 loading") << 0x201 << "Loading" << "Loading..." << 0;
    QTest::newRow("0x205 configuring") << 0x205 << "Loading" << "Configuring" << 0;
    QTest::newRow("0x206 uploading") << 0x206 << "Loading" << "Uploading..." << 0;
    QTest::newRow("0x401 setting applied") << 0x401 << "Success" << "Setting applied." << 5000;
    QTest::newRow("unknown warning code: empty text") << 0x1FF << "Warning" << QString() << 5000;
    QTest::newRow("code of no group: nothing shown") << 0x800 << QString() << QString() << 0;
}

void PanelsTest::statusCodesShowByTheirGroup()
{
    QFETCH(int, code);
    QFETCH(QString, style);
    QFETCH(QString, text);
    QFETCH(int, clearAfter);

    VelaBottomBar *bar = Bar(550);
    VelaStatusWidget *status = bar->StatusWidget();
    bar->SlotShowStatus(static_cast<WIDGET_STATUS_ID>(code));
    QCOMPARE(status->isVisible(), !style.isEmpty());
    if (style.isEmpty())
        return;
    QCOMPARE(status->Style(), style);
    QCOMPARE(status->Text(), text);
    QCOMPARE(status->ClearTimer()->isActive(), clearAfter > 0);
    if (clearAfter > 0)
        QCOMPARE(status->ClearTimer()->interval(), clearAfter);

    bar->SlotShowWarning(static_cast<WIDGET_STATUS_ID>(code), 0);
    QCOMPARE(status->Style(), QStringLiteral("Warning"));
    QCOMPARE(status->Text(), text);
    QVERIFY(!status->ClearTimer()->isActive());
}

void PanelsTest::delayedClearFiresAfterItsDelay()
{
    VelaBottomBar *bar = Bar(550);
    VelaStatusWidget *status = bar->StatusWidget();
    bar->SlotShowStatus(STATUS_ID_SETTING_APPLIED);
    QTimer *timer = status->ClearTimer();
    QCOMPARE(timer->interval(), 5000);
    QVERIFY(timer->isActive());
    // The delay itself is not waited out: the running timer is shortened.
    timer->setInterval(10);
    QTRY_VERIFY(!status->isVisible());
    QVERIFY(!timer->isActive());    // a clear fires once, it does not keep repeating

    // A clear asked for later, and a clear now.
    bar->SlotShowWarning(LongText, 0);
    bar->SlotClearStatus(15);
    QVERIFY(status->isVisible());
    QTRY_VERIFY(!status->isVisible());
    bar->SlotShowWarning(LongText, 0);
    bar->SlotClearStatus(0);
    QVERIFY(!status->isVisible());
}

void PanelsTest::showCancelsAPendingClear()
{
    VelaBottomBar *bar = Bar(550);
    VelaBottomBar *control = Bar(550);
    bar->SlotShowSuccess(QStringLiteral("Setting applied."), 20);
    control->SlotShowSuccess(QStringLiteral("Setting applied."), 30);
    bar->SlotShowLoading(QStringLiteral("Saving..."), 0);
    QTRY_VERIFY(!control->StatusWidget()->isVisible());
    QVERIFY(bar->StatusWidget()->isVisible());
    QCOMPARE(bar->StatusWidget()->Text(), QStringLiteral("Saving..."));

    // The cancelled clear does not come back either.
    control->SlotShowSuccess(QStringLiteral("Setting applied."), 30);
    QTRY_VERIFY(!control->StatusWidget()->isVisible());
    QVERIFY(bar->StatusWidget()->isVisible());
}

void PanelsTest::statusSlotsWorkThroughQueuedCalls()
{
    VelaBottomBar *bar = Bar(550);
    QVERIFY(QMetaObject::invokeMethod(bar, "SlotShowStatus", Qt::QueuedConnection,
                                      Q_ARG(WIDGET_STATUS_ID, STATUS_ID_SAVING)));
    QVERIFY(!bar->StatusWidget()->isVisible());
    QTRY_VERIFY(bar->StatusWidget()->isVisible());
    QCOMPARE(bar->StatusWidget()->Text(), TextById(TextId::WL_COMMON_COMMON_SAVING));

    QVERIFY(QMetaObject::invokeMethod(bar, "SlotClearStatus", Qt::QueuedConnection, Q_ARG(int, 0)));
    QTRY_VERIFY(!bar->StatusWidget()->isVisible());
}

// ---------------------------------------------------------------- bottom bar

void PanelsTest::buttonsAreMadeOncePerRole()
{
    VelaBottomBar *bar = Bar(550);
    QWidget *ok = bar->button(VelaBottomBar::Ok);
    QVERIFY(ok);
    QCOMPARE(bar->button(VelaBottomBar::Ok), ok);
    QCOMPARE(ok->parentWidget(), bar);
    QVERIFY(!ok->isVisible());
    QVERIFY(!bar->button(21));
    QVERIFY(!bar->button(-1));
    bar->AddRightButton(21);
    bar->AddLeftButton(-1);
    QCOMPARE(bar->findChildren<VelaBaseButton *>().size(), 1);
}

void PanelsTest::rolesHaveTheirClassAndText_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("text");

    const QStringList texts = {"Cancel", "Next",   "Previous", "Finish", "Save",    "Close",  "",
                               "Open",   "OK",     "Search",   "Reset",  "Yes",     "No",     "Upgrade",
                               "Select", "Submit", "Apply",    "Download", "Edit", "Replace", ""};
    const QSet<int> white = {0, 2, 5, 9, 10, 12, 18};
    for (int role = 0; role < VelaBottomBar::RoleCount; ++role) {
        const QString className = role == 15 ? "VelaRedButton" : white.contains(role) ? "VelaWhiteButton"
                                                                                     : "VelaBlueButton";
        QTest::newRow(qPrintable(QStringLiteral("role %1").arg(role))) << role << className << texts[role];
    }
}

void PanelsTest::rolesHaveTheirClassAndText()
{
    QFETCH(int, role);
    QFETCH(QString, className);
    QFETCH(QString, text);

    VelaBottomBar *bar = Bar(550);
    auto *button = qobject_cast<VelaBaseButton *>(bar->button(role));
    QVERIFY(button);
    QCOMPARE(QString::fromLatin1(button->metaObject()->className()), className);
    QCOMPARE(button->FullText(), text);
    QVERIFY(button->width() >= 80);
}

void PanelsTest::buttonsLineUpFromTheEdges()
{
    VelaBottomBar *bar = Bar(550);
    bar->AddRightButton(VelaBottomBar::Ok);
    bar->AddRightButton(VelaBottomBar::Cancel);
    bar->AddLeftButton(VelaBottomBar::Reset);
    bar->AddLeftButton(VelaBottomBar::Edit);
    QWidget *ok = bar->button(VelaBottomBar::Ok);
    QWidget *cancel = bar->button(VelaBottomBar::Cancel);
    QWidget *reset = bar->button(VelaBottomBar::Reset);
    QWidget *edit = bar->button(VelaBottomBar::Edit);
    QTRY_VERIFY(ok->isVisible() && ok->x() > 0);

    QCOMPARE(ok->geometry().right(), bar->width() - 1 - 10);
    QCOMPARE(ok->x() - cancel->geometry().right() - 1, 10);
    QCOMPARE(reset->x(), 10);
    QCOMPARE(edit->x() - reset->geometry().right() - 1, 10);
    // The bar's spare width goes to the gap, not to the buttons.
    QCOMPARE(ok->width(), 80);
    QCOMPARE(ok->y(), cancel->y());
    QCOMPARE(bar->height(), 52);

    // Adding a button again moves it instead of doubling it.
    bar->AddRightButton(VelaBottomBar::Ok);
    QCOMPARE(bar->findChildren<VelaBaseButton *>().size(), 4);
    QTRY_VERIFY(ok->x() < cancel->x());
}

void PanelsTest::statusTextGetsTheWidthTheButtonsLeave()
{
    VelaBottomBar *bar = Bar(400);
    bar->AddRightButton(VelaBottomBar::Ok);
    bar->AddRightButton(VelaBottomBar::Cancel);
    bar->SlotShowWarning(LongText, 0);
    VelaElideLabel *label = StatusLabel(bar);
    // Two buttons of 80 with their spacing, the bar's right margin, the icon and its gap.
    QCOMPARE(label->maximumWidth(), 400 - 2 * (80 + 10) - 10 - 24 - 6);
    QTRY_VERIFY(label->text().endsWith(QChar(0x2026)));
    QCOMPARE(label->toolTip(), "<a>" + LongText + "</a>");
    QVERIFY(label->mapTo(bar, QPoint(label->width(), 0)).x() <= bar->button(VelaBottomBar::Cancel)->x());

    bar->resize(900, bar->height());
    QTRY_COMPARE(label->text(), LongText);
}

void PanelsTest::retranslateTakesTheNewLanguage()
{
    VelaBottomBar *bar = Bar(550);
    auto *cancel = qobject_cast<VelaBaseButton *>(bar->button(VelaBottomBar::Cancel));
    QCOMPARE(cancel->FullText(), QStringLiteral("Cancel"));

    VelaLanguage german(QStringLiteral("deu"));
    QCoreApplication::installTranslator(&german);    // posts a language change to every window
    QTRY_COMPARE(cancel->FullText(), QStringLiteral("Abbrechen"));
    QCOMPARE(bar->RoleText(VelaBottomBar::Cancel), QStringLiteral("Abbrechen"));
    QCoreApplication::removeTranslator(&german);
    bar->Retranslate();
    QCOMPARE(cancel->FullText(), QStringLiteral("Cancel"));
}

// ---------------------------------------------------------------- loading mask

void PanelsTest::maskCoversTheWholeWindow()
{
    auto *mask = new VelaLoadingMask(s_window.get());
    QVERIFY(!mask->isVisible());
    mask->move(30, 40);    // wherever it was, it covers the window when shown
    mask->ShowMask(true);
    QCOMPARE(mask->geometry(), QRect(0, 0, 550, 180));
    VelaLoadingWidget *box = mask->LoadingWidget();
    QVERIFY(box->isVisible());
    QVERIFY(qAbs(box->geometry().center().x() - 275) <= 1);
    QVERIFY(qAbs(box->geometry().center().y() - 90) <= 1);
    QCOMPARE(box->Text(), TextById(TextId::WL_COMMON_COMMON_LOADING));

    // The box follows its text, the mask follows its window.
    mask->SetText(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING) + QStringLiteral("..."));
    QVERIFY(qAbs(box->geometry().center().x() - 275) <= 1);
    s_window->resize(700, 300);
    QCOMPARE(mask->geometry(), QRect(0, 0, 700, 300));
    QVERIFY(qAbs(box->geometry().center().y() - 150) <= 1);

    mask->ShowMask(false);
    QVERIFY(mask->isVisible());
    QVERIFY(!box->isVisible());
    mask->HideMask();
    QVERIFY(!mask->isVisible());

    VelaLoadingMask orphan;
    orphan.ShowMask(true);
    QVERIFY(!orphan.isVisible());
}

void PanelsTest::maskBlocksClicksAndSignalsThem()
{
    auto *beneath = new QPushButton(s_window.get());
    beneath->setGeometry(10, 10, 100, 30);
    beneath->show();
    auto *mask = new VelaLoadingMask(s_window.get());
    QSignalSpy clicks(beneath, &QPushButton::clicked);
    QSignalSpy maskClicks(mask, &VelaLoadingMask::SigClicked);
    QVERIFY(QTest::qWaitForWindowExposed(s_window.get()));

    QTest::mouseClick(s_window->windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 20));
    QCOMPARE(clicks.count(), 1);

    mask->ShowMask();
    QTest::mouseClick(s_window->windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 20));
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(maskClicks.count(), 1);

    mask->HideMask();
    QTest::mouseClick(s_window->windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 20));
    QCOMPARE(clicks.count(), 2);
}
