// libFuzzer target for the subtitle readers: arbitrary bytes must never crash the SRT, WebVTT,
// ASS/SSA or LRC reader and must give lists that keep the readers' invariants. Every input goes
// through all four, so the SRT seeds keep their meaning and the others' seeds feed the SRT reader.

#include "srtinvariants.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkAllReaders(QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    return 0;
}
