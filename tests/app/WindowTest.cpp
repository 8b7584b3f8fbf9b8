// The main window through its controls. The stand-in engine answers conversions
// (it writes an empty output file on success), except where a conversion is meant to
// fail for real.
#include "WindowTest.h"

#include "AppTestSupport.h"
#include "ConversionTexts.h"
#include "TextIds.h"
#include "TextTable.h"
#include "ConversionOptions.h"
#include "VelaLabels.h"
#include "TranscoderWin.h"
#include "VelaBottomBar.h"
#include "VelaButtons.h"
#include "VelaLineEdit.h"
#include "VelaLoading.h"

#include <QCheckBox>
#include <QAbstractButton>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSet>
#include <QTest>

#include <memory>

namespace {

ScriptedDialogs s_dialogs;

QMutex s_debugMutex;
QStringList s_debugLines;

// The worker thread logs too.
void CollectDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        return;
    QMutexLocker lock(&s_debugMutex);
    s_debugLines.append(message);
}

void Touch(const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.close();
}

QString Converting()
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING) + QStringLiteral("...");
}

QString FailureText()
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_FAILED);
}

// Whether a click at the widget's centre would reach something other than the mask
// (or the box on it).
bool Clickable(TranscoderWin *window, QWidget *widget)
{
    const QPoint centre = widget->mapTo(window, widget->rect().center());
    QWidget *hit = window->childAt(centre);
    auto *mask = window->findChild<VelaLoadingMask *>();
    return hit && hit != mask && !mask->isAncestorOf(hit);
}

} // namespace

void WindowTest::init()
{
    FakeEngine::Install();
    VelaFileButton::SetDialogProvider(&s_dialogs);
    VelaFileButton::SetLastFolder(QString());
    s_dialogs.file.clear();
    s_dialogs.folder.clear();
}

void WindowTest::cleanup()
{
    FakeEngine::Uninstall();
    VelaFileButton::SetDialogProvider(nullptr);
}

void WindowTest::controlsSitInTheirRowsAndColumns()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    SaveScreenshot(window.get(), QStringLiteral("app_idle"));

    QCOMPARE(window->minimumSize(), QSize(550, 248));
    QCOMPARE(window->maximumSize(), QSize(550, 248));
    // The about icon in the top right corner, inside the side margins.
    QCOMPARE(parts.about->geometry(), QRect(550 - 12 - 24, 10, 24, 24));
    // Caption, field, button from left to right; the destination row below the source row.
    for (auto row : {std::make_pair(parts.source, parts.sourceButton),
                     std::make_pair(parts.destination, parts.destinationButton)}) {
        QVERIFY(row.first->geometry().left() > 12 + 10);
        QVERIFY(row.second->geometry().left() > row.first->geometry().right());
        QVERIFY(row.second->geometry().right() <= 550 - 12);
        QCOMPARE(row.second->geometry().center().y(), row.first->geometry().center().y());
    }
    QVERIFY(parts.destination->geometry().top() > parts.source->geometry().bottom());
    QCOMPARE(parts.source->geometry().left(), parts.destination->geometry().left());
    QVERIFY(parts.source->geometry().top() > parts.about->geometry().bottom());
    // The bar along the bottom edge, OK at its right.
    QCOMPARE(parts.bar->geometry().bottom(), 247);
    // The choices under the destination, lined up with the captions, two rows of two
    // in two columns, and the line saying what became of them between them and the bar.
    QVERIFY(parts.options->geometry().top() > parts.destination->geometry().bottom());
    QCOMPARE(parts.options->geometry().left(), parts.destinationCaption->geometry().left());
    QCOMPARE(parts.keepVideo->x(), parts.join->x());
    QCOMPARE(parts.evidence->x(), parts.time->x());
    QCOMPARE(parts.keepVideo->y(), parts.evidence->y());
    QCOMPARE(parts.join->y(), parts.time->y());
    QVERIFY(parts.join->geometry().top() > parts.keepVideo->geometry().bottom());
    QVERIFY(parts.evidence->x() > parts.keepVideo->geometry().right());
    QVERIFY(parts.choiceNotes->geometry().top() > parts.options->geometry().bottom());
    QVERIFY(parts.choiceNotes->geometry().bottom() < parts.bar->geometry().top());
    QCOMPARE(parts.bar->geometry().left(), 12);
    QCOMPARE(parts.bar->geometry().right(), 550 - 12 - 1);
    QVERIFY(parts.ok->isVisible());
    QVERIFY(parts.ok->mapTo(parts.bar, QPoint()).x() > parts.bar->width() / 2);
    // Idle: OK disabled, no status, no mask.
    QVERIFY(!parts.ok->isEnabled());
    QVERIFY(!parts.StatusShown());
    QVERIFY(!parts.MaskShown());
}

