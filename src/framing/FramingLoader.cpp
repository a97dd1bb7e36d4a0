#include "framing/FramingEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>

// Where an installed executable finds the framing module, relative to its
// folder; the build sets it from the install layout.
#ifndef LUMORA_FRAMING_FROM_BIN
#define LUMORA_FRAMING_FROM_BIN "../lib/lumora"
#endif

std::unique_ptr<FramingEngine> loadFramingEngine(QString *error)
{
    static MakeFramingEngine make = nullptr;
    static QString failure;
    // Kept loaded for the rest of the process: the engines it makes live in it.
    [[maybe_unused]] static QLibrary *module = nullptr;
    if (!make && failure.isEmpty()) {
        const QString here = QCoreApplication::applicationDirPath();
        QStringList tried;
        for (const QString &folder : {here, QDir(here).filePath(QStringLiteral(LUMORA_FRAMING_FROM_BIN))}) {
            auto *library = new QLibrary(QDir(folder).filePath(QStringLiteral("liblumora-framing")));
            make = reinterpret_cast<MakeFramingEngine>(library->resolve("lumoraMakeFramingEngine"));
            if (make) {
                module = library;
                break;
            }
            tried << library->errorString();
            delete library;
        }
        if (!make)
            failure = QStringLiteral("无法载入人脸检测模块（%1）").arg(tried.join(QStringLiteral("；")));
    }
    if (!make) {
        if (error)
            *error = failure;
        return nullptr;
    }
    return std::unique_ptr<FramingEngine>(make());
}
