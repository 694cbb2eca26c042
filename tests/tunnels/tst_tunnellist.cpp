// The tunnel page of the main window against a fake provider: the list call,
// the cards and the count tile, and what each card action does.
#include "app/globals.h"
#include "dialogs/msgtipwidget.h"
#include "main/maindialog.h"
#include "platform/platform.h"
#include "support/browsersink.h"
#include "support/fakecommand.h"
#include "support/fakehttpserver.h"
#include "support/fakereplies.h"
#include "support/modalanswer.h"
#include "support/testenv.h"
#include "support/widgetlookup.h"
#include "support/windowfixture.h"
#include "tunnels/ctparamwidget.h"
#include "tunnels/tunnelbean.h"
#include "tunnels/tunnelwidget.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QUrlQuery>
#include <QtTest>

#include <memory>

namespace {

const QString kListRoute = QStringLiteral("ClientTunnelAction?method=list");

QJsonObject tunnel(const QString &id, const QString &name, const QString &channelType = "1")
{
    return QJsonObject{{"name", name},
                       {"id", id},
                       {"domain", id + ".example.net"},
                       {"dst_address", "127.0.10." + id},
                       {"dst_port", "80" + id},
                       {"public_address", "127.0.20." + id},
                       {"public_port", "3" + id},
                       {"public_port2", ""},
                       {"domain_type", "1"},
                       {"channel_type", channelType},
                       {"channel_state", "1"},
                       {"channel_model", "3"},
                       {"model", ""},
                       {"domain_auth", ""},
                       {"daikuan", "1" + id}};
}

QJsonArray tunnels(int count)
{
    QJsonArray array;
    for (int i = 1; i <= count; ++i)
        array.append(tunnel(QString::number(i), QStringLiteral("应用%1").arg(i)));
    return array;
}

FakeHttpServer::Response listOf(const QJsonArray &data)
{
    return jsonReply(QJsonObject{{"code", 0}, {"msg", "ok"}, {"data", data}});
}

} // namespace

Q_DECLARE_METATYPE(FakeHttpServer::Response)

class TestTunnelList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void listShowsCardsInReplyOrderWithTheTile();
    void everyCardOfALongListCanBeReached();
    void thousandsOfTunnelsGetCardsAsTheyComeIntoView();
    void emptyListShowsNoCards();
    void nonStringKeysGiveEmptyFields();
    void failedListLeavesThePageEmpty_data();
    void failedListLeavesThePageEmpty();
    void reloadReleasesTheOldCards();

    void copyPutsTheAccessAddressOnTheClipboard_data();
    void copyPutsTheAccessAddressOnTheClipboard();
    void editFillsTheEditPage();
    void consoleActionsAskFirst_data();
    void consoleActionsAskFirst();
    void unknownTunnelOrActionDoesNothing();

private:
    void makeWindow(const FakeHttpServer::Response &list);
    QWidget *page() const;
    QList<TunnelWidget *> cards() const;
    CTParamWidget *tile() const;
    TunnelWidget *cardTitled(const QString &title) const;

    template <typename T> T *child(const char *name) const
    {
        return namedChild<T>(m_window.get(), name);
    }

    BrowserSink m_browser;
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<FakeCommand> m_sc;
    std::unique_ptr<MainDialog> m_window;
};

void TestTunnelList::initTestCase()
{
    initTestEnvironment();
    m_browser.install({"http", "https"});
}

void TestTunnelList::init()
{
    m_server = startFakeProvider();
    QVERIFY(m_server);
    g_avatar.clear();
    g_userId = QStringLiteral("7");
    g_userName = QStringLiteral("alice & bob");
    g_password = QStringLiteral("p=w#1");
    g_num = QStringLiteral("5");

    m_sc = runningServiceTool();
    platform::setOverrides(serviceOverrides(*m_sc));
    m_browser.urls.clear();
    QApplication::clipboard()->clear();
}

void TestTunnelList::cleanup()
{
    m_window.reset();
    platform::clearOverrides();
}

