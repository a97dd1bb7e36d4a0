#pragma once

#include "print/PageSetup.h"

#include <QDialog>

#include <memory>

class DialogService;
class MessageService;
class QLineEdit;

namespace Ui {
class frmPageSetup;
}

// The page-setup window (frmPageSetup.ui): loads a grid's page setup
// (SetGrid), lets the operator edit it on three tabs and writes it back on
// "确定" (mnn). The font choices go through the dialog seam, failures
// through the message seam.
class frmPageSetup : public QDialog
{
    Q_OBJECT
public:
    frmPageSetup(DialogService *dialogs, MessageService *messages, QWidget *parent = nullptr);
    ~frmPageSetup() override;

    // Keeps setup for the life of the window and loads every control from it.
    void SetGrid(PageSetup &setup);

    // "确定": writes the controls into the page setup in the specified order
    // and closes; on a refused value says why (title "错误") and stays open.
    void writeBack();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void paperChosen(int position);
    void placeDiagramPicture();
    void setFontFor(QLineEdit *box);

    std::unique_ptr<Ui::frmPageSetup> m_ui;
    // The controls of the page-setup fields, in the order of their table.
    QList<QWidget *> m_fieldControls;
    DialogService *m_dialogs;
    MessageService *m_messages;
    PageSetup *m_setup = nullptr;
};
