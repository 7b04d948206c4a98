// libFuzzer entry: arbitrary markup through the renderer on the fake canvas.
#include "tests/label/fuzz/FuzzBody.h"

#include <QGuiApplication>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ostrakel::test::RenderFuzzInput(data, size);
    return 0;
}
