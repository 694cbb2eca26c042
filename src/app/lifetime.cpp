#include "app/lifetime.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEvent>
#include <QList>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWidget>

namespace {

// The level of the outermost event loop: 1 once install() has run (the
// program's exec()), 0 where windows are driven without one.
int g_outerLoopLevel = 0;

// Watches the windows kept in the tray and forgets one once it is closed.
class TrayKeeper : public QObject
{
public:
    void keep(QWidget *window)
    {
        if (m_windows.contains(window))
            return;
        m_windows.append(window);
        window->installEventFilter(this);
    }

    bool keepsAny()
    {
        m_windows.removeAll(nullptr);
        return !m_windows.isEmpty();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Close) {
            // Judged once the close has run: a window still visible then
            // refused it.
            QPointer<QObject> window(watched);
            QTimer::singleShot(0, this, [this, window] {
                auto *widget = qobject_cast<QWidget *>(window.data());
                if (widget && widget->isVisible())
                    return;
                m_windows.removeAll(widget);
                if (widget)
                    widget->removeEventFilter(this);
                lifetime::quitIfNothingOpen();
            });
        }
        return false;
    }

private:
    QList<QPointer<QWidget>> m_windows;
};

TrayKeeper *keeper()
{
    static QPointer<TrayKeeper> instance;
    if (!instance)
        instance = new TrayKeeper;
    if (!instance->parent() && qApp)
        instance->setParent(qApp);
    return instance;
}

// Deletes its target once the thread's event loop runs at the outermost level
// again. The dispatcher says when a loop wakes up or is about to wait, and
// only then is the level looked at: nothing is polled meanwhile.
class IdleRelease : public QObject
{
public:
    IdleRelease(QObject *target, QObject *parent) : QObject(parent), m_target(target)
    {
        QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
        connect(dispatcher, &QAbstractEventDispatcher::awake, this, &IdleRelease::releaseIfIdle);
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                &IdleRelease::releaseIfIdle);
        // The event loop has returned by then: nothing of the target runs.
        connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
            delete m_target.data();
            deleteLater();
        });
        // No nested loop now: released as soon as the caller is done.
        releaseIfIdle();
    }

private:
    void releaseIfIdle()
    {
        if (m_target && QThread::currentThread()->loopLevel() > g_outerLoopLevel)
            return;
        // Not deleted here: the caller of releaseWhenIdle may be the target
        // itself. A deferred deletion posted outside every nested loop
        // happens once control is back in the outermost loop, and no nested
        // loop started meanwhile can carry it out.
        disconnect(QAbstractEventDispatcher::instance(), nullptr, this, nullptr);
        if (m_target)
            m_target->deleteLater();
        deleteLater();
    }

    QPointer<QObject> m_target;
};

bool anyWindowVisible()
{
    // The toolkit's own notion of an open window: a visible top-level window
    // without a parent that may end the program when closed.
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && !widget->parentWidget() &&
            widget->testAttribute(Qt::WA_QuitOnClose))
            return true;
    return false;
}

} // namespace

namespace lifetime {

void install()
{
    g_outerLoopLevel = 1;
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, keeper(),
                     [] { quitIfNothingOpen(); });
}

void keepWhileHidden(QWidget *window)
{
    keeper()->keep(window);
}

void quitIfNothingOpen()
{
    // Only the program's own event loop is ended; windows driven without one
    // are left to their driver.
    if (g_outerLoopLevel == 0)
        return;
    // Decided once the current event is done, when a window that replaces
    // the closed one (a login dialog after a logout) is already shown.
    QTimer::singleShot(0, keeper(), [] {
        if (!anyWindowVisible() && !keeper()->keepsAny())
            QCoreApplication::quit();
    });
}

void releaseWhenIdle(QObject *object)
{
    new IdleRelease(object, keeper());
}

} // namespace lifetime
