// Walks the widget tree of the main window as the form builds it: object
// names and classes, where each widget sits in its layout, the texts and
// properties the other parts of the application rely on, the menu, and the
// compiled-in images the form shows.

#include "app/mainwindow.h"
#include "tests/support/windowenvironment.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QLCDNumber>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
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

QStringList words(const char *list)
{
    return QString::fromLatin1(list).split(QLatin1Char(' '), Qt::SkipEmptyParts);
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
    void pagesAndTabs();
    void layouts_data();
    void layouts();
    void properties_data();
    void properties();
    void comboItems_data();
    void comboItems();
    void stationTables_data();
    void stationTables();
    void menu();
    void slotsBindToExistingChildren();
    void imagesAndTheirUsers_data();
    void imagesAndTheirUsers();

private:
    std::unique_ptr<TestSupport::WindowEnvironment> env;
    std::unique_ptr<MainWindow> window;
    QSize sizeAfterConstruction;
};

// One window for the whole walk, on an empty store and a local server.
void TstForm::initTestCase()
{
    env = std::make_unique<TestSupport::WindowEnvironment>();
    QVERIFY(env->ready());
    window = std::make_unique<MainWindow>();
    sizeAfterConstruction = window->size();
}

void TstForm::cleanupTestCase()
{
    window.reset();
    env.reset();
}

void TstForm::objectClasses_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");

    const char *const table[][2] = {
        {"QAction", "actionAbout actionFull_Screen actionNormal_Screen actionArea actionGPS "
                    "actionWatch_List actionSettings"},
        {"QWidget", "centralWidget page areaTab county area station gpsTab favsTab settingsTab page_2"},
        {"QVBoxLayout", "verticalLayout_10 verticalLayout_8 verticalLayout_6 verticalLayout_5 verticalLayout "
                        "verticalLayout_7 verticalLayout_3 verticalLayout_9 verticalLayout_4 verticalLayout_2"},
        {"QHBoxLayout", "horizontalLayout horizontalLayout_6"},
        {"QGridLayout", "gridLayout_3 gridLayout_2"},
        {"QStackedWidget", "mainStackWidget stackedWidget"},
        {"QTabWidget", "tabWidgit"},
        {"QListWidget", "countyList areaList"},
        {"QTableWidget", "areaStationTable gpsTable favsTable"},
        {"QLabel", "areaStatus gpsStatus favStatus settingsStatus labelSettings1 labelSettings2 labelSettings3 "
                   "labelSettings4 labelSettings5 labelSettings6 updateStationLabel updateStationLabel2 "
                   "updateStationLabel3 updateStationLabel4 petrolAgeLabel dieselAgeLabel"},
        {"QPushButton", "areaBackButton stationBacbButton stationBackButton petrolAddButton petrolSubButton "
                        "dieselAddButton dieselSubButton savePetrolButton saveDieselButton pushButton"},
        {"QLineEdit", "userName password"},
        {"QComboBox", "fuelType startTabCombo gpsDistance stalePriceDays"},
        {"QLCDNumber", "petrolLCD dieselLCD"},
        {"QMenuBar", "menuBar"},
        {"QMenu", "menuHelp"},
    };
    for (const auto &row : table)
        for (const QString &name : words(row[1]))
            QTest::newRow(qPrintable(name)) << name << QString::fromLatin1(row[0]);
}

void TstForm::objectClasses()
{
    QFETCH(QString, name);
    QFETCH(QString, className);

    const QList<QObject *> matches = window->findChildren<QObject *>(name);
    QCOMPARE(matches.size(), 1);
    QCOMPARE(QString::fromLatin1(matches.first()->metaObject()->className()), className);
}

void TstForm::pagesAndTabs()
{
    auto *mainStack = window->findChild<QStackedWidget *>(QStringLiteral("mainStackWidget"));
    auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabWidgit"));
    auto *areaStack = window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
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
    QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window->centralWidget()->objectName(), QStringLiteral("centralWidget"));
    QCOMPARE(sizeAfterConstruction, QSize(364, 318));

    // Tabs show icons only; the icons themselves are checked with the images.
    // Their tooltips name them as the window titles do.
    const QStringList toolTips = {"Stations by Area", "Stations Nearby", "Stations Watch List", "Settings"};
    for (int i = 0; i < tabs->count(); ++i) {
        QVERIFY2(tabs->tabText(i).isEmpty(), qPrintable(tabs->tabText(i)));
        QCOMPARE(tabs->tabToolTip(i), toolTips.at(i));
    }
    QCOMPARE(tabs->tabWhatsThis(1), QStringLiteral("Find the stations closest to your current location"));
    QCOMPARE(tabs->tabShape(), QTabWidget::Rounded);
    QCOMPARE(tabs->elideMode(), Qt::ElideNone);
    QVERIFY(tabs->usesScrollButtons());
}

