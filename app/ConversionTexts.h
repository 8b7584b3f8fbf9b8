// What the window says about a conversion while it runs and when it has failed, in the
// user's language: the loading box's title and detail line, and the failure box's
// reason line.
//
//     const ConversionTexts::ProgressView view = ConversionTexts::DescribeProgress(progress);
//     box->SetText(view.title);       // "Converting... 42%"
//     box->SetProgress(view.percent); // -1 while the length of the source is unknown
//     box->SetDetail(view.detail);    // "0:47 elapsed  ·  3:10 left  ·  2.4x"
//
// GUI thread only (texts come from the text table of the current language).
#pragma once

#include "ffmpeg_exec.h"

#include <QString>

namespace ConversionTexts {

struct ProgressView {
    int percent = -1;   // 0 to 100; -1 when the source's length is unknown
    QString title;
    QString detail;
};

// The loading box's texts for one progress event. With a known duration: the share
// done in the title; elapsed time, the time still needed (once the speed is known)
// and the speed in the detail. Without: the video time converted so far, the
// elapsed time and the speed.
ProgressView DescribeProgress(const RunProgress &progress);

// The title before the first progress event: "Converting...".
QString ConvertingTitle();

// A duration as m:ss below an hour and h:mm:ss from there on; negative times as 0:00.
QString ClockText(qint64 microseconds);

// The failure box's second line for a failure category.
QString FailureReason(RunFailure failure);

} // namespace ConversionTexts
