#pragma once

#include <QStringList>

namespace lumora::engine {

// The names a table's fields go by in statements and in the grid's header:
// the names as the file spells them, except that a name already taken by an
// earlier field (ignoring letter case, as statements do) gets the first free
// suffix "_2", "_3" ... that no other field's name takes. So two fields
// spelled Point_ID become Point_ID and Point_ID_2, and every field can be
// addressed by its own name.
QStringList uniqueFieldNames(const QStringList &names);

} // namespace lumora::engine
