// Filling a codec entry table: the archive object's pvCodecInit.
#pragma once

#include "codec/codec_table.h"
#include "codec/crc32.h"

namespace lum::codec {

// Fills `uTable`: slots 0–6 with the codec routines (a routine not built into this program
// stays 0), 7–9 with 0, 10–12 with the task allocator, 13–16 with the constant tables and
// 17 with `crcTable.pvCrc32Table()`. The table must outlive every handle made from it.
void pvCodecInit(CodecEntryTable& uTable, Crc32Table& crcTable);

// The build's date and time as "d.m.yyyy h:mm:ss": day, month and hour without leading
// zeros (for example "8.12.2026 6:05:09").
const char* CodecBuildDate();

}  // namespace lum::codec
