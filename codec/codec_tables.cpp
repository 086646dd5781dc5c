// Constant tables of the codec, reached through slots 13–16 of the entry table.
#include "codec/codec_table.h"

namespace lum::codec {

// Codes 257..285: base lengths and extra bits of RFC 1951 section 3.2.5. The highest value
// of a record is its base plus 2^extra − 1, except code 284 which stops at 257 so that
// 258 belongs to code 285 alone.
const CodecCodeRecord kLengthCodes[kLengthCodeCount] = {
    {257, 0, 3, 3},     {258, 0, 4, 4},     {259, 0, 5, 5},     {260, 0, 6, 6},
    {261, 0, 7, 7},     {262, 0, 8, 8},     {263, 0, 9, 9},     {264, 0, 10, 10},
    {265, 1, 11, 12},   {266, 1, 13, 14},   {267, 1, 15, 16},   {268, 1, 17, 18},
    {269, 2, 19, 22},   {270, 2, 23, 26},   {271, 2, 27, 30},   {272, 2, 31, 34},
    {273, 3, 35, 42},   {274, 3, 43, 50},   {275, 3, 51, 58},   {276, 3, 59, 66},
    {277, 4, 67, 82},   {278, 4, 83, 98},   {279, 4, 99, 114},  {280, 4, 115, 130},
    {281, 5, 131, 162}, {282, 5, 163, 194}, {283, 5, 195, 226}, {284, 5, 227, 257},
    {285, 0, 258, 258},
};

const CodecCodeRecord kDistanceCodes[kDistanceCodeCount] = {
    {0, 0, 1, 1},           {1, 0, 2, 2},           {2, 0, 3, 3},          {3, 0, 4, 4},
    {4, 1, 5, 6},           {5, 1, 7, 8},           {6, 2, 9, 12},         {7, 2, 13, 16},
    {8, 3, 17, 24},         {9, 3, 25, 32},         {10, 4, 33, 48},       {11, 4, 49, 64},
    {12, 5, 65, 96},        {13, 5, 97, 128},       {14, 6, 129, 192},     {15, 6, 193, 256},
    {16, 7, 257, 384},      {17, 7, 385, 512},      {18, 8, 513, 768},     {19, 8, 769, 1024},
    {20, 9, 1025, 1536},    {21, 9, 1537, 2048},    {22, 10, 2049, 3072},  {23, 10, 3073, 4096},
    {24, 11, 4097, 6144},   {25, 11, 6145, 8192},   {26, 12, 8193, 12288}, {27, 12, 12289, 16384},
    {28, 13, 16385, 24576}, {29, 13, 24577, 32768},
};

namespace {
constexpr std::uint8_t Reverse8(unsigned v) {
  unsigned r = 0;
  for (int i = 0; i < 8; ++i) r |= ((v >> i) & 1u) << (7 - i);
  return static_cast<std::uint8_t>(r);
}
}  // namespace

const std::uint8_t kBitReverse[256] = {
#define R2(n) Reverse8(n), Reverse8(n + 1)
#define R4(n) R2(n), R2(n + 2)
#define R8(n) R4(n), R4(n + 4)
#define R16(n) R8(n), R8(n + 8)
#define R64(n) R16(n), R16(n + 16), R16(n + 32), R16(n + 48)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R16
#undef R8
#undef R4
#undef R2
};

const std::uint8_t kCodeLengthOrder[20] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                           11, 4,  12, 3, 13, 2, 14, 1, 15, 0};

}  // namespace lum::codec
