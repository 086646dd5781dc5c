// Variant: the tagged value through which the engine takes sources, targets and filters
// and returns FileInfo. It is missing (an omitted optional argument), empty, a number, a
// Boolean, a text, a byte array held as its own copy, a byte array referring to the
// caller's std::vector (so the engine can read it in place and grow or trim it when it is
// a write target), an array of variants, or a stream object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace lum::zip {

// The stream protocol: a caller's object that the storage layer reads from or writes to.
// Numbers are 32-bit signed and passed by reference, as the protocol defines them.
class IVfsStream {
 public:
  virtual ~IVfsStream() = default;
  // Moves the position by `distance` from the start (method 0), the current position (1)
  // or the end (2); returns the new position.
  virtual std::int32_t VfsSetFilePointer(std::int32_t& distance, std::int32_t& method) = 0;
  // Reads up to `size` bytes into `destination`; returns the count read, 0 at the end.
  virtual std::int32_t VfsReadFile(std::uint8_t* destination, std::int32_t& size) = 0;
  // Writes `size` bytes from `source`; returns the count written.
  virtual std::int32_t VfsWriteFile(const std::uint8_t* source, std::int32_t& size) = 0;
  // Marks the end of an output; `name` says what was completed ("[output_archive]" or an
  // entry's FileName).
  virtual void VfsSetEndOfFile(std::string& name) = 0;
};

// How a stream object reports a failure: its member throws VfsStreamError. The engine reports
// it as an error of its own storage layer, with this Source (the failing procedure) and
// Description: while an entry is worked it is that entry's continuable error, otherwise the
// operation's. Any other exception thrown by a stream object ends the operation as a fatal
// error.
struct VfsStreamError {
  std::string Source;
  std::string Description;
};

using ByteArray = std::vector<std::uint8_t>;
using StreamRef = std::shared_ptr<IVfsStream>;  // an object reference; may be null

class Variant;
using VariantArray = std::vector<Variant>;

class Variant {
 public:
  struct Missing {};
  struct Empty {};
  // A byte array referring to the caller's vector (the caller keeps it alive).
  struct ByteArrayRef {
    ByteArray* array;
  };
  using Value = std::variant<Missing, Empty, double, bool, std::string, ByteArray, ByteArrayRef,
                             VariantArray, StreamRef>;

  Variant() : m_value(Empty{}) {}
  Variant(Missing) : m_value(Missing{}) {}
  Variant(double v) : m_value(v) {}
  Variant(int v) : m_value(static_cast<double>(v)) {}
  Variant(std::int64_t v) : m_value(static_cast<double>(v)) {}
  Variant(std::uint32_t v) : m_value(static_cast<double>(v)) {}
  Variant(bool v) : m_value(v) {}
  Variant(std::string v) : m_value(std::move(v)) {}
  Variant(const char* v) : m_value(std::string(v)) {}
  Variant(ByteArray v) : m_value(std::move(v)) {}
  Variant(VariantArray v) : m_value(std::move(v)) {}
  Variant(StreamRef v) : m_value(std::move(v)) {}
  // A variant that refers to the caller's byte array instead of copying it.
  static Variant Ref(ByteArray& array) { return Variant(ByteArrayRef{&array}); }
  static Variant MissingArg() { return Variant(Missing{}); }

  bool IsMissing() const { return std::holds_alternative<Missing>(m_value); }
  bool IsEmpty() const { return std::holds_alternative<Empty>(m_value); }
  bool IsNumber() const { return std::holds_alternative<double>(m_value); }
  bool IsBool() const { return std::holds_alternative<bool>(m_value); }
  bool IsText() const { return std::holds_alternative<std::string>(m_value); }
  // A byte array, held as a copy or referring to the caller's.
  bool IsByteArray() const {
    return std::holds_alternative<ByteArray>(m_value) ||
           std::holds_alternative<ByteArrayRef>(m_value);
  }
  bool IsByteArrayRef() const { return std::holds_alternative<ByteArrayRef>(m_value); }
  bool IsArray() const { return std::holds_alternative<VariantArray>(m_value); }
  bool IsObject() const { return std::holds_alternative<StreamRef>(m_value); }

  double Number() const { return std::get<double>(m_value); }
  bool Bool() const { return std::get<bool>(m_value); }
  const std::string& Text() const { return std::get<std::string>(m_value); }
  const VariantArray& Array() const { return std::get<VariantArray>(m_value); }
  const StreamRef& Object() const { return std::get<StreamRef>(m_value); }
  // The byte array (the caller's when this refers to it). Requires IsByteArray().
  ByteArray& Bytes() {
    if (auto* r = std::get_if<ByteArrayRef>(&m_value)) return *r->array;
    return std::get<ByteArray>(m_value);
  }
  const ByteArray& Bytes() const { return const_cast<Variant*>(this)->Bytes(); }

  // The value as text, as a caller's late-bound conversion would give it: numbers in
  // shortest decimal form, Booleans "True"/"False", empty/missing as "".
  std::string ToText() const;

  const Value& Raw() const { return m_value; }

 private:
  explicit Variant(ByteArrayRef r) : m_value(r) {}
  Value m_value;
};

}  // namespace lum::zip
