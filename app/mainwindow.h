#ifndef VELMORA_APP_MAINWINDOW_H
#define VELMORA_APP_MAINWINDOW_H

#include <QDomElement>
#include <QDomNodeList>
#include <QHash>
#include <QGeoPositionInfo>
#include <QMainWindow>
#include <QModelIndex>
#include <QNetworkReply>
#include <QString>
#include <QUrl>

#include <functional>

class Keyring;
class QCloseEvent;
class QGeoPositionInfoSource;
class QLabel;
class QListWidgetItem;
class QNetworkAccessManager;
class QSettings;
class QTableWidget;
class Ui_MainWindow;

// Which document a reply body holds; decided from the reply's URL path.
// 3 and 4 are not used.
enum RequestKind {
    KindCounties = 0,
    KindAreas = 1,
    KindAreaStations = 2,
    KindNearbyStations = 5,
    KindWatchlistStations = 6,
    KindStation = 7,
    KindWatchlistChange = 8
};

// Item data role of the second, smaller line of a station-table cell.
constexpr int SubtitleRole = Qt::UserRole + 100;
// How many characters at the start of the second line may be cut short when
// the line does not fit (the address, before the distance and age).
constexpr int ElidableSubtitleRole = Qt::UserRole + 101;

// Coordinate value that marks "no GPS fix".
constexpr float NoFix = 1.0e9f;

// The one window of the application. Its member functions are split by
// concern over app/, net/, stations/, actions/ and settings/.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // --- request layer (net/requests.cpp) ---
    void sendRequest(const QString &url);
    void checkForUpdate();

    // --- reply documents and station tables (stations/) ---
    void parseReply(const QByteArray &body, int kind);
    void fillStationTable(const QDomElement &root, QTableWidget *table);
    float cheapPriceThreshold(const QDomNodeList &stations, const QString &fuel);
    void makePriceCell(const QDomElement &station, QTableWidget *table, int row, int column,
                       const QString &fuel, float threshold);
    int priceAgeDays(const QDomElement &station, const QString &fuel);
    void installStationDelegate(QTableWidget *table);
    void chooseCounty(QListWidgetItem *item);
    void chooseArea(QListWidgetItem *item);

    // --- station actions (actions/) ---
    void startGps();
    void retrieveWatchlist();
    void fetchWatchlist();
    void loadStation(const QString &id);
    void openStationFromTable(QTableWidget *table, const QModelIndex &index);

    // --- settings (settings/settings.cpp) ---
    void loadSettings();
    void saveSettings();

    // --- adaptive layout (app/layout.cpp) ---
    void applyScreenFonts();
    void setColumnWidths(QTableWidget *table, bool portrait);

public slots:
    void httpReply(QNetworkReply *reply);

private slots:
    void on_actionSettings_triggered();
    void on_actionWatch_List_triggered();
    void on_actionGPS_triggered();
    void on_actionArea_triggered();
    void on_actionAbout_triggered();
    void on_actionNormal_Screen_triggered();
    void on_actionFull_Screen_triggered();
    void on_stationBackButton_pressed();
    void on_saveDieselButton_pressed();
    void on_savePetrolButton_pressed();
    void on_favsTable_doubleClicked(QModelIndex index);
    void on_gpsTable_doubleClicked(QModelIndex index);
    void orientationChanged();
    void on_areaStationTable_doubleClicked(QModelIndex index);
    void on_areaBackButton_pressed();
    void on_stationBacbButton_pressed();
    void on_areaList_itemDoubleClicked(QListWidgetItem *item);
    void on_countyList_itemDoubleClicked(QListWidgetItem *item);
    void on_tabWidgit_currentChanged(int index);
    void positionUpdated(QGeoPositionInfo info);
    void updateTimeout();
    void httpError(QNetworkReply::NetworkError error);
    void setStatus(QLabel *label, QString text);
    void on_petrolAddButton_clicked();
    void on_petrolSubButton_clicked();
    void on_dieselSubButton_clicked();
    void on_dieselAddButton_clicked();
    void on_pushButton_pressed();
    void on_areaStationTable_clicked(QModelIndex index);
    void on_gpsTable_clicked(QModelIndex index);
    void on_favsTable_clicked(QModelIndex index);
    void on_countyList_itemClicked(QListWidgetItem *item);
    void on_areaList_itemClicked(QListWidgetItem *item);
    void on_actionQuit_triggered();

protected:
    // Keeps edits made on the settings tab when the window closes while that
    // tab is still current.
    void closeEvent(QCloseEvent *event) override;

private:
    // --- private helpers, grouped by concern; each group's owner adds here ---
    // reply dispatch
    void handlePriceUpdateReply(const QByteArray &body, const QUrl &url);
    void handleVersionReply(const QByteArray &body);
    // station data
    bool priceDateKnown(const QDomElement &station, const QString &fuel);
    void fillStationRow(QTableWidget *table, int row, const QDomElement &station, const QString &fuel,
                        float threshold);
    // station actions
    void sendPriceReport(class QLCDNumber *display, bool diesel, class QPushButton *button);
    void stepPrice(class QLCDNumber *display, double delta);
    void refreshStation(const QString &id);
    // settings
    void takeKeyringAnswer(const QString &filePassword);
    void storePassword(QSettings &store);
    void withPassword(std::function<void(const QString &)> send);
    void restoreWindowGeometry();
    void keepWindowGeometry();
    // keyboard and pointer
    void installInputHandling();
    void goBack();

public:
    Ui_MainWindow *ui;
    QGeoPositionInfoSource *positionSource;
    QNetworkAccessManager *networkManager;
    bool gpsStarted;
    bool settingsTabVisited;
    QString currentStationId;
    // The map-data credit the service sent with its last reply; empty when
    // it sent none (the About box then shows the version alone).
    QString dataCredit;
    bool errorDialogOpen;
    float lastLongitude;
    float lastLatitude;

private:
    // The request whose reply last filled each station table, asked again
    // when one of its stations changes.
    QHash<QTableWidget *, QUrl> stationListSources;
    // Where the password is kept between runs.
    Keyring *keyring = nullptr;
    // The credentials as they were when the settings tab was entered.
    QString userOnSettingsEntry;
    QString passwordOnSettingsEntry;
};

#endif
