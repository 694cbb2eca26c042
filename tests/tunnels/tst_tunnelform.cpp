// The tunnel create and edit pages against a fake provider and a fake service
// tool: validation, the requests, the provider's answers and the question
// whether the change is to take effect at once.
#include "app/globals.h"
#include "dialogs/msgtipwidget.h"
#include "main/maindialog.h"
#include "platform/platform.h"
#include "support/fakecommand.h"
#include "support/fakehttpserver.h"
#include "support/fakereplies.h"
#include "support/modalanswer.h"
#include "support/testenv.h"
#include "support/widgetlookup.h"
#include "support/windowfixture.h"
#include "tunnels/tunnelbean.h"
#include "tunnels/tunnelwidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QtTest>

#include <memory>

namespace {

const QString kListRoute = QStringLiteral("ClientTunnelAction?method=list");
const QString kCreateRoute = QStringLiteral("ClientTunnelAction?method=create");
const QString kUpdateRoute = QStringLiteral("ClientTunnelAction?method=update");

const QStringList kQuery{"query", "tessarosvc"};
const QStringList kStart{"start", "tessarosvc"};
const QStringList kStop{"stop", "tessarosvc"};

QJsonObject tunnel(const QString &id, const QString &name)
{
    return QJsonObject{{"name", name},           {"id", id},
                       {"domain", "d.example"},  {"dst_address", "127.0.0.1"},
                       {"dst_port", "8080"},     {"public_address", "127.0.0.1"},
                       {"public_port", "30001"}, {"channel_type", "1"},
                       {"daikuan", "2"}};
}

FakeHttpServer::Response listOf(const QJsonArray &data)
{
    return jsonReply(QJsonObject{{"code", 0}, {"data", data}});
}

// The icon a tip of this kind shows, as a user would see it.
QImage tipIcon(int kind)
{
    MsgTipWidget reference;
    reference.showTip(kind, QStringLiteral("x"));
    return reference.findChild<QLabel *>("label")->pixmap(Qt::ReturnByValue).toImage();
}

// Closes, and counts, every modal dialog while it lives.
class ModalCounter
{
public:
    ModalCounter()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                ++m_count;
                modal->close();
            }
        });
        m_timer.start(20);
    }
    int count() const { return m_count; }

private:
    QTimer m_timer;
    int m_count = 0;
};

} // namespace

Q_DECLARE_METATYPE(FakeHttpServer::Response)

class TestTunnelForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void emptyFieldsAreRefused_data();
    void emptyFieldsAreRefused();
    void createSendsTheFormEncoded();
    void createSuccessAsksToApplyNow_data();
    void createSuccessAsksToApplyNow();
    void updateSendsTheEditedTunnel();
    void updateSuccessAsksToApplyNow_data();
    void updateSuccessAsksToApplyNow();
    void aClickDuringTheReloadSendsNothing_data();
    void aClickDuringTheReloadSendsNothing();
    void everyFailureIsShown_data();
    void everyFailureIsShown();

private:
    void makeWindow();
    void openCreatePage(const QString &name, const QString &address, const QString &port);
    void openEditPage(const QString &tunnelTitle);
    QList<FakeHttpServer::Request> requestsFor(const QString &method) const;

    template <typename T> T *child(const char *name) const
    {
        return namedChild<T>(m_window.get(), name);
    }

    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<FakeCommand> m_sc;
    std::unique_ptr<MainDialog> m_window;
};

void TestTunnelForm::initTestCase()
{
    initTestEnvironment();
}

void TestTunnelForm::init()
{
    m_server = startFakeProvider();
    QVERIFY(m_server);
    m_server->setResponse(kListRoute,
                          listOf(QJsonArray{tunnel("A&7", "网站"), tunnel("B 8", "数据库")}));
    g_avatar.clear();
    g_userName = QStringLiteral("用户1");
    g_password = QStringLiteral("a&b");
    g_num = QStringLiteral("5");

    m_sc = runningServiceTool();
    platform::setOverrides(serviceOverrides(*m_sc));
}

void TestTunnelForm::cleanup()
{
    m_window.reset();
    platform::clearOverrides();
}

void TestTunnelForm::makeWindow()
{
    m_window = std::make_unique<MainDialog>(nullptr);
    m_window->show();
    // The restart every sign-in ends with (query, then stop, query, start, query), so
    // that later service runs belong to the test.
    QTRY_COMPARE_WITH_TIMEOUT(m_sc->runCount(), 5, 5000);
    qDeleteAll(m_window->findChildren<MsgTipWidget *>());
}

