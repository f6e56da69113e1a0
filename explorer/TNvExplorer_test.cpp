#include <QtTest>
class TNvExplorerTest : public QObject {
    Q_OBJECT
};
QTEST_MAIN(TNvExplorerTest)
#include "TNvExplorer_test.moc"
