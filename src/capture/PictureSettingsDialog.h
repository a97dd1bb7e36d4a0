#pragma once

#include "capture/PictureControlSet.h"

#include <QDialog>
#include <QHash>

class QLabel;

// "图片设置": one row per picture control of the source (slider, check box or
// list), each change applied at once; "恢复默认" sets every control back to
// its default. Cancel puts back the values the dialog started with.
class PictureSettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit PictureSettingsDialog(PictureControlSet *controls, QWidget *parent = nullptr);

    // The editor of one control (QSlider, QCheckBox, QComboBox or
    // QPushButton), named "control_<id>"; nullptr when there is none.
    QWidget *editorFor(quint32 id) const { return m_editors.value(id); }

public slots:
    void restoreDefaults();
    void reject() override;

private:
    void apply(quint32 id, int value);
    void reload();

    PictureControlSet *m_set;
    QList<PictureControl> m_controls;
    QHash<quint32, int> m_initial;
    QHash<quint32, QWidget *> m_editors;
    QHash<quint32, QLabel *> m_valueLabels;
    QLabel *m_status = nullptr;
    bool m_loading = false;
};
