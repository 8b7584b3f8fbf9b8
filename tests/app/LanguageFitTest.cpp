// One language's texts in the window and in the message box. The stand-in engine
// answers the conversions, so the status line and the failure box appear as they do
// for users, with the window's own texts.
#include "LanguageFitTest.h"

#include "AppTestSupport.h"
#include "ConversionOptions.h"
#include "ConversionTexts.h"
#include "ConverterMsgBox.h"
#include "RecordingFilter.h"
#include "TextIds.h"
#include "TextTable.h"
#include "TranscoderWin.h"
#include "VelaBottomBar.h"
#include "VelaButtons.h"
#include "VelaLabels.h"
#include "VelaLanguage.h"
#include "VelaLineEdit.h"
#include "VelaLoading.h"
#include "VelaStatusWidget.h"
#include "TranscodeWorker.h"
#include "fixture_gen.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QTest>
#include <QUrl>

#include <memory>
#include <sys/stat.h>

namespace {

ScriptedDialogs s_dialogs;

QString Language()
{
    return qEnvironmentVariable("WVC_FIT_LANGUAGE");
}

// Lets pending layout passes run: the controls elide when they are resized.
void Settle()
{
    QApplication::processEvents();
    QApplication::processEvents();
}

// A control's text as set and as the control shows it.
struct ShownText {
    QString control;
    QString shown;
    QString full;
};

ShownText Of(const QString &control, const VelaBaseButton *button)
{
    return {control, button ? button->text() : QString(), button ? button->FullText() : QString()};
}

ShownText Of(const QString &control, const VelaElideLabel *label)
{
    return {control, label ? label->text() : QString(), label ? label->FullText() : QString()};
}

// The controls that show less than their whole text (or have none to show).
QStringList Cut(const QVector<ShownText> &texts)
{
    QStringList cut;
    for (const ShownText &text : texts) {
        if (text.full.isEmpty())
            cut.append(text.control + QStringLiteral(" has no text"));
        else if (text.shown != text.full)
            cut.append(QStringLiteral("%1 shows \"%2\" of \"%3\"").arg(text.control, text.shown, text.full));
    }
    return cut;
}

// What does not fit in a message box: its button's text cut, a message line wider
// than the label, more lines than the label is tall, or a label reaching the button.
QStringList BoxMisfits(const ConverterMsgBox *box)
{
    const auto *label = box->findChild<VelaElideLabel *>();
    const auto *ok = box->findChild<VelaBlueButton *>();
    if (!label || !ok)
        return {QStringLiteral("no message or no OK button")};
    QStringList misfits = Cut({Of(QStringLiteral("OK button"), ok)});
    // Laid out as the label draws its word-wrapped plain text; a word that cannot be
    // broken makes the text wider than the label.
    const QRect room = label->contentsRect();
    const QRect needed = label->fontMetrics().boundingRect(QRect(0, 0, room.width(), 10 * box->height()),
                                                           Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                                                           label->text());
    if (needed.width() > room.width())
        misfits.append(QStringLiteral("message %1 px wide in %2 px").arg(needed.width()).arg(room.width()));
    if (needed.height() > room.height())
        misfits.append(QStringLiteral("message %1 px tall in %2 px").arg(needed.height()).arg(room.height()));
    for (const VelaBaseButton *button : box->findChildren<VelaBaseButton *>()) {
        misfits += Cut({Of(QStringLiteral("button"), button)});
        if (label->geometry().bottom() >= button->geometry().top())
            misfits.append(QStringLiteral("message reaches down to the buttons"));
        if (button->geometry().left() < 0 || button->geometry().right() >= box->width())
            misfits.append(QStringLiteral("a button sticks out of the box"));
    }
    misfits.removeDuplicates();
    return misfits;
}

// What does not fit in the loading box: its title or detail wider than its label, the
// Cancel button's text cut, or the box reaching beyond the window.
QStringList ProgressBoxMisfits(const VelaLoadingWidget *box, const QWidget *window)
{
    QStringList misfits;
    for (const QLabel *label : box->findChildren<QLabel *>()) {
        if (!label->isVisible() || label->text().isEmpty())
            continue;
        const auto *elided = qobject_cast<const VelaElideLabel *>(label);
        if (elided && elided->text() != elided->FullText()) {
            misfits.append(QStringLiteral("\"%1\" elided to \"%2\"").arg(elided->FullText(), elided->text()));
            continue;
        }
        const int needed = label->fontMetrics().horizontalAdvance(label->text());
        if (needed > label->contentsRect().width())
            misfits.append(QStringLiteral("\"%1\" needs %2 px, has %3 px")
                               .arg(label->text())
                               .arg(needed)
                               .arg(label->contentsRect().width()));
    }
    misfits += Cut({Of(QStringLiteral("Cancel button"), qobject_cast<const VelaBaseButton *>(box->CancelButton()))});
    const QRect onWindow(box->mapTo(window, QPoint()), box->size());
    if (!window->rect().contains(onWindow))
        misfits.append(QStringLiteral("box %1,%2 %3x%4 beyond the window")
                           .arg(onWindow.x())
                           .arg(onWindow.y())
                           .arg(onWindow.width())
                           .arg(onWindow.height()));
    return misfits;
}

// What does not fit in a report box: its message and button as in any box, an entry's
// name cut, an entry's line wider than its label, or the list reaching the button.
QStringList SummaryMisfits(const ConverterMsgBox *box)
{
    QStringList misfits = BoxMisfits(box);
    const QScrollArea *list = box->List();
    if (!list)
        return misfits + QStringList{QStringLiteral("no list")};
    for (const VelaElideLabel *name : list->widget()->findChildren<VelaElideLabel *>(QStringLiteral("ListEntryName")))
        misfits += Cut({Of(QStringLiteral("entry name"), name)});
    for (const QLabel *line : list->widget()->findChildren<QLabel *>(QStringLiteral("ListEntryLine"))) {
        const QRect room = line->contentsRect();
        const QRect needed = line->fontMetrics().boundingRect(QRect(0, 0, room.width(), 1000),
                                                              Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                                                              line->text());
        if (needed.width() > room.width() || needed.height() > room.height())
            misfits.append(QStringLiteral("entry line %1x%2 in %3x%4")
                               .arg(needed.width())
                               .arg(needed.height())
                               .arg(room.width())
                               .arg(room.height()));
    }
    if (list->widget()->width() > list->viewport()->width())
        misfits.append(QStringLiteral("list wider than its view"));
    for (const VelaBaseButton *button : box->findChildren<VelaBaseButton *>()) {
        if (list->geometry().bottom() >= button->geometry().top())
            misfits.append(QStringLiteral("list reaches down to the buttons"));
    }
    misfits.removeDuplicates();
    return misfits;
}

// Long figures: over an hour, with the time left and the speed.
RunProgress LongestProgress()
{
    RunProgress progress;
    progress.duration_us = 7200LL * 1000000;
    progress.out_time_us = 3600LL * 1000000;
    progress.elapsed_us = 3723LL * 1000000;
    progress.speed = 0.97;
    return progress;
}

// The failure kinds the failure box explains.
const QList<RunFailure> FailureKinds{RunFailure::SourceUnreadable,       RunFailure::SourceMissing,
                                     RunFailure::SourceIsFolder,         RunFailure::SourceNoStream,
                                     RunFailure::DestinationMissing,     RunFailure::DestinationNotWritable,
                                     RunFailure::DiskFull,               RunFailure::OutputNameRefused,
                                     RunFailure::EncoderRefused,         RunFailure::Other};

// A folder in which every output name of "gate.ts" is taken: ten thousand files, made
// once per run and removed at its end.
QString s_fullFolder;

QString FullFolder()
{
    if (s_fullFolder.isEmpty()) {
        const QString folder = ScratchFolder(QStringLiteral("fit_full_") + Language());
        if (TakeEveryOutputName(folder, QStringLiteral("gate.ts")))
            s_fullFolder = folder;
    }
    return s_fullFolder;
}

// Pictures in rows of `perRow`, on grey.
QImage Sheet(const QList<QImage> &pictures, int perRow)
{
    const int gap = 10;
    int cellWidth = 0;
    int cellHeight = 0;
    for (const QImage &picture : pictures) {
        cellWidth = qMax(cellWidth, picture.width());
        cellHeight = qMax(cellHeight, picture.height());
    }
    const int rows = (pictures.size() + perRow - 1) / perRow;
    QImage sheet(gap + perRow * (cellWidth + gap), gap + rows * (cellHeight + gap), QImage::Format_ARGB32);
    sheet.fill(QColor(0x80, 0x80, 0x80));
    QPainter painter(&sheet);
    for (int i = 0; i < pictures.size(); ++i) {
        QImage picture = pictures[i];
        picture.setDevicePixelRatio(1.0);
        painter.drawImage(gap + i % perRow * (cellWidth + gap), gap + i / perRow * (cellHeight + gap), picture);
    }
    return sheet;
}

} // namespace

