#pragma once

#include <QRect>

class QScreen;

// Regions are kept in the X screen's own pixels (what a grab copies), while Qt places windows
// in logical pixels: divided by each monitor's scale factor, around that monitor's top-left
// corner, which keeps its place. These convert between the two. GUI thread.

// The monitor whose pixels hold the middle of physical (the primary one when none does), and the
// rectangle in that monitor's logical pixels.
QScreen* screenOfPhysical(const QRect& physical);
QRect logicalFromPhysical(const QRect& physical, const QScreen* screen);

// The logical rectangle that covers every monitor.
QRect logicalDesktop();