void TestTunnelList::makeWindow(const FakeHttpServer::Response &list)
{
    m_server->setResponse(kListRoute, list);
    m_window = std::make_unique<MainDialog>(nullptr);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

QWidget *TestTunnelList::page() const
{
    return child<QWidget>("page");
}

QList<TunnelWidget *> TestTunnelList::cards() const
{
    // Children keep their order of creation, which is the reply's order.
    return child<QWidget>("tunnelListContainer")
        ->findChildren<TunnelWidget *>(QString(), Qt::FindDirectChildrenOnly);
}

CTParamWidget *TestTunnelList::tile() const
{
    // The count tile is the first tile the window puts on the tunnel page.
    const auto tiles = page()->findChildren<CTParamWidget *>();
    return tiles.isEmpty() ? nullptr : tiles.first();
}

TunnelWidget *TestTunnelList::cardTitled(const QString &title) const
{
    for (TunnelWidget *card : cards())
        if (labelText(card, "label_name") == title)
            return card;
    return nullptr;
}

void TestTunnelList::listShowsCardsInReplyOrderWithTheTile()
{
    QJsonArray data;
    data.append(tunnel("42", "NAS"));
    data.append(tunnel("7", "远程桌面"));
    data.append(tunnel("13", "网站"));
    makeWindow(listOf(data));

    // The request: keys in order, the account's values encoded.
    const auto requests = m_server->requests();
    QVERIFY(!requests.isEmpty());
    const auto &list = requests.first();
    QCOMPARE(list.method, QByteArray("POST"));
    QCOMPARE(list.path, QStringLiteral("ClientTunnelAction"));
    QCOMPARE(list.queryKeys(), (QStringList{"method", "username", "password"}));
    QCOMPARE(list.queryValue("method"), QStringLiteral("list"));
    QCOMPARE(list.queryValue("username"), g_userName);
    QCOMPARE(list.queryValue("password"), g_password);

    QCOMPARE(labelText(tile(), "label"), QStringLiteral("3/5"));
    QCOMPARE(labelText(tile(), "label_2"), QStringLiteral("条"));
    QCOMPARE(labelText(tile(), "label_3"), QStringLiteral("映射数"));

    const auto shown = cards();
    QCOMPARE(shown.size(), 3);
    QCOMPARE(labelText(shown[0], "label_name"), QStringLiteral("NAS"));
    QCOMPARE(labelText(shown[1], "label_name"), QStringLiteral("远程桌面"));
    QCOMPARE(labelText(shown[2], "label_name"), QStringLiteral("网站"));
    QCOMPARE(labelText(shown[1], "label_3"), QStringLiteral("7.example.net:37"));
    QCOMPARE(labelText(shown[1], "label_5"), QStringLiteral("127.0.10.7:807"));
    QCOMPARE(labelText(shown[1], "label_7"), QStringLiteral("17M"));
    const QPoint expected[] = {{10, 100}, {310, 100}, {10, 280}};
    for (int i = 0; i < 3; ++i) {
        QVERIFY(shown[i]->isVisible());
        QCOMPARE(shown[i]->mapTo(page(), QPoint(0, 0)), expected[i]);
    }
}

void TestTunnelList::everyCardOfALongListCanBeReached()
{
    makeWindow(listOf(tunnels(7)));
    QCOMPARE(labelText(tile(), "label"), QStringLiteral("7/5"));
    const auto shown = cards();
    QCOMPARE(shown.size(), 7);

    // The first four keep their places on the page; the rest continue the grid.
    const QPoint expected[] = {{10, 100}, {310, 100}, {10, 280}, {310, 280},
                               {10, 460}, {310, 460}, {10, 640}};
    QList<QRect> taken;
    for (int i = 0; i < 7; ++i) {
        QCOMPARE(labelText(shown[i], "label_name"), QStringLiteral("应用%1").arg(i + 1));
        QCOMPARE(shown[i]->mapTo(page(), QPoint(0, 0)), expected[i]);
        const QRect rect(shown[i]->pos(), shown[i]->size());
        for (const QRect &other : taken)
            QVERIFY2(!rect.intersects(other), "cards overlap");
        taken.append(rect);
    }

    // Cards beyond the visible rows are reached by scrolling the list, and the
    // whole card fits inside the page's width.
    auto *area = child<QScrollArea>("tunnelScrollArea");
    QVERIFY(area->verticalScrollBar()->maximum() > 0);
    QVERIFY(shown[6]->visibleRegion().isEmpty());
    area->ensureWidgetVisible(shown[6]);
    QTRY_VERIFY(!shown[6]->visibleRegion().isEmpty());
    const QRect inViewport(shown[6]->mapTo(area->viewport(), QPoint(0, 0)), shown[6]->size());
    QVERIFY(area->viewport()->rect().contains(inViewport));
    area->ensureWidgetVisible(shown[0]);
    QTRY_VERIFY(!shown[0]->visibleRegion().isEmpty());
}

void TestTunnelList::thousandsOfTunnelsGetCardsAsTheyComeIntoView()
{
    const int count = 3000;
    // The reply is made before the clock starts: only the window's own work
    // is timed, not the fixture's.
    const auto reply = listOf(tunnels(count));
    QElapsedTimer clock;
    clock.start();
    makeWindow(reply);
    QCOMPARE(labelText(tile(), "label"), QStringLiteral("3000/5"));
    // Only the part of the list near the view is built: the window opens at
    // once whatever the account holds.
    QVERIFY2(cards().size() <= 20, qPrintable(QString::number(cards().size())));
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));

    auto *area = child<QScrollArea>("tunnelScrollArea");
    auto *bar = area->verticalScrollBar();
    for (int value : {bar->maximum(), bar->maximum() / 2, bar->minimum()}) {
        bar->setValue(value);
        // Every card in view exists, in its place, with its own tunnel's values.
        QTRY_VERIFY(!cards().isEmpty());
        const QRect view(QPoint(0, value), area->viewport()->size());
        int inView = 0;
        for (int i = 0; i < count; ++i) {
            const QRect place(QPoint(10 + 300 * (i % 2), 180 * (i / 2)), QSize(290, 171));
            if (!place.intersects(view))
                continue;
            TunnelWidget *card = cardTitled(QStringLiteral("应用%1").arg(i + 1));
            QVERIFY2(card, qPrintable(QString::number(i + 1)));
            QCOMPARE(card->pos(), place.topLeft());
            QVERIFY(card->isVisible());
            ++inView;
        }
        QVERIFY(inView >= 4);
        QVERIFY2(cards().size() <= 60, qPrintable(QString::number(cards().size())));
    }

    // A card made on scrolling acts like the first ones.
    bar->setValue(bar->maximum());
    TunnelWidget *last = cardTitled(QStringLiteral("应用3000"));
    QVERIFY(last);
    last->findChild<QPushButton *>("pushButton")->click();
    QCOMPARE(child<QStackedWidget>("stackedWidget")->currentIndex(), 6);

    // A reload starts from a clean slate again.
    m_server->setResponse(kListRoute, listOf(tunnels(3)));
    m_window->reloadTunnelList();
    QTRY_COMPARE(cards().size(), 3);
}