void WindowTest::outputNameReplacesTheWholeExtension_data()
{
    QTest::addColumn<QString>("sourceName");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("outputName");

    QTest::newRow("mp4") << "clip.mp4" << 0 << "clip_converted.mp4";
    QTest::newRow("another extension") << "clip.avi" << 0 << "clip_converted.mp4";
    QTest::newRow("numbered") << "clip.mp4" << 2 << "clip_converted_2.mp4";
    QTest::newRow("several dots keep all but the last extension") << "a.b.mp4" << 0 << "a.b_converted.mp4";
    QTest::newRow("a long extension goes whole") << "x.abcdefghijklmnop" << 0 << "x_converted.mp4";
    QTest::newRow("a long extension goes whole, numbered") << "x.abcdefghijklmnop" << 1 << "x_converted_1.mp4";
    QTest::newRow("no extension: suffix appended") << "recording" << 0 << "recording_converted.mp4";
    QTest::newRow("no extension, numbered") << "recording" << 3 << "recording_converted_3.mp4";
    QTest::newRow("trailing dot") << "clip." << 0 << "clip_converted.mp4";
    QTest::newRow("empty name (source ends in /)") << "" << 0 << "_converted.mp4";
}

void WindowTest::outputNameReplacesTheWholeExtension()
{
    QFETCH(QString, sourceName);
    QFETCH(int, number);
    QFETCH(QString, outputName);

    QCOMPARE(TranscoderWin::OutputName(sourceName, number), outputName);
}

void WindowTest::outputPathTakesTheFirstFreeName_data()
{
    QTest::addColumn<QString>("sourceName");
    QTest::addColumn<QStringList>("taken");     // names ending in "/" are folders, in "@" dangling links
    QTest::addColumn<int>("maxNumber");
    QTest::addColumn<QString>("expected");      // empty: no free name

    const int max = TranscoderWin::MaxOutputNumber;
    QTest::newRow("nothing taken") << "clip.mp4" << QStringList{} << max << "clip_converted.mp4";
    QTest::newRow("first taken") << "clip.mp4" << QStringList{"clip_converted.mp4"} << max
                                 << "clip_converted_1.mp4";
    QTest::newRow("first two taken") << "clip.mp4" << QStringList{"clip_converted.mp4", "clip_converted_1.mp4"}
                                     << max << "clip_converted_2.mp4";
    QTest::newRow("a gap is used") << "clip.mp4" << QStringList{"clip_converted.mp4", "clip_converted_2.mp4"} << max
                                   << "clip_converted_1.mp4";
    QTest::newRow("a folder takes the name too") << "clip.mp4" << QStringList{"clip_converted.mp4/"} << max
                                                 << "clip_converted_1.mp4";
    QTest::newRow("a dangling link takes the name too") << "clip.mp4" << QStringList{"clip_converted.mp4@"} << max
                                                        << "clip_converted_1.mp4";
    QTest::newRow("other extensions do not count") << "clip.mp4" << QStringList{"clip_converted.avi", "clip.mp4"}
                                                   << max << "clip_converted.mp4";
    QTest::newRow("no extension and the source beside it") << "recording" << QStringList{"recording"} << max
                                                           << "recording_converted.mp4";
    QTest::newRow("no extension, first taken") << "recording" << QStringList{"recording", "recording_converted.mp4"}
                                               << max << "recording_converted_1.mp4";
    QTest::newRow("long extension, first taken") << "x.abcdefghijklmnop" << QStringList{"x_converted.mp4"} << max
                                                 << "x_converted_1.mp4";
    QTest::newRow("every name up to the limit taken")
        << "clip.mp4" << QStringList{"clip_converted.mp4", "clip_converted_1.mp4", "clip_converted_2.mp4"} << 2
        << "";
    // The rule's own limit: _9999 is the last name the window tries.
    QStringList upTo9998{QStringLiteral("clip_converted.mp4")};
    for (int n = 1; n <= 9998; ++n)
        upTo9998.append(QStringLiteral("clip_converted_%1.mp4").arg(n));
    QTest::newRow("all but _9999 taken") << "clip.mp4" << upTo9998 << max << "clip_converted_9999.mp4";
    QTest::newRow("up to _9999 taken") << "clip.mp4" << (upTo9998 << QStringLiteral("clip_converted_9999.mp4"))
                                       << max << "";
}

