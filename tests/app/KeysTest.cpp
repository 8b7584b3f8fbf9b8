// The window's keyboard access, Select's folder choice, the remembered folders and the
// command line's recordings, driven through the real window with the stand-in engine.
#include "KeysTest.h"

#include "AppTestSupport.h"
#include "CommandLineSources.h"
#include "ConversionOptions.h"
#include "ConverterMsgBox.h"
#include "RecordingFilter.h"
#include "RememberedFolders.h"
#include "TextIds.h"
#include "TextTable.h"
#include "TranscoderWin.h"
#include "VelaButtons.h"
#include "VelaLineEdit.h"
#include "fixture_gen.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPainter>
#include <QRegExp>
#include <QSettings>
#include <QTest>

namespace {

ScriptedDialogs s_dialogs;

// The controls in their Tab order, by name.
const QStringList TabOrder{"source", "select",   "destination", "change", "keep",
                            "evidence", "join", "time",        "ok",     "info"};

QWidget *Control(const WindowParts &parts, const QString &name)
{
    const QList<QWidget *> controls{parts.source, parts.sourceButton, parts.destination, parts.destinationButton,
                                    parts.keepVideo, parts.evidence, parts.join, parts.time,
                                    parts.ok, parts.about};
    return controls.value(TabOrder.indexOf(name));
}

QString NameOf(const WindowParts &parts, const QWidget *widget)
{
    for (const QString &name : TabOrder)
        if (Control(parts, name) == widget)
            return name;
    return widget ? QString::fromLatin1(widget->metaObject()->className()) : QStringLiteral("nothing");
}

QString FocusName(const WindowParts &parts)
{
    return NameOf(parts, QApplication::focusWidget());
}

void Settle()
{
    QApplication::processEvents();
    QApplication::processEvents();
}

// A folder with two recordings and a note that is none.
QString RecordingsFolder(const QString &name)
{
    const QString folder = ScratchFolder(name);
    for (const char *file : {"/a.ts", "/b.ts"})
        QFile::copy(QString::fromStdString(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs)),
                    folder + QLatin1String(file));
    QFile note(folder + QStringLiteral("/notes.txt"));
    if (note.open(QIODevice::WriteOnly))
        note.write("north gate\n");
    return folder;
}

// The window with an open menu drawn where it stands over it.
QImage WithPopup(QWidget *window, QWidget *popup)
{
    QImage picture = window->grab().toImage();
    QPainter painter(&picture);
    painter.drawImage(window->mapFromGlobal(popup->mapToGlobal(QPoint())), popup->grab().toImage());
    return picture;
}

void ForgetEverything()
{
    QSettings settings;
    for (const char *key : {RememberedFolders::SourceKey, RememberedFolders::DestinationKey,
                            ConversionOptions::KeepVideoKey, ConversionOptions::EvidenceKey,
                            ConversionOptions::JoinKey, ConversionOptions::TimeKey})
        settings.remove(QLatin1String(key));
}

} // namespace

void KeysTest::init()
{
    FakeEngine::Install();
    VelaFileButton::SetDialogProvider(&s_dialogs);
    VelaFileButton::SetLastFolder(QString());
    s_dialogs = ScriptedDialogs();
    ForgetEverything();
}

void KeysTest::cleanup()
{
    FakeEngine::Uninstall();
    VelaFileButton::SetDialogProvider(nullptr);
    ForgetEverything();
}

void KeysTest::tabReachesEveryControlInOrder_data()
{
    QTest::addColumn<bool>("filled");
    QTest::addColumn<QStringList>("order");

    QTest::newRow("both fields filled: OK in the round")
        << true
        << QStringList{"select", "destination", "change", "keep", "evidence", "join", "time", "ok", "info", "source"};
    QTest::newRow("fields empty: the disabled OK is passed over")
        << false
        << QStringList{"select", "destination", "change", "keep", "evidence", "join", "time", "info", "source"};
}

