// The striped background, the drawn pictures, dialog units and the list's texts.
#include "UiTestSupport.h"
#include "engine/SourceFacts.h"
#include "engine/SourceList.h"
#include "engine/SourceTypes.h"
#include "platform/FolderPath.h"
#include "ui/DialogSkin.h"
#include "ui/DialogUnits.h"
#include "ui/Resources.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

namespace {

const QRgb kGrey = qRgb(128, 128, 128);
const QRgb kLightGrey = qRgb(192, 192, 192);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kMarker = qRgb(1, 2, 3);

// A tile whose pixels say where in the tile they are, to find tile origins in a painting.
QPixmap NumberedTile(int width, int height)
{
    QImage tile(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            tile.setPixel(x, y, qRgb(x, y, 200));
    }
    return QPixmap::fromImage(tile);
}

} // namespace

class SkinTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { resources::Initialise(); }

    void SkinBitmapIsGreyStripesWithPeriodThree()
    {
        const QImage skin = resources::Bitmap(resources::kBitmapSkin).toImage();
        QCOMPARE(skin.size(), QSize(56, 15));
        for (int y = 0; y < 15; ++y) {
            for (int x = 0; x < 56; ++x)
                QCOMPARE(skin.pixel(x, y), y % 3 == 0 ? kGrey : kLightGrey);
        }
    }

    void ArrowBitmapFollowsItsDrawing()
    {
        const QImage arrow = resources::Bitmap(resources::kBitmapArrow).toImage();
        QCOMPARE(arrow.size(), QSize(60, 20));
        for (int y = 0; y < 20; ++y) {
            int blackRun = 0;
            for (int x = 0; x < 60; ++x) {
                const QRgb pixel = arrow.pixel(x, y);
                if (x < 20)
                    QCOMPARE(pixel, kLightGrey);
                else if (x < 37)
                    QCOMPARE(pixel, kGrey);
                else if (pixel == kBlack)
                    ++blackRun;
                else
                    QCOMPARE(pixel, kWhite);
            }
            const int distanceFromEdge = y < 10 ? y : 19 - y;
            // 14 black columns in rows 0 and 19, one more per row inwards, to the edge in the middle.
            QCOMPARE(blackRun, distanceFromEdge == 9 ? 23 : 14 + distanceFromEdge);
            QCOMPARE(arrow.pixel(37, y), kBlack);
        }
        QCOMPARE(arrow.pixel(59, 9), kBlack);
        QCOMPARE(arrow.pixel(59, 8), kWhite);
    }

    void IconHasEverySizeWithABlackFrame()
    {
        const QIcon icon = resources::ApplicationIcon();
        const QList<QSize> sizes = icon.availableSizes();
        // The sizes of the hicolor theme that menus, docks and task switchers ask for.
        const QList<int> expected {16, 24, 32, 48, 64, 128, 256};
        QCOMPARE(sizes.size(), expected.size());
        for (int size : expected) {
            QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
            const QImage image = icon.pixmap(size, size).toImage();
            QCOMPARE(image.size(), QSize(size, size));
            QVERIFY(!image.hasAlphaChannel() || image.pixelColor(0, 0).alpha() == 255);
            for (int i = 0; i < size; ++i) {
                QCOMPARE(image.pixel(i, 0), kBlack);
                QCOMPARE(image.pixel(0, i), kBlack);
                QCOMPARE(image.pixel(size - 1, i), kBlack);
            }
            // Inside the frame white, in the middle the grey square: the same drawing at every size.
            QCOMPARE(image.pixel(size / 16, size / 16), kWhite);
            QCOMPARE(image.pixel(size / 2, size / 2), qRgb(192, 192, 192));
        }
    }

    void TilesAnchorAtTheOriginAndAreCutAtTheEdge()
    {
        DialogSkin skin;
        QVERIFY(skin.LoadSkin(NumberedTile(56, 15)));
        QImage target(100, 20, QImage::Format_RGB32);
        target.fill(kMarker);
        QPainter painter(&target);
        QVERIFY(skin.PaintSkin(painter, 0, 0, 100, 20));
        painter.end();
        // Every pixel belongs to the tile whose origin is at x 0 or 56 and y 0 or 15.
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 100; ++x)
                QCOMPARE(target.pixel(x, y), qRgb(x % 56, y % 15, 200));
        }
    }

    void StripedSkinTilesIntoPinStripes()
    {
        DialogSkin skin;
        QVERIFY(skin.LoadSkin(resources::kBitmapSkin));
        QCOMPARE(skin.Width(), 56);
        QCOMPARE(skin.Height(), 15);
        QImage target(100, 20, QImage::Format_RGB32);
        target.fill(kMarker);
        QPainter painter(&target);
        QVERIFY(skin.PaintSkin(painter, 0, 0, 100, 20));
        painter.end();
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 100; ++x)
                QCOMPARE(target.pixel(x, y), y % 3 == 0 ? kGrey : kLightGrey);
        }
    }

    void EmptyOrZeroSizedAreas()
    {
        DialogSkin skin;
        QImage target(10, 10, QImage::Format_RGB32);
        target.fill(kMarker);
        QPainter painter(&target);
        // Nothing loaded: the caller paints the plain background.
        QVERIFY(!skin.PaintSkin(painter, 0, 0, 10, 10));
        QVERIFY(skin.LoadSkin(0));
        QVERIFY(!skin.IsLoaded());
        QVERIFY(!skin.LoadSkin(999));
        QVERIFY(!skin.IsLoaded());
        // Zero height: nothing painted, still reported as painted.
        QVERIFY(skin.LoadSkin(resources::kBitmapSkin));
        QVERIFY(skin.PaintSkin(painter, 0, 0, 10, 0));
        painter.end();
        QCOMPARE(target.pixel(0, 0), kMarker);
        QCOMPARE(target.pixel(9, 9), kMarker);
    }

    void DialogUnitsScaleByBaseUnits()
    {
        const DialogUnits units(7, 15); // average width 7, height 15
        QCOMPARE(units.ToPixels(7, 7, 56, 20), QRect(12, 13, 98, 38)); // 12.25, 13.125, 98, 37.5
        QCOMPARE(units.ToPixels(433, 268), QSize(758, 503)); // 757.75, 502.5
        QCOMPARE(units.X(0), 0);
        // From a font: the base width is the average of the 52 letters, rounded.
        const DialogUnits fromFont {QFont()};
        const QFontMetrics metrics {QFont()};
        const double average = metrics.horizontalAdvance(
                                   QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"))
            / 52.0;
        QVERIFY(std::abs(fromFont.BaseWidth() - average) <= 0.5 + 1e-9);
        QCOMPARE(fromFont.BaseHeight(), metrics.height());
    }

    void FileNamesAndExtensions()
    {
        QCOMPARE(SourceList::NameOf("/music/a/TUNE.MP3"), std::string("TUNE.MP3"));
        QCOMPARE(SourceList::NameOf("plain.wav"), std::string("plain.wav"));
        QCOMPARE(SourceList::NameOf("/root.wav"), std::string("/root.wav"));
        QVERIFY(SourceTypes::IsAudioFile("/m/x.tar.WAV") && SourceTypes::IsDiscImage("/m/x.Cue"));
        QVERIFY(!SourceTypes::IsAudioFile(".wav") && !SourceTypes::IsAudioFile("/m/wav"));
        // The output folder the settings dialog leaves always ends with a separator.
        QCOMPARE(::WithTrailingSeparator(std::string()), std::string("/"));
        QCOMPARE(::WithTrailingSeparator("/"), std::string("/"));
        QCOMPARE(::WithTrailingSeparator("/music"), std::string("/music/"));
        QCOMPARE(::WithoutTrailingSeparators("/tmp//"), std::string("/tmp"));
        QCOMPARE(::WithoutTrailingSeparators("//"), std::string("/"));
    }

    void TimeAndSizeTexts()
    {
        QCOMPARE(SourceFacts::TimeText(59), std::string("00:59"));
        QCOMPARE(SourceFacts::TimeText(3725), std::string("62:05"));
        QCOMPARE(SourceFacts::TimeText(0), std::string("00:00"));
        QCOMPARE(SourceFacts::TimeText(-1), std::string("--:--"));
        QCOMPARE(SourceFacts::SizeText(1023), std::string("0 KB"));
        QCOMPARE(SourceFacts::SizeText(2048), std::string("2 KB"));
        QCOMPARE(SourceFacts::SizeText(2047), std::string("1 KB"));
    }
};

QTEST_MAIN(SkinTest)
#include "SkinTest.moc"
