#include "capture/PictureSettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

PictureSettingsDialog::PictureSettingsDialog(PictureControlSet *controls, QWidget *parent)
    : QDialog(parent)
    , m_set(controls)
{
    setWindowTitle(QStringLiteral("图片设置"));
    setObjectName(QStringLiteral("PictureSettingsDialog"));
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    layout->addLayout(form);

    m_controls = m_set->controls();
    for (const PictureControl &c : std::as_const(m_controls)) {
        QWidget *editor = nullptr;
        const quint32 id = c.id;
        switch (c.type) {
        case PictureControl::Type::Integer: {
            auto *row = new QWidget(this);
            auto *h = new QHBoxLayout(row);
            h->setContentsMargins(0, 0, 0, 0);
            auto *slider = new QSlider(Qt::Horizontal, row);
            slider->setRange(c.minimum, c.maximum);
            slider->setSingleStep(c.step);
            slider->setPageStep(qMax(c.step, (c.maximum - c.minimum) / 10));
            slider->setMinimumWidth(220);
            auto *value = new QLabel(row);
            value->setMinimumWidth(48);
            h->addWidget(slider);
            h->addWidget(value);
            m_valueLabels.insert(id, value);
            connect(slider, &QSlider::valueChanged, this, [this, id, value](int v) {
                value->setText(QString::number(v));
                apply(id, v);
            });
            form->addRow(c.name, row);
            editor = slider;
            break;
        }
        case PictureControl::Type::Boolean: {
            auto *box = new QCheckBox(this);
            connect(box, &QCheckBox::toggled, this, [this, id](bool on) { apply(id, on ? 1 : 0); });
            form->addRow(c.name, box);
            editor = box;
            break;
        }
        case PictureControl::Type::Menu: {
            auto *combo = new QComboBox(this);
            for (const auto &[value, caption] : c.menu)
                combo->addItem(caption, value);
            connect(combo, &QComboBox::currentIndexChanged, this, [this, id, combo](int index) {
                if (index >= 0)
                    apply(id, combo->itemData(index).toInt());
            });
            form->addRow(c.name, combo);
            editor = combo;
            break;
        }
        case PictureControl::Type::Button: {
            auto *button = new QPushButton(c.name, this);
            connect(button, &QPushButton::clicked, this, [this, id] { apply(id, 1); });
            form->addRow(QString(), button);
            editor = button;
            break;
        }
        }
        editor->setObjectName(QStringLiteral("control_%1").arg(id));
        m_editors.insert(id, editor);
        if (c.type != PictureControl::Type::Button)
            m_initial.insert(id, c.value);
    }
    if (m_controls.isEmpty()) {
        const QString why = m_set->lastError();
        form->addRow(new QLabel(why.isEmpty() ? QStringLiteral("这个设备没有可调的图片设置") : why, this));
    }

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_status->setWordWrap(true);
    layout->addWidget(m_status);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    auto *defaults = buttons->addButton(QStringLiteral("恢复默认"), QDialogButtonBox::ResetRole);
    defaults->setObjectName(QStringLiteral("defaultsButton"));
    defaults->setEnabled(!m_controls.isEmpty());
    connect(defaults, &QPushButton::clicked, this, &PictureSettingsDialog::restoreDefaults);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    reload();
}

void PictureSettingsDialog::apply(quint32 id, int value)
{
    if (m_loading)
        return;
    if (!m_set->setValue(id, value))
        m_status->setText(m_set->lastError());
    else
        m_status->clear();
    // A change may switch others on or off (automatic white balance, exposure mode).
    reload();
}

void PictureSettingsDialog::reload()
{
    m_loading = true;
    const QList<PictureControl> fresh = m_set->controls();
    for (const PictureControl &c : fresh) {
        QWidget *editor = m_editors.value(c.id);
        if (!editor)
            continue;
        editor->setEnabled(!c.readOnly && !c.inactive);
        if (auto *slider = qobject_cast<QSlider *>(editor)) {
            slider->setValue(c.value);
            if (QLabel *label = m_valueLabels.value(c.id))
                label->setText(QString::number(c.value));
        } else if (auto *box = qobject_cast<QCheckBox *>(editor)) {
            box->setChecked(c.value != 0);
        } else if (auto *combo = qobject_cast<QComboBox *>(editor)) {
            combo->setCurrentIndex(combo->findData(c.value));
        }
    }
    if (!fresh.isEmpty())
        m_controls = fresh;
    m_loading = false;
}

void PictureSettingsDialog::restoreDefaults()
{
    if (m_set->restoreDefaults())
        m_status->clear();
    else
        m_status->setText(m_set->lastError());
    reload();
}

void PictureSettingsDialog::reject()
{
    // Cancel: the source goes back to what it showed when the dialog opened.
    m_set->restoreValues(m_initial);
    QDialog::reject();
}
