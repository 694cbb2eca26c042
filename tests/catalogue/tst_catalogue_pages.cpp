// The scene mappings page and the value-added services page of the main
// window, filled from a local fake provider: rows, tabs, detail panels,
// pictures, failures and scrolling.
#include "app/globals.h"
#include "catalogue/catalogueitems.h"
#include "catalogue/changjingwidget.h"
#include "catalogue/zengzhiwidget.h"
#include "main/maindialog.h"
#include "platform/platform.h"
#include "support/browsersink.h"
#include "support/fakecommand.h"
#include "support/fakehttpserver.h"
#include "support/fakereplies.h"
#include "support/testenv.h"
#include "support/widgetlookup.h"
#include "support/windowfixture.h"

#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTabWidget>
#include <QUrlQuery>
#include <QtTest>

#include <memory>

namespace {

const char kSceneRoute[] = "ClientChangjingAction2?method=list";
const char kAddonRoute[] = "ClientZengzhiAction?method=list";
const char kLocalAd[] = ":/images/icon/ad_tmp.jpg";

FakeHttpServer::Response listReply(const QJsonArray &data)
{
    return jsonReply(QJsonObject{{"code", 0}, {"msg", ""}, {"data", data}});
}

QJsonObject scene(const QString &id, const QString &name, const QString &title,
                  const QString &content, const QString &icon = QString())
{
    return {{"id", id}, {"name", name}, {"title", title}, {"content", content}, {"icon", icon}};
}

QJsonObject addon(const QString &id, const QString &stype, const QString &name = QString(),
                  const QString &title = QString(), const QString &content = QString(),
                  const QString &adUrl = QString(), const QString &icon = QString(),
                  const QString &state = QStringLiteral("未开通"))
{
    return {{"id", id},     {"name", name},   {"title", title}, {"content", content},
            {"icon", icon}, {"state", state}, {"stype", stype}, {"ad_url", adUrl}};
}

QImage imageOf(const QLabel *label)
{
    return label->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_ARGB32);
}

// A press where the user would put the cursor: on the row's name.
void pressRow(QWidget *row)
{
    const QPoint at(100, 20);
    QWidget *target = row->childAt(at) ? row->childAt(at) : row;
    QTest::mousePress(target, Qt::LeftButton, Qt::NoModifier, target->mapFrom(row, at));
}

// Rows of a list container in the order they were made (reply order).
template <typename Row> QList<Row *> rowsIn(QWidget *container)
{
    return container->findChildren<Row *>(QString(), Qt::FindDirectChildrenOnly);
}

} // namespace

class TestCataloguePages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void listSuccessFollowsTheEnvelope_data();
    void listSuccessFollowsTheEnvelope();
    void addonTabsByExactStype();

    void scenesListedInReplyOrder();
    void sceneClickShowsItsDetails();
    void sceneBuyButtonOpensTheScenePanel();
    void sceneWrongTypesGiveEmptyTexts();
    void reloadReplacesScenes();
    void manyScenesScroll();

    void addonsSortedIntoTabs();
    void addonClickShowsDetailsAndAd();
    void addonWrongTypesGiveEmptyTexts();
    void reloadReplacesAddons();
    void manyAddonsScroll();
    void unfetchableAdPictureLeavesTheAdEmpty_data();
    void unfetchableAdPictureLeavesTheAdEmpty();
    void laterClickWinsOverSlowerAd();

    void failedListsGiveNoRows_data();
    void failedListsGiveNoRows();
    void dataWithoutCodeGivesRows();

    void screenshots();

private:
    void makeWindow();
    QWidget *widget(const char *name) const;
    QLabel *label(const char *name) const { return qobject_cast<QLabel *>(widget(name)); }
    QString plainText(const char *name) const
    {
        auto *edit = qobject_cast<QPlainTextEdit *>(widget(name));
        return edit ? edit->toPlainText() : QStringLiteral("<no %1>").arg(QLatin1String(name));
    }
    QString url(const QString &path) const { return m_server->baseUrl() + path; }
    QList<ChangjingWidget *> sceneRows() const
    {
        return rowsIn<ChangjingWidget>(widget("changjingListContainer"));
    }
    QList<ZengzhiWidget *> addonRows(int tab) const
    {
        const QByteArray name = "zengzhiListContainer_" + QByteArray::number(tab + 1);
        return rowsIn<ZengzhiWidget>(widget(name.constData()));
    }
    void invoke(const char *slot, const QString &argument)
    {
        QVERIFY(QMetaObject::invokeMethod(m_window.get(), slot, Q_ARG(QString, argument)));
    }
    void showPage(int index, int tab = 0);

    BrowserSink m_browser;
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<FakeCommand> m_sc;
    std::unique_ptr<MainDialog> m_window;
};

void TestCataloguePages::initTestCase()
{
    initTestEnvironment();
    m_browser.install({"http", "https"});
}

