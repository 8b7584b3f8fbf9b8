// The source dialog's name filter; see RecordingFilter.h.
#include "RecordingFilter.h"

#include "TextIds.h"
#include "TextTable.h"

namespace {

// Recorder exports (dav, raw H.264 and HEVC streams, program and transport streams)
// and the common video containers.
const char *const Known[] = {"dav", "ts", "m2ts", "mts", "trp", "tp", "mp4", "m4v", "mov", "3gp", "avi",
                             "mkv", "webm", "mpg", "mpeg", "vob", "flv", "wmv", "asf", "264", "h264",
                             "hevc", "265", "h265", "ps", "mjpeg", "mjpg", "ifv", "sec", "dvr"};

} // namespace

QStringList RecordingFilter::Extensions()
{
    QStringList extensions;
    for (const char *extension : Known)
        extensions.append(QLatin1String(extension));
    return extensions;
}

QStringList RecordingFilter::Patterns()
{
    // Both cases: a file dialog may match names by case (GTK's does), and cameras
    // often write upper-case names.
    QStringList patterns;
    for (const QString &extension : Extensions()) {
        patterns.append(QStringLiteral("*.") + extension);
        if (extension.toUpper() != extension)
            patterns.append(QStringLiteral("*.") + extension.toUpper());
    }
    return patterns;
}

QString RecordingFilter::NameFilter()
{
    return TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_DIALOG_FILTER_RECORDINGS) + QStringLiteral(" (") +
           Patterns().join(QLatin1Char(' ')) + QStringLiteral(");;") +
           TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_DIALOG_FILTER_ALL) + QStringLiteral(" (*)");
}