void KeysTest::tabReachesEveryControlInOrder()
{
    QFETCH(bool, filled);
    QFETCH(QStringList, order);
    auto window = ShownWindow();
    WindowParts parts(window.get());
    if (filled)
        ChooseSource(s_dialogs, parts, ScratchFolder(QStringLiteral("keys_tab")) + QStringLiteral("/gate.ts"));
    QCOMPARE(parts.ok->isEnabled(), filled);
    parts.source->setFocus(Qt::TabFocusReason);
    QStringList forward;
    for (int i = 0; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        forward.append(FocusName(parts));
    }
    QCOMPARE(forward, order);
    // And back the same way.
    QStringList backward;
    for (int i = 0; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        backward.prepend(FocusName(parts));
    }
    QCOMPARE(backward, QStringList{"source"} + order.mid(0, order.size() - 1));
}

void KeysTest::everyControlShowsItsFocus()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, ScratchFolder(QStringLiteral("keys_focus")) + QStringLiteral("/gate.ts"));
    QStringList unchanged;
    for (const QString &name : TabOrder) {
        QWidget *control = Control(parts, name);
        // Away from it, then onto it: the picture must tell the difference.
        Control(parts, name == QLatin1String("source") ? QStringLiteral("destination") : QStringLiteral("source"))
            ->setFocus(Qt::TabFocusReason);
        Settle();
        const QImage away = control->grab().toImage();
        control->setFocus(Qt::TabFocusReason);
        Settle();
        QCOMPARE(FocusName(parts), name);
        if (control->grab().toImage() == away)
            unchanged.append(name);
        if (name == QLatin1String("select") || name == QLatin1String("ok") || name == QLatin1String("keep"))
            SaveScreenshot(window.get(), QStringLiteral("app_keys_focus_") + name);
    }
    QVERIFY2(unchanged.isEmpty(), qPrintable(QStringLiteral("no focus shown on: ") + unchanged.join(", ")));
}

void KeysTest::keysActInPlaceOfTheirControls_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("effect");
    QTest::addColumn<QString>("shownOn");   // the control whose tool tip or menu entry names the key

    QTest::newRow("Alt+S opens Select's menu") << int(Qt::Key_S) << int(Qt::AltModifier) << "menu" << "select";
    QTest::newRow("Ctrl+O opens the recordings dialog")
        << int(Qt::Key_O) << int(Qt::ControlModifier) << "files" << "files entry";
    QTest::newRow("Ctrl+Shift+O opens the folder dialog")
        << int(Qt::Key_O) << int(Qt::ControlModifier | Qt::ShiftModifier) << "folder" << "folder entry";
    QTest::newRow("Alt+D opens the destination dialog")
        << int(Qt::Key_D) << int(Qt::AltModifier) << "destination" << "change";
    QTest::newRow("Alt+K ticks the first box") << int(Qt::Key_K) << int(Qt::AltModifier) << "keep" << "keep";
    QTest::newRow("Alt+E ticks the second box") << int(Qt::Key_E) << int(Qt::AltModifier) << "evidence"
                                                 << "evidence";
    QTest::newRow("Alt+J ticks the third box") << int(Qt::Key_J) << int(Qt::AltModifier) << "join" << "join";
    QTest::newRow("Alt+T ticks the fourth box") << int(Qt::Key_T) << int(Qt::AltModifier) << "time" << "time";
    QTest::newRow("Ctrl+Return starts") << int(Qt::Key_Return) << int(Qt::ControlModifier) << "start" << "ok";
    QTest::newRow("Ctrl+Enter on the keypad starts")
        << int(Qt::Key_Enter) << int(Qt::ControlModifier | Qt::KeypadModifier) << "start" << "";
    QTest::newRow("F1 shows the about box") << int(Qt::Key_F1) << int(Qt::NoModifier) << "about" << "info";
    // Plain letters are typed, not taken as keys of the window.
    QTest::newRow("S alone is typed into the field") << int(Qt::Key_S) << int(Qt::NoModifier) << "typed" << "";
}

