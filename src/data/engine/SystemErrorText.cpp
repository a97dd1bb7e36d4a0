#include "data/engine/SystemErrorText.h"

#include <cerrno>
#include <cstring>

namespace lumora::engine {

namespace {

const char16_t *chineseFor(int error)
{
    switch (error) {
    case EACCES:
    case EPERM: return u"权限不够（只读文件？）";
    case EROFS: return u"所在的磁盘只能读不能写";
    case ENOSPC: return u"磁盘已满";
    case EDQUOT: return u"磁盘配额已用完";
    case ENOENT: return u"文件或文件夹不存在";
    case EISDIR: return u"这是一个文件夹";
    case EIO: return u"读写出错（磁盘或网络故障？）";
    case EMFILE:
    case ENFILE: return u"同时打开的文件太多";
    case ENOMEM: return u"内存不足";
    case EFBIG: return u"文件太大";
    case ETXTBSY:
    case EBUSY: return u"文件正被使用";
    default: return nullptr;
    }
}

} // namespace

SystemErrorText systemErrorText(int error)
{
    SystemErrorText text;
    text.english = QString::fromLocal8Bit(std::strerror(error));
    if (const char16_t *chinese = chineseFor(error))
        text.chinese = QString::fromUtf16(chinese);
    else
        text.chinese = QStringLiteral("系统错误：") + text.english;
    return text;
}

} // namespace lumora::engine
