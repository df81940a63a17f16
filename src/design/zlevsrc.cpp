// The observation source of the design context: rewind and next-observation callbacks (per
// BY group or across BY groups), the value fetch by letters through a read vector declared
// once, the forwarders through which the levelisation engine reads, and the library's
// memory helpers. Building and ending the context is zlevrgi.cpp's. Declared in design/levreg.h.
#include "design/levlevel.h"
#include "design/levreg.h"
#include "design/levrow.h"

#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/stepcodes.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

namespace {

QkPool* generalPool() { return v_global_gcb_anchor->defaultPool; }

template <typename Fn> void registerInto(HostRoutine* slot, Fn fn) {
  // vir2g fails only for a null routine or slot, and both are ours.
  if (*slot == nullptr)
    (void)vir2g(reinterpret_cast<HostRoutine>(fn), slot);
}

[[nodiscard]] bool isNumeric(const LevVariable& v) { return v.var != nullptr && v.var->type == 1; }

// A numeric design variable that its data set holds as text (a SCORE data set whose column
// has a cell that is not a number): its cells are read as text and converted row by row.
[[nodiscard]] bool isTextNumber(const LevVariable& v) {
  return v.var != nullptr && v.var->type != 1;
}

[[nodiscard]] int32_t textLength(const LevVariable& v) {
  return v.var->length > 0 ? v.var->length : 1;
}

// The bytes at the end of a record that hold the text of such variables, in variable order.
[[nodiscard]] int32_t textNumberBytes(const LevDesign* d) {
  int32_t n = 0;
  for (int32_t j = 0; j < d->numericCount; ++j)
    if (isTextNumber(d->numerics[j]))
      n += textLength(d->numerics[j]);
  return n;
}

void normaliseWeightCount(LevRegContext* ctx) {
  if (ctx->weights == nullptr)
    ctx->weightCount = 0;
  else if (ctx->weightCount < 1)
    ctx->weightCount = 1;
}

// The levelisation context's view of the design context.
LevRegContext* owner(LevelizeContext* lctx) { return static_cast<LevRegContext*>(lctx->source); }

[[nodiscard]] int32_t LevGetInit(LevelizeContext* lctx, LevDesign*) {
  LevRegContext* ctx = owner(lctx);
  ctx->formattedFetch = lctx->serial;
  return codeOf(zlevGetInit(ctx)); // the levelisation callbacks hand back plain codes
}

[[nodiscard]] int32_t LevGetNext(LevelizeContext* lctx, LevDesign*) {
  return zlevGetNext(owner(lctx));
}

[[nodiscard]] int32_t LevGetVals(LevelizeContext* lctx, LevDesign* design) {
  LevRegContext* ctx = owner(lctx);
  int32_t r;
  if (ctx->formattedFetch) {
    void* dest[4] = {lctx->numeric, lctx->formatted, lctx->numericInternal, lctx->charInternal};
    r = zlevGetVals(ctx, "zcub", dest);
  } else {
    void* dest[3] = {lctx->numeric, lctx->numericInternal, lctx->charInternal};
    r = zlevGetVals(ctx, "zub", dest);
  }
  if (design->freqVariable != nullptr && r != 0) {
    void* dest[1] = {&design->freqValue};
    return zlevGetVals(ctx, "f", dest);
  }
  return r;
}

[[nodiscard]] int32_t LevGetLevIndex(LevelizeContext* lctx) {
  LevRegContext* ctx = owner(lctx);
  return reinterpret_cast<LevFilterFn>(ctx->filter)(lctx->pool, ctx->design->filterWord, nullptr,
                                                    ctx);
}

} // namespace

void* levBlock(QkPool* pool, size_t bytes) {
  if (bytes == 0 || pool == nullptr)
    return nullptr;
  return pool->allocate(pool, bytes, kQkZeroed);
}

QkPool* levGroupPool(LevRegContext* ctx) {
  return ctx->library != nullptr && ctx->library->pool != nullptr ? ctx->library->pool
                                                                  : generalPool();
}

