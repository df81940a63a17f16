// The design descriptor built from the MODEL, CLASS and EFFECT statements.
#pragma once

#include <cstdint>

struct LevDesign {
  int32_t columnCount;   // number of design columns (filled by levelisation)
  uint8_t flags;         // bit 0: normal BY-group run; bit 1: names of the whole data set
  uint8_t splitWarned;
  uint8_t pad[2];
  char** columnNames;
  int32_t constructedCount;
  int32_t worstReturnCode; // worst library severity (4, 1012, 3000)
};
