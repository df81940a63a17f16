// The Effect, CLASS-level and Parameter columns that the estimates tables share (the
// estimates of a fit and the averaged estimates of model averaging): their widths over the
// effects of a model, the CLASS variables those effects use, and per row the effect's name,
// the parameter's text in the design's label style and its levels. The tables' own columns
// and rows are their printers'.
#pragma once

#include "support/stepcodes.h"

#include "output/vsfmodelview.h"

#include <cstdint>

struct VsfContext;
struct VsfModel;
struct VsfOut;
struct QkPool;

struct VsfParmColumns {
  VsfContext* ctx;
  QkPool* pool;
  const LevDesign* d;
  const uint8_t style; // parameter label style of the design (0 interlaced)
  const int32_t classCount;
  uint8_t* usedClass = nullptr; // CLASS variables of the effects in the model
  int32_t We = 0, Wp = 0;       // widths of the Effect and Parameter texts
  char* effect = nullptr;
  char* parameter = nullptr;
  char** classTexts = nullptr;
  int32_t* classWidths = nullptr;
  double* classValues = nullptr;
  int32_t nameLength = 0; // of the effect whose rows are being written
  const char* name = nullptr;

  VsfParmColumns(VsfContext* c, QkPool* p);
  // The widths over the model's effects (the intercept's name counts unless NOINT) and the
  // CLASS variables they use, then the row buffers. Ok, or NoMemory when memory runs out.
  [[nodiscard]] VsfStatus measure(const VsfModel* m, bool noint);
  // The level columns, one per CLASS variable in use, in the design's order. Ok, or NoMemory when
  // a level buffer cannot be taken (after the object was made).
  [[nodiscard]] VsfStatus classColumns(VsfOut& out);
  // Effect k's name goes to the Effect buffer; its view maps its parameters to columns.
  VsfEffectView startEffect(const VsfModel* m, int32_t k);
  // The Parameter text and the level columns of parameter j of the effect started last.
  void fillParameter(const VsfEffectView& v, int32_t j);
};
