// What the client does with broken input: malformed, hostile or missing API
// replies, and external tools that print garbage, hang or are not there.
#include "app/globals.h"
#include "catalogue/changjingwidget.h"
#include "catalogue/zengzhiwidget.h"
#include "diagnostics/checkboxframe.h"
#include "dialogs/msgtipwidget.h"
#include "login/logindialog.h"
#include "main/maindialog.h"
#include "net/apireply.h"
#include "net/httprequest.h"
#include "platform/platform.h"
#include "support/browsersink.h"
#include "support/fakecommand.h"
#include "support/fakehttpserver.h"
#include "support/fakereplies.h"
#include "support/testenv.h"
#include "support/widgetlookup.h"
#include "support/windowfixture.h"
#include "tunnels/ctparamwidget.h"
#include "tunnels/tunnelwidget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTextEdit>
#include <QtTest>

#include <memory>

using Response = FakeHttpServer::Response;
Q_DECLARE_METATYPE(FakeHttpServer::Response)

namespace {

// One request's time-out plus what the machinery around it may take.
const int kCallBoundMs = HttpRequest::TimeoutMs + 1500;
// Longest text a window may show from a reply that must not be shown at all.
const int kSaneTextLength = 4096;

QByteArray hugeString()
{
    return QByteArray(1024 * 1024, 'A');
}

QByteArray deepNesting()
{
    const int depth = 200000;
    return "{\"code\":1,\"msg\":\"deep\",\"data\":" + QByteArray(depth, '[') +
           QByteArray(depth, ']') + '}';
}

// Every text the widget and its children show.
QStringList shownTexts(const QWidget *root)
{
    QStringList texts;
    for (const QLabel *label : root->findChildren<QLabel *>())
        texts << label->text();
    for (const QLineEdit *edit : root->findChildren<QLineEdit *>())
        texts << edit->text();
    for (const QAbstractButton *button : root->findChildren<QAbstractButton *>())
        texts << button->text();
    for (const QPlainTextEdit *edit : root->findChildren<QPlainTextEdit *>())
        texts << edit->toPlainText();
    for (const QTextEdit *edit : root->findChildren<QTextEdit *>())
        texts << edit->toPlainText();
    return texts;
}

// A garbled or megabyte-sized text, or empty when every text is sound.
QString badText(const QStringList &texts)
{
    for (const QString &text : texts) {
        if (text.contains(QChar::ReplacementCharacter))
            return QStringLiteral("garbled: ") + text.left(80);
        if (text.size() > kSaneTextLength)
            return QStringLiteral("%1 characters: ").arg(text.size()) + text.left(80);
    }
    return QString();
}

// The labels under `root` whose text holds `value`, each as its parent's name
// and its own, marked " drawn as markup" when it does not draw the same picture
// as a plain-text label with the same name, place and style beside it.
QStringList labelsShowing(const QWidget *root, const QString &value)
{
    QStringList found;
    for (QLabel *label : root->findChildren<QLabel *>()) {
        if (!label->text().contains(value))
            continue;
        QLabel plain(label->parentWidget());
        plain.setObjectName(label->objectName()); // the same style-sheet rules apply
        plain.setTextFormat(Qt::PlainText);
        plain.setStyleSheet(label->styleSheet());
        plain.setAlignment(label->alignment());
        plain.setWordWrap(label->wordWrap());
        plain.setGeometry(label->geometry());
        plain.setText(label->text());
        const bool asTyped = label->grab().toImage() == plain.grab().toImage();
        found << label->parentWidget()->objectName() + QLatin1Char('/') + label->objectName() +
                     (asTyped ? QString() : QStringLiteral(" drawn as markup"));
    }
    found.sort();
    return found;
}

} // namespace

class TestBadInput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void apiReply_data();
    void apiReply();
    void toolOutput_data();
    void toolOutput();
    void markupShownAsTyped();

private:
    void watchModals();
    bool waitForRequest(const QString &method, int timeoutMs);

    BrowserSink m_browser;
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<FakeCommand> m_sc;
    QTimer m_modalWatch;
    QStringList m_modalTexts; // texts of every modal dialog shown, one entry per dialog
    QString m_markup;         // when set: which labels of the modal dialogs show it, and how
    QStringList m_modalLabels;
};