void WindowTest::outputPathTakesTheFirstFreeName()
{
    QFETCH(QString, sourceName);
    QFETCH(QStringList, taken);
    QFETCH(int, maxNumber);
    QFETCH(QString, expected);

    const QString folder = ScratchFolder(QStringLiteral("free_name"));
    for (const QString &name : taken) {
        if (name.endsWith('/'))
            QVERIFY(QDir(folder).mkdir(name.chopped(1)));
        else if (name.endsWith('@'))
            QVERIFY(QFile::link(folder + QStringLiteral("/nowhere"), folder + '/' + name.chopped(1)));
        else
            Touch(folder + '/' + name);
    }
    const QString path = TranscoderWin::FreeOutputPath(folder, sourceName, maxNumber);
    QCOMPARE(path, expected.isEmpty() ? QString() : folder + '/' + expected);
}

void WindowTest::okIsEnabledExactlyWhenBothFieldsHaveText_data()
{
    // Edits in order: "s:<text>" sets the source field, "d:<text>" the destination.
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("source only") << QStringList{"s:/rec/a.ts"} << false;
    QTest::newRow("destination only") << QStringList{"d:/out"} << false;
    QTest::newRow("both") << QStringList{"s:/rec/a.ts", "d:/out"} << true;
    QTest::newRow("both, destination first") << QStringList{"d:/out", "s:/rec/a.ts"} << true;
    QTest::newRow("destination cleared") << QStringList{"s:/rec/a.ts", "d:/out", "d:"} << false;
    QTest::newRow("destination cleared, then source edited")
        << QStringList{"s:/rec/a.ts", "d:/out", "d:", "s:/rec/b.ts"} << false;
    QTest::newRow("source cleared, then destination edited")
        << QStringList{"s:/rec/a.ts", "d:/out", "s:", "d:/out2"} << false;
    QTest::newRow("cleared and filled again") << QStringList{"s:/rec/a.ts", "d:/out", "d:", "d:/out"} << true;
}

void WindowTest::okIsEnabledExactlyWhenBothFieldsHaveText()
{
    QFETCH(QStringList, edits);
    QFETCH(bool, enabled);

    auto window = ShownWindow();
    WindowParts parts(window.get());
    QSet<VelaLineEdit *> edited;
    for (const QString &edit : edits) {
        VelaLineEdit *field = edit.startsWith("s:") ? parts.source : parts.destination;
        edited.insert(field);
        field->selectAll();
        const QString text = edit.mid(2);
        if (text.isEmpty())
            QTest::keyClick(field, Qt::Key_Delete);
        else
            QTest::keyClicks(field, text);
    }
    QCOMPARE(parts.ok->isEnabled(), enabled);
    // A field emptied by the user shows itself as to be filled in.
    for (VelaLineEdit *field : edited)
        QCOMPARE(field->IsLegal(), !field->text().isEmpty());
}