void TestCataloguePages::init()
{
    m_server = startFakeProvider();
    QVERIFY(m_server);
    m_server->setResponse(QStringLiteral("images/avatar.png"),
                          pictureReply(filledImage(48, 48, Qt::darkGray)));
    m_server->setResponse(QStringLiteral("icons/red.png"),
                          pictureReply(filledImage(35, 35, Qt::red)));
    m_server->setResponse(QStringLiteral("icons/green.png"),
                          pictureReply(filledImage(30, 20, Qt::green)));
    m_server->setResponse(QStringLiteral("icons/blue.png"),
                          pictureReply(filledImage(42, 42, Qt::blue)));
    m_server->setResponse(QStringLiteral("ads/yellow.png"),
                          pictureReply(filledImage(200, 140, Qt::yellow)));
    FakeHttpServer::Response silent;
    silent.neverAnswer = true;
    m_server->setResponse(QStringLiteral("ads/silent.png"), silent);
    m_server->setResponse(QLatin1String(kSceneRoute), listReply({}));
    m_server->setResponse(QLatin1String(kAddonRoute), listReply({}));

    g_avatar = m_server->baseUrl() + QStringLiteral("images/avatar.png");
    g_userId = QStringLiteral("42");
    g_userName = QStringLiteral("张三 zs");
    g_password = QStringLiteral("p&w=1+2#");

    m_sc = runningServiceTool();
    platform::setOverrides(serviceOverrides(*m_sc));
    m_browser.urls.clear();
}

void TestCataloguePages::cleanup()
{
    m_window.reset();
    platform::clearOverrides();
}

void TestCataloguePages::makeWindow()
{
    m_window = std::make_unique<MainDialog>(nullptr);
}

QWidget *TestCataloguePages::widget(const char *name) const
{
    QWidget *found = m_window->findChild<QWidget *>(QLatin1String(name));
    if (!found)
        qWarning("no widget %s", name);
    return found;
}

void TestCataloguePages::showPage(int index, int tab)
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    qobject_cast<QStackedWidget *>(widget("stackedWidget"))->setCurrentIndex(index);
    qobject_cast<QTabWidget *>(widget("tabWidget"))->setCurrentIndex(tab);
    QCoreApplication::processEvents();
}

void TestCataloguePages::listSuccessFollowsTheEnvelope_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("success");
    QTest::newRow("code 0 with data") << QByteArray(R"({"code":0,"data":[]})") << true;
    QTest::newRow("data without code") << QByteArray(R"({"data":[{"id":"1"}]})") << true;
    QTest::newRow("code as string reads as 0") << QByteArray(R"({"code":"1"})") << true;
    QTest::newRow("code 1") << QByteArray(R"({"code":1,"data":[]})") << false;
    QTest::newRow("time-out result") << QByteArray(R"({"code":-1,"msg":"连接超时"})") << false;
    QTest::newRow("empty object of a broken transfer") << QByteArray("{}") << false;
}

void TestCataloguePages::listSuccessFollowsTheEnvelope()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, success);
    QCOMPARE(isCatalogueListSuccess(QJsonDocument::fromJson(reply).object()), success);
}

void TestCataloguePages::addonTabsByExactStype()
{
    QCOMPARE(addonTabFor(QStringLiteral("映射配置")), 0);
    QCOMPARE(addonTabFor(QStringLiteral("参数配置")), 1);
    QCOMPARE(addonTabFor(QStringLiteral("安全配置")), 2);
    QCOMPARE(addonTabFor(QStringLiteral("特殊配置")), 3);
    // The fourth tab's caption is not its stype.
    QCOMPARE(addonTabFor(QStringLiteral("常用配置")), -1);
    QCOMPARE(addonTabFor(QStringLiteral(" 映射配置")), -1);
    QCOMPARE(addonTabFor(QString()), -1);
}