void TestBadInput::initTestCase()
{
    initTestEnvironment();
    m_browser.install();
    // Every modal dialog is read and dismissed, so none can stall a test.
    m_modalWatch.setInterval(20);
    connect(&m_modalWatch, &QTimer::timeout, this, &TestBadInput::watchModals);
}

void TestBadInput::watchModals()
{
    auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible())
        return;
    m_modalTexts << shownTexts(dialog).join(QLatin1Char('|'));
    if (!m_markup.isEmpty())
        m_modalLabels << labelsShowing(dialog, m_markup);
    dialog->reject();
}

void TestBadInput::init()
{
    // Pictures and the login dialog's network probe get a quick, harmless answer.
    m_server = startFakeProvider();
    QVERIFY(m_server);
    g_avatar = m_server->baseUrl() + QStringLiteral("images/avatar.png");
    g_userName = QStringLiteral("alice");
    g_password = QStringLiteral("pw");
    g_num = QStringLiteral("2");

    m_sc = std::make_unique<FakeCommand>(QStringLiteral("sc"));
    m_sc->setOutput("SERVICE_NAME: tessarosvc\n        STATE              : 4  RUNNING\n");
    platform::Overrides overrides = serviceOverrides(*m_sc);
    overrides.credentialStorePath = testHomePath() + QStringLiteral("/store/tessaro.ini");
    platform::setOverrides(overrides);
    m_modalTexts.clear();
    m_markup.clear();
    m_modalLabels.clear();
    m_modalWatch.start();
}

void TestBadInput::cleanup()
{
    m_modalWatch.stop();
    platform::clearOverrides();
    m_server.reset();
}

bool TestBadInput::waitForRequest(const QString &method, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        for (const FakeHttpServer::Request &request : m_server->requests())
            if (request.queryValue(QStringLiteral("method")) == method)
                return true;
        if (clock.elapsed() >= timeoutMs)
            return false;
        QTest::qWait(20);
    }
}

void TestBadInput::apiReply_data()
{
    QTest::addColumn<Response>("response");
    QTest::addColumn<bool>("slow"); // the client has to wait for its time-out
    // Tunnel count tile: a reply without any key is a failed transfer, not an
    // account without tunnels.
    QTest::addColumn<QString>("tile");
    QTest::addColumn<int>("rows");           // tunnel records and scene rows
    QTest::addColumn<bool>("actionSuccess"); // calls that succeed on code 1 do so
    // The reply's message as the client shows it: after a failed login or
    // form, and in the banner and message prompt of a successful reply.
    QTest::addColumn<QString>("message");

    const QString none; // the reply has no text to show
    const QString timedOut = QStringLiteral("连接超时");

    QTest::newRow("null body") << rawReply("null") << false << "0/0" << 0 << false << none;
    QTest::newRow("array instead of object")
        << rawReply(R"([{"code":1,"msg":"x","data":[{"name":"a"}]}])") << false << "0/0" << 0
        << false << none;
    QTest::newRow("every key of the wrong type")
        << rawReply(R"({"code":"1","msg":7,"amount":"9","page":1,"url":2,"clientIp":3,)"
                    R"("data":{"name":"a","id":"1"}})")
        << false << "0/2" << 0 << false << none;
    QTest::newRow("every key null")
        << rawReply(R"({"code":null,"msg":null,"amount":null,"page":null,"url":null,"data":null})")
        << false << "0/2" << 0 << false << none;
    QTest::newRow("fractional code") << rawReply(R"({"code":1.5,"msg":"half","data":[]})") << false
                                     << "0/2" << 0 << false << "half";
    QTest::newRow("code 1 with every other key wrong")
        << rawReply(R"({"code":1,"msg":null,"amount":"7","page":[],"url":{},"data":"x"})") << false
        << "0/0" << 0 << true << none;
    QTest::newRow("list elements of every type")
        << rawReply(R"({"code":0,"data":[null,5,"s",[],true,)"
                    R"({"name":5,"id":[],"dst_port":7,"title":{},"icon":9}]})")
        << false << "6/2" << 6 << false << none;
    QTest::newRow("megabyte strings where nothing is shown")
        << rawReply(R"({"code":2,"msg":")" + hugeString() + R"(","url":")" + hugeString() +
                    R"(","page":")" + hugeString() + R"("})")
        << false << "0/0" << 0 << false << QString::fromLatin1(hugeString());
    QTest::newRow("megabyte strings to show")
        << rawReply(R"({"code":1,"msg":")" + hugeString() + R"(","url":"http://a/)" + hugeString() +
                    R"(","page":")" + hugeString() + R"("})")
        << false << "0/0" << 0 << true << QString::fromLatin1(hugeString());
    QByteArray many = R"({"code":0,"data":[{})";
    for (int i = 1; i < 20000; ++i)
        many += ",{}";
    many += "]}";
    QTest::newRow("20000 elements") << rawReply(many) << false << "20000/2" << int(MaxListRows)
                                    << false << none; // scenes capped
    QTest::newRow("10 MB body") << rawReply(R"({"code":3,"msg":"big","pad":")" +
                                            QByteArray(10 * 1024 * 1024, 'x') + R"("})")
                                << false << "0/0" << 0 << false << "big";
    QTest::newRow("invalid UTF-8")
        << rawReply("{\"code\":1,\"msg\":\"\xff\xfe\xc3\x28\",\"url\":\"http://a/\xe2\x82\","
                    "\"data\":[{\"name\":\"\xc0\xaf\"}]}")
        << false << "0/0" << 0 << false << none;
    QTest::newRow("deep nesting") << rawReply(deepNesting()) << false << "0/0" << 0 << false
                                  << none;
    Response cut = rawReply(R"({"code":1,"msg":"ok","data":[{"name":"cut"}]})");
    cut.cutOffAfter = 20;
    QTest::newRow("body cut off") << cut << false << "0/0" << 0 << false << none;
    Response reset;
    reset.resetConnection = true;
    QTest::newRow("connection reset") << reset << false << "0/0" << 0 << false << none;
    Response silent;
    silent.neverAnswer = true;
    QTest::newRow("never answers") << silent << true << "0/0" << 0 << false << timedOut;
}