void LanguageFitTest::init()
{
    FakeEngine::Install();
    VelaFileButton::SetDialogProvider(&s_dialogs);
    VelaFileButton::SetLastFolder(QString());
    s_dialogs.file = ScratchFolder(QStringLiteral("fit_") + Language()) + QStringLiteral("/entrance_0800.ts");
}

void LanguageFitTest::cleanup()
{
    FakeEngine::Uninstall();
    VelaFileButton::SetDialogProvider(nullptr);
}

void LanguageFitTest::cleanupTestCase()
{
    if (!s_fullFolder.isEmpty())
        QDir(s_fullFolder).removeRecursively();
    // Two pictures per language: the window's states (converting, done, cancelled,
    // and the plain status line while the box is up), and the boxes (each failure
    // reason, the about box, the close question).
    const bool doubled = qApp->devicePixelRatio() > 1.0;
    const QString folder = QStringLiteral(WVC_SCREENSHOT_DIR "/lang") + (doubled ? "/2x" : "");
    QDir().mkpath(folder);
    Sheet(m_windows, 2).save(folder + QLatin1Char('/') + Language() + QStringLiteral(".png"));
    Sheet(m_boxes, 3).save(folder + QLatin1Char('/') + Language() + QStringLiteral("_boxes.png"));
    Sheet(m_keys, 3).save(folder + QLatin1Char('/') + Language() + QStringLiteral("_keys.png"));
}

