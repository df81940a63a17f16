// What building a BY group's design came to: the result of zlevrgi and of the driver's
// levelisation step, which the step table hands on without the design library's records.
#pragma once

#include <cstdint>

enum class LevBuild : int32_t {
  Ready = 0,
  NoLevels = 1,          // no usable levels or values, or no levelisation context
  ReferenceNotLevel = 2, // a REF= value is not a level (reported)
  ConstructedFailed = 6, // the constructed-effect set-up failed
};
