// The main window's shell driven through its widgets: pages, navigation,
// clickable labels, dragging, pictures, the tray and help menus.
#include "app/globals.h"
#include "catalogue/changjingwidget.h"
#include "catalogue/zengzhiwidget.h"
#include "diagnostics/checkboxframe.h"
#include "dialogs/msgtipwidget.h"
#include "main/maindialog.h"
#include "main/navmenuwidget.h"
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

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QUrlQuery>
#include <QtTest>

#include <memory>

namespace {

const char kSelected[] = "QWidget#NavMenuWidget{background-color:#cbc8ca;}";

QByteArray png(int width, int height, Qt::GlobalColor color)
{
    return pngBytes(filledImage(width, height, color, QImage::Format_RGB32));
}

QString consolePage(const QUrl &url)
{
    return QUrlQuery(url).queryItemValue(QStringLiteral("page"));
}

QImage imageOf(const QLabel *label)
{
    return label->pixmap(Qt::ReturnByValue).toImage();
}

int countToolboxes()
{
    int count = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<CheckBoxFrame *>(widget))
            ++count;
    return count;
}

} // namespace

class TestMainDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void constructionBuildsTheWholeWindow();
    void showPage_data();
    void showPage();
    void createPageAlwaysStartsEmptyOnEngine8();
    void engineChoiceIsExclusive();
    void navigationSwitchesPageAndMarksOnlyThatEntry();
    void navigationEntryWithoutKeyChangesNothing();
    void consoleButtonsAndLabels_data();
    void consoleButtonsAndLabels();
    void backButtonsAndAvatarPresses();
    void bannerOpensTheVirtualPrivateLinePage();
    void toolboxButtonsOpenANewToolboxEachTime();
    void draggingStaysOnThePrimaryScreen();
    void loadImage_data();
    void loadImage();
    void loadImageGivesUpOnAPictureThatNeverArrives();
    void picturesNeverHoldUpTheWindow();
    void windowGoneBeforeItsPicturesTakesNoHarm();
    void trayMenuEntriesAndReactions();
    void helpMenuEntries();

private:
    std::unique_ptr<MainDialog> makeWindow();
    static bool pointPicturesAtSilentHost(FakeHttpServer &host);

    template <typename T> T *child(const char *name) { return namedChild<T>(m_window.get(), name); }

    BrowserSink m_browser;
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<FakeCommand> m_sc;
    std::unique_ptr<FakeCommand> m_dns;
    std::unique_ptr<MainDialog> m_window;
};

void TestMainDialog::initTestCase()
{
    initTestEnvironment();
    m_browser.install();
}

void TestMainDialog::init()
{
    m_server = startFakeProvider();
    QVERIFY(m_server);
    m_server->setResponse(QStringLiteral("ClientTunnelAction?method=list"),
                          rawReply(R"({"code":0,"data":[]})"));
    m_server->setResponse(QStringLiteral("images/avatar.png"), pictureReply(png(100, 80, Qt::red)));
    m_server->setResponse(QStringLiteral("images/client_bg.png"),
                          pictureReply(png(300, 200, Qt::blue)));
    m_server->setResponse(QStringLiteral("images/touxiang.png"),
                          pictureReply(png(64, 64, Qt::green)));
    g_avatar = m_server->baseUrl() + QStringLiteral("images/avatar.png");
    g_userId = QStringLiteral("7");
    g_num = QStringLiteral("2");
    g_password = QStringLiteral("pw");

    m_sc = runningServiceTool();
    m_dns = std::make_unique<FakeCommand>(QStringLiteral("flushdns"));
    platform::Overrides overrides = serviceOverrides(*m_sc);
    overrides.dnsFlushCommand = {m_dns->program(), {QStringLiteral("/flushdns")}};
    platform::setOverrides(overrides);
    m_browser.urls.clear();
}

void TestMainDialog::cleanup()
{
    m_window.reset();
    platform::clearOverrides();
}

