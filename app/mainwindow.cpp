#include "app/mainwindow.h"

#include "app/constants.h"
#include "net/catalogue.h"
#include "platform/screen.h"
#include "settings/keyring.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QIcon>
#include <QNetworkAccessManager>

// Construction runs in a fixed order: several steps send requests or trigger
// slots, and later steps rely on what earlier ones set.
MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent),
      ui(new Ui_MainWindow),
      positionSource(nullptr),
      networkManager(nullptr),
      gpsStarted(false),
      settingsTabVisited(false),
      errorDialogOpen(false),
      lastLongitude(NoFix),
      lastLatitude(NoFix)
{
    currentStationId = QString();
    errorDialogOpen = false;

    networkManager = new QNetworkAccessManager(this);
    connect(networkManager, &QNetworkAccessManager::finished, this, &MainWindow::httpReply);

    ui->setupUi(this);
    setWindowIcon(QIcon(QStringLiteral(":/velmora")));
    installInputHandling();

    setWindowTitle(QStringLiteral("Velmora - Select a county"));
    setStatus(ui->areaStatus, QStringLiteral("Retrieving counties"));
    sendRequest(Catalogue::counties());
    ui->stackedWidget->setCurrentIndex(0);

    settingsTabVisited = false;
    gpsStarted = false;

    keyring = new Keyring(this);
    loadSettings();
    // The window has its size before the layout first reads it.
    restoreWindowGeometry();

    lastLongitude = NoFix;
    lastLatitude = NoFix;

    // May switch to the stored start tab, which runs that tab's work now.
    applyScreenFonts();
    orientationChanged();
    checkForUpdate();

    connect(Platform::ScreenNotifier::instance(), &Platform::ScreenNotifier::resized, this,
            &MainWindow::orientationChanged);
    Platform::setAutoOrientation(this, true);
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Settings are otherwise written when the settings tab is left; closing
    // the window while it is current must not lose the edits made there.
    if (settingsTabVisited) {
        saveSettings();
        settingsTabVisited = false;
    }
    keepWindowGeometry();
    QMainWindow::closeEvent(event);
}