void TestCataloguePages::scenesListedInReplyOrder()
{
    m_server->setResponse(
        QLatin1String(kSceneRoute),
        listReply({scene("11", "MySQL数据库", "远程访问数据库", "A 的介绍", url("icons/red.png")),
                   scene("12", "远程桌面", "远程控制电脑", "B 的介绍", url("icons/green.png")),
                   scene("13", "我的世界", "联机游戏服务器", "C 的介绍\n第二行",
                         url("icons/blue.png"))}));
    makeWindow();

    // One list call, with the account's values intact despite "&", "=", "+", "#".
    int calls = 0;
    for (const FakeHttpServer::Request &request : m_server->requests()) {
        if (request.path != QLatin1String("ClientChangjingAction2"))
            continue;
        ++calls;
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.queryKeys(), QStringList({"method", "username", "password"}));
        QCOMPARE(request.queryValue("method"), QStringLiteral("list"));
        QCOMPARE(request.queryValue("username"), g_userName);
        QCOMPARE(request.queryValue("password"), g_password);
    }
    QCOMPARE(calls, 1);

    showPage(1);
    const auto rows = sceneRows();
    QCOMPARE(rows.size(), 3);
    const QStringList names = {"MySQL数据库", "远程桌面", "我的世界"};
    const QImage icons[] = {filledImage(35, 35, Qt::red), filledImage(30, 20, Qt::green),
                            filledImage(42, 42, Qt::blue)};
    QWidget *page = widget("page_3");
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(rows[i]->mapTo(page, QPoint(0, 0)), QPoint(10, 100 + 60 * i));
        QVERIFY(rows[i]->isVisible());
        QCOMPARE(labelText(rows[i], "label_name"), names[i]);
        QTRY_COMPARE(imageOf(rows[i]->findChild<QLabel *>("label")), icons[i]);
    }
    // Right after loading, the panel shows the last scene.
    QCOMPARE(label("changjing_title")->text(), QStringLiteral("联机游戏服务器"));
    QCOMPARE(plainText("changjing_content"), QStringLiteral("C 的介绍\n第二行"));
}

void TestCataloguePages::sceneClickShowsItsDetails()
{
    m_server->setResponse(QLatin1String(kSceneRoute),
                          listReply({scene("1", "Web", "网站 1", "first web"),
                                     scene("2", "", "无名 1", "first unnamed"),
                                     scene("3", "Web", "网站 2", "second web"),
                                     scene("4", "", "无名 2", "second unnamed"),
                                     scene("5", "SSH", "终端", "ssh text")}));
    makeWindow();
    showPage(1);
    const auto rows = sceneRows();
    QCOMPARE(rows.size(), 5);
    QCOMPARE(label("changjing_title")->text(), QStringLiteral("终端"));

    pressRow(rows[0]);
    QCOMPARE(label("changjing_title")->text(), QStringLiteral("网站 1"));
    QCOMPARE(plainText("changjing_content"), QStringLiteral("first web"));

    pressRow(rows[4]);
    QCOMPARE(label("changjing_title")->text(), QStringLiteral("终端"));
    QCOMPARE(plainText("changjing_content"), QStringLiteral("ssh text"));

    // Rows that share a name show the first of them.
    pressRow(rows[2]);
    QCOMPARE(label("changjing_title")->text(), QStringLiteral("网站 1"));
    QCOMPARE(plainText("changjing_content"), QStringLiteral("first web"));

    // An empty name reads "默认" and still finds its (first) scene.
    QCOMPARE(labelText(rows[1], "label_name"), QStringLiteral("默认"));
    QCOMPARE(labelText(rows[3], "label_name"), QStringLiteral("默认"));
    pressRow(rows[3]);
    QCOMPARE(label("changjing_title")->text(), QStringLiteral("无名 1"));
    QCOMPARE(plainText("changjing_content"), QStringLiteral("first unnamed"));

    // A name that no row has.
    invoke("getChangjinggclick", QStringLiteral("默认"));
    QCOMPARE(label("changjing_title")->text(), QStringLiteral("-"));
    QCOMPARE(plainText("changjing_content"), QStringLiteral("-"));
}

void TestCataloguePages::sceneBuyButtonOpensTheScenePanel()
{
    m_server->setResponse(QLatin1String(kSceneRoute),
                          listReply({scene("1", "A", "a", "a"), scene("2", "B", "b", "b")}));
    makeWindow();
    showPage(1);
    pressRow(sceneRows().at(0));
    m_browser.urls.clear();
    qobject_cast<QPushButton *>(widget("btn_buy_changjing"))->click();
    QCOMPARE(m_browser.urls.size(), 1);
    const QUrlQuery query(m_browser.urls.first());
    QCOMPARE(query.queryItemValue("page"), QStringLiteral("changjing_panel"));
    QCOMPARE(query.queryItemValue("userid"), QStringLiteral("42"));
}

void TestCataloguePages::sceneWrongTypesGiveEmptyTexts()
{
    const QJsonObject odd{{"id", 7},
                          {"name", true},
                          {"title", QJsonValue::Null},
                          {"content", QJsonArray{"x"}},
                          {"icon", QJsonObject{{"url", "icons/red.png"}}}};
    m_server->setResponse(QLatin1String(kSceneRoute), listReply({odd}));
    makeWindow();
    const auto rows = sceneRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(labelText(rows[0], "label_name"), QStringLiteral("默认"));
    QVERIFY(imageOf(rows[0]->findChild<QLabel *>("label")).isNull());
    QCOMPARE(label("changjing_title")->text(), QString());
    QCOMPARE(plainText("changjing_content"), QString());
    m_window.reset();

    // `data` that is not an array: a successful call with nothing to show.
    m_server->setResponse(
        QLatin1String(kSceneRoute),
        jsonReply({{"code", 0}, {"data", QJsonObject{{"0", scene("1", "A", "a", "a")}}}}));
    makeWindow();
    QCOMPARE(sceneRows().size(), 0);
    QCOMPARE(label("changjing_title")->text(), QStringLiteral("-"));
}