// The avatar and the provider's pictures on a host that accepts every
// request and never answers.
bool TestMainDialog::pointPicturesAtSilentHost(FakeHttpServer &host)
{
    FakeHttpServer::Response silent;
    silent.neverAnswer = true;
    host.setDefaultResponse(silent);
    if (!host.listen())
        return false;
    g_avatar = host.baseUrl() + QStringLiteral("avatar.png");
    g_webBaseUrl = host.baseUrl();
    return true;
}

std::unique_ptr<MainDialog> TestMainDialog::makeWindow()
{
    return std::make_unique<MainDialog>(nullptr);
}

void TestMainDialog::constructionBuildsTheWholeWindow()
{
    m_window = makeWindow();
    const Qt::WindowFlags flags = m_window->windowFlags();
    QVERIFY(flags & Qt::FramelessWindowHint);
    QVERIFY(
        !(flags & (Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)));
    QCOMPARE(m_window->windowTitle(), QStringLiteral(" Tessaro"));
    QCOMPARE(m_window->size(), QSize(800, 550));

    auto *stack = child<QStackedWidget>("stackedWidget");
    QCOMPARE(stack->count(), 10);
    QCOMPARE(stack->currentIndex(), 0);
    const char *pages[] = {"page",   "page_3", "page_4", "page_5", "page_wke",
                           "page_7", "page_8", "page_9", "page_2", "page_6"};
    for (int i = 0; i < 10; ++i)
        QCOMPARE(stack->widget(i)->objectName(), QLatin1String(pages[i]));
    QCOMPARE(child<QTabWidget>("tabWidget")->currentIndex(), 0);
    QCOMPARE(child<QTabWidget>("tabWidget_2")->currentIndex(), 0);

    QCOMPARE(child<QWidget>("TitleBarWidget")->pos(), QPoint(175, 0));
    const auto entries = m_window->findChildren<NavMenuWidget *>();
    QCOMPARE(entries.size(), 5);
    const QStringList keys = {"内网穿透", "场景映射", "增值业务", "政企服务", "智能设备"};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(entries[i]->name(), keys[i]);
        QCOMPARE(entries[i]->pos(), QPoint(0, 200 + 40 * i));
        QCOMPARE(entries[i]->styleSheet().contains(QLatin1String(kSelected)), false);
    }

    // The count tile on the tunnel page, the two fixed tiles on the scene page.
    const auto tunnelTiles = child<QWidget>("page")->findChildren<CTParamWidget *>();
    QVERIFY(!tunnelTiles.isEmpty());
    QCOMPARE(tunnelTiles.first()->pos(), QPoint(170, 10));
    QCOMPARE(tunnelTiles.first()->findChild<QLabel *>("label")->text(), QStringLiteral("0/2"));
    const auto sceneTiles = child<QWidget>("page_3")->findChildren<CTParamWidget *>();
    QCOMPARE(sceneTiles.size(), 2);
    QCOMPARE(sceneTiles[0]->pos(), QPoint(170, 10));
    QCOMPARE(sceneTiles[0]->findChild<QLabel *>("label_3")->text(), QStringLiteral("场景映射"));
    QCOMPARE(sceneTiles[1]->pos(), QPoint(320, 10));
    QCOMPARE(sceneTiles[1]->findChild<QLabel *>("label")->text(), QStringLiteral("0/0"));
    QCOMPARE(sceneTiles[1]->findChild<QLabel *>("label_2")->text(), QStringLiteral("M"));

    QCOMPARE(child<QLabel>("label_client_version")->text(), QStringLiteral("当前版本号：V8.9.8"));
    for (const char *hidden : {"label_28", "checkBox_7", "checkBox_9", "checkBox_8", "checkBox_6"})
        QVERIFY2(child<QWidget>(hidden)->isHidden(), hidden);
    QCOMPARE(child<QLabel>("zengzhi_title")->text(), QStringLiteral("-"));
    QCOMPARE(child<QPlainTextEdit>("zengzhi_content")->toPlainText(), QStringLiteral("-"));

    // Avatars scaled to 48 x 48; the device picture as it came.
    QTRY_COMPARE(child<QLabel>("wx_touxiang")->pixmap(Qt::ReturnByValue).size(), QSize(48, 48));
    QTRY_COMPARE(child<QLabel>("wx_touxiang2")->pixmap(Qt::ReturnByValue).size(), QSize(48, 48));
    QTRY_COMPARE(child<QLabel>("label_dev")->pixmap(Qt::ReturnByValue).size(), QSize(300, 200));
    QCOMPARE(imageOf(child<QLabel>("label_dev")).pixelColor(5, 5), QColor(Qt::blue));
}