void LanguageFitTest::runsInTheLanguageOfTheLocale()
{
    // Otherwise every run would check the English texts.
    QVERIFY2(VelaLanguage::SupportedCodes().contains(Language()), "WVC_FIT_LANGUAGE names no shipped language");
    TranscoderWin window;
    const auto languages = qApp->findChildren<VelaLanguage *>(QString(), Qt::FindDirectChildrenOnly);
    QVERIFY(!languages.isEmpty());
    QCOMPARE(languages.last()->Code(), Language());
    QVERIFY(!languages.last()->isEmpty());
}

void LanguageFitTest::windowControlsShowTheirWholeTexts()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const auto *status = parts.bar->StatusWidget()->findChild<VelaElideLabel *>();
    QVERIFY(status);
    ChooseSource(s_dialogs, parts, s_dialogs.file);
    QVERIFY(parts.ok->isEnabled());

    FakeEngine::SetBlocking(true);
    parts.ok->click();
    QTRY_COMPARE(FakeEngine::Runs(), 1);
    Settle();
    QVERIFY(parts.StatusShown());
    QCOMPARE(status->FullText(), TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING) + QStringLiteral("..."));
    QVector<ShownText> texts{
        Of(QStringLiteral("source caption"), parts.sourceCaption),
        Of(QStringLiteral("destination caption"), parts.destinationCaption),
        Of(QStringLiteral("source button"), parts.sourceButton),
        Of(QStringLiteral("destination button"), parts.destinationButton),
        Of(QStringLiteral("OK button"), qobject_cast<VelaBaseButton *>(parts.ok)),
        Of(QStringLiteral("status while converting"), status),
    };
    // The loading box with the longest figures it shows, then without a known length.
    QStringList misfits;
    QMetaObject::invokeMethod(window.get(), "SlotProgress", Q_ARG(RunProgress, LongestProgress()));
    Settle();
    misfits += ProgressBoxMisfits(parts.progressBox, window.get());
    m_windows.append(window->grab().toImage());
    RunProgress unknownLength = LongestProgress();
    unknownLength.duration_us = -1;
    QMetaObject::invokeMethod(window.get(), "SlotProgress", Q_ARG(RunProgress, unknownLength));
    Settle();
    misfits += ProgressBoxMisfits(parts.progressBox, window.get());

    FakeEngine::Release();
    QTRY_VERIFY(!parts.MaskShown());
    Settle();
    QVERIFY(parts.StatusShown());
    QCOMPARE(status->FullText(), CompleteText(QStringLiteral("entrance_0800_converted.mp4")));
    texts.append(Of(QStringLiteral("status when complete"), status));
    m_windows.append(window->grab().toImage());

    parts.ok->click();
    QTRY_COMPARE(FakeEngine::Runs(), 2);
    parts.progressBox->CancelButton()->click();
    QTRY_VERIFY(!parts.MaskShown());
    Settle();
    QCOMPARE(status->FullText(), TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CANCELLED));
    texts.append(Of(QStringLiteral("status when cancelled"), status));
    m_windows.append(window->grab().toImage());

    misfits += Cut(texts);
    QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(QStringLiteral("; "))));
}

void LanguageFitTest::messageBoxTextsFitAboveTheirButton()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, s_dialogs.file);

    QStringList misfits;
    BoxAnswerer answerer;
    answerer.InspectEachWith([&](ConverterMsgBox *box) {
        const QString name = QStringLiteral("box %1").arg(m_boxes.size() + 1);
        for (const QString &misfit : BoxMisfits(box))
            misfits.append(name + QStringLiteral(": ") + misfit);
        m_boxes.append(box->grab().toImage());
    });
    // The failure box with each reason line.
    FakeEngine::SetStatus(-1);
    for (RunFailure failure : FailureKinds) {
        FakeEngine::SetFailure(failure);
        const int before = answerer.Messages().size();
        parts.ok->click();
        QTRY_COMPARE(answerer.Messages().size(), before + 1);
        QCOMPARE(answerer.Messages().last(), FailureMessage(failure));
    }
    // The reason the window gives without a run: every output name taken.
    const QString source = s_dialogs.file;
    QVERIFY(!FullFolder().isEmpty());
    ChooseSource(s_dialogs, parts, FullFolder() + QStringLiteral("/gate.ts"));
    const int before = answerer.Messages().size();
    parts.ok->click();
    QTRY_COMPARE(answerer.Messages().size(), before + 1);
    QCOMPARE(answerer.Messages().last(), TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_FAILED)
                                             + QLatin1Char('\n') + ConversionTexts::NamesTakenReason());
    ChooseSource(s_dialogs, parts, source);
    parts.about->click();
    QVERIFY(answerer.Messages().last().startsWith(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_NAME)));

    // The close question, answered with "keep converting".
    FakeEngine::SetBlocking(true);
    parts.ok->click();
    QTRY_COMPARE(FakeEngine::Runs(), int(FailureKinds.size()) + 1);
    const int beforeClose = answerer.Messages().size();
    window->close();
    QTRY_COMPARE(answerer.Messages().size(), beforeClose + 1);
    QCOMPARE(answerer.Messages().last(), TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CLOSE_QUESTION));
    QVERIFY(window->isVisible());
    FakeEngine::Release();

    QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(QStringLiteral("; "))));
}