void TestCataloguePages::reloadReplacesScenes()
{
    m_server->setResponse(QLatin1String(kSceneRoute),
                          listReply({scene("1", "A", "a", "a"), scene("2", "B", "b", "b")}));
    makeWindow();
    QList<QPointer<ChangjingWidget>> first;
    for (ChangjingWidget *row : sceneRows())
        first.append(row);
    QCOMPARE(first.size(), 2);

    m_server->setResponse(QLatin1String(kSceneRoute), listReply({scene("3", "C", "c", "c")}));
    m_window->loadSceneList();
    for (const auto &row : first)
        QVERIFY(row.isNull());
    const auto rows = sceneRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0]->pos(), QPoint(10, 0));
    QCOMPARE(m_window->findChildren<ChangjingWidget *>().size(), 1);
    QCOMPARE(label("changjing_title")->text(), QStringLiteral("c"));
    // The released rows are no longer found by a click.
    invoke("getChangjinggclick", QStringLiteral("A"));
    QCOMPARE(label("changjing_title")->text(), QStringLiteral("-"));

    // A failed reload leaves no rows either.
    m_server->setResponse(QLatin1String(kSceneRoute), jsonReply({{"code", 1}, {"msg", "x"}}));
    m_window->loadSceneList();
    QCOMPARE(m_window->findChildren<ChangjingWidget *>().size(), 0);
    QCOMPARE(label("changjing_title")->text(), QStringLiteral("-"));
    QCOMPARE(widget("changjingListContainer")->minimumHeight(), 0);
}

void TestCataloguePages::manyScenesScroll()
{
    QJsonArray scenes;
    for (int i = 0; i < 25; ++i)
        scenes.append(scene(QString::number(i), QStringLiteral("场景 %1").arg(i), "t", "c"));
    m_server->setResponse(QLatin1String(kSceneRoute), listReply(scenes));
    makeWindow();
    showPage(1);

    auto *area = qobject_cast<QScrollArea *>(widget("changjingScrollArea"));
    QWidget *container = widget("changjingListContainer");
    QVERIFY(container->height() > area->viewport()->height());
    QScrollBar *bar = area->verticalScrollBar();
    QVERIFY(bar->isVisible());
    QVERIFY(bar->maximum() > 0);

    // Scrolled to the end, the last row is wholly in view and not under the bar.
    bar->setValue(bar->maximum());
    QCoreApplication::processEvents();
    ChangjingWidget *last = sceneRows().last();
    const QRect shown(last->mapTo(area->viewport(), QPoint(0, 0)), last->size());
    QVERIFY2(area->viewport()->rect().contains(shown),
             qPrintable(QStringLiteral("%1,%2").arg(shown.x()).arg(shown.bottom())));
    QCOMPARE(labelText(last, "label_name"), QStringLiteral("场景 24"));
}

void TestCataloguePages::addonsSortedIntoTabs()
{
    m_server->setResponse(
        QLatin1String(kAddonRoute),
        listReply(
            {addon("a1", "映射配置", "自定义域名", "绑定您的域名", "", "", url("icons/red.png"),
                   "已开通"),
             addon("a2", "安全配置", "访问密码", "为映射加一道密码"),
             addon("a3", "映射配置", "固定端口", "公网端口不再变化", "", "", url("icons/blue.png")),
             addon("x1", "其他配置", "不该出现"), addon("a4", "特殊配置", "带宽加速", "更快的线路"),
             addon("x2", "", "也不该出现"), addon("a5", "参数配置", "自定义参数", "高级参数")}));
    makeWindow();
    showPage(2);

    // Unknown stype: no row anywhere on the page or elsewhere in the window.
    QCOMPARE(m_window->findChildren<ZengzhiWidget *>().size(), 5);

    const auto mapping = addonRows(0);
    QCOMPARE(mapping.size(), 2);
    QCOMPARE(mapping[0]->pos(), QPoint(2, 10));
    QCOMPARE(mapping[1]->pos(), QPoint(2, 90));
    QCOMPARE(labelText(mapping[0], "label_2"), QStringLiteral("自定义域名"));
    QCOMPARE(labelText(mapping[0], "label_3"), QStringLiteral("绑定您的域名"));
    QCOMPARE(labelText(mapping[0], "label_5"), QStringLiteral("已开通"));
    QCOMPARE(imageOf(mapping[0]->findChild<QLabel *>("label")), filledImage(35, 35, Qt::red));
    QCOMPARE(labelText(mapping[1], "label_2"), QStringLiteral("固定端口"));
    QCOMPARE(labelText(mapping[1], "label_5"), QStringLiteral("未开通"));
    QCOMPARE(imageOf(mapping[1]->findChild<QLabel *>("label")), filledImage(42, 42, Qt::blue));

    const char *tabs[] = {"tab_peizhi", "tab_canshu", "tab_anquan", "tab_teshu"};
    const QStringList expected[] = {
        {"自定义域名", "固定端口"}, {"自定义参数"}, {"访问密码"}, {"带宽加速"}};
    auto *tabWidget = qobject_cast<QTabWidget *>(widget("tabWidget"));
    for (int tab = 0; tab < 4; ++tab) {
        QCOMPARE(tabWidget->widget(tab)->objectName(), QLatin1String(tabs[tab]));
        const auto rows = addonRows(tab);
        QStringList names;
        for (ZengzhiWidget *row : rows) {
            QVERIFY(tabWidget->widget(tab)->isAncestorOf(row));
            names << labelText(row, "label_2");
        }
        QCOMPARE(names, expected[tab]);
        QCOMPARE(rows.first()->pos(), QPoint(2, 10));
    }
    // "特殊配置" lands in the tab titled "常用配置".
    QCOMPARE(tabWidget->tabText(3), QStringLiteral("常用配置"));

    // Loading picks no service: the panel keeps its dashes.
    QCOMPARE(label("zengzhi_title")->text(), QStringLiteral("-"));
    QCOMPARE(plainText("zengzhi_content"), QStringLiteral("-"));
}

