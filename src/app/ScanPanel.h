#pragma once

#include <QObject>
#include <QString>

class CameraScanner;
class CaptureControl;
class RosterModel;
class TableGrid;
class QAction;
class QAbstractButton;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QTimer;
class QWidget;
struct DataSource;

// Finding the person in front of the camera by the code on their card.
// "扫码": a line on the grid frame's caption line, above the filter's lists,
// that a hand scanner types into (the code and Enter, like a keyboard). It
// keeps the keyboard during a photo day: what is typed while a button or
// the grid has the focus goes into it, so a scan is never lost to a
// button; a box the operator types into keeps what is typed.
// "摄像头扫码" in the 照相 menu reads codes from the live video on a worker
// thread a few times a second.
// A code selects the one row whose first key equals it, as that key column
// compares values (see FindByCode); a code that finds nobody, several
// people, or a person the view leaves out changes nothing and the status
// line says why. The filter and "只显示未拍照" are left as the operator set
// them: a card from outside today's group is more likely a mistake in the
// queue than a reason to load the whole roster again.
class ScanPanel : public QObject
{
    Q_OBJECT
public:
    struct Controls
    {
        TableGrid *Grid1;
        QGroupBox *Frame4;
        QMenu *zhaox;             // 照相(&Z): 摄像头扫码 goes in it
        QAbstractButton *Option1; // data-table mode
    };

    ScanPanel(const Controls &controls, const DataSource &ds, CaptureControl *capture, QWidget *window);
    ~ScanPanel() override;

    // Places the line at the right end of the frame's caption line.
    void layOut();
    QLineEdit *box() const { return m_box; }
    QAction *cameraAction() const { return m_cameraScan; }

    // Looks the code up and, when it finds the one person shown, makes that
    // row current. From the camera it also beeps and flashes the row.
    // Returns whether the row was selected.
    bool scan(const QString &code, bool fromCamera = false);

    // The hook of the camera's frames: the newest live frame, offered to
    // the code reader (dropped while it is busy with the one before).
    void offerLiveFrame();

signals:
    void status(const QString &text);
    // A scan made grid row `row` current.
    void scanned(int row);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void cameraScanToggled(bool on);
    void flashRow(int row);

    Controls m_c;
    const DataSource &m_ds;
    CaptureControl *m_capture;
    QWidget *m_window;
    QLabel *m_label;
    QLineEdit *m_box;
    QAction *m_cameraScan;
    QTimer *m_frameTimer;
    CameraScanner *m_scanner = nullptr;
};
