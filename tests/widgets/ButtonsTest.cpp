// Buttons: eliding and tool tips, size hints, cursors, skin sizes, hover signals,
// shadows, and the file buttons' dialogs (answered by a scripted provider).
#include "ButtonsTest.h"

#include "CursorMgr.h"
#include "VelaButtons.h"
#include "VelaFileButton.h"

#include <QHoverEvent>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>

namespace {

std::unique_ptr<QWidget> s_window;

const QString LongText = QStringLiteral("Export the selected recordings to the chosen folder");

VelaBaseButton *Create(const QString &className, QWidget *parent)
{
    const QHash<QString, std::function<VelaBaseButton *()>> factories = {
        {"VelaButton", [parent] { return new VelaButton(parent); }},
        {"VelaWhiteButton", [parent] { return new VelaWhiteButton(parent); }},
        {"VelaBlueButton", [parent] { return new VelaBlueButton(parent); }},
        {"VelaRedButton", [parent] { return new VelaRedButton(parent); }},
        {"VelaYellowButton", [parent] { return new VelaYellowButton(parent); }},
        {"VelaToggleButton", [parent] { return new VelaToggleButton(parent); }},
        {"VelaFileButton", [parent] { return new VelaFileButton(parent); }},
        {"VelaBlueFileButton", [parent] { return new VelaBlueFileButton(parent); }},
        {"VelaFlatButton", [parent] { return new VelaFlatButton(parent); }},
        {"VelaIconButton", [parent] { return new VelaIconButton(parent); }},
        {"VelaOption", [parent] { return new VelaOption(parent); }},
        {"VelaTickButton", [parent] { return new VelaTickButton(parent); }},
        {"VelaTriggerButton", [parent] { return new VelaTriggerButton(parent); }},
    };
    VelaBaseButton *button = factories.value(className)();
    button->show();
    return button;
}

// Answers the file buttons' dialogs with a scripted result and records where each
// dialog started.
class ScriptedDialogs : public VelaFileDialogProvider
{
public:
    QStringList answer;
    QStringList startPaths;
    QStringList kinds;

    QString GetOpenFileName(QWidget *, const QString &startPath, const QString &) override
    {
        Record(QStringLiteral("file"), startPath);
        return answer.value(0);
    }
    QStringList GetOpenFileNames(QWidget *, const QString &startPath, const QString &) override
    {
        Record(QStringLiteral("files"), startPath);
        return answer;
    }
    QString GetExistingDirectory(QWidget *, const QString &startFolder) override
    {
        Record(QStringLiteral("folder"), startFolder);
        return answer.value(0);
    }

private:
    void Record(const QString &kind, const QString &startPath)
    {
        kinds.append(kind);
        startPaths.append(startPath);
    }
};

ScriptedDialogs s_dialogs;

} // namespace

void ButtonsTest::init()
{
    s_window = std::make_unique<QWidget>();
    s_window->resize(600, 200);
    s_window->show();
    s_dialogs = ScriptedDialogs();
    VelaFileButton::SetDialogProvider(&s_dialogs);
    VelaFileButton::SetLastFolder(QString());
}

void ButtonsTest::cleanup()
{
    VelaFileButton::SetDialogProvider(nullptr);
    s_window.reset();
}

void ButtonsTest::textIsElidedWithToolTipOnlyWhenCut_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("alwaysTooltip");
    QTest::addColumn<bool>("cut");

    QTest::newRow("short text fits, no tool tip") << QStringLiteral("OK") << false << false;
    QTest::newRow("short text, tool tip asked for") << QStringLiteral("OK") << true << false;
    QTest::newRow("long text cut, full text in tool tip") << LongText << false << true;
    QTest::newRow("long text cut, tool tip asked for") << LongText << true << true;
    QTest::newRow("markup in a cut text shows literally") << QStringLiteral("<b>Camera 1</b> & the lobby door camera")
                                                          << false << true;
    QTest::newRow("empty text, no tool tip") << QString() << false << false;
    QTest::newRow("empty text, no tool tip even when asked for") << QString() << true << false;
}

void ButtonsTest::textIsElidedWithToolTipOnlyWhenCut()
{
    QFETCH(QString, text);
    QFETCH(bool, alwaysTooltip);
    QFETCH(bool, cut);

    auto *button = new VelaBaseButton(s_window.get(), alwaysTooltip);
    button->show();
    button->resize(120, button->height());
    button->setText(text);

    QCOMPARE(button->FullText(), text);
    if (cut) {
        QVERIFY(button->text() != text);
        QVERIFY(button->text().endsWith(QChar(0x2026)));
        QVERIFY(button->fontMetrics().horizontalAdvance(button->text()) <= button->width());
    } else {
        QCOMPARE(button->text(), text);
    }
    const bool tipExpected = cut || (alwaysTooltip && !text.isEmpty());
    QCOMPARE(button->toolTip(), tipExpected ? "<a>" + text.toHtmlEscaped() + "</a>" : QString());
}

