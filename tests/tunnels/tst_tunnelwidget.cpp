#include "support/testenv.h"
#include "tunnels/tunnelbean.h"
#include "tunnels/tunnelwidget.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

const QString kDefaultName = QStringLiteral("默认");

// Distinct values, so that a field read from or written to the wrong place shows.
TunnelBean::Fields distinctFields()
{
    TunnelBean::Fields fields;
    for (int i = 0; i < TunnelBean::FieldCount; ++i) {
        fields[i] = QStringLiteral("v%1_").arg(i) + TunnelBean::jsonKey(TunnelBean::Field(i));
    }
    return fields;
}

std::unique_ptr<TunnelBean> makeBean(const QString &name, const QString &id, const QString &domain,
                                     const QString &dstAddress, const QString &dstPort,
                                     const QString &publicPort, const QString &channelType,
                                     const QString &daikuan)
{
    auto bean = std::make_unique<TunnelBean>();
    bean->setTunnelData(name, id, domain, dstAddress, dstPort, QStringLiteral("1.2.3.4"),
                        publicPort, QString(), QStringLiteral("1"), channelType,
                        QStringLiteral("1"), QStringLiteral("3"), QString(), QString(), daikuan);
    return bean;
}

QString text(TunnelWidget &card, const char *name)
{
    auto *label = card.findChild<QLabel *>(QLatin1String(name));
    return label ? label->text() : QStringLiteral("<missing %1>").arg(QLatin1String(name));
}

// Opens the card's context menu as a right click would, then runs `action` on
// the open menu from inside the menu's own event loop.
void driveContextMenu(TunnelWidget *card, const std::function<void(QMenu *)> &action)
{
    auto *poller = new QTimer;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(poller, &QTimer::timeout, [poller, clock, action] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (menu && menu->isVisible()) {
            poller->stop();
            action(menu);
        } else if (clock.elapsed() > 3000) {
            poller->stop();
        }
    });
    poller->start(10);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(150, 60),
                            card->mapToGlobal(QPoint(150, 60)));
    QApplication::sendEvent(card, &event);
    // Whatever happened, no menu may stay open for the next test.
    if (QWidget *popup = QApplication::activePopupWidget()) {
        popup->close();
    }
    delete poller;
}

void clickEntry(QMenu *menu, const QString &entry)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == entry) {
            QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier,
                              menu->actionGeometry(action).center());
            return;
        }
    }
    menu->close();
}

} // namespace

class TunnelWidgetTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void fieldsFromJson_readsEveryKeyIntoItsField();
    void fieldsFromJson_nonStringOrMissingValuesAreEmpty_data();
    void fieldsFromJson_nonStringOrMissingValuesAreEmpty();
    void fieldsFromJson_nonObjectElementGivesEmptyRecord_data();
    void fieldsFromJson_nonObjectElementGivesEmptyRecord();
    void setTunnelData_keepsArgumentOrder();

    void form_showsTheDesignedCard();
    void form_paintsItsBackgroundAndHover();
    void card_showsTheRecordsValues();
    void card_namelessRecordShowsDefaultAndKeepsFormTexts();
    void card_numericPortFromProviderShowsHostAndColon();
    void card_rebindingReplacesValues();

    void buttons_emitTunnelIdAndActionName_data();
    void buttons_emitTunnelIdAndActionName();
    void buttons_withoutRecordEmitNothing();
    void contextMenu_listsFiveEntries();
    void contextMenu_entriesEmitActionNames_data();
    void contextMenu_entriesEmitActionNames();
    void contextMenu_dismissedEmitsNothing();
    void contextMenu_cardDeletedWhileOpen();
    void contextMenu_recordDeletedWhileOpen();
};

void TunnelWidgetTest::initTestCase()
{
    initTestEnvironment();
}