void WindowTest::choosingASourceFillsOnlyAnEmptyDestination_data()
{
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("expectedDestination");

    QTest::newRow("empty destination takes the source's folder")
        << "" << "/rec/2024-05/clip.mp4" << "/rec/2024-05";
    QTest::newRow("a filled destination stays") << "/exports" << "/rec/2024-05/clip.mp4" << "/exports";
    QTest::newRow("folder with blanks and accents")
        << "" << "/rec/caf\u00e9 door/a b.ts" << "/rec/caf\u00e9 door";
}

void WindowTest::choosingASourceFillsOnlyAnEmptyDestination()
{
    QFETCH(QString, destination);
    QFETCH(QString, chosen);
    QFETCH(QString, expectedDestination);

    auto window = ShownWindow();
    WindowParts parts(window.get());
    parts.destination->setText(destination);
    ChooseSource(s_dialogs, parts, chosen);
    QCOMPARE(parts.source->text(), chosen);
    QCOMPARE(parts.source->cursorPosition(), 0);    // the path's beginning shows
    QCOMPARE(parts.destination->text(), expectedDestination);
    QCOMPARE(window->SourceFileName(), chosen.section('/', -1));
    QVERIFY(parts.ok->isEnabled());
}

void WindowTest::choosingAFolderFillsTheDestination()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    parts.destination->setText(QStringLiteral("/exports"));
    s_dialogs.folder = QStringLiteral("/media/usb/exports");
    parts.destinationButton->click();
    QCOMPARE(parts.destination->text(), s_dialogs.folder);

    // A cancelled dialog changes nothing.
    s_dialogs.folder.clear();
    parts.destinationButton->click();
    QCOMPARE(parts.destination->text(), QStringLiteral("/media/usb/exports"));
}

void WindowTest::convertingCoversTheWindowUntilTheResultArrives()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const QString folder = ScratchFolder(QStringLiteral("window_states"));
    ChooseSource(s_dialogs, parts, folder + QStringLiteral("/entrance_2024-05-14_0800.ts"));
    SaveScreenshot(window.get(), QStringLiteral("app_ready"));

    FakeEngine::SetBlocking(true);
    parts.ok->click();
    QTRY_COMPARE(FakeEngine::Runs(), 1);
    QVERIFY(parts.StatusShown());
    QCOMPARE(parts.StatusText(), Converting());
    QCOMPARE(parts.StatusText(), QStringLiteral("Converting..."));
    QCOMPARE(parts.StatusShownText(), QStringLiteral("Converting..."));    // whole, not cut
    QVERIFY(parts.MaskShown());
    QCOMPARE(parts.mask->geometry(), window->rect());
    for (QWidget *control : std::initializer_list<QWidget *>{parts.ok, parts.source, parts.sourceButton,
                                                             parts.destinationButton, parts.about})
        QVERIFY2(!Clickable(window.get(), control), control->metaObject()->className());
    SaveScreenshot(window.get(), QStringLiteral("app_converting"));

    // The box over the mask shows the run's progress and a way out.
    QVERIFY(parts.progressBox->isVisible());
    QVERIFY(parts.progressBox->IsProgressStyle());
    QVERIFY(parts.progressBox->CancelButton()->isVisible());
    QVERIFY(parts.progressBox->CancelButton()->isEnabled());

    FakeEngine::Release();
    // A long name may be elided in the line (its tool tip tells it whole).
    QTRY_COMPARE(parts.StatusText(),
                 QStringLiteral("Conversion complete: entrance_2024-05-14_0800_converted.mp4"));
    QVERIFY(parts.StatusShownText().startsWith(QStringLiteral("Conversion complete: entrance_2024")));
    QVERIFY(parts.StatusShown());
    QVERIFY(!parts.MaskShown());
    QVERIFY(Clickable(window.get(), parts.ok));
    SaveScreenshot(window.get(), QStringLiteral("app_done"));
}