void TestCataloguePages::addonClickShowsDetailsAndAd()
{
    m_server->setResponse(
        QLatin1String(kAddonRoute),
        listReply({addon("a1", "映射配置", "域名", "绑定域名", "域名的说明", url("ads/yellow.png")),
                   addon("a2", "安全配置", "密码", "访问密码", "密码的说明"),
                   addon("a1", "参数配置", "重复", "同号的第二个", "不应显示")}));
    makeWindow();
    showPage(2);
    const QImage localAd =
        QPixmap(QLatin1String(kLocalAd)).toImage().convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!localAd.isNull());

    pressRow(addonRows(0).at(0));
    QCOMPARE(label("zengzhi_title")->text(), QStringLiteral("绑定域名"));
    QCOMPARE(plainText("zengzhi_content"), QStringLiteral("域名的说明"));
    const auto adColour = [this] {
        const QImage ad = imageOf(label("zengzhi_ad"));
        return ad.isNull() ? QColor() : ad.pixelColor(ad.width() / 2, ad.height() / 2);
    };
    QTRY_COMPARE(adColour(), QColor(Qt::yellow));

    // No advertisement of its own: the built-in picture.
    pressRow(addonRows(2).at(0));
    QCOMPARE(label("zengzhi_title")->text(), QStringLiteral("访问密码"));
    QCOMPARE(plainText("zengzhi_content"), QStringLiteral("密码的说明"));
    QCOMPARE(imageOf(label("zengzhi_ad")), localAd);

    // A second service with the same id shows the first one.
    pressRow(addonRows(1).at(0));
    QCOMPARE(label("zengzhi_title")->text(), QStringLiteral("绑定域名"));
    QTRY_COMPARE(adColour(), QColor(Qt::yellow));

    // An id that no row has.
    invoke("getZengzhiclick", QStringLiteral("zz"));
    QCOMPARE(label("zengzhi_title")->text(), QStringLiteral("-"));
    QCOMPARE(plainText("zengzhi_content"), QStringLiteral("-"));
    QCOMPARE(imageOf(label("zengzhi_ad")), localAd);
}

void TestCataloguePages::addonWrongTypesGiveEmptyTexts()
{
    const QJsonObject odd{{"id", 5},
                          {"name", 1.5},
                          {"title", false},
                          {"content", QJsonValue::Null},
                          {"icon", QJsonArray{}},
                          {"state", QJsonObject{}},
                          {"stype", "映射配置"},
                          {"ad_url", 9}};
    QJsonObject numericStype = addon("n1", "安全配置", "数字分类");
    numericStype["stype"] = 3;
    m_server->setResponse(QLatin1String(kAddonRoute),
                          listReply({odd, numericStype, addon("ok", "映射配置", "正常", "好")}));
    makeWindow();
    showPage(2);
    QCOMPARE(m_window->findChildren<ZengzhiWidget *>().size(), 2);
    const auto rows = addonRows(0);
    QCOMPARE(rows.size(), 2);
    for (const char *name : {"label_2", "label_3", "label_5"})
        QCOMPARE(labelText(rows[0], name), QString());
    QVERIFY(imageOf(rows[0]->findChild<QLabel *>("label")).isNull());

    // First the other row, so the built-in picture must come back.
    pressRow(rows[1]);
    pressRow(rows[0]);
    QCOMPARE(label("zengzhi_title")->text(), QString());
    QCOMPARE(plainText("zengzhi_content"), QString());
    QCOMPARE(imageOf(label("zengzhi_ad")),
             QPixmap(QLatin1String(kLocalAd)).toImage().convertToFormat(QImage::Format_ARGB32));
}