void TunnelWidgetTest::fieldsFromJson_readsEveryKeyIntoItsField()
{
    const TunnelBean::Fields expected = distinctFields();
    QJsonObject object;
    for (int i = 0; i < TunnelBean::FieldCount; ++i) {
        object.insert(TunnelBean::jsonKey(TunnelBean::Field(i)), expected[i]);
    }
    object.insert(QStringLiteral("unrelated"), QStringLiteral("x"));

    QCOMPARE(TunnelBean::fieldsFromJson(object), expected);

    // The keys are exactly the field names the provider uses.
    QCOMPARE(TunnelBean::jsonKey(TunnelBean::DstPort), QStringLiteral("dst_port"));
    QCOMPARE(TunnelBean::jsonKey(TunnelBean::PublicAddress), QStringLiteral("public_address"));
    QCOMPARE(TunnelBean::jsonKey(TunnelBean::Daikuan), QStringLiteral("daikuan"));

    // Straight from a reply's text, as the list receives it.
    const QByteArray reply = R"({"code":0,"data":[{"name":"NAS","id":"77","domain":"a.example",
        "dst_address":"127.0.11.5","dst_port":"5000","public_port":"21000",
        "channel_type":"5","daikuan":"2"}]})";
    const QJsonValue element =
        QJsonDocument::fromJson(reply).object().value(QStringLiteral("data")).toArray().at(0);
    const TunnelBean::Fields fields = TunnelBean::fieldsFromJson(element);
    QCOMPARE(fields[TunnelBean::Name], QStringLiteral("NAS"));
    QCOMPARE(fields[TunnelBean::Id], QStringLiteral("77"));
    QCOMPARE(fields[TunnelBean::DstPort], QStringLiteral("5000"));
    QCOMPARE(fields[TunnelBean::ChannelType], QStringLiteral("5"));
    QCOMPARE(fields[TunnelBean::PublicAddress], QString());
}

void TunnelWidgetTest::fieldsFromJson_nonStringOrMissingValuesAreEmpty_data()
{
    QTest::addColumn<QJsonValue>("value");
    QTest::newRow("number") << QJsonValue(8080);
    QTest::newRow("zero") << QJsonValue(0);
    QTest::newRow("null") << QJsonValue(QJsonValue::Null);
    QTest::newRow("bool") << QJsonValue(true);
    QTest::newRow("array") << QJsonValue(QJsonArray{QStringLiteral("80")});
    QTest::newRow("object") << QJsonValue(QJsonObject{{QStringLiteral("v"), QStringLiteral("1")}});
    QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined);
}

void TunnelWidgetTest::fieldsFromJson_nonStringOrMissingValuesAreEmpty()
{
    QFETCH(QJsonValue, value);
    // Each key in turn gets the odd value; the others keep their strings.
    const TunnelBean::Fields strings = distinctFields();
    for (int odd = 0; odd < TunnelBean::FieldCount; ++odd) {
        QJsonObject object;
        for (int i = 0; i < TunnelBean::FieldCount; ++i) {
            const QString key = TunnelBean::jsonKey(TunnelBean::Field(i));
            if (i != odd) {
                object.insert(key, strings[i]);
            } else if (!value.isUndefined()) {
                object.insert(key, value);
            }
        }
        TunnelBean::Fields expected = strings;
        expected[odd].clear();
        QCOMPARE(TunnelBean::fieldsFromJson(object), expected);
    }
}

void TunnelWidgetTest::fieldsFromJson_nonObjectElementGivesEmptyRecord_data()
{
    QTest::addColumn<QJsonValue>("element");
    QTest::newRow("null") << QJsonValue(QJsonValue::Null);
    QTest::newRow("undefined") << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("string") << QJsonValue(QStringLiteral("{\"name\":\"x\"}"));
    QTest::newRow("number") << QJsonValue(3);
    QTest::newRow("array") << QJsonValue(QJsonArray{QJsonObject{{"name", "x"}}});
    QTest::newRow("empty object") << QJsonValue(QJsonObject());
}

void TunnelWidgetTest::fieldsFromJson_nonObjectElementGivesEmptyRecord()
{
    QFETCH(QJsonValue, element);
    QCOMPARE(TunnelBean::fieldsFromJson(element), TunnelBean::Fields());

    // Such a record still makes a card, titled with the default name.
    TunnelBean bean;
    bean.setTunnelData(TunnelBean::fieldsFromJson(element));
    TunnelWidget card;
    card.setTunnelBean(&bean);
    QCOMPARE(text(card, "label_name"), kDefaultName);
}