void TestTunnelForm::openCreatePage(const QString &name, const QString &address,
                                    const QString &port)
{
    child<QPushButton>("btn_create")->click();
    QCOMPARE(child<QStackedWidget>("stackedWidget")->currentIndex(), 5);
    child<QLineEdit>("create_name")->setText(name);
    child<QLineEdit>("create_dst_address")->setText(address);
    child<QLineEdit>("create_dst_port")->setText(port);
}

void TestTunnelForm::openEditPage(const QString &tunnelTitle)
{
    for (TunnelWidget *card : m_window->findChildren<TunnelWidget *>()) {
        if (labelText(card, "label_name") == tunnelTitle) {
            card->findChild<QPushButton *>("pushButton")->click();
            QCOMPARE(child<QStackedWidget>("stackedWidget")->currentIndex(), 6);
            return;
        }
    }
    QFAIL("no such card");
}

QList<FakeHttpServer::Request> TestTunnelForm::requestsFor(const QString &method) const
{
    QList<FakeHttpServer::Request> found;
    for (const auto &request : m_server->requests())
        if (request.path == QLatin1String("ClientTunnelAction") &&
            request.queryValue(QStringLiteral("method")) == method)
            found.append(request);
    return found;
}

void TestTunnelForm::emptyFieldsAreRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("notice");
    QTest::newRow("all empty") << ""
                               << ""
                               << ""
                               << "请填写映射名称";
    QTest::newRow("name and port empty") << ""
                                         << "127.0.0.1"
                                         << ""
                                         << "请填写映射名称";
    QTest::newRow("address empty") << "nas"
                                   << ""
                                   << "80"
                                   << "请填写映射内网地址信息";
    QTest::newRow("address and port empty") << "nas"
                                            << ""
                                            << ""
                                            << "请填写映射内网地址信息";
    QTest::newRow("port empty") << "nas"
                                << "127.0.0.1"
                                << ""
                                << "请填写映射内网端口信息";
}

void TestTunnelForm::emptyFieldsAreRefused()
{
    QFETCH(QString, name);
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, notice);
    makeWindow();
    const QImage infoIcon = tipIcon(0);

    struct Form
    {
        const char *save;
        const char *result;
        const char *method;
    };
    for (const Form &form : {Form{"btn_save1", "create_result_msg", "create"},
                             Form{"btn_save2", "create_result_msg_2", "update"}}) {
        if (QLatin1String(form.method) == QLatin1String("create")) {
            openCreatePage(name, address, port);
        } else {
            openEditPage(QStringLiteral("网站"));
            child<QLineEdit>("create_name_2")->setText(name);
            child<QLineEdit>("create_dst_address_2")->setText(address);
            child<QLineEdit>("create_dst_port_2")->setText(port);
        }
        child<QLabel>(form.result)->setText(QStringLiteral("earlier text"));
        child<QPushButton>(form.save)->click();

        QCOMPARE(child<QLabel>(form.result)->text(), notice);
        const auto tips = m_window->findChildren<MsgTipWidget *>();
        QCOMPARE(tips.size(), 1);
        QCOMPARE(labelText(tips.first(), "label_2"), notice);
        QCOMPARE(tips.first()->pos(), QPoint(300, 2));
        QCOMPARE(tips.first()->findChild<QLabel *>("label")->pixmap(Qt::ReturnByValue).toImage(),
                 infoIcon);
        QVERIFY(requestsFor(QLatin1String(form.method)).isEmpty());
        QVERIFY(child<QPushButton>(form.save)->isEnabled());
        qDeleteAll(tips);
    }
}

