#pragma once

#include <QString>
#include <QWidget>

class QLabel;

namespace Ui {
class ChangjingWidget;
}

// Longest wait for one row picture. The download blocks the GUI thread, so a
// host that never answers must not hold the window for good.
const int RowIconTimeoutMs = 5000;

// Downloads the picture at url and puts it unscaled on label, which is then
// shown; both kinds of catalogue row load their icon this way. A download that
// fails, times out or is not a picture leaves the label with an empty picture.
// Safe if the label is destroyed while waiting.
void loadRowIcon(QLabel *label, const QString &url);

// One row of the scene mappings page: the scene's icon and name. A press
// anywhere on the row emits messageSent with the scene's name.
class ChangjingWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ChangjingWidget(QWidget *parent = nullptr);
    ~ChangjingWidget() override;

    // Stores the values, shows the name ("默认" when empty) and downloads the
    // icon picture, blocking for at most 5000 ms.
    void setSceneData(const QString &id, const QString &name, const QString &title,
                      const QString &content, const QString &icon);

    QString id() const { return m_id; }
    QString name() const { return m_name; }
    QString title() const { return m_title; }
    QString content() const { return m_content; }
    QString icon() const { return m_icon; }

signals:
    void messageSent(QString name);

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    QString m_id;
    QString m_name;
    QString m_title;
    QString m_content;
    QString m_icon;
    Ui::ChangjingWidget *ui;
};
