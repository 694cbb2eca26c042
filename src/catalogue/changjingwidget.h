#pragma once

#include <QString>
#include <QWidget>

class QLabel;

namespace Ui {
class ChangjingWidget;
}

// Longest wait for one row picture; a host that never answers is given up
// on after it.
const int RowIconTimeoutMs = 5000;

// Starts the download of the picture at url and returns at once; the label is
// shown, empty, and gets the picture unscaled when it arrives. Both kinds of
// catalogue row load their icon this way. A download that fails, times out or
// is not a picture leaves the label empty; a label destroyed meanwhile takes
// nothing and its transfer is dropped.
void loadRowIcon(QLabel *label, const QString &url);

// One row of the scene mappings page: the scene's icon and name. A press
// anywhere on the row emits messageSent with the scene's name.
class ChangjingWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ChangjingWidget(QWidget *parent = nullptr);
    ~ChangjingWidget() override;

    // Stores the values, shows the name ("默认" when empty) and starts the
    // download of the icon picture.
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