void TestTunnelForm::createSendsTheFormEncoded()
{
    makeWindow();
    FakeHttpServer::Response slow = jsonReply(QJsonObject{{"code", 0}, {"msg", "稍后再试"}});
    slow.delayMs = 500;
    m_server->setResponse(kCreateRoute, slow);
    // Only emptiness is refused: blanks and a port that is no number go out.
    const QString name = QStringLiteral("我的 NAS & 备份=1#2+3");
    openCreatePage(name, QStringLiteral(" "), QStringLiteral("80a"));
    // The type boxes are for show; every tunnel made here is of type 2.
    child<QCheckBox>("checkBox")->setChecked(false);
    child<QCheckBox>("checkBox_2")->setChecked(true);
    auto *save = child<QPushButton>("btn_save1");
    QString textWhileWaiting;
    bool enabledWhileWaiting = true;
    QTimer::singleShot(200, [&] {
        textWhileWaiting = save->text();
        enabledWhileWaiting = save->isEnabled();
    });
    save->click();
    QCOMPARE(textWhileWaiting, QStringLiteral("提交中.."));
    QVERIFY(!enabledWhileWaiting);
    QCOMPARE(save->text(), QStringLiteral("保存并提交"));
    QVERIFY(save->isEnabled());
    QCOMPARE(child<QLabel>("create_result_msg")->text(), QStringLiteral("操作提示:稍后再试"));

    auto created = requestsFor(QStringLiteral("create"));
    QCOMPARE(created.size(), 1);
    const auto &request = created.first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.queryKeys(),
             (QStringList{"method", "username", "password", "name", "private_address",
                          "private_port", "channel_type", "channel_model"}));
    QCOMPARE(request.queryValue("username"), QStringLiteral("用户1"));
    QCOMPARE(request.queryValue("password"), QStringLiteral("a&b"));
    QCOMPARE(request.queryValue("name"), name);
    QCOMPARE(request.queryValue("private_address"), QStringLiteral(" "));
    QCOMPARE(request.queryValue("private_port"), QStringLiteral("80a"));
    QCOMPARE(request.queryValue("channel_type"), QStringLiteral("2"));
    QCOMPARE(request.queryValue("channel_model"), QStringLiteral("3"));
    // Nothing typed can add a key: one "&" between each pair of keys only.
    QCOMPARE(request.rawQuery.count('&'), 7);

    // Clearing the 8.0 engine picks 9.0.
    child<QCheckBox>("checkBox_model8")->setChecked(false);
    QVERIFY(child<QCheckBox>("checkBox_model9")->isChecked());
    save->click();
    created = requestsFor(QStringLiteral("create"));
    QCOMPARE(created.size(), 2);
    QCOMPARE(created.last().queryValue("channel_model"), QStringLiteral("4"));
    QCOMPARE(created.last().queryValue("channel_type"), QStringLiteral("2"));
    // The fields keep what was typed.
    QCOMPARE(child<QLineEdit>("create_name")->text(), name);
}

void TestTunnelForm::createSuccessAsksToApplyNow_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("yes") << "btn_ok";
    QTest::newRow("no") << "btn_cance";
}

void TestTunnelForm::createSuccessAsksToApplyNow()
{
    QFETCH(QString, answer);
    makeWindow();
    m_server->setResponse(kCreateRoute, jsonReply(QJsonObject{{"code", 1}, {"msg", "创建成功"}}));
    openCreatePage(QStringLiteral("新应用"), QStringLiteral("127.0.0.1"), QStringLiteral("3389"));
    const int listsBefore = requestsFor(QStringLiteral("list")).size();
    m_server->setResponse(
        kListRoute, listOf(QJsonArray{tunnel("1", "a"), tunnel("2", "b"), tunnel("3", "新应用")}));

    QString question;
    int listsWhenAsked = -1;
    QString resultWhenAsked;
    answerNextModal(answer.toLatin1().constData(), [&](QWidget *dialog) {
        question = dialog->windowTitle() + QLatin1Char('|') + labelText(dialog, "label_2");
        listsWhenAsked = requestsFor(QStringLiteral("list")).size();
        resultWhenAsked = child<QLabel>("create_result_msg")->text();
    });
    child<QPushButton>("btn_save1")->click();

    QCOMPARE(question, QStringLiteral("操作提示|创建成功，是否立即生效?"));
    // The list was rebuilt before the question, and shows the new tunnel.
    QCOMPARE(listsWhenAsked, listsBefore + 1);
    QCOMPARE(resultWhenAsked, QStringLiteral("创建成功"));
    QCOMPARE(m_window->findChildren<TunnelWidget *>().size(), 3);
    QCOMPARE(child<QLabel>("create_result_msg")->text(), QStringLiteral("创建成功"));
    QCOMPARE(child<QPushButton>("btn_save1")->text(), QStringLiteral("保存并提交"));
    QVERIFY(child<QPushButton>("btn_save1")->isEnabled());
    QCOMPARE(child<QLineEdit>("create_name")->text(), QStringLiteral("新应用"));

    const auto serviceRuns = m_sc->invocations().mid(5);
    if (answer == QLatin1String("btn_ok")) {
        QCOMPARE(serviceRuns, (QList<QStringList>{kStop, kQuery, kStart, kQuery}));
        const auto tips = m_window->findChildren<MsgTipWidget *>();
        QCOMPARE(tips.size(), 1);
        QCOMPARE(labelText(tips.first(), "label_2"), QStringLiteral("服务重启成功!"));
    } else {
        QVERIFY(serviceRuns.isEmpty());
    }
    QCOMPARE(requestsFor(QStringLiteral("list")).size(), listsBefore + 1);
}

