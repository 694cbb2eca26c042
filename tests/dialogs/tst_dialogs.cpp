#include "dialogs/msgtipwidget.h"
#include "dialogs/myconfirmdialog.h"
#include "dialogs/mymsgdialog.h"
#include "support/testenv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// Runs exec() while `action` is applied to the active modal widget; a watchdog
// ends a dialog that stays open with 42.
int execDriven(QDialog &dialog, const std::function<void(QWidget *)> &action)
{
    QTimer::singleShot(0, &dialog, [action] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            action(modal);
        }
    });
    QTimer::singleShot(5000, &dialog, [&dialog] { dialog.done(42); });
    return dialog.exec();
}

void pressEscape(QWidget *modal)
{
    QTest::keyClick(modal->focusWidget() ? modal->focusWidget() : modal, Qt::Key_Escape);
}

std::function<void(QWidget *)> clicker(const char *name)
{
    return [name](QWidget *modal) {
        if (auto *button = modal->findChild<QPushButton *>(QLatin1String(name))) {
            QTest::mouseClick(button, Qt::LeftButton);
        }
    };
}

void sendMouse(QWidget *w, QEvent::Type type, const QPoint &global, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    const QPoint local = w->mapFromGlobal(global);
    QMouseEvent event(type, local, local, global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void checkDragging(QDialog *dialog, const QPoint &grab)
{
    // A right-button drag leaves the dialog where it is.
    const QPoint startPos = dialog->pos();
    QPoint cursor = dialog->mapToGlobal(grab);
    sendMouse(dialog, QEvent::MouseButtonPress, cursor, Qt::RightButton, Qt::RightButton);
    sendMouse(dialog, QEvent::MouseMove, cursor + QPoint(60, 45), Qt::NoButton, Qt::RightButton);
    sendMouse(dialog, QEvent::MouseButtonRelease, cursor, Qt::RightButton, Qt::NoButton);
    QTest::qWait(50);
    QCOMPARE(dialog->pos(), startPos);

    // A left-button drag keeps the cursor over the same point of the dialog.
    sendMouse(dialog, QEvent::MouseButtonPress, cursor, Qt::LeftButton, Qt::LeftButton);
    for (const QPoint &step : {QPoint(5, 3), QPoint(40, 25), QPoint(-70, 10)}) {
        cursor += step;
        sendMouse(dialog, QEvent::MouseMove, cursor, Qt::NoButton, Qt::LeftButton);
        QTRY_COMPARE(dialog->mapFromGlobal(cursor), grab);
    }
    sendMouse(dialog, QEvent::MouseButtonRelease, cursor, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(dialog->pos(), startPos + QPoint(-25, 38));

    // After the release, moving the mouse no longer carries the dialog.
    sendMouse(dialog, QEvent::MouseMove, cursor + QPoint(30, 30), Qt::NoButton, Qt::NoButton);
    QTest::qWait(50);
    QCOMPARE(dialog->pos(), startPos + QPoint(-25, 38));
}

// What setTipIcon shows for a picture: scaled into the 21x21 label.
QImage tipIcon(const QString &path)
{
    return QPixmap(path)
        .scaled(QSize(21, 21), Qt::KeepAspectRatio, Qt::FastTransformation)
        .toImage();
}

QImage labelImage(QWidget *w)
{
    auto *label = w->findChild<QLabel *>(QStringLiteral("label"));
    return label ? label->pixmap(Qt::ReturnByValue).toImage() : QImage();
}

QString labelText(QWidget *w)
{
    auto *label = w->findChild<QLabel *>(QStringLiteral("label_2"));
    return label ? label->text() : QString();
}

// Records when a widget gets hidden, measured from construction.
class HideClock : public QObject
{
public:
    explicit HideClock(QWidget *watched)
    {
        watched->installEventFilter(this);
        m_clock.start();
    }
    qint64 ms() const { return m_hiddenAfter; }
    bool inWindow() const { return m_hiddenAfter >= 2800 && m_hiddenAfter <= 3500; }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Hide && m_hiddenAfter < 0) {
            m_hiddenAfter = m_clock.elapsed();
        }
        return false;
    }

private:
    QElapsedTimer m_clock;
    qint64 m_hiddenAfter = -1;
};

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void confirmDialog();
    void confirmDialogAnswers();
    void msgDialog();
    void dragging();
    void tipShowsInsideWindow();
    void tipIconPerKind_data();
    void tipIconPerKind();
    void tipsHideThreeSecondsAfterShowTip();
    void tipDestroyedWithParentBeforeTimeout();
};

void TestDialogs::initTestCase()
{
    initTestEnvironment();
}