void TunnelWidgetTest::setTunnelData_keepsArgumentOrder()
{
    const TunnelBean::Fields v = distinctFields();
    TunnelBean bean;
    bean.setTunnelData(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11],
                       v[12], v[13], v[14]);
    const QStringList read = {bean.name(),          bean.id(),
                              bean.domain(),        bean.dst_address(),
                              bean.dst_port(),      bean.public_address(),
                              bean.public_port(),   bean.public_port2(),
                              bean.domain_type(),   bean.channel_type(),
                              bean.channel_state(), bean.channel_model(),
                              bean.model(),         bean.domain_auth(),
                              bean.daikuan()};
    for (int i = 0; i < TunnelBean::FieldCount; ++i) {
        QCOMPARE(read.at(i), v[i]);
    }
    QCOMPARE(bean.fields(), v);

    // A second fill replaces every field, none is left over.
    bean.setTunnelData(TunnelBean::Fields());
    QCOMPARE(bean.fields(), TunnelBean::Fields());
    QVERIFY(bean.parent() == nullptr);
}

void TunnelWidgetTest::form_showsTheDesignedCard()
{
    TunnelWidget card;
    QCOMPARE(card.objectName(), QStringLiteral("TunnelWidget"));
    QCOMPARE(card.size(), QSize(290, 171));
    QCOMPARE(card.minimumSize(), QSize(290, 171));
    QCOMPARE(card.maximumSize(), QSize(290, 171));
    QVERIFY(card.testAttribute(Qt::WA_StyledBackground));
    QCOMPARE(card.contextMenuPolicy(), Qt::CustomContextMenu);

    QCOMPARE(text(card, "label_2"), QStringLiteral("访问地址"));
    QCOMPARE(text(card, "label_4"), QStringLiteral("内网地址"));
    QCOMPARE(text(card, "label_5"), QStringLiteral("127.0.0.1:80"));
    QCOMPARE(text(card, "label_6"), QStringLiteral("带宽"));
    QCOMPARE(text(card, "label_7"), QStringLiteral("100M"));
    QCOMPARE(text(card, "label_8"), QString(52, QLatin1Char('-')));
    QVERIFY(!text(card, "label_name").isEmpty());
    QVERIFY(text(card, "label_3").contains(QLatin1Char(':')));
    QCOMPARE(card.findChild<QLabel *>("label_3")->geometry(), QRect(10, 57, 271, 18));
    QCOMPARE(card.findChild<QLabel *>("label_7")->geometry(), QRect(230, 105, 61, 18));

    struct Button
    {
        const char *name;
        QString text;
        QRect geometry;
        QSize iconSize;
    };
    const QList<Button> buttons = {
        {"pushButton", QStringLiteral("编辑"), QRect(10, 133, 61, 36), QSize(18, 18)},
        {"pushButton_2", QStringLiteral("复制"), QRect(120, 133, 61, 36), QSize(20, 20)},
        {"pushButton_3", QStringLiteral("检测"), QRect(210, 133, 61, 36), QSize(20, 20)},
        {"pushButton_4", QString(), QRect(245, 10, 40, 21), QSize(20, 20)},
    };
    for (const Button &expected : buttons) {
        auto *button = card.findChild<QPushButton *>(QLatin1String(expected.name));
        QVERIFY2(button, expected.name);
        QCOMPARE(button->text(), expected.text);
        QCOMPARE(button->geometry(), expected.geometry);
        QCOMPARE(button->iconSize(), expected.iconSize);
        QVERIFY2(!button->icon().isNull(), expected.name);
        QVERIFY(button->isFlat());
        QCOMPARE(button->cursor().shape(), Qt::PointingHandCursor);
    }

    // The colours a user sees: green access address, grey values.
    card.ensurePolished();
    for (QLabel *label : card.findChildren<QLabel *>()) {
        label->ensurePolished();
    }
    QCOMPARE(card.findChild<QLabel *>("label_3")->palette().color(QPalette::WindowText),
             QColor(0x20, 0xa7, 0x03));
    QCOMPARE(card.findChild<QLabel *>("label_5")->palette().color(QPalette::WindowText),
             QColor(100, 100, 100));
    QCOMPARE(card.findChild<QLabel *>("label_name")->palette().color(QPalette::WindowText),
             QColor(59, 59, 59));
}

