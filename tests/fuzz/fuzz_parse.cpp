// libFuzzer target: the pure decoder over a request encoded from a fresh device object, and the
// decoded answer applied to that object, per input.
#include "tests/fuzz/FuzzEntries.h"

#include <QtGlobal>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The fault log is kept off on purpose (see FuzzEntries.cpp): its "not written" warning,
    // said once per device object, would otherwise be printed for every input.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzParseAnswer(data, size);
    return 0;
}
