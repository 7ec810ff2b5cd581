#ifndef VELMORA_PLATFORM_SCREEN_H
#define VELMORA_PLATFORM_SCREEN_H

#include <QByteArray>
#include <QObject>
#include <QRect>

class QScreen;
class QWidget;

// The few platform pieces the window needs beyond plain Qt Widgets: where the
// window is placed, the geometry of the screen the layout is made for, a
// notification when it changes, and a switch that lets the window follow the
// device's rotation. They are served by QScreen; a handheld port replaces
// this file pair and nothing else.
//
// How the window is shown is chosen when it is placed, from the primary
// screen's available geometry:
// - a screen no longer than a handheld's (800 pixels on its longer side)
//   gets the window filling it, as the device's window manager did, and the
//   functions below report that screen;
// - on a larger screen the window is the device: it opens at its last
//   geometry or at 800 x 480 (and is never narrower than 480), the
//   functions below report the window's own rectangle as the screen, fonts
//   are sized as on an 800 x 480 handheld, and every resize of the window is
//   announced as a screen resize.
// The test override below always stands for a handheld's screen.
namespace Platform {

// Geometry of the default (primary) screen, or the window's own rectangle
// when the window stands for the screen.
QRect screenGeometry();

// Available geometry (without panels and docks) of the screen that shows the
// widget, or of the primary screen when the widget is not on one yet; the
// window's own rectangle when the widget is in the window that stands for
// the screen.
QRect availableGeometry(const QWidget *widget);

// The longer side of the device's screen, which fonts and icons are sized
// from: that of screenGeometry() on a handheld, a handheld's 800 pixels when
// the window stands for the screen, so text does not grow with the window.
int deviceLongSide();

// Places the top-level window; call it before the layout first runs. On a
// handheld the window fills the screen from its first show on; when the
// window stands for the screen it gets its geometry at once: `kept`, what
// geometryToKeep() gave when it was last closed (the normal geometry and
// whether it was maximised), if that still lies on one of the screens, else
// 800 x 480 centred. Qt's -geometry option, applied when the window is first
// shown, still wins.
void placeWindow(QWidget *window, const QByteArray &kept);

// Whether the widget's window stands for the screen (a window on a desktop
// larger than a handheld) rather than fill a handheld's screen.
bool windowStandsForScreen(const QWidget *widget);

// What to keep for the next placeWindow() (QWidget::saveGeometry()) when the
// window stands for the screen, else nothing.
QByteArray geometryToKeep(const QWidget *window);

// Emits resized(screen) whenever the geometry of a screen changes, a screen
// is added or the primary screen changes.
class ScreenNotifier : public QObject
{
    Q_OBJECT
public:
    static ScreenNotifier *instance();
    // Announce a change by hand, for example after a geometry override.
    void notify(int screen = 0);

signals:
    void resized(int screen);

private:
    explicit ScreenNotifier(QObject *parent = nullptr);
    void watch(QScreen *screen);
};

// Let the window rotate with the device. Desktop windows are not rotated by
// the system, so this only records the wish on the widget (property
// "velmoraAutoOrientation"); the layout still follows every screen resize.
void setAutoOrientation(QWidget *window, bool on);
bool autoOrientation(const QWidget *window);

// Replace the geometry the functions above report, as a device with another
// screen would. An invalid available rectangle means "same as the screen".
// Used by tests and screenshots; clearGeometryOverride() returns to QScreen.
void setGeometryOverride(const QRect &screen, const QRect &available = QRect());
void clearGeometryOverride();

} // namespace Platform

#endif