void TestTunnelList::emptyListShowsNoCards()
{
    makeWindow(listOf(QJsonArray()));
    QCOMPARE(cards().size(), 0);
    QCOMPARE(labelText(tile(), "label"), QStringLiteral("0/5"));
    QCOMPARE(labelText(tile(), "label_2"), QStringLiteral("条"));

    // A reply with data but without code is a success as well.
    m_server->setResponse(kListRoute, jsonReply(QJsonObject{{"data", tunnels(2)}}));
    m_window->reloadTunnelList();
    QCOMPARE(cards().size(), 2);
    QCOMPARE(labelText(tile(), "label"), QStringLiteral("2/5"));
}

void TestTunnelList::nonStringKeysGiveEmptyFields()
{
    QJsonObject numbers = tunnel("5", "数字端口");
    numbers["dst_port"] = 8080;
    numbers["daikuan"] = QJsonValue::Null;
    QJsonObject nameless = tunnel("6", "");
    QJsonArray data{numbers, nameless, QJsonValue(17)};
    makeWindow(listOf(data));

    const auto shown = cards();
    QCOMPARE(shown.size(), 3);
    QCOMPARE(labelText(tile(), "label"), QStringLiteral("3/5"));
    QCOMPARE(labelText(shown[0], "label_5"), QStringLiteral("127.0.10.5:"));
    QCOMPARE(labelText(shown[0], "label_7"), QStringLiteral("M"));
    QCOMPARE(labelText(shown[1], "label_name"), QStringLiteral("默认"));
    // An element that is no object is a tunnel with every field empty.
    QCOMPARE(labelText(shown[2], "label_name"), QStringLiteral("默认"));
    QCOMPARE(shown[2]->tunnelBean()->id(), QString());
    QCOMPARE(shown[2]->mapTo(page(), QPoint(0, 0)), QPoint(10, 280));
}

