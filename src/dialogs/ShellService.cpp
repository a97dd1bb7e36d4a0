#include "dialogs/ShellService.h"

#include <QDesktopServices>
#include <QUrl>

bool QtShellService::open(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}