// Registers the engine's forwarders into the levelisation context, before the levelisation
// pass of zlevrgi reads the group.
void levRegisterForwarders(LevRegContext* ctx, LevelizeContext* lctx) {
  lctx->getInit = lctx->getNext = lctx->getVals = nullptr;
  registerInto(&lctx->getInit, LevGetInit);
  registerInto(&lctx->getNext, LevGetNext);
  registerInto(&lctx->getVals, LevGetVals);
  // vir2g fails only for a null routine or slot, and both are ours.
  if (ctx->filter != nullptr)
    (void)vir2g(reinterpret_cast<HostRoutine>(&LevGetLevIndex), &lctx->filter);
  lctx->source = ctx;
}

VsfStatus GetInit(LevRegContext* ctx) {
  if (ctx->library == nullptr || ctx->library->data == nullptr)
    return VsfStatus::Ok;
  return xbyrewind(xdsby(ctx->library->data)) != 0 ? VsfStatus::DataNotReadable : VsfStatus::Ok;
}

int32_t GetNext(LevRegContext* ctx) {
  if (ctx->library == nullptr || ctx->library->data == nullptr)
    return 0;
  return xobsnext(ctx->library->data) == 1 ? 1 : 0;
}

VsfStatus GetInitAcrossBy(LevRegContext* ctx) {
  // Positions at the first row; an empty or closed set shows in the first read.
  if (ctx->library != nullptr && ctx->library->data != nullptr)
    (void)xopnt(ctx->library->data, 1);
  return VsfStatus::Ok;
}

int32_t GetNextAcrossBy(LevRegContext* ctx) {
  if (ctx->library == nullptr || ctx->library->data == nullptr)
    return 0;
  return xoget(ctx->library->data) == 1 ? 1 : 0;
}

void zlevRegisterSource(LevRegContext* ctx) {
  if (has(ctx->design->designFlags, LevDesignFlag::AcrossBy)) {
    registerInto(&ctx->getInit, GetInitAcrossBy);
    registerInto(&ctx->getNext, GetNextAcrossBy);
  } else {
    registerInto(&ctx->getInit, GetInit);
    registerInto(&ctx->getNext, GetNext);
  }
  registerInto(&ctx->getVals, GetVals);
}

VsfStatus zlevGetInit(LevRegContext* ctx) {
  if (ctx->getInit == nullptr)
    zlevRegisterSource(ctx);
  // A pass that cannot start over would read a part of the group, or none of it.
  if (reinterpret_cast<LevGetInitFn>(ctx->getInit)(ctx) != VsfStatus::Ok) {
    vsfLog(LevMsg::GroupNotReread);
    levRaise(ctx->design, StepRc::Error);
    return VsfStatus::ReportedFailure;
  }
  return VsfStatus::Ok;
}

void levObservationNotRead(LevDesign* design) {
  if (design->worstReturnCode < codeOf(StepRc::Error))
    vsfLog(LevMsg::ObservationNotRead);
  levRaise(design, StepRc::Error);
}

int32_t zlevGetNext(LevRegContext* ctx) {
  if (ctx->getNext == nullptr)
    zlevRegisterSource(ctx);
  return reinterpret_cast<LevGetNextFn>(ctx->getNext)(ctx);
}

int32_t zlevGetVals(LevRegContext* ctx, const char* letters, void* const* destinations) {
  if (ctx->getVals == nullptr)
    zlevRegisterSource(ctx);
  return reinterpret_cast<LevGetValsFn>(ctx->getVals)(ctx, letters, destinations);
}

