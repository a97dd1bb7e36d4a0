#pragma once

#include "framing/FaceFinder.h"
#include "framing/Framing.h"

#include <QString>

#include <memory>

// The face framing's work on OpenCV, behind one interface: faces found in a
// picture, and a picture's framing judged. It lives in a module of its own
// (liblumora-framing.so), loaded when the framing is first used, so that the
// window starts without loading OpenCV and its libraries (several
// milliseconds before main() runs).
class FramingEngine
{
public:
    virtual ~FramingEngine() = default;

    // Whether faces can be found; why not, for the operator, when not.
    virtual bool isReady() const = 0;
    virtual QString error() const = 0;
    // As FaceFinder::find and assessFraming.
    virtual QList<FoundFace> find(const QImage &picture, int workWidth = 480) const = 0;
    virtual FramingReport assess(const QImage &picture, const QList<FoundFace> &faces, QSize crop,
                                 const IdRule &rule, bool autoCentre) const = 0;
};

// Loads the module (once a process) from beside the program, or from the
// program's library folder when installed, and makes an engine: null with
// the reason in *error when the module cannot be loaded.
std::unique_ptr<FramingEngine> loadFramingEngine(QString *error);

// The module's one entry point, by this name.
extern "C" {
typedef FramingEngine *(*MakeFramingEngine)();
}
