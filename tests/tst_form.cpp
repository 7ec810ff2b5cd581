// Walks the widget tree of the main window as the form builds it: object
// names and classes, where each widget sits in its layout, the texts and
// properties the other parts of the application rely on, the menu, and the
// compiled-in images the form shows.

#include "app/constants.h"
#include "app/mainwindow.h"
#include "tests/support/isolatedsettings.h"
#include "tests/support/modalwatcher.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QLCDNumber>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QPushButton>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

#include <memory>

namespace {

// One line per layout item: a widget or layout by object name, a spacer by
// direction and size hint.
QString describeItem(QLayoutItem *item)
{
    if (QWidget *w = item->widget())
        return w->objectName();
    if (QLayout *l = item->layout())
        return l->objectName();
    if (QSpacerItem *s = item->spacerItem()) {
        const QSizePolicy p = s->sizePolicy();
        QString kind = QStringLiteral("spacer?");
        if (p.horizontalPolicy() == QSizePolicy::Expanding && p.verticalPolicy() == QSizePolicy::Minimum)
            kind = QStringLiteral("hspacer");
        else if (p.horizontalPolicy() == QSizePolicy::Minimum && p.verticalPolicy() == QSizePolicy::Expanding)
            kind = QStringLiteral("vspacer");
        return QStringLiteral("%1 %2x%3").arg(kind).arg(s->sizeHint().width()).arg(s->sizeHint().height());
    }
    return QStringLiteral("?");
}

QImage iconImage(const QIcon &icon)
{
    return icon.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TstForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void objectClasses_data();
    void objectClasses();
    void pages();
    void boxLayouts_data();
    void boxLayouts();
    void gridPlaces_data();
    void gridPlaces();
    void texts_data();
    void texts();
    void tabs();
    void comboItems_data();
    void comboItems();
    void stationPageBeforeAnyStation();
    void settingsEditors();
    void stationTables_data();
    void stationTables();
    void menu();
    void windowProperties();
    void slotsBindToExistingChildren();
    void images_data();
    void images();
    void widgetIcons_data();
    void widgetIcons();

private:
    template<typename T> T *child(const char *name)
    {
        T *found = window->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qWarning("no %s named %s", T::staticMetaObject.className(), name);
        return found;
    }

    std::unique_ptr<TestSupport::IsolatedSettings> settings;
    std::unique_ptr<TestSupport::ModalWatcher> modals;
    std::unique_ptr<MainWindow> window;
    QSize sizeAfterConstruction;
};

void TstForm::initTestCase()
{
    settings = std::make_unique<TestSupport::IsolatedSettings>();
    QVERIFY(settings->isValid());

    // Nothing listens there: requests fail quickly and harmlessly. Any box
    // that appears is answered with its accept button ("Continue" for the
    // network-error dialog), so the run neither hangs nor quits.
    serviceBaseUrl = QStringLiteral("http://127.0.0.1:9/api/nokiaApp/");
    versionCheckUrl = QStringLiteral("http://127.0.0.1:9/velmora/getVersionMaemo?current=") + appVersion;
    modals = std::make_unique<TestSupport::ModalWatcher>();

    window = std::make_unique<MainWindow>();
    sizeAfterConstruction = window->size();
}

void TstForm::cleanupTestCase()
{
    window.reset();
    modals.reset();
    settings.reset();
}

void TstForm::objectClasses_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");