namespace {

// Five recordings, named as a recorder's export names them.
QStringList QueueSources()
{
    const QString folder = ScratchFolder(QStringLiteral("fit_queue_") + Language());
    QStringList paths;
    for (int hour = 8; hour <= 12; ++hour)
        paths.append(folder + QStringLiteral("/entrance_%1.ts").arg(hour * 100, 4, 10, QLatin1Char('0')));
    return paths;
}

} // namespace

void LanguageFitTest::queueTextsShowWhole()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const auto *status = parts.bar->StatusWidget()->findChild<VelaElideLabel *>();
    QVERIFY(status);
    const QStringList sources = QueueSources();
    ChooseSources(s_dialogs, parts, sources);
    QStringList misfits;
    const int fieldNeeds = parts.source->fontMetrics().horizontalAdvance(parts.source->text());
    // The text margins and the frame take a few pixels of the field.
    if (fieldNeeds > parts.source->contentsRect().width() - 8)
        misfits.append(QStringLiteral("source field \"%1\" needs %2 px").arg(parts.source->text()).arg(fieldNeeds));

    // The queue box, in its second recording, with its longest figures.
    FakeEngine::SetBlocking(true);
    parts.ok->click();
    FakeEngine::Release();
    QTRY_COMPARE(FakeEngine::Runs(), 2);
    QMetaObject::invokeMethod(window.get(), "SlotProgress", Q_ARG(RunProgress, LongestProgress()));
    parts.progressBox->SetQueueLine(ConversionTexts::QueueLine(10, 10, QFileInfo(sources[1]).fileName()));
    parts.progressBox->SetDetail(ConversionTexts::QueueOverall(100, 3723LL * 1000000));
    Settle();
    QVERIFY(parts.progressBox->IsQueueStyle());
    misfits += ProgressBoxMisfits(parts.progressBox, window.get());
    m_windows.append(window->grab().toImage());

    // Cancelled in the second (its summary names the four never converted, and
    // fits), then all five converted.
    BoxAnswerer cancelled;
    QStringList summaryMisfits;
    cancelled.InspectEachWith([&summaryMisfits](ConverterMsgBox *box) { summaryMisfits += SummaryMisfits(box); });
    parts.progressBox->CancelButton()->click();
    QTRY_COMPARE(cancelled.Messages().size(), 1);
    QVERIFY2(summaryMisfits.isEmpty(), qPrintable(summaryMisfits.join(QStringLiteral("; "))));
    QTRY_VERIFY(!parts.MaskShown());
    Settle();
    QCOMPARE(status->FullText(), ConversionTexts::QueueCancelled(1, 5));
    QVector<ShownText> texts{Of(QStringLiteral("status when a queue is cancelled"), status)};
    FakeEngine::SetBlocking(false);
    parts.ok->click();
    QTRY_VERIFY(!parts.MaskShown());
    Settle();
    QCOMPARE(status->FullText(), ConversionTexts::QueueAllConverted(5));
    texts.append(Of(QStringLiteral("status when a queue converted"), status));
    m_windows.append(window->grab().toImage());

    // The search of a dropped folder: the box while it runs, the status when it
    // found nothing.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(ScratchFolder(QStringLiteral("fit_empty_") + Language()))});
    const QPoint at = parts.source->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(parts.source, &enter);
    QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(parts.source, &dropped);
    QCOMPARE(parts.progressBox->Text(), TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_SCANNING));
    Settle();
    misfits += ProgressBoxMisfits(parts.progressBox, window.get());
    QTRY_VERIFY(!parts.MaskShown());
    Settle();
    QCOMPARE(status->FullText(), TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING_QUEUE_NONE_FOUND));
    texts.append(Of(QStringLiteral("status when no recording was found"), status));

    misfits += Cut(texts);
    QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(QStringLiteral("; "))));
}

void LanguageFitTest::queueSummaryFitsAboveItsButton()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    // Every failure reason, and one recording converted.
    QList<RunFailure> results = FailureKinds;
    results.insert(1, RunFailure::None);
    QStringList sources = QueueSources();
    const QString folder = QFileInfo(sources.first()).path();
    while (sources.size() < results.size())
        sources.append(folder + QStringLiteral("/yard_%1.ts").arg(sources.size()));
    // And the one that fails without a run, last, so that the runs keep their results:
    // into the folder where all its names are taken.
    QVERIFY(!FullFolder().isEmpty());
    sources.append(FullFolder() + QStringLiteral("/gate.ts"));
    ChooseSources(s_dialogs, parts, sources);
    parts.destination->setText(FullFolder());
    FakeEngine::SetRunResults(results);

    QStringList misfits;
    int entries = 0;
    BoxAnswerer answerer;
    answerer.InspectEachWith([&](ConverterMsgBox *box) {
        misfits += SummaryMisfits(box);
        entries = ListEntries(box).size();
        m_boxes.append(box->grab().toImage());
    });
    parts.ok->click();
    QTRY_COMPARE(answerer.Messages().size(), 1);
    QCOMPARE(answerer.Messages().first(), ConversionTexts::QueueSummary(1, sources.size()));
    QCOMPARE(entries, sources.size() - 1);
    QTRY_VERIFY(!parts.MaskShown());
    Settle();
    const auto *status = parts.bar->StatusWidget()->findChild<VelaElideLabel *>();
    QCOMPARE(status->FullText(), ConversionTexts::QueueSomeConverted(1, sources.size()));
    misfits += Cut({Of(QStringLiteral("status when some of a queue failed"), status)});
    QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(QStringLiteral("; "))));
}

