// The join and time-in-the-picture choices through the real window, the worker and
// run_conversion / run_join: with the stand-in engine, and once with the real one.
#include "JoinTest.h"

#include "AppTestSupport.h"
#include "ConversionOptions.h"
#include "ConversionTexts.h"
#include "TextIds.h"
#include "TextTable.h"
#include "TranscoderWin.h"
#include "VelaBottomBar.h"
#include "VelaLabels.h"
#include "VelaLineEdit.h"
#include "VelaStatusWidget.h"
#include "fixture_gen.h"
#include "media_probe.h"

#include <QCheckBox>
#include <QFile>
#include <QSettings>
#include <QTest>

namespace {

ScriptedDialogs s_dialogs;

const QString Separator = QStringLiteral("  \u00b7  ");

void Tick(QCheckBox *box, bool on)
{
    if (box->isChecked() != on)
        box->click();
}

// A copy of the generated 2 s H.264 recording at `path`; with `stamped`, in
// Matroska (`path` should end in ".mkv"), whose container says it began at 2024-03-15 08:00:00 UTC plus `seconds`, as a
// recorder's export does.
bool Recording(const QString &path, bool stamped, int seconds = 0)
{
    const QString clip = QString::fromStdString(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs));
    if (!stamped)
        return CopyFile(clip, path);
    const QString stamp = QStringLiteral("creation_time=2024-03-15T08:00:%1Z").arg(seconds, 2, 10, QLatin1Char('0'));
    QList<QByteArray> words{"ffmpeg", "-loglevel", "error", "-y", "-i", QFile::encodeName(clip), "-c", "copy",
                            "-metadata", stamp.toUtf8(), QFile::encodeName(path)};
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    return ffmpeg_exec(int(words.size()), argv.data()) == 0;
}

// How many times `word` stands in the words, and whether any holds `part`.
int Count(const QByteArrayList &argv, const QByteArray &word)
{
    return int(std::count(argv.begin(), argv.end(), word));
}

bool AnyContains(const QByteArrayList &argv, const QByteArray &part)
{
    return std::any_of(argv.begin(), argv.end(), [&](const QByteArray &word) { return word.contains(part); });
}

QString Text(unsigned int id)
{
    return TextById(id);
}

} // namespace

void JoinTest::init()
{
    FakeEngine::Install();
    QSettings().clear();
    VelaFileButton::SetDialogProvider(&s_dialogs);
}

void JoinTest::cleanup()
{
    FakeEngine::Uninstall();
    VelaFileButton::SetDialogProvider(nullptr);
    QSettings().clear();
}

void JoinTest::laterChoicesAreOffAndRemembered_data()
{
    QTest::addColumn<bool>("join");
    QTest::addColumn<bool>("time");

    QTest::newRow("join only") << true << false;
    QTest::newRow("time only") << false << true;
    QTest::newRow("both") << true << true;
    QTest::newRow("both ticked, then both unticked") << false << false;
}

void JoinTest::laterChoicesAreOffAndRemembered()
{
    QFETCH(bool, join);
    QFETCH(bool, time);
    {
        auto first = ShownWindow();
        WindowParts parts(first.get());
        QVERIFY(parts.join && parts.time);
        QVERIFY(!parts.join->isChecked() && !parts.time->isChecked());
        QCOMPARE(first->findChild<ConversionOptions *>()->Choices().time_in_picture,
                 ConversionChoices::TimeInPicture::Off);
        Tick(parts.join, true);
        Tick(parts.time, true);
        Tick(parts.join, join);
        Tick(parts.time, time);
    }
    auto second = ShownWindow();
    WindowParts parts(second.get());
    QCOMPARE(parts.join->isChecked(), join);
    QCOMPARE(parts.time->isChecked(), time);
    QCOMPARE(QSettings().value(QLatin1String(ConversionOptions::JoinKey)).toBool(), join);
    QCOMPARE(QSettings().value(QLatin1String(ConversionOptions::TimeKey)).toBool(), time);
    // Local time, never UTC, from the window.
    QCOMPARE(parts.options->Choices().time_in_picture,
             time ? ConversionChoices::TimeInPicture::Local : ConversionChoices::TimeInPicture::Off);
    QCOMPARE(parts.options->Joins(), join);
    // The other two stay as they were.
    QVERIFY(!parts.keepVideo->isChecked() && !parts.evidence->isChecked());
}