void TestCataloguePages::reloadReplacesAddons()
{
    m_server->setResponse(QLatin1String(kAddonRoute),
                          listReply({addon("a", "映射配置", "A"), addon("b", "安全配置", "B")}));
    makeWindow();
    QPointer<ZengzhiWidget> old = addonRows(0).at(0);

    m_server->setResponse(QLatin1String(kAddonRoute),
                          listReply({addon("c", "映射配置", "C"), addon("d", "映射配置", "D")}));
    m_window->loadAddonList();
    QVERIFY(old.isNull());
    QCOMPARE(m_window->findChildren<ZengzhiWidget *>().size(), 2);
    const auto rows = addonRows(0);
    QCOMPARE(labelText(rows[0], "label_2"), QStringLiteral("C"));
    QCOMPARE(rows[0]->pos(), QPoint(2, 10));
    QCOMPARE(rows[1]->pos(), QPoint(2, 90));
    QCOMPARE(addonRows(2).size(), 0);
    QCOMPARE(widget("zengzhiListContainer_3")->minimumHeight(), 0);

    invoke("getZengzhiclick", QStringLiteral("a"));
    QCOMPARE(label("zengzhi_title")->text(), QStringLiteral("-"));

    m_server->setResponse(QLatin1String(kAddonRoute), jsonReply({{"code", 2}}));
    m_window->loadAddonList();
    QCOMPARE(m_window->findChildren<ZengzhiWidget *>().size(), 0);
}

void TestCataloguePages::manyAddonsScroll()
{
    QJsonArray addons;
    for (int i = 0; i < 12; ++i)
        addons.append(addon(QString::number(i), "安全配置", QStringLiteral("服务 %1").arg(i)));
    addons.append(addon("p", "参数配置", "短列表"));
    m_server->setResponse(QLatin1String(kAddonRoute), listReply(addons));
    makeWindow();
    showPage(2, 2);

    auto *area = qobject_cast<QScrollArea *>(widget("zengzhiScrollArea_3"));
    QVERIFY(widget("zengzhiListContainer_3")->height() > area->viewport()->height());
    QScrollBar *bar = area->verticalScrollBar();
    QVERIFY(bar->isVisible());
    bar->setValue(bar->maximum());
    QCoreApplication::processEvents();
    ZengzhiWidget *last = addonRows(2).last();
    QCOMPARE(labelText(last, "label_2"), QStringLiteral("服务 11"));
    const QRect shown(last->mapTo(area->viewport(), QPoint(0, 0)), last->size());
    QVERIFY(area->viewport()->rect().contains(shown));

    // A short list does not scroll.
    showPage(2, 1);
    auto *shortArea = qobject_cast<QScrollArea *>(widget("zengzhiScrollArea_2"));
    QCOMPARE(shortArea->verticalScrollBar()->maximum(), 0);
}

void TestCataloguePages::unfetchableAdPictureLeavesTheAdEmpty_data()
{
    QTest::addColumn<QString>("adUrl");
    // Paths are on the fake provider.
    QTest::newRow("silent") << QStringLiteral("ads/silent.png");
    QTest::newRow("http error") << QStringLiteral("ads/missing.png");
    QTest::newRow("unreachable") << QStringLiteral("http://127.0.0.1:1/ads/x.png");
}

void TestCataloguePages::unfetchableAdPictureLeavesTheAdEmpty()
{
    QFETCH(QString, adUrl);
    if (!adUrl.startsWith(QLatin1String("http:")))
        adUrl = url(adUrl);
    FakeHttpServer::Response missing;
    missing.status = 404;
    m_server->setResponse(QStringLiteral("ads/missing.png"), missing);
    m_server->setResponse(
        QLatin1String(kAddonRoute),
        listReply({addon("y", "映射配置", "有", "有广告", "", url("ads/yellow.png")),
                   addon("s", "映射配置", "慢", "慢的广告", "内容", adUrl)}));
    makeWindow();
    invoke("getZengzhiclick", QStringLiteral("y"));
    QTRY_VERIFY(!imageOf(label("zengzhi_ad")).isNull());
    QElapsedTimer clock;
    clock.start();
    invoke("getZengzhiclick", QStringLiteral("s"));
    QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(label("zengzhi_title")->text(), QStringLiteral("慢的广告"));
    QCOMPARE(plainText("zengzhi_content"), QStringLiteral("内容"));
    // Neither the avatar nor the previous service's picture stands in for it.
    QTRY_VERIFY_WITH_TIMEOUT(imageOf(label("zengzhi_ad")).isNull(),
                             MainDialog::ImageTimeoutMs + 2000);
}

