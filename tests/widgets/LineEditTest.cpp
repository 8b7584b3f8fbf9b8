// Line edits: what each field type accepts, keystroke filters, default limits, the
// validation chain and its verdict, the clear button, focus and disable behaviour,
// attached validators, save and revert.
#include "LineEditTest.h"

#include "TextIds.h"
#include "TextTable.h"
#include "VelaLineEdit.h"
#include "VelaLineEditValidator.h"

#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

std::unique_ptr<QWidget> s_window;

VelaLineEdit *Field(int type, bool allowEmpty = true, int maximumLength = -1)
{
    auto *field = new VelaLineEdit(s_window.get(), type, allowEmpty, maximumLength);
    field->resize(200, field->height());
    field->show();
    return field;
}

void Row(int type, const QString &text, int code)
{
    const QString name = QStringLiteral("type %1 \"%2\"").arg(type).arg(text.left(24));
    QTest::newRow(qPrintable(name)) << type << text << code;
}

} // namespace

void LineEditTest::init()
{
    s_window = std::make_unique<QWidget>();
    s_window->resize(400, 200);
    s_window->show();
    QApplication::setActiveWindow(s_window.get());
}

void LineEditTest::cleanup()
{
    s_window.reset();
}

void LineEditTest::fieldTypesAcceptAndRefuse_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code");
    const int ok = VelaLineEdit::ErrorNone;
    const int format = VelaLineEdit::ErrorFormat;
    const int tooLong = VelaLineEdit::ErrorTooLong;
    const int range = VelaLineEdit::ErrorRange;

    Row(0, "C:/rec/a\\b & <c>.mp4", ok);
    Row(0, QString(5000, QLatin1Char('x')), ok);
    Row(1, "Camera 1", ok);
    Row(1, "x", ok);
    Row(1, " Camera", format);
    Row(1, "Camera ", format);
    Row(1, "Cam/era", format);
    Row(1, "Cam.era", format);
    Row(1, "Cam@era", format);
    Row(1, QString(33, QLatin1Char('A')), tooLong);
    Row(2, "rec\\a.b@host", ok);
    Row(2, " rec", format);
    Row(2, "rec/a", format);
    Row(4, "192.168.0.1", ok);
    Row(4, "0.0.0.0", ok);
    Row(4, "256.1.1.1", format);
    Row(4, "1.2.3", format);
    Row(4, "1.2.3.4.5", format);
    Row(5, "192.168.0.1", ok);
    Row(5, "223.255.255.254", ok);
    Row(5, "127.0.0.1", format);
    Row(5, "224.0.0.1", format);
    Row(5, "10.0.0.0", format);
    Row(5, "0.1.1.1", format);
    Row(6, "fe80::1", ok);
    Row(6, "2001:db8:0:0:0:0:2:1", ok);
    Row(6, "::1", ok);
    Row(6, "::", format);
    Row(6, "1:2:3:4:5:6:7:8:9", format);
    Row(6, "fe80::1::2", format);
    Row(7, "255.255.255.0", ok);
    Row(7, "255.255.255.252", ok);
    Row(7, "128.0.0.0", ok);
    Row(7, "255.255.128.0", ok);
    Row(7, "255.255.255.254", format);
    Row(7, "0.0.0.0", format);
    Row(7, "255.0.255.0", format);
    Row(8, "192.168.0.1", ok);
    Row(8, "camera-01.example.com", ok);
    Row(8, "localhost", ok);
    Row(8, "-camera", format);
    Row(8, "cam_era", format);
    Row(8, "300.1.1.1", VelaLineEdit::ErrorAddress);
    Row(8, "10.1.1", VelaLineEdit::ErrorAddress);
    Row(8, "camera-.example", VelaLineEdit::ErrorHostName);
    Row(8, "cam..era", VelaLineEdit::ErrorHostName);
    Row(8, QString(64, QLatin1Char('a')) + ".com", VelaLineEdit::ErrorHostName);
    Row(9, "554", ok);
    Row(9, "1", ok);
    Row(9, "65535", ok);
    Row(9, "0", range);
    Row(9, "65536", range);
    Row(9, "8a", format);
    Row(10, "123456789", ok);
    Row(10, "1234567890", tooLong);
    Row(10, "12a", format);
    Row(11, "#FFAA00", ok);
    Row(11, "#fa0", ok);
    Row(11, "#FFAA0", format);
    Row(11, "FFAA00", format);
    Row(14, "Lobby $2.50 note", ok);
    Row(14, QString(33, QLatin1Char('d')), tooLong);
    Row(16, "0", ok);
    Row(16, "07", ok);
    Row(16, "59", ok);
    Row(16, "60", format);
    Row(17, "23", ok);
    Row(17, "09", ok);
    Row(17, "24", format);
    Row(19, "ab", ok);
    Row(19, "a&b", format);
    Row(20, "3.14", ok);
    Row(20, ".5", ok);
    Row(20, "5.", ok);
    Row(20, ".", range);
    Row(20, "1.2.3", format);
    Row(20, "1234567890", tooLong);
    Row(21, "abc123", ok);
    Row(21, "abc-1", format);
    Row(24, "00:1A:2b:3C:4d:5E", ok);
    Row(24, "00-1A-2B-3C-4D-5E", ok);
    Row(24, "00:1A:2B:3C:4D", format);
    Row(24, "001A2B3C4D5E", format);
    // An optional field may stay empty whatever its pattern.
    Row(4, QString(), ok);
    Row(9, QString(), ok);
}

