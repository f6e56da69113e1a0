#include <QtTest>
class TForm2Test : public QObject { Q_OBJECT };
QTEST_MAIN(TForm2Test)
#include "TForm2_test.moc"
