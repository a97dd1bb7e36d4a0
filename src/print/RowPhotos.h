#pragma once

#include "naming/FormPhotoPath.h"
#include "print/GridPainter.h"

class RosterModel;

// The photo of grid row `row` and the name printed under it. In data-table
// mode the photo is the file the naming rules form for that row (the file
// the preview shows when the row is current) and the name is the text of the
// name columns; in ordinary mode the grid lists saved photos: the typed name
// in column 1, the file in column 2.
RowPhoto PhotoOfRow(const NamingInputs &inputs, const NamingState &naming, const RosterModel &grid, int row);