VsfStatus SetupXV(LevRegContext* ctx, int32_t formatted) {
  LevReadBlock* rb = ctx->library;
  LevDesign* d = ctx->design;
  if (rb == nullptr || rb->data == nullptr)
    return VsfStatus::DataNotReadable;
  HostReadVector** vector = formatted ? &rb->formattedVector : &rb->plainVector;
  char** record = formatted ? &rb->formattedRecord : &rb->plainRecord;
  if (*vector != nullptr)
    return VsfStatus::Ok;
  normaliseWeightCount(ctx);
  // Everything declared below counts: the capacity is exactly the number of declarations.
  int32_t capacity = d->numericCount + ctx->responseCount + ctx->weightCount + d->classCount +
                     (formatted ? d->classCount : 0) + (ctx->extraExplanatory ? 1 : 0) +
                     (ctx->extraResponse1 ? 1 : 0) + (ctx->extraResponse2 ? 1 : 0) +
                     (ctx->freq ? 1 : 0);
  if (xvgeti(rb->data, capacity, vector) != 0 || *vector == nullptr)
    return VsfStatus::NoMemory;
  int32_t offset = 0;
  VsfStatus rc = VsfStatus::Ok;
  auto declare = [&](const LevVariable* v, int32_t length, int32_t type) {
    if (v != nullptr && v->var != nullptr && rc == VsfStatus::Ok &&
        xvgetd(*vector, v->var->number, offset, 0, length, type) != 0)
      rc = VsfStatus::DataNotReadable;
    offset += length;
  };
  auto declareNumber = [&](const LevVariable* v) {
    if (v != nullptr && v->var != nullptr && v->var->type == 1 && rc == VsfStatus::Ok &&
        xvgetd(*vector, v->var->number, offset, 0, 8, 8) != 0)
      rc = VsfStatus::DataNotReadable;
    offset += 8;
  };
  for (int32_t j = 0; j < d->numericCount; ++j)
    declareNumber(&d->numerics[j]);
  if (ctx->extraExplanatory != nullptr)
    declareNumber(ctx->extraExplanatory);
  for (int32_t r = 0; r < ctx->responseCount; ++r)
    declareNumber(&ctx->responses[r]);
  if (ctx->extraResponse1 != nullptr)
    declareNumber(ctx->extraResponse1);
  if (ctx->extraResponse2 != nullptr)
    declareNumber(ctx->extraResponse2);
  for (int32_t i = 0; i < d->classCount; ++i) {
    LevVariable& v = d->classes[i];
    if (formatted || isNumeric(v))
      levWidthCheck(&v);
    if (formatted) {
      // A formatting hint: it fails only for a data set not open, which the reads report.
      if (v.var != nullptr && v.var->number > 0)
        (void)xffile(rb->data, 70, &v.var->number, 1);
      declare(&v, v.levelWidth, 4);
    }
  }
  if (ctx->weightCount == 0 || ctx->weights == nullptr)
    offset += 8;
  else
    for (int32_t k = 0; k < ctx->weightCount; ++k)
      declareNumber(&ctx->weights[k]);
  declareNumber(ctx->freq);
  for (int32_t i = 0; i < d->classCount; ++i) {
    const LevVariable& v = d->classes[i];
    if (isNumeric(v))
      declareNumber(&v);
    else
      declare(&v, v.var != nullptr && v.var->length > 0 ? v.var->length : 1, 8);
  }
  for (int32_t j = 0; j < d->numericCount; ++j)
    if (isTextNumber(d->numerics[j]))
      declare(&d->numerics[j], textLength(d->numerics[j]), 8);
  if (rc == VsfStatus::Ok && xvgete(*vector) != 0)
    rc = VsfStatus::DataNotReadable;
  if (rc != VsfStatus::Ok) {
    xvgett(*vector);
    *vector = nullptr;
    return rc;
  }
  QkPool* pool = generalPool();
  if (*record != nullptr)
    pool->free(pool, *record);
  *record = static_cast<char*>(levBlock(pool, static_cast<size_t>(offset > 0 ? offset : 8)));
  (formatted ? rb->formattedLength : rb->plainLength) = offset > 0 ? offset : 8;
  return VsfStatus::Ok;
}

