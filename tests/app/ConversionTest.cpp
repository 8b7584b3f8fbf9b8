// Real conversions from the window. The recordings are made by the test-media
// generator; the outputs are read back with the media libraries.
#include "ConversionTest.h"

#include "AppTestSupport.h"
#include "TextIds.h"
#include "TextTable.h"
#include "TranscoderWin.h"
#include "VelaFileButton.h"
#include "VelaLineEdit.h"
#include "crafted.h"
#include "ffmpeg_exec.h"
#include "fixture_gen.h"
#include "fixture_io.h"
#include "media_probe.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <dirent.h>

#include <memory>

namespace {

ScriptedDialogs s_dialogs;

// A conversion of the small test recordings ends in seconds; this only bounds a hang.
constexpr int ConversionTimeoutMsec = 120000;

// A copy of a generated recording under a chosen name; empty when generation fails.
QString Recording(const fixtures::ClipRecipe &recipe, const QString &path)
{
    try {
        if (!CopyFile(QString::fromStdString(fixtures::clip_path(recipe)), path))
            return QString();
    } catch (const fixtures::FixtureError &error) {
        qWarning("%s", error.what());
        return QString();
    }
    return path;
}

QString ShortRecording(const QString &path)
{
    return Recording(fixtures::fixture_recipe(fixtures::FixtureKind::H264AacTs), path);
}

struct Mp4Check {
    bool ok = false;
    QString problem;
    double duration = 0;
};

// An MP4 (its index written, so it opens) whose first video stream is H.264 at the
// baseline profile (66), at `level` (level 3, 30, unless the picture needs more),
// in the picture size of the source.
Mp4Check ProbeH264BaselineMp4(const QString &path, int width, int height, int level = 30)
{
    Mp4Check check;
    fixtures::MediaInfo info;
    try {
        info = fixtures::probe_media(QFile::encodeName(path).toStdString());
    } catch (const fixtures::FixtureError &error) {
        check.problem = QString::fromUtf8(error.what());
        return check;
    }
    if (info.format.find("mp4") == std::string::npos) {
        check.problem = "format " + QString::fromStdString(info.format);
        return check;
    }
    for (const fixtures::StreamInfo &stream : info.streams) {
        if (stream.type != AVMEDIA_TYPE_VIDEO)
            continue;
        // The avcC record: version 1, then profile, compatibility and level.
        const auto &avcc = stream.extradata;
        if (stream.codec != AV_CODEC_ID_H264)
            check.problem = "video codec is not H.264";
        else if (avcc.size() < 4 || avcc[0] != 1)
            check.problem = "no avcC record";
        else if (avcc[1] != 66 || avcc[3] != level)
            check.problem = QStringLiteral("profile %1, level %2").arg(avcc[1]).arg(avcc[3]);
        else if (stream.width != width || stream.height != height)
            check.problem = QStringLiteral("%1x%2").arg(stream.width).arg(stream.height);
        else
            check.ok = true;
        check.duration = info.duration;
        return check;
    }
    check.problem = "no video stream";
    return check;
}

// Names in a folder as the bytes the file system holds.
QList<QByteArray> RawNames(const QString &folder)
{
    QList<QByteArray> names;
    if (DIR *dir = opendir(QFile::encodeName(folder).constData())) {
        while (dirent *entry = readdir(dir))
            names.append(QByteArray(entry->d_name));
        closedir(dir);
    }
    return names;
}

// Clicks OK and waits for the result; true when the status says the conversion is
// complete.
bool ConvertAndWait(WindowParts &parts)
{
    parts.ok->click();
    const QString converting = TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING) + QStringLiteral("...");
    if (parts.StatusText() != converting || !parts.MaskShown())
        return false;
    const QString complete = TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_SUCCESS);
    if (!QTest::qWaitFor([&]() { return !parts.MaskShown(); }, ConversionTimeoutMsec))
        return false;
    return parts.StatusText() == complete && parts.StatusShown();
}

} // namespace

void ConversionTest::init()
{
    VelaFileButton::SetDialogProvider(&s_dialogs);
    VelaFileButton::SetLastFolder(QString());
}

void ConversionTest::cleanup()
{
    VelaFileButton::SetDialogProvider(nullptr);
}