    const char *const table[][2] = {
        {"actionAbout", "QAction"}, {"actionFull_Screen", "QAction"},
        {"actionNormal_Screen", "QAction"}, {"actionArea", "QAction"},
        {"actionGPS", "QAction"}, {"actionWatch_List", "QAction"},
        {"actionSettings", "QAction"},
        {"centralWidget", "QWidget"}, {"verticalLayout_10", "QVBoxLayout"},
        {"mainStackWidget", "QStackedWidget"}, {"page", "QWidget"},
        {"verticalLayout_8", "QVBoxLayout"}, {"tabWidgit", "QTabWidget"},
        {"areaTab", "QWidget"}, {"verticalLayout_6", "QVBoxLayout"},
        {"stackedWidget", "QStackedWidget"}, {"county", "QWidget"},
        {"verticalLayout_5", "QVBoxLayout"}, {"countyList", "QListWidget"},
        {"areaStatus", "QLabel"}, {"area", "QWidget"}, {"verticalLayout", "QVBoxLayout"},
        {"areaList", "QListWidget"}, {"horizontalLayout", "QHBoxLayout"},
        {"areaBackButton", "QPushButton"}, {"station", "QWidget"},
        {"verticalLayout_7", "QVBoxLayout"}, {"areaStationTable", "QTableWidget"},
        {"horizontalLayout_6", "QHBoxLayout"}, {"stationBacbButton", "QPushButton"},
        {"gpsTab", "QWidget"}, {"verticalLayout_3", "QVBoxLayout"},
        {"gpsTable", "QTableWidget"}, {"gpsStatus", "QLabel"},
        {"favsTab", "QWidget"}, {"verticalLayout_9", "QVBoxLayout"},
        {"favsTable", "QTableWidget"}, {"favStatus", "QLabel"},
        {"settingsTab", "QWidget"}, {"verticalLayout_4", "QVBoxLayout"},
        {"gridLayout_3", "QGridLayout"}, {"labelSettings1", "QLabel"},
        {"userName", "QLineEdit"}, {"password", "QLineEdit"}, {"labelSettings2", "QLabel"},
        {"fuelType", "QComboBox"}, {"labelSettings5", "QLabel"},
        {"settingsStatus", "QLabel"}, {"labelSettings6", "QLabel"},
        {"startTabCombo", "QComboBox"}, {"gpsDistance", "QComboBox"},
        {"labelSettings3", "QLabel"}, {"stalePriceDays", "QComboBox"},
        {"labelSettings4", "QLabel"},
        {"page_2", "QWidget"}, {"verticalLayout_2", "QVBoxLayout"},
        {"updateStationLabel", "QLabel"}, {"updateStationLabel2", "QLabel"},
        {"gridLayout_2", "QGridLayout"}, {"stationBackButton", "QPushButton"},
        {"petrolLCD", "QLCDNumber"}, {"petrolAddButton", "QPushButton"},
        {"updateStationLabel3", "QLabel"}, {"dieselAddButton", "QPushButton"},
        {"updateStationLabel4", "QLabel"}, {"dieselSubButton", "QPushButton"},
        {"petrolSubButton", "QPushButton"}, {"saveDieselButton", "QPushButton"},
        {"savePetrolButton", "QPushButton"}, {"petrolAgeLabel", "QLabel"},
        {"dieselAgeLabel", "QLabel"}, {"dieselLCD", "QLCDNumber"},
        {"pushButton", "QPushButton"}, {"menuBar", "QMenuBar"}, {"menuHelp", "QMenu"},
    };
    for (const auto &row : table)
        QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1]);
}

void TstForm::objectClasses()
{
    QFETCH(QString, name);
    QFETCH(QString, className);

    const QList<QObject *> matches = window->findChildren<QObject *>(name);
    QCOMPARE(matches.size(), 1);
    QCOMPARE(QString::fromLatin1(matches.first()->metaObject()->className()), className);
}