namespace {

RunProblem Problem(RunProblemKind kind, int64_t a, int64_t b = 0, const char *detail = "")
{
    RunProblem problem;
    problem.kind = kind;
    problem.a = a;
    problem.b = b;
    problem.detail = detail;
    return problem;
}

// Every kind of problem, with the longest figures each may show.
std::vector<RunProblem> EveryProblem()
{
    return {Problem(RunProblemKind::ShortOfDeclaredLength, 35999000000, 35999000000),
            Problem(RunProblemKind::ReadingStoppedEarly, 99, 100),
            Problem(RunProblemKind::DamagedPackets, 99999),
            Problem(RunProblemKind::DecodeErrors, 99999),
            Problem(RunProblemKind::StreamLeftOut, 0, 0, "video"),
            Problem(RunProblemKind::StreamLeftOut, 1, 0, "audio"),
            Problem(RunProblemKind::TimelineGap, 35999000000, 35999000000)};
}

} // namespace

void LanguageFitTest::partialAndSkippedFilesFitTheirStatusAndSummary()
{
    // A dropped folder: one recording of each kind of problem, a file of every
    // reason to skip it, and other files.
    const QString folder = ScratchFolder(QStringLiteral("fit_partial_") + Language());
    const std::vector<RunProblem> problems = EveryProblem();
    for (size_t i = 0; i < problems.size(); ++i)
        QVERIFY(QFile::copy(QString::fromStdString(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs)),
                            folder + QStringLiteral("/entrance_%1.ts").arg(800 + i)));
    for (const char *name : {"/entrance_notes.ts", "/readme.txt"}) {
        QFile text(folder + QLatin1String(name));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a recording\n");
    }
    QCOMPARE(mkfifo(QFile::encodeName(folder + QStringLiteral("/entrance_live.ts")).constData(), 0600), 0);
    auto window = ShownWindow();
    WindowParts parts(window.get());
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(folder)});
    const QPoint at = parts.source->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(parts.source, &enter);
    QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(parts.source, &dropped);
    QTRY_COMPARE(window->QueuedSources().size(), int(problems.size()));

    // Each run reports one problem, the window lists them all in the summary.
    QStringList misfits;
    BoxAnswerer answerer;
    int entries = 0;
    answerer.InspectEachWith([&](ConverterMsgBox *box) {
        misfits += SummaryMisfits(box);
        entries = ListEntries(box).size();
        m_boxes.append(box->grab().toImage());
    });
    QList<std::vector<RunProblem>> each;
    for (const RunProblem &problem : problems)
        each.append({problem});
    FakeEngine::SetRunProblems(each);
    parts.ok->click();
    QTRY_COMPARE(answerer.Messages().size(), 1);
    QCOMPARE(entries, int(problems.size()) + 2);
    QTRY_VERIFY(!parts.MaskShown());
    Settle();
    const auto *status = parts.bar->StatusWidget()->findChild<VelaElideLabel *>();
    QCOMPARE(status->FullText(), ConversionTexts::WithPartial(ConversionTexts::QueueAllConverted(int(problems.size())),
                                                              int(problems.size())));
    QVector<ShownText> texts{Of(QStringLiteral("status when a queue converted with problems"), status)};
    m_windows.append(window->grab().toImage());

    // One recording with the problem a damaged recording has most.
    ChooseSource(s_dialogs, parts, folder + QStringLiteral("/entrance_800.ts"));
    FakeEngine::SetProblems({Problem(RunProblemKind::ShortOfDeclaredLength, 3000000, 8000000)});
    parts.ok->click();
    QTRY_VERIFY(!parts.MaskShown());
    Settle();
    QCOMPARE(status->FullText(), ConversionTexts::PartialStatus({Problem(RunProblemKind::ShortOfDeclaredLength,
                                                                          3000000, 8000000)}));
    texts.append(Of(QStringLiteral("status when converted with problems"), status));
    m_windows.append(window->grab().toImage());
    misfits += Cut(texts);
    QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(QStringLiteral("; "))));
}

namespace {

// What does not fit of a check box: its text and box wider than the room it has, or
// the box reaching beyond the window.
QStringList CheckBoxMisfits(const QCheckBox *box, const QWidget *window)
{
    QStringList misfits;
    if (box->text().isEmpty())
        misfits.append(QStringLiteral("a check box has no text"));
    if (box->sizeHint().width() > box->width())
        misfits.append(QStringLiteral("\"%1\" needs %2 px, has %3 px")
                           .arg(box->text())
                           .arg(box->sizeHint().width())
                           .arg(box->width()));
    const QRect onWindow(box->mapTo(window, QPoint()), box->size());
    if (!window->rect().contains(onWindow))
        misfits.append(QStringLiteral("\"%1\" beyond the window").arg(box->text()));
    return misfits;
}

} // namespace

