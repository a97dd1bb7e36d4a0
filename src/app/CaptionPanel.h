#pragma once

#include "capture/Caption.h"

#include <QObject>
#include <QString>

class CaptureControl;
class DialogService;
class MessageService;
class RosterCursor;
class RosterModel;
class TableGrid;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;
struct NamingState;

// The caption line of the "照片设置" page: where its text comes from (the
// photo's file name, one or two columns of the current row, or typed text),
// where it stands in the photo, its size and colour, and the sample line
// Labet. While "照片上添加文本：" is ticked the line goes to the camera, which
// draws it into every saved photo and over the live video; it follows the
// current row and the next photo's name as they change.
class CaptionPanel : public QObject
{
    Q_OBJECT
public:
    struct Controls
    {
        QCheckBox *Check1;      // 照片上添加文本：
        QGroupBox *Frame5;      // the caption settings, shown while Check1 is ticked
        QComboBox *Comtext;     // source: 照片文件名, 从数据表中提取, 自定义
        QComboBox *Comt1;       // first column
        QCheckBox *Cheta;       // + a second column
        QComboBox *Comt2;       // second column
        QLineEdit *Textt;       // typed text
        QLineEdit *Texleft;     // distance from the photo's left edge
        QLineEdit *Textop;      // distance from the photo's top edge
        QLabel *fLabel;         // the font sample: size and colour as stored
        QPushButton *Command11; // 设置字体
        QLabel *Labet;          // the sample line
        QLineEdit *Texg;        // crop height: the limit of Textop
        QLineEdit *Textk;       // crop width: the limit of Texleft
        QRadioButton *Option1;  // data-table mode
        QLineEdit *Text2;       // the next photo's path: changes with its name
    };

    enum Source {
        PhotoName = 0,
        TableColumns = 1,
        TypedText = 2,
    };

    CaptionPanel(const Controls &controls, const TableGrid &grid, const RosterModel &roster,
                 const RosterCursor &cursor, const NamingState &naming, CaptureControl *capture,
                 MessageService *messages, DialogService *dialogs, QWidget *window);

    // The line's text for a source, as it stands now: the next photo's name;
    // the current row's cells of Comt1 and, while Cheta is ticked, Comt2
    // (empty outside data-table mode or with Cheta greyed); Textt's text.
    QString sourceText(int source) const;
    // The source chosen in Comtext; -1 while none is, or while a typed text
    // stands in the box.
    int source() const;
    // The line as the camera draws it; empty while Check1 is clear.
    Caption caption() const;
    // Sends the line to the camera when it changed.
    void refresh();

    // "设置字体": size and colour from the font dialog.
    void chooseFont();

    // fLabel's font size (points) and colour (packed): the stored ones.
    double fontSize() const;
    void setFontSize(double points);
    int colour() const { return m_colour; }
    void setColour(int packed);

private:
    void sourceChosen(int index);
    void sourceTyped();
    void showSample(const QString &text);
    QString positionCheck(const QString &text, const QLineEdit *cropSide);

    Controls m_c;
    const RosterModel &m_roster;
    const RosterCursor &m_cursor;
    const NamingState &m_naming;
    CaptureControl *m_capture;
    MessageService *m_messages;
    DialogService *m_dialogs;
    QWidget *m_window;
    int m_colour = 0;
    Caption m_sent;
};