void TstForm::pages()
{
    auto *mainStack = child<QStackedWidget>("mainStackWidget");
    auto *tabs = child<QTabWidget>("tabWidgit");
    auto *areaStack = child<QStackedWidget>("stackedWidget");
    QVERIFY(mainStack && tabs && areaStack);

    const auto names = [](auto *container) {
        QStringList list;
        for (int i = 0; i < container->count(); ++i)
            list << container->widget(i)->objectName();
        return list;
    };
    QCOMPARE(names(mainStack), QStringList({"page", "page_2"}));
    QCOMPARE(names(tabs), QStringList({"areaTab", "gpsTab", "favsTab", "settingsTab"}));
    QCOMPARE(names(areaStack), QStringList({"county", "area", "station"}));

    // The window opens on the tabs, the Area tab (nothing stored) and the
    // county list.
    QCOMPARE(mainStack->currentIndex(), 0);
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(areaStack->currentIndex(), 0);
    QCOMPARE(window->centralWidget()->objectName(), QStringLiteral("centralWidget"));
}

void TstForm::boxLayouts_data()
{
    QTest::addColumn<QString>("owner");     // widget whose layout this is, empty for a nested one
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("margin");        // -1: left at the default

    QTest::newRow("central") << "centralWidget" << "verticalLayout_10"
                             << QStringList{"mainStackWidget"} << 6 << 3;
    QTest::newRow("page") << "page" << "verticalLayout_8" << QStringList{"tabWidgit"} << 2 << 2;
    QTest::newRow("areaTab") << "areaTab" << "verticalLayout_6"
                             << QStringList{"stackedWidget"} << 3 << 1;
    QTest::newRow("county") << "county" << "verticalLayout_5"
                            << QStringList{"countyList", "areaStatus"} << 2 << 2;
    QTest::newRow("area") << "area" << "verticalLayout"
                          << QStringList{"areaList", "horizontalLayout"} << 2 << 2;
    QTest::newRow("area back") << "" << "horizontalLayout"
                               << QStringList{"areaBackButton"} << 6 << -1;
    QTest::newRow("station") << "station" << "verticalLayout_7"
                             << QStringList{"areaStationTable", "horizontalLayout_6"} << 2 << 2;
    QTest::newRow("station back") << "" << "horizontalLayout_6"
                                  << QStringList{"stationBacbButton"} << 6 << -1;
    QTest::newRow("gpsTab") << "gpsTab" << "verticalLayout_3"
                            << QStringList{"gpsTable", "gpsStatus"} << 3 << 1;
    QTest::newRow("favsTab") << "favsTab" << "verticalLayout_9"
                             << QStringList{"favsTable", "favStatus"} << 3 << 1;
    QTest::newRow("settingsTab") << "settingsTab" << "verticalLayout_4"
                                 << QStringList{"gridLayout_3", "vspacer 20x40"} << 3 << 1;
    QTest::newRow("page_2") << "page_2" << "verticalLayout_2"
                            << QStringList{"updateStationLabel", "updateStationLabel2", "gridLayout_2"}
                            << 2 << 2;
}

void TstForm::boxLayouts()
{
    QFETCH(QString, owner);
    QFETCH(QString, layout);
    QFETCH(QStringList, items);
    QFETCH(int, spacing);
    QFETCH(int, margin);

    auto *box = window->findChild<QBoxLayout *>(layout);
    QVERIFY(box);
    if (!owner.isEmpty()) {
        auto *widget = window->findChild<QWidget *>(owner);
        QVERIFY(widget);
        QCOMPARE(widget->layout(), box);
    }

    QStringList actual;
    for (int i = 0; i < box->count(); ++i) {
        actual << describeItem(box->itemAt(i));
        QCOMPARE(box->stretch(i), 0);
        QCOMPARE(int(box->itemAt(i)->alignment()), 0);
    }
    QCOMPARE(actual, items);
    QCOMPARE(box->spacing(), spacing);
    if (margin >= 0)
        QCOMPARE(box->contentsMargins(), QMargins(margin, margin, margin, margin));
}

