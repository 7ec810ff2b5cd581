#include "platform/screen.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace Platform {

namespace {
struct Override {
    bool active = false;
    QRect screen;
    QRect available;
};

Override &geometryOverride()
{
    static Override value;
    return value;
}

// A handheld's screen, in pixels: the layout was made for it, and a desktop
// window opens at its size.
constexpr int HandheldLongSide = 800;
constexpr int HandheldShortSide = 480;

// The window that stands for the screen, when there is one.
QPointer<QWidget> &deviceWindow()
{
    static QPointer<QWidget> window;
    return window;
}

// The device window, if `widget` is in it and no override says otherwise.
const QWidget *deviceWindowOf(const QWidget *widget)
{
    const QWidget *window = deviceWindow();
    if (!window || geometryOverride().active)
        return nullptr;
    if (widget && widget->window() != window)
        return nullptr;
    return window;
}

// Announces every resize of the device window as a screen resize, so the
// layout follows the window as it follows a rotated screen.
class ResizeRelay : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize && watched == parent())
            ScreenNotifier::instance()->notify();
        return QObject::eventFilter(watched, event);
    }
};

// Makes the window fill its screen when it is first shown, as the device's
// window manager did; until then it keeps the form's size.
class ScreenFiller : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched == parent()) {
            auto *window = static_cast<QWidget *>(watched);
            window->removeEventFilter(this);
            deleteLater();
            // Without a window manager nothing would size the window, so its
            // geometry is set as well as its state.
            if (const QScreen *screen = window->screen())
                window->setGeometry(screen->availableGeometry());
            window->setWindowState(window->windowState() | Qt::WindowMaximized);
        }
        return QObject::eventFilter(watched, event);
    }
};

bool onSomeScreen(const QRect &rect)
{
    const auto screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(),
                       [&rect](const QScreen *screen) { return screen->availableGeometry().contains(rect); });
}

// Whether the window fills the screen, as on a handheld, rather than stand
// for the screen: decided from the primary screen's available geometry.
bool isHandheldScreen()
{
    if (geometryOverride().active)
        return true;
    QScreen *primary = QGuiApplication::primaryScreen();
    const QRect available = primary ? primary->availableGeometry() : QRect();
    return std::max(available.width(), available.height()) <= HandheldLongSide;
}
} // namespace

QRect screenGeometry()
{
    const Override &o = geometryOverride();
    if (o.active)
        return o.screen;
    if (const QWidget *window = deviceWindowOf(nullptr))
        return QRect(QPoint(0, 0), window->size());
    if (QScreen *screen = QGuiApplication::primaryScreen())
        return screen->geometry();
    return QRect();
}

QRect availableGeometry(const QWidget *widget)
{
    const Override &o = geometryOverride();
    if (o.active)
        return o.available.isValid() ? o.available : o.screen;
    if (const QWidget *window = deviceWindowOf(widget))
        return QRect(QPoint(0, 0), window->size());
    QScreen *screen = widget ? widget->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

int deviceLongSide()
{
    if (deviceWindowOf(nullptr))
        return HandheldLongSide;
    const QRect screen = screenGeometry();
    return std::max(screen.width(), screen.height());
}

void placeWindow(QWidget *window, const QByteArray &kept)
{
    if (!window)
        return;
    QScreen *primary = QGuiApplication::primaryScreen();
    const QRect available = primary ? primary->availableGeometry() : QRect();
    if (isHandheldScreen()) {
        // The layout reads the screen, so the window's size does not matter
        // before it is shown. The View menu can still make it full screen.
        window->installEventFilter(new ScreenFiller(window));
        return;
    }

    // Qt's own form keeps the normal geometry and the maximised state
    // together, and moves a place on a screen that is gone onto one that is
    // there.
    if (kept.isEmpty() || !window->restoreGeometry(kept) || !onSomeScreen(window->normalGeometry())) {
        window->setWindowState(window->windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
        const QSize size = QSize(HandheldLongSide, HandheldShortSide).boundedTo(available.size());
        window->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, available));
    }
    // The station columns are shares of the window's width; narrower than a
    // handheld held upright, they would push the prices out of the window.
    window->setMinimumWidth(HandheldShortSide);
    deviceWindow() = window;
    window->installEventFilter(new ResizeRelay(window));
}

bool windowStandsForScreen(const QWidget *widget)
{
    return widget && deviceWindowOf(widget);
}

QByteArray geometryToKeep(const QWidget *window)
{
    if (!window || window != deviceWindow())
        return QByteArray();
    return window->saveGeometry();
}

ScreenNotifier::ScreenNotifier(QObject *parent)
    : QObject(parent)
{
    const auto screens = QGuiApplication::screens();
    for (QScreen *screen : screens)
        watch(screen);
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::screenAdded, this, [this](QScreen *screen) {
            watch(screen);
            notify(int(QGuiApplication::screens().indexOf(screen)));
        });
        connect(app, &QGuiApplication::primaryScreenChanged, this, [this](QScreen *) { notify(0); });
    }
}

ScreenNotifier *ScreenNotifier::instance()
{
    // Parented to the application object so it goes away with it; recreated
    // if a later application object is constructed in the same process.
    static QPointer<ScreenNotifier> notifier;
    if (!notifier)
        notifier = new ScreenNotifier(QCoreApplication::instance());
    return notifier;
}

void ScreenNotifier::notify(int screen)
{
    emit resized(screen);
}

void ScreenNotifier::watch(QScreen *screen)
{
    connect(screen, &QScreen::geometryChanged, this, [this, screen](const QRect &) {
        notify(int(QGuiApplication::screens().indexOf(screen)));
    });
}

void setAutoOrientation(QWidget *window, bool on)
{
    if (window)
        window->setProperty("velmoraAutoOrientation", on);
}

bool autoOrientation(const QWidget *window)
{
    return window && window->property("velmoraAutoOrientation").toBool();
}

void setGeometryOverride(const QRect &screen, const QRect &available)
{
    Override &o = geometryOverride();
    o.active = true;
    o.screen = screen;
    o.available = available;
}

void clearGeometryOverride()
{
    geometryOverride() = Override();
}

} // namespace Platform