void JoinTest::timeChoiceReachesEveryConversion_data()
{
    QTest::addColumn<int>("recordings"); // 1: a single conversion
    QTest::addColumn<bool>("join");
    QTest::addColumn<bool>("time");
    QTest::addColumn<bool>("stamped");   // the recordings' start times are known
    QTest::addColumn<QString>("notes");

    const QString shown = Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_TIME_SHOWN);
    const QString notShown = Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_TIME_NOT_SHOWN);
    const QString queue = Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_TIME_QUEUE);
    QTest::newRow("one, time on, start known") << 1 << false << true << true << shown;
    QTest::newRow("one, time on, start unknown") << 1 << false << true << false << notShown;
    QTest::newRow("one, time off") << 1 << false << false << true << QString();
    QTest::newRow("one, join ticked: a plain conversion") << 1 << true << true << true << shown;
    QTest::newRow("queue, time on") << 2 << false << true << true << queue.arg(2).arg(2);
    QTest::newRow("queue, time on, start unknown") << 2 << false << true << false << queue.arg(0).arg(2);
    QTest::newRow("join, time on") << 3 << true << true << true << shown;
    QTest::newRow("join, time on, start unknown") << 2 << true << true << false << notShown;
    QTest::newRow("join, time off") << 2 << true << false << true << QString();
}

void JoinTest::timeChoiceReachesEveryConversion()
{
    QFETCH(int, recordings);
    QFETCH(bool, join);
    QFETCH(bool, time);
    QFETCH(bool, stamped);
    QFETCH(QString, notes);

    auto window = ShownWindow();
    WindowParts parts(window.get());
    Tick(parts.join, join);
    Tick(parts.time, time);
    const QString folder = ScratchFolder(QStringLiteral("time_choice"));
    QStringList sources;
    for (int i = 0; i < recordings; ++i) {
        sources.append(folder + QStringLiteral("/cam01_%1.%2").arg(i + 1).arg(stamped ? "mkv" : "ts"));
        QVERIFY(Recording(sources.last(), stamped, 2 * i));
    }
    if (recordings == 1)
        ChooseSource(s_dialogs, parts, sources.first());
    else
        ChooseSources(s_dialogs, parts, sources);
    parts.ok->click();
    const int runs = join ? 1 : recordings;
    QTRY_COMPARE(FakeEngine::FinishedRuns(), runs);
    QTRY_VERIFY(!parts.MaskShown());
    const QByteArrayList argv = FakeEngine::LastArgv();
    QCOMPARE(AnyContains(argv, "drawtext="), time && stamped);
    // A join takes every recording as an input of one graph; anything else one.
    const bool joined = join && recordings > 1;
    QCOMPARE(Count(argv, "-i"), joined ? recordings : 1);
    QCOMPARE(Count(argv, "-filter_complex"), joined ? 1 : 0);
    for (const QString &source : joined ? sources : QStringList{})
        QVERIFY2(argv.contains(QFile::encodeName(source)), qPrintable(source));
    QCOMPARE(parts.choiceNotes->FullText(), notes);
    QCOMPARE(parts.choiceNotes->text(), parts.choiceNotes->FullText());
    // Why not, in the engine's words, on hover.
    const QString why = Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_TIME_WHY)
                            .arg(QStringLiteral("the recording's start time is not known"));
    QCOMPARE(parts.choiceNotes->toolTip(), notes == Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_TIME_NOT_SHOWN)
                                               ? why
                                               : QString());
    if (recordings == 1 && time && !stamped)
        SaveScreenshot(window.get(), QStringLiteral("app_time_not_shown"));
}

void JoinTest::joinMakesOneFileNamedAfterTheFirst_data()
{
    QTest::addColumn<QStringList>("names");       // the recordings, in the order chosen
    QTest::addColumn<QStringList>("unreadable");  // of them, files that are no recordings
    QTest::addColumn<QStringList>("taken");       // names in the destination already
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("joined");

    QTest::newRow("natural order: cam01_2 before cam01_10")
        << QStringList{"cam01_10.ts", "cam01_2.ts", "cam01_9.ts"} << QStringList{} << QStringList{}
        << "cam01_2_converted_joined.mp4" << 3;
    QTest::newRow("the joined name taken: the next number")
        << QStringList{"cam01_1.ts", "cam01_2.ts"} << QStringList{} << QStringList{"cam01_1_converted_joined.mp4"}
        << "cam01_1_converted_joined_1.mp4" << 2;
    QTest::newRow("a plain output of the first is no joined one")
        << QStringList{"cam01_1.ts", "cam01_2.ts"} << QStringList{} << QStringList{"cam01_1_converted.mp4"}
        << "cam01_1_converted_joined.mp4" << 2;
    QTest::newRow("an unreadable recording left out: with problems")
        << QStringList{"cam01_1.ts", "cam01_2.ts", "cam01_3.ts"} << QStringList{"cam01_2.ts"} << QStringList{}
        << "cam01_1_converted_joined.mp4" << 2;
}