void TestMainDialog::showPage_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("index");
    QTest::newRow("tunnels") << "内网穿透" << 0;
    QTest::newRow("scenes") << "场景映射" << 1;
    QTest::newRow("add-ons") << "增值业务" << 2;
    QTest::newRow("enterprise") << "政企服务" << 3;
    QTest::newRow("devices") << "智能设备" << 4;
    QTest::newRow("create") << "创建映射" << 5;
    QTest::newRow("edit") << "编辑映射" << 6;
    QTest::newRow("check") << "检测通道" << 7;
    QTest::newRow("unknown") << "个人中心" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("trailing blank") << "内网穿透 " << -1;
    QTest::newRow("page name") << "page_2" << -1;
}

void TestMainDialog::showPage()
{
    QFETCH(QString, key);
    QFETCH(int, index);
    m_window = makeWindow();
    auto *stack = child<QStackedWidget>("stackedWidget");
    stack->setCurrentIndex(9); // a page no key selects
    m_window->showPage(key);
    QCOMPARE(stack->currentIndex(), index < 0 ? 9 : index);
}

void TestMainDialog::createPageAlwaysStartsEmptyOnEngine8()
{
    m_window = makeWindow();
    auto *name = child<QLineEdit>("create_name");
    auto *address = child<QLineEdit>("create_dst_address");
    auto *port = child<QLineEdit>("create_dst_port");
    auto *engine8 = child<QCheckBox>("checkBox_model8");
    auto *engine9 = child<QCheckBox>("checkBox_model9");
    for (int round = 0; round < 2; ++round) {
        name->setText(QStringLiteral("nas"));
        address->setText(QStringLiteral("127.0.11.5"));
        port->setText(QStringLiteral("5000"));
        engine9->setChecked(true);
        child<QPushButton>("btn_create")->click();
        QCOMPARE(child<QStackedWidget>("stackedWidget")->currentIndex(), 5);
        QCOMPARE(name->text(), QString());
        QCOMPARE(address->text(), QString());
        QCOMPARE(port->text(), QString());
        QVERIFY(engine8->isChecked());
        QVERIFY(!engine9->isChecked());
        child<QPushButton>("btn_back1")->click();
    }
}

void TestMainDialog::engineChoiceIsExclusive()
{
    m_window = makeWindow();
    auto *engine8 = child<QCheckBox>("checkBox_model8");
    auto *engine9 = child<QCheckBox>("checkBox_model9");
    QVERIFY(engine8->isChecked());
    QVERIFY(!engine9->isChecked());
    engine8->setChecked(false);
    QVERIFY(engine9->isChecked());
    engine8->setChecked(true);
    QVERIFY(!engine9->isChecked());
    // Clicking the ticked one moves the tick to the other.
    QTest::mouseClick(engine8, Qt::LeftButton, {}, QPoint(5, engine8->height() / 2));
    QVERIFY(!engine8->isChecked());
    QVERIFY(engine9->isChecked());
}