void TstForm::gridPlaces_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QStringList>("places");   // "name r,c" or "name r,c rowsXcols"

    QTest::newRow("settings") << "gridLayout_3" << QStringList{
        "labelSettings1 0,1", "hspacer 40x20 0,5", "userName 0,2", "password 1,2",
        "labelSettings2 1,1", "fuelType 2,2", "labelSettings5 2,1", "settingsStatus 9,2",
        "labelSettings6 8,1", "startTabCombo 8,2", "gpsDistance 3,2", "labelSettings3 3,1",
        "stalePriceDays 4,2", "labelSettings4 4,1"};
    QTest::newRow("station page") << "gridLayout_2" << QStringList{
        "stationBackButton 6,3 1x4", "vspacer 20x40 7,3", "petrolLCD 1,3",
        "petrolAddButton 1,4", "updateStationLabel3 0,3", "dieselAddButton 4,4",
        "updateStationLabel4 2,3", "dieselSubButton 4,1", "petrolSubButton 1,1",
        "saveDieselButton 4,6", "savePetrolButton 1,6", "hspacer 40x20 1,8",
        "petrolAgeLabel 0,6", "dieselAgeLabel 2,6", "dieselLCD 4,3", "hspacer 20x20 1,5",
        "hspacer 40x20 1,7", "pushButton 6,1"};
}

void TstForm::gridPlaces()
{
    QFETCH(QString, layout);
    QFETCH(QStringList, places);

    auto *grid = window->findChild<QGridLayout *>(layout);
    QVERIFY(grid);
    QCOMPARE(grid->spacing(), 6);

    QStringList actual;
    for (int i = 0; i < grid->count(); ++i) {
        int row = 0, column = 0, rows = 0, columns = 0;
        grid->getItemPosition(i, &row, &column, &rows, &columns);
        QString place = QStringLiteral("%1 %2,%3").arg(describeItem(grid->itemAt(i))).arg(row).arg(column);
        if (rows != 1 || columns != 1)
            place += QStringLiteral(" %1x%2").arg(rows).arg(columns);
        actual << place;
        QCOMPARE(int(grid->itemAt(i)->alignment()), 0);
    }
    QCOMPARE(actual, places);
}

void TstForm::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    const char *const table[][2] = {
        {"gpsStatus", "Status"}, {"favStatus", "Status"},
        {"areaBackButton", "Back"}, {"stationBacbButton", "Back"}, {"stationBackButton", "Back"},
        {"labelSettings1", "User"}, {"labelSettings2", "Password"}, {"labelSettings3", "GPS km"},
        {"labelSettings4", "Stale Days"}, {"labelSettings5", "Fuel Type"},
        {"labelSettings6", "Start tab"}, {"settingsStatus", ""},
        {"updateStationLabel", "Station Label"}, {"updateStationLabel2", "Station Label2"},
        {"updateStationLabel3", "Petrol"}, {"updateStationLabel4", "Diesel"},
        {"petrolAgeLabel", "3 days old"}, {"dieselAgeLabel", "3 days old"},
        // icon-only buttons
        {"petrolAddButton", ""}, {"petrolSubButton", ""}, {"dieselAddButton", ""},
        {"dieselSubButton", ""}, {"savePetrolButton", ""}, {"saveDieselButton", ""},
        {"pushButton", ""},
    };
    for (const auto &row : table)
        QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1]);
}

void TstForm::texts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);

    QWidget *widget = window->findChild<QWidget *>(name);
    QVERIFY(widget);
    const QVariant actual = widget->property("text");
    QVERIFY(actual.isValid());
    QCOMPARE(actual.toString(), text);
}

void TstForm::tabs()
{
    auto *tabs = child<QTabWidget>("tabWidgit");
    QVERIFY(tabs);
    QCOMPARE(tabs->count(), 4);

    const QStringList toolTips = {
        "Find stations by county/area",
        "Find the stations closes to your currennt location",
        "Find stations that you have added to your watch list",
        QString(),
    };
    for (int i = 0; i < tabs->count(); ++i) {
        QVERIFY2(tabs->tabText(i).isEmpty(), qPrintable(tabs->tabText(i)));
        QCOMPARE(tabs->tabToolTip(i), toolTips.at(i));
        QVERIFY(!tabs->tabIcon(i).isNull());
    }
    QCOMPARE(tabs->tabWhatsThis(1), toolTips.at(1));
    QCOMPARE(tabs->tabShape(), QTabWidget::Rounded);
    QCOMPARE(tabs->elideMode(), Qt::ElideNone);
    QVERIFY(tabs->usesScrollButtons());
}