void TestTunnelForm::updateSendsTheEditedTunnel()
{
    makeWindow();
    m_server->setResponse(kUpdateRoute, jsonReply(QJsonObject{{"code", 0}, {"msg", "无变化"}}));
    openEditPage(QStringLiteral("网站"));
    child<QLineEdit>("create_name_2")->setText(QStringLiteral("网站 & 博客"));
    child<QLineEdit>("create_dst_port_2")->setText(QStringLiteral("8443"));
    child<QPushButton>("btn_save2")->click();

    auto updated = requestsFor(QStringLiteral("update"));
    QCOMPARE(updated.size(), 1);
    QCOMPARE(updated.first().queryKeys(), (QStringList{"method", "username", "password", "name",
                                                       "private_address", "private_port", "id"}));
    QCOMPARE(updated.first().queryValue("name"), QStringLiteral("网站 & 博客"));
    QCOMPARE(updated.first().queryValue("private_address"), QStringLiteral("127.0.0.1"));
    QCOMPARE(updated.first().queryValue("private_port"), QStringLiteral("8443"));
    QCOMPARE(updated.first().queryValue("id"), QStringLiteral("A&7"));
    QCOMPARE(updated.first().rawQuery.count('&'), 6);
    QCOMPARE(child<QLabel>("create_result_msg_2")->text(), QStringLiteral("操作提示:无变化"));

    // Another card's edit replaces the id; the button is back a second after
    // the reply.
    openEditPage(QStringLiteral("数据库"));
    QVERIFY(!child<QPushButton>("btn_save2")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>("btn_save2")->isEnabled(), 2000);
    child<QPushButton>("btn_save2")->click();
    updated = requestsFor(QStringLiteral("update"));
    QCOMPARE(updated.size(), 2);
    QCOMPARE(updated.last().queryValue("id"), QStringLiteral("B 8"));
    QCOMPARE(updated.last().queryValue("name"), QStringLiteral("数据库"));
}

void TestTunnelForm::updateSuccessAsksToApplyNow_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("yes") << "btn_ok";
    QTest::newRow("no") << "btn_cance";
}

void TestTunnelForm::updateSuccessAsksToApplyNow()
{
    QFETCH(QString, answer);
    makeWindow();
    m_server->setResponse(kUpdateRoute, jsonReply(QJsonObject{{"code", 1}, {"msg", "修改成功"}}));
    openEditPage(QStringLiteral("数据库"));
    child<QLineEdit>("create_dst_port_2")->setText(QStringLiteral("5432"));
    const int listsBefore = requestsFor(QStringLiteral("list")).size();
    auto *save = child<QPushButton>("btn_save2");

    QString question;
    QString buttonAtOpen;
    bool enabledAtOpen = true;
    int listsWhenAsked = -1;
    QString buttonLater;
    bool enabledLater = false;
    // The dialog stays open past the one second after the reply.
    answerNextModal(
        answer.toLatin1().constData(),
        [&](QWidget *dialog) {
            question = dialog->windowTitle() + QLatin1Char('|') + labelText(dialog, "label_2");
            buttonAtOpen = save->text();
            enabledAtOpen = save->isEnabled();
            listsWhenAsked = requestsFor(QStringLiteral("list")).size();
        },
        1400,
        [&] {
            buttonLater = save->text();
            enabledLater = save->isEnabled();
        });
    save->click();

    QCOMPARE(question, QStringLiteral("操作提示|修改成功，是否立即生效?"));
    QCOMPARE(buttonAtOpen, QStringLiteral("提交中.."));
    QVERIFY(!enabledAtOpen);
    QCOMPARE(buttonLater, QStringLiteral("修改并提交"));
    QVERIFY(enabledLater);
    QCOMPARE(listsWhenAsked, listsBefore + 1);
    QCOMPARE(child<QLabel>("create_result_msg_2")->text(), QStringLiteral("修改成功"));
    // The rebuild leaves the edit page as it was, so it can be sent again.
    QCOMPARE(child<QLineEdit>("create_name_2")->text(), QStringLiteral("数据库"));
    QCOMPARE(child<QLineEdit>("create_dst_port_2")->text(), QStringLiteral("5432"));
    const auto serviceRuns = m_sc->invocations().mid(5);
    if (answer == QLatin1String("btn_ok"))
        QCOMPARE(serviceRuns, (QList<QStringList>{kStop, kQuery, kStart, kQuery}));
    else
        QVERIFY(serviceRuns.isEmpty());

    answerNextModal("btn_cance");
    save->click();
    const auto updated = requestsFor(QStringLiteral("update"));
    QCOMPARE(updated.size(), 2);
    QCOMPARE(updated.last().queryValue("id"), QStringLiteral("B 8"));
}