void TestBadInput::apiReply()
{
    const QString loginFallback = QStringLiteral("您当前网络或环境未初始化，请重新登录！");
    QFETCH(Response, response);
    QFETCH(bool, slow);
    QFETCH(QString, tile);
    QFETCH(int, rows);
    QFETCH(bool, actionSuccess);
    QFETCH(QString, message);

    for (const char *action : {"ClientUserAction", "ClientTunnelAction", "ClientChangjingAction2",
                               "ClientZengzhiAction"})
        m_server->setResponse(QLatin1String(action), response);
    QElapsedTimer clock;

    // A failed login: the dialog stays, says why, and can be used again. (A reply
    // that signs in opens a main window, like the one built below.)
    if (!actionSuccess) {
        LoginDialog login;
        login.findChild<QLineEdit *>(QStringLiteral("lineEdit"))->setText(QStringLiteral("alice"));
        login.findChild<QLineEdit *>(QStringLiteral("lineEdit_2"))->setText(QStringLiteral("pw"));
        clock.start();
        login.findChild<QPushButton *>(QStringLiteral("loginBtn"))->click();
        QVERIFY2(clock.elapsed() < kCallBoundMs, qPrintable(QString::number(clock.elapsed())));
        for (QWidget *widget : QApplication::topLevelWidgets()) // still signed out
            QVERIFY(!qobject_cast<MainDialog *>(widget));
        QCOMPARE(m_modalTexts.size(), 1);
        QVERIFY2(m_modalTexts.first().contains(message.isEmpty() ? loginFallback : message),
                 qPrintable(m_modalTexts.first().left(80)));
        QCOMPARE(login.findChild<QPushButton *>(QStringLiteral("loginBtn"))->text(),
                 QStringLiteral("点击登录"));
        QVERIFY(login.findChild<QPushButton *>(QStringLiteral("loginBtn"))->isEnabled());
        m_modalTexts.clear();
    }

    // The main window: tunnel list (twice), scenes, value-added services and
    // coupons while it is built; announcement and message right after.
    clock.start();
    MainDialog window(nullptr);
    const qint64 built = clock.elapsed();
    QVERIFY2(built < 5 * kCallBoundMs, qPrintable(QString::number(built)));
    // Calls made while the window was still waiting for another reply ended
    // before it: the waits are nested.
    const bool fetchedWhileBuilding = waitForRequest(QStringLiteral("getGonggaomsg"), 0) &&
                                      waitForRequest(QStringLiteral("getmsg"), 0);
    QVERIFY(waitForRequest(QStringLiteral("getGonggaomsg"), 3000));
    QVERIFY(waitForRequest(QStringLiteral("getmsg"), 3000));
    QTest::qWait(slow && !fetchedWhileBuilding ? HttpRequest::TimeoutMs + 500 : 300);

    QWidget *tunnelPage = window.findChild<QWidget *>(QStringLiteral("page"));
    const auto tiles = tunnelPage->findChildren<CTParamWidget *>();
    QVERIFY(!tiles.isEmpty());
    QCOMPARE(labelText(tiles.first(), "label"), tile);
    // Before any scrolling, tunnel cards exist for the rows in view and the
    // next view down: a 420 px view, two cards to a 180 px row.
    QCOMPARE(window.findChildren<TunnelWidget *>().size(), qMin(rows, 10));
    for (const TunnelWidget *card : window.findChildren<TunnelWidget *>())
        QCOMPARE(labelText(card, "label_name"), QStringLiteral("默认"));
    QCOMPARE(window.findChildren<ChangjingWidget *>().size(), rows);
    QCOMPARE(window.findChildren<ZengzhiWidget *>().size(), 0); // no known category
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("btn_high"))->text(),
             QStringLiteral("开通豪华版"));
    auto *banner = window.findChild<QLabel *>(QStringLiteral("label_8"));
    QVERIFY2(banner->text() == (actionSuccess
                                    ? message
                                    : QStringLiteral("NEXL虚拟专线已发布，助您快速访问本地私有云")),
             qPrintable(banner->text().left(80)));
    banner->clear();
    // The message prompt is the only dialog, and only for a reply that says there is one.
    QCOMPARE(m_modalTexts.size(), actionSuccess ? 1 : 0);
    if (actionSuccess)
        QVERIFY(m_modalTexts.first().contains(message));
    m_modalTexts.clear();

    // Create and update forms.
    const struct
    {
        const char *suffix;
        const char *button;
    } forms[] = {{"", "btn_save1"}, {"_2", "btn_save2"}};
    for (const auto &form : forms) {
        auto field = [&window, &form](const char *name) {
            return window.findChild<QLineEdit *>(QLatin1String(name) + QLatin1String(form.suffix));
        };
        field("create_name")->setText(QStringLiteral("web"));
        field("create_dst_address")->setText(QStringLiteral("127.0.0.1"));
        field("create_dst_port")->setText(QStringLiteral("8080"));
        m_modalTexts.clear();
        clock.start();
        window.findChild<QPushButton *>(QLatin1String(form.button))->click();
        // A success also reloads the list.
        QVERIFY2(clock.elapsed() < (actionSuccess ? 2 : 1) * kCallBoundMs,
                 qPrintable(QString::number(clock.elapsed())));
        auto *result = window.findChild<QLabel *>(QLatin1String("create_result_msg") + form.suffix);
        // A failure shows the server's message as it came, the same one a
        // failed login shows.
        const QString expected = actionSuccess ? message : QStringLiteral("操作提示:") + message;
        QVERIFY2(result->text() == expected, qPrintable(result->text().left(80)));
        QCOMPARE(m_modalTexts.size(), actionSuccess ? 1 : 0); // "apply now?"
        result->clear();
    }

    // Nothing else shows what the replies carried.
    const QString bad = badText(shownTexts(&window) + m_modalTexts);
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
}

