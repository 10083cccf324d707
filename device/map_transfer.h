// Block-by-block read and verified write of both tables and the
// configuration block over the open handle of the device record.
#pragma once

#include <cstdint>
#include <functional>

#include "cdi_device.h"
#include "map_table.h"
#include "timing_codec.h"
#include "unit_image.h"

// Reads all 32 blocks into `image` as the unit returns them, with the read's
// trace and log lines, and reports a failure as its phase does. With
// `contents`, it also decodes each ignition block as it comes (its codec
// lines among the block's dumps) and fills `contents` as a read leaves the
// record: points unclamped, the configuration with the rev-limit fix-up, the
// latency offset of the unit's pulse type. 1 when all 32 blocks were read.
// Changes neither table nor the record's configuration.
int readUnit(CdiDevice& device, UnitImage& image, UnitContents* contents);

// A second read of all 32 blocks into `image`, to check a first: without
// trace or progress lines (a failure is still logged and reported as its
// phase does), and in the opposite order, last block first, so that a reply
// arriving one request late lands on other blocks than it did in the first.
int rereadUnit(CdiDevice& device, UnitImage& image);

// Puts what a read decoded into both tables and the record.
void storeContents(const UnitContents& contents, CdiDevice& device, MapTable& ignition, MapTable& valve);

// readUnit, then, only when every block was read, the contents into both
// tables and the record; with `image`, what the unit returned goes there.
// 1 when all 32 blocks were read, else 0 and nothing changed.
int readDeviceMaps(CdiDevice& device, MapTable& ignition, MapTable& valve, UnitImage* image = nullptr);

// What a write sends, block by block: puts block `block`'s 32 bytes at
// `payload` as the block goes out, so encoding prints its codec lines among
// that block's dumps.
using BlockSource = std::function<void(int block, std::uint8_t* payload)>;

// Both ignition maps encoded with `reference`, the valve maps as the low
// byte of each point's integer part, then `config`. The tables must outlive
// the source.
BlockSource tableBlocks(const MapTable& ignition, const MapTable& valve, const ConfigBlock& config,
                        const TimingReference& reference);
// An image's blocks as they stand; the image must outlive the source.
BlockSource imageBlocks(const UnitImage& image);

// Writes all 32 blocks from `source` in the order ignition, valve,
// configuration, each checked against its echo. `sent` gets every block as
// it went out, `requestsSent` the requests the unit may have acted on.
// 1 when all were written and echoed, else 0.
int writeUnit(CdiDevice& device, const BlockSource& source, UnitImage& sent, int& requestsSent);

// writeUnit of both tables and the configuration block of `cdiDevice`.
int writeDeviceMaps(MapTable& ignition, MapTable& valve);

// The unit echoes a write request from byte 4 on.
bool verifyEcho();

// Prints the first 64 bytes of a report in rows of hex and characters to
// the trace stream.
void traceDump(const std::uint8_t* buffer);
