#include "naming/NextPerson.h"

#include "naming/SaveHost.h"

int NextRowBeforeWriteBack(int savedRow, int gridRows, int previousResume)
{
    return savedRow < gridRows ? savedRow + 1 : previousResume;
}

int NextRowAfterWriteBack(int savedRow, int planned, const WriteBackNote &note)
{
    if (note.nextRow > 0)
        return note.nextRow;
    return note.rowRemoved ? savedRow : planned;
}
