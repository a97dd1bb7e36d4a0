#pragma once

#include <QString>

namespace lumora::engine {

// Why a system call failed, for the two texts of an EngineError: the
// system's own words (strerror) in English, and plain Chinese for the
// failures an operator can do something about, such as
// EACCES -> "权限不够（只读文件？）"; other errors keep the system's words
// behind "系统错误：".
struct SystemErrorText
{
    QString english;
    QString chinese;
};

SystemErrorText systemErrorText(int error);

} // namespace lumora::engine
