// pvCodecInit: the one place that ties the codec to the task allocator of the platform.
// The codec routines themselves only use what the table gives them.
#include "codec/codec_init.h"

#include "platform/task_alloc.h"

namespace lum::codec {

void pvCodecInit(CodecEntryTable& uTable, Crc32Table& crcTable) {
  uTable = CodecEntryTable{};
  uTable.pfnDeflateCreate = &DeflateCreate;
  uTable.pfnDeflateDestroy = &DeflateDestroy;
  uTable.pfnDeflate = &Deflate;
  uTable.pfnInflateCreate = &InflateCreate;
  uTable.pfnInflateDestroy = &InflateDestroy;
  uTable.pfnInflate = &Inflate;
  uTable.pfnCrc32Update = &Crc32Update;
  uTable.lReserved1 = uTable.lReserved2 = uTable.lReserved3 = 0;
  uTable.pfnAlloc = &platform::TaskMemAlloc;
  uTable.pfnRealloc = &platform::TaskMemRealloc;
  uTable.pfnFree = &platform::TaskMemFree;
  uTable.pLengthCodes = kLengthCodes;
  uTable.pDistanceCodes = kDistanceCodes;
  uTable.pBitReverse = kBitReverse;
  uTable.pCodeLengthOrder = kCodeLengthOrder;
  uTable.pCrc32Table = crcTable.pvCrc32Table();
}

}  // namespace lum::codec

namespace lum::codec {
namespace {

// Day.month.year hours:minutes:seconds without leading zeros on day, month and hour,
// made from the compiler's __DATE__ ("Mmm dd yyyy") and __TIME__ ("hh:mm:ss").
struct BuildStamp {
  char text[32];
  BuildStamp() {
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const char* date = __DATE__;
    const char* time = __TIME__;
    int month = 1;
    for (int m = 0; m < 12; ++m) {
      if (date[0] == kMonths[3 * m] && date[1] == kMonths[3 * m + 1] &&
          date[2] == kMonths[3 * m + 2]) {
        month = m + 1;
      }
    }
    int day = (date[4] == ' ' ? 0 : date[4] - '0') * 10 + (date[5] - '0');
    int hour = (time[0] - '0') * 10 + (time[1] - '0');
    char* out = text;
    out = Append(out, day);
    *out++ = '.';
    out = Append(out, month);
    *out++ = '.';
    for (int i = 7; i < 11; ++i) *out++ = date[i];
    *out++ = ' ';
    out = Append(out, hour);
    *out++ = ':';
    for (int i = 3; i < 8; ++i) *out++ = time[i];
    *out = '\0';
  }
  static char* Append(char* out, int v) {
    if (v >= 10) *out++ = static_cast<char>('0' + v / 10);
    *out++ = static_cast<char>('0' + v % 10);
    return out;
  }
};

}  // namespace

const char* CodecBuildDate() {
  static const BuildStamp stamp;
  return stamp.text;
}

}  // namespace lum::codec
