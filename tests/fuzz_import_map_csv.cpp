// libFuzzer target for kvz-cdi-cli import's CSV reader, held to the same
// rules as the map file reader's target.
#include "fuzz_map_record.h"
#include "map_csv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return fuzz::checkReader(data, size, parseMapCsv);
}