void WindowTest::namesAreShownWithTheirControlCharactersEscaped()
{
    // A newline, a terminal's escape sequence and a right-to-left override in a
    // recording's name: shown as escapes, never acted on.
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const QString folder = ScratchFolder(QStringLiteral("window_escapes"));
    ChooseSource(s_dialogs, parts, folder + QStringLiteral("/cam\n01\x1b[2J\u202egpj.ts"));
    QCOMPARE(parts.source->toolTip(), folder + QStringLiteral("/cam\\n01\\x1b[2J\\u202egpj.ts"));
    parts.ok->click();
    QTRY_COMPARE(parts.StatusText(), CompleteText(QStringLiteral("cam\\n01\\x1b[2J\\u202egpj_converted.mp4")));
    QCOMPARE(ConversionTexts::QueueLine(1, 2, QStringLiteral("a\tb\\c.ts")),
             QStringLiteral("1 of 2  \u00b7  a\\tb\\\\c.ts"));
}

void WindowTest::failedConversionShowsTheBoxAndTheMaskGoesWithIt()
{
    // The real engine, given a source that is no recording.
    FakeEngine::Uninstall();
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const QString folder = ScratchFolder(QStringLiteral("window_failure"));
    const QString source = folder + QStringLiteral("/notes.txt");
    QFile notes(source);
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.write("These are notes about the recording, not the recording itself.\n");
    notes.close();
    ChooseSource(s_dialogs, parts, source);

    BoxAnswerer answerer;
    answerer.ScreenshotNextAs(QStringLiteral("app_failure"));
    {
        QMutexLocker lock(&s_debugMutex);
        s_debugLines.clear();
    }
    const QtMessageHandler previous = qInstallMessageHandler(CollectDebug);
    parts.ok->click();
    QTRY_COMPARE_WITH_TIMEOUT(answerer.Messages().size(), 1, 30000);
    qInstallMessageHandler(previous);

    QCOMPARE(answerer.Messages().first(), FailureMessage(RunFailure::SourceUnreadable));
    QCOMPARE(answerer.Messages().first().section('\n', 0, 0), FailureText());
    QCOMPARE(answerer.Titles().first(), TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_NAME));
    QCOMPARE(answerer.MaskShownBehind(), QList<bool>{true});
    {
        QMutexLocker lock(&s_debugMutex);
        QVERIFY(s_debugLines.contains(QStringLiteral("ExitCode: -1")));
    }
    // Closed: the mask is gone, the status line keeps a note of the failure, nothing
    // was written.
    QVERIFY(!parts.MaskShown());
    QCOMPARE(parts.StatusText(), ConversionTexts::FailedNote(ConversionTexts::FailureReason(RunFailure::SourceUnreadable)));
    QVERIFY(!QFile::exists(folder + QStringLiteral("/notes_converted.mp4")));
}

void WindowTest::noFreeOutputNameFailsWithoutRunningTheEngine()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const QString folder = ScratchFolder(QStringLiteral("window_full"));
    QVERIFY(TakeEveryOutputName(folder, QStringLiteral("clip.mp4")));
    ChooseSource(s_dialogs, parts, folder + QStringLiteral("/clip.mp4"));

    QStringList entries;
    BoxAnswerer answerer;
    answerer.InspectEachWith([&entries](ConverterMsgBox *box) { entries = ListEntries(box); });
    parts.ok->click();
    QTRY_COMPARE(answerer.Messages().size(), 1);
    QCOMPARE(answerer.Messages().first(), FailureText() + QLatin1Char('\n') + ConversionTexts::NamesTakenReason());
    QCOMPARE(answerer.MaskShownBehind(), QList<bool>{true});
    QCOMPARE(FakeEngine::Runs(), 0);
    QVERIFY(!parts.MaskShown());
    QCOMPARE(parts.StatusText(), ConversionTexts::FailedNote(ConversionTexts::NamesTakenReason()));

    // In a queue, the summary gives the same reason, and the others still convert.
    ChooseSources(s_dialogs, parts, {folder + QStringLiteral("/clip.mp4"), folder + QStringLiteral("/door.mp4")});
    parts.ok->click();
    QTRY_COMPARE(answerer.Messages().size(), 2);
    QCOMPARE(answerer.Messages().last(), ConversionTexts::QueueSummary(1, 2));
    QCOMPARE(entries, QStringList{QStringLiteral("clip.mp4: ") + ConversionTexts::NamesTakenReason()});
    QCOMPARE(FakeEngine::Runs(), 1);
    QVERIFY(QFile::exists(folder + QStringLiteral("/door_converted.mp4")));
}

