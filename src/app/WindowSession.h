#pragma once

#include "data/DataSource.h"
#include "data/RosterCursor.h"
#include "data/RosterModel.h"
#include "naming/NamingState.h"

#include <QObject>

// What one run of the main window works on, apart from its controls: the
// roster open, the rows the grid shows of it and where the operator stands,
// and where the next picture goes. The window owns one (objectName
// "session") and hands its parts to the panels; the grid only shows the
// roster and follows the cursor.
class WindowSession : public QObject
{
    Q_OBJECT
public:
    explicit WindowSession(QObject *parent = nullptr)
        : QObject(parent)
    {
        setObjectName(QStringLiteral("session"));
    }

    DataSource source;
    RosterModel roster;
    RosterCursor cursor;
    NamingState naming;
};