void TunnelWidgetTest::form_paintsItsBackgroundAndHover()
{
    TunnelWidget card;
    auto bean = makeBean(QStringLiteral("我的网站"), QStringLiteral("1001"),
                         QStringLiteral("web.example.net"), QStringLiteral("127.0.11.20"),
                         QStringLiteral("8080"), QStringLiteral("32001"), QStringLiteral("1"),
                         QStringLiteral("2"));
    card.setTunnelBean(bean.get());
    card.show();
    QVERIFY(QTest::qWaitForWindowExposed(&card));

    const QImage plain = card.grab().toImage();
    const QString snapshotDir = qEnvironmentVariable("TESSARO_SNAPSHOT_DIR");
    if (!snapshotDir.isEmpty()) {
        plain.save(snapshotDir + QStringLiteral("/tunnelwidget.png"));
    }
    // A spot between the labels shows the card's own background.
    QCOMPARE(plain.pixelColor(285, 80), QColor(232, 232, 232));

    card.setAttribute(Qt::WA_UnderMouse, true);
    const QImage hovered = card.grab().toImage();
    QCOMPARE(hovered.pixelColor(285, 80), QColor(221, 221, 221));
}

void TunnelWidgetTest::card_showsTheRecordsValues()
{
    TunnelWidget card;
    auto bean = makeBean(QStringLiteral("我的网站"), QStringLiteral("1001"),
                         QStringLiteral("web.example.net"), QStringLiteral("127.0.11.20"),
                         QStringLiteral("8080"), QStringLiteral("32001"), QStringLiteral("1"),
                         QStringLiteral("2"));
    card.setTunnelBean(bean.get());
    QCOMPARE(card.tunnelBean(), bean.get());
    QCOMPARE(text(card, "label_name"), QStringLiteral("我的网站"));
    QCOMPARE(text(card, "label_3"), QStringLiteral("web.example.net:32001"));
    QCOMPARE(text(card, "label_5"), QStringLiteral("127.0.11.20:8080"));
    QCOMPARE(text(card, "label_7"), QStringLiteral("2M"));

    // An HTTPS tunnel shows domain and port on the card like any other.
    TunnelWidget httpsCard;
    auto https = makeBean(QStringLiteral("安全站点"), QStringLiteral("1002"),
                          QStringLiteral("s.example.net"), QStringLiteral("127.0.0.1"),
                          QStringLiteral("443"), QStringLiteral("443"), QStringLiteral("5"),
                          QStringLiteral("10"));
    httpsCard.setTunnelBean(https.get());
    QCOMPARE(text(httpsCard, "label_3"), QStringLiteral("s.example.net:443"));
    QCOMPARE(text(httpsCard, "label_7"), QStringLiteral("10M"));
}

void TunnelWidgetTest::card_namelessRecordShowsDefaultAndKeepsFormTexts()
{
    TunnelWidget card;
    const QString sampleAddress = text(card, "label_3");
    auto bean = makeBean(QString(), QStringLiteral("55"), QStringLiteral("x.example.net"),
                         QStringLiteral("127.0.20.9"), QStringLiteral("22"), QStringLiteral("40022"),
                         QStringLiteral("1"), QStringLiteral("4"));
    card.setTunnelBean(bean.get());
    QCOMPARE(text(card, "label_name"), kDefaultName);
    QCOMPARE(text(card, "label_3"), sampleAddress);
    QCOMPARE(text(card, "label_5"), QStringLiteral("127.0.0.1:80"));
    QCOMPARE(text(card, "label_7"), QStringLiteral("100M"));

    // The actions still carry the record's id.
    QSignalSpy spy(&card, &TunnelWidget::messageSent);
    QTest::mouseClick(card.findChild<QPushButton *>("pushButton_3"), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("55"));
}

void TunnelWidgetTest::card_numericPortFromProviderShowsHostAndColon()
{
    const QJsonObject element{{"name", "db"},
                              {"id", "9"},
                              {"domain", "d.example.net"},
                              {"dst_address", "127.0.10.2"},
                              {"dst_port", 3306},
                              {"public_port", 41000},
                              {"daikuan", 1}};
    TunnelBean bean;
    bean.setTunnelData(TunnelBean::fieldsFromJson(element));
    TunnelWidget card;
    card.setTunnelBean(&bean);
    QCOMPARE(text(card, "label_5"), QStringLiteral("127.0.10.2:"));
    QCOMPARE(text(card, "label_3"), QStringLiteral("d.example.net:"));
    QCOMPARE(text(card, "label_7"), QStringLiteral("M"));
}

