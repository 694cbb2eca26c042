#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

// The provider's pictures: avatar, smart-device picture, catalogue icons and
// advertisements. They are drawn once at start-up and served as PNG files.
class Pictures
{
public:
    Pictures();

    // PNG bytes for a path such as "images/scene/rdp.png", or empty when unknown.
    QByteArray png(const QString &path) const { return m_files.value(path); }
    QStringList paths() const { return m_files.keys(); }

    static const char *const kDefaultAvatar;
    static const char *const kDevicePicture;

private:
    QHash<QString, QByteArray> m_files;
};