void LanguageFitTest::choicesAndWhatBecameOfThemShowWhole()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    QVERIFY(parts.keepVideo && parts.evidence && parts.choiceNotes);
    parts.keepVideo->setChecked(true);
    parts.evidence->setChecked(true);
    Settle();
    QStringList misfits = CheckBoxMisfits(parts.keepVideo, window.get()) + CheckBoxMisfits(parts.evidence, window.get());
    if (parts.keepVideo->geometry().intersects(parts.evidence->geometry()))
        misfits.append(QStringLiteral("the check boxes overlap"));

    // Every line the choices can leave under them: one conversion's (each side of
    // each choice), and a queue's with four-digit counts.
    ConversionChoices both;
    both.keep_video = true;
    both.evidence = true;
    QVector<ShownText> texts;
    for (bool kept : {true, false}) {
        const QString record = kept ? QStringLiteral("/rec/cam_converted.mp4.evidence.json") : QString();
        ConversionPlan plan;
        plan.video_kept = kept;
        plan.keep_refusal = "the picture is MJPEG";
        const ConversionTexts::ChoiceNotes notes = ConversionTexts::ResultNotes(both, plan, record, QString());
        parts.choiceNotes->setText(notes.text);
        Settle();
        texts.append(Of(QStringLiteral("line under the choices"), parts.choiceNotes));
        if (kept)
            m_windows.append(window->grab().toImage());
    }
    parts.choiceNotes->setText(ConversionTexts::QueueNotes(both, 9999, 9999, 0, 9999));
    Settle();
    texts.append(Of(QStringLiteral("line under the choices after a queue"), parts.choiceNotes));
    misfits += Cut(texts);

    // A queue's summary with the count of records above it and a file without one
    // (the stand-in engine's source is not there to be hashed).
    const QStringList sources = QueueSources().mid(0, 2);
    ChooseSources(s_dialogs, parts, sources);
    FakeEngine::SetRunResults({RunFailure::None, RunFailure::Other});
    BoxAnswerer answerer;
    answerer.InspectEachWith([&](ConverterMsgBox *box) {
        for (const QString &misfit : SummaryMisfits(box))
            misfits.append(QStringLiteral("summary with records: ") + misfit);
        m_boxes.append(box->grab().toImage());
    });
    parts.ok->click();
    QTRY_COMPARE(answerer.Messages().size(), 1);
    QVERIFY(answerer.Messages().first().startsWith(ConversionTexts::QueueNotes(both, 0, 0, 0, 1)));
    QTRY_VERIFY(!parts.MaskShown());
    Settle();
    misfits += Cut({Of(QStringLiteral("line under the choices after a queue"), parts.choiceNotes)});
    m_windows.append(window->grab().toImage());
    QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(QStringLiteral("; "))));
}

void LanguageFitTest::keysAndSourceChoiceShowWhole()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    ChooseSource(s_dialogs, parts, s_dialogs.file);
    QStringList misfits;
    // The focus as Tab leaves it: on Select, then on OK.
    parts.source->setFocus(Qt::TabFocusReason);
    QTest::keyClick(parts.source, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), parts.sourceButton);
    Settle();
    m_keys.append(window->grab().toImage());
    parts.ok->setFocus(Qt::TabFocusReason);
    Settle();
    m_keys.append(window->grab().toImage());

    // Each key named in its control's tool tip, in the language's punctuation.
    const QString hint = TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_CONTROL_KEY_HINT);
    if (hint.count(QStringLiteral("%1")) != 1 || hint.count(QStringLiteral("%2")) != 1)
        misfits.append(QStringLiteral("the key hint \"%1\" needs %1 and %2 once each").arg(hint));
    const QList<QPair<QWidget *, QKeySequence>> keyed{
        {parts.sourceButton, TranscoderWin::SelectKey()}, {parts.destinationButton, TranscoderWin::DestinationKey()},
        {parts.keepVideo, TranscoderWin::KeepVideoKey()}, {parts.evidence, TranscoderWin::EvidenceKey()},
        {parts.ok, TranscoderWin::StartKey()},            {parts.about, TranscoderWin::AboutKey()}};
    for (const auto &control : keyed) {
        if (!control.first->toolTip().contains(control.second.toString(QKeySequence::NativeText)))
            misfits.append(QStringLiteral("tool tip \"%1\" without its key").arg(control.first->toolTip()));
    }
    // A dialog reads "Name (patterns)" and splits filters at ";;": a name must hold neither.
    for (unsigned int id : {TextId::WL_CLIENT_VIDEO_TRANSCODER_DIALOG_FILTER_RECORDINGS,
                            TextId::WL_CLIENT_VIDEO_TRANSCODER_DIALOG_FILTER_ALL}) {
        const QString name = TextById(id);
        if (name.isEmpty() || name.contains(QLatin1Char('(')) || name.contains(QLatin1Char(')')) ||
            name.contains(QLatin1Char(';')))
            misfits.append(QStringLiteral("filter name \"%1\"").arg(name));
    }
    if (RecordingFilter::NameFilter().split(QStringLiteral(";;")).size() != 2)
        misfits.append(QStringLiteral("the dialog's filter is not two filters"));

    // Select's menu: both entries whole (text and key) inside the screen.
    parts.sourceButton->click();
    QMenu *menu = parts.sourceButton->ChoiceMenu();
    QVERIFY(menu && QTest::qWaitForWindowExposed(menu));
    menu->setActiveAction(menu->actions().value(1));
    Settle();
    for (QAction *entry : menu->actions()) {
        const QStringList sides = entry->text().split(QLatin1Char('\t'));
        const QRect room = menu->actionGeometry(entry);
        const int needed = menu->fontMetrics().horizontalAdvance(sides.value(0) + QStringLiteral("  ") + sides.value(1));
        if (sides.size() != 2 || sides[0].isEmpty() || needed > room.width())
            misfits.append(QStringLiteral("menu entry \"%1\" in %2 px").arg(entry->text()).arg(room.width()));
    }
    if (!window->screen()->geometry().contains(menu->geometry()))
        misfits.append(QStringLiteral("the menu leaves the screen"));
    QImage picture = window->grab().toImage();
    {
        QPainter painter(&picture);
        painter.drawImage(window->mapFromGlobal(menu->mapToGlobal(QPoint())), menu->grab().toImage());
    }
    m_keys.append(picture);
    menu->hide();
    if (!window->rect().contains(QRect(window->mapFromGlobal(menu->mapToGlobal(QPoint())), menu->size())))
        misfits.append(QStringLiteral("the menu reaches beyond the window"));
    QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(QStringLiteral("; "))));
}

