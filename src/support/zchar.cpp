// Conversion between 8-bit and 32-bit host characters through two 256-entry tables.
// Characters are tested as unsigned 32-bit values, so no code point can index past a table.
#include "support/zchar.h"

#include <array>

namespace {

constexpr std::array<QkChar, 256> makeWideTable() {
  std::array<QkChar, 256> t{};
  for (int i = 0; i < 256; ++i)
    t[i] = static_cast<QkChar>(i);
  return t;
}

constexpr std::array<uint8_t, 256> makeNarrowTable() {
  std::array<uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i)
    t[i] = static_cast<uint8_t>(i);
  return t;
}

// Shared body of the two narrowing conversions; `table` null writes the low byte.
[[nodiscard]] uint32_t narrow(const QkChar* input, int32_t length, char* output, int32_t capacity,
                              int32_t* written, const std::array<uint8_t, 256>* table) {
  if (length < 0)
    length = 0;
  if (capacity < 0)
    capacity = 0;
  int32_t n = length < capacity ? length : capacity;
  uint32_t status = length > capacity ? kQkCharTruncated : 0u;
  for (int32_t i = 0; i < n; ++i) {
    uint32_t c = static_cast<uint32_t>(input[i]);
    if (c < 256u) {
      output[i] = static_cast<char>(table ? (*table)[c] : static_cast<uint8_t>(c));
    } else {
      output[i] = kQkCharSubstitute;
      status = kQkCharSubstituted;
    }
  }
  if (written)
    *written = n;
  return status;
}

} // namespace

const std::array<QkChar, 256> kCompilerToQkChar = makeWideTable();
const std::array<uint8_t, 256> kQkCharToCompiler = makeNarrowTable();

int32_t Compiler2QKChar(const char* input, int32_t length, QkChar* output, int32_t capacity,
                        int32_t* written) {
  if (length < 0)
    length = 0;
  if (capacity < 0)
    capacity = 0;
  int32_t n = length < capacity ? length : capacity;
  for (int32_t i = 0; i < n; ++i)
    output[i] = kCompilerToQkChar[static_cast<unsigned char>(input[i])];
  if (written)
    *written = n;
  return length > capacity ? 1 : 0;
}

uint32_t QKChar2Compiler(const QkChar* input, int32_t length, char* output, int32_t capacity,
                         int32_t* written) {
  return narrow(input, length, output, capacity, written, &kQkCharToCompiler);
}

uint32_t QKChar2ASCII(const QkChar* input, int32_t length, char* output, int32_t capacity,
                      int32_t* written) {
  return narrow(input, length, output, capacity, written, nullptr);
}
