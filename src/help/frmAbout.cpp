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

#if !defined(LUMORA_VERSION_MAJOR) || !defined(LUMORA_LICENSE)
#error "the build sets the program's version and licence"
#endif

QString VersionText(int major, int minor, int revision)
{
    return QStringLiteral("版本 %1.%2.%3").arg(major).arg(minor).arg(revision);
}

QString BuildVersionText()
{
    return VersionText(LUMORA_VERSION_MAJOR, LUMORA_VERSION_MINOR, LUMORA_VERSION_PATCH);
}

QString LicenceText(const QString &spdx)
{
    return spdx.trimmed().isEmpty() ? QStringLiteral("许可证：这个版本没有声明许可证")
                                    : QStringLiteral("许可证：") + spdx.trimmed();
}

QString BuildLicenceText()
{
    return LicenceText(QStringLiteral(LUMORA_LICENSE));
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

frmAbout::frmAbout(const QString &homePage, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("关于 ") + MessageService::programTitle());
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
        label("Label1",
              QStringLiteral("作者：Lumora 开发者\n说明：程序附带的 %1（帮助 → 主页）").arg(kHomePageName));
    QLabel *home =
        label("Label2", QStringLiteral("主页：") + (homePage.isEmpty() ? kHomePageName : homePage));
    home->setWordWrap(true);

    auto *rule = new QFrame;
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);

    // What the build says, and nothing it does not.
    QLabel *disclaimer = label("lblDisclaimer", BuildLicenceText());
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
    grid->addWidget(home, 4, 1);
    grid->addWidget(rule, 5, 0, 1, 2);
    grid->addWidget(disclaimer, 6, 0, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    grid->addLayout(buttons, 7, 0, 1, 2);
    setMinimumWidth(380);
}
