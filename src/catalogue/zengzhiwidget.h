#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class ZengzhiWidget;
}

// One row of the value-added services page: icon, name, one-line title and
// state text. A press anywhere on the row emits messageSent with the
// service's id.
class ZengzhiWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ZengzhiWidget(QWidget *parent = nullptr);
    ~ZengzhiWidget() override;

    // Stores id, title, content and ad_url, shows name, title and state and
    // starts the download of the icon picture. stype only decides the
    // caller's tab and is not kept.
    void setAddonData(const QString &id, const QString &icon, const QString &name,
                      const QString &title, const QString &content, const QString &state,
                      const QString &ad_url, const QString &stype);

    QString id() const { return m_id; }
    QString title() const { return m_title; }
    QString content() const { return m_content; }
    QString adUrl() const { return m_adUrl; }

signals:
    void messageSent(QString id);

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    QString m_id;
    QString m_title;
    QString m_content;
    QString m_adUrl;
    Ui::ZengzhiWidget *ui;
};
