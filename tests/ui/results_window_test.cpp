#include <QtTest>

class ResultsWindowTest : public QObject {
  Q_OBJECT
};

QTEST_MAIN(ResultsWindowTest)
#include "results_window_test.moc"
