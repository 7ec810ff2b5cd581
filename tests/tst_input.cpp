// The window without a pointer, and the pointer's second click: keys that
// choose and go back, the menu from the keyboard, quitting with Ctrl+Q, the
// station page's Tab order, the focused row's frame, and the double click
// whose second click lands on the page its first click opened.

#include "tst_stationfixture.h"

#include "net/catalogue.h"

#include <QMenu>
#include <QMenuBar>

using namespace StationFixture;

class TstInput : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void keysChooseAndGoBack();
    void menuFromKeyboard_data();
    void menuFromKeyboard();
    void ctrlQClosesAndSaves();
    void stationPageTabOrder();
    void focusedRowIsFramed();
    void secondClickDoesNotActOnOpenedPage();

private:
    // Waits for the county list, with the window active so shortcuts work.
    bool openBrowsing();
    static QPoint itemCentre(QListWidget *list, int row)
    {
        return list->visualItemRect(list->item(row)).center();
    }

    Harness *m_w = nullptr;
};

void TstInput::init()
{
    m_w = new Harness;
    m_w->server.setResponse(QStringLiteral("getCounties"),
                            Response::ok(namesDoc(QStringLiteral("county"), {"Cork", "Dublin"})));
    m_w->server.setResponse(QStringLiteral("getAreasByCounty"),
                            Response::ok(namesDoc(QStringLiteral("area"), {"Mallow", "Cobh"})));
    m_w->server.setResponse(QStringLiteral("getStationsByArea"),
                            Response::ok(stationsDoc({petrol("11", "1.50"), petrol("22", "1.60")})));
}

void TstInput::cleanup()
{
    delete m_w;
    m_w = nullptr;
}

bool TstInput::openBrowsing()
{
    if (!m_w->open())
        return false;
    m_w->window->activateWindow();
    return QTest::qWaitForWindowActive(m_w->window.get())
           && QTest::qWaitFor([this] { return m_w->ui()->countyList->count() == 2; });
}

void TstInput::keysChooseAndGoBack()
{
    QVERIFY(openBrowsing());
    Ui_MainWindow *ui = m_w->ui();

    ui->countyList->setFocus();
    ui->countyList->setCurrentRow(1);
    QTest::keyClick(ui->countyList, Qt::Key_Return);
    QCOMPARE(ui->stackedWidget->currentIndex(), 1);
    QVERIFY(m_w->server.waitForRequestsForPath(QStringLiteral("getAreasByCounty"), 1));
    QCOMPARE(m_w->server.requestsForPath("getAreasByCounty").last().queryValue("county"), QStringLiteral("Dublin"));

    QTRY_COMPARE(ui->areaList->count(), 2);
    ui->areaList->setFocus();
    ui->areaList->setCurrentRow(1); // sorted: Cobh, Mallow
    QTest::keyClick(ui->areaList, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(ui->stackedWidget->currentIndex(), 2);
    QVERIFY(m_w->server.waitForRequestsForPath(QStringLiteral("getStationsByArea"), 1));
    QCOMPARE(m_w->server.requestsForPath("getStationsByArea").last().queryValue("area"), QStringLiteral("Mallow"));

    QTableWidget *table = ui->areaStationTable;
    QTRY_COMPARE(table->rowCount(), 2);
    table->setFocus();
    table->setCurrentCell(1, 1);
    QTest::keyClick(table, Qt::Key_Space);
    QCOMPARE(ui->mainStackWidget->currentIndex(), 1);
    QCOMPARE(m_w->window->currentStationId, QStringLiteral("22"));

    // Each key goes back one page, from wherever the focus is.
    const QList<QPair<QKeyCombination, std::function<bool()>>> backs = {
        {Qt::Key_Backspace, [ui] { return ui->mainStackWidget->currentIndex() == 0; }},
        {Qt::ALT | Qt::Key_Left, [ui] { return ui->stackedWidget->currentIndex() == 1; }},
        {Qt::Key_Escape, [ui] { return ui->stackedWidget->currentIndex() == 0; }},
    };
    for (const auto &[keys, arrived] : backs) {
        QWidget *focus = QApplication::focusWidget();
        QVERIFY(focus);
        QTest::keyClick(focus, keys.key(), keys.keyboardModifiers());
        QVERIFY2(arrived(), qPrintable(QKeySequence(keys).toString()));
    }
    // Where no Back button shows, the keys are left to the widgets: the
    // password field still deletes with Backspace.
    ui->tabWidgit->setCurrentIndex(3);
    ui->password->setText(QStringLiteral("abc"));
    ui->password->setFocus();
    ui->password->end(false);
    QTest::keyClick(ui->password, Qt::Key_Backspace);
    QCOMPARE(ui->password->text(), QStringLiteral("ab"));
    QCOMPARE(ui->tabWidgit->currentIndex(), 3);
}

void TstInput::menuFromKeyboard_data()
{
    QTest::addColumn<QKeyCombination>("keys");
    QTest::newRow("F10") << QKeyCombination(Qt::Key_F10);
    QTest::newRow("mnemonic") << QKeyCombination(Qt::ALT | Qt::Key_V);
}

void TstInput::menuFromKeyboard()
{
    QFETCH(QKeyCombination, keys);
    QVERIFY(openBrowsing());
    auto *view = m_w->window->findChild<QMenu *>(QStringLiteral("menuHelp"));
    QVERIFY(view);
    QTest::keyClick(m_w->ui()->countyList, keys.key(), keys.keyboardModifiers());
    QTRY_VERIFY(view->isVisible());
    // Every entry has its own letter.
    QSet<QChar> letters;
    for (const QAction *action : view->actions()) {
        if (action->isSeparator())
            continue;
        const QKeySequence mnemonic = QKeySequence::mnemonic(action->text());
        QVERIFY2(!mnemonic.isEmpty(), qPrintable(action->text()));
        letters.insert(action->text().at(action->text().indexOf('&') + 1).toLower());
    }
    QCOMPARE(letters.size(), view->actions().size() - 1);
    view->close();
}

void TstInput::ctrlQClosesAndSaves()
{
    QVERIFY(openBrowsing());
    Ui_MainWindow *ui = m_w->ui();
    ui->tabWidgit->setCurrentIndex(3);
    ui->fuelType->setCurrentIndex(1);
    QTest::keyClick(ui->fuelType, Qt::Key_Q, Qt::ControlModifier);
    QTRY_VERIFY(!m_w->window->isVisible());
    QCOMPARE(m_w->settings.store().value(QStringLiteral("fuelType")).toInt(), 1);
}

void TstInput::stationPageTabOrder()
{
    QVERIFY(openBrowsing());
    QVERIFY(m_w->openFilledStation(QStringLiteral("7"), QStringLiteral("139.9"), QStringLiteral("131")));
    Ui_MainWindow *ui = m_w->ui();
    ui->stationBackButton->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), ui->stationBackButton);
    QStringList order{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 7; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(order, QStringList({"stationBackButton", "petrolSubButton", "petrolAddButton", "savePetrolButton",
                                 "dieselSubButton", "dieselAddButton", "saveDieselButton", "pushButton"}));
}