void TestDialogs::confirmDialog()
{
    QWidget owner;
    MyConfirmDialog dialog(&owner);
    QVERIFY(dialog.isWindow());
    QVERIFY(!(dialog.windowFlags() & Qt::FramelessWindowHint));
    QCOMPARE(dialog.size(), QSize(485, 130));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Dialog"));
    QCOMPARE(labelText(&dialog), QStringLiteral("此操作需登录控制台，点击确认跳转到控制台？"));
    QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("btn_ok"))->text(),
             QStringLiteral("确定"));
    QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("btn_cance"))->text(),
             QStringLiteral("取消"));
    const QImage picture = QPixmap(QStringLiteral(":/images/icon/big_tip1.png")).toImage();
    QVERIFY(!picture.isNull());
    QCOMPARE(labelImage(&dialog), picture);

    dialog.setMessage(QStringLiteral("删除映射需登录控制台，点击确认跳转到控制台？"),
                      QStringLiteral("操作提示"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("操作提示"));
    QCOMPARE(labelText(&dialog), QStringLiteral("删除映射需登录控制台，点击确认跳转到控制台？"));
}

void TestDialogs::confirmDialogAnswers()
{
    QWidget owner;
    owner.show();
    const QList<QPair<std::function<void(QWidget *)>, int>> cases = {
        {clicker("btn_ok"), QDialog::Accepted},
        {clicker("btn_cance"), QDialog::Rejected},
        {pressEscape, QDialog::Rejected},
        {[](QWidget *m) { m->close(); }, QDialog::Rejected}, // title bar close
        {[](QWidget *m) { QMetaObject::invokeMethod(m, "closeBtn_press"); }, QDialog::Rejected},
    };
    for (int i = 0; i < cases.size(); ++i) {
        MyConfirmDialog dialog(&owner);
        dialog.setMessage(QStringLiteral("是否要退出当前客户端?"), QStringLiteral("操作提示"));
        QVERIFY2(execDriven(dialog, cases[i].first) == cases[i].second,
                 qPrintable(QStringLiteral("case %1").arg(i)));
    }
}

void TestDialogs::msgDialog()
{
    {
        MyMsgDialog dialog;
        QVERIFY(dialog.isModal());
        QVERIFY(!(dialog.windowFlags() & Qt::FramelessWindowHint));
        QCOMPARE(dialog.size(), QSize(489, 181));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Dialog"));
        QVERIFY(labelText(&dialog).isEmpty());
        QCOMPARE(dialog.findChildren<QPushButton *>().size(), 1);
        const QImage picture = QPixmap(QStringLiteral(":/images/icon/big_tip2.png")).toImage();
        QVERIFY(!picture.isNull());
        QCOMPARE(labelImage(&dialog), picture);

        dialog.setMessage(QStringLiteral("您当前网络或环境未初始化，请重新登录！"),
                          QStringLiteral("操作提示"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("操作提示"));
        QCOMPARE(labelText(&dialog), QStringLiteral("您当前网络或环境未初始化，请重新登录！"));
        QCOMPARE(execDriven(dialog, clicker("btn_ok")), int(QDialog::Accepted));
    }
    {
        MyMsgDialog dialog;
        QCOMPARE(execDriven(dialog, pressEscape), int(QDialog::Rejected));
    }
}

void TestDialogs::dragging()
{
    QWidget owner;
    MyConfirmDialog confirm(&owner);
    confirm.move(200, 150);
    confirm.show();
    QVERIFY(QTest::qWaitForWindowExposed(&confirm));
    checkDragging(&confirm, QPoint(20, 100));
    // Pressed on the message label, the press reaches the dialog too.
    checkDragging(&confirm, QPoint(300, 40));

    MyMsgDialog message;
    message.move(100, 80);
    message.show();
    QVERIFY(QTest::qWaitForWindowExposed(&message));
    checkDragging(&message, QPoint(15, 160));
}

void TestDialogs::tipShowsInsideWindow()
{
    QWidget window;
    window.resize(800, 600);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    auto *tip = new MsgTipWidget(&window);
    QVERIFY(tip->isVisible());
    QVERIFY(!tip->isWindow());
    QCOMPARE(tip->parentWidget(), &window);
    QCOMPARE(labelText(tip), QStringLiteral("操作成功"));
    QCOMPARE(labelImage(tip), QPixmap(QStringLiteral(":/images/icon/online.png")).toImage());

    tip->showTip(1, QStringLiteral("登录成功，跳转中..."));
    tip->move(300, 2);
    QCOMPARE(labelText(tip), QStringLiteral("登录成功，跳转中..."));
    // The light-green background is painted.
    const QImage shot = window.grab(QRect(300, 2, 250, 25)).toImage();
    QCOMPARE(QColor(shot.pixel(5, 12)), QColor(225, 255, 189));
    QCOMPARE(QColor(shot.pixel(245, 2)), QColor(225, 255, 189));

    // A long text is cut off; the tip does not grow.
    const QString text = QStringLiteral("很长的提示文字").repeated(10);
    tip->showTip(-1, text);
    QCoreApplication::processEvents();
    QCOMPARE(labelText(tip), text);
    QCOMPARE(tip->size(), QSize(250, 25));
    QCOMPARE(tip->findChild<QLabel *>(QStringLiteral("label_2"))->width(), 211);
}

void TestDialogs::tipIconPerKind_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("icon");
    QTest::newRow("success") << 1 << QStringLiteral(":/images/icon/online.png");
    QTest::newRow("information") << 0 << QStringLiteral(":/images/icon/info.png");
    QTest::newRow("error") << -1 << QStringLiteral(":/images/icon/error.png");
}

