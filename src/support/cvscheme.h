// What each cross-validation scheme (CVMETHOD=) means to the code that reads, fits and shows
// it, asked in one place: a new scheme is an enumerator of VsfCvMethod and a case here, and
// the compiler names every switch over the schemes that lacks it.
#pragma once

#include "support/messages.h"
#include "support/protocol.h"

struct VsfCvScheme {
  VsfMsg name;          // its name in the model information (None: never shown)
  bool seeded;          // folds drawn from the random stream: more folds than training rows
                        // may be asked, and the information shows the seed
  bool indexFolds;      // a fold per level of the CVMETHOD=INDEX CLASS variable, not a count
  bool foldsAfterCount; // consecutive blocks: a row's fold needs the training row count
};

[[nodiscard]] constexpr VsfCvScheme vsfCvScheme(VsfCvMethod method) {
  switch (method) {
  case VsfCvMethod::None:
    return {VsfMsg::CvMethodRandom, false, false, false};
  case VsfCvMethod::Random:
    return {VsfMsg::CvMethodRandom, true, false, false};
  case VsfCvMethod::Block:
    return {VsfMsg::CvMethodBlock, false, false, true};
  case VsfCvMethod::Split:
    return {VsfMsg::CvMethodSplit, false, false, false};
  case VsfCvMethod::Index:
    return {VsfMsg::CvMethodIndex, false, true, false};
  }
  return {VsfMsg::CvMethodRandom, false, false, false}; // not reached: every scheme is a case
}