void TstForm::layouts_data()
{
    QTest::addColumn<QString>("owner");     // widget whose layout this is, empty for a nested one
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QStringList>("items"); // in a grid: "name row,column" plus " rowsXcolumns" if spanning
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("margin");        // -1: left at the default

    QTest::newRow("central") << "centralWidget" << "verticalLayout_10" << QStringList{"mainStackWidget"} << 6 << 3;
    QTest::newRow("page") << "page" << "verticalLayout_8" << QStringList{"tabWidgit"} << 2 << 2;
    QTest::newRow("areaTab") << "areaTab" << "verticalLayout_6" << QStringList{"stackedWidget"} << 3 << 1;
    QTest::newRow("county") << "county" << "verticalLayout_5" << QStringList{"countyList", "areaStatus"} << 2 << 2;
    QTest::newRow("area") << "area" << "verticalLayout" << QStringList{"areaList", "horizontalLayout"} << 2 << 2;
    QTest::newRow("area back") << "" << "horizontalLayout" << QStringList{"areaBackButton"} << 6 << -1;
    QTest::newRow("station") << "station" << "verticalLayout_7"
                             << QStringList{"areaStationTable", "horizontalLayout_6"} << 2 << 2;
    QTest::newRow("station back") << "" << "horizontalLayout_6" << QStringList{"stationBacbButton"} << 6 << -1;
    QTest::newRow("gpsTab") << "gpsTab" << "verticalLayout_3" << QStringList{"gpsTable", "gpsStatus"} << 3 << 1;
    QTest::newRow("favsTab") << "favsTab" << "verticalLayout_9" << QStringList{"favsTable", "favStatus"} << 3 << 1;
    QTest::newRow("settingsTab") << "settingsTab" << "verticalLayout_4"
                                 << QStringList{"gridLayout_3", "vspacer 20x40"} << 3 << 1;
    QTest::newRow("page_2") << "page_2" << "verticalLayout_2"
                            << QStringList{"updateStationLabel", "updateStationLabel2", "gridLayout_2"} << 2 << 2;
    QTest::newRow("settings grid") << "" << "gridLayout_3" << QStringList{
        "labelSettings1 0,1", "hspacer 40x20 0,5", "userName 0,2", "password 1,2",
        "labelSettings2 1,1", "fuelType 2,2", "labelSettings5 2,1", "settingsStatus 9,2",
        "labelSettings6 8,1", "startTabCombo 8,2", "gpsDistance 3,2", "labelSettings3 3,1",
        "stalePriceDays 4,2", "labelSettings4 4,1"} << 6 << -1;
    QTest::newRow("station page grid") << "" << "gridLayout_2" << QStringList{
        "stationBackButton 6,3 1x4", "vspacer 20x40 7,3", "petrolLCD 1,3",
        "petrolAddButton 1,4", "updateStationLabel3 0,3", "dieselAddButton 4,4",
        "updateStationLabel4 2,3", "dieselSubButton 4,1", "petrolSubButton 1,1",
        "saveDieselButton 4,6", "savePetrolButton 1,6", "hspacer 40x20 1,8",
        "petrolAgeLabel 0,6", "dieselAgeLabel 2,6", "dieselLCD 4,3", "hspacer 20x20 1,5",
        "hspacer 40x20 1,7", "pushButton 6,1"} << 6 << -1;
}

void TstForm::layouts()
{
    QFETCH(QString, owner);
    QFETCH(QString, layout);
    QFETCH(QStringList, items);
    QFETCH(int, spacing);
    QFETCH(int, margin);

    auto *found = window->findChild<QLayout *>(layout);
    QVERIFY(found);
    if (!owner.isEmpty()) {
        auto *widget = window->findChild<QWidget *>(owner);
        QVERIFY(widget);
        QCOMPARE(widget->layout(), found);
    }

    auto *box = qobject_cast<QBoxLayout *>(found);
    auto *grid = qobject_cast<QGridLayout *>(found);
    QVERIFY(box || grid);
    QStringList actual;
    for (int i = 0; i < found->count(); ++i) {
        QString item = describeItem(found->itemAt(i));
        if (grid) {
            int row = 0, column = 0, rows = 0, columns = 0;
            grid->getItemPosition(i, &row, &column, &rows, &columns);
            item += QStringLiteral(" %1,%2").arg(row).arg(column);
            if (rows != 1 || columns != 1)
                item += QStringLiteral(" %1x%2").arg(rows).arg(columns);
        } else {
            QCOMPARE(box->stretch(i), 0);
        }
        actual << item;
        QCOMPARE(int(found->itemAt(i)->alignment()), 0);
    }
    QCOMPARE(actual, items);
    QCOMPARE(found->spacing(), spacing);
    if (margin >= 0)
        QCOMPARE(found->contentsMargins(), QMargins(margin, margin, margin, margin));
}

