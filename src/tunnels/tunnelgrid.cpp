#include "tunnels/tunnelgrid.h"

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

} // namespace tunnelgrid
