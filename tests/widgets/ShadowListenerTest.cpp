// The event listener's signals and filtering, and the shadows that follow a target
// through it.
#include "ShadowListenerTest.h"

#include "VelaButtons.h"
#include "VelaListener.h"
#include "VelaShadow.h"

#include <QApplication>
#include <QMargins>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(QMargins)

namespace {

std::unique_ptr<QWidget> s_window;

QWidget *Target(QWidget *parent, const QRect &geometry)
{
    auto *target = new QWidget(parent);
    target->setGeometry(geometry);
    return target;
}

int StackIndex(QWidget *widget)
{
    return widget->parentWidget()->children().indexOf(widget);
}

} // namespace

void ShadowListenerTest::initTestCase()
{
    // The spies keep the signals' event arguments.
    qRegisterMetaType<QMouseEvent *>("QMouseEvent*");
    qRegisterMetaType<QResizeEvent *>("QResizeEvent*");
    qRegisterMetaType<QMoveEvent *>("QMoveEvent*");
    qRegisterMetaType<QShowEvent *>("QShowEvent*");
    qRegisterMetaType<QHideEvent *>("QHideEvent*");
    qRegisterMetaType<QCloseEvent *>("QCloseEvent*");
    qRegisterMetaType<QEvent *>("QEvent*");
}

void ShadowListenerTest::init()
{
    s_window = std::make_unique<QWidget>();
    s_window->resize(400, 300);
    s_window->show();
}

void ShadowListenerTest::cleanup()
{
    s_window.reset();
}

// ---------------------------------------------------------------- listener

void ShadowListenerTest::mouseSignalsAreForTheLeftButtonOnly_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("pressed");
    QTest::addColumn<int>("released");
    QTest::addColumn<int>("doubleClicked");

    QTest::newRow("left press") << int(Qt::LeftButton) << int(QEvent::MouseButtonPress) << 1 << 0 << 0;
    QTest::newRow("left release") << int(Qt::LeftButton) << int(QEvent::MouseButtonRelease) << 0 << 1 << 0;
    QTest::newRow("left double click") << int(Qt::LeftButton) << int(QEvent::MouseButtonDblClick) << 0 << 0 << 1;
    QTest::newRow("right press") << int(Qt::RightButton) << int(QEvent::MouseButtonPress) << 0 << 0 << 0;
    QTest::newRow("right release") << int(Qt::RightButton) << int(QEvent::MouseButtonRelease) << 0 << 0 << 0;
    QTest::newRow("right double click") << int(Qt::RightButton) << int(QEvent::MouseButtonDblClick) << 0 << 0 << 0;
    QTest::newRow("middle press") << int(Qt::MiddleButton) << int(QEvent::MouseButtonPress) << 0 << 0 << 0;
}

void ShadowListenerTest::mouseSignalsAreForTheLeftButtonOnly()
{
    QFETCH(int, button);
    QFETCH(int, type);
    QFETCH(int, pressed);
    QFETCH(int, released);
    QFETCH(int, doubleClicked);

    QWidget *watched = Target(s_window.get(), QRect(10, 10, 50, 50));
    auto *listener = new VelaListener(watched);
    QCOMPARE(listener->parent(), watched);
    QSignalSpy pressSpy(listener, &VelaListener::SigMouseLeftPressed);
    QSignalSpy releaseSpy(listener, &VelaListener::SigMouseLeftReleased);
    QSignalSpy doubleSpy(listener, &VelaListener::SigMouseLeftDoubleClicked);

    const auto mouseButton = static_cast<Qt::MouseButton>(button);
    QMouseEvent event(static_cast<QEvent::Type>(type), QPointF(5, 5), mouseButton, mouseButton, Qt::NoModifier);
    QCoreApplication::sendEvent(watched, &event);
    QCOMPARE(pressSpy.count(), pressed);
    QCOMPARE(releaseSpy.count(), released);
    QCOMPARE(doubleSpy.count(), doubleClicked);
    for (const QSignalSpy *spy : {&pressSpy, &releaseSpy, &doubleSpy}) {
        if (!spy->isEmpty())
            QCOMPARE(spy->at(0).at(0).value<QWidget *>(), watched);
    }
}