// Texts and other widget properties the rest of the application relies on,
// one row per widget and property. Enum and flag properties are given as int.
void TstForm::properties_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("value");

    const auto rows = [](const char *property, const QVariant &value, const char *names) {
        for (const QString &name : words(names))
            QTest::addRow("%s %s", qPrintable(name), property) << name << QByteArray(property) << value;
    };
    const char *const steps = "petrolAddButton petrolSubButton dieselAddButton dieselSubButton";
    const char *const saves = "savePetrolButton saveDieselButton";
    const char *const tables = "areaStationTable gpsTable favsTable";

    rows("text", "Status", "gpsStatus favStatus");
    rows("text", "Back", "areaBackButton stationBacbButton stationBackButton");
    const char *const labels[][2] = {
        {"labelSettings1", "User"}, {"labelSettings2", "Password"}, {"labelSettings3", "GPS km"},
        {"labelSettings4", "Stale Days"}, {"labelSettings5", "Fuel Type"}, {"labelSettings6", "Start tab"},
        {"updateStationLabel", "Station Label"}, {"updateStationLabel2", "Station Label2"},
        {"updateStationLabel3", "Petrol"}, {"updateStationLabel4", "Diesel"}};
    for (const auto &label : labels)
        rows("text", label[1], label[0]);
    rows("text", "3 days old", "petrolAgeLabel dieselAgeLabel");
    rows("text", "", "settingsStatus pushButton");
    rows("text", "", steps); // icon-only buttons
    rows("text", "", saves);

    // The station page before any station is loaded.
    rows("value", 125.9, "petrolLCD");
    rows("value", 131.0, "dieselLCD");
    rows("intValue", 131, "dieselLCD");
    rows("digitCount", 5, "petrolLCD dieselLCD");
    rows("segmentStyle", int(QLCDNumber::Flat), "petrolLCD dieselLCD");
    rows("frameShape", int(QFrame::Box), "petrolLCD");
    // Nothing can be reported before a station has been loaded.
    rows("enabled", false, saves);
    rows("iconSize", QSize(60, 50), saves);
    // Holding a step button keeps stepping the price.
    rows("autoRepeat", true, steps);
    rows("checkable", false, steps);
    rows("minimumSize", QSize(60, 40), steps);
    rows("maximumSize", QSize(60, QWIDGETSIZE_MAX), steps);
    rows("iconSize", QSize(20, 20), steps);
    rows("iconSize", QSize(32, 32), "stationBackButton");

    rows("maxLength", 50, "userName");
    rows("alignment", int(Qt::AlignLeft | Qt::AlignVCenter), "userName");
    rows("echoMode", int(QLineEdit::Password), "password");
    rows("acceptDrops", false, "password");

    rows("horizontalScrollBarPolicy", int(Qt::ScrollBarAlwaysOff), tables);
    rows("verticalScrollBarPolicy", int(Qt::ScrollBarAlwaysOff), tables);
    rows("showGrid", false, tables);
    rows("wordWrap", false, "areaStationTable");
    rows("cornerButtonEnabled", false, "areaStationTable");

    rows("sizePolicy", QSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored),
         "MainWindow centralWidget mainStackWidget tabWidgit areaTab stackedWidget gpsTab favsTab settingsTab");
    rows("sizePolicy", QSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding), "page");
    rows("sizePolicy", QSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding), "station");
    rows("lineWidth", 0, "mainStackWidget");
}

void TstForm::properties()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    QFETCH(QVariant, value);

    QObject *object = name == window->objectName() ? window.get() : window->findChild<QObject *>(name);
    QVERIFY(object);
    const QVariant actual = object->property(property.constData());
    QVERIFY(actual.isValid());
    if (value.metaType() == QMetaType::fromType<int>() && actual.metaType() != value.metaType())
        QCOMPARE(actual.toInt(), value.toInt()); // an enum or flags property
    else
        QCOMPARE(actual, value);
}