void KeysTest::keysActInPlaceOfTheirControls()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, effect);
    QFETCH(QString, shownOn);
    const QString scratch = ScratchFolder(QStringLiteral("keys_act"));
    const QString first = scratch + QStringLiteral("/first.ts");
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, first);
    parts.source->setFocus(Qt::TabFocusReason);
    QTest::keyClick(parts.source, Qt::Key_End);
    s_dialogs.file = scratch + QStringLiteral("/second.ts");
    s_dialogs.folder = effect == QLatin1String("folder") ? RecordingsFolder(QStringLiteral("keys_act_folder"))
                                                         : ScratchFolder(QStringLiteral("keys_act_out"));
    BoxAnswerer answerer;

    // The key is named where the user looks for it.
    const QString keyText = QKeySequence(key | modifiers).toString(QKeySequence::NativeText);
    QMenu *menu = parts.sourceButton->ChoiceMenu();
    QVERIFY(menu && menu->actions().size() == 2);
    if (shownOn == QLatin1String("files entry") || shownOn == QLatin1String("folder entry")) {
        const QAction *entry = menu->actions().value(shownOn == QLatin1String("files entry") ? 0 : 1);
        QVERIFY2(entry->text().endsWith(QLatin1Char('\t') + keyText), qPrintable(entry->text()));
    } else if (!shownOn.isEmpty()) {
        const QString toolTip = Control(parts, shownOn)->toolTip();
        QVERIFY2(toolTip.contains(keyText), qPrintable(toolTip + " lacks " + keyText));
    }

    QTest::keyClick(parts.source, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    if (effect == QLatin1String("menu")) {
        QTRY_VERIFY(menu->isVisible());
        menu->hide();
    } else if (effect == QLatin1String("files")) {
        QCOMPARE(parts.source->text(), s_dialogs.file);
    } else if (effect == QLatin1String("folder")) {
        QTRY_COMPARE(window->QueuedSources(), (QStringList{s_dialogs.folder + "/a.ts", s_dialogs.folder + "/b.ts"}));
    } else if (effect == QLatin1String("destination")) {
        QCOMPARE(parts.destination->text(), s_dialogs.folder);
    } else if (QStringList{"keep", "evidence", "join", "time"}.contains(effect)) {
        auto *box = qobject_cast<QCheckBox *>(Control(parts, effect));
        QVERIFY(box && box->isChecked());
        QCOMPARE(QApplication::focusWidget(), box);
        QCOMPARE(parts.keepVideo->isChecked() + parts.evidence->isChecked() + parts.join->isChecked() +
                     parts.time->isChecked(),
                 1);
    } else if (effect == QLatin1String("start")) {
        QTRY_COMPARE(FakeEngine::Runs(), 1);
        QTRY_VERIFY(!parts.MaskShown());
    } else if (effect == QLatin1String("about")) {
        QTRY_COMPARE(answerer.Messages().size(), 1);
        QVERIFY(answerer.Messages().first().startsWith(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_NAME)));
    } else if (effect == QLatin1String("typed")) {
        QVERIFY(!menu->isVisible());
        QCOMPARE(parts.source->text(), first + QLatin1Char('s'));
    }
    if (effect != QLatin1String("start"))
        QCOMPARE(FakeEngine::Runs(), 0);
    if (effect != QLatin1String("about"))
        QCOMPARE(answerer.Messages().size(), 0);
}

