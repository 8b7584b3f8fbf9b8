// The window's two choices through the real window, the worker and run_conversion,
// with the stand-in engine in place of the transcoding engine.
#include "ChoicesTest.h"

#include "AppTestSupport.h"
#include "ConversionOptions.h"
#include "ConversionTexts.h"
#include "ConverterMsgBox.h"
#include "TextIds.h"
#include "TextTable.h"
#include "TranscodeWorker.h"
#include "TranscoderWin.h"
#include "source_mark.h"
#include "VelaLabels.h"
#include "VelaLineEdit.h"
#include "fixture_gen.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

namespace {

ScriptedDialogs s_dialogs;

// The recordings the rows convert: H.264 that plays everywhere, and MJPEG.
enum class Clip { H264, Mjpeg };

QString CopyOf(Clip clip, const QString &folder, const QString &stem)
{
    const bool h264 = clip == Clip::H264;
    const fixtures::FixtureKind kind = h264 ? fixtures::FixtureKind::H264AacTs : fixtures::FixtureKind::MjpegMulawAvi;
    const QString path = folder + '/' + stem + (h264 ? ".ts" : ".avi");
    return CopyFile(QString::fromStdString(fixtures::fixture_path(kind)), path) ? path : QString();
}

void Tick(QCheckBox *box, bool on)
{
    if (box->isChecked() != on)
        box->click();
}

// The "-c:v" word's value in an argument vector; empty without one.
QByteArray VideoCodec(const QByteArrayList &argv)
{
    const int at = argv.indexOf("-c:v");
    return at >= 0 ? argv.value(at + 1) : QByteArray();
}

QString Text(unsigned int id)
{
    return TextById(id);
}

} // namespace

// The converter's words as the window's runs give them: with the source's mark in
// the output's comment, just before the output's name.
QStringList MarkedArgList(const QString &source, const QString &output)
{
    QStringList words = TranscodeWorker::ArgList(source, output);
    words.insert(words.size() - 1, QStringLiteral("-metadata"));
    words.insert(words.size() - 1,
                 QStringLiteral("comment=") + QString::fromStdString(source_mark(QFile::encodeName(source).toStdString())));
    return words;
}

Q_DECLARE_METATYPE(Clip)
Q_DECLARE_METATYPE(RunFailure)

void ChoicesTest::init()
{
    FakeEngine::Install();
    QSettings().clear();
    VelaFileButton::SetDialogProvider(&s_dialogs);
}

void ChoicesTest::cleanup()
{
    FakeEngine::Uninstall();
    VelaFileButton::SetDialogProvider(nullptr);
    QSettings().clear();
}

void ChoicesTest::choicesAreOffByDefault()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    QVERIFY(parts.keepVideo && parts.evidence && parts.choiceNotes);
    QVERIFY(!parts.keepVideo->isChecked());
    QVERIFY(!parts.evidence->isChecked());
    QVERIFY(parts.keepVideo->isVisible() && parts.evidence->isVisible());
    // Off, an H.264 recording is converted as always: the twelve words, no record.
    const QString folder = ScratchFolder(QStringLiteral("choices_default"));
    const QString source = CopyOf(Clip::H264, folder, QStringLiteral("cam"));
    ChooseSource(s_dialogs, parts, source);
    parts.ok->click();
    QTRY_COMPARE(parts.StatusText(), CompleteText(QStringLiteral("cam_converted.mp4")));
    QStringList words;
    for (const QByteArray &word : FakeEngine::LastArgv())
        words.append(QString::fromUtf8(word));
    QCOMPARE(words, MarkedArgList(source, folder + QStringLiteral("/cam_converted.mp4")));
    QVERIFY(!QFile::exists(folder + QStringLiteral("/cam_converted.mp4.evidence.json")));
    QCOMPARE(parts.choiceNotes->FullText(), QString());
    SaveScreenshot(window.get(), QStringLiteral("app_choices_off"));
}

void ChoicesTest::choicesAreRememberedByANewWindow_data()
{
    QTest::addColumn<bool>("keep");
    QTest::addColumn<bool>("evidence");

    QTest::newRow("keep only") << true << false;
    QTest::newRow("record only") << false << true;
    QTest::newRow("both") << true << true;
    QTest::newRow("both ticked, then both unticked") << false << false;
}

void ChoicesTest::choicesAreRememberedByANewWindow()
{
    QFETCH(bool, keep);
    QFETCH(bool, evidence);

    {
        auto first = ShownWindow();
        WindowParts parts(first.get());
        Tick(parts.keepVideo, true);
        Tick(parts.evidence, true);
        Tick(parts.keepVideo, keep);
        Tick(parts.evidence, evidence);
    }
    auto second = ShownWindow();
    WindowParts parts(second.get());
    QCOMPARE(parts.keepVideo->isChecked(), keep);
    QCOMPARE(parts.evidence->isChecked(), evidence);
    QCOMPARE(QSettings().value(QLatin1String(ConversionOptions::KeepVideoKey)).toBool(), keep);
    QCOMPARE(QSettings().value(QLatin1String(ConversionOptions::EvidenceKey)).toBool(), evidence);
}

