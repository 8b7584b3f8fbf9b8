#pragma once

#include <QObject>
#include <QTemporaryDir>

class SkinStoreTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void shippedValuesAreRead_data();
    void shippedValuesAreRead();
    void keyTableIsNumberedInByteOrder();
    void numberListsNeedTheirPartCount_data();
    void numberListsNeedTheirPartCount();
    void laterSkinFileWins();
    void unreadableFilesAndUnknownKeysChangeNothing();
    void lookupsWithoutValueFallBack();
    void imagePathsFollowTheImageScale_data();
    void imagePathsFollowTheImageScale();
    void pixelRatioChoosesImageScale_data();
    void pixelRatioChoosesImageScale();
    void styleSheetIsReadForTheScale();
    void styleSheetStopsAtNulAndMissingFileIsEmpty();
    void versionResourceIsShipped();
    void everySkinImageShipsAtBothScales();

private:
    QString WriteSkin(const QString &name, const QByteArray &json);
    QTemporaryDir m_dir;
};