void JoinTest::joinMakesOneFileNamedAfterTheFirst()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, unreadable);
    QFETCH(QStringList, taken);
    QFETCH(QString, output);
    QFETCH(int, joined);

    // Every recording counts as converted before: a queue would ask, a join never.
    const TranscoderWin::EarlierOutputFinder previous = TranscoderWin::SetEarlierOutputFinder(
        [](const QString &, const QString &folder) { return folder + QStringLiteral("/earlier.mp4"); });
    auto window = ShownWindow();
    WindowParts parts(window.get());
    Tick(parts.join, true);
    const QString folder = ScratchFolder(QStringLiteral("join_name"));
    QStringList sources;
    for (const QString &name : names) {
        sources.append(folder + QLatin1Char('/') + name);
        if (unreadable.contains(name)) {
            QFile text(sources.last());
            QVERIFY(text.open(QIODevice::WriteOnly) && text.write("no recording\n") > 0);
        } else {
            QVERIFY(Recording(sources.last(), false));
        }
    }
    for (const QString &name : taken) {
        QFile file(folder + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    ChooseSources(s_dialogs, parts, sources);
    BoxAnswerer answerer;
    parts.ok->click();
    QTRY_COMPARE(FakeEngine::FinishedRuns(), 1);
    QTRY_VERIFY(!parts.MaskShown());
    TranscoderWin::SetEarlierOutputFinder(previous);
    QCOMPARE(answerer.Messages(), QStringList{});
    QCOMPARE(FakeEngine::Runs(), 1);
    const QByteArrayList argv = FakeEngine::LastArgv();
    QCOMPARE(argv.last(), QFile::encodeName(folder + QLatin1Char('/') + output));
    QCOMPARE(Count(argv, "-i"), joined);
    QVERIFY(QFile::exists(folder + QLatin1Char('/') + output));

    VelaStatusWidget *status = parts.bar->StatusWidget();
    if (unreadable.isEmpty()) {
        QCOMPARE(parts.StatusText(), ConversionTexts::JoinedStatus(joined, output));
        QCOMPARE(status->toolTip(), folder + QLatin1Char('/') + output);
        if (joined == 3)
            SaveScreenshot(window.get(), QStringLiteral("app_join_done"));
        return;
    }
    // The recording left out is named, in the line and on hover with every problem.
    RunProblem leftOut;
    leftOut.kind = RunProblemKind::SegmentLeftOut;
    leftOut.detail = unreadable.first().toStdString();
    const QString problem = ConversionTexts::ProblemText(leftOut);
    QVERIFY2(problem.contains(unreadable.first()), qPrintable(problem));
    QCOMPARE(parts.StatusText(), ConversionTexts::JoinedPartialStatus({leftOut}));
    QVERIFY2(status->toolTip().split(QLatin1Char('\n')).contains(problem), qPrintable(status->toolTip()));
    SaveScreenshot(window.get(), QStringLiteral("app_join_partial"));
}

void JoinTest::realJoinOfTwoRecordings_data()
{
    QTest::addColumn<bool>("keep");
    QTest::addColumn<unsigned int>("note");
    QTest::newRow("time drawn") << false << unsigned(TextId::WL_CLIENT_VIDEO_TRANSCODER_CHOICE_TIME_SHOWN);
    // Both segments are copies of one recording: coded alike, copied unchanged.
    QTest::newRow("pictures kept") << true << unsigned(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_PICTURE_KEPT);
}

void JoinTest::realJoinOfTwoRecordings()
{
    QFETCH(bool, keep);
    QFETCH(unsigned int, note);
    FakeEngine::Uninstall();
    auto window = ShownWindow();
    WindowParts parts(window.get());
    Tick(parts.join, true);
    Tick(parts.time, !keep);
    Tick(parts.keepVideo, keep);
    const QString folder = ScratchFolder(keep ? QStringLiteral("join_real_kept") : QStringLiteral("join_real"));
    const QStringList sources{folder + QStringLiteral("/gate_b.mkv"), folder + QStringLiteral("/gate_a.mkv")};
    // The second chosen was recorded first, and the other right after it: joined by
    // time, with nothing to hold or close between them.
    QVERIFY(Recording(sources[0], true, 2));
    QVERIFY(Recording(sources[1], true, 0));
    ChooseSources(s_dialogs, parts, sources);
    BoxAnswerer answerer;
    parts.ok->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window->IsConverting(), 120000);
    QTRY_VERIFY(!parts.MaskShown());
    const QString output = folder + QStringLiteral("/gate_a_converted_joined.mp4");
    QVERIFY(QFile::exists(output));
    const fixtures::MediaInfo info = fixtures::probe_media(QFile::encodeName(output).toStdString());
    // Both 2 s recordings, one after the other.
    QVERIFY2(info.duration > 3.5 && info.duration < 4.5, qPrintable(QString::number(info.duration)));
    QCOMPARE(parts.StatusText(), ConversionTexts::JoinedStatus(2, QStringLiteral("gate_a_converted_joined.mp4")));
    QCOMPARE(parts.bar->StatusWidget()->toolTip(), output);
    QCOMPARE(parts.choiceNotes->FullText(), Text(note));
    QCOMPARE(answerer.Messages(), QStringList{});
    if (!keep)
        SaveScreenshot(window.get(), QStringLiteral("app_join_real"));
}
