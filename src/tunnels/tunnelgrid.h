#pragma once

#include <QPoint>

// Where the tunnel cards go inside the scrolling list of the tunnel page: two
// columns 300 px apart, rows 180 px apart, as many rows as there are tunnels.
// Cards are made only near the part of the list in view: a card costs about a
// millisecond to build, and an account may list thousands of tunnels.
namespace tunnelgrid {

constexpr int kColumns = 2;
constexpr int kLeft = 10;
constexpr int kColumnStep = 300;
constexpr int kRowStep = 180;

// Position of card `index` (from 0) in the list container.
QPoint cardPosition(int index);
// Height the container needs so that `count` cards can all be scrolled to.
int listHeight(int count);

// Cards [first, end) that touch the band of the list shown at scroll offset
// `scrollTop` in a view `viewHeight` high, widened by one view above and one
// below so that scrolling reveals cards that already exist.
struct CardRange
{
    int first = 0;
    int end = 0;
};
CardRange cardsNearView(int scrollTop, int viewHeight, int count);

} // namespace tunnelgrid
