#pragma once

#include "framing/Framing.h"

#include <QObject>
#include <QSize>
#include <QStringList>

#include <memory>
#include <mutex>

class CaptureControl;
class FramingEngine;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// Face-aware framing on the "照片设置" page and beside the video:
// - "证件照规格" (Comgg): 自定义 leaves the photo size to "照片高"/"照片宽" as
//   before; a rule sets them (and locks them), and the resolution written
//   into the photo files;
// - "人脸自动居中" (Cherl): the photo is cut around the face found in the
//   still, the head at the rule's share of the height; with no face or
//   several, the fixed guide is used and the status line says why. The
//   guide over the live video follows the face;
// - the "取景检查" panel (Frame6, in the preview frame) shows the seven
//   checks of the live picture; the guide is drawn passing (green) when all
//   pass. "检查不合格时先询问" (Cheqj) makes the save ask when the still
//   failed any.
// Faces in the live picture are looked for on the frame tap's thread, a few
// times a second on frames 320 pixels wide, while either box is ticked; the
// GUI thread only shows the result and moves the guide. With both off the
// camera works as it did before the framing, at no cost for it.
class FramingPanel : public QObject
{
    Q_OBJECT
public:
    struct Controls
    {
        QComboBox *Comgg;       // 证件照规格
        QCheckBox *Cherl;       // 人脸自动居中
        QCheckBox *Cheqj;       // 检查不合格时先询问
        QLineEdit *Texg;        // 照片高
        QLineEdit *Textk;       // 照片宽
        QPushButton *Command10; // 更改
        QWidget *Frame2;        // the preview frame, which holds the checks panel
    };

    // capture may be nullptr (no camera component).
    FramingPanel(const Controls &controls, CaptureControl *capture, QObject *parent = nullptr);
    ~FramingPanel() override;

    const IdRule &rule() const;
    // Why faces cannot be found (no cascade files); empty when they can.
    QString finderError();

    // Frames the still just taken: where the photo is cut from and the
    // checks; returns what the status line says of it.
    QString frameStill();
    // The checks the still failed, in the panel's order (empty when it
    // passed, or no still was framed).
    QStringList stillFailed() const { return m_stillFailed; }
    // The operator asked to be asked before saving a still that failed.
    bool askBeforeSaving() const;

    // Live video started (or came back after a take) or stopped.
    void liveChanged(bool live);

    // Applies the chosen rule's size again (after the stored photo size was
    // restored over it); nothing for 自定义.
    void reapplyRule();

    // The stored choices: written with the picture settings at close,
    // applied at start-up.
    void save() const;
    void restore();
    // Their keys, beside the 29 of the settings table: the rule's index
    // ("zpgg") and the two tick boxes ("zprlche", "zpqjche").
    static QStringList settingsKeys();

    // The checks panel's lines, as shown ("✓ 单人 一人").
    QStringList panelLines() const;
    // The report of the newest live frame shown.
    const FramingReport &liveReport() const { return m_liveReport; }
    // Shows a report of a live frame (the tap's thread posts them here).
    void showLive(const FramingReport &report);

signals:
    void status(const QString &text);

private:
    // What the tap's thread reads: set here, read there.
    struct Snapshot
    {
        QSize crop;
        int rule = 0;
        bool autoCentre = false;
    };
    // Makes the finder the first time; false when it cannot find faces.
    bool ensureFinder();
    // Whether either box asks for the framing: the checks and the face
    // search run only then.
    bool framingWanted() const;
    // Looks at the live frames from the tap (on) or no longer (off).
    void inspectLive(bool on);
    void ruleChosen(int index);
    void updateSnapshot();
    void inspect(const QImage &frame); // the tap's thread
    void showChecks(const FramingReport &report);

    Controls m_c;
    CaptureControl *m_capture;
    std::unique_ptr<FramingEngine> m_finder;
    QString m_finderError; // why there is no finder
    int m_tapId = 0;
    QFrame *m_panel = nullptr;
    QList<QLabel *> m_lines;
    mutable std::mutex m_snapshotLock;
    Snapshot m_snapshot;
    bool m_showingLive = false; // live video shows and no still is held, checks shown
    bool m_live = false;        // live video shows and no still is held
    FramingReport m_liveReport;
    QRectF m_guideRegion; // where the live guide stands (fractions of the frame)
    QStringList m_stillFailed;
};
