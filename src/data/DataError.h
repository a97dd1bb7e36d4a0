#pragma once

#include "data/engine/EngineError.h"

#include <QString>

// What went wrong in the data layer. A routine there that can fail hands
// one back in its result instead of throwing to the window: the engine's
// error as it was raised (its code, its English and Chinese words, which
// name the file, table or field concerned), or a refusal of the data
// layer's own in the same shape.
struct DataError
{
    using Code = lumora::engine::EngineError::Code;
    Code code = Code::Other;
    QString english;
    QString chinese;

    // For the window's status line, in Chinese: the Chinese words, or the
    // English ones in a Chinese frame that says what kind of failure it is.
    QString text() const;
    bool locked() const { return code == Code::Locked; }

    // The exception being handled: "内存不足" for an allocation failure, a
    // Chinese frame around the words of anything else. Call it only inside
    // a catch block.
    static DataError current();
    // A refusal of the data layer's own (a filter that cannot be built).
    static DataError refusal(const QString &chinese) { return {Code::Other, QString(), chinese}; }
};
