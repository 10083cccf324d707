// libFuzzer target for the line-based map file reader: any bytes at all
// must either be refused without touching the tables and the configuration,
// or give finite values that land inside the clamps with valid option bytes.
#include "fuzz_map_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return fuzz::checkReader(data, size, parseMapFile);
}