void TestCataloguePages::laterClickWinsOverSlowerAd()
{
    FakeHttpServer::Response slow = pictureReply(filledImage(200, 140, Qt::yellow));
    slow.delayMs = 1500;
    m_server->setResponse(QStringLiteral("ads/slow.png"), slow);
    m_server->setResponse(
        QLatin1String(kAddonRoute),
        listReply({addon("s", "映射配置", "慢", "慢的广告", "", url("ads/slow.png")),
                   addon("q", "映射配置", "快", "没有广告", "")}));
    makeWindow();
    showPage(2);
    // The user picks the second service while the first one's picture loads.
    pressRow(addonRows(0).at(0));
    QTest::qWait(300);
    pressRow(addonRows(0).at(1));
    QCOMPARE(label("zengzhi_title")->text(), QStringLiteral("没有广告"));
    QTest::qWait(slow.delayMs + 500); // the slow picture has come
    QCOMPARE(imageOf(label("zengzhi_ad")),
             QPixmap(QLatin1String(kLocalAd)).toImage().convertToFormat(QImage::Format_ARGB32));
}

void TestCataloguePages::failedListsGiveNoRows_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("reset");

    const QByteArray rows =
        QJsonDocument(QJsonObject{{"code", 0},
                                  {"data", QJsonArray{scene("1", "A", "a", "a"),
                                                      addon("2", "映射配置", "B")}}})
            .toJson(QJsonDocument::Compact);
    const QByteArray failed = R"({"code":1,"msg":"账号或密码错误","data":[{"id":"1","name":"A",)"
                              R"("stype":"映射配置"}]})";
    QTest::newRow("code 1 with data") << 200 << failed << 0 << false;
    QTest::newRow("code -1") << 200 << QByteArray(R"({"code":-1,"data":[{"id":"1"}]})") << 0
                             << false;
    QTest::newRow("time-out") << 200 << rows << 3000 << false;
    QTest::newRow("HTTP 500") << 500 << rows << 0 << false;
    QTest::newRow("connection reset") << 200 << rows << 0 << true;
    QTest::newRow("empty body") << 200 << QByteArray() << 0 << false;
    QTest::newRow("not JSON") << 200 << QByteArray("<html>busy</html>") << 0 << false;
    QTest::newRow("JSON array") << 200 << QByteArray("[{\"code\":0}]") << 0 << false;
}

void TestCataloguePages::failedListsGiveNoRows()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, delayMs);
    QFETCH(bool, reset);
    FakeHttpServer::Response response;
    response.status = status;
    response.body = body;
    response.delayMs = delayMs;
    response.resetConnection = reset;
    m_server->setResponse(QLatin1String(kSceneRoute), response);
    m_server->setResponse(QLatin1String(kAddonRoute), response);

    makeWindow();
    QCOMPARE(m_window->findChildren<ChangjingWidget *>().size(), 0);
    QCOMPARE(m_window->findChildren<ZengzhiWidget *>().size(), 0);
    QCOMPARE(label("changjing_title")->text(), QStringLiteral("-"));
    QCOMPARE(plainText("changjing_content"), QStringLiteral("-"));
    QCOMPARE(label("zengzhi_title")->text(), QStringLiteral("-"));
    QCOMPARE(plainText("zengzhi_content"), QStringLiteral("-"));
    for (const char *container : {"changjingListContainer", "zengzhiListContainer_1"})
        QCOMPARE(widget(container)->minimumHeight(), 0);
}

void TestCataloguePages::dataWithoutCodeGivesRows()
{
    m_server->setResponse(QLatin1String(kSceneRoute),
                          jsonReply({{"data", QJsonArray{scene("1", "A", "标题 A", "内容 A")}}}));
    m_server->setResponse(QLatin1String(kAddonRoute),
                          jsonReply({{"data", QJsonArray{addon("2", "参数配置", "B", "标题 B")}}}));
    makeWindow();
    QCOMPARE(sceneRows().size(), 1);
    QCOMPARE(label("changjing_title")->text(), QStringLiteral("标题 A"));
    QCOMPARE(addonRows(1).size(), 1);
    QCOMPARE(labelText(addonRows(1).at(0), "label_3"), QStringLiteral("标题 B"));
}

