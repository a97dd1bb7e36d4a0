#pragma once
// The main() of a benchmark that needs widgets: Qt's offscreen platform
// unless a display platform is asked for, one QApplication for every run.

#include <QApplication>
#include <benchmark/benchmark.h>

#define LUMORA_QT_BENCHMARK_MAIN()                                                                           \
    int main(int argc, char **argv)                                                                          \
    {                                                                                                        \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                                  \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                                         \
        QApplication app(argc, argv);                                                                        \
        benchmark::Initialize(&argc, argv);                                                                  \
        benchmark::RunSpecifiedBenchmarks();                                                                 \
        benchmark::Shutdown();                                                                               \
        return 0;                                                                                            \
    }
