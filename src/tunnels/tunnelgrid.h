#pragma once

#include <QPoint>

// Where the tunnel cards go inside the scrolling list of the tunnel page: two
// columns 300 px apart, rows 180 px apart, as many rows as there are tunnels.
namespace tunnelgrid {

constexpr int kColumns = 2;
constexpr int kLeft = 10;
constexpr int kColumnStep = 300;
constexpr int kRowStep = 180;

// Position of card `index` (from 0) in the list container.
QPoint cardPosition(int index);
// Height the container needs so that `count` cards can all be scrolled to.
int listHeight(int count);

} // namespace tunnelgrid
