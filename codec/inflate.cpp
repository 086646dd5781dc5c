// The resumable Deflate decoder (RFC 1951): handles, the call routine and the plain state
// machine.
//
// A handle is fed one entry's compressed data in chunks of any size; a chunk may end
// anywhere, even inside a code. Everything a call cannot finish stays in the handle: the
// state (`State` in inflate_state.h), a bit buffer of at most 31 bits, the partial header
// or match, the code tables of the block in progress and a 32 KiB window of history.
//
// Each call runs the state machine: refill the bit buffer byte by byte to at least 24
// bits, then perform the current state's action; when the action needs more bits than
// the input can still give, the call ends successfully and the state waits for the next
// chunk. Because every action needs at most 24 bits, that only happens once the chunk is
// used up. A pattern with no code, a distance code of 30 or 31 or a stored block whose
// length check fails makes the call fail: its output is dropped and the handle refuses
// every later call.
//
// Inside a Huffman block the call hands over to a fast loop (inflate_fast.cpp) while
// enough input and output room remain to decode whole symbols and matches without
// checking for the end of the chunk; near the ends the state machine takes over again.
// The fast loop decides exactly what the state machine would on the same bits, so the
// output and result of every call do not depend on which of them ran.
//
// Liberties the format's early decoders took, kept for compatibility: block type 3 uses
// up its header and nothing else; literal/length symbols 286 and 287 do nothing; a repeat
// code 16 first in the code lengths repeats 0; repeat runs past the last length are cut
// off; incomplete code sets fail only when an unused pattern occurs. The window starts
// zeroed, so a distance past the start of the output copies zeros.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "codec/crc32.h"
#include "codec/inflate.h"
#include "codec/inflate_state.h"