namespace {

// The destinations of GetVals by letter.
struct ValueDestinations {
  void *z = nullptr, *y = nullptr, *c = nullptr, *w = nullptr, *f = nullptr, *u = nullptr,
       *b = nullptr;
};

ValueDestinations destinationsOf(const char* letters, void* const* destinations) {
  ValueDestinations d;
  for (int32_t k = 0; letters[k] != '\0'; ++k) {
    void* dest = destinations[k];
    switch (letters[k]) {
    case 'z':
      d.z = dest;
      break;
    case 'y':
      d.y = dest;
      break;
    case 'c':
      d.c = dest;
      break;
    case 'w':
      d.w = dest;
      break;
    case 'f':
      d.f = dest;
      break;
    case 'u':
      d.u = dest;
      break;
    case 'b':
      d.b = dest;
      break;
    default:
      break;
    }
  }
  return d;
}

// The numeric variables of a record into dst.z: missing for a variable the data set does not
// hold, converted from the text at the record's end for one it holds as text.
void decodeNumerics(LevRegContext* ctx, const ValueDestinations& dst, const char* record,
                    bool useFormatted) {
  const LevDesign* d = ctx->design;
  const LevReadBlock* rb = ctx->library;
  int32_t textAt = (useFormatted ? rb->formattedLength : rb->plainLength) - textNumberBytes(d);
  for (int32_t j = 0; j < d->numericCount; ++j) {
    const LevVariable& v = d->numerics[j];
    double x;
    std::memcpy(&x, record + 8 * static_cast<size_t>(j), 8);
    if (v.var == nullptr) {
      x = hostMissing();
    } else if (isTextNumber(v)) {
      // A text that is no number leaves x missing, as it should be.
      (void)levNumberFromText(record + textAt, textLength(v), &x);
      textAt += textLength(v);
    }
    if (dst.z != nullptr)
      static_cast<double*>(dst.z)[j] = x;
  }
}

// Spreads one record of the formatted or plain read vector over the destinations.
void decodeRecord(LevRegContext* ctx, const ValueDestinations& dst, const char* record,
                  bool useFormatted) {
  LevDesign* d = ctx->design;
  int32_t at = 0;
  auto number = [&]() {
    double x;
    std::memcpy(&x, record + at, 8);
    at += 8;
    return x;
  };
  if (ctx->rowPlan != nullptr && ctx->rowPlan->plainNumbers) {
    // Every numeric variable a number of the data set: the record's first values as they are.
    const auto bytes = sizeof(double) * static_cast<size_t>(d->numericCount);
    if (dst.z != nullptr && bytes > 0)
      std::memcpy(dst.z, record, bytes);
    at += static_cast<int32_t>(bytes);
  } else {
    decodeNumerics(ctx, dst, record, useFormatted);
    at += 8 * d->numericCount;
  }
  if (ctx->extraExplanatory != nullptr)
    ctx->extraExplanatory->value = number();
  for (int32_t r = 0; r < ctx->responseCount; ++r) {
    double x = number();
    if (dst.y != nullptr)
      static_cast<double*>(dst.y)[r] = isNumeric(ctx->responses[r]) ? x : hostMissing();
  }
  if (ctx->extraResponse1 != nullptr)
    ctx->extraResponse1->value = number();
  if (ctx->extraResponse2 != nullptr)
    ctx->extraResponse2->value = number();
  if (useFormatted)
    for (int32_t i = 0; i < d->classCount; ++i) {
      const int32_t width = d->classes[i].levelWidth;
      if (dst.c != nullptr)
        std::memcpy(static_cast<char**>(dst.c)[i], record + at, static_cast<size_t>(width));
      at += width;
    }
  if (ctx->weightCount == 0) {
    at += 8;
  } else {
    double sum = 0;
    for (int32_t k = 0; k < ctx->weightCount; ++k) {
      double x = number();
      sum = isHostMissing(sum) || isHostMissing(x) ? hostMissing() : sum + x;
    }
    if (!isHostMissing(sum))
      sum /= ctx->weightCount;
    if (dst.w != nullptr)
      *static_cast<double*>(dst.w) = sum;
  }
  double freq = number();
  if (dst.f != nullptr && ctx->freq != nullptr)
    *static_cast<double*>(dst.f) = freq;
  int32_t kn = 0, kc = 0;
  for (int32_t i = 0; i < d->classCount; ++i) {
    const LevVariable& v = d->classes[i];
    if (isNumeric(v)) {
      double x = number();
      if (dst.u != nullptr)
        static_cast<double*>(dst.u)[kn] = x;
      ++kn;
    } else {
      const int32_t length = v.var != nullptr && v.var->length > 0 ? v.var->length : 1;
      if (dst.b != nullptr) {
        LevCharValue& e = static_cast<LevCharValue*>(dst.b)[kc];
        int32_t n = e.length < length ? e.length : length;
        std::memcpy(e.buffer, record + at, static_cast<size_t>(n));
      }
      at += length;
      ++kc;
    }
  }
}

[[nodiscard]] bool wantsFormatted(const LevRegContext* ctx, const char* letters) {
  return std::strchr(letters, 'c') != nullptr || ctx->formattedFetch;
}

} // namespace