void ConversionTest::eachConversionWritesTheNextH264BaselineMp4()
{
    const QString folder = ScratchFolder(QStringLiteral("convert_numbered"));
    const QString source = ShortRecording(folder + QStringLiteral("/clip.ts"));
    QVERIFY(!source.isEmpty());
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, source);
    QCOMPARE(parts.destination->text(), folder);

    for (const char *name : {"clip_converted.mp4", "clip_converted_1.mp4", "clip_converted_2.mp4"}) {
        QVERIFY2(ConvertAndWait(parts), name);
        const Mp4Check check = ProbeH264BaselineMp4(folder + '/' + name, 320, 240);
        QVERIFY2(check.ok, qPrintable(QString(name) + ": " + check.problem));
    }
    QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name),
             (QStringList{"clip.ts", "clip_converted.mp4", "clip_converted_1.mp4", "clip_converted_2.mp4"}));
}

void ConversionTest::accentedNameWithSeveralDotsConverts()
{
    const QString folder = ScratchFolder(QStringLiteral("convert_accent"));
    const QString source = ShortRecording(folder + QStringLiteral("/caf\u00e9.door.ts"));
    QVERIFY(!source.isEmpty());
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, source);
    QVERIFY(ConvertAndWait(parts));

    // The engine opened the source and named the output with the letter as C3 A9.
    QVERIFY(RawNames(folder).contains(QByteArray("caf\xc3\xa9.door_converted.mp4")));
    const Mp4Check check = ProbeH264BaselineMp4(folder + QStringLiteral("/caf\u00e9.door_converted.mp4"), 320, 240);
    QVERIFY2(check.ok, qPrintable(check.problem));
}

void ConversionTest::stopRequestMadeBetweenRunsDoesNotStopTheNext()
{
    const QString folder = ScratchFolder(QStringLiteral("convert_after_stop"));
    const QString source = ShortRecording(folder + QStringLiteral("/clip.ts"));
    QVERIFY(!source.isEmpty());
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, source);

    ffmpeg_request_stop();
    QVERIFY(ConvertAndWait(parts));
    const Mp4Check check = ProbeH264BaselineMp4(folder + QStringLiteral("/clip_converted.mp4"), 320, 240);
    QVERIFY2(check.ok, qPrintable(check.problem));
    // The whole two seconds, not a run cut short.
    QVERIFY2(check.duration > 1.8, qPrintable(QString::number(check.duration)));
}

void ConversionTest::closingDuringALongConversionFinishesTheFile()
{
    // Large pictures make the encoder slow, so the window is closed well before the
    // end; the source itself is quick to make (motion JPEG).
    fixtures::ClipRecipe recipe;
    recipe.name = "app_long_720p";
    recipe.format = "avi";
    recipe.extension = "avi";
    recipe.duration = 20.0;
    fixtures::VideoTrack video;
    video.encoder = "mjpeg";
    video.width = 1280;
    video.height = 720;
    recipe.video.push_back(video);

    const QString folder = ScratchFolder(QStringLiteral("convert_close"));
    const QString source = Recording(recipe, folder + QStringLiteral("/long.avi"));
    QVERIFY(!source.isEmpty());
    const QString output = folder + QStringLiteral("/long_converted.mp4");
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, source);
    parts.ok->click();

    // Once the encoder has written its first pictures, close the window, as the
    // user would, and let the window go as the program does after its event loop.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(output).size() > 4096, ConversionTimeoutMsec);
    QVERIFY(parts.MaskShown());
    window->close();
    window.reset();

    // The run ended early and the file was finished: it opens, with its index, and
    // holds less than the source.
    // Level 3 cannot hold 1280x720 pictures: the stream says level 3.1.
    const Mp4Check check = ProbeH264BaselineMp4(output, 1280, 720, 31);
    QVERIFY2(check.ok, qPrintable(check.problem));
    QVERIFY2(check.duration > 0 && check.duration < recipe.duration - 1,
             qPrintable(QString::number(check.duration)));
}

void ConversionTest::recordingWithNothingDecodableFailsAndLeavesNoFile()
{
    // The index is intact and the engine reads to the end, but every sample is
    // zeros: no media reaches the output, which must not be called complete.
    const QString folder = ScratchFolder(QStringLiteral("convert_nothing"));
    const QString source = folder + QStringLiteral("/silent.m4a");
    try {
        Bytes bytes = fixtures::read_file(fixtures::fixture_path(fixtures::FixtureKind::AacM4a));
        QVERIFY(zero_mp4_samples(bytes));
        fixtures::write_file(QFile::encodeName(source).toStdString(), bytes);
    } catch (const fixtures::FixtureError &error) {
        QFAIL(error.what());
    }
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, source);

    BoxAnswerer answerer;
    parts.ok->click();
    QTRY_COMPARE_WITH_TIMEOUT(answerer.Messages().size(), 1, ConversionTimeoutMsec);
    QCOMPARE(answerer.Messages().first(), TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_FAILED));
    QVERIFY(parts.StatusText() != TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_SUCCESS));
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("silent.m4a")});
}