void TestMainDialog::navigationSwitchesPageAndMarksOnlyThatEntry()
{
    m_window = makeWindow();
    auto *stack = child<QStackedWidget>("stackedWidget");
    const auto entries = m_window->findChildren<NavMenuWidget *>();
    QCOMPARE(entries.size(), 5);
    for (int pass = 0; pass < 2; ++pass) { // the same entry twice keeps its mark
        for (int i = 4; i >= 0; --i) {
            QTest::mousePress(entries[i], Qt::LeftButton, {}, QPoint(20, 20));
            QCOMPARE(stack->currentIndex(), i);
            for (int j = 0; j < 5; ++j)
                QCOMPARE(entries[j]->styleSheet() == QLatin1String(kSelected), i == j);
        }
    }
    // Pages opened by buttons leave the mark where it was.
    child<QPushButton>("btn_create")->click();
    QCOMPARE(entries[0]->styleSheet(), QLatin1String(kSelected));
}

void TestMainDialog::navigationEntryWithoutKeyChangesNothing()
{
    m_window = makeWindow();
    auto *stack = child<QStackedWidget>("stackedWidget");
    stack->setCurrentIndex(3);
    auto *blank = new NavMenuWidget(m_window.get());
    QSignalSpy clicked(blank, &NavMenuWidget::widgetClicked);
    QTest::mousePress(blank, Qt::RightButton, {}, QPoint(5, 5));
    QCOMPARE(clicked.size(), 1);
    QCOMPARE(clicked.first().first().toString(), QString());
    QCOMPARE(stack->currentIndex(), 3);
    for (NavMenuWidget *entry : m_window->findChildren<NavMenuWidget *>())
        QVERIFY(entry->styleSheet() != QLatin1String(kSelected));
}

void TestMainDialog::consoleButtonsAndLabels_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("page");
    QTest::newRow("buyBtn") << "buyBtn"
                            << "price";
    QTest::newRow("btn_high") << "btn_high"
                              << "daijinquan";
    QTest::newRow("btn_buy_changjing") << "btn_buy_changjing"
                                       << "changjing_panel";
    QTest::newRow("btn_save3") << "btn_save3"
                               << "dingzhi";
    QTest::newRow("btn_save4") << "btn_save4"
                               << "kaipiao";
    QTest::newRow("btn_save5") << "btn_save5"
                               << "gongdan";
    QTest::newRow("btn_save6") << "btn_save6"
                               << "jiaocheng";
    QTest::newRow("btn_buy_dev") << "btn_buy_dev"
                                 << "c750";
    QTest::newRow("label_57") << "label_57"
                              << "jiaocheng";
    QTest::newRow("label_58") << "label_58"
                              << "gongdan";
    QTest::newRow("label_paicha1") << "label_paicha1"
                                   << "paicha1";
    QTest::newRow("label_paicha2") << "label_paicha2"
                                   << "paicha2";
    QTest::newRow("label_paicha3") << "label_paicha3"
                                   << "paicha3";
}

void TestMainDialog::consoleButtonsAndLabels()
{
    QFETCH(QString, control);
    QFETCH(QString, page);
    m_window = makeWindow();
    QWidget *widget = m_window->findChild<QWidget *>(control);
    QVERIFY(widget);
    if (auto *button = qobject_cast<QPushButton *>(widget)) {
        button->click();
    } else {
        // A release or a double click alone does nothing; the press acts.
        QTest::mouseRelease(widget, Qt::LeftButton);
        QVERIFY(m_browser.urls.isEmpty());
        QTest::mousePress(widget, Qt::LeftButton);
    }
    QCOMPARE(m_browser.urls.size(), 1);
    const QUrl url = m_browser.urls.first();
    QVERIFY2(url.toString().startsWith(g_webBaseUrl + QStringLiteral("ClientAction?")),
             qPrintable(url.toString()));
    QCOMPARE(consolePage(url), page);
}

