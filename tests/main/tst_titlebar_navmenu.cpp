// The main window's chrome: the title bar's controls and the navigation
// entries, driven through their widgets inside stand-in main windows.
#include "app/globals.h"
#include "main/navmenuwidget.h"
#include "main/titlebarwidget.h"
#include "support/browsersink.h"
#include "support/testenv.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrlQuery>
#include <QtTest>

#include <functional>

// Stands in for the main window: receives the entries' clicks through the
// same slot signature and counts the presses that reach it (window dragging).
class HostWindow : public QDialog
{
    Q_OBJECT
public:
    QStringList menuClicks;
    int presses = 0;
public slots:
    void getclickmenu(QString name) { menuClicks.append(name); }

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
};

namespace {

struct ModalSeen
{
    bool appeared = false;
    QString title;
    QStringList labels;
    QWidget *parent = nullptr;
};

// Answers the next modal dialog by clicking the named button; records what it
// showed. A dialog that is still open after 5 s is rejected so a fault cannot
// hang the run.
void answerNextModal(const char *button, ModalSeen *seen)
{
    auto *poll = new QTimer;
    auto *clock = new QElapsedTimer;
    clock->start();
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, [poll, clock, button, seen] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal) {
            if (clock->elapsed() > 5000) {
                poll->stop();
                poll->deleteLater();
                delete clock;
            }
            return;
        }
        poll->stop();
        poll->deleteLater();
        delete clock;
        seen->appeared = true;
        seen->title = modal->windowTitle();
        seen->parent = modal->parentWidget();
        for (QLabel *label : modal->findChildren<QLabel *>())
            seen->labels.append(label->text());
        if (auto *b = modal->findChild<QPushButton *>(QLatin1String(button)))
            b->click();
        QTimer::singleShot(5000, modal, [modal] {
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->reject();
        });
    });
    poll->start();
}

QColor pixel(QWidget *widget, const QPoint &at)
{
    return widget->grab().toImage().pixelColor(at);
}

// The colour a label draws its text in, as its style sheet resolves it; the
// rendered glyphs depend on the installed fonts, this does not.
QColor textColour(QLabel *label)
{
    label->ensurePolished();
    return label->palette().color(label->foregroundRole());
}

template <typename T> T *child(QWidget *root, const char *name)
{
    return root->findChild<T *>(QLatin1String(name));
}

void press(QWidget *widget, Qt::MouseButton button = Qt::LeftButton, QPoint at = QPoint())
{
    QTest::mousePress(widget, button, Qt::NoModifier, at);
    QTest::mouseRelease(widget, button, Qt::NoModifier, at);
}

} // namespace

