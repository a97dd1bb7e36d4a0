#pragma once

#include "print/PageSetup.h"

#include <QDialog>

class DialogService;
class MessageService;
class ValueListBox;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabBar;

// The page-setup window: loads a grid's page setup (SetGrid), lets the
// operator edit it on three tabs and writes it back on "确定" (mnn). The
// font choices go through the dialog seam, failures through the message seam.
class frmPageSetup : public QDialog
{
    Q_OBJECT
public:
    frmPageSetup(DialogService *dialogs, MessageService *messages, QWidget *parent = nullptr);

    // Keeps setup for the life of the window and loads every control from it.
    void SetGrid(PageSetup &setup);

    // "确定": writes the controls into the page setup in the specified order
    // and closes; on a refused value says why (title "错误") and stays open.
    void writeBack();

    // The page diagram's parts, for whoever checks the picture's place.
    QLabel *diagramPicture() const { return m_imgGrid; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *buildPaperPanel();
    QWidget *buildMarginPanel();
    QWidget *buildHeaderFooterPanel();
    void showPanel(int index);
    void paperChosen(int position);
    void placeDiagramPicture();
    void setFontFor(QLineEdit *box);
    ValueListBox *valueList(const char *name, const QStringList &lines);

    DialogService *m_dialogs;
    MessageService *m_messages;
    PageSetup *m_setup = nullptr;

    QTabBar *m_tabs;
    QList<QWidget *> m_panels;
    QRadioButton *m_portrait;
    QRadioButton *m_landscape;
    QComboBox *m_paper;
    QLabel *m_widthLabel;
    QLabel *m_heightLabel;
    QLineEdit *m_width;
    QLineEdit *m_height;
    ValueListBox *m_zoom;
    ValueListBox *m_titleRows;
    ValueListBox *m_titleColumns;
    ValueListBox *m_bottomTitleRows;
    QCheckBox *m_fixedRow;
    QCheckBox *m_fixedColumn;
    QCheckBox *m_gridlines;
    QCheckBox *m_blackAndWhite;
    QCheckBox *m_centreH;
    QCheckBox *m_centreV;
    ValueListBox *m_top;
    ValueListBox *m_bottom;
    ValueListBox *m_left;
    ValueListBox *m_right;
    ValueListBox *m_headerMargin;
    ValueListBox *m_footerMargin;
    QFrame *m_lineTop;
    QFrame *m_lineBottom;
    QFrame *m_lineLeft;
    QFrame *m_lineRight;
    QFrame *m_lineHeader;
    QFrame *m_lineFooter;
    QLabel *m_imgGrid;
    QLineEdit *m_header;
    QLineEdit *m_footer;
    QComboBox *m_headerAlign;
    QComboBox *m_footerAlign;
};
