#include "app/mainwindow.h"

void MainWindow::parseReply(const QByteArray &, int) {}