namespace lum::codec {
namespace testing {
namespace {
std::atomic<bool> g_plainOnly{false};
std::atomic<bool> g_portableLoop{false};
}  // namespace
void SetInflatePlainOnly(bool plainOnly) {
  g_plainOnly.store(plainOnly, std::memory_order_relaxed);
}
bool InflatePlainOnly() {
#ifdef LUM_CODEC_PLAIN_ONLY
  return true;
#else
  return g_plainOnly.load(std::memory_order_relaxed);
#endif
}
void SetInflatePortableLoop(bool portable) {
  g_portableLoop.store(portable, std::memory_order_relaxed);
}
bool InflatePortableLoop() {
  return g_portableLoop.load(std::memory_order_relaxed);
}
}  // namespace testing

namespace inflate {
namespace {

std::uint32_t TakeBits(InflateState& s, int n) {
  std::uint32_t v = static_cast<std::uint32_t>(s.bitBuf & ((1ull << n) - 1u));
  s.bitBuf >>= n;
  s.bitCount -= n;
  return v;
}

// Decodes one code of `t` into its table entry `entry`, consuming the code's bits.
Step Decode(InflateState& s, const HuffTable* t, std::uint32_t& entry) {
  int used = 0;
  switch (DecodeSymbol(*t, s.bitBuf, s.bitCount, entry, used)) {
    case DecodeResult::kSymbol:
      TakeBits(s, used);
      return Step::kContinue;
    case DecodeResult::kNeedMore:
      return Step::kNeedMore;
    case DecodeResult::kNoCode:
      break;
  }
  return Step::kFail;
}

// Keeps the base and extra-bit count of the length or distance code `e` for state `next`,
// which reads the extra bits.
void AwaitExtraBits(InflateState& s, std::uint32_t e, State next) {
  s.codeBase = static_cast<std::int32_t>(EntryValue(e));
  s.codeExtraBits = static_cast<std::int32_t>(EntryExtraBits(e));
  s.state = next;
}

// Appends `n` bytes of a stored block: first the whole bytes waiting in the bit buffer,
// then straight from the input.
Step CopyStored(InflateCall& c) {
  InflateState& s = *c.s;
  std::int32_t n = static_cast<std::int32_t>(
      std::min<std::int64_t>(s.storedLeft, s.bitCount / 8 + (c.inEnd - c.in)));
  if (n == 0) return Step::kNeedMore;
  if (!c.Reserve(n)) return Step::kFail;
  std::int32_t fromBuffer = std::min(n, s.bitCount / 8);
  for (std::int32_t i = 0; i < fromBuffer; ++i) {
    c.out[c.outLen++] = static_cast<std::uint8_t>(TakeBits(s, 8));
  }
  std::int32_t fromInput = n - fromBuffer;
  std::memcpy(c.out + c.outLen, c.in, static_cast<std::size_t>(fromInput));
  c.in += fromInput;
  c.outLen += fromInput;
  s.storedLeft -= n;
  if (s.storedLeft == 0) s.state = kBlockHeader;
  return Step::kContinue;
}

// Performs the action of the current state once.
Step Action(InflateCall& c, bool plainOnly) {
  InflateState& s = *c.s;
  const CodecEntryTable& table = *s.table;
  switch (s.state) {
    case kFresh:
      s.state = kBlockHeader;
      return Step::kContinue;

    case kBlockHeader: {
      if (s.bitCount < 3) return Step::kNeedMore;
      TakeBits(s, 1);  // the last-block flag: the caller knows where the data ends
      switch (TakeBits(s, 2)) {
        case 0:
          TakeBits(s, s.bitCount & 7);
          s.state = kStoredLength;
          break;
        case 1:
          ReleaseBlockTables(s);
          s.lit = s.fixedLit;
          s.dist = s.fixedDist;
          s.state = kLiteralLength;
          break;
        case 2:
          s.state = kDynamicCounts;
          break;
        default:
          break;  // type 3: nothing further
      }
      return Step::kContinue;
    }

    case kDynamicCounts:
      if (s.bitCount < 14) return Step::kNeedMore;
      s.hlit = 257 + static_cast<std::int32_t>(TakeBits(s, 5));
      s.hdist = 1 + static_cast<std::int32_t>(TakeBits(s, 5));
      s.hclen = 4 + static_cast<std::int32_t>(TakeBits(s, 4));
      s.index = 0;
      std::memset(s.codeLenLengths, 0, sizeof(s.codeLenLengths));
      s.state = kCodeLengthCode;
      return Step::kContinue;

    case kCodeLengthCode:
      if (s.index < s.hclen && s.bitCount < 3) return Step::kNeedMore;
      while (s.index < s.hclen && s.bitCount >= 3) {
        s.codeLenLengths[table.pCodeLengthOrder[s.index]] =
            static_cast<std::uint8_t>(TakeBits(s, 3));
        ++s.index;
      }
      if (s.index < s.hclen) return Step::kContinue;  // refill and go on
      FreeHuffTable(table, s.codeLen);
      s.codeLen = BuildHuffTable(table, s.codeLenLengths, 19, HuffKind::kCodeLengths);
      if (s.codeLen == nullptr) return Step::kFail;
      s.index = 0;
      s.state = kCodeLengths;
      return Step::kContinue;

    case kCodeLengths: {
      if (s.index >= s.hlit + s.hdist) {
        ReleaseBlockTables(s);
        s.lit = BuildHuffTable(table, s.lengths, s.hlit, HuffKind::kLiteralLength);
        s.dist = BuildHuffTable(table, s.lengths + s.hlit, s.hdist, HuffKind::kDistance);
        FreeHuffTable(table, s.codeLen);
        s.codeLen = nullptr;
        if (s.lit == nullptr || s.dist == nullptr) return Step::kFail;
        s.state = kLiteralLength;
        return Step::kContinue;
      }
      std::uint32_t e = 0;
      Step r = Decode(s, s.codeLen, e);
      if (r != Step::kContinue) return r;
      const std::uint32_t sym = EntryValue(e);
      if (sym < 16) {
        s.lengths[s.index++] = static_cast<std::uint8_t>(sym);
        return Step::kContinue;
      }
      if (sym == 16) {
        s.repeatBits = 2;
        s.repeatBase = 3;
        s.repeatValue = s.index > 0 ? s.lengths[s.index - 1] : 0;
      } else if (sym == 17) {
        s.repeatBits = 3;
        s.repeatBase = 3;
        s.repeatValue = 0;
      } else {
        s.repeatBits = 7;
        s.repeatBase = 11;
        s.repeatValue = 0;
      }
      s.state = kRepeat;
      return Step::kContinue;
    }

    case kRepeat: {
      if (s.bitCount < s.repeatBits) return Step::kNeedMore;
      std::int32_t count = s.repeatBase + static_cast<std::int32_t>(TakeBits(s, s.repeatBits));
      const std::int32_t end = s.hlit + s.hdist;
      for (; count > 0 && s.index < end; --count) {
        s.lengths[s.index++] = static_cast<std::uint8_t>(s.repeatValue);
      }
      s.state = kCodeLengths;
      return Step::kContinue;
    }

    case kLiteralLength: {
      std::uint32_t e = 0;
      Step r = Decode(s, s.lit, e);
      if (r != Step::kContinue) return r;
      if (e & kEntryLiteral) {
        if (!c.Reserve(1)) return Step::kFail;
        c.out[c.outLen++] = static_cast<std::uint8_t>(EntryValue(e));
      } else if (!(e & kEntryExceptional)) {  // a length code, 257–285
        AwaitExtraBits(s, e, kLengthBits);
      } else if (EntryValue(e) == 256) {
        ReleaseBlockTables(s);
        s.state = kBlockHeader;
      }  // 286, 287: nothing
      return Step::kContinue;
    }

    case kLengthBits:
      if (s.bitCount < s.codeExtraBits) return Step::kNeedMore;
      s.length = s.codeBase + static_cast<std::int32_t>(TakeBits(s, s.codeExtraBits));
      s.state = kDistance;
      return Step::kContinue;

    case kDistance: {
      std::uint32_t e = 0;
      Step r = Decode(s, s.dist, e);
      if (r != Step::kContinue) return r;
      if (e & kEntryExceptional) return Step::kFail;  // distance code 30 or 31
      AwaitExtraBits(s, e, kDistanceBits);
      return Step::kContinue;
    }

    case kDistanceBits: {
      if (s.bitCount < s.codeExtraBits) return Step::kNeedMore;
      const std::int32_t distance =
          s.codeBase + static_cast<std::int32_t>(TakeBits(s, s.codeExtraBits));
      if (!c.Reserve(s.length)) return Step::kFail;
      for (std::int32_t i = 0; i < s.length; ++i) {
        std::uint8_t b = c.History(distance);
        c.out[c.outLen++] = b;
      }
      s.state = kLiteralLength;
      return Step::kContinue;
    }

    case kStoredLength:
      if (s.bitCount < 16) return Step::kNeedMore;
      s.storedLeft = static_cast<std::int32_t>(TakeBits(s, 16));
      s.state = kStoredCheck;
      return Step::kContinue;

    case kStoredCheck:
      if (s.bitCount < 16) return Step::kNeedMore;
      if (static_cast<std::uint32_t>(s.storedLeft) != (TakeBits(s, 16) ^ 0xFFFFu)) {
        return Step::kFail;
      }
      s.state = s.storedLeft == 0 ? kBlockHeader : kStoredBytes;
      return Step::kContinue;

    case kStoredBytes:
      if (!plainOnly && (s.bitCount & 7) == 0) return CopyStored(c);
      if (s.bitCount < 8) return Step::kNeedMore;
      if (!c.Reserve(1)) return Step::kFail;
      c.out[c.outLen++] = static_cast<std::uint8_t>(TakeBits(s, 8));
      if (--s.storedLeft == 0) s.state = kBlockHeader;
      return Step::kContinue;

    default:
      return Step::kFail;
  }
}

// The decoding step over the call's whole input. kNeedMore means success: the input is
// used up and the handle waits for more.
Step Run(InflateCall& c) {
  InflateState& s = *c.s;
  const bool plainOnly = testing::InflatePlainOnly();
  for (;;) {
    if (c.in == c.inEnd && s.bitCount == 0) return Step::kNeedMore;
    while (s.bitCount < 24 && c.in < c.inEnd) {
      s.bitBuf |= static_cast<std::uint64_t>(*c.in++) << s.bitCount;
      s.bitCount += 8;
    }
    Step r;
    if (!plainOnly && s.state == kLiteralLength && c.inEnd - c.in >= kFastInputMargin) {
      r = FastDecode(c);
    } else {
      r = Action(c, plainOnly);
    }
    if (r != Step::kContinue) return r;
  }
}

// Brings the window up to date with the call's output: the output's last 32 KiB, or the
// window's newest part followed by the whole output.
void RefreshWindow(InflateCall& c) {
  InflateState& s = *c.s;
  if (c.outLen >= kInflateWindowSize) {
    std::memcpy(s.window, c.out + c.outLen - kInflateWindowSize, kInflateWindowSize);
  } else if (c.outLen > 0) {
    const std::size_t kept = static_cast<std::size_t>(kInflateWindowSize - c.outLen);
    std::memmove(s.window, s.window + c.outLen, kept);
    std::memcpy(s.window + kept, c.out, static_cast<std::size_t>(c.outLen));
  }
}

// The capacity a call's output buffer starts with: 32 KiB, doubled while it is below
// kInflateOutputPerInput bytes per input byte (up to kInflateLargestInitialOutput), so that a
// large chunk of typical data decodes without reallocating. Only the capacity depends on it;
// the caller sees the same length and bytes.
std::int32_t InitialOutputCapacity(std::int32_t inputSize) {
  std::int64_t cap = kInflateInitialOutput;
  const std::int64_t want = std::min<std::int64_t>(std::int64_t{inputSize} * kInflateOutputPerInput,
                                                   kInflateLargestInitialOutput);
  while (cap < want) cap *= 2;
  return static_cast<std::int32_t>(cap);
}

void FreeState(InflateState* s) {
  const CodecEntryTable& table = *s->table;
  ReleaseBlockTables(*s);
  FreeHuffTable(table, s->codeLen);
  FreeHuffTable(table, s->fixedLit);
  FreeHuffTable(table, s->fixedDist);
  table.pfnFree(s);
}

}  // namespace
}  // namespace inflate

CodecWord InflateCreate(CodecWord tableWord, CodecWord, CodecWord, CodecWord) {
  using namespace inflate;
  const auto* table = reinterpret_cast<const CodecEntryTable*>(tableWord);
  if (table == nullptr) return 0;
  auto* s = static_cast<InflateState*>(table->pfnAlloc(sizeof(InflateState)));
  if (s == nullptr) return 0;
  std::memset(static_cast<void*>(s), 0, sizeof(InflateState));  // fields and window
  s->table = table;

  std::uint8_t lengths[288];
  std::memset(lengths, 8, 144);
  std::memset(lengths + 144, 9, 112);
  std::memset(lengths + 256, 7, 24);
  std::memset(lengths + 280, 8, 8);
  s->fixedLit = BuildHuffTable(*table, lengths, 288, HuffKind::kLiteralLength);
  std::memset(lengths, 5, 32);
  s->fixedDist = BuildHuffTable(*table, lengths, 32, HuffKind::kDistance);
  if (s->fixedLit == nullptr || s->fixedDist == nullptr) {
    FreeState(s);
    return 0;
  }
  s->state = kFresh;
  return Word(s);
}

CodecWord InflateDestroy(CodecWord handle, CodecWord, CodecWord, CodecWord) {
  if (handle != 0) inflate::FreeState(reinterpret_cast<inflate::InflateState*>(handle));
  return 0;
}

CodecWord Inflate(CodecWord handle, CodecWord blockWord, CodecWord crcWord, CodecWord) {
  using namespace inflate;
  auto* block = reinterpret_cast<CodecBlock*>(blockWord);
  if (block == nullptr) return 0;
  block->pOutput = nullptr;
  block->lOutputSize = 0;
  auto* s = reinterpret_cast<InflateState*>(handle);
  if (s == nullptr || s->failed != 0 || block->lInputSize < 0 ||
      (block->lInputSize > 0 && block->pInput == nullptr)) {
    return 0;
  }
  const CodecEntryTable& table = *s->table;
  InflateCall c{};
  c.s = s;
  c.inBegin = c.in = block->pInput;
  c.inEnd = block->pInput + block->lInputSize;
  c.outCap = InitialOutputCapacity(block->lInputSize);
  c.out = static_cast<std::uint8_t*>(table.pfnAlloc(static_cast<std::size_t>(c.outCap)));
  if (c.out == nullptr) return 0;  // nothing consumed: the handle is unchanged

  if (Run(c) == Step::kFail) {
    table.pfnFree(c.out);
    s->failed = 1;
    return 0;
  }
  RefreshWindow(c);
  block->pOutput = c.out;
  block->lOutputSize = c.outLen;
  if (crcWord != 0) {
    if (table.pfnCrc32Update != nullptr) {
      table.pfnCrc32Update(Word(&table), Word(c.out), c.outLen, crcWord);
    } else {
      Crc32UpdateFast(table.pCrc32Table, c.out, static_cast<std::size_t>(c.outLen),
                      *reinterpret_cast<std::uint32_t*>(crcWord));
    }
  }
  return 1;
}

}  // namespace lum::codec