void TstForm::comboItems_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("items");

    QTest::newRow("fuelType") << "fuelType" << QStringList{"Petrol", "Diesel"};
    QTest::newRow("startTabCombo") << "startTabCombo" << QStringList{"Area", "GPS", "Watch List"};
    QTest::newRow("gpsDistance") << "gpsDistance"
                                 << QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10",
                                                "15", "20", "30", "50", "100"};
    QTest::newRow("stalePriceDays") << "stalePriceDays"
                                    << QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "9",
                                                   "10", "15", "20", "25", "30", "40", "50", "75",
                                                   "100"};
}

void TstForm::comboItems()
{
    QFETCH(QString, name);
    QFETCH(QStringList, items);

    auto *combo = window->findChild<QComboBox *>(name);
    QVERIFY(combo);
    QStringList actual;
    for (int i = 0; i < combo->count(); ++i)
        actual << combo->itemText(i);
    QCOMPARE(actual, items);
}

void TstForm::stationPageBeforeAnyStation()
{
    auto *petrol = child<QLCDNumber>("petrolLCD");
    auto *diesel = child<QLCDNumber>("dieselLCD");
    QVERIFY(petrol && diesel);
    QCOMPARE(petrol->value(), 125.9);
    QCOMPARE(diesel->value(), 131.0);
    QCOMPARE(diesel->intValue(), 131);
    for (QLCDNumber *lcd : {petrol, diesel}) {
        QCOMPARE(lcd->digitCount(), 5);
        QCOMPARE(lcd->segmentStyle(), QLCDNumber::Flat);
    }
    QCOMPARE(petrol->frameShape(), QFrame::Box);

    // Nothing can be reported before a station has been loaded.
    for (const char *name : {"savePetrolButton", "saveDieselButton"}) {
        auto *save = child<QPushButton>(name);
        QVERIFY(save);
        QVERIFY2(!save->isEnabled(), name);
        QCOMPARE(save->iconSize(), QSize(60, 50));
    }

    // Holding a step button keeps stepping the price.
    for (const char *name : {"petrolAddButton", "petrolSubButton", "dieselAddButton", "dieselSubButton"}) {
        auto *step = child<QPushButton>(name);
        QVERIFY(step);
        QVERIFY2(step->autoRepeat(), name);
        QCOMPARE(step->minimumSize(), QSize(60, 40));
        QCOMPARE(step->maximumSize(), QSize(60, QWIDGETSIZE_MAX));
        QCOMPARE(step->iconSize(), QSize(20, 20));
        QVERIFY2(!step->isCheckable(), name);
    }
    QCOMPARE(child<QPushButton>("stationBackButton")->iconSize(), QSize(32, 32));
}

void TstForm::settingsEditors()
{
    auto *user = child<QLineEdit>("userName");
    auto *password = child<QLineEdit>("password");
    QVERIFY(user && password);
    QCOMPARE(user->maxLength(), 50);
    QCOMPARE(user->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
    QCOMPARE(password->echoMode(), QLineEdit::PasswordEchoOnEdit);
    QVERIFY(!password->acceptDrops());

    // Typing past the limit keeps the first 50 characters.
    user->setText(QString(60, QLatin1Char('u')));
    QCOMPARE(user->text().size(), 50);
    user->clear();
}

void TstForm::stationTables_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<int>("defaultSectionSize");

    QTest::newRow("areaStationTable") << "areaStationTable"
                                      << QStringList{"ID", "Station", "Price"} << 50;
    QTest::newRow("gpsTable") << "gpsTable" << QStringList{"id", "Name", "Price"} << 120;
    QTest::newRow("favsTable") << "favsTable" << QStringList{"id", "Name", "Price"} << 120;
}

