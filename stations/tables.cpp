#include "app/mainwindow.h"

void MainWindow::fillStationTable(const QDomElement &, QTableWidget *) {}
float MainWindow::cheapPriceThreshold(const QDomNodeList &, const QString &) { return 0; }
void MainWindow::makePriceCell(const QDomElement &, QTableWidget *, int, int, const QString &, float) {}
int MainWindow::priceAgeDays(const QDomElement &, const QString &) { return 0; }
