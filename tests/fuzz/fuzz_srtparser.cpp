// libFuzzer target for the SRT reader: arbitrary bytes must never crash it and must give
// a list that keeps the reader's invariants.

#include "srtinvariants.h"
#include "subtitles/srtparser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    checkSrtInvariants(parseSrtBytes(bytes));
    return 0;
}
