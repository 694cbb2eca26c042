#pragma once

#include <QStringList>

class QWidget;

// The labels under `root` (every page of a page stack included, each as laid
// out now) whose text does not fit in them (wider than a label that keeps to
// one line, taller than one that wraps): one line each, "window/label:
// text (needs W x H, has W x H)". Labels hidden on purpose and labels without
// text are left out.
QStringList clippedLabels(const QWidget *root);