void ButtonsTest::elidedTextGrowsBackWhenWidened()
{
    auto *button = new VelaButton(s_window.get());
    button->show();
    button->resize(100, button->height());
    button->setText(LongText);
    QVERIFY(button->text().endsWith(QChar(0x2026)));
    const QString narrow = button->text();

    button->resize(180, button->height());
    QVERIFY(button->text().length() > narrow.length());

    button->resize(500, button->height());
    QCOMPARE(button->text(), LongText);
    QVERIFY(button->toolTip().isEmpty());

    button->resize(100, button->height());
    QCOMPARE(button->text(), narrow);
}

void ButtonsTest::sizeHintMeasuresTheFullTextOrXXXX()
{
    auto *empty = new VelaButton(s_window.get());
    auto *xxxx = new VelaButton(QStringLiteral("XXXX"), s_window.get());
    auto *shortText = new VelaButton(QStringLiteral("X"), s_window.get());
    QCOMPARE(empty->sizeHint(), xxxx->sizeHint());
    QVERIFY(shortText->sizeHint().width() < empty->sizeHint().width());

    // A cut text still asks for the room of the whole text.
    auto *cut = new VelaButton(s_window.get());
    cut->show();
    cut->resize(100, cut->height());
    cut->setText(LongText);
    QVERIFY(cut->text() != LongText);
    QVERIFY(cut->sizeHint().width() > cut->fontMetrics().horizontalAdvance(LongText));
}

