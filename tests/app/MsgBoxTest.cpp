// The message box on its own, run modally the way the window runs it.
#include "MsgBoxTest.h"

#include "AppTestSupport.h"
#include "ConverterMsgBox.h"
#include "TextIds.h"
#include "TextTable.h"
#include "VelaButtons.h"
#include "VelaLabels.h"

#include <QPointer>
#include <QTest>

void MsgBoxTest::keepsItsSizeAndWrapsLongMessages_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("wraps");

    QTest::newRow("one short line") << QStringLiteral("Done.") << false;
    QTest::newRow("long text wraps") << QStringLiteral("The recording could not be read because the disk that holds "
                                                       "it was removed while the conversion was running.")
                                     << true;
}

void MsgBoxTest::keepsItsSizeAndWrapsLongMessages()
{
    QFETCH(QString, message);
    QFETCH(bool, wraps);

    QWidget owner;
    owner.show();
    auto *box = new ConverterMsgBox(&owner, message);
    box->setModal(true);
    BoxAnswerer answerer;
    if (wraps)
        answerer.ScreenshotNextAs(QStringLiteral("app_msgbox_long"));
    box->exec();

    QCOMPARE(answerer.Titles(), QStringList{TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_NAME)});
    QCOMPARE(answerer.Messages(), QStringList{message});
    QCOMPARE(answerer.Sizes(), QList<QSize>{QSize(350, 140)});
    // The text stays inside the box's side margins, however it wraps.
    const QRect inside = QRect(0, 0, 350, 140).marginsRemoved(QMargins(12, 20, 12, 20));
    QVERIFY(inside.contains(answerer.LabelGeometries().value(0)));
    // One line fits the label's minimum height; a wrapped message takes two lines or more.
    const int height = answerer.LabelHeights().value(0);
    if (wraps)
        QVERIFY(height >= 2 * answerer.LineHeight() && height > answerer.LabelMinimumHeight());
    else
        QCOMPARE(height, answerer.LabelMinimumHeight());
}

void MsgBoxTest::closingEitherWayDeletesTheBox_data()
{
    QTest::addColumn<bool>("throughFrame");

    QTest::newRow("OK button") << false;
    QTest::newRow("window frame's close button") << true;
}

void MsgBoxTest::closingEitherWayDeletesTheBox()
{
    QFETCH(bool, throughFrame);

    QWidget owner;
    owner.show();
    auto *box = new ConverterMsgBox(&owner, QStringLiteral("Done."));
    QPointer<ConverterMsgBox> watched(box);
    QCOMPARE(box->findChild<VelaBlueButton *>()->FullText(), TextById(TextId::WL_COMMON_COMMON_OK));
    box->setModal(true);
    int handled = 0;
    connect(box, &QObject::destroyed, &owner, [&handled]() { ++handled; });
    BoxAnswerer answerer(throughFrame);
    box->exec();
    // Gone, and the handler ran, by the time exec() returns.
    QVERIFY(watched.isNull());
    QCOMPARE(handled, 1);
}
