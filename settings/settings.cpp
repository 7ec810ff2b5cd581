#include "app/mainwindow.h"

#include "platform/screen.h"
#include "settings/keyring.h"
#include "settings/store.h"
#include "ui_mainwindow.h"

namespace {

using Settings::openStore;

// Where the window was when it was last closed, and whether it was
// maximised, on a screen larger than a handheld's.
const QString WindowGeometryKey = QStringLiteral("windowPlacement");

const QString PasswordKey = QStringLiteral("password");

// How long start-up waits for the keyring before the settings file's
// password is used for the run, and how long a save waits for it to take a
// new password.
constexpr int KeyringReadBoundMs = 200;
constexpr int KeyringWriteBoundMs = 3000;

// VELMORA_KEYRING_WAIT_MS, when a positive number, replaces the start-up
// wait: on a machine too busy for the keyring daemon to answer within
// 200 ms (a sanitizer build beside other work), a test of the keyring would
// otherwise find none.
int keyringReadBound()
{
    bool ok = false;
    const int fromEnvironment = qEnvironmentVariableIntValue("VELMORA_KEYRING_WAIT_MS", &ok);
    return ok && fromEnvironment > 0 ? fromEnvironment : KeyringReadBoundMs;
}

} // namespace

// The settings widgets are the only in-memory copy of the preferences; every
// reader takes its value from them when it needs it. Combo boxes are stored
// by position. A stored value that is not a number reads as 0; an index
// outside a box's items leaves that box with no current item.
void MainWindow::loadSettings()
{
    QSettings store = openStore();

    ui->userName->setText(store.value(QStringLiteral("username"), QVariant()).toString());
    // The settings file's password serves until the keyring has answered,
    // and for the whole run when there is none.
    const QString filePassword = store.value(PasswordKey, QVariant()).toString();
    ui->password->setText(filePassword);
    keyring->start(keyringReadBound());
    keyring->whenSettled(this, [this, filePassword] { takeKeyringAnswer(filePassword); });
    ui->fuelType->setCurrentIndex(store.value(QStringLiteral("fuelType"), 0).toInt());

    if (store.contains(QStringLiteral("gpsIncludeDistance")))
        ui->gpsDistance->setCurrentIndex(store.value(QStringLiteral("gpsIncludeDistance")).toInt());
    else
        ui->gpsDistance->setCurrentIndex(2);

    if (store.contains(QStringLiteral("stalePriceDays")))
        ui->stalePriceDays->setCurrentIndex(store.value(QStringLiteral("stalePriceDays")).toInt());
    else
        ui->stalePriceDays->setCurrentIndex(10);

    ui->startTabCombo->setCurrentIndex(store.value(QStringLiteral("startTab"), 0).toInt());
}

// Writes all six keys, strings as strings and indices as integers; the store
// is written out when it is closed at the end of the function.
void MainWindow::saveSettings()
{
    QSettings store = openStore();
    store.setValue(QStringLiteral("username"), ui->userName->text());
    storePassword(store);
    store.setValue(QStringLiteral("fuelType"), ui->fuelType->currentIndex());
    store.setValue(QStringLiteral("gpsIncludeDistance"), ui->gpsDistance->currentIndex());
    store.setValue(QStringLiteral("stalePriceDays"), ui->stalePriceDays->currentIndex());
    store.setValue(QStringLiteral("startTab"), ui->startTabCombo->currentIndex());
}

// With a keyring the password lives there: one the settings file still
// holds (from before there was a keyring, or written since by an older
// version, which only knows the file) is moved into it and taken out of the
// file. Without one the file keeps it, as older versions expect.
void MainWindow::takeKeyringAnswer(const QString &filePassword)
{
    if (!keyring->inUse())
        return;
    QSettings store = openStore();
    const bool inFile = store.contains(PasswordKey);
    const QString password = inFile ? filePassword : keyring->password();
    // An edit made while the keyring was being asked is the user's latest word.
    if (ui->password->text() == filePassword)
        ui->password->setText(password);
    if (!inFile)
        return;
    if (keyring->state() == Keyring::State::Found && keyring->password() == filePassword) {
        store.remove(PasswordKey);
        return;
    }
    // Not waited for: the file keeps the password until the keyring has it.
    keyring->store(filePassword, this, [filePassword](bool stored) {
        QSettings store = openStore();
        if (stored && store.value(PasswordKey).toString() == filePassword)
            store.remove(PasswordKey);
    });
}

// Writes the password where it is kept: the keyring when there is one and it
// takes it in time, else the settings file.
void MainWindow::storePassword(QSettings &store)
{
    const QString password = ui->password->text();
    if (keyring->inUse() && (password == keyring->password() || keyring->write(password, KeyringWriteBoundMs)))
        store.remove(PasswordKey);
    else
        store.setValue(PasswordKey, password);
}

// The password a request is built with, once the keyring has had its say.
void MainWindow::withPassword(std::function<void(const QString &)> send)
{
    keyring->whenSettled(this, [this, send = std::move(send)] { send(ui->password->text()); });
}

// Places the window where it was when last closed; the platform decides
// whether a kept place applies at all (a handheld's window fills its screen).
void MainWindow::restoreWindowGeometry()
{
    Platform::placeWindow(this, openStore().value(WindowGeometryKey).toByteArray());
}

// Only a place worth keeping is written; a handheld's run leaves the one
// kept from a desktop run alone.
void MainWindow::keepWindowGeometry()
{
    const QByteArray geometry = Platform::geometryToKeep(this);
    if (!geometry.isEmpty())
        openStore().setValue(WindowGeometryKey, geometry);
}
