// The libFuzzer program of one target, named by VARDELLE_FUZZ_TARGET at compile time.
#include "FuzzTargets.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const vardelle::fuzz::Target* const target =
        vardelle::fuzz::findTarget(VARDELLE_FUZZ_TARGET);
    target->entry(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}