void TestTunnelList::failedListLeavesThePageEmpty_data()
{
    QTest::addColumn<FakeHttpServer::Response>("reply");
    FakeHttpServer::Response silent;
    silent.neverAnswer = true;
    FakeHttpServer::Response reset;
    reset.resetConnection = true;
    FakeHttpServer::Response serverError = listOf(tunnels(2));
    serverError.status = 500;

    QTest::newRow("refused") << jsonReply(QJsonObject{{"code", 2}, {"data", tunnels(2)}});
    QTest::newRow("time-out") << silent;
    QTest::newRow("empty object") << rawReply("{}");
    QTest::newRow("not json") << rawReply("<html>busy</html>");
    QTest::newRow("connection reset") << reset;
    QTest::newRow("server error") << serverError;
}

void TestTunnelList::failedListLeavesThePageEmpty()
{
    QFETCH(FakeHttpServer::Response, reply);
    makeWindow(listOf(tunnels(3)));
    QCOMPARE(cards().size(), 3);

    m_server->setResponse(kListRoute, reply);
    m_window->reloadTunnelList();
    QCOMPARE(cards().size(), 0);
    QCOMPARE(labelText(tile(), "label"), QStringLiteral("0/0"));
    QCOMPARE(labelText(tile(), "label_2"), QStringLiteral("条"));
    QCOMPARE(labelText(tile(), "label_3"), QStringLiteral("映射数"));
    // Nothing else tells the user (a long wait lets the sign-in restart report).
    for (MsgTipWidget *tip : m_window->findChildren<MsgTipWidget *>())
        QCOMPARE(labelText(tip, "label_2"), QStringLiteral("服务重启成功!"));
}

void TestTunnelList::reloadReleasesTheOldCards()
{
    makeWindow(listOf(tunnels(5)));
    QList<QPointer<TunnelWidget>> oldCards;
    QList<QPointer<TunnelBean>> oldRecords;
    for (TunnelWidget *card : cards()) {
        oldCards.append(card);
        oldRecords.append(card->tunnelBean());
    }
    QCOMPARE(oldCards.size(), 5);

    m_server->setResponse(kListRoute, listOf(tunnels(2)));
    m_window->reloadTunnelList();
    for (int i = 0; i < 5; ++i) {
        QVERIFY(oldCards[i].isNull());
        QVERIFY(oldRecords[i].isNull());
    }
    QCOMPARE(cards().size(), 2);
    QCOMPARE(labelText(tile(), "label"), QStringLiteral("2/5"));
    // The list shrinks with the cards, so nothing is left to scroll to.
    QCOMPARE(child<QWidget>("tunnelListContainer")->minimumHeight(), 180);
}

void TestTunnelList::copyPutsTheAccessAddressOnTheClipboard_data()
{
    QTest::addColumn<QString>("channelType");
    QTest::addColumn<QString>("address");
    QTest::newRow("general") << "1"
                             << "9.example.net:39";
    QTest::newRow("https") << "5"
                           << "https://9.example.net";
}

void TestTunnelList::copyPutsTheAccessAddressOnTheClipboard()
{
    QFETCH(QString, channelType);
    QFETCH(QString, address);
    QJsonArray data{tunnel("8", "其他"), tunnel("9", "目标", channelType)};
    makeWindow(listOf(data));

    cardTitled("目标")->findChild<QPushButton *>("pushButton_2")->click();
    QCOMPARE(QApplication::clipboard()->text(), address);
    const auto tips = m_window->findChildren<MsgTipWidget *>();
    QCOMPARE(tips.size(), 1);
    QCOMPARE(labelText(tips.first(), "label_2"), QStringLiteral("已复制到剪切板"));
    QCOMPARE(tips.first()->pos(), QPoint(300, 2));
}

