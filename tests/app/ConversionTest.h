#pragma once

#include <QObject>

// Real conversions from the window with the real engine: numbered outputs that are
// H.264 baseline MP4 files, a name with an accent and several dots, a stop request
// made between runs, closing the window while a long conversion runs, and a
// recording with nothing decodable, which fails and leaves no file.
class ConversionTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void eachConversionWritesTheNextH264BaselineMp4();
    void accentedNameWithSeveralDotsConverts();
    void stopRequestMadeBetweenRunsDoesNotStopTheNext();
    void closingDuringALongConversionFinishesTheFile();
    void recordingWithNothingDecodableFailsAndLeavesNoFile();
};
