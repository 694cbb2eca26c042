// The whole client as its users run it (its event loop, windows coming and
// going), signed in and out again and again: each cycle signs in as the demo
// account through the login dialog, waits for the restart that ends every
// sign-in, copies the first tunnel's address (a tip), and logs out from the
// personal centre. Memory is read after the fifth cycle and every quarter of
// the run, each time once every tip has had its three seconds.
#include "benchutil.h"

#include "app/client.h"
#include "app/globals.h"
#include "diagnostics/httpserverthread.h"
#include "login/logindialog.h"
#include "main/maindialog.h"
#include "tunnels/tunnelwidget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <malloc.h>

#include <cstdio>

namespace bench {

namespace {

const int kSettleMs = 3500;
const int kStepLimitMs = 30000;

// Bytes the allocator has handed out and not had back, in KiB.
long heapInUseKiB()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
}

template <typename T> T *visibleWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = dynamic_cast<T *>(widget); window && window->isVisible())
            return window;
    }
    return nullptr;
}

void click(QWidget *root, const char *name)
{
    if (auto *button = root->findChild<QAbstractButton *>(QLatin1String(name)))
        button->click();
}

class CycleDriver : public QObject
{
public:
    CycleDriver(int cycles, QObject *parent) : QObject(parent), m_cycles(cycles)
    {
        connect(&m_tick, &QTimer::timeout, this, &CycleDriver::tick);
        m_tick.start(10);
        // A timer of its own: a timer does not fire again while its own
        // handler waits (the question opens inside a click of tick()).
        connect(&m_answer, &QTimer::timeout, this, &CycleDriver::answerQuestion);
        m_answer.start(10);
        m_stepStart = nowMs();
    }

private:
    enum Phase
    {
        SignIn,
        AwaitRestart,
        Settle,
    };

    void tick()
    {
        if (nowMs() - m_stepStart > kStepLimitMs)
            fail("a step took longer than 30 s");
        switch (m_phase) {
        case SignIn:
            signIn();
            break;
        case AwaitRestart:
            copyAndLogOut();
            break;
        case Settle:
            settle();
            break;
        }
    }

    // The account's message is declined (it would open the browser), the
    // logout confirmed; anything else means the cycle went wrong.
    void answerQuestion()
    {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        if (dialog->windowTitle() == QStringLiteral("消息提示"))
            click(dialog, "btn_cance");
        else if (dialog->windowTitle() == QStringLiteral("退出提示"))
            click(dialog, "btn_ok");
        else
            fail(qPrintable(
                QStringLiteral("unexpected question \"%1\"").arg(dialog->windowTitle())));
    }

    void signIn()
    {
        LoginDialog *login = visibleWindow<LoginDialog>();
        if (!login)
            return;
        login->findChild<QLineEdit *>(QStringLiteral("lineEdit"))->setText(QStringLiteral("demo"));
        login->findChild<QLineEdit *>(QStringLiteral("lineEdit_2"))
            ->setText(QStringLiteral("demo1234"));
        click(login, "loginBtn");
        if (!visibleWindow<MainDialog>())
            fail("sign-in failed");
        next(AwaitRestart);
    }

    void copyAndLogOut()
    {
        MainDialog *main = visibleWindow<MainDialog>();
        if (!main)
            fail("the main window went away");
        if (!main->findChild<QPushButton *>(QStringLiteral("btn_fresh"))->isEnabled())
            return;
        if (auto *card = main->findChild<TunnelWidget *>())
            click(card, "pushButton_2");
        click(main, "exit_login_btn");
        ++m_done;
        const bool measure = m_done == 5 || m_done % (m_cycles / 4 > 0 ? m_cycles / 4 : 1) == 0 ||
                             m_done == m_cycles;
        next(measure ? Settle : SignIn);
    }

    void settle()
    {
        if (nowMs() - m_stepStart < kSettleMs)
            return;
        const double elapsed = nowMs() - m_runStart;
        report(QStringLiteral("cycle n=%1 rss_kib=%2 heap_kib=%3 widgets=%4 windows=%5 ms=%6")
                   .arg(m_done)
                   .arg(residentKiB())
                   .arg(heapInUseKiB())
                   .arg(QApplication::allWidgets().size())
                   .arg(QApplication::topLevelWidgets().size())
                   .arg(elapsed, 0, 'f', 0));
        if (m_done >= m_cycles) {
            m_tick.stop();
            m_answer.stop();
            QCoreApplication::exit(0);
            return;
        }
        next(SignIn);
    }

    void next(Phase phase)
    {
        m_phase = phase;
        m_stepStart = nowMs();
    }

    void fail(const char *why)
    {
        std::fprintf(stderr, "cycle %d: %s\n", m_done + 1, why);
        std::fflush(stderr);
        std::_Exit(1);
    }

    QTimer m_tick;
    QTimer m_answer;
    const int m_cycles;
    int m_done = 0;
    Phase m_phase = SignIn;
    double m_stepStart = 0;
    const double m_runStart = nowMs();
};

} // namespace

int runCycles(const QStringList &args)
{
    const int cycles = option(args, QStringLiteral("cycles"), QStringLiteral("100")).toInt();
    const QString api = option(args, QStringLiteral("api"));
    if (!api.isEmpty())
        g_apiBaseUrl = g_webBaseUrl = api;
    // The windows built here must not claim port 18000 from a client running
    // on this machine.
    HttpServerThread::setDefaultEndpoint(0, QHostAddress::LocalHost);

    int argc = 1;
    char name[] = "tessaro-bench";
    char *argv[] = {name, nullptr};
    return ::runClient(argc, argv, [cycles] { new CycleDriver(cycles, qApp); });
}

} // namespace bench
