#include "help/frmAbout.h"

#include "dialogs/MessageService.h"
#include "help/HelpMenu.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#ifndef LUMORA_VERSION_MAJOR
#error "the build sets the program's version"
#endif

QString VersionText(int major, int minor, int revision)
{
    return QStringLiteral("版本 %1.%2.%3").arg(major).arg(minor).arg(revision);
}

QString BuildVersionText()
{
    return VersionText(LUMORA_VERSION_MAJOR, LUMORA_VERSION_MINOR, LUMORA_VERSION_PATCH);
}

namespace {

QLabel *label(const char *name, const QString &text)
{
    auto *l = new QLabel(text);
    l->setObjectName(QLatin1String(name));
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

} // namespace

frmAbout::frmAbout(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("关于 Quivra"));
    setModal(true);

    auto *picture = new QLabel;
    picture->setObjectName(QStringLiteral("picIcon"));
    picture->setFrameShape(QFrame::Panel);
    picture->setFrameShadow(QFrame::Sunken);
    picture->setPixmap(QApplication::windowIcon().pixmap(64, 64));
    picture->setFixedSize(72, 72);
    picture->setAlignment(Qt::AlignCenter);

    QLabel *title = label("lblTitle", MessageService::programTitle());
    QFont titleFont = title->font();
    titleFont.setFamilies({QStringLiteral("宋体"), titleFont.family()});
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    title->setFont(titleFont);
    QLabel *version = label("lblVersion", BuildVersionText());
    QLabel *description = label("lblDescription", QStringLiteral("Lumora 开发者"));
    QLabel *author =
        label("Label1", QStringLiteral("作者：Lumora 开发者\n联系：请通过主页上的联系方式与我们联系"));
    QLabel *homePage = label("Label2", QStringLiteral("主页：") + kHomePage);

    auto *rule = new QFrame;
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);

    QLabel *disclaimer =
        label("lblDisclaimer", QStringLiteral("版权所有 © Lumora 开发者。保留所有权利。\n"
                                              "本程序受著作权法保护。未经许可，不得复制、传播或修改"
                                              "本程序的全部或任何部分。"));
    disclaimer->setWordWrap(true);

    auto *ok = new QPushButton(QStringLiteral("确定"));
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    // Esc ends a QDialog by reject(), which closes it as "确定" does.
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *grid = new QGridLayout(this);
    grid->addWidget(picture, 0, 0, 3, 1, Qt::AlignTop);
    grid->addWidget(title, 0, 1);
    grid->addWidget(version, 1, 1);
    grid->addWidget(description, 2, 1);
    grid->addWidget(author, 3, 1);
    grid->addWidget(homePage, 4, 1);
    grid->addWidget(rule, 5, 0, 1, 2);
    grid->addWidget(disclaimer, 6, 0, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    grid->addLayout(buttons, 7, 0, 1, 2);
    setMinimumWidth(380);
}