int32_t GetVals(LevRegContext* ctx, const char* letters, void* const* destinations) {
  LevReadBlock* rb = ctx->library;
  const bool useFormatted = wantsFormatted(ctx, letters);
  normaliseWeightCount(ctx);
  if (rb == nullptr || rb->data == nullptr)
    return 0;
  HostReadVector* vector = useFormatted ? rb->formattedVector : rb->plainVector;
  if (vector == nullptr) {
    if (SetupXV(ctx, useFormatted ? 1 : 0) != VsfStatus::Ok)
      return 0;
    vector = useFormatted ? rb->formattedVector : rb->plainVector;
  }
  char* record = useFormatted ? rb->formattedRecord : rb->plainRecord;
  if (xyvget(vector, record) != 0)
    return 0;
  decodeRecord(ctx, destinationsOf(letters, destinations), record, useFormatted);
  return 1;
}

int32_t GetValsFromRecord(LevRegContext* ctx, const char* letters, void* const* destinations) {
  LevReadBlock* rb = ctx->library;
  const bool useFormatted = wantsFormatted(ctx, letters);
  normaliseWeightCount(ctx);
  const char* record = rb == nullptr  ? nullptr
                       : useFormatted ? rb->formattedRecord
                                      : rb->plainRecord;
  if (record == nullptr)
    return 0;
  decodeRecord(ctx, destinationsOf(letters, destinations), record, useFormatted);
  return 1;
}

bool levNumberFromText(const char* text, int32_t length, double* value) {
  *value = hostMissing();
  std::string_view t(text, static_cast<size_t>(std::max(length, 0)));
  const size_t first = t.find_first_not_of(' ');
  if (first == std::string_view::npos)
    return true;
  t = t.substr(first, t.find_last_not_of(' ') - first + 1);
  auto spelled = [&](std::string_view m) {
    return t.size() == m.size() && std::equal(t.begin(), t.end(), m.begin(), [](char a, char b) {
             return std::tolower(static_cast<unsigned char>(a)) == b;
           });
  };
  if (t == "." || spelled("na") || spelled("nan") || spelled("n/a"))
    return true;
  if (t.size() > 1 && t[0] == '+' && t[1] != '-' && t[1] != '+')
    t.remove_prefix(1);
  double x = 0;
  const auto r = std::from_chars(t.data(), t.data() + t.size(), x);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size() || !std::isfinite(x))
    return false;
  *value = x;
  return true;
}

int32_t zlevseci(LevRegContext* ctx, QkPool* pool) {
  LevDesign* d = ctx->design;
  if (d == nullptr)
    return 1;
  if (ctx->library == nullptr)
    ctx->library = levArray<LevReadBlock>(pool, 1);
  if (ctx->library->pool == nullptr)
    ctx->library->pool = pool;
  ctx->formattedFetch = 1;
  if (d->numericCount > 0)
    ctx->numeric = levArray<double>(pool, static_cast<size_t>(d->numericCount));
  if (d->classCount > 0) {
    ctx->levelIndex = levArray<int32_t>(pool, static_cast<size_t>(d->classCount));
    ctx->valueBuffers = levArray<char*>(pool, static_cast<size_t>(d->classCount));
    for (int32_t i = 0; i < d->classCount; ++i) {
      int32_t width = d->classes[i].levelWidth > 0 ? d->classes[i].levelWidth : 16;
      ctx->valueBuffers[i] = levArray<char>(pool, static_cast<size_t>(width));
    }
  }
  if (ctx->responseCount > 0)
    ctx->responseOnClass = levArray<int32_t*>(pool, static_cast<size_t>(ctx->responseCount));
  registerInto(&ctx->getVals, GetVals);
  registerInto(&ctx->getInit, GetInit);
  registerInto(&ctx->getNext, GetNext);
  return 0;
}