void KeysTest::keysDoNothingUnderTheMask()
{
    const QString scratch = ScratchFolder(QStringLiteral("keys_masked"));
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, scratch + QStringLiteral("/first.ts"));
    const QString destination = parts.destination->text();
    s_dialogs.file = scratch + QStringLiteral("/second.ts");
    s_dialogs.folder = scratch;
    BoxAnswerer answerer;
    FakeEngine::SetBlocking(true);
    parts.ok->click();
    QTRY_COMPARE(FakeEngine::Runs(), 1);
    QVERIFY(parts.MaskShown());
    const QList<QKeySequence> keys{TranscoderWin::SelectKey(),      TranscoderWin::FilesKey(),
                                   TranscoderWin::FolderKey(),      TranscoderWin::DestinationKey(),
                                   TranscoderWin::KeepVideoKey(),   TranscoderWin::EvidenceKey(),
                                   TranscoderWin::JoinKey(),        TranscoderWin::TimeKey(),
                                   TranscoderWin::StartKey(),       TranscoderWin::AboutKey()};
    for (const QKeySequence &key : keys) {
        const int combined = key[0];
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window.get(),
                        Qt::Key(combined & ~Qt::KeyboardModifierMask),
                        Qt::KeyboardModifiers(combined & Qt::KeyboardModifierMask));
    }
    Settle();
    QVERIFY(!parts.sourceButton->ChoiceMenu()->isVisible());
    QCOMPARE(parts.source->text(), scratch + QStringLiteral("/first.ts"));
    QCOMPARE(parts.destination->text(), destination);
    QVERIFY(!parts.keepVideo->isChecked() && !parts.evidence->isChecked());
    QVERIFY(!parts.join->isChecked() && !parts.time->isChecked());
    QCOMPARE(answerer.Messages().size(), 0);
    QCOMPARE(FakeEngine::Runs(), 1);
    FakeEngine::Release();
    QTRY_VERIFY(!parts.MaskShown());
}

void KeysTest::fieldsShowErrorsOnlyOnceTheyMatter_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("sourceLegal");
    QTest::addColumn<bool>("destinationLegal");

    QTest::newRow("Tab through both empty fields") << "tab" << true << true;
    QTest::newRow("Enter in the empty source field") << "enter" << false << false;
    QTest::newRow("Ctrl+Return with both empty") << "start" << false << false;
    QTest::newRow("source typed into, then emptied") << "edit" << false << true;
    QTest::newRow("source typed into, left filled") << "type" << true << true;
    QTest::newRow("Enter with only the source filled") << "enter half" << true << false;
}

void KeysTest::fieldsShowErrorsOnlyOnceTheyMatter()
{
    QFETCH(QString, action);
    QFETCH(bool, sourceLegal);
    QFETCH(bool, destinationLegal);
    auto window = ShownWindow();
    WindowParts parts(window.get());
    parts.source->setFocus(Qt::TabFocusReason);
    if (action == QLatin1String("tab")) {
        for (int i = 0; i < 2 * TabOrder.size(); ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    } else if (action == QLatin1String("enter")) {
        QTest::keyClick(parts.source, Qt::Key_Return);
    } else if (action == QLatin1String("start")) {
        QTest::keyClick(parts.source, Qt::Key_Return, Qt::ControlModifier);
    } else if (action == QLatin1String("edit") || action == QLatin1String("type")) {
        QTest::keyClicks(parts.source, QStringLiteral("/rec/a.ts"));
        if (action == QLatin1String("edit"))
            for (int i = 0; i < 9; ++i)
                QTest::keyClick(parts.source, Qt::Key_Backspace);
        QTest::keyClick(parts.source, Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    } else if (action == QLatin1String("enter half")) {
        QTest::keyClicks(parts.source, QStringLiteral("/rec/a.ts"));
        QTest::keyClick(parts.source, Qt::Key_Return);
    }
    Settle();
    QCOMPARE(parts.source->IsLegal(), sourceLegal);
    QCOMPARE(parts.destination->IsLegal(), destinationLegal);
    // What the style sheet paints red.
    QCOMPARE(parts.source->property("Legal").toBool(), sourceLegal);
    QCOMPARE(parts.destination->property("Legal").toBool(), destinationLegal);
    QCOMPARE(FakeEngine::Runs(), 0);
    if (action == QLatin1String("enter"))
        SaveScreenshot(window.get(), QStringLiteral("app_keys_fields_after_enter"));
}

void KeysTest::selectOffersRecordingsAndAFolder()
{
    const QString folder = RecordingsFolder(QStringLiteral("keys_menu"));
    auto window = ShownWindow();
    WindowParts parts(window.get());
    parts.sourceButton->click();
    QMenu *menu = parts.sourceButton->ChoiceMenu();
    QVERIFY(menu);
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    QCOMPARE(menu->actions().size(), 2);
    QVERIFY(menu->actions()[0]->text().startsWith(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOOSE_FILES)));
    QVERIFY(menu->actions()[1]->text().startsWith(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOOSE_FOLDER)));
    // Under Select, not over it.
    QVERIFY(menu->geometry().top() >= parts.sourceButton->mapToGlobal(QPoint(0, parts.sourceButton->height())).y());
    menu->setActiveAction(menu->actions()[1]);
    WriteScreenshot(WithPopup(window.get(), menu), QStringLiteral("app_keys_source_menu"));
    menu->hide();

    // The folder: its recordings, searched, become the queue; the note is passed over.
    s_dialogs.folder = folder;
    TakeSourceMenuEntry(parts, SourceMenuFolder);
    QTRY_COMPARE(window->QueuedSources(), (QStringList{folder + "/a.ts", folder + "/b.ts"}));
    QVERIFY(!menu->isVisible());
    QCOMPARE(parts.destination->text(), folder);
    // The recordings dialog then opens in that folder, with the filter of recordings.
    s_dialogs.file = folder + QStringLiteral("/a.ts");
    TakeSourceMenuEntry(parts, SourceMenuFiles);
    QCOMPARE(QDir::cleanPath(s_dialogs.lastStart), folder);
    QCOMPARE(s_dialogs.lastFilter, RecordingFilter::NameFilter());
    QCOMPARE(parts.source->text(), folder + QStringLiteral("/a.ts"));
    QVERIFY(window->QueuedSources().isEmpty());
}

