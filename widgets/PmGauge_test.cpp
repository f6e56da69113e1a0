// The gauge as a widget: its setters' rules, the repaint rule and the pixels of a rendered bar; the
// status bar's hosted children.
#include <QApplication>
#include <QtTest>

#include "widgets/EnStatusBar.h"
#include "widgets/PmGauge.h"

namespace brenwick {

// Counts the paint requests a widget receives.
class TPaintCounter : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

class TPmGaugeTest : public QObject {
    Q_OBJECT

  private slots:
    void defaults() {
        TPmGauge g;
        QCOMPARE(g.size(), QSize(150, 30));
        QCOMPARE(g.MinValue(), 0);
        QCOMPARE(g.MaxValue(), 100);
        QCOMPARE(g.Progress(), 0);
        QVERIFY(g.ShowText());
        QVERIFY(g.BorderStyle() == TBorderStyle::bsSingle);
        QCOMPARE(g.ForeColor(), QColor(Qt::black));
        QCOMPARE(g.BackColor(), QColor(Qt::white));
    }

    void boundsMoveProgressAndRefuseToCross() {
        TPmGauge g;
        g.SetProgress(150);
        QCOMPARE(g.Progress(), 100);
        g.SetMaxValue(40);
        QCOMPARE(g.Progress(), 40);
        g.SetMinValue(20);
        g.SetProgress(-5);
        QCOMPARE(g.Progress(), 20);
        g.SetMinValue(30);
        QCOMPARE(g.Progress(), 30);
        expectRangeError([&] { g.SetMaxValue(10); }, "Value must be between 31 and 2147483647");
        expectRangeError([&] { g.SetMinValue(200); }, "Value must be between -2147483647 and 39");
        g.SetLoading(true);  // a stored form applies its values in any order
        g.SetMinValue(200);
        g.SetMaxValue(300);
        g.SetLoading(false);
        QCOMPARE(g.MinValue(), 200);
        g.SetMaxValue(200);  // an empty range is allowed and shows 0 %
        QCOMPARE(g.PercentDone(), 0);
    }

    void repaintsOnlyWhenThePercentageChanges() {
        TPmGauge g;
        TPaintCounter counter;
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        g.installEventFilter(&counter);
        g.SetMaxValue(1000000);
        const int afterMax = counter.paints;
        QCOMPARE(afterMax, 1);
        g.SetProgress(1000);
        g.SetProgress(1004);  // still 0 %
        QCOMPARE(counter.paints, afterMax);
        g.SetProgress(10000);  // 1 %
        QCOMPARE(counter.paints, afterMax + 1);
        g.SetShowText(true);  // unchanged
        g.SetForeColor(Qt::black);
        QCOMPARE(counter.paints, afterMax + 1);
        g.SetBackColor(Qt::red);
        QCOMPARE(counter.paints, afterMax + 2);
    }

    // A 100 x 16 framed bar at 50 %: black frame, navy up to x = 49, silver after, and the text white
    // exclusive-ored on the navy part (navy ^ white = (255, 255, 127)).
    void pixelsOfARenderedBar() {
        TPmGauge g;
        g.resize(100, 16);
        g.SetForeColor(QColor(0x00, 0x00, 0x80));
        g.SetBackColor(QColor(0xC0, 0xC0, 0xC0));
        QFont bold = g.font();
        bold.setBold(true);
        g.setFont(bold);
        g.SetProgress(50);
        const QImage image = g.Render();
        QCOMPARE(image.pixelColor(0, 0), QColor(Qt::black));
        QCOMPARE(image.pixelColor(99, 15), QColor(Qt::black));
        QCOMPARE(image.pixelColor(1, 1), QColor(0, 0, 0x80));
        QCOMPARE(image.pixelColor(48, 1), QColor(0, 0, 0x80));
        QCOMPARE(image.pixelColor(50, 1), QColor(0xC0, 0xC0, 0xC0));
        QCOMPARE(image.pixelColor(98, 14), QColor(0xC0, 0xC0, 0xC0));
        QVERIFY(countColour(image, QColor(0xFF, 0xFF, 0x7F)) > 10);  // the glyphs inverted the fill
        QCOMPARE(countColour(image, QColor(0x3F, 0x3F, 0x3F)), 0);   // none on the empty part

        g.SetProgress(0);  // no text at 0 %
        QCOMPARE(countColour(g.Render(), QColor(0xFF, 0xFF, 0x7F)), 0);
        g.SetProgress(5);  // the filled part is narrower than "5%"
        QCOMPARE(countColour(g.Render(), QColor(0xFF, 0xFF, 0x7F)), 0);
        g.SetBorderStyle(TBorderStyle::bsNone);
        g.SetProgress(100);
        QCOMPARE(g.Render().pixelColor(0, 0), QColor(0, 0, 0x80));
        QCOMPARE(g.Render().pixelColor(99, 15), QColor(0, 0, 0x80));
    }

    void statusBarKeepsItsChildrenWhereTheyWerePut() {
        TEnStatusBar bar;
        bar.resize(600, 23);
        bar.SetPanels({{170, "Process"}, {80, ""}, {79, ""}, {136, "Cache"}, {50, "Buffer"}});
        auto* gauge = new TPmGauge;
        bar.HostChild(gauge, QRect(45, 4, 123, 16));
        bar.SetPanelText(1, "5/10 MB");
        bar.resize(800, 23);
        QCOMPARE(gauge->parentWidget(), &bar);
        QCOMPARE(gauge->geometry(), QRect(45, 4, 123, 16));
        QCOMPARE(bar.PanelText(1), QString("5/10 MB"));
        QCOMPARE(bar.PanelRect(4).right(), 799);  // the last panel takes the rest
    }

  private:
    template <typename F>
    void expectRangeError(F set, const char* message) {
        try {
            set();
            QFAIL("no error");
        } catch (const EInvalidOperation& e) {
            QCOMPARE(QString(e.what()), QString(message));
        }
    }

    static int countColour(const QImage& image, const QColor& colour) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) n += image.pixelColor(x, y) == colour;
        return n;
    }
};

}  // namespace brenwick

QTEST_MAIN(brenwick::TPmGaugeTest)
#include "PmGauge_test.moc"