void TstForm::stationTables()
{
    QFETCH(QString, name);
    QFETCH(QStringList, headers);
    QFETCH(int, defaultSectionSize);

    auto *table = window->findChild<QTableWidget *>(name);
    QVERIFY(table);
    QCOMPARE(table->columnCount(), headers.size());
    for (int i = 0; i < headers.size(); ++i) {
        QVERIFY(table->horizontalHeaderItem(i));
        QCOMPARE(table->horizontalHeaderItem(i)->text(), headers.at(i));
    }
    QVERIFY(table->horizontalHeader()->isHidden());
    QVERIFY(table->verticalHeader()->isHidden());
    QCOMPARE(table->horizontalHeader()->defaultSectionSize(), defaultSectionSize);
    QCOMPARE(table->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(table->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(!table->showGrid());

    if (name == QLatin1String("areaStationTable")) {
        QCOMPARE(table->horizontalHeader()->minimumSectionSize(), 15);
        QVERIFY(!table->horizontalHeader()->highlightSections());
        QVERIFY(!table->wordWrap());
        QVERIFY(!table->isCornerButtonEnabled());
    } else {
        // The screen sizing leaves these two tables on their own font.
        QCOMPARE(table->font().family(), QStringLiteral("MS Shell Dlg 2"));
        QCOMPARE(table->font().pointSize(), 10);
        QVERIFY(!table->font().bold());
    }
    if (name == QLatin1String("favsTable"))
        QVERIFY(!table->horizontalHeader()->stretchLastSection());
}

void TstForm::menu()
{
    QMenuBar *bar = window->menuBar();
    auto *view = child<QMenu>("menuHelp");
    QVERIFY(view);
    QCOMPARE(bar->objectName(), QStringLiteral("menuBar"));
    QCOMPARE(bar->actions(), QList<QAction *>{view->menuAction()});
    QCOMPARE(view->title(), QStringLiteral("View"));

    QStringList names, texts;
    for (QAction *action : view->actions()) {
        names << action->objectName();
        texts << action->text();
    }
    QCOMPARE(names, QStringList({"actionArea", "actionGPS", "actionWatch_List", "actionSettings",
                                 "actionAbout"}));
    QCOMPARE(texts, QStringList({"Area", "GPS", "Watch List", "Settings", "About"}));

    // The two screen-mode actions belong to the window but to no menu.
    const QList<std::pair<const char *, QString>> screenActions = {
        {"actionFull_Screen", "Full Screen"}, {"actionNormal_Screen", "Normal Screen"}};
    for (const auto &[name, text] : screenActions) {
        auto *action = child<QAction>(name);
        QVERIFY(action);
        QCOMPARE(action->parent(), static_cast<QObject *>(window.get()));
        QCOMPARE(action->text(), text);
        for (QObject *user : action->associatedObjects())
            QVERIFY2(!qobject_cast<QMenu *>(user) && !qobject_cast<QMenuBar *>(user), name);
    }
}

void TstForm::windowProperties()
{
    QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(sizeAfterConstruction, QSize(364, 318));

    const QSizePolicy ignored(QSizePolicy::Ignored, QSizePolicy::Ignored);
    QCOMPARE(window->sizePolicy(), ignored);
    for (const char *name : {"centralWidget", "mainStackWidget", "tabWidgit", "areaTab",
                             "stackedWidget", "gpsTab", "favsTab", "settingsTab"}) {
        auto *widget = child<QWidget>(name);
        QVERIFY(widget);
        QVERIFY2(widget->sizePolicy() == ignored, name);
    }
    QCOMPARE(child<QWidget>("page")->sizePolicy(),
             QSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding));
    QCOMPARE(child<QWidget>("station")->sizePolicy(),
             QSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding));
    QCOMPARE(child<QStackedWidget>("mainStackWidget")->lineWidth(), 0);
}