void ChoicesTest::choicesReachThePlan_data()
{
    QTest::addColumn<bool>("keep");
    QTest::addColumn<Clip>("clip");
    QTest::addColumn<QByteArray>("codec");

    QTest::newRow("keep on, H.264: copied") << true << Clip::H264 << QByteArray("copy");
    QTest::newRow("keep off, H.264: converted") << false << Clip::H264 << QByteArray("libx264");
    QTest::newRow("keep on, MJPEG: converted") << true << Clip::Mjpeg << QByteArray("libx264");
}

void ChoicesTest::choicesReachThePlan()
{
    QFETCH(bool, keep);
    QFETCH(Clip, clip);
    QFETCH(QByteArray, codec);

    auto window = ShownWindow();
    WindowParts parts(window.get());
    Tick(parts.keepVideo, keep);
    const QString folder = ScratchFolder(QStringLiteral("choices_plan"));
    const QString source = CopyOf(clip, folder, QStringLiteral("cam"));
    QVERIFY(!source.isEmpty());
    ChooseSource(s_dialogs, parts, source);
    parts.ok->click();
    QTRY_COMPARE(FakeEngine::FinishedRuns(), 1);
    const QByteArrayList argv = FakeEngine::LastArgv();
    QCOMPARE(VideoCodec(argv), codec);
    QCOMPARE(argv.value(argv.indexOf("-i") + 1), source.toUtf8());
    QCOMPARE(argv.last(), (folder + QStringLiteral("/cam_converted.mp4")).toUtf8());
    if (codec == "libx264") {
        QStringList words;
        for (const QByteArray &word : argv)
            words.append(QString::fromUtf8(word));
        QCOMPARE(words, MarkedArgList(source, folder + QStringLiteral("/cam_converted.mp4")));
    }
}

void ChoicesTest::resultSaysWhatBecameOfTheChoices_data()
{
    QTest::addColumn<bool>("keep");
    QTest::addColumn<bool>("evidence");
    QTest::addColumn<Clip>("clip");
    QTest::addColumn<bool>("recordBlocked"); // a folder where the record would go
    QTest::addColumn<RunFailure>("failure");
    QTest::addColumn<QStringList>("notes");

    const QString kept = Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_PICTURE_KEPT);
    const QString converted = Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_PICTURE_CONVERTED);
    const QString written = Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_EVIDENCE_WRITTEN);
    const QString missing = Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_EVIDENCE_MISSING);
    const RunFailure none = RunFailure::None;
    QTest::newRow("picture kept") << true << false << Clip::H264 << false << none << QStringList{kept};
    QTest::newRow("picture converted") << true << false << Clip::Mjpeg << false << none << QStringList{converted};
    QTest::newRow("record written") << false << true << Clip::H264 << false << none << QStringList{written};
    QTest::newRow("record blocked") << false << true << Clip::H264 << true << none << QStringList{missing};
    QTest::newRow("both") << true << true << Clip::H264 << false << none << QStringList{kept, written};
    QTest::newRow("neither") << false << false << Clip::H264 << false << none << QStringList{};
    QTest::newRow("failed run: nothing to say") << true << true << Clip::H264 << false << RunFailure::DiskFull
                                                << QStringList{};
}

void ChoicesTest::resultSaysWhatBecameOfTheChoices()
{
    QFETCH(bool, keep);
    QFETCH(bool, evidence);
    QFETCH(Clip, clip);
    QFETCH(bool, recordBlocked);
    QFETCH(RunFailure, failure);
    QFETCH(QStringList, notes);

    auto window = ShownWindow();
    WindowParts parts(window.get());
    Tick(parts.keepVideo, keep);
    Tick(parts.evidence, evidence);
    const QString folder = ScratchFolder(QStringLiteral("choices_result"));
    const QString source = CopyOf(clip, folder, QStringLiteral("cam"));
    const QString output = folder + QStringLiteral("/cam_converted.mp4");
    const QString record = output + QStringLiteral(".evidence.json");
    if (recordBlocked)
        QVERIFY(QDir().mkpath(record));
    if (failure != RunFailure::None)
        FakeEngine::SetRunResults({failure});
    ChooseSource(s_dialogs, parts, source);
    BoxAnswerer answerer; // the failure box
    parts.ok->click();
    QTRY_COMPARE(FakeEngine::FinishedRuns(), 1);
    QTRY_VERIFY(!parts.MaskShown());

    QCOMPARE(parts.choiceNotes->FullText(), notes.join(QStringLiteral("  \u00b7  ")));
    // Not cut in the window.
    QCOMPARE(parts.choiceNotes->text(), parts.choiceNotes->FullText());
    const QString tip = parts.choiceNotes->toolTip();
    // Why the picture was not kept, on hover.
    const bool refused = notes.contains(Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_PICTURE_CONVERTED));
    QCOMPARE(tip.contains(Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_PICTURE_WHY).arg(QString())),
             refused);
    // The record beside the output, named on hover; or why there is none.
    const bool written = notes.contains(Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_EVIDENCE_WRITTEN));
    QCOMPARE(QFileInfo(record).isFile(), written);
    QCOMPARE(tip.split(QLatin1Char('\n')).contains(record), written);
    const bool missing = notes.contains(Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_EVIDENCE_MISSING));
    QCOMPARE(tip.contains(Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_EVIDENCE_MISSING)) ||
                 tip.contains(Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_EVIDENCE_WHY).arg(QString())),
             missing);
    if (keep && evidence && failure == RunFailure::None)
        SaveScreenshot(window.get(), QStringLiteral("app_choices_done"));
    // Editing a field forgets what the line said about the last run.
    parts.destination->setText(folder + QStringLiteral("/"));
    QCOMPARE(parts.choiceNotes->FullText(), QString());
}