void TestMainDialog::backButtonsAndAvatarPresses()
{
    m_window = makeWindow();
    auto *stack = child<QStackedWidget>("stackedWidget");
    for (const char *back : {"btn_back1", "btn_back2", "btn_back3"}) {
        stack->setCurrentIndex(6);
        child<QPushButton>(back)->click();
        QCOMPARE(stack->currentIndex(), 0);
    }
    for (const char *label : {"wx_touxiang", "label_open_userinfo"}) {
        stack->setCurrentIndex(1);
        QTest::mousePress(child<QLabel>(label), Qt::LeftButton);
        QCOMPARE(stack->currentIndex(), 9);
    }
    QVERIFY(m_browser.urls.isEmpty());
}

void TestMainDialog::bannerOpensTheVirtualPrivateLinePage()
{
    m_window = makeWindow();
    auto *banner = child<QLabel>("label_8");
    QCOMPARE(banner->text(), QStringLiteral("NEXL虚拟专线已发布，助您快速访问本地私有云"));
    QTest::mousePress(banner, Qt::LeftButton);
    QCOMPARE(m_browser.urls, QList<QUrl>{QUrl(g_webBaseUrl + QStringLiteral("nexl/index.html"))});
}

void TestMainDialog::toolboxButtonsOpenANewToolboxEachTime()
{
    m_window = makeWindow();
    child<QPushButton>("btn_local_check")->click();
    child<QPushButton>("btn_local_check_2")->click();
    child<QPushButton>("btn_local_check")->click();
    QList<CheckBoxFrame *> boxes;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<CheckBoxFrame *>(widget); box && box->isVisible())
            boxes.append(box);
    QCOMPARE(boxes.size(), 3);
    QVERIFY(!boxes.first()->parent());
    for (CheckBoxFrame *box : boxes)
        box->close(); // they delete themselves
    QTRY_COMPARE(countToolboxes(), 0);
}

void TestMainDialog::draggingStaysOnThePrimaryScreen()
{
    m_window = makeWindow();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    // Smaller than the screen, so every edge can be reached.
    m_window->resize(300, 200);
    const QSize room(screen.width() - 300, screen.height() - 200);
    QVERIFY(room.width() > 100 && room.height() > 100);

    auto press = [this](QPoint local, Qt::MouseButton button) {
        QMouseEvent event(QEvent::MouseButtonPress, local, m_window->mapToGlobal(local), button,
                          button, Qt::NoModifier);
        QApplication::sendEvent(m_window.get(), &event);
    };
    auto moveTo = [this](QPointF global, Qt::MouseButtons buttons) {
        QMouseEvent event(QEvent::MouseMove, QPointF(1, 1), QPointF(1, 1), global, Qt::NoButton,
                          buttons, Qt::NoModifier);
        QApplication::sendEvent(m_window.get(), &event);
    };

    m_window->move(0, 0);
    press(QPoint(10, 20), Qt::LeftButton);
    moveTo(QPointF(60.6, 70.4), Qt::LeftButton); // rounded to (61, 70)
    QCOMPARE(m_window->pos(), QPoint(51, 50));
    moveTo(QPointF(screen.width() + 500, 90), Qt::LeftButton);
    QCOMPARE(m_window->pos(), QPoint(room.width(), 70));
    moveTo(QPointF(90, screen.height() + 500), Qt::LeftButton);
    QCOMPARE(m_window->pos(), QPoint(80, room.height()));
    moveTo(QPointF(-400, 90), Qt::LeftButton);
    QCOMPARE(m_window->pos(), QPoint(0, 70));
    moveTo(QPointF(90, -400), Qt::LeftButton);
    QCOMPARE(m_window->pos(), QPoint(80, 0));

    // Moving without the left button held does not drag; a right press does
    // not change the grip.
    moveTo(QPointF(200, 200), Qt::NoButton);
    QCOMPARE(m_window->pos(), QPoint(80, 0));
    press(QPoint(100, 100), Qt::RightButton);
    moveTo(QPointF(110, 120), Qt::LeftButton);
    QCOMPARE(m_window->pos(), QPoint(100, 100));

    // A window larger than the screen is pinned at the origin.
    m_window->resize(screen.width() + 50, screen.height() + 50);
    moveTo(QPointF(300, 300), Qt::LeftButton);
    QCOMPARE(m_window->pos(), QPoint(0, 0));
}