namespace {

// The start of a status text up to its "%1", which must show whole even when the
// name or reason put there is elided.
QString Prefix(const QString &text)
{
    return text.left(text.indexOf(QStringLiteral("%1")));
}

} // namespace

void LanguageFitTest::endsOfRunsShowWhole()
{
    // By name, as the stand-in engine's empty outputs carry no source mark.
    const TranscoderWin::EarlierOutputFinder previous =
        TranscoderWin::SetEarlierOutputFinder([](const QString &source, const QString &folder) {
            const QString path = folder + QLatin1Char('/') + TranscoderWin::OutputName(QFileInfo(source).fileName(), 0);
            return QFile::exists(path) ? path : QString();
        });
    const QString folder = ScratchFolder(QStringLiteral("fit_end_") + Language());
    QStringList sources;
    for (int hour = 8; hour <= 12; ++hour) {
        sources.append(folder + QStringLiteral("/entrance_%1.ts").arg(hour * 100, 4, 10, QLatin1Char('0')));
        QFile file(sources.last());
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const auto *status = parts.bar->StatusWidget()->findChild<VelaElideLabel *>();
    QStringList misfits;
    QVector<ShownText> texts;
    BoxAnswerer answerer;
    answerer.AnswerWithKey(Qt::Key_Return);    // Cancel has the focus in the questions
    answerer.InspectEachWith([&](ConverterMsgBox *box) {
        misfits += box->List() ? SummaryMisfits(box) : BoxMisfits(box);
        m_boxes.append(box->grab().toImage());
    });

    // One recording converted, then OK again: the question.
    ChooseSource(s_dialogs, parts, sources.first());
    parts.ok->click();
    QTRY_COMPARE(status->FullText(), CompleteText(QStringLiteral("entrance_0800_converted.mp4")));
    // No program opens the folder.
    const TranscoderWin::FolderOpener opener = TranscoderWin::SetFolderOpener([](const QUrl &) { return false; });
    QTest::mouseClick(parts.bar->StatusWidget(), Qt::LeftButton);
    TranscoderWin::SetFolderOpener(opener);
    Settle();
    QCOMPARE(status->FullText(), ConversionTexts::FolderNotOpened(folder));
    const QString opened = Prefix(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_END_FOLDER_NOT_OPENED));
    if (!status->text().startsWith(opened))
        misfits.append(QStringLiteral("status shows \"%1\" of \"%2\"").arg(status->text(), opened));
    m_windows.append(window->grab().toImage());

    parts.ok->click();
    QTRY_COMPARE(answerer.Messages().size(), 1);
    QCOMPARE(answerer.Messages().last(), ConversionTexts::AgainQuestion(QStringLiteral("entrance_0800.ts"),
                                                                        QStringLiteral("entrance_0800_converted.mp4")));


    // A queue of five, one converted before, cancelled in its second run.
    ChooseSources(s_dialogs, parts, sources);
    FakeEngine::SetBlocking(true);
    parts.ok->click();
    FakeEngine::Release();
    QTRY_COMPARE(FakeEngine::Runs(), 3);
    parts.progressBox->CancelButton()->click();
    QTRY_COMPARE(answerer.Messages().size(), 2);
    // Under the line on the choices an earlier test left ticked.
    QVERIFY2(answerer.Messages().last().endsWith(ConversionTexts::QueueSummary(1, 4, true, true, 1)),
             qPrintable(answerer.Messages().last()));
    QTRY_VERIFY(!parts.MaskShown());
    Settle();
    QCOMPARE(status->FullText(), ConversionTexts::WithAlready(ConversionTexts::QueueCancelled(1, 4), 1));
    texts.append(Of(QStringLiteral("status of a cancelled queue"), status));
    m_windows.append(window->grab().toImage());

    // The rest, then OK on a queue converted whole.
    FakeEngine::SetBlocking(false);
    parts.ok->click();
    QTRY_COMPARE(status->FullText(), ConversionTexts::WithAlready(ConversionTexts::QueueAllConverted(3), 2));
    Settle();
    texts.append(Of(QStringLiteral("status of a queue with some converted before"), status));
    parts.ok->click();
    QTRY_COMPARE(answerer.Messages().size(), 3);
    QCOMPARE(answerer.Messages().last(), ConversionTexts::QueueAgainQuestion(5));

    // A failure's note once its box is closed.
    ChooseSource(s_dialogs, parts, folder + QStringLiteral("/yard.ts"));
    FakeEngine::SetStatus(-1);
    FakeEngine::SetFailure(RunFailure::DiskFull);
    parts.ok->click();
    QTRY_COMPARE(answerer.Messages().size(), 4);
    QTRY_VERIFY(!parts.MaskShown());
    Settle();
    QCOMPARE(status->FullText(), ConversionTexts::FailedNote(ConversionTexts::FailureReason(RunFailure::DiskFull)));
    texts.append(Of(QStringLiteral("failure note"), status));
    m_windows.append(window->grab().toImage());
    TranscoderWin::SetEarlierOutputFinder(previous);

    misfits += Cut(texts);
    QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(QStringLiteral("; "))));
}

