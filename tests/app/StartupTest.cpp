// The application object's set-up, the version file and the window's language. The
// test program itself starts with a TranscoderApp, as the converter does.
#include "StartupTest.h"

#include "AppTestSupport.h"
#include "SkinKeys.h"
#include "TextIds.h"
#include "TextTable.h"
#include "TranscoderApp.h"
#include "TranscoderWin.h"
#include "VelaButtons.h"
#include "VelaLabels.h"
#include "VelaScale.h"
#include "VelaSkin.h"

#include <QFile>
#include <QTest>
#include <QTextCodec>

#include <memory>

namespace {

QStringList s_debugLines;

void CollectDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        s_debugLines.append(message);
}

} // namespace

void StartupTest::applicationSetsUpTheLookAndFeel()
{
    // Texts resolve, the skin is loaded, file names encode as UTF-8 whatever the
    // system locale (this test runs under the C locale), and the sheet is in place.
    QCOMPARE(QByteArray(TextTable::Key(TextId::WL_CLIENT_VIDEO_TRANSCODER_NAME)),
             QByteArray("wl_client_video_transcoder_name"));
    QVERIFY(VelaScale::Instance() != nullptr);
    QCOMPARE(VelaSkin::Instance()->GetInt(Skin::GENERAL::FONT_SIZE_NORMAL), 12);
    QCOMPARE(QTextCodec::codecForLocale()->name(), QByteArray("UTF-8"));
    QVERIFY(!qApp->styleSheet().isEmpty());
    QCOMPARE(qApp->styleSheet(), VelaScale::ReadStyleSheet(QString::fromLatin1(TranscoderApp::StyleSheetPath)));
    QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("wardline-video-converter"));
    QVERIFY(!QApplication::windowIcon().isNull());
}

void StartupTest::versionFileReading_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("version");

    QTest::newRow("key and quoted version") << QByteArray("version=\"2.0\"\n") << QStringLiteral("2.0\n");
    QTest::newRow("without the key only the quotes go") << QByteArray("release \"2.0\"\n")
                                                        << QStringLiteral("release 2.0\n");
    QTest::newRow("the key is case-sensitive") << QByteArray("Version=\"2.0\"\n") << QStringLiteral("Version=2.0\n");
    QTest::newRow("every occurrence of the key goes") << QByteArray("version=version=\"2.0\"")
                                                      << QStringLiteral("2.0");
    QTest::newRow("nothing after a NUL byte") << QByteArray("version=\"2.0\"\0junk\n", 19) << QStringLiteral("2.0");
    QTest::newRow("UTF-8 text") << QByteArray("version=\"2.0-\xc3\xa9t\xc3\xa9\"\n")
                                << QStringLiteral("2.0-\u00e9t\u00e9\n");
    QTest::newRow("blanks are kept") << QByteArray(" version=\" 2.0 \" \n") << QStringLiteral("  2.0  \n");
    QTest::newRow("empty file") << QByteArray() << QString();
}

void StartupTest::versionFileReading()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, version);

    const QString path = ScratchFolder(QStringLiteral("version")) + QStringLiteral("/VERSION");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    QCOMPARE(TranscoderWin::ReadVersionFile(path), version);
}

void StartupTest::missingVersionFileIsLoggedAndLeavesTheVersionEmpty()
{
    s_debugLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(CollectDebug);
    const QString version = TranscoderWin::ReadVersionFile(ScratchFolder(QStringLiteral("no_version")) + "/VERSION");
    qInstallMessageHandler(previous);
    QVERIFY(version.isEmpty());
    QCOMPARE(s_debugLines, QStringList{QStringLiteral("Version file is not exist")});
}

void StartupTest::windowCarriesTheShippedVersion()
{
    TranscoderWin window;
    QCOMPARE(window.VersionText(), QStringLiteral("1.0.2-0011\n"));
}

void StartupTest::windowSpeaksTheSystemLanguage()
{
    // Run under the C locale (English) and, as a second test, under a German locale.
    struct Expected {
        QString title, sourceCaption;
    };
    const QHash<QString, Expected> expected{
        {"enu", {"Quenmark Video Converter", "Source:"}},
        {"deu", {"Quenmark Videokonverter", "Quelle:"}},
    };
    const QString language = qEnvironmentVariable("WVC_EXPECT_LANGUAGE", QStringLiteral("enu"));
    QVERIFY(expected.contains(language));

    TranscoderWin window;
    QCOMPARE(window.windowTitle(), expected[language].title);
    const auto labels = window.findChildren<VelaElideLabel *>();
    QVERIFY(!labels.isEmpty());
    QCOMPARE(labels.first()->FullText(), expected[language].sourceCaption);
}
