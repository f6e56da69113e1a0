// The About window (offscreen): its window flags and size, a single click keeps it, a double click hides
// it and About shows the same window again; the embedded picture through libjpeg (size, known colours)
// and damaged copies of it, which leave the window empty.
#include <QtTest>

#include "app/main/JpegPicture.h"
#include "app/main/TAboutForm.h"
#include "app/main/TForm1.h"
#include "drive/qrASPI.h"

namespace brenwick {

class TAboutFormTest : public QObject {
    Q_OBJECT

  private slots:
    void windowFlagsAndSize() {
        TAboutForm form;
        const Qt::WindowFlags flags = form.windowFlags();
        QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);  // no task-bar entry
        QVERIFY(form.parentWidget() == nullptr);
        QVERIFY(!form.testAttribute(Qt::WA_QuitOnClose));
        QCOMPARE(form.size(), QSize(500, 350));
        QCOMPARE(form.Image->geometry(), QRect(0, 0, 500, 350));
        QCOMPARE(form.Image->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(!form.Image->pixmap().isNull());
    }

    // The About command shows the window; a click keeps it, a double click hides it, About brings the
    // same window back.
    void clicksAndTheAboutCommand() {
        qputenv("XDG_DATA_HOME", QByteArray(m_dir.path().toUtf8()));
        TAboutForm about;
        {
            TForm1 form1;
            form1.AboutForm = &about;
            form1.ButtonAbout->click();
            QVERIFY(about.isVisible());
            QTest::mouseClick(about.Image, Qt::LeftButton, {}, QPoint(250, 175));
            QTest::mouseClick(about.Image, Qt::RightButton, {}, QPoint(250, 175));
            QVERIFY(about.isVisible());
            QTest::mouseDClick(about.Image, Qt::LeftButton, {}, QPoint(250, 175));
            QVERIFY(!about.isVisible());
            form1.ButtonAbout->click();
            QVERIFY(about.isVisible());
        }
        ShutdownTransport();
    }

    void embeddedPictureDecodes() {
        const QImage image = DecodeJpeg(EmbeddedAboutPicture());
        QCOMPARE(image.size(), QSize(500, 350));
        // The picture's navy top, its silver band at the bottom and the disc's navy centre hole.
        expectNear(image.pixelColor(5, 5), QColor(9, 29, 150));
        expectNear(image.pixelColor(480, 345), QColor(192, 192, 192));
        expectNear(image.pixelColor(400, 150), QColor(0, 0, 128));
    }

    // Damaged copies of the picture: each decodes to nothing and gives an empty window, never an exit.
    void damagedPictures() {
        const QByteArray good = EmbeddedAboutPicture();
        QByteArray badHeader = good;
        badHeader[1] = 'X';  // not a JPEG start marker
        QByteArray badScan = good;
        for (int i = good.size() / 2; i < good.size() / 2 + 64; ++i) {
            badScan[i] = static_cast<char>(0xFF);  // markers in the middle of the coded data
        }
        QByteArray badFrame = good;
        const int sof = good.indexOf("\xFF\xC0");
        QVERIFY(sof > 0);
        badFrame[sof + 5] = 0;  // a picture height of nearly nothing: too short for its data
        badFrame[sof + 6] = 0;  // and then zero: refused
        const QByteArray cases[] = {QByteArray(), good.left(100), good.left(good.size() / 2), badHeader,
                                    badScan,      badFrame,       QByteArray(5000, 'j')};
        for (const QByteArray& data : cases) {
            QVERIFY(DecodeJpeg(data).isNull());
            TAboutForm form(data);
            QVERIFY(form.Image->pixmap().isNull());
            QCOMPARE(form.size(), QSize(500, 350));
        }
    }

  private:
    static void expectNear(const QColor& got, const QColor& want) {
        const int d = std::abs(got.red() - want.red()) + std::abs(got.green() - want.green()) +
                      std::abs(got.blue() - want.blue());
        QVERIFY2(d <= 24, qPrintable(QString("colour %1, expected about %2").arg(got.name(), want.name())));
    }

    QTemporaryDir m_dir;
};

}  // namespace brenwick

QTEST_MAIN(brenwick::TAboutFormTest)
#include "TAboutForm_test.moc"