void TunnelWidgetTest::card_rebindingReplacesValues()
{
    TunnelWidget card;
    auto first = makeBean(QStringLiteral("一"), QStringLiteral("1"), QStringLiteral("a.example"),
                          QStringLiteral("127.0.20.1"), QStringLiteral("1"), QStringLiteral("11"),
                          QStringLiteral("1"), QStringLiteral("1"));
    auto second = makeBean(QStringLiteral("二"), QStringLiteral("2"), QStringLiteral("b.example"),
                           QStringLiteral("127.0.20.2"), QStringLiteral("2"), QStringLiteral("22"),
                           QStringLiteral("1"), QStringLiteral("3"));
    card.setTunnelBean(first.get());
    card.setTunnelBean(second.get());
    QCOMPARE(text(card, "label_name"), QStringLiteral("二"));
    QCOMPARE(text(card, "label_3"), QStringLiteral("b.example:22"));
    QCOMPARE(text(card, "label_5"), QStringLiteral("127.0.20.2:2"));
    QCOMPARE(text(card, "label_7"), QStringLiteral("3M"));

    QSignalSpy spy(&card, &TunnelWidget::messageSent);
    QTest::mouseClick(card.findChild<QPushButton *>("pushButton"), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("2"));

    // Unbinding leaves the labels as they were.
    card.setTunnelBean(nullptr);
    QCOMPARE(text(card, "label_name"), QStringLiteral("二"));
    QCOMPARE(card.tunnelBean(), nullptr);
}

void TunnelWidgetTest::buttons_emitTunnelIdAndActionName_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("action");
    QTest::newRow("edit") << "pushButton" << QStringLiteral("编辑");
    QTest::newRow("copy") << "pushButton_2" << QStringLiteral("复制");
    QTest::newRow("check") << "pushButton_3" << QStringLiteral("检测");
    QTest::newRow("delete") << "pushButton_4" << QStringLiteral("删除");
}

void TunnelWidgetTest::buttons_emitTunnelIdAndActionName()
{
    QFETCH(QString, button);
    QFETCH(QString, action);
    TunnelWidget card;
    auto bean =
        makeBean(QStringLiteral("网站"), QStringLiteral("T-42"), QStringLiteral("a.example"),
                 QStringLiteral("127.0.0.1"), QStringLiteral("80"), QStringLiteral("30080"),
                 QStringLiteral("1"), QStringLiteral("1"));
    card.setTunnelBean(bean.get());
    card.show();
    QVERIFY(QTest::qWaitForWindowExposed(&card));

    QSignalSpy spy(&card, &TunnelWidget::messageSent);
    QTest::mouseClick(card.findChild<QPushButton *>(button), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("T-42"));
    QCOMPARE(spy.at(0).at(1).toString(), action);
}

void TunnelWidgetTest::buttons_withoutRecordEmitNothing()
{
    TunnelWidget card;
    QSignalSpy spy(&card, &TunnelWidget::messageSent);
    for (QPushButton *button : card.findChildren<QPushButton *>()) {
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QCOMPARE(spy.count(), 0);

    // A record deleted behind the card's back is treated as none.
    auto bean = makeBean(QStringLiteral("n"), QStringLiteral("3"), QString(), QString(), QString(),
                         QString(), QString(), QString());
    card.setTunnelBean(bean.get());
    bean.reset();
    QTest::mouseClick(card.findChild<QPushButton *>("pushButton_2"), Qt::LeftButton);
    QCOMPARE(spy.count(), 0);
}

void TunnelWidgetTest::contextMenu_listsFiveEntries()
{
    TunnelWidget card;
    auto *menu = card.findChild<QMenu *>();
    QVERIFY(menu);
    QStringList entries;
    for (QAction *action : menu->actions()) {
        entries << action->text();
    }
    QCOMPARE(entries, QStringList({QStringLiteral("编辑"), QStringLiteral("复制地址"),
                                   QStringLiteral("检测"), QStringLiteral("删除"),
                                   QStringLiteral("修改域名")}));
    // Every entry is tall enough for the menu's 28px rows.
    menu->ensurePolished();
    QVERIFY(menu->actionGeometry(menu->actions().first()).height() >= 28);
}

void TunnelWidgetTest::contextMenu_entriesEmitActionNames_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("action");
    QTest::newRow("edit") << QStringLiteral("编辑") << QStringLiteral("编辑");
    QTest::newRow("copy address") << QStringLiteral("复制地址") << QStringLiteral("复制");
    QTest::newRow("check") << QStringLiteral("检测") << QStringLiteral("检测");
    QTest::newRow("delete") << QStringLiteral("删除") << QStringLiteral("删除");
    QTest::newRow("change domain") << QStringLiteral("修改域名") << QStringLiteral("修改域名");
}