void KeysTest::recordingFilterTakesEachExtensionInBothCases_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("offered");

    for (const char *extension : {"dav", "ts", "m2ts", "mts", "mp4", "m4v", "mov", "avi", "mkv", "mpg", "mpeg",
                                  "vob", "flv", "wmv", "asf", "264", "h264", "hevc", "265", "ps"}) {
        const QString name = QStringLiteral("cam01.") + QLatin1String(extension);
        QTest::newRow(qPrintable(name)) << name << true;
        QTest::newRow(qPrintable(name.toUpper())) << name.toUpper() << true;
    }
    QTest::newRow("a note") << "notes.txt" << false;
    QTest::newRow("an extension after the recording's") << "cam01.dav.txt" << false;
    QTest::newRow("a longer extension") << "cam01.tsx" << false;
    QTest::newRow("a shorter one") << "cam01.t" << false;
    QTest::newRow("the extension as the whole name") << "dav" << false;
}

void KeysTest::recordingFilterTakesEachExtensionInBothCases()
{
    QFETCH(QString, name);
    QFETCH(bool, offered);
    // The filter as a dialog that tells cases apart reads it.
    const QStringList filters = RecordingFilter::NameFilter().split(QStringLiteral(";;"));
    QCOMPARE(filters.size(), 2);
    QCOMPARE(filters[1], TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_DIALOG_FILTER_ALL) + QStringLiteral(" (*)"));
    const QString recordings = filters[0];
    const int open = recordings.indexOf(QLatin1Char('('));
    QVERIFY(open > 0 && recordings.endsWith(QLatin1Char(')')));
    const QStringList patterns = recordings.mid(open + 1, recordings.size() - open - 2).split(QLatin1Char(' '));
    bool matched = false;
    for (const QString &pattern : patterns)
        matched = matched || QRegExp(pattern, Qt::CaseSensitive, QRegExp::Wildcard).exactMatch(name);
    QCOMPARE(matched, offered);
}

void KeysTest::foldersAreRememberedByANewWindow_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("destinationPrefilled");

    QTest::newRow("chosen with the dialogs") << "dialogs" << true;
    QTest::newRow("converted into") << "converted" << true;
    QTest::newRow("folder chosen in Select's menu") << "folder" << false;
    QTest::newRow("destination removed since") << "removed" << false;
}