void TestDialogs::tipIconPerKind()
{
    QFETCH(int, kind);
    QFETCH(QString, icon);

    // The pictures must differ, or a wrong icon would go unnoticed.
    const QImage online = tipIcon(QStringLiteral(":/images/icon/online.png"));
    const QImage info = tipIcon(QStringLiteral(":/images/icon/info.png"));
    const QImage error = tipIcon(QStringLiteral(":/images/icon/error.png"));
    QVERIFY(!online.isNull() && !info.isNull() && !error.isNull());
    QVERIFY(online != info && online != error && info != error);

    QWidget window;
    window.show();
    auto *tip = new MsgTipWidget(&window);
    // Start from another kind's icon, so a kind that changes nothing fails.
    tip->showTip(kind == -1 ? 0 : -1, QStringLiteral("前一条"));
    QVERIFY(labelImage(tip) != tipIcon(icon));
    tip->showTip(kind, QStringLiteral("请填写映射名称"));
    QCOMPARE(labelImage(tip), tipIcon(icon));
    QVERIFY(tip->findChild<QLabel *>(QStringLiteral("label"))->isVisible());

    // Any other kind keeps the icon shown.
    tip->showTip(2, QStringLiteral("其他"));
    QCOMPARE(labelImage(tip), tipIcon(icon));
    QCOMPARE(labelText(tip), QStringLiteral("其他"));
}

void TestDialogs::tipsHideThreeSecondsAfterShowTip()
{
    QWidget window;
    window.resize(800, 600);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // Kind 2 keeps the form's icon and still hides.
    QPointer<MsgTipWidget> first = new MsgTipWidget(&window);
    const QImage formIcon = labelImage(first);
    HideClock firstClock(first);
    first->showTip(2, QStringLiteral("已复制到剪切板"));
    first->move(300, 2);
    QCOMPARE(labelImage(first), formIcon);

    QTest::qWait(1000);
    QPointer<MsgTipWidget> second = new MsgTipWidget(&window);
    HideClock secondClock(second);
    second->showTip(1, QStringLiteral("服务重启成功!"));
    second->move(300, 2);
    // The newer tip covers the older one.
    QWidget *top = window.childAt(QPoint(400, 12));
    QVERIFY(top && (top == second || top->parentWidget() == second));

    // Hidden, and then freed: a tip is never shown again, and a window open
    // for long would otherwise gather every tip it ever showed.
    QTest::qWait(1600);
    QVERIFY2(first && first->isVisible(), "tip hid before 2600 ms");
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 2000);
    QVERIFY2(second && second->isVisible(), "the newer tip hid together with the older one");
    QTRY_VERIFY_WITH_TIMEOUT(second.isNull(), 2000);
    // A coarse timer may fire up to 5 % early or late.
    QVERIFY2(firstClock.inWindow(), qPrintable(QString::number(firstClock.ms())));
    QVERIFY2(secondClock.inWindow(), qPrintable(QString::number(secondClock.ms())));
    QVERIFY(window.findChildren<MsgTipWidget *>().isEmpty());
}

void TestDialogs::tipDestroyedWithParentBeforeTimeout()
{
    auto window = std::make_unique<QWidget>();
    window->show();
    QPointer<MsgTipWidget> tip = new MsgTipWidget(window.get());
    tip->showTip(-1, QStringLiteral("登录失败"));
    QTest::qWait(100);
    window.reset();
    QVERIFY(tip.isNull());
    // The pending hide must not reach the destroyed tip (the sanitizers report
    // it if it does).
    QTest::qWait(3300);
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
