#pragma once

struct WriteBackNote;

// Who is next after a photo was saved for grid row savedRow in data-table
// mode. Column 1 of that row is made active.
//
// Before the write-back, which may reload the grid onto the resume row: the
// row below the saved one while the saved row is inside the grid, else the
// resume row as it was. Below 1 there is nobody to go to.
int NextRowBeforeWriteBack(int savedRow, int gridRows, int previousResume);
// After it: the row the write-back names when people left the grid around
// the saved one; the saved row itself when the saved person left the grid
// (whoever was below moved up into it); else the row planned before.
int NextRowAfterWriteBack(int savedRow, int planned, const WriteBackNote &note);