void LineEditTest::fieldTypesAcceptAndRefuse()
{
    QFETCH(int, type);
    QFETCH(QString, text);
    QFETCH(int, code);

    VelaLineEdit *field = Field(type);
    QCOMPARE(field->height(), 28);
    field->setText(text);
    QSignalSpy validated(field, &VelaLineEdit::SigValidated);
    QCOMPARE(field->Validate(), code == VelaLineEdit::ErrorNone);
    QCOMPARE(field->ErrorCode(), code);
    QCOMPARE(field->property("Legal").toBool(), code == VelaLineEdit::ErrorNone);
    QCOMPARE(validated.count(), 1);
    QCOMPARE(validated.at(0).at(0).toBool(), code == VelaLineEdit::ErrorNone);
    QCOMPARE(validated.at(0).at(1).toString(), field->toolTip());
    QCOMPARE(field->toolTip().isEmpty(), code == VelaLineEdit::ErrorNone);
}

void LineEditTest::keystrokeFiltersDropRefusedCharacters_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");

    QTest::newRow("free text keeps everything") << 0 << "a\\b&<" << "a\\b&<";
    QTest::newRow("name drops / and :") << 1 << "Cam/era:1" << "Camera1";
    QTest::newRow("no-backslash type drops \\") << 3 << "a\\b" << "ab";
    QTest::newRow("address drops letters") << 4 << "192a.168" << "192.168";
    QTest::newRow("ipv6 drops non-hex") << 6 << "fe80::g1" << "fe80::1";
    QTest::newRow("port stops at five digits") << 9 << "123456" << "12345";
    QTest::newRow("port drops letters") << 9 << "8x0" << "80";
    QTest::newRow("colour starts with #") << 11 << "A#12g3" << "#123";
    QTest::newRow("short digits stop at eight") << 18 << "123456789" << "12345678";
    QTest::newRow("no-ampersand drops &") << 19 << "a&b" << "ab";
    QTest::newRow("alphanumeric drops -") << 21 << "ab-c" << "abc";
    QTest::newRow("upper alphanumeric drops lower case") << 22 << "aB1" << "B1";
    QTest::newRow("mac drops non-hex") << 24 << "00:1g" << "00:1";
}

void LineEditTest::keystrokeFiltersDropRefusedCharacters()
{
    QFETCH(int, type);
    QFETCH(QString, typed);
    QFETCH(QString, kept);

    VelaLineEdit *field = Field(type);
    QTest::keyClicks(field, typed);
    QCOMPARE(field->text(), kept);
}

void LineEditTest::ipv4PartsLoseTheirLeadingZeros_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("normalised");

    QTest::newRow("every part padded") << "010.001.000.001" << "10.1.0.1";
    QTest::newRow("some parts padded") << "192.168.001.010" << "192.168.1.10";
    QTest::newRow("zeros stay one zero") << "000.00.0.100" << "0.0.0.100";
    QTest::newRow("nothing to drop") << "10.1.0.1" << "10.1.0.1";
    QTest::newRow("an illegal address stays as typed") << "0256.1.1.1" << "0256.1.1.1";
}

void LineEditTest::ipv4PartsLoseTheirLeadingZeros()
{
    QFETCH(QString, text);
    QFETCH(QString, normalised);

    VelaLineEdit *field = Field(VelaLineEdit::Ipv4Address);
    field->setText(text);
    QSignalSpy changed(field, &QLineEdit::textChanged);
    field->Validate();
    QCOMPARE(field->text(), normalised);
    QCOMPARE(changed.count(), 0);
}

