// One language's texts in the window and in the message box. The stand-in engine
// answers the conversions, so the status line and the failure box appear as they do
// for users, with the window's own texts.
#include "LanguageFitTest.h"

#include "AppTestSupport.h"
#include "ConverterMsgBox.h"
#include "TextIds.h"
#include "TextTable.h"
#include "TranscoderWin.h"
#include "VelaBottomBar.h"
#include "VelaButtons.h"
#include "VelaLabels.h"
#include "VelaLanguage.h"
#include "VelaStatusWidget.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTest>

#include <memory>

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
    if (label->geometry().bottom() >= ok->geometry().top())
        misfits.append(QStringLiteral("message reaches down to the OK button"));
    return misfits;
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
    // One picture per language: the window when done and while converting, then the
    // failure box beside the about box.
    const int gap = 10;
    const int width = qMax(m_done.width(), m_failureBox.width() + gap + m_aboutBox.width()) + 2 * gap;
    const int boxesTop = 3 * gap + m_done.height() + m_converting.height();
    const int height = boxesTop + qMax(m_failureBox.height(), m_aboutBox.height()) + gap;
    QImage sheet(width, height, QImage::Format_ARGB32);
    sheet.fill(QColor(0x80, 0x80, 0x80));
    QPainter painter(&sheet);
    painter.drawImage(gap, gap, m_done);
    painter.drawImage(gap, 2 * gap + m_done.height(), m_converting);
    painter.drawImage(gap, boxesTop, m_failureBox);
    painter.drawImage(2 * gap + m_failureBox.width(), boxesTop, m_aboutBox);
    painter.end();
    const QString folder = QStringLiteral(WVC_SCREENSHOT_DIR "/lang");
    QDir().mkpath(folder);
    sheet.save(folder + QLatin1Char('/') + Language() + QStringLiteral(".png"));
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
    parts.sourceButton->click();
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
    m_converting = window->grab().toImage();

    FakeEngine::Release();
    QTRY_VERIFY(!parts.MaskShown());
    Settle();
    QVERIFY(parts.StatusShown());
    QCOMPARE(status->FullText(), TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_SUCCESS));
    texts.append(Of(QStringLiteral("status when complete"), status));
    m_done = window->grab().toImage();

    const QStringList cut = Cut(texts);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("; "))));
}

void LanguageFitTest::messageBoxTextsFitAboveTheirButton()
{
    auto window = ShownWindow();
    WindowParts parts(window.get());
    parts.sourceButton->click();
    FakeEngine::SetStatus(-1);

    const QStringList boxNames{QStringLiteral("failure box"), QStringLiteral("about box")};
    QStringList misfits;
    QList<QImage> pictures;
    BoxAnswerer answerer;
    answerer.InspectEachWith([&](ConverterMsgBox *box) {
        const QString name = boxNames.value(pictures.size(), QStringLiteral("another box"));
        for (const QString &misfit : BoxMisfits(box))
            misfits.append(name + QStringLiteral(": ") + misfit);
        pictures.append(box->grab().toImage());
    });
    parts.ok->click();
    QTRY_COMPARE(answerer.Messages().size(), 1);
    parts.about->click();
    QCOMPARE(answerer.Messages().size(), 2);
    QCOMPARE(answerer.Messages().first(), TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_FAILED));
    QVERIFY(answerer.Messages().last().startsWith(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_NAME)));
    m_failureBox = pictures.value(0);
    m_aboutBox = pictures.value(1);

    QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(QStringLiteral("; "))));
}
