#include "tunnels/tunnelgrid.h"

#include <QtGlobal>

namespace tunnelgrid {

QPoint cardPosition(int index)
{
    if (index < 0)
        index = 0;
    return QPoint(kLeft + kColumnStep * (index % kColumns), kRowStep * (index / kColumns));
}

int listHeight(int count)
{
    if (count < 0)
        count = 0;
    return kRowStep * ((count + kColumns - 1) / kColumns);
}

CardRange cardsNearView(int scrollTop, int viewHeight, int count)
{
    if (count <= 0)
        return {};
    scrollTop = qMax(0, scrollTop);
    viewHeight = qMax(kRowStep, viewHeight);
    const int firstRow = qMax(0, scrollTop - viewHeight) / kRowStep;
    // Last row whose top lies above the lower edge of the widened band.
    const qint64 bottom = qint64(scrollTop) + 2 * qint64(viewHeight);
    const qint64 endRow = (bottom + kRowStep - 1) / kRowStep;
    CardRange range;
    range.first = qMin(count, firstRow * kColumns);
    range.end = int(qMin<qint64>(count, endRow * kColumns));
    return range;
}

} // namespace tunnelgrid