void LineEditTest::requiredFieldIsIllegalWhenEmptiedAndLegalAgain()
{
    // Wired the way a window re-validates its fields on every change.
    VelaLineEdit *field = Field(VelaLineEdit::Text, false, -1);
    connect(field, &QLineEdit::textChanged, field, [field]() { field->Validate(); });
    QSignalSpy validated(field, &VelaLineEdit::SigValidated);
    field->setFocus();

    field->setText(QStringLiteral("ab"));
    QVERIFY(field->IsLegal());
    QTest::keyClick(field, Qt::Key_End);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClick(field, Qt::Key_Backspace);
    QVERIFY(field->text().isEmpty());
    QCOMPARE(field->property("Legal").toBool(), false);
    QCOMPARE(field->ErrorCode(), int(VelaLineEdit::ErrorEmpty));
    QCOMPARE(validated.last().at(0).toBool(), false);
    QCOMPARE(validated.last().at(1).toString(), TextById(TextId::WL_COMMON_NOT_EMPTY));

    QTest::keyClick(field, Qt::Key_C);
    QCOMPARE(field->property("Legal").toBool(), true);
    QCOMPARE(validated.last().at(0).toBool(), true);
    QVERIFY(field->toolTip().isEmpty());
}

void LineEditTest::typingFixesAnIllegalFieldAtOnce()
{
    VelaLineEdit *field = Field(VelaLineEdit::Port, false, -1);
    field->setFocus();
    QVERIFY(!field->Validate());
    QTest::keyClick(field, Qt::Key_8);
    QVERIFY(field->IsLegal());

    // A legal field waits for focus-out: typing does not judge a half-typed value.
    field->clear();
    QTest::keyClicks(field, QStringLiteral("0"));
    QVERIFY(field->IsLegal());
}

void LineEditTest::disablingAnIllegalFieldMakesItLegal()
{
    VelaLineEdit *field = Field(VelaLineEdit::Text, false, -1);
    QVERIFY(!field->Validate());
    QVERIFY(!field->toolTip().isEmpty());
    field->setEnabled(false);
    QVERIFY(field->IsLegal());
    QVERIFY(field->toolTip().isEmpty());
    QCOMPARE(field->ErrorCode(), int(VelaLineEdit::ErrorNone));

    // Also when the window around it is disabled.
    field->setEnabled(true);
    QVERIFY(!field->Validate());
    s_window->setEnabled(false);
    QVERIFY(field->IsLegal());
}

void LineEditTest::verdictSetFromOutsideCarriesItsCode()
{
    VelaLineEdit *field = Field(VelaLineEdit::Text);
    field->SetLegal(false, QStringLiteral("Name taken"), true);
    QCOMPARE(field->property("Legal").toBool(), false);
    QCOMPARE(field->ErrorCode(), int(VelaLineEdit::ErrorSetIllegal));
    QCOMPARE(field->toolTip(), QStringLiteral("<a>Name taken</a>"));
    field->SetLegal(true);
    QCOMPARE(field->ErrorCode(), int(VelaLineEdit::ErrorNone));
    QVERIFY(field->toolTip().isEmpty());

    field->SetRefusedValues({QStringLiteral("Lobby")}, QStringLiteral("Name taken"));
    field->setText(QStringLiteral("Lobby"));
    QVERIFY(!field->Validate());
    QCOMPARE(field->ErrorCode(), int(VelaLineEdit::ErrorRefused));
    QCOMPARE(field->toolTip(), QStringLiteral("Name taken"));
}

void LineEditTest::focusOutValidatesAndShowsTheStart()
{
    const QString path = QStringLiteral("/media/recordings/2024-05-14/entrance-camera/export_0001.wvr");
    VelaLineEdit *field = Field(VelaLineEdit::Ipv4Address);
    field->setText(path);
    QCOMPARE(field->cursorPosition(), 0);

    field->setFocus();
    field->end(false);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(field, &out);
    QVERIFY(!field->IsLegal());
    QCOMPARE(field->cursorPosition(), 0);

    field->SetValidateOnFocusOut(false);
    field->setText(QStringLiteral("10.0.0.1"));
    QCoreApplication::sendEvent(field, &out);
    QVERIFY(!field->IsLegal());    // not judged again
}