void TunnelWidgetTest::contextMenu_entriesEmitActionNames()
{
    QFETCH(QString, entry);
    QFETCH(QString, action);
    TunnelWidget card;
    auto bean = makeBean(QStringLiteral("网站"), QStringLiteral("88"), QStringLiteral("a.example"),
                         QStringLiteral("127.0.0.1"), QStringLiteral("80"), QStringLiteral("30080"),
                         QStringLiteral("1"), QStringLiteral("1"));
    card.setTunnelBean(bean.get());
    card.show();
    QVERIFY(QTest::qWaitForWindowExposed(&card));

    QSignalSpy spy(&card, &TunnelWidget::messageSent);
    bool menuSeen = false;
    driveContextMenu(&card, [&](QMenu *menu) {
        menuSeen = true;
        clickEntry(menu, entry);
    });
    QVERIFY(menuSeen);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("88"));
    QCOMPARE(spy.at(0).at(1).toString(), action);
}

void TunnelWidgetTest::contextMenu_dismissedEmitsNothing()
{
    TunnelWidget card;
    auto bean = makeBean(QStringLiteral("网站"), QStringLiteral("88"), QString(), QString(),
                         QString(), QString(), QString(), QString());
    card.setTunnelBean(bean.get());
    card.show();
    QVERIFY(QTest::qWaitForWindowExposed(&card));

    QSignalSpy spy(&card, &TunnelWidget::messageSent);
    bool menuSeen = false;
    driveContextMenu(&card, [&](QMenu *menu) {
        menuSeen = true;
        QTest::keyClick(menu, Qt::Key_Escape);
    });
    QVERIFY(menuSeen);
    QCOMPARE(spy.count(), 0);
}

void TunnelWidgetTest::contextMenu_cardDeletedWhileOpen()
{
    // A list rebuild may run while the menu is open: it deletes the record and
    // then the card. Choosing nothing further must not touch either.
    auto *card = new TunnelWidget;
    auto *bean = new TunnelBean;
    bean->setTunnelData(TunnelBean::Fields{QStringLiteral("x"), QStringLiteral("1")});
    card->setTunnelBean(bean);
    card->show();
    QVERIFY(QTest::qWaitForWindowExposed(card));

    QPointer<TunnelWidget> guard(card);
    int emitted = 0;
    connect(card, &TunnelWidget::messageSent, this, [&emitted] { ++emitted; });
    bool menuSeen = false;
    driveContextMenu(card, [&](QMenu *) {
        menuSeen = true;
        delete bean;
        card->hide();
        delete card;
    });
    QVERIFY(menuSeen);
    QVERIFY(guard.isNull());
    QCOMPARE(emitted, 0);
}

void TunnelWidgetTest::contextMenu_recordDeletedWhileOpen()
{
    // The record goes while the menu is open and an entry is chosen after: the
    // card has no tunnel left to name and stays silent.
    TunnelWidget card;
    auto bean = makeBean(QStringLiteral("网站"), QStringLiteral("5"), QString(), QString(),
                         QString(), QString(), QString(), QString());
    card.setTunnelBean(bean.get());
    card.show();
    QVERIFY(QTest::qWaitForWindowExposed(&card));

    QSignalSpy spy(&card, &TunnelWidget::messageSent);
    bool menuSeen = false;
    driveContextMenu(&card, [&](QMenu *menu) {
        menuSeen = true;
        bean.reset();
        clickEntry(menu, QStringLiteral("检测"));
    });
    QVERIFY(menuSeen);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(card.tunnelBean(), nullptr);
}

QTEST_MAIN(TunnelWidgetTest)
#include "tst_tunnelwidget.moc"