void TstInput::focusedRowIsFramed()
{
    QVERIFY(openBrowsing());
    Ui_MainWindow *ui = m_w->ui();
    ui->stackedWidget->setCurrentIndex(2);
    QVERIFY(m_w->request(Catalogue::stationsByArea(QStringLiteral("Cork"), QStringLiteral("Mallow")),
                         QStringLiteral("getStationsByArea")));
    QTableWidget *table = ui->areaStationTable;
    table->setCurrentCell(0, 1, QItemSelectionModel::NoUpdate);
    const QRect row0 = table->visualRect(table->model()->index(0, 1));

    ui->countyList->setFocus(); // hidden: the table loses the focus
    QTRY_VERIFY(!table->hasFocus());
    const QImage unfocused = table->viewport()->grab(row0).toImage();
    table->setFocus();
    QTRY_VERIFY(table->hasFocus());
    QTRY_VERIFY(table->viewport()->grab(row0).toImage() != unfocused);
}

void TstInput::secondClickDoesNotActOnOpenedPage()
{
    QVERIFY(openBrowsing());
    Ui_MainWindow *ui = m_w->ui();
    // The first click opens Cork; the area list, filled at once, shows
    // "Cobh" under the pointer when the second click lands.
    const QPoint cork = itemCentre(ui->countyList, 0);
    QTest::mouseClick(ui->countyList->viewport(), Qt::LeftButton, Qt::NoModifier, cork);
    QCOMPARE(ui->stackedWidget->currentIndex(), 1);
    QTRY_COMPARE(ui->areaList->count(), 2);
    QCOMPARE(ui->areaList->itemAt(cork)->text(), QStringLiteral("Cobh"));
    QTest::mouseDClick(ui->areaList->viewport(), Qt::LeftButton, Qt::NoModifier, cork);
    QCOMPARE(ui->stackedWidget->currentIndex(), 1);

    // A click of its own still chooses; it is the first area asked for.
    QTest::mouseClick(ui->areaList->viewport(), Qt::LeftButton, Qt::NoModifier, itemCentre(ui->areaList, 1));
    QVERIFY(m_w->server.waitForRequestsForPath(QStringLiteral("getStationsByArea"), 1));
    QCOMPARE(m_w->server.requestsForPath("getStationsByArea").first().queryValue("area"), QStringLiteral("Mallow"));
}

QTEST_MAIN(TstInput)
#include "tst_input.moc"