void TestBadInput::toolOutput_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<bool>("hang");
    QTest::addColumn<bool>("missing");
    QTest::addColumn<bool>("running");  // the toolbox reports a running service
    QTest::addColumn<QString>("found"); // interfering software reported
    QTest::addColumn<bool>("window");   // also build a main window on it

    QByteArray random(64 * 1024, '\0');
    QRandomGenerator generator(7);
    for (char &byte : random)
        byte = char(generator.bounded(256));
    random.replace("RUNNING", "RUNNINx");
    const QByteArray hugeFiller(5 * 1024 * 1024, '\n');

    QTest::newRow("5 MB ending in the answer")
        << hugeFiller + "        STATE              : 4  RUNNING\n360tray.exe\n"
        << false << false << true << QStringLiteral("本地有或类似360安全软件,") << false;
    QTest::newRow("5 MB of one line")
        << QByteArray(5 * 1024 * 1024, 'S') << false << false << false << QString() << false;
    QTest::newRow("binary") << random << false << false << false << QString() << true;
    QTest::newRow("never exits") << QByteArray() << true << false << false << QString() << true;
    QTest::newRow("missing") << QByteArray() << false << true << false << QString() << false;
}

void TestBadInput::toolOutput()
{
    QFETCH(QByteArray, output);
    QFETCH(bool, hang);
    QFETCH(bool, missing);
    QFETCH(bool, running);
    QFETCH(QString, found);
    QFETCH(bool, window);

    FakeCommand tool(QStringLiteral("tool"));
    tool.setOutput(output);
    tool.setHang(hang);
    const QString program =
        missing ? testHomePath() + QStringLiteral("/no/such/tool") : tool.program();
    const int waitMs = 500;
    platform::Overrides overrides;
    overrides.serviceControlProgram = program;
    overrides.processListCommand = {program, {}};
    overrides.serviceLogPath = testHomePath() + QStringLiteral("/service-logs");
    overrides.commandWaitMs = waitMs;
    platform::setOverrides(overrides);

    auto *toolbox = new CheckBoxFrame(nullptr);
    QPointer<CheckBoxFrame> guard(toolbox);
    toolbox->show();
    QElapsedTimer clock;
    clock.start();
    toolbox->findChild<QPushButton *>(QStringLiteral("btn_check_local"))->click();
    QVERIFY2(clock.elapsed() < waitMs + 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(labelText(toolbox, "label_7"), running ? QStringLiteral("本地系统服务运行状态正常!")
                                                    : QStringLiteral("后台服务未启动或不存在"));

    // The process scan follows a second later and must end within its wait too.
    QTRY_COMPARE_WITH_TIMEOUT(labelText(toolbox, "label_3"), QStringLiteral("本次诊断已完成"),
                              waitMs + 4000);
    QCOMPARE(toolbox->findChild<QTextEdit *>(QStringLiteral("textEdit"))->toPlainText(), found);
    const QString bad = badText(shownTexts(toolbox));
    QVERIFY2(bad.isEmpty(), qPrintable(bad));

    // Still responsive: it closes at once.
    toolbox->close();
    QTRY_VERIFY(guard.isNull());

    if (!window)
        return;
    // The main window asks for the state, starts the service when it is not
    // running, and reports the restart that ends every sign-in as failed, at
    // the latest once a stop the tool accepted has not shown STOPPED in time.
    clock.start();
    MainDialog main(nullptr);
    QVERIFY2(clock.elapsed() < 2 * waitMs + 3000, qPrintable(QString::number(clock.elapsed())));
    auto restartReported = [&main] {
        for (const MsgTipWidget *tip : main.findChildren<MsgTipWidget *>())
            if (labelText(tip, "label_2") == QStringLiteral("服务重启失败，请检查后台服务"))
                return true;
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(restartReported(), MainDialog::RestartDelayMs +
                                                    MainDialog::RestartWaitMs + 3 * waitMs + 3000);
}

void TestBadInput::markupShownAsTyped()
{
    // Bold text and a picture the client must never load from this computer.
    const QString picture = testHomePath() + QStringLiteral("/markup.png");
    QVERIFY(filledImage(40, 40, Qt::red).save(picture));
    m_markup = QStringLiteral("<b>x</b><img src=\"%1\">").arg(picture);
    const QJsonObject tunnel{{"id", "t1"},
                             {"name", m_markup},
                             {"domain", m_markup},
                             {"public_address", "127.0.0.1"},
                             {"public_port", m_markup},
                             {"dst_address", "127.0.0.1"},
                             {"dst_port", m_markup},
                             {"daikuan", m_markup},
                             {"channel_type", "1"}};
    const QJsonObject scene{{"id", "s1"}, {"name", m_markup}, {"title", m_markup}};
    const QJsonObject addon{{"id", "z1"},
                            {"name", m_markup},
                            {"title", m_markup},
                            {"state", m_markup},
                            {"stype", "映射配置"}};
    m_server->setResponse("ClientUserAction?method=login",
                          jsonReply({{"code", 0}, {"msg", m_markup}}));
    m_server->setResponse("ClientUserAction", jsonReply({{"code", 1}, {"msg", m_markup}}));
    m_server->setResponse("ClientTunnelAction?method=list",
                          jsonReply({{"code", 0}, {"data", QJsonArray{tunnel}}}));
    m_server->setResponse("ClientTunnelAction", jsonReply({{"code", 0}, {"msg", m_markup}}));
    m_server->setResponse("ClientChangjingAction2",
                          jsonReply({{"code", 0}, {"data", QJsonArray{scene}}}));
    m_server->setResponse("ClientZengzhiAction",
                          jsonReply({{"code", 0}, {"data", QJsonArray{addon}}}));

    // A refused login: its toast and its message dialog.
    LoginDialog login;
    login.findChild<QLineEdit *>(QStringLiteral("lineEdit"))->setText(QStringLiteral("alice"));
    login.findChild<QLineEdit *>(QStringLiteral("lineEdit_2"))->setText(QStringLiteral("pw"));
    login.findChild<QPushButton *>(QStringLiteral("loginBtn"))->click();
    QCOMPARE(labelsShowing(&login, m_markup), QStringList{"MsgTipWidget/label_2"});
    QCOMPARE(m_modalLabels, QStringList{"MyMsgDialog/label_2"});
    m_modalLabels.clear();

    g_userId = g_userName = g_userType = g_num = g_expireTime = g_bandwidth = g_startTime =
        g_clientIp = m_markup;
    MainDialog window(nullptr);
    // The message prompt.
    QTRY_COMPARE(m_modalLabels, QStringList{"MyConfirmDialog/label_2"});
    // The details of a value-added service, the edit form, the check page with
    // both results, and the two forms' failures.
    auto *addonRow = window.findChild<ZengzhiWidget *>();
    QVERIFY(addonRow);
    QTest::mousePress(addonRow, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    auto *card = window.findChild<TunnelWidget *>();
    QVERIFY(card);
    card->findChild<QPushButton *>(QStringLiteral("pushButton"))->click();
    card->findChild<QPushButton *>(QStringLiteral("pushButton_3"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(
        labelText(&window, "end_time").startsWith(QStringLiteral("结束时间：")), 8000);
    QTRY_VERIFY(labelText(&window, "jc_nw_result").contains(m_markup));
    for (const char *suffix : {"", "_2"}) {
        auto field = [&window, suffix](const char *name) {
            return window.findChild<QLineEdit *>(QLatin1String(name) + QLatin1String(suffix));
        };
        field("create_name")->setText(QStringLiteral("web"));
        field("create_dst_address")->setText(QStringLiteral("127.0.0.1"));
        field("create_dst_port")->setText(QStringLiteral("8080"));
        window.findChild<QPushButton *>(QLatin1String(*suffix ? "btn_save2" : "btn_save1"))
            ->click();
    }
    // The tiles are the tunnel count and the bandwidth; page/label_8 is the announcement.
    const QString shown = QStringLiteral(
        "CTParamWidget/label CTParamWidget/label ChangjingWidget/label_name TunnelWidget/label_3 "
        "TunnelWidget/label_5 TunnelWidget/label_7 TunnelWidget/label_name ZengzhiWidget/label_2 "
        "ZengzhiWidget/label_3 ZengzhiWidget/label_5 changjing_detail/changjing_title "
        "page/label_8 page_4/zengzhi_title page_6/p_current_version page_6/p_daoqitime "
        "page_6/p_login_ip page_6/p_register_time page_6/p_userId page_6/p_username "
        "page_7/create_result_msg page_8/create_result_msg_2 page_8/label_32 page_9/jc_dst "
        "page_9/jc_nw_result page_9/jc_pst page_9/jc_ww_result widget_left/current_ip");
    QCOMPARE(labelsShowing(&window, m_markup), shown.split(QLatin1Char(' ')));
}

QTEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
