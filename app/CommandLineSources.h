// The recordings named on the converter's command line:
//
//     wardline-video-converter [--] [file or folder]...
//
// Qt takes its own options (-platform, -style, ...) out of the arguments before this
// sees them (QApplication). Every other argument is a file or folder, made absolute
// against the working folder; "file://" URLs are taken as their local paths. An
// argument that starts with "-" is an option the converter does not have: it is left
// out and named in Ignored() (the window still opens), unless a "--" came before it,
// after which every argument is a path. A lone "-" (standard input) is no recording
// and is ignored too.
//
//     const CommandLineSources args(app.arguments());
//     window.OpenRecordings(args.Paths());
#pragma once

#include <QString>
#include <QStringList>

class CommandLineSources
{
public:
    // arguments[0] is the program.
    explicit CommandLineSources(const QStringList &arguments, const QString &workingFolder = QString());

    // The files and folders named, in their order, absolute.
    QStringList Paths() const;
    // The arguments left out, as given.
    QStringList Ignored() const;

private:
    QStringList m_paths;
    QStringList m_ignored;
};