void TestTunnelForm::aClickDuringTheReloadSendsNothing_data()
{
    QTest::addColumn<QString>("method");
    QTest::newRow("create") << "create";
    QTest::newRow("update") << "update";
}

// After a success the list reloads (waiting up to 2 s) before the question;
// the user clicking the button again meanwhile must not send it twice.
void TestTunnelForm::aClickDuringTheReloadSendsNothing()
{
    QFETCH(QString, method);
    const bool create = method == QLatin1String("create");
    makeWindow();
    m_server->setResponse(create ? kCreateRoute : kUpdateRoute,
                          jsonReply(QJsonObject{{"code", 1}, {"msg", "成功"}}));
    if (create)
        openCreatePage(QStringLiteral("新应用"), QStringLiteral("127.0.0.1"),
                       QStringLiteral("3389"));
    else
        openEditPage(QStringLiteral("数据库"));
    FakeHttpServer::Response slowList =
        listOf(QJsonArray{tunnel("A&7", "网站"), tunnel("B 8", "数据库")});
    slowList.delayMs = 1700;
    m_server->setResponse(kListRoute, slowList);
    auto *save = child<QPushButton>(create ? "btn_save1" : "btn_save2");

    // 1.3 s in: past the update button's one-second restore, still reloading.
    QTimer::singleShot(1300, save, [save] { QTest::mouseClick(save, Qt::LeftButton); });
    answerNextModal("btn_cance");
    QTest::mouseClick(save, Qt::LeftButton);
    QTest::qWait(500);

    QCOMPARE(requestsFor(method).size(), 1);
    QTRY_VERIFY(save->isEnabled());
}

void TestTunnelForm::everyFailureIsShown_data()
{
    QTest::addColumn<FakeHttpServer::Response>("reply");
    QTest::addColumn<QString>("shown");
    FakeHttpServer::Response silent;
    silent.neverAnswer = true;
    FakeHttpServer::Response reset;
    reset.resetConnection = true;

    QTest::newRow("refused") << jsonReply(QJsonObject{{"code", 0}, {"msg", "名称已存在"}})
                             << "操作提示:名称已存在";
    QTest::newRow("other code") << jsonReply(QJsonObject{{"code", 3}, {"msg", "映射数已达上限"}})
                                << "操作提示:映射数已达上限";
    QTest::newRow("code as text") << jsonReply(QJsonObject{{"code", "1"}, {"msg", "格式错误"}})
                                  << "操作提示:格式错误";
    QTest::newRow("time-out") << silent << "操作提示:连接超时";
    QTest::newRow("empty object") << rawReply("{}") << "操作提示:";
    QTest::newRow("connection reset") << reset << "操作提示:";
}

void TestTunnelForm::everyFailureIsShown()
{
    QFETCH(FakeHttpServer::Response, reply);
    QFETCH(QString, shown);
    makeWindow();
    m_server->setResponse(kCreateRoute, reply);
    m_server->setResponse(kUpdateRoute, reply);
    const int lists = requestsFor(QStringLiteral("list")).size();
    ModalCounter dialogs;

    openCreatePage(QStringLiteral("n"), QStringLiteral("127.0.0.1"), QStringLiteral("80"));
    child<QPushButton>("btn_save1")->click();
    QCOMPARE(child<QLabel>("create_result_msg")->text(), shown);
    QCOMPARE(child<QPushButton>("btn_save1")->text(), QStringLiteral("保存并提交"));
    QVERIFY(child<QPushButton>("btn_save1")->isEnabled());

    openEditPage(QStringLiteral("网站"));
    child<QPushButton>("btn_save2")->click();
    QCOMPARE(child<QLabel>("create_result_msg_2")->text(), shown);
    QTRY_VERIFY(child<QPushButton>("btn_save2")->isEnabled());
    QCOMPARE(child<QPushButton>("btn_save2")->text(), QStringLiteral("修改并提交"));

    // No question, no rebuild, no restart.
    QCOMPARE(dialogs.count(), 0);
    QCOMPARE(requestsFor(QStringLiteral("list")).size(), lists);
    QCOMPARE(m_sc->runCount(), 5);
}

QTEST_MAIN(TestTunnelForm)
#include "tst_tunnelform.moc"
