// The calibration application's targets: where on the screen and in which
// order, taken from the driver's own conversion, so that the k-th point the
// driver stores is the device position of the k-th target shown.
#pragma once

#include "CompanionTypes.h" // IsScreenPointCount

#include <wx/gdicmn.h>

#include <vector>

// The targets of a `count`-point calibration on a `width` x `height` screen,
// in the order they are shown: column by column, each column top to bottom.
// Empty for a count that is not a calibration grid.
std::vector<wxPoint> OrientTargets(int count, int width, int height);
