// The stored preferences: what an empty, partial or damaged store loads into
// the settings tab, what leaving the tab writes, and that edits survive the
// window closing or a "Quit" from the network-error dialog while the settings
// tab is still current.

#include "app/mainwindow.h"
#include "tests/support/childprocess.h"
#include "tests/support/windowenvironment.h"
#include "ui_mainwindow.h"

#include <QtTest>

#include <memory>

using TestSupport::WindowEnvironment;
using TestSupport::ModalWatcher;
using TestSupport::Response;

namespace {

using Preset = QVariantMap;

// Environment variable through which a child process is handed the settings
// directory of the parent test.
constexpr const char *StoreDirVariable = "VELMORA_TEST_STORE_DIR";

// What the settings tab shows: the two texts and each box's current item
// (empty when the box has none).
struct Loaded
{
    QString user, password, fuel, distance, stale, startTab;
};

// Every stored key with its value, "key=value", in key order.
QStringList stored(const QSettings &store)
{
    QStringList entries;
    for (const QString &key : store.allKeys())
        entries << key + QLatin1Char('=') + store.value(key).toString();
    entries.sort();
    return entries;
}

} // namespace

Q_DECLARE_METATYPE(Loaded)

class TstSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void load_data();
    void load();
    void savedValuesLoadAgain();
    void writtenOnlyOnLeavingTheirTab();
    void closingOnSettingsTabKeepsEdits();
    void quitFromErrorDialogKeepsEdits();
    void continueFromErrorDialogWritesNothing();

private:
    std::unique_ptr<MainWindow> makeWindow(const Preset &preset = Preset());
    std::unique_ptr<MainWindow> editSettingsWhileWatchListFails(const QString &button, const QString &user);

    std::unique_ptr<WindowEnvironment> env;
};

void TstSettings::init()
{
    env = std::make_unique<WindowEnvironment>(QRect(0, 0, 800, 480));
    QVERIFY(env->ready());
}

void TstSettings::cleanup()
{
    env.reset();
}

std::unique_ptr<MainWindow> TstSettings::makeWindow(const Preset &preset)
{
    {
        QSettings store = env->settings.store();
        for (auto it = preset.cbegin(); it != preset.cend(); ++it)
            store.setValue(it.key(), it.value());
    }
    auto window = std::make_unique<MainWindow>();
    window->show();
    env->server.waitForRequests(2);
    return window;
}

// The watch list is still loading, and will fail, when the user opens the
// settings and types a name; the error box is answered with `button`.
std::unique_ptr<MainWindow> TstSettings::editSettingsWhileWatchListFails(const QString &button, const QString &user)
{
    env->server.setResponse(QStringLiteral("getStationsByWatchlist"), Response::status(500).withDelay(300));
    env->modals.enqueueAction(ModalWatcher::Action::clickButton(button));
    auto w = makeWindow();
    w->ui->actionWatch_List->trigger();
    w->ui->actionSettings->trigger();
    w->ui->userName->setText(user);
    return w;
}