// A slot named on_<object>_<signal> is connected only if a child with that
// exact object name has that signal; a renamed widget would silently lose its
// handler.
void TstForm::slotsBindToExistingChildren()
{
    const QMetaObject *meta = window->metaObject();
    const QList<QObject *> children = window->findChildren<QObject *>();
    int bySlotName = 0;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        const QByteArray signature = method.methodSignature();
        if (method.methodType() != QMetaMethod::Slot || !signature.startsWith("on_"))
            continue;
        ++bySlotName;
        bool bound = false;
        for (QObject *object : children) {
            const QByteArray prefix = "on_" + object->objectName().toLatin1() + '_';
            if (object->objectName().isEmpty() || !signature.startsWith(prefix))
                continue;
            const QByteArray signal = signature.mid(prefix.size());
            if (object->metaObject()->indexOfSignal(signal.constData()) >= 0) {
                bound = true;
                break;
            }
        }
        QVERIFY2(bound, signature.constData());
    }
    QCOMPARE(bySlotName, 28);
}

void TstForm::images_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");

    QTest::newRow("Ireland") << ":/Ireland" << QSize(234, 300);
    QTest::newRow("satellite") << ":/icon/satellite.png" << QSize(300, 219);
    QTest::newRow("star") << ":/star" << QSize(300, 286);
    QTest::newRow("settings") << ":/icon/settings.png" << QSize(300, 297);
    QTest::newRow("Back") << ":/Back" << QSize(237, 299);
    QTest::newRow("add") << ":/add" << QSize(800, 800);
    QTest::newRow("greenbar") << ":/greenbar" << QSize(800, 800);
    QTest::newRow("GreenTick") << ":/GreenTick" << QSize(300, 300);
}

void TstForm::images()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);

    QImageReader reader(path);
    QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
    QCOMPARE(reader.format(), QByteArray("png"));
    QCOMPARE(reader.size(), size);
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), size);
    QVERIFY(image.hasAlphaChannel());
}

void TstForm::widgetIcons_data()
{
    QTest::addColumn<QString>("name");   // a button, or "tab N"
    QTest::addColumn<QString>("path");

    QTest::newRow("tab 0") << "tab 0" << ":/Ireland";
    QTest::newRow("tab 1") << "tab 1" << ":/icon/satellite.png";
    QTest::newRow("tab 2") << "tab 2" << ":/star";
    QTest::newRow("tab 3") << "tab 3" << ":/icon/settings.png";
    for (const char *name : {"areaBackButton", "stationBacbButton", "stationBackButton"})
        QTest::newRow(name) << name << ":/Back";
    for (const char *name : {"petrolAddButton", "dieselAddButton"})
        QTest::newRow(name) << name << ":/add";
    for (const char *name : {"petrolSubButton", "dieselSubButton"})
        QTest::newRow(name) << name << ":/greenbar";
    for (const char *name : {"savePetrolButton", "saveDieselButton"})
        QTest::newRow(name) << name << ":/GreenTick";
    QTest::newRow("pushButton") << "pushButton" << ":/star";
}

void TstForm::widgetIcons()
{
    QFETCH(QString, name);
    QFETCH(QString, path);

    QIcon icon;
    if (name.startsWith(QLatin1String("tab "))) {
        auto *tabs = child<QTabWidget>("tabWidgit");
        QVERIFY(tabs);
        icon = tabs->tabIcon(name.mid(4).toInt());
    } else {
        auto *button = window->findChild<QAbstractButton *>(name);
        QVERIFY(button);
        icon = button->icon();
    }
    const QImage expected = iconImage(QIcon(path));
    QVERIFY2(!expected.isNull(), qPrintable(path));
    QCOMPARE(iconImage(icon), expected);
}

QTEST_MAIN(TstForm)
#include "tst_form.moc"
