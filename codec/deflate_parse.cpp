// Greedy and lazy parsing of one chunk.
//
// Both parsers search at offset i before inserting i, and insert every offset that has 4
// bytes left in the chunk exactly once, in order; the last 0–3 offsets are left to the match
// finder as pending bytes. A search needs 4 bytes left, so the final 3 bytes of a chunk are
// always literals or the tail of a match.
//
// The lazy parser holds at most one deferred match (found at i − 1). At i it asks the finder
// only for a match longer than deferred length + 1, the one outcome that changes anything:
// otherwise the deferred match is written and the parse moves past it. A deferred match never
// outlives its chunk: it is at most as long as the bytes that were left, so it is written at
// the latest where fewer than 4 bytes remain.
#include "codec/deflate_parse.h"

namespace lum::codec {

void DeflateParseGreedy(DeflateMatchFinder& finder, DeflateBitSink& out,
                        const DeflateCodeTables& codes, const std::uint8_t* in, std::int32_t n,
                        DeflateSearch search) {
  const std::int32_t lastSearch = n - 4;  // offsets up to here have 4 bytes left
  std::int32_t i = 0;
  while (i <= lastSearch) {
    const std::uint32_t h = finder.HashAt(i);
    const DeflateMatch m = finder.Find(i, h, search.maxCandidates, search.compareLength, 0);
    finder.Insert(i, h);
    if (m.length == 0) {
      PutLiteral(out, codes, in[i]);
      ++i;
    } else {
      PutMatch(out, codes, m.distance, m.length);
      finder.InsertRange(i + 1, i + m.length);
      i += m.length;
    }
  }
  for (; i < n; ++i) PutLiteral(out, codes, in[i]);
}

void DeflateParseLazy(DeflateMatchFinder& finder, DeflateBitSink& out,
                      const DeflateCodeTables& codes, const std::uint8_t* in, std::int32_t n,
                      DeflateSearch search) {
  const std::int32_t lastSearch = n - 4;
  std::int32_t i = 0;
  DeflateMatch deferred{0, 0};
  while (i <= lastSearch) {
    const std::uint32_t h = finder.HashAt(i);
    if (deferred.length == 0) {
      const DeflateMatch m = finder.Find(i, h, search.maxCandidates, search.compareLength, 0);
      if (m.length == 0) PutLiteral(out, codes, in[i]);
      deferred = m;
      finder.Insert(i, h);
      ++i;
      continue;
    }
    const DeflateMatch m =
        finder.Find(i, h, search.maxCandidates, search.compareLength, deferred.length + 1);
    if (m.length > deferred.length + 1) {
      PutLiteral(out, codes, in[i - 1]);
      deferred = m;
      finder.Insert(i, h);
      ++i;
    } else {
      PutMatch(out, codes, deferred.distance, deferred.length);
      finder.Insert(i, h);
      finder.InsertRange(i + 1, i + deferred.length - 1);
      i += deferred.length - 1;
      deferred = {0, 0};
    }
  }
  // Fewer than 4 bytes left: no more matches, so a deferred match goes out now.
  if (deferred.length != 0) {
    PutMatch(out, codes, deferred.distance, deferred.length);
    finder.InsertRange(i, i + deferred.length - 1);
    i += deferred.length - 1;
  }
  for (; i < n; ++i) PutLiteral(out, codes, in[i]);
}

}  // namespace lum::codec
