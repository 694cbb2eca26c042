#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>
#include <QtGlobal>

// The child of `root` called `name`; warns when there is none, so a renamed
// widget shows up in the log and not only as a crash.
template <typename T> T *namedChild(const QObject *root, const char *name)
{
    T *found = root->findChild<T *>(QLatin1String(name));
    if (!found)
        qWarning("no widget %s", name);
    return found;
}

// The text of the label `name` under `parent`, or "<no name>" without one.
QString labelText(const QWidget *parent, const char *name);