void LineEditTest::clearButtonEmptiesAndFocusesTheField()
{
    VelaLineEdit *field = Field(VelaLineEdit::Text);
    field->EnableClearButton(true);
    QPushButton *button = field->findChild<QPushButton *>(QStringLiteral("LineEditCloseBtn"));
    QVERIFY(button);
    QCOMPARE(button->size(), QSize(24, 24));
    QVERIFY(!button->isVisible());
    QCOMPARE(field->textMargins().right(), 0);

    field->setText(QStringLiteral("clip.mp4"));
    QVERIFY(button->isVisible());
    QCOMPARE(field->textMargins().right(), 24 + 13);
    QVERIFY(field->rect().contains(button->geometry()));

    QSignalSpy clean(field, &VelaLineEdit::SigClean);
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(field->text().isEmpty());
    QCOMPARE(clean.count(), 1);
    QVERIFY(!button->isVisible());
    QCOMPARE(field->textMargins().right(), 0);
    QTRY_VERIFY(field->hasFocus());
}

void LineEditTest::validatorsRunAfterTheBuiltInChecksInOrder()
{
    VelaLineEdit *field = Field(VelaLineEdit::Text, false, -1);
    int lambdaCalls = 0;
    field->AddValidator(new VelaRegularExpressionValidator(QRegularExpression(QStringLiteral("^rtsp://")),
                                                           QStringLiteral("rtsp only")));
    auto *lambda = new VelaLineEditLambdaValidator([&lambdaCalls](const QString &text, QString &error) {
        ++lambdaCalls;
        error = QStringLiteral("no port");
        return text.contains(QLatin1Char(':'), Qt::CaseSensitive) && text.count(QLatin1Char(':')) > 1;
    });
    field->AddValidator(lambda);
    QCOMPARE(lambda->parent(), field);

    QVERIFY(!field->Validate());    // empty: the built-in check fails first
    QCOMPARE(field->ErrorCode(), int(VelaLineEdit::ErrorEmpty));
    QCOMPARE(lambdaCalls, 0);

    field->setText(QStringLiteral("http://camera"));
    QVERIFY(!field->Validate());
    QCOMPARE(field->ErrorCode(), int(VelaLineEdit::ErrorValidator));
    QCOMPARE(field->toolTip(), QStringLiteral("rtsp only"));
    QCOMPARE(lambdaCalls, 0);

    field->setText(QStringLiteral("rtsp://camera"));
    QVERIFY(!field->Validate());
    QCOMPARE(field->toolTip(), QStringLiteral("no port"));
    field->setText(QStringLiteral("rtsp://camera:554"));
    QVERIFY(field->Validate());
    QCOMPARE(lambdaCalls, 2);

    VelaStreamPathValidator stream;
    QString error;
    QVERIFY(stream.validate(QStringLiteral("camera.local:554/stream1"), error));
    QVERIFY(!stream.validate(QStringLiteral("camera local:554"), error));
    QCOMPARE(error, TextById(TextId::WL_COMMON_INVALID_FORMAT));
    QVERIFY(VelaLineEditLambdaValidator().validate(QStringLiteral("anything"), error));
}

void LineEditTest::revertRestoresTheSavedValue()
{
    VelaLineEdit *field = Field(VelaLineEdit::Port, false, -1);
    field->setText(QStringLiteral("554"));
    field->SaveValue();
    field->setText(QStringLiteral("0"));
    QVERIFY(field->IsChanged());
    QVERIFY(!field->Validate());

    field->Revert();
    QCOMPARE(field->text(), QStringLiteral("554"));
    QVERIFY(field->IsLegal());
    QVERIFY(!field->IsChanged());
    QCOMPARE(field->ConditionValue().toString(), QStringLiteral("554"));

    field->Reset();
    QVERIFY(field->text().isEmpty());
    QVERIFY(field->SavedValue().isEmpty());
}

void LineEditTest::placeholderKeepsItsColourThroughVerdicts()
{
    // The verdict re-polishes the field, and the style sheet resets its palette.
    VelaLineEdit *field = Field(VelaLineEdit::Text, false, -1);
    field->setPlaceholderText(QStringLiteral("/rec"));
    const QColor placeholder(0xA8, 0xAB, 0xAD);
    QCOMPARE(field->palette().color(QPalette::PlaceholderText), placeholder);
    QVERIFY(!field->Validate());
    QCOMPARE(field->palette().color(QPalette::PlaceholderText), placeholder);
    field->setText(QStringLiteral("x"));
    QVERIFY(field->Validate());
    QCOMPARE(field->palette().color(QPalette::PlaceholderText), placeholder);
    QVERIFY(field->palette().color(QPalette::Text) != placeholder);
}