void WindowTest::theLastOutputNameTriedIs9999()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const QString folder = ScratchFolder(QStringLiteral("window_last_name"));
    for (int n = 0; n <= 9998; ++n)
        Touch(folder + '/' + TranscoderWin::OutputName(QStringLiteral("clip.mp4"), n));
    ChooseSource(s_dialogs, parts, folder + QStringLiteral("/clip.mp4"));
    BoxAnswerer answerer; // a failure box would say that no name was free
    parts.ok->click();
    QTRY_COMPARE(parts.StatusText(), CompleteText(QStringLiteral("clip_converted_9999.mp4")));
    QCOMPARE(answerer.Messages(), QStringList{});
    QCOMPARE(FakeEngine::Runs(), 1);
}

void WindowTest::aboutBoxShowsNameVersionAndNotice()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    // A status line from an earlier conversion is cleared by the box.
    ChooseSource(s_dialogs, parts, ScratchFolder(QStringLiteral("window_about")) + QStringLiteral("/clip.ts"));
    parts.ok->click();
    QTRY_COMPARE(parts.StatusText(), CompleteText("clip_converted.mp4"));

    BoxAnswerer answerer;
    answerer.ScreenshotNextAs(QStringLiteral("app_about"));
    parts.about->click();
    QCOMPARE(answerer.Messages().size(), 1);

    const QString year = QString::number(QDate::currentDate().year());
    const QStringList lines = answerer.Messages().first().split('\n');
    QCOMPARE(lines, (QStringList{"Quenmark Video Converter 1.0.2-0011", "",
                                 "Copyright \u00a9 " + year + " Quenmark. All rights reserved."}));
    QCOMPARE(answerer.Titles().first(), QStringLiteral("Quenmark Video Converter"));
    QCOMPARE(answerer.MaskShownBehind(), QList<bool>{true});
    QVERIFY(!parts.MaskShown());
    QVERIFY(!parts.StatusShown());
}

void WindowTest::closingDuringAConversionStopsItAndJoinsTheThread()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, ScratchFolder(QStringLiteral("window_close")) + QStringLiteral("/clip.ts"));
    FakeEngine::SetBlocking(true);
    parts.ok->click();
    QTRY_COMPARE(FakeEngine::Runs(), 1);

    // As after the event loop has ended: the window goes while the run blocks (the
    // user has agreed to stop it). The destructor returns only once the thread has
    // ended (a running QThread cannot be destroyed), so the run has been stopped, not
    // abandoned.
    BoxAnswerer answerer;
    answerer.AnswerWith(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CLOSE_STOP));
    window->close();
    QTRY_COMPARE(answerer.Messages(), QStringList{TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CLOSE_QUESTION)});
    QTRY_VERIFY(!window->isVisible());
    window.reset();
    QVERIFY(FakeEngine::StopRequested());
    QCOMPARE(FakeEngine::FinishedRuns(), 1);
}

void WindowTest::closingWhenIdleEndsTheThreadAtOnce()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, ScratchFolder(QStringLiteral("window_close_idle")) + QStringLiteral("/clip.ts"));
    parts.ok->click();
    QTRY_COMPARE(parts.StatusText(), CompleteText("clip_converted.mp4"));

    window->close();
    window.reset();
    // No run was asked to stop: the one conversion had ended on its own.
    QCOMPARE(FakeEngine::Runs(), 1);
    QVERIFY(!FakeEngine::StopRequested());
}