// Pictures of both pages with realistic rows for a look by eye (see screenshotDir).
void TestCataloguePages::screenshots()
{
    const QString dir = screenshotDir();

    auto icon = [this](const QString &name, int size, const QColor &color, const QString &text) {
        QImage image(size, size, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(color);
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(image.rect(), 6, 6);
        painter.setPen(Qt::white);
        QFont font(QStringLiteral("Noto Sans CJK SC"));
        font.setPixelSize(size / 2);
        painter.setFont(font);
        painter.drawText(image.rect(), Qt::AlignCenter, text);
        painter.end();
        m_server->setResponse(QStringLiteral("icons/") + name, pictureReply(image));
        return url(QStringLiteral("icons/") + name);
    };
    QImage adImage(200, 140, QImage::Format_ARGB32);
    adImage.fill(QColor(60, 120, 200));
    m_server->setResponse(QStringLiteral("ads/ad.png"), pictureReply(adImage));

    m_server->setResponse(
        QLatin1String(kSceneRoute),
        listReply({scene("1", "MySQL数据库", "远程访问 MySQL 数据库",
                         "把内网的 MySQL 3306 端口映射到公网，外地的程序即可直接连接数据库。",
                         icon("s1.png", 35, QColor(0, 117, 143), "DB")),
                   scene("2", "Windows远程桌面", "在外面控制家里的电脑",
                         "映射 3389 端口，用系统自带的远程桌面连接即可。",
                         icon("s2.png", 35, QColor(30, 144, 255), "RD")),
                   scene("3", "我的世界服务器", "和好友联机",
                         "映射 25565 端口，好友输入公网地址即可加入。",
                         icon("s3.png", 35, QColor(76, 175, 80), "MC")),
                   scene("4", "网站服务", "发布本地网站", "映射 80 端口，用域名访问本地网站。",
                         icon("s4.png", 35, QColor(255, 152, 0), "W")),
                   scene("5", "SSH远程", "登录 Linux 主机", "映射 22 端口，用 SSH 客户端登录。",
                         icon("s5.png", 35, QColor(96, 96, 96), ">_")),
                   scene("6", "NAS存储", "随时访问家中的文件", "映射 NAS 的管理端口。",
                         icon("s6.png", 35, QColor(156, 39, 176), "N")),
                   scene("7", "摄像头监控", "查看监控画面", "映射摄像头的 RTSP 端口。",
                         icon("s7.png", 35, QColor(233, 30, 99), "C")),
                   scene("8", "远程数据库 Redis", "缓存服务", "映射 6379 端口。",
                         icon("s8.png", 35, QColor(200, 40, 40), "R"))}));
    m_server->setResponse(
        QLatin1String(kAddonRoute),
        listReply({addon("1", "映射配置", "自定义域名", "用您自己的域名访问映射",
                         "把您的域名解析到映射，访问地址更好记。", url("ads/ad.png"),
                         icon("a1.png", 42, QColor(30, 144, 255), "域"), "未开通"),
                   addon("2", "映射配置", "固定端口", "公网端口不再变化", "端口固定，重启不变。",
                         "", icon("a2.png", 42, QColor(0, 150, 136), "端"), "已开通"),
                   addon("3", "映射配置", "HTTPS证书", "为网站映射加上证书", "自动签发证书。", "",
                         icon("a3.png", 42, QColor(76, 175, 80), "S"), "未开通"),
                   addon("4", "参数配置", "自定义参数", "高级连接参数", "调整连接参数。", "",
                         icon("a4.png", 42, QColor(255, 152, 0), "参"), "未开通"),
                   addon("5", "安全配置", "访问密码", "为映射加一道密码", "访问前先输入密码。", "",
                         icon("a5.png", 42, QColor(200, 40, 40), "密"), "未开通"),
                   addon("6", "安全配置", "IP白名单", "只让指定地址访问", "限制来访地址。", "",
                         icon("a6.png", 42, QColor(96, 96, 96), "IP"), "已开通"),
                   addon("8", "安全配置", "防CC攻击", "拦截异常流量", "自动拦截。", "",
                         icon("a8.png", 42, QColor(0, 117, 143), "盾"), "未开通"),
                   addon("9", "安全配置", "访问日志", "记录每次访问", "保留 30 天。", "",
                         icon("a9.png", 42, QColor(121, 85, 72), "志"), "未开通"),
                   addon("10", "安全配置", "地区限制", "只允许国内访问", "按地区过滤。", "",
                         icon("a10.png", 42, QColor(63, 81, 181), "区"), "未开通"),
                   addon("11", "安全配置", "双重验证", "登录时再确认一次", "短信验证。", "",
                         icon("a11.png", 42, QColor(233, 30, 99), "验"), "未开通"),
                   addon("7", "特殊配置", "带宽加速", "更快的线路", "提升映射带宽。", "",
                         icon("a7.png", 42, QColor(156, 39, 176), "速"), "未开通")}));
    makeWindow();

    showPage(1);
    pressRow(sceneRows().at(1));
    QVERIFY(m_window->grab().save(dir + QStringLiteral("/page_scenes.png")));
    for (int tab = 0; tab < 4; ++tab) {
        showPage(2, tab);
        if (tab == 0)
            pressRow(addonRows(0).at(0));
        QVERIFY(m_window->grab().save(dir + QStringLiteral("/page_addons_%1.png").arg(tab + 1)));
    }
}

QTEST_MAIN(TestCataloguePages)
#include "tst_catalogue_pages.moc"