void TestMainDialog::loadImage_data()
{
    QTest::addColumn<QString>("url");      // "@" stands for the server's host:port
    QTest::addColumn<QString>("path");     // what the server must be asked for
    QTest::addColumn<QSize>("size");       // of the picture shown
    QTest::addColumn<QString>("fallback"); // expected built-in picture, if any
    QTest::newRow("https upper case") << "HTTPS://@/images/avatar.png"
                                      << "images/avatar.png" << QSize(48, 48) << "";
    QTest::newRow("https mixed case") << "hTTpS://@/images/avatar.png"
                                      << "images/avatar.png" << QSize(48, 48) << "";
    QTest::newRow("device picture unscaled") << "https://@/images/client_bg.png"
                                             << "images/client_bg.png" << QSize(300, 200) << "";
    QTest::newRow("empty gives default avatar") << ""
                                                << "images/touxiang.png" << QSize(48, 48) << "";
    QTest::newRow("not found") << "http://@/images/missing.png"
                               << "images/missing.png" << QSize() << ":/images/icon/touxiang2.png";
    QTest::newRow("server error") << "http://@/images/broken.png"
                                  << "images/broken.png" << QSize()
                                  << ":/images/icon/touxiang2.png";
}

void TestMainDialog::loadImage()
{
    QFETCH(QString, url);
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(QString, fallback);
    FakeHttpServer::Response missing;
    missing.status = 404;
    m_server->setResponse(QStringLiteral("images/missing.png"), missing);
    FakeHttpServer::Response broken = pictureReply(png(10, 10, Qt::red));
    broken.status = 500;
    m_server->setResponse(QStringLiteral("images/broken.png"), broken);

    m_window = makeWindow();
    QTest::qWait(200); // the window's own pictures
    m_server->clearRequests();
    QLabel label;
    label.hide();
    m_window->loadImage(
        url.replace(QLatin1Char('@'), QStringLiteral("127.0.0.1:%1").arg(m_server->port())),
        &label);
    // Only the picture counts: the new window's own API calls (its tunnel
    // list) may still be arriving on a busy machine.
    QList<FakeHttpServer::Request> pictures;
    auto pictureRequests = [&] {
        pictures.clear();
        for (const FakeHttpServer::Request &request : m_server->requests())
            if (request.path.startsWith(QLatin1String("images/")))
                pictures.append(request);
        return pictures.size();
    };
    QTRY_COMPARE(pictureRequests(), 1);
    // Set once it has come, the built-in one included.
    QTRY_VERIFY(!label.pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(pictures.first().method, QByteArray("GET"));
    QCOMPARE(pictures.first().path, path);
    if (fallback.isEmpty()) {
        QCOMPARE(label.pixmap(Qt::ReturnByValue).size(), size);
    } else {
        // The built-in picture, unscaled, and the label shown.
        QCOMPARE(imageOf(&label), QPixmap(fallback).toImage());
        QVERIFY(label.isVisible());
    }
}

void TestMainDialog::loadImageGivesUpOnAPictureThatNeverArrives()
{
    m_window = makeWindow();
    FakeHttpServer::Response silent;
    silent.neverAnswer = true;
    m_server->setResponse(QStringLiteral("images/slow.png"), silent);
    QLabel label;
    QElapsedTimer clock;
    clock.start();
    m_window->loadImage(m_server->baseUrl() + QStringLiteral("images/slow.png"), &label);
    QVERIFY2(clock.elapsed() < 500, "waited for the picture");
    const QImage fallback = QPixmap(QStringLiteral(":/images/icon/touxiang2.png")).toImage();
    QTRY_VERIFY_WITH_TIMEOUT(imageOf(&label) == fallback, MainDialog::ImageTimeoutMs + 2000);
    // A coarse timer may fire up to 5 % early.
    QVERIFY2(clock.elapsed() >= MainDialog::ImageTimeoutMs * 9 / 10, "gave up too early");
}

void TestMainDialog::picturesNeverHoldUpTheWindow()
{
    FakeHttpServer pictureHost;
    QVERIFY(pointPicturesAtSilentHost(pictureHost));
    QJsonArray scenes;
    for (int i = 0; i < 4; ++i)
        scenes.append(QJsonObject{{"name", QString::number(i)},
                                  {"icon", pictureHost.baseUrl() + QString::number(i)}});
    m_server->setResponse(QStringLiteral("ClientChangjingAction2?method=list"),
                          jsonReply({{"code", 0}, {"data", scenes}}));
    const QJsonObject addon{{"stype", "映射配置"},
                            {"icon", pictureHost.baseUrl() + QStringLiteral("a.png")}};
    m_server->setResponse(QStringLiteral("ClientZengzhiAction?method=list"),
                          jsonReply({{"code", 0}, {"data", QJsonArray{addon}}}));

    QElapsedTimer clock;
    clock.start();
    m_window = makeWindow();
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QList<QLabel *> rowIcons;
    for (QWidget *row : m_window->findChildren<ChangjingWidget *>())
        rowIcons << row->findChild<QLabel *>("label");
    for (QWidget *row : m_window->findChildren<ZengzhiWidget *>())
        rowIcons << row->findChild<QLabel *>("label");
    QCOMPARE(rowIcons.size(), 5);

    // All given up on together, each with its own fallback.
    const QImage avatar = QPixmap(QStringLiteral(":/images/icon/touxiang2.png")).toImage();
    QTRY_VERIFY_WITH_TIMEOUT(imageOf(child<QLabel>("label_dev")) == avatar,
                             MainDialog::ImageTimeoutMs + 3000);
    QVERIFY2(clock.elapsed() < MainDialog::ImageTimeoutMs + 3000,
             qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(imageOf(child<QLabel>("wx_touxiang")), avatar);
    QCOMPARE(imageOf(child<QLabel>("wx_touxiang2")), avatar);
    for (QLabel *icon : rowIcons)
        QVERIFY(icon->pixmap(Qt::ReturnByValue).isNull());
}

void TestMainDialog::windowGoneBeforeItsPicturesTakesNoHarm()
{
    FakeHttpServer pictureHost;
    QVERIFY(pointPicturesAtSilentHost(pictureHost));
    m_window = makeWindow();
    QTRY_COMPARE(pictureHost.openConnections(), 3); // two avatars, the device picture
    m_window.reset();
    // Its transfers are dropped with it, long before they would time out;
    // nothing reaches the freed labels after (the sanitizers would say).
    QTRY_COMPARE_WITH_TIMEOUT(pictureHost.openConnections(), 0, 1000);
    QTest::qWait(MainDialog::ImageTimeoutMs + 500);
}

void TestMainDialog::trayMenuEntriesAndReactions()
{
    m_window = makeWindow();
    auto *tray = m_window->findChild<QSystemTrayIcon *>();
    QVERIFY(tray);
    QCOMPARE(tray->toolTip(), QStringLiteral("Tessaro客户端"));
    QMenu *menu = tray->contextMenu();
    QVERIFY(menu);
    QStringList texts;
    for (QAction *action : menu->actions())
        texts << action->text();
    QCOMPARE(texts,
             (QStringList{"打开", "软件版本", "使用帮助", "关闭客户端界面", "退出账号和关闭服务"}));
    const auto actions = menu->actions();

    // "打开", a double click and a click on a balloon bring the window back.
    m_window->hide();
    actions[0]->trigger();
    QVERIFY(m_window->isVisible());
    m_window->hide();
    emit tray->activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(m_window->isVisible());
    m_window->hide();
    emit tray->messageClicked();
    QVERIFY(m_window->isVisible());
    m_window->hide();
    emit tray->activated(QSystemTrayIcon::MiddleClick);
    emit tray->activated(QSystemTrayIcon::Trigger); // the version balloon only
    actions[1]->trigger();
    QVERIFY(!m_window->isVisible());

    // A right click shows the menu.
    emit tray->activated(QSystemTrayIcon::Context);
    QTRY_VERIFY(menu->isVisible());
    menu->hide();

    actions[2]->trigger();
    QCOMPARE(m_browser.urls.size(), 1);
    QCOMPARE(consolePage(m_browser.urls.first()), QStringLiteral("jiaocheng"));

    // Close asks first; declining keeps the window.
    m_window->show();
    QString question;
    answerNextModal("btn_cance", [&question](QWidget *dialog) {
        question = dialog->windowTitle() + QLatin1Char('|') +
                   dialog->findChild<QLabel *>("label_2")->text();
    });
    actions[3]->trigger();
    QCOMPARE(question, QStringLiteral("操作提示|是否要退出当前客户端?"));
    QVERIFY(m_window->isVisible());

    answerNextModal("btn_cance", [&question](QWidget *dialog) {
        question = dialog->windowTitle() + QLatin1Char('|') +
                   dialog->findChild<QLabel *>("label_2")->text();
    });
    actions[4]->trigger();
    QCOMPARE(question, QStringLiteral("退出提示|确定停止服务并注销退出当前账号?"));
    QVERIFY(m_window->isVisible());
}

void TestMainDialog::helpMenuEntries()
{
    m_window = makeWindow();
    QMenu *menu = child<QPushButton>("menuBtn")->menu();
    QVERIFY(menu);
    QVERIFY(menu->windowFlags() & Qt::FramelessWindowHint);
    QStringList texts;
    for (QAction *action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("--") : action->text());
    QCOMPARE(texts, (QStringList{"我的工单", "帮助文档", "--", "清除DNS缓存", "查看日志",
                                 "退出当前账号", "工具箱", "VIP专属服务"}));
    const auto actions = menu->actions();

    actions[0]->trigger();
    actions[1]->trigger();
    actions[7]->trigger();
    QCOMPARE(m_browser.urls.size(), 3);
    QCOMPARE(consolePage(m_browser.urls[0]), QStringLiteral("gongdan"));
    QCOMPARE(consolePage(m_browser.urls[1]), QStringLiteral("jiaocheng"));
    QCOMPARE(consolePage(m_browser.urls[2]), QStringLiteral("vip"));

    // DNS flush: the configured command runs and the tip reports it.
    actions[3]->trigger();
    QCOMPARE(m_dns->invocations(), QList<QStringList>{QStringList{"/flushdns"}});
    const auto tips = m_window->findChildren<MsgTipWidget *>();
    QVERIFY(!tips.isEmpty());
    QCOMPARE(tips.last()->findChild<QLabel *>("label_2")->text(),
             QStringLiteral("DNS缓存已清除！"));
    QCOMPARE(tips.last()->pos(), QPoint(300, 2));

    // Logs: the service's log folder in the file manager.
    m_browser.urls.clear();
    actions[4]->trigger();
    QCOMPARE(m_browser.urls,
             QList<QUrl>{QUrl::fromLocalFile(testHomePath() + QStringLiteral("/service-logs"))});

    // Logout asks first.
    bool asked = false;
    answerNextModal("btn_cance", [&asked](QWidget *) { asked = true; });
    actions[5]->trigger();
    QVERIFY(asked);

    // The toolbox opens as a window of its own.
    QCOMPARE(countToolboxes(), 0);
    actions[6]->trigger();
    QCOMPARE(countToolboxes(), 1);
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<CheckBoxFrame *>(widget))
            widget->close();
}

QTEST_MAIN(TestMainDialog)
#include "tst_maindialog.moc"
