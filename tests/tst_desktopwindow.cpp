// The window on a screen larger than a handheld's (1920 x 1080, set by
// tst_desktopwindow.cmake): it opens at 800 x 480 or where (and how) it was
// last closed, keeps an 800 x 480 handheld's fonts, and its tab bar and
// columns follow every resize, so each row's price stays inside the window
// and near its name. Desktop conventions: tooltips, the window icon.

#include "app/mainwindow.h"
#include "net/catalogue.h"
#include "support/windowenvironment.h"
#include "ui_mainwindow.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QtTest>

#include <memory>

class TstDesktopWindow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        env = std::make_unique<TestSupport::WindowEnvironment>();
        QVERIFY(env->ready());
    }
    void cleanup() { env.reset(); }
    void layoutFollowsWindow_data();
    void layoutFollowsWindow();
    void geometryKeptFromLastRun();
    void maximisedStateKept();
    void desktopConventions();

private:
    // A window showing one area station, so the columns have real geometry.
    std::unique_ptr<MainWindow> makeWindow()
    {
        env->server.setResponse(QStringLiteral("getStationsByArea"),
                               TestSupport::Response::ok("<stations><station ID=\"1\" petrolPrice=\"1.599\" "
                                                         "name=\"Main Street Service Station\"/></stations>"));
        auto w = std::make_unique<MainWindow>();
        w->ui->stackedWidget->setCurrentIndex(2);
        w->sendRequest(Catalogue::stationsByArea(QStringLiteral("Cork"), QStringLiteral("Mallow")));
        return QTest::qWaitFor([&w] { return w->ui->areaStationTable->rowCount() == 1; }) ? std::move(w) : nullptr;
    }

    std::unique_ptr<TestSupport::WindowEnvironment> env;
};

void TstDesktopWindow::layoutFollowsWindow_data()
{
    QTest::addColumn<QSize>("asked");
    QTest::addColumn<QSize>("size");
    QTest::newRow("as opened") << QSize() << QSize(800, 480);
    QTest::newRow("screen wide") << QSize(1920, 1000) << QSize(1920, 1000);
    QTest::newRow("portrait") << QSize(480, 800) << QSize(480, 800);
    // Narrower than a handheld held upright would cut the prices off.
    QTest::newRow("too narrow") << QSize(400, 300) << QSize(480, 300);
}

void TstDesktopWindow::layoutFollowsWindow()
{
    QFETCH(QSize, asked);
    QFETCH(QSize, size);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    auto w = makeWindow();
    QVERIFY(w);
    // Sized and centred before it is shown, so the first layout used it.
    QCOMPARE(w->geometry(), QRect(QPoint((screen.width() - 800) / 2, (screen.height() - 480) / 2), QSize(800, 480)));
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    if (asked.isValid())
        w->resize(asked);
    QTRY_COMPARE(w->size(), size);

    QCOMPARE(w->ui->countyList->font().pixelSize(), 34);
    QCOMPARE(w->ui->petrolLCD->font().pixelSize(), 53);
    QCOMPARE(w->ui->tabWidgit->iconSize(), QSize(51, 51));
    const bool portrait = size.width() <= size.height();
    QCOMPARE(w->ui->tabWidgit->tabPosition(), portrait ? QTabWidget::South : QTabWidget::West);
    QTableWidget *table = w->ui->areaStationTable;
    const double percent = (size.width() - (portrait ? 0 : 51)) / 100.0;
    // A wide window caps the shares, so the price stays near the name.
    QCOMPARE(table->columnWidth(1), std::min(int(percent * 73), 640));
    QCOMPARE(table->columnWidth(2), std::min(int(percent * 19), 142));
    QTRY_VERIFY(table->columnViewportPosition(2) + table->columnWidth(2) <= table->viewport()->width());
    // A desktop shows a scroll bar when the rows do not fit.
    QCOMPARE(table->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
}

void TstDesktopWindow::geometryKeptFromLastRun()
{
    const QRect closedAt(100, 120, 1000, 640);
    {
        auto w = makeWindow();
        QVERIFY(w);
        w->show();
        w->setGeometry(closedAt);
        QTRY_COMPARE(w->geometry(), closedAt);
        QVERIFY(w->close());
    }
    QCOMPARE(makeWindow()->geometry(), closedAt);

    // A kept place that cannot be read is forgotten.
    env->settings.store().setValue(QStringLiteral("windowPlacement"), QByteArray("not a geometry"));
    QCOMPARE(makeWindow()->size(), QSize(800, 480));
    QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(makeWindow()->geometry()));
}

// A window closed maximised opens maximised, and keeps the size it had
// before for "restore" (a window manager does the restoring).
void TstDesktopWindow::maximisedStateKept()
{
    const QRect normal(100, 120, 1000, 640);
    {
        auto w = makeWindow();
        QVERIFY(w);
        w->show();
        w->setGeometry(normal);
        QTRY_COMPARE(w->geometry(), normal);
        w->showMaximized();
        QTRY_VERIFY(w->isMaximized());
        QVERIFY(w->close());
    }
    auto w = makeWindow();
    QVERIFY(w);
    w->show();
    QTRY_VERIFY(w->isMaximized());
    QCOMPARE(w->normalGeometry(), normal);
}

// Icon-only controls say what they do; the window carries the program's icon.
void TstDesktopWindow::desktopConventions()
{
    auto w = makeWindow();
    QVERIFY(w);
    QVERIFY(!w->windowIcon().isNull());
    QTabWidget *tabs = w->ui->tabWidgit;
    QStringList tips;
    for (int i = 0; i < tabs->count(); ++i) {
        QVERIFY(tabs->tabText(i).isEmpty());
        tips << tabs->tabToolTip(i);
    }
    // The names the window titles give the tabs.
    QCOMPARE(tips, QStringList({"Stations by Area", "Stations Nearby", "Stations Watch List", "Settings"}));
    for (const QAbstractButton *button : w->findChildren<QAbstractButton *>()) {
        // Qt's own (the menu bar's overflow arrow) excepted.
        if (button->objectName().startsWith(QLatin1String("qt_")))
            continue;
        if (button->text().isEmpty() && !button->icon().isNull())
            QVERIFY2(!button->toolTip().isEmpty(), qPrintable(button->objectName()));
    }
    QCOMPARE(w->ui->password->echoMode(), QLineEdit::Password);
}

QTEST_MAIN(TstDesktopWindow)
#include "tst_desktopwindow.moc"
