#include "support/modalanswer.h"

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace {

void click(QWidget *dialog, const QString &button)
{
    if (auto *answer = dialog->findChild<QPushButton *>(button))
        answer->click();
}

} // namespace

void answerNextModal(const char *button, std::function<void(QWidget *)> atOpen, int delayMs,
                     std::function<void()> beforeAnswer)
{
    auto *poll = new QTimer;
    poll->setInterval(20);
    const QString name = QLatin1String(button);
    QObject::connect(poll, &QTimer::timeout, [=] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        poll->stop();
        poll->deleteLater();
        if (atOpen)
            atOpen(modal);
        if (delayMs <= 0 && !beforeAnswer) {
            click(modal, name);
            return;
        }
        QPointer<QWidget> dialog(modal);
        QTimer::singleShot(delayMs, [=] {
            if (beforeAnswer)
                beforeAnswer();
            if (dialog)
                click(dialog, name);
        });
    });
    poll->start();
}
