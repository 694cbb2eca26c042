#pragma once

#include <QPixmap>
#include <QString>

class QApplication;

// The client's pictures on displays scaled by 150 % and more: every picture
// ":/images/icon/NAME.png" has a twice-as-large "NAME@2x.png", drawn for it,
// which is shown in its place instead of the small one enlarged.
namespace pictures {

// The picture at `path` as sharp as the display wants it.
QPixmap load(const QString &path);

// Windows from forms get their pictures from the small files: each label's
// picture is swapped for its larger version as the label is first shown.
// Does nothing on displays at 100 %.
void sharpenFormPictures(QApplication &app);

} // namespace pictures
