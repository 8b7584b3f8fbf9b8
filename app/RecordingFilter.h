// What the source dialog offers: a filter of the file names recorders and cameras
// export (the usual recorder and video extensions, either case) beside all files.
//
//     button->SetNameFilter(RecordingFilter::NameFilter());
//
// GUI thread only (the filter's names come from the text table).
#pragma once

#include <QString>
#include <QStringList>

class RecordingFilter
{
public:
    // The extensions, lower case, without the dot.
    static QStringList Extensions();
    // The glob patterns of the filter: "*.dav" and "*.DAV" for each extension.
    static QStringList Patterns();
    // QFileDialog's filter text: "Recordings (*.dav *.DAV ...);;All files (*)".
    static QString NameFilter();
};
