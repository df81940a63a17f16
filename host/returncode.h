// The return code the host keeps for a step or a run. It starts at 0 and only rises: by the
// name of a StepRc, or to another return code; it is read as its number. A number becomes a
// return code only where the module hands one to the host (its exit, xrcset).
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

namespace qrxhost {

class ReturnCode {
public:
  constexpr ReturnCode() = default;

  // A code the module handed to the host (its exit, xrcset), taken as it comes.
  [[nodiscard]] static constexpr ReturnCode fromModule(int32_t code) { return ReturnCode(code); }

  constexpr void raise(StepRc rc) { raise(ReturnCode(codeOf(rc))); }
  constexpr void raise(ReturnCode other) {
    if (code_ < other.code_)
      code_ = other.code_;
  }

  [[nodiscard]] constexpr int32_t value() const { return code_; }
  // Read as its number (compared, printed, mapped to an exit status), never written as one.
  constexpr operator int32_t() const { return code_; }

private:
  constexpr explicit ReturnCode(int32_t code) : code_(code) {}
  int32_t code_ = 0;
};

} // namespace qrxhost