void TstSettings::load_data()
{
    QTest::addColumn<Preset>("preset");
    QTest::addColumn<Loaded>("expected");

    const Loaded defaults{QString(), QString(), "Petrol", "3", "15", "Area"};
    QTest::newRow("empty store") << Preset() << defaults;

    Loaded userOnly = defaults;
    userOnly.user = QStringLiteral("ann");
    QTest::newRow("user only") << Preset{{"username", "ann"}} << userOnly;

    // A stored 0 is a real choice, not a missing key.
    const Loaded firstItems{QString(), QString(), "Petrol", "1", "1", "Area"};
    QTest::newRow("stored zeros") << Preset{{"gpsIncludeDistance", 0}, {"stalePriceDays", 0}} << firstItems;

    Loaded some = defaults;
    some.password = QStringLiteral("pw");
    some.fuel = QStringLiteral("Diesel");
    some.stale = QStringLiteral("100");
    QTest::newRow("password, diesel, last stale item")
        << Preset{{"password", "pw"}, {"fuelType", 1}, {"stalePriceDays", 17}} << some;

    QTest::newRow("all keys")
        << Preset{{"username", "bob"}, {"password", "a&b=c d"}, {"fuelType", 1},
                  {"gpsIncludeDistance", 14}, {"stalePriceDays", 3}, {"startTab", 0}}
        << Loaded{"bob", "a&b=c d", "Diesel", "100", "4", "Area"};

    // Text that is no number reads as index 0 — also where the missing key
    // would have given another default.
    QTest::newRow("not numbers")
        << Preset{{"fuelType", "Diesel"}, {"gpsIncludeDistance", "three"}, {"stalePriceDays", "x1"},
                  {"startTab", "GPS"}}
        << firstItems;

    // Indices outside the item lists leave the box with no current item; a
    // start tab outside them leaves the window on the Area tab.
    QTest::newRow("out of range")
        << Preset{{"fuelType", 2}, {"gpsIncludeDistance", 15}, {"stalePriceDays", 99}}
        << Loaded{QString(), QString(), "", "", "", "Area"};
    Loaded negative = defaults;
    negative.distance.clear();
    QTest::newRow("negative") << Preset{{"gpsIncludeDistance", -3}} << negative;
    Loaded noStartTab = defaults;
    noStartTab.startTab.clear();
    QTest::newRow("start tab out of range") << Preset{{"startTab", 7}} << noStartTab;
}

void TstSettings::load()
{
    QFETCH(Preset, preset);
    QFETCH(Loaded, expected);
    auto w = makeWindow(preset);

    QCOMPARE(w->ui->userName->text(), expected.user);
    QCOMPARE(w->ui->password->text(), expected.password);
    QCOMPARE(w->ui->fuelType->currentText(), expected.fuel);
    QCOMPARE(w->ui->gpsDistance->currentText(), expected.distance);
    QCOMPARE(w->ui->stalePriceDays->currentText(), expected.stale);
    QCOMPARE(w->ui->startTabCombo->currentText(), expected.startTab);
    // None of these start on the GPS tab.
    QCOMPARE(w->ui->tabWidgit->currentIndex(), 0);
    QVERIFY(!w->positionSource);
    // Loading never writes.
    QVERIFY(env->settings.store().allKeys().size() == preset.size());
}

void TstSettings::savedValuesLoadAgain()
{
    const QString user = QStringLiteral("Séan O'Brien");
    const QString password = QStringLiteral("p;a=s#s\\w o\"rd,%");
    {
        auto w = makeWindow();
        w->ui->actionSettings->trigger();
        w->ui->userName->setText(user);
        w->ui->password->setText(password);
        w->ui->fuelType->setCurrentIndex(1);
        w->ui->gpsDistance->setCurrentIndex(13);
        w->ui->stalePriceDays->setCurrentIndex(0);
        w->ui->startTabCombo->setCurrentIndex(2);
        w->ui->actionArea->trigger();
    }

    // The password is kept as plain text under its own key.
    QCOMPARE(env->settings.store().value(QStringLiteral("password")).toString(), password);

    env->server.clearRequests();
    auto again = makeWindow();
    QCOMPARE(again->ui->userName->text(), user);
    QCOMPARE(again->ui->password->text(), password);
    QCOMPARE(again->ui->fuelType->currentText(), QStringLiteral("Diesel"));
    QCOMPARE(again->ui->gpsDistance->currentText(), QStringLiteral("50"));
    QCOMPARE(again->ui->stalePriceDays->currentText(), QStringLiteral("1"));
    // The stored start tab is in effect at once.
    QCOMPARE(again->ui->tabWidgit->currentIndex(), 2);
}

void TstSettings::closingOnSettingsTabKeepsEdits()
{
    auto w = makeWindow();
    w->ui->actionSettings->trigger();
    w->ui->userName->setText(QStringLiteral("closer"));
    w->ui->stalePriceDays->setCurrentIndex(12);
    QVERIFY(env->settings.store().allKeys().isEmpty());

    QVERIFY(w->close());
    QCOMPARE(stored(env->settings.store()), QStringList({"fuelType=0", "gpsIncludeDistance=2", "password=",
                                                         "stalePriceDays=12", "startTab=0", "username=closer"}));
}

