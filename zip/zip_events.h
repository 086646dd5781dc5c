// The events of cZipEngine: one virtual member per event, each a no-op by default, so an
// owner overrides only what it handles and registers the sink with cZipEngine::SetEvents.
//
// Arguments passed by reference are the engine's own state, not copies:
// - every `Cancel` is the engine's cancel flag; setting it stops the running operation at
//   its next check;
// - the `Description` of Error is the engine's LastError text, so changing it changes
//   LastError;
// - the `Source` of Error is a copy; a change to it is not read back;
// - Level, SkipFile and File are read back by the operation that raised the event.
//
// Events are raised synchronously on the caller's thread from inside the running
// operation. A handler must not start another operation on the same engine. A handler
// should not throw; if it does, the running operation stops and reports the failure
// through LastError like any other fatal error, and the exception does not reach the
// operation's caller.
#pragma once

#include <cstdint>
#include <string>

#include "zip/variant.h"

namespace lum::zip {

class cZipEngineEvents {
 public:
  virtual ~cZipEngineEvents() = default;

  // Raised per chunk while an entry is extracted or compressed. Current and Total count
  // the bytes of the entry as the operation defines them.
  virtual void Progress(std::int32_t /*FileIdx*/, std::int32_t /*Current*/, std::int32_t /*Total*/,
                        bool& /*Cancel*/) {}

  // Raised once per reported error. FileIdx is the entry being worked on (−1 for none).
  // Source is "cZipEngine.<operation>", followed for a raised error by CR LF and the
  // procedure that raised it. Cancel arrives true for a fatal error and false for a
  // continuable one; setting it stops the operation.
  virtual void Error(std::int32_t /*FileIdx*/, std::string& /*Source*/,
                     std::string& /*Description*/, bool& /*Cancel*/) {}

  // Raised before an entry is compressed; the handler may change Level, skip the entry
  // or cancel the whole archive.
  virtual void BeforeCompress(std::int32_t /*FileIdx*/, std::int32_t& /*Level*/, bool& /*SkipFile*/,
                              bool& /*Cancel*/) {}

  // Raised before an entry is written; File is the output (a path for a folder target,
  // else the caller's target) and may be changed to redirect the entry.
  virtual void BeforeExtract(std::int32_t /*FileIdx*/, Variant& /*File*/, bool& /*SkipFile*/,
                             bool& /*Cancel*/) {}

  // Raised after an entry has been written and its CRC-32 verified, with the same File as
  // BeforeExtract left it.
  virtual void ExtractComplete(std::int32_t /*FileIdx*/, Variant& /*File*/) {}

  // Raised when AddFile or AddFromFolder leaves out something that cannot be an entry: a
  // FIFO, socket or device (never opened, since reading it could block), a symbolic link
  // whose target is missing, or a folder reached a second time through a symbolic link.
  // Path names it; Description says why ("FIFO skipped", ...). Nothing is queued for it,
  // LastError is not changed, and the operation goes on.
  virtual void Warning(const std::string& /*Path*/, const std::string& /*Description*/) {}
};

}  // namespace lum::zip
