#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

// One picture control of a video source, as the picture settings dialog
// shows it: a slider, a check box, a list or a button.
struct PictureControl
{
    enum class Type {
        Integer,
        Boolean,
        Menu,
        Button
    };

    quint32 id = 0;
    QString name;
    Type type = Type::Integer;
    int minimum = 0;
    int maximum = 0;
    int step = 1;
    int defaultValue = 0;
    int value = 0;
    QList<QPair<int, QString>> menu; // value and caption of each entry, for Menu
    bool readOnly = false;
    bool inactive = false; // e.g. the white balance temperature while automatic white balance is on
};

// The picture controls a source offers, applied as soon as they are set.
class PictureControlSet
{
public:
    virtual ~PictureControlSet() = default;
    // The controls with their current values and states, read afresh.
    virtual QList<PictureControl> controls() = 0;
    // false with lastError() when the source refused the value.
    virtual bool setValue(quint32 id, int value) = 0;
    virtual QString lastError() const = 0;

    // Every writable control back to its default; false when one refused.
    bool restoreDefaults();
    // Each control in `values` (id → value) set again where it differs now.
    bool restoreValues(const QHash<quint32, int> &values);
};