// Leaving the settings tab, by tab or through the menu, writes all six keys;
// nothing else does: entering it, other tab changes, closing on another tab.
void TstSettings::writtenOnlyOnLeavingTheirTab()
{
    auto w = makeWindow();
    QSettings store = env->settings.store();
    QVERIFY(store.allKeys().isEmpty());

    // Entering the settings tab stores nothing yet.
    w->ui->actionSettings->trigger();
    w->ui->userName->setText(QStringLiteral("joe"));
    w->ui->stalePriceDays->setCurrentIndex(4);
    store.sync();
    QVERIFY(store.allKeys().isEmpty());

    // Leaving it writes all six keys with the current values.
    w->ui->tabWidgit->setCurrentIndex(1);
    store.sync();
    QCOMPARE(stored(store), QStringList({"fuelType=0", "gpsIncludeDistance=2", "password=",
                                         "stalePriceDays=4", "startTab=0", "username=joe"}));
    QVERIFY(!w->settingsTabVisited);

    // Other tab changes write nothing: an emptied store stays empty.
    store.clear();
    store.sync();
    w->ui->userName->setText(QStringLiteral("changed but not on the settings tab"));
    for (int tab : {2, 0, 1, 2, 0}) {
        w->ui->tabWidgit->setCurrentIndex(tab);
        store.sync();
        QVERIFY2(store.allKeys().isEmpty(), qPrintable(QStringLiteral("written on entering tab %1").arg(tab)));
    }

    // A second visit saves again, also when left through the menu.
    w->ui->tabWidgit->setCurrentIndex(3);
    w->ui->actionArea->trigger();
    store.sync();
    QCOMPARE(store.allKeys().size(), 6);

    store.clear();
    store.sync();
    w->ui->userName->setText(QStringLiteral("edited elsewhere"));
    QVERIFY(w->close());
    store.sync();
    QVERIFY(store.allKeys().isEmpty());
}

void TstSettings::quitFromErrorDialogKeepsEdits()
{
    if (TestSupport::childMode() == QLatin1String("quit")) {
        // Share the parent's store.
        const QString dir = qEnvironmentVariable(StoreDirVariable);
        QVERIFY(!dir.isEmpty());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir + QStringLiteral("/user"));

        auto w = editSettingsWhileWatchListFails(QStringLiteral("Quit"), QStringLiteral("quitter"));
        w->ui->gpsDistance->setCurrentIndex(7);
        TestSupport::exitWithEventLoopStatus();
    }

    QProcessEnvironment childEnv = QProcessEnvironment::systemEnvironment();
    childEnv.insert(QString::fromLatin1(StoreDirVariable), env->settings.dirPath());
    const TestSupport::ChildRun run =
        TestSupport::runSelfInChildProcess(QStringLiteral("quitFromErrorDialogKeepsEdits"), childEnv, 30000,
                                           QStringLiteral("quit"));
    QVERIFY2(run.exitedNormallyWith(1), run.stdoutData.constData());

    QCOMPARE(stored(env->settings.store()), QStringList({"fuelType=0", "gpsIncludeDistance=7", "password=",
                                                         "stalePriceDays=10", "startTab=0", "username=quitter"}));
}

void TstSettings::continueFromErrorDialogWritesNothing()
{
    auto w = editSettingsWhileWatchListFails(QStringLiteral("Continue"), QStringLiteral("stays"));
    QVERIFY(env->modals.waitForCount(1, 10000));
    QVERIFY(env->modals.waitForNoModal());
    QCOMPARE(env->modals.last().clickedButton, QStringLiteral("Continue"));

    QVERIFY(env->settings.store().allKeys().isEmpty());
    QVERIFY(w->settingsTabVisited);
    w->ui->actionArea->trigger();
    QCOMPARE(env->settings.store().value(QStringLiteral("username")).toString(), QStringLiteral("stays"));
}

QTEST_MAIN(TstSettings)
#include "tst_settings.moc"