void ButtonsTest::cursorFollowsTheEnabledState_data()
{
    QTest::addColumn<QString>("className");
    for (const char *name : {"VelaButton", "VelaBlueButton", "VelaFlatButton", "VelaFileButton", "VelaTriggerButton"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void ButtonsTest::cursorFollowsTheEnabledState()
{
    QFETCH(QString, className);
    VelaBaseButton *button = Create(className, s_window.get());
    QCOMPARE(button->cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(!button->focusPolicy());

    button->setEnabled(false);
    QCOMPARE(button->cursor().shape(), Qt::ArrowCursor);
    button->setEnabled(true);
    QCOMPARE(button->cursor().shape(), Qt::PointingHandCursor);

    // Disabled through the parent as well.
    s_window->setEnabled(false);
    QCOMPARE(button->cursor().shape(), Qt::ArrowCursor);
    s_window->setEnabled(true);
    QCOMPARE(button->cursor().shape(), Qt::PointingHandCursor);
}

void ButtonsTest::sizesComeFromTheSkin_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<int>("minimumWidth");
    for (const char *name : {"VelaWhiteButton", "VelaBlueButton", "VelaRedButton", "VelaYellowButton"})
        QTest::newRow(name) << QString::fromLatin1(name) << 80;
    for (const char *name : {"VelaButton", "VelaToggleButton", "VelaFileButton", "VelaBlueFileButton",
                             "VelaFlatButton", "VelaIconButton", "VelaOption", "VelaTickButton", "VelaTriggerButton"})
        QTest::newRow(name) << QString::fromLatin1(name) << 28;
}

void ButtonsTest::sizesComeFromTheSkin()
{
    QFETCH(QString, className);
    QFETCH(int, minimumWidth);
    VelaBaseButton *button = Create(className, s_window.get());
    button->setText(QStringLiteral("OK"));
    button->resize(10, 60);
    QCOMPARE(button->height(), 28);
    QCOMPARE(button->width(), minimumWidth);
    QCOMPARE(button->font().pixelSize(), 12);
    QCOMPARE(button->sizePolicy().horizontalPolicy(), QSizePolicy::MinimumExpanding);
}

void ButtonsTest::hoverEventsAreSignalled()
{
    auto *button = new VelaBlueButton(s_window.get());
    QSignalSpy enter(button, &VelaBaseButton::SigMouseEnter);
    QSignalSpy leave(button, &VelaBaseButton::SigMouseLeave);

    QHoverEvent in(QEvent::HoverEnter, QPointF(5, 5), QPointF(-1, -1));
    QCoreApplication::sendEvent(button, &in);
    QCOMPARE(enter.count(), 1);
    QCOMPARE(leave.count(), 0);
    QHoverEvent out(QEvent::HoverLeave, QPointF(-1, -1), QPointF(5, 5));
    QCoreApplication::sendEvent(button, &out);
    QCOMPARE(enter.count(), 1);
    QCOMPARE(leave.count(), 1);
}

void ButtonsTest::triggerButtonShowsLegalityAndAlwaysItsText()
{
    auto *trigger = new VelaTriggerButton(s_window.get());
    QVERIFY(trigger->isCheckable());
    QCOMPARE(trigger->property("Legal").toBool(), true);
    trigger->setText(QStringLiteral("OK"));
    QCOMPARE(trigger->toolTip(), QStringLiteral("<a>OK</a>"));

    QVERIFY(trigger->setProperty("Legal", false));
    QCOMPARE(trigger->IsLegal(), false);
    trigger->SetLegal(true);
    QCOMPARE(trigger->property("Legal").toBool(), true);

    auto *separator = new VelaMenuSeparator(s_window.get());
    QCOMPARE(separator->height(), 5);
    QVERIFY(!separator->isEnabled());
    QCOMPARE(separator->cursor().shape(), Qt::ArrowCursor);
}

void ButtonsTest::fileDialogsReportOnlyWhatWasChosen_data()
{
    QTest::addColumn<bool>("directoryMode");
    QTest::addColumn<bool>("multiple");
    QTest::addColumn<QStringList>("answer");
    QTest::addColumn<QString>("selected");        // SigFileSelected, empty: not emitted
    QTest::addColumn<int>("multiSelected");       // size of SigMultiFileSelected's list, -1: not emitted
    QTest::addColumn<QString>("currentPath");
    QTest::addColumn<QString>("lastFolder");

    const QString home = QDir::homePath();
    QTest::newRow("file chosen") << false << false << QStringList{"/rec/a/clip.mp4"} << "/rec/a/clip.mp4" << -1
                                 << "/rec/a/clip.mp4"
                                 << "/rec/a";
    QTest::newRow("file dialog cancelled") << false << false << QStringList() << QString() << -1 << home
                                           << "/start";
    QTest::newRow("folder chosen") << true << false << QStringList{"/rec/out"} << "/rec/out" << -1 << "/rec/out"
                                   << "/start";
    QTest::newRow("folder dialog cancelled") << true << false << QStringList() << QString() << -1 << QString()
                                             << "/start";
    QTest::newRow("files chosen") << false << true << QStringList{"", "/rec/b/1.mp4", "/rec/b/2.mp4"} << QString()
                                  << 3 << "/rec/b/1.mp4"
                                  << "/rec/b";
    QTest::newRow("files dialog cancelled") << false << true << QStringList() << QString() << -1 << home
                                            << "/start";
}

void ButtonsTest::fileDialogsReportOnlyWhatWasChosen()
{
    QFETCH(bool, directoryMode);
    QFETCH(bool, multiple);
    QFETCH(QStringList, answer);
    QFETCH(QString, selected);
    QFETCH(int, multiSelected);
    QFETCH(QString, currentPath);
    QFETCH(QString, lastFolder);

    VelaFileButton::SetLastFolder(QStringLiteral("/start"));
    s_dialogs.answer = answer;
    auto *button = new VelaFileButton(s_window.get(), false, directoryMode, multiple);
    QSignalSpy single(button, &VelaFileButton::SigFileSelected);
    QSignalSpy several(button, &VelaFileButton::SigMultiFileSelected);
    QSignalSpy mask(button, &VelaFileButton::SigLoadingMask);
    button->click();

    QCOMPARE(s_dialogs.kinds.size(), 1);
    QCOMPARE(single.count(), selected.isEmpty() ? 0 : 1);
    if (!selected.isEmpty())
        QCOMPARE(single.at(0).at(0).toString(), selected);
    QCOMPARE(several.count(), multiSelected < 0 ? 0 : 1);
    if (multiSelected >= 0)
        QCOMPARE(several.at(0).at(0).toStringList().size(), multiSelected);
    QCOMPARE(button->CurrentPath(), currentPath);
    QCOMPARE(VelaFileButton::LastFolder(), lastFolder);
    // The owner may dim itself while the dialog is open.
    QCOMPARE(mask.count(), 2);
    QCOMPARE(mask.at(0).at(0).toBool(), true);
    QCOMPARE(mask.at(1).at(0).toBool(), false);
}

void ButtonsTest::dialogsStartWhereTheLastChoiceWas()
{
    const QString home = QDir::homePath();
    auto *source = new VelaFileButton(s_window.get(), false, false, false);
    auto *target = new VelaFileButton(s_window.get(), false, true, false);

    target->click();    // before any file was chosen: home
    s_dialogs.answer = QStringList{"/rec/a/clip.mp4"};
    source->click();    // first time: home
    source->click();    // then at the chosen file
    s_dialogs.answer = QStringList{"/elsewhere/out"};
    target->click();    // at the chosen file's folder
    target->click();    // a chosen folder does not move it
    QCOMPARE(s_dialogs.kinds, QStringList({"folder", "file", "file", "folder", "folder"}));
    QCOMPARE(s_dialogs.startPaths, QStringList({home, home, "/rec/a/clip.mp4", "/rec/a", "/rec/a"}));
}

void ButtonsTest::missingMediumOpensNoDialog()
{
    auto *button = new VelaFileButton(s_window.get(), false, false, false);
    QSignalSpy noUsb(button, &VelaFileButton::SigNoUsb);
    QSignalSpy selected(button, &VelaFileButton::SigFileSelected);
    button->SetMediaRoot(QSharedPointer<QDir>::create(QStringLiteral("/nonexistent/usb-medium")));
    s_dialogs.answer = QStringList{"/rec/a/clip.mp4"};
    button->click();
    QCOMPARE(noUsb.count(), 1);
    QCOMPARE(selected.count(), 0);
    QVERIFY(s_dialogs.kinds.isEmpty());

    const QString medium = QDir::tempPath();
    button->SetMediaRoot(QSharedPointer<QDir>::create(medium));
    button->click();
    QCOMPARE(noUsb.count(), 1);
    QCOMPARE(s_dialogs.startPaths, QStringList{QDir(medium).absolutePath()});
    QCOMPARE(selected.count(), 1);
}