class TestTitleBarNavMenu : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        initTestEnvironment();
        m_browser.install({"http", "https"});
    }

    void init() { m_browser.urls.clear(); }

    void entryPressEmitsItsKeyToTheMainWindow()
    {
        HostWindow host;
        auto *entry = new NavMenuWidget(&host);
        auto *blank = new NavMenuWidget(&host);
        entry->setData(QStringLiteral("场景映射"), QStringLiteral(":/images/icon/n_game.png"));
        QSignalSpy spy(entry, &NavMenuWidget::widgetClicked);
        QSignalSpy blankSpy(blank, &NavMenuWidget::widgetClicked);

        press(entry);
        press(entry, Qt::RightButton); // any button
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("场景映射"));

        // An entry that never got its key reports the empty key.
        press(blank);
        QCOMPARE(blankSpy.count(), 1);
        QCOMPARE(blankSpy.at(0).at(0).toString(), QString());

        QCOMPARE(host.menuClicks,
                 QStringList({QStringLiteral("场景映射"), QStringLiteral("场景映射"), QString()}));
        // The press stops at the entry: it does not drag the window.
        QCOMPARE(host.presses, 0);
    }

    void entryShowsItsKeyAndIcon()
    {
        QWidget plain; // a parent without the click slot: no connection, no fault
        NavMenuWidget entry(&plain);
        QCOMPARE(entry.size(), QSize(175, 40));
        QCOMPARE(entry.name(), QString());

        entry.setData(QStringLiteral("政企服务"), QStringLiteral(":/images/icon/n_tmp.png"));
        QCOMPARE(entry.name(), QStringLiteral("政企服务"));
        QCOMPARE(child<QLabel>(&entry, "label")->text(), QStringLiteral("政企服务"));
        auto *icon = child<QLabel>(&entry, "nav_icon");
        QCOMPARE(icon->pixmap(Qt::ReturnByValue).toImage(),
                 QPixmap(":/images/icon/n_tmp.png").toImage());
        QVERIFY(icon->hasScaledContents());

        QSignalSpy spy(&entry, &NavMenuWidget::widgetClicked);
        press(&entry);
        QCOMPARE(spy.count(), 1);
    }

    void captionDarkensWhileTheCursorIsOver()
    {
        NavMenuWidget entry;
        entry.setData(QStringLiteral("内网穿透"), QStringLiteral(":/images/icon/n_chuantou.png"));
        auto *caption = child<QLabel>(&entry, "label");
        const QColor grey(100, 100, 100);
        QCOMPARE(textColour(caption), grey);

        for (bool selected : {false, true}) {
            entry.setSelected(selected);
            QEvent enter(QEvent::Enter);
            QApplication::sendEvent(&entry, &enter);
            QCOMPARE(textColour(caption), QColor(Qt::black));
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(&entry, &leave);
            QCOMPARE(textColour(caption), grey);
        }
    }

    void selectedLookReplacesHoverHighlight()
    {
        const QColor plain(232, 232, 232);
        const QColor grey(QStringLiteral("#cbc8ca"));
        NavMenuWidget entry;
        const QPoint empty(5, 5);
        QCOMPARE(pixel(&entry, empty), plain);
        entry.setAttribute(Qt::WA_UnderMouse, true);
        QCOMPARE(pixel(&entry, empty), grey); // the form's hover colour

        entry.setSelected(false);
        QCOMPARE(pixel(&entry, empty), plain); // no hover rule any more
        entry.setSelected(true);
        QCOMPARE(pixel(&entry, empty), grey);
        entry.setAttribute(Qt::WA_UnderMouse, false);
        QCOMPARE(pixel(&entry, empty), grey);
        entry.setSelected(false);
        QCOMPARE(pixel(&entry, empty), plain);
    }

    void titleBarLooksAsDrawn()
    {
        HostWindow host;
        TitleBarWidget bar(&host);
        QCOMPARE(bar.size(), QSize(625, 30));
        QCOMPARE(child<QLabel>(&bar, "help_center")->text(), QStringLiteral("服务工单"));
        QCOMPARE(child<QWidget>(&bar, "widget")->geometry(), QRect(585, 0, 40, 30));
        QCOMPARE(child<QWidget>(&bar, "widget_2")->geometry(), QRect(545, 0, 40, 30));
        QCOMPARE(child<QWidget>(&bar, "widget_3")->geometry(), QRect(454, 0, 91, 30));

        // A grey line along the bottom edge only.
        const QImage image = bar.grab().toImage();
        QCOMPARE(image.pixelColor(10, 29), QColor(QStringLiteral("#dddddd")));
        QVERIFY(image.pixelColor(10, 28) != QColor(QStringLiteral("#dddddd")));

        auto *ticket = child<QWidget>(&bar, "widget_3");
        ticket->setAttribute(Qt::WA_UnderMouse, true);
        QCOMPARE(pixel(ticket, QPoint(3, 3)), QColor(221, 221, 221));
    }

    // Here, as on many Linux desktops, there is no tray that could bring a
    // hidden window back: the window goes to the task bar instead.
    void minimiseWithoutTrayGoesToTheTaskBar()
    {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        HostWindow host;
        auto *bar = new TitleBarWidget(&host);
        auto *icon = new QSystemTrayIcon(&host);
        icon->show(); // made all the same, with nowhere to appear
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));

        press(child<QLabel>(bar, "label_min"));
        QVERIFY(host.isMinimized());
        QVERIFY(host.isVisible());
        QCOMPARE(host.presses, 0);
        host.showNormal();

        // Around the label the press reaches the window, which drags it.
        host.show();
        press(child<QWidget>(bar, "widget_2"), Qt::LeftButton, QPoint(2, 2));
        QVERIFY(host.isVisible());
        QCOMPARE(host.presses, 1);
    }

    void closeAsksFirstAndClosesOnlyOnConfirm()
    {
        HostWindow host;
        auto *bar = new TitleBarWidget(&host);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        auto *close = child<QLabel>(bar, "label_close");

        ModalSeen declined;
        answerNextModal("btn_cance", &declined);
        press(close);
        QVERIFY(declined.appeared);
        QCOMPARE(declined.title, QStringLiteral("操作提示"));
        QVERIFY(declined.labels.contains(QStringLiteral("是否要退出当前客户端?")));
        QCOMPARE(declined.parent, bar);
        QVERIFY(host.isVisible());
        QCOMPARE(host.presses, 0); // consumed either way

        ModalSeen confirmed;
        answerNextModal("btn_ok", &confirmed);
        press(close);
        QVERIFY(confirmed.appeared);
        QVERIFY(!host.isVisible());
        QCOMPARE(host.presses, 0);
    }

    void ticketLinkOpensTheConsoleTicketPage()
    {
        g_webBaseUrl = QStringLiteral("https://web.example.test/");
        g_userId = QStringLiteral("1001");
        g_password = QStringLiteral("secret");
        HostWindow host;
        auto *bar = new TitleBarWidget(&host);

        // The container around the caption is not the link.
        press(child<QWidget>(bar, "widget_3"), Qt::LeftButton, QPoint(3, 3));
        QVERIFY(m_browser.urls.isEmpty());
        QCOMPARE(host.presses, 1);

        press(child<QLabel>(bar, "help_center"));
        QCOMPARE(m_browser.urls.size(), 1);
        const QUrl url = m_browser.urls.first();
        QCOMPARE(url.host(), QStringLiteral("web.example.test"));
        QCOMPARE(url.path(), QStringLiteral("/ClientAction"));
        const QList<QPair<QString, QString>> items = QUrlQuery(url).queryItems();
        QCOMPARE(items.size(), 3);
        QCOMPARE(items.at(0), qMakePair(QStringLiteral("userid"), QStringLiteral("1001")));
        QCOMPARE(items.at(1), qMakePair(QStringLiteral("password"), QStringLiteral("secret")));
        QCOMPARE(items.at(2), qMakePair(QStringLiteral("page"), QStringLiteral("gongdan")));
        QCOMPARE(host.presses, 1);
    }

private:
    BrowserSink m_browser;
};

QTEST_MAIN(TestTitleBarNavMenu)
#include "tst_titlebar_navmenu.moc"