void TestTunnelList::editFillsTheEditPage()
{
    QJsonArray data{tunnel("3", "普通"), tunnel("4", "加密", "5")};
    makeWindow(listOf(data));
    auto *stack = child<QStackedWidget>("stackedWidget");

    cardTitled("普通")->findChild<QPushButton *>("pushButton")->click();
    QCOMPARE(stack->currentIndex(), 6);
    QCOMPARE(child<QLineEdit>("create_name_2")->text(), QStringLiteral("普通"));
    QCOMPARE(child<QLineEdit>("create_dst_address_2")->text(), QStringLiteral("127.0.10.3"));
    QCOMPARE(child<QLineEdit>("create_dst_port_2")->text(), QStringLiteral("803"));
    QCOMPARE(child<QLineEdit>("create_domain2")->text(), QStringLiteral("3.example.net"));
    QCOMPARE(child<QLabel>("label_32")->text(), QStringLiteral("33"));

    // An HTTPS tunnel is reached on 443 whatever its public port.
    child<QPushButton>("btn_back2")->click();
    cardTitled("加密")->findChild<QPushButton *>("pushButton")->click();
    QCOMPARE(stack->currentIndex(), 6);
    QCOMPARE(child<QLineEdit>("create_name_2")->text(), QStringLiteral("加密"));
    QCOMPARE(child<QLabel>("label_32")->text(), QStringLiteral("443"));
}

void TestTunnelList::consoleActionsAskFirst_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("question");
    QTest::newRow("delete") << "删除"
                            << "删除映射需登录控制台，点击确认跳转到控制台？";
    QTest::newRow("domain") << "修改域名"
                            << "更改域名需登录控制台，点击确认跳转到控制台？";
}

void TestTunnelList::consoleActionsAskFirst()
{
    QFETCH(QString, action);
    QFETCH(QString, question);
    makeWindow(listOf(tunnels(2)));
    TunnelWidget *card = cards().at(1);
    auto trigger = [card, action] {
        if (action == QStringLiteral("删除"))
            card->findChild<QPushButton *>("pushButton_4")->click();
        else
            emit card->messageSent(card->tunnelBean()->id(), action);
    };

    QString asked;
    answerNextModal("btn_cance", [&asked](QWidget *dialog) {
        asked = dialog->windowTitle() + QLatin1Char('|') + labelText(dialog, "label_2");
    });
    trigger();
    QCOMPARE(asked, QStringLiteral("操作提示|") + question);
    QVERIFY(m_browser.urls.isEmpty());
    QCOMPARE(cards().size(), 2);

    answerNextModal("btn_ok");
    trigger();
    QCOMPARE(m_browser.urls.size(), 1);
    const QUrl url = m_browser.urls.first();
    QVERIFY2(url.toString().startsWith(g_webBaseUrl + QStringLiteral("ClientAction?")),
             qPrintable(url.toString()));
    QCOMPARE(QUrlQuery(url).queryItemValue(QStringLiteral("page")),
             QStringLiteral("chuantou_panel"));
    // The client deletes nothing itself.
    QCOMPARE(cards().size(), 2);
}

void TestTunnelList::unknownTunnelOrActionDoesNothing()
{
    makeWindow(listOf(tunnels(2)));
    auto *stack = child<QStackedWidget>("stackedWidget");
    TunnelWidget *card = cards().first();
    const QString id = card->tunnelBean()->id();

    // A dialog here would block the test; count any that appears and close it.
    int dialogs = 0;
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, [&dialogs] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            ++dialogs;
            modal->close();
        }
    });
    watcher.start(20);

    for (const char *name : {"删除", "编辑", "检测", "复制", "修改域名"})
        emit card->messageSent(QStringLiteral("no-such-id"), QString::fromUtf8(name));
    for (const char *name : {"", "delete", "复制 ", "复制地址"})
        emit card->messageSent(id, QString::fromUtf8(name));
    QTest::qWait(100);
    QCOMPARE(dialogs, 0);
    QCOMPARE(stack->currentIndex(), 0);
    QVERIFY(QApplication::clipboard()->text().isEmpty());
    QVERIFY(m_window->findChildren<MsgTipWidget *>().isEmpty());
    QVERIFY(m_browser.urls.isEmpty());
}

QTEST_MAIN(TestTunnelList)
#include "tst_tunnellist.moc"
