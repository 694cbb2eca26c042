// The catalogue rows: what a scene row and a value-added row show, the icon
// each fetches for itself from a local web server, and what a press reports.
#include "catalogue/changjingwidget.h"
#include "catalogue/zengzhiwidget.h"
#include "support/fakehttpserver.h"
#include "support/testenv.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

namespace {

QImage samplePicture(const QColor &color)
{
    QImage image(24, 16, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QImage shownPicture(QWidget *row)
{
    auto *label = row->findChild<QLabel *>(QStringLiteral("label"));
    return label ? label->pixmap(Qt::ReturnByValue).toImage() : QImage();
}

QString labelText(QWidget *row, const char *name)
{
    auto *label = row->findChild<QLabel *>(QLatin1String(name));
    return label ? label->text() : QStringLiteral("<missing %1>").arg(QLatin1String(name));
}

// A picture host that accepts every request and never answers.
bool listenSilently(FakeHttpServer &host)
{
    FakeHttpServer::Response silent;
    silent.neverAnswer = true;
    host.setDefaultResponse(silent);
    return host.listen();
}

void press(QWidget *row, const QPoint &at)
{
    QTest::mousePress(row->childAt(at) ? row->childAt(at) : row, Qt::LeftButton, Qt::NoModifier,
                      row->childAt(at) ? row->childAt(at)->mapFrom(row, at) : at);
}

} // namespace

class TestCatalogueRows : public QObject
{
    Q_OBJECT

private:
    FakeHttpServer m_server;
    const QImage m_picture = samplePicture(QColor(10, 120, 200));

private slots:
    void initTestCase()
    {
        initTestEnvironment();
        QVERIFY(m_server.listen());
        FakeHttpServer::Response png;
        png.body = pngBytes(m_picture);
        png.contentType = "image/png";
        m_server.setResponse(QStringLiteral("icons/a.png"), png);
        FakeHttpServer::Response text;
        text.body = "not a picture";
        text.contentType = "text/plain";
        m_server.setResponse(QStringLiteral("icons/text"), text);
    }

    void sceneRowShowsItsValues()
    {
        ChangjingWidget row;
        QCOMPARE(row.objectName(), QStringLiteral("ChangjingWidget"));
        QCOMPARE(row.size(), QSize(300, 50));
        QVERIFY(row.testAttribute(Qt::WA_StyledBackground));
        // Before any data: the form's own picture (both through QPixmap, which
        // may premultiply alpha on the way).
        QCOMPARE(shownPicture(&row), QPixmap(QStringLiteral(":/images/icon/c_sql.png")).toImage());

        row.setSceneData(QStringLiteral("7"), QStringLiteral("远程桌面"), QStringLiteral("标题"),
                         QStringLiteral("说明"),
                         m_server.baseUrl() + QStringLiteral("icons/a.png"));
        QCOMPARE(labelText(&row, "label_name"), QStringLiteral("远程桌面"));
        QCOMPARE(row.id(), QStringLiteral("7"));
        QCOMPARE(row.name(), QStringLiteral("远程桌面"));
        QCOMPARE(row.title(), QStringLiteral("标题"));
        QCOMPARE(row.content(), QStringLiteral("说明"));
        // Unscaled, exactly the downloaded picture, once it has come.
        QTRY_COMPARE(shownPicture(&row).convertToFormat(QImage::Format_ARGB32), m_picture);
    }

    void sceneRowPressSendsName()
    {
        ChangjingWidget row;
        row.setSceneData(QStringLiteral("1"), QStringLiteral("MySQL"), QString(), QString(),
                         QString());
        QSignalSpy spy(&row, &ChangjingWidget::messageSent);
        press(&row, QPoint(100, 25)); // on the name
        press(&row, QPoint(275, 25)); // on the decoration
        press(&row, QPoint(2, 2));    // on the bare row
        QCOMPARE(spy.count(), 3);
        for (const QList<QVariant> &args : spy)
            QCOMPARE(args.at(0).toString(), QStringLiteral("MySQL"));

        // An empty name reads "默认" but the press still names the empty scene.
        ChangjingWidget unnamed;
        unnamed.setSceneData(QStringLiteral("2"), QString(), QString(), QString(), QString());
        QCOMPARE(labelText(&unnamed, "label_name"), QStringLiteral("默认"));
        QSignalSpy unnamedSpy(&unnamed, &ChangjingWidget::messageSent);
        press(&unnamed, QPoint(100, 25));
        QCOMPARE(unnamedSpy.count(), 1);
        QCOMPARE(unnamedSpy.at(0).at(0).toString(), QString());
    }

    void addonRowShowsItsValues()
    {
        ZengzhiWidget row;
        QCOMPARE(row.objectName(), QStringLiteral("ZengzhiWidget"));
        QCOMPARE(row.size(), QSize(390, 70));
        QCOMPARE(labelText(&row, "label_5"), QStringLiteral("未开通"));

        row.setAddonData(QStringLiteral("42"), m_server.baseUrl() + QStringLiteral("icons/a.png"),
                         QStringLiteral("端口加速"), QStringLiteral("更快的映射"),
                         QStringLiteral("详细说明"), QStringLiteral("已开通"),
                         QStringLiteral("http://127.0.0.1:1/ad.png"), QStringLiteral("映射配置"));
        QCOMPARE(labelText(&row, "label_2"), QStringLiteral("端口加速"));
        QCOMPARE(labelText(&row, "label_3"), QStringLiteral("更快的映射"));
        QCOMPARE(labelText(&row, "label_5"), QStringLiteral("已开通"));
        QCOMPARE(row.id(), QStringLiteral("42"));
        QCOMPARE(row.title(), QStringLiteral("更快的映射"));
        QCOMPARE(row.content(), QStringLiteral("详细说明"));
        QCOMPARE(row.adUrl(), QStringLiteral("http://127.0.0.1:1/ad.png"));
        QTRY_COMPARE(shownPicture(&row).convertToFormat(QImage::Format_ARGB32), m_picture);

        QSignalSpy spy(&row, &ZengzhiWidget::messageSent);
        press(&row, QPoint(100, 20)); // name
        press(&row, QPoint(330, 35)); // state text
        press(&row, QPoint(375, 37)); // arrow
        QCOMPARE(spy.count(), 3);
        for (const QList<QVariant> &args : spy)
            QCOMPARE(args.at(0).toString(), QStringLiteral("42"));
    }

    void failedIconLeavesEmptyPicture_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("not found") << QStringLiteral("icons/missing.png");
        QTest::newRow("not a picture") << QStringLiteral("icons/text");
        QTest::newRow("no url") << QString();
    }

    void failedIconLeavesEmptyPicture()
    {
        QFETCH(QString, path);
        const QString url = path.isEmpty() ? QString() : m_server.baseUrl() + path;
        m_server.clearRequests();
        ChangjingWidget scene;
        scene.setSceneData(QStringLiteral("1"), QStringLiteral("A"), QString(), QString(), url);
        // Not the form's sample picture while it is awaited either.
        QVERIFY(shownPicture(&scene).isNull());
        ZengzhiWidget addon;
        addon.setAddonData(QStringLiteral("1"), url, QStringLiteral("A"), QString(), QString(),
                           QString(), QString(), QString());
        QVERIFY(shownPicture(&addon).isNull());
        if (!url.isEmpty())
            QVERIFY(m_server.waitForRequests(2, 3000));
        QTest::qWait(200); // the answers are in
        QVERIFY(shownPicture(&scene).isNull());
        QVERIFY(shownPicture(&addon).isNull());
    }

    // A host that accepts and never answers holds up nothing: the row is
    // complete at once, and its picture is given up on after the time-out.
    void silentIconHostIsGivenUpOn()
    {
        // A host of its own: the shared one keeps earlier connections open.
        FakeHttpServer silentHost;
        QVERIFY(listenSilently(silentHost));
        ChangjingWidget row;
        QElapsedTimer clock;
        clock.start();
        row.setSceneData(QStringLiteral("1"), QStringLiteral("A"), QString(), QString(),
                         silentHost.baseUrl() + QStringLiteral("icons/silent.png"));
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(labelText(&row, "label_name"), QStringLiteral("A"));
        QTRY_COMPARE(silentHost.openConnections(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(silentHost.openConnections(), 0, RowIconTimeoutMs + 2000);
        QVERIFY2(clock.elapsed() >= RowIconTimeoutMs * 9 / 10,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(shownPicture(&row).isNull());
    }

    void rowDestroyedDuringDownload()
    {
        // The page that holds the row goes away while the icon is awaited:
        // its transfer goes with it, and nothing reaches the freed row after
        // (the sanitizers would say).
        FakeHttpServer silentHost;
        QVERIFY(listenSilently(silentHost));
        auto *page = new QWidget;
        auto *row = new ZengzhiWidget(page);
        row->setAddonData(QStringLiteral("1"), silentHost.baseUrl() + QStringLiteral("icon.png"),
                          QStringLiteral("A"), QString(), QString(), QString(), QString(),
                          QString());
        QTRY_COMPARE(silentHost.openConnections(), 1);
        delete page;
        QTRY_COMPARE_WITH_TIMEOUT(silentHost.openConnections(), 0, 1000);
        QTest::qWait(RowIconTimeoutMs + 500);
    }

    void hoverLightensBackground()
    {
        ChangjingWidget scene;
        ZengzhiWidget addon;
        for (QWidget *row : {static_cast<QWidget *>(&scene), static_cast<QWidget *>(&addon)}) {
            row->show();
            QCOMPARE(row->grab().toImage().pixelColor(3, 3), QColor(232, 232, 232));
            row->setAttribute(Qt::WA_UnderMouse, true);
            QCOMPARE(row->grab().toImage().pixelColor(3, 3), QColor(221, 221, 221));
        }
    }

    // Pictures of both rows for a look by eye (see screenshotDir).
    void screenshots()
    {
        const QString dir = screenshotDir();
        ChangjingWidget scene;
        scene.setSceneData(QStringLiteral("1"), QStringLiteral("MySQL数据库"), QString(), QString(),
                           m_server.baseUrl() + QStringLiteral("icons/a.png"));
        QTRY_VERIFY(!shownPicture(&scene).isNull());
        QVERIFY(scene.grab().save(dir + QStringLiteral("/row_scene.png")));
        ChangjingWidget sceneDefault;
        QVERIFY(sceneDefault.grab().save(dir + QStringLiteral("/row_scene_form.png")));
        ZengzhiWidget addon;
        QVERIFY(addon.grab().save(dir + QStringLiteral("/row_addon_form.png")));
    }
};

QTEST_MAIN(TestCatalogueRows)
#include "tst_catalogue_rows.moc"