void LanguageFitTest::joinAndTimeShowWhole()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    const QList<QCheckBox *> boxes{parts.keepVideo, parts.evidence, parts.join, parts.time};
    QStringList misfits;
    for (QCheckBox *box : boxes)
        box->setChecked(true);
    Settle();
    for (int i = 0; i < boxes.size(); ++i) {
        misfits += CheckBoxMisfits(boxes[i], window.get());
        for (int j = i + 1; j < boxes.size(); ++j)
            if (boxes[i]->geometry().intersects(boxes[j]->geometry()))
                misfits.append(QStringLiteral("\"%1\" overlaps \"%2\"").arg(boxes[i]->text(), boxes[j]->text()));
    }

    // The line under the choices with every choice on, the time shown or not. (A
    // queue's counts of all three choices do not fit one line in most languages
    // yet: the label then elides and shows the whole line on hover; not checked.)
    ConversionChoices all;
    all.keep_video = true;
    all.evidence = true;
    all.time_in_picture = ConversionChoices::TimeInPicture::Local;
    QVector<ShownText> texts;
    for (bool shown : {true, false}) {
        ConversionPlan plan;
        plan.time_shown = shown;
        plan.time_refusal = shown ? "" : "the recording's start time is not known";
        parts.choiceNotes->setText(
            ConversionTexts::ResultNotes(all, plan, QStringLiteral("/rec/cam_converted.mp4.evidence.json"), QString())
                .text);
        Settle();
        texts.append(Of(QStringLiteral("line under the choices, time shown or not"), parts.choiceNotes));
    }
    // A queue's count of the time alone.
    ConversionChoices time;
    time.time_in_picture = ConversionChoices::TimeInPicture::Local;
    parts.choiceNotes->setText(ConversionTexts::QueueNotes(time, 0, 0, 9999, 9999));
    Settle();
    texts.append(Of(QStringLiteral("line under the choices after a queue, the time"), parts.choiceNotes));

    // A join of three recordings, then one that closed a gap: their status lines.
    for (QCheckBox *box : {parts.keepVideo, parts.evidence})
        box->setChecked(false);
    const QString folder = ScratchFolder(QStringLiteral("fit_join_") + Language());
    QStringList sources;
    for (int hour = 8; hour <= 10; ++hour) {
        sources.append(folder + QStringLiteral("/entrance_%1.ts").arg(hour * 100, 4, 10, QLatin1Char('0')));
        QVERIFY(CopyFile(QString::fromStdString(fixtures::fixture_path(fixtures::FixtureKind::H264AacTs)),
                         sources.last()));
    }
    const auto *status = parts.bar->StatusWidget()->findChild<VelaElideLabel *>();
    ChooseSources(s_dialogs, parts, sources);
    parts.ok->click();
    QTRY_COMPARE(status->FullText(), ConversionTexts::JoinedStatus(3, QStringLiteral("entrance_0800_converted_joined.mp4")));
    Settle();
    // The file's name may be shortened, the count and the words before it not.
    const QString joinedWords = TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_END_JOINED);
    const QString joinedPrefix = joinedWords.left(joinedWords.indexOf(QStringLiteral("%2"))).arg(3);
    if (!status->text().startsWith(joinedPrefix))
        misfits.append(QStringLiteral("status shows \"%1\" of \"%2\"").arg(status->text(), joinedPrefix));
    texts.append(Of(QStringLiteral("time not shown after a join"), parts.choiceNotes));
    m_windows.append(window->grab().toImage());
    FakeEngine::SetProblems({Problem(RunProblemKind::SegmentLeftOut, 0, 0, "entrance_0900.ts"),
                             Problem(RunProblemKind::TimelineGap, 35999000000, 35999000000)});
    parts.ok->click();
    QTRY_VERIFY(status->FullText().startsWith(
        Prefix(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_END_JOINED_PARTIAL))));
    Settle();
    // Every problem shows on hover; the words before the first one show whole.
    const QString partialPrefix = Prefix(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_END_JOINED_PARTIAL));
    if (!status->text().startsWith(partialPrefix))
        misfits.append(QStringLiteral("status shows \"%1\" of \"%2\"").arg(status->text(), partialPrefix));
    m_windows.append(window->grab().toImage());
    for (QCheckBox *box : boxes)
        box->setChecked(false);
    misfits += Cut(texts);
    QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(QStringLiteral("; "))));
}
