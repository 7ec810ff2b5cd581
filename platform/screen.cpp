#include "platform/screen.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>

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
} // namespace

QRect screenGeometry()
{
    const Override &o = geometryOverride();
    if (o.active)
        return o.screen;
    if (QScreen *screen = QGuiApplication::primaryScreen())
        return screen->geometry();
    return QRect();
}

QRect availableGeometry(const QWidget *widget)
{
    const Override &o = geometryOverride();
    if (o.active)
        return o.available.isValid() ? o.available : o.screen;
    QScreen *screen = widget ? widget->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
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