void KeysTest::foldersAreRememberedByANewWindow()
{
    QFETCH(QString, how);
    QFETCH(bool, destinationPrefilled);
    const QString sources = RecordingsFolder(QStringLiteral("keys_remember_in"));
    const QString outputs = ScratchFolder(QStringLiteral("keys_remember_out"));
    {
        auto window = ShownWindow();
        WindowParts parts(window.get());
        if (how == QLatin1String("folder")) {
            s_dialogs.folder = sources;
            TakeSourceMenuEntry(parts, SourceMenuFolder);
            QTRY_COMPARE(window->QueuedSources().size(), 2);
        } else {
            ChooseSource(s_dialogs, parts, sources + QStringLiteral("/a.ts"));
        }
        if (how == QLatin1String("dialogs") || how == QLatin1String("removed")) {
            s_dialogs.folder = outputs;
            parts.destinationButton->click();
            QCOMPARE(parts.destination->text(), outputs);
        }
        if (how == QLatin1String("converted")) {
            parts.destination->setText(outputs);
            parts.ok->click();
            QTRY_COMPARE(FakeEngine::FinishedRuns(), 1);
            QTRY_VERIFY(!parts.MaskShown());
        }
        if (how == QLatin1String("removed"))
            QVERIFY(QDir(outputs).removeRecursively());
    }
    // A new start: nothing left in the process but the settings.
    VelaFileButton::SetLastFolder(QString());
    s_dialogs = ScriptedDialogs();
    TranscoderWin second;
    second.show();
    QVERIFY(QTest::qWaitForWindowExposed(&second));
    WindowParts parts(&second);
    QCOMPARE(parts.destination->text(), destinationPrefilled ? outputs : QString());
    QVERIFY(parts.destination->IsLegal());
    QCOMPARE(parts.ok->isEnabled(), false);
    // Both of Select's dialogs open where the recordings came from.
    TakeSourceMenuEntry(parts, SourceMenuFiles);
    QCOMPARE(QDir::cleanPath(s_dialogs.lastStart), sources);
    TakeSourceMenuEntry(parts, SourceMenuFolder);
    QCOMPARE(QDir::cleanPath(s_dialogs.lastStart), sources);
    // A destination that was prefilled stays when a source is chosen elsewhere.
    const QString elsewhere = ScratchFolder(QStringLiteral("keys_remember_elsewhere"));
    ChooseSource(s_dialogs, parts, elsewhere + QStringLiteral("/c.ts"));
    QCOMPARE(parts.destination->text(), destinationPrefilled ? outputs : elsewhere);
}

void KeysTest::commandLineNamesRecordings_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QStringList>("ignored");

    QTest::newRow("nothing") << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("one file") << QStringList{"cam.ts"} << QStringList{"/rec/cam.ts"} << QStringList{};
    QTest::newRow("absolute and relative, in order")
        << QStringList{"/media/b.ts", "sub/a.ts"} << QStringList{"/media/b.ts", "/rec/sub/a.ts"} << QStringList{};
    QTest::newRow("a folder") << QStringList{"exports/"} << QStringList{"/rec/exports"} << QStringList{};
    QTest::newRow("dots resolved") << QStringList{"../x/./c.ts"} << QStringList{"/x/c.ts"} << QStringList{};
    QTest::newRow("an unknown option") << QStringList{"-x", "a.ts"} << QStringList{"/rec/a.ts"}
                                       << QStringList{"-x"};
    QTest::newRow("an unknown long option") << QStringList{"a.ts", "--fast"} << QStringList{"/rec/a.ts"}
                                            << QStringList{"--fast"};
    QTest::newRow("three dashes are an option too") << QStringList{"---"} << QStringList{} << QStringList{"---"};
    QTest::newRow("after --, dashes are names")
        << QStringList{"a.ts", "--", "-b.ts"} << QStringList{"/rec/a.ts", "/rec/-b.ts"} << QStringList{};
    QTest::newRow("a second -- is a name") << QStringList{"--", "--"} << QStringList{"/rec/--"} << QStringList{};
    QTest::newRow("a lone dash") << QStringList{"-"} << QStringList{} << QStringList{"-"};
    QTest::newRow("a lone dash after --") << QStringList{"--", "-"} << QStringList{} << QStringList{"-"};
    QTest::newRow("an empty argument") << QStringList{""} << QStringList{} << QStringList{""};
    QTest::newRow("a file URL") << QStringList{"file:///media/north%20gate.ts"}
                                << QStringList{"/media/north gate.ts"} << QStringList{};
    QTest::newRow("a name that starts like a URL") << QStringList{"file:x.ts"} << QStringList{"/rec/file:x.ts"}
                                                   << QStringList{};
}