void ChoicesTest::queueCountsKeptPicturesAndRecords_data()
{
    QTest::addColumn<QList<Clip>>("clips");
    QTest::addColumn<QList<bool>>("blocked");  // per recording: its record cannot be written
    QTest::addColumn<QList<RunFailure>>("results");
    QTest::addColumn<int>("kept");
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("converted");
    QTest::addColumn<bool>("summary");      // the summary box opens

    const RunFailure ok = RunFailure::None;
    QTest::newRow("every record written") << QList<Clip>{Clip::H264, Clip::Mjpeg, Clip::H264}
                                          << QList<bool>{false, false, false} << QList<RunFailure>{ok, ok, ok}
                                          << 2 << 3 << 3 << false;
    QTest::newRow("one record blocked") << QList<Clip>{Clip::H264, Clip::H264, Clip::H264}
                                        << QList<bool>{false, true, false} << QList<RunFailure>{ok, ok, ok}
                                        << 3 << 2 << 3 << true;
    QTest::newRow("one run failed") << QList<Clip>{Clip::Mjpeg, Clip::H264, Clip::H264}
                                    << QList<bool>{false, false, false}
                                    << QList<RunFailure>{ok, RunFailure::DiskFull, ok} << 1 << 2 << 2 << true;
}

void ChoicesTest::queueCountsKeptPicturesAndRecords()
{
    QFETCH(QList<Clip>, clips);
    QFETCH(QList<bool>, blocked);
    QFETCH(QList<RunFailure>, results);
    QFETCH(int, kept);
    QFETCH(int, records);
    QFETCH(int, converted);
    QFETCH(bool, summary);

    auto window = ShownWindow();
    WindowParts parts(window.get());
    Tick(parts.keepVideo, true);
    Tick(parts.evidence, true);
    const QString folder = ScratchFolder(QStringLiteral("choices_queue"));
    QStringList paths;
    QStringList expectedEntries;
    for (int i = 0; i < clips.size(); ++i) {
        const QString stem = QStringLiteral("cam%1").arg(i + 1);
        paths.append(CopyOf(clips[i], folder, stem));
        if (blocked[i]) {
            QVERIFY(QDir().mkpath(folder + '/' + stem + QStringLiteral("_converted.mp4.evidence.json")));
            expectedEntries.append(QFileInfo(paths.last()).fileName());
        }
    }
    FakeEngine::SetRunResults(results);
    ChooseSources(s_dialogs, parts, paths);
    BoxAnswerer answerer;
    QStringList entries;
    answerer.InspectEachWith([&](ConverterMsgBox *box) { entries = ListEntries(box); });
    if (summary)
        answerer.ScreenshotNextAs(QStringLiteral("app_choices_queue_summary"));
    parts.ok->click();
    QTRY_COMPARE(FakeEngine::FinishedRuns(), clips.size());
    QTRY_VERIFY(!parts.MaskShown());

    const QString notes = Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_PICTURES_KEPT).arg(kept).arg(converted)
                          + QStringLiteral("  \u00b7  ")
                          + Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_EVIDENCE_WRITTEN)
                                .arg(records)
                                .arg(converted);
    QCOMPARE(parts.choiceNotes->FullText(), notes);
    QCOMPARE(answerer.Messages().size(), summary ? 1 : 0);
    if (!summary)
        return;
    // The summary box says it too, and names each converted file without its record.
    QVERIFY(answerer.Messages().first().startsWith(notes + QLatin1Char('\n')));
    QStringList missing;
    for (const QString &entry : entries)
        if (entry.contains(Text(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_RESULT_EVIDENCE_WHY).arg(QString())))
            missing.append(entry.section(QStringLiteral(": "), 0, 0));
    QCOMPARE(missing, expectedEntries);
}