void ShadowListenerTest::widgetEventsAreSignalled()
{
    QWidget *watched = Target(s_window.get(), QRect(10, 10, 50, 50));
    watched->show();
    Target(s_window.get(), QRect(0, 0, 20, 20))->show();    // above it, so raising changes the order
    auto *listener = new VelaListener(watched);
    QSignalSpy resized(listener, &VelaListener::SigResizeListened);
    QSignalSpy moved(listener, &VelaListener::SigMoveListened);
    QSignalSpy hidden(listener, &VelaListener::SigHideListened);
    QSignalSpy hiddenToParent(listener, &VelaListener::SigHideToParentListened);
    QSignalSpy shown(listener, &VelaListener::SigShowListened);
    QSignalSpy enabled(listener, &VelaListener::SigEnableChangedListened);
    QSignalSpy zOrder(listener, &VelaListener::SigZOrderChangedListened);
    QSignalSpy closed(listener, &VelaListener::SigCloseListened);

    watched->resize(80, 40);
    watched->move(20, 30);
    watched->raise();
    watched->setEnabled(false);
    watched->hide();
    watched->show();
    watched->close();
    QCOMPARE(resized.count(), 1);
    QCOMPARE(resized.at(0).at(0).value<QWidget *>(), watched);
    QCOMPARE(moved.count(), 1);
    QCOMPARE(zOrder.count(), 1);
    QCOMPARE(enabled.count(), 1);
    QCOMPARE(hidden.count(), 2);    // hide() and close()
    QCOMPARE(hiddenToParent.count(), 2);
    QCOMPARE(shown.count(), 1);
    QCOMPARE(closed.count(), 1);

    // A watched object that is not a widget is signalled with a null widget.
    QObject plain;
    auto *plainListener = new VelaListener(&plain);
    QSignalSpy layout(plainListener, &VelaListener::SigLayoutRequest);
    QEvent request(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(&plain, &request);
    QCOMPARE(layout.count(), 1);
    QCOMPARE(layout.at(0).at(0).value<QWidget *>(), nullptr);
}

void ShadowListenerTest::receiverMayStopTheEvent()
{
    auto *button = new QPushButton(s_window.get());
    button->setGeometry(10, 10, 80, 30);
    button->show();
    auto *listener = new VelaListener(button);
    int stopped = 0;
    connect(listener, &VelaListener::SigMouseLeftPressed, listener, [listener, &stopped]() {
        if (stopped++ == 0)
            listener->SetFilterResult(true);    // only the first press
    });
    QSignalSpy clicked(button, &QPushButton::clicked);

    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(clicked.count(), 0);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
}

// ---------------------------------------------------------------- shadows

void ShadowListenerTest::shadowFollowsItsTarget()
{
    QWidget *target = Target(s_window.get(), QRect(50, 50, 100, 30));
    auto *shadow = new VelaButtonShadow(target);
    QCOMPARE(shadow->parentWidget(), s_window.get());
    QVERIFY(shadow->testAttribute(Qt::WA_TransparentForMouseEvents));
    QVERIFY(!shadow->isVisible());

    target->show();
    QVERIFY(shadow->isVisible());
    QCOMPARE(shadow->geometry(), QRect(46, 46, 108, 38));
    target->move(70, 90);
    QCOMPARE(shadow->geometry(), QRect(66, 86, 108, 38));
    target->resize(200, 50);
    QCOMPARE(shadow->geometry(), QRect(66, 86, 208, 58));

    target->hide();
    QVERIFY(!shadow->isVisible());
    target->show();
    QVERIFY(shadow->isVisible());

    // Hidden and shown with the window around both.
    s_window->hide();
    s_window->show();
    QVERIFY(shadow->isVisible());
    QCOMPARE(shadow->geometry(), QRect(66, 86, 208, 58));
}

void ShadowListenerTest::shadowLiesDirectlyUnderItsTarget()
{
    auto *button = new VelaButton(s_window.get());
    QWidget *other = Target(s_window.get(), QRect(0, 0, 50, 50));
    other->show();
    button->show();
    VelaShadow *shadow = button->Shadow();
    QCOMPARE(StackIndex(shadow), StackIndex(button) - 1);

    other->raise();
    button->raise();
    QCOMPARE(StackIndex(shadow), StackIndex(button) - 1);
    button->lower();
    QCOMPARE(StackIndex(shadow), StackIndex(button) - 1);
}

void ShadowListenerTest::shadowMovesWithItsTargetToANewParent()
{
    // Without a parent there is nothing to draw in: the shadow never becomes a window.
    auto window = std::make_unique<QWidget>();
    auto *windowShadow = new VelaButtonShadow(window.get());
    window->show();
    QVERIFY(!windowShadow->isVisible());

    auto *target = new QWidget;
    target->resize(60, 20);
    auto *shadow = new VelaButtonShadow(target);
    QWidget *panel = Target(s_window.get(), QRect(100, 50, 200, 200));
    panel->show();
    target->setParent(panel);
    target->move(10, 10);
    target->show();
    QCOMPARE(shadow->parentWidget(), panel);
    QVERIFY(shadow->isVisible());
    QCOMPARE(shadow->geometry(), QRect(6, 6, 68, 28));

    // A shadow in an explicit parent stays there and maps the target into it.
    auto *panelShadow = new VelaWidgetShadow(target, s_window.get());
    QCOMPARE(panelShadow->parentWidget(), s_window.get());
    QVERIFY(panelShadow->isVisible());
    QCOMPARE(panelShadow->geometry(), QRect(105, 55, 70, 30));
}

void ShadowListenerTest::shadowDiesWithItsTarget()
{
    QWidget *target = Target(s_window.get(), QRect(50, 50, 100, 30));
    QPointer<VelaShadow> shadow = new VelaWindowShadow(target);
    target->show();
    delete target;
    QTRY_VERIFY(shadow.isNull());

    auto *button = new VelaBlueButton(s_window.get());
    QPointer<VelaShadow> buttonShadow = button->Shadow();
    QVERIFY(!buttonShadow.isNull());
    delete button;
    QTRY_VERIFY(buttonShadow.isNull());
}

void ShadowListenerTest::variantsReachAsFarAsTheSkinSays_data()
{
    QTest::addColumn<QString>("variant");
    QTest::addColumn<QMargins>("borders");

    QTest::newRow("button") << "button" << QMargins(4, 4, 4, 4);
    QTest::newRow("widget") << "widget" << QMargins(5, 5, 5, 5);
    QTest::newRow("window") << "window" << QMargins(11, 7, 11, 15);
    QTest::newRow("drop-down") << "cmb" << QMargins(1, 1, 1, 1);
}

void ShadowListenerTest::variantsReachAsFarAsTheSkinSays()
{
    QFETCH(QString, variant);
    QFETCH(QMargins, borders);

    QWidget *target = Target(s_window.get(), QRect(100, 100, 120, 80));
    VelaShadow *shadow = nullptr;
    if (variant == "button")
        shadow = new VelaButtonShadow(target);
    else if (variant == "widget")
        shadow = new VelaWidgetShadow(target, s_window.get());
    else if (variant == "window")
        shadow = new VelaWindowShadow(target);
    else
        shadow = new VelaCmbShadow(target);
    target->show();
    QCOMPARE(shadow->Borders(), borders);
    QCOMPARE(shadow->geometry(), target->geometry().marginsAdded(borders));

    // The shadow darkens the band around the target and leaves the rest alone.
    const QImage image = s_window->grab().toImage();
    const qreal ratio = image.devicePixelRatio();
    const QColor bare = image.pixelColor(QPoint(5, 5) * ratio);
    const QPoint below(target->geometry().center().x(), target->geometry().bottom() + 1);
    const QColor band = image.pixelColor(below * ratio);
    QVERIFY(band.lightness() < bare.lightness());
}
