#ifndef VELMORA_PLATFORM_SCREEN_H
#define VELMORA_PLATFORM_SCREEN_H

#include <QObject>
#include <QRect>

class QScreen;
class QWidget;

// The few platform pieces the window needs beyond plain Qt Widgets: the
// screen's geometry, a notification when it changes, and a switch that lets
// the window follow the device's rotation. On a desktop they are served by
// QScreen; a handheld port replaces this file pair and nothing else.
namespace Platform {

// Geometry of the default (primary) screen.
QRect screenGeometry();

// Available geometry (without panels and docks) of the screen that shows the
// widget, or of the primary screen when the widget is not on one yet.
QRect availableGeometry(const QWidget *widget);

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