void KeysTest::commandLineNamesRecordings()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, paths);
    QFETCH(QStringList, ignored);
    const CommandLineSources line(QStringList{"wardline-video-converter"} + arguments, QStringLiteral("/rec"));
    QCOMPARE(line.Paths(), paths);
    QCOMPARE(line.Ignored(), ignored);
}

void KeysTest::openedRecordingsBecomeTheSource_data()
{
    QTest::addColumn<QStringList>("names");     // under the scratch folder; "." is the folder itself
    QTest::addColumn<bool>("converting");
    QTest::addColumn<QString>("sourceText");    // "" for none; "queue" for the queue's text
    QTest::addColumn<int>("queued");

    QTest::newRow("one file") << QStringList{"a.ts"} << false << "a.ts" << 0;
    QTest::newRow("two files: a queue") << QStringList{"a.ts", "b.ts"} << false << "queue" << 2;
    QTest::newRow("a folder: searched") << QStringList{"."} << false << "queue" << 2;
    QTest::newRow("a file and a folder") << QStringList{"b.ts", "."} << false << "queue" << 2;
    QTest::newRow("nothing") << QStringList{} << false << "" << 0;
    QTest::newRow("while converting: left alone") << QStringList{"a.ts", "b.ts"} << true << "other" << 0;
}

void KeysTest::openedRecordingsBecomeTheSource()
{
    QFETCH(QStringList, names);
    QFETCH(bool, converting);
    QFETCH(QString, sourceText);
    QFETCH(int, queued);
    const QString folder = RecordingsFolder(QStringLiteral("keys_open"));
    QStringList paths;
    for (const QString &name : names)
        paths.append(name == QLatin1String(".") ? folder : folder + QLatin1Char('/') + name);
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const QString other = ScratchFolder(QStringLiteral("keys_open_other")) + QStringLiteral("/other.ts");
    if (converting) {
        ChooseSource(s_dialogs, parts, other);
        FakeEngine::SetBlocking(true);
        parts.ok->click();
        QTRY_COMPARE(FakeEngine::Runs(), 1);
    }
    window->OpenRecordings(paths);
    if (queued > 0)
        QTRY_COMPARE(window->QueuedSources().size(), queued);
    Settle();
    QCOMPARE(window->QueuedSources().size(), queued);
    if (sourceText == QLatin1String("queue")) // named after its first recording
        QVERIFY2(parts.source->text().startsWith(names.first() == QLatin1String(".") ? "a.ts " : names.first() + ' '),
                 qPrintable(parts.source->text()));
    else if (sourceText == QLatin1String("other"))
        QCOMPARE(parts.source->text(), other);
    else
        QCOMPARE(parts.source->text(), sourceText.isEmpty() ? QString() : folder + QLatin1Char('/') + sourceText);
    if (!names.isEmpty() && !converting) {
        QCOMPARE(parts.destination->text(), folder);
        QCOMPARE(RememberedFolders::Source(), folder);
    }
    if (converting) {
        FakeEngine::Release();
        QTRY_VERIFY(!parts.MaskShown());
        QCOMPARE(FakeEngine::Runs(), 1);
    }
}

void KeysTest::qtOptionsAreNotTakenForRecordings()
{
    // Run once with "-platform offscreen" (app_test_qt_options): QApplication takes
    // its options out before the converter reads its command line.
    const CommandLineSources line(qApp->arguments());
    QVERIFY2(line.Paths().isEmpty(), qPrintable(line.Paths().join(' ')));
    QVERIFY2(line.Ignored().isEmpty(), qPrintable(line.Ignored().join(' ')));
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
}