void TstForm::comboItems_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("items");

    QTest::newRow("fuelType") << "fuelType" << QStringList{"Petrol", "Diesel"};
    QTest::newRow("startTabCombo") << "startTabCombo" << QStringList{"Area", "GPS", "Watch List"};
    QTest::newRow("gpsDistance") << "gpsDistance" << words("1 2 3 4 5 6 7 8 9 10 15 20 30 50 100");
    QTest::newRow("stalePriceDays") << "stalePriceDays"
                                    << words("1 2 3 4 5 6 7 8 9 10 15 20 25 30 40 50 75 100");
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

void TstForm::stationTables_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<int>("defaultSectionSize");

    QTest::newRow("areaStationTable") << "areaStationTable" << QStringList{"ID", "Station", "Price"} << 50;
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

    if (name == QLatin1String("areaStationTable")) {
        QCOMPARE(table->horizontalHeader()->minimumSectionSize(), 15);
        QVERIFY(!table->horizontalHeader()->highlightSections());
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
    auto *view = window->findChild<QMenu *>(QStringLiteral("menuHelp"));
    QVERIFY(view);
    QCOMPARE(bar->objectName(), QStringLiteral("menuBar"));
    QCOMPARE(bar->actions(), QList<QAction *>{view->menuAction()});
    QCOMPARE(view->title(), QStringLiteral("&View"));

    QStringList names, texts;
    for (QAction *action : view->actions()) {
        names << action->objectName();
        texts << action->text();
    }
    QCOMPARE(names, words("actionArea actionGPS actionWatch_List actionSettings actionAbout") << QString()
                        << QStringLiteral("actionQuit"));
    QCOMPARE(texts, QStringList({"&Area", "&GPS", "&Watch List", "&Settings", "A&bout", QString(), "&Quit"}));
    QCOMPARE(view->actions().constLast()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));

    // The two screen-mode actions belong to the window but to no menu.
    const QList<std::pair<QString, QString>> screenActions = {
        {"actionFull_Screen", "Full Screen"}, {"actionNormal_Screen", "Normal Screen"}};
    for (const auto &[name, text] : screenActions) {
        auto *action = window->findChild<QAction *>(name);
        QVERIFY(action);
        QCOMPARE(action->parent(), static_cast<QObject *>(window.get()));
        QCOMPARE(action->text(), text);
        for (QObject *user : action->associatedObjects())
            QVERIFY2(!qobject_cast<QMenu *>(user) && !qobject_cast<QMenuBar *>(user), qPrintable(name));
    }
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
    QCOMPARE(bySlotName, 29);
}

// Each compiled-in image, and the tabs ("tab N") and buttons that show it.
void TstForm::imagesAndTheirUsers_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QStringList>("users");

    QTest::newRow("Ireland") << ":/Ireland" << QSize(234, 300) << QStringList{"tab 0"};
    QTest::newRow("satellite") << ":/icon/satellite.png" << QSize(300, 219) << QStringList{"tab 1"};
    QTest::newRow("star") << ":/star" << QSize(300, 286) << QStringList{"tab 2", "pushButton"};
    QTest::newRow("settings") << ":/icon/settings.png" << QSize(300, 297) << QStringList{"tab 3"};
    QTest::newRow("Back") << ":/Back" << QSize(237, 299)
                          << words("areaBackButton stationBacbButton stationBackButton");
    QTest::newRow("add") << ":/add" << QSize(800, 800) << words("petrolAddButton dieselAddButton");
    QTest::newRow("greenbar") << ":/greenbar" << QSize(800, 800) << words("petrolSubButton dieselSubButton");
    QTest::newRow("GreenTick") << ":/GreenTick" << QSize(300, 300) << words("savePetrolButton saveDieselButton");
}

void TstForm::imagesAndTheirUsers()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(QStringList, users);

    QImageReader reader(path);
    QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
    QCOMPARE(reader.format(), QByteArray("png"));
    QCOMPARE(reader.size(), size);
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), size);
    QVERIFY(image.hasAlphaChannel());

    const QImage expected = iconImage(QIcon(path));
    QVERIFY(!expected.isNull());
    auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabWidgit"));
    QVERIFY(tabs);
    for (const QString &user : users) {
        QIcon icon;
        if (user.startsWith(QLatin1String("tab "))) {
            icon = tabs->tabIcon(user.mid(4).toInt());
        } else {
            auto *button = window->findChild<QAbstractButton *>(user);
            QVERIFY2(button, qPrintable(user));
            icon = button->icon();
        }
        QVERIFY2(iconImage(icon) == expected, qPrintable(user));
    }
}

QTEST_MAIN(TstForm)
#include "tst_form.moc"
