#include "capture/PictureControlSet.h"

namespace {
// Lists and switches first (automatic white balance, exposure mode), then the
// values they govern: while an automatic mode is on its value may be refused.
bool setInOrder(PictureControlSet &set, const QHash<quint32, int> &wanted)
{
    bool ok = true;
    for (int pass = 0; pass < 2; ++pass) {
        for (const PictureControl &c : set.controls()) {
            if (c.readOnly || c.type == PictureControl::Type::Button || !wanted.contains(c.id))
                continue;
            if ((pass == 0) == (c.type == PictureControl::Type::Integer))
                continue;
            const int value = wanted.value(c.id);
            // A value governed by an automatic mode may be refused; that is no failure.
            if (c.value != value && !set.setValue(c.id, value) && !c.inactive)
                ok = false;
        }
    }
    return ok;
}
} // namespace

bool PictureControlSet::restoreDefaults()
{
    QHash<quint32, int> defaults;
    for (const PictureControl &c : controls())
        defaults.insert(c.id, c.defaultValue);
    return setInOrder(*this, defaults);
}

bool PictureControlSet::restoreValues(const QHash<quint32, int> &values)
{
    return setInOrder(*this, values);
}
