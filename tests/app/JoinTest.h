#pragma once

#include <QObject>

// The window's two later choices, "Join into one file" and "Show the recording's
// time in the picture": off by default and remembered by a new window; the time
// reaching every conversion's plan (one recording, a queue, a join: the stand-in
// engine sees the drawtext words) and the line under the choices saying whether it
// was shown or why not; a join's engine words with every recording as an input,
// its name after the first in join order, no question before a join, and its
// status line (plain, or with problems on hover); and one real join of two
// recordings the fixture generator made. Saves screenshots/app_join_*.png and
// app_time_*.png.
class JoinTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void laterChoicesAreOffAndRemembered_data();
    void laterChoicesAreOffAndRemembered();
    void timeChoiceReachesEveryConversion_data();
    void timeChoiceReachesEveryConversion();
    void joinMakesOneFileNamedAfterTheFirst_data();
    void joinMakesOneFileNamedAfterTheFirst();
    void realJoinOfTwoRecordings_data();
    void realJoinOfTwoRecordings();
};
