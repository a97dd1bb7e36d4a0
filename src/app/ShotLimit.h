#pragma once

#include <QObject>
#include <QSet>
#include <QString>

class MessageService;
class RosterModel;
class QAction;
class QMenu;
class QWidget;
struct DataSource;

// One photo a person a session, unless the operator says otherwise: before
// a photo is saved in data-table mode for a person who already had one
// saved since the roster was opened, or for a row a scan chose after the
// still was taken (the still may show the person before), the operator is
// asked. "同一人再拍时先询问" in the 照相 menu (stored) switches it off.
class ShotLimit : public QObject
{
    Q_OBJECT
public:
    ShotLimit(const DataSource &ds, const RosterModel &roster, MessageService *messages, QMenu *zhaox,
              QWidget *window);

    QAction *action() const { return m_action; }
    // Before the save of grid row `row`: false when the operator declined
    // (the status line then says so through `why`).
    bool mayShoot(int row, QString *why);
    // The save of the person mayShoot was asked about went through.
    void shot();
    // A still was taken with `row` current; a scan chose `row`.
    void stillTaken(int row);
    void scanned(int row);
    // Another roster: nobody in it has been photographed yet.
    void forget();

    // Who a row is: its table and key texts (its record without keys).
    QString personOf(int row) const;
    // What the operator is told the person is called.
    QString nameOf(int row) const;

private:
    const DataSource &m_ds;
    const RosterModel &m_roster;
    MessageService *m_messages;
    QWidget *m_window;
    QAction *m_action;
    QSet<QString> m_shot;
    QString m_asked; // the person of the last mayShoot
    int m_rowAtTake = -1;
    bool m_scannedSinceTake = false;
};
