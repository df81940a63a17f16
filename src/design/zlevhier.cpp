// Effect containment: per-effect summaries of CLASS, continuous and constructed-effect
// variables (polynomials without NOSEPARATE counted as their variables), the multiset and
// set comparisons of two effects, and the containing/contained lists of every effect.
// HIERARCHY= and backward elimination read the lists. Declared in design/levhier.h.
#include "design/levhier.h"

#include "effects/zlst.h"
#include "support/hoststubs.h"
#include "support/stepcodes.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"
#include "support/wzstr.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

namespace {

[[nodiscard]] int32_t combine(int32_t r1, int32_t r2, int32_t r3) {
  const int32_t r[3] = {r1, r2, r3};
  bool up = false, down = false;
  for (int32_t x : r) {
    if (x == 999)
      return 999;
    up = up || x == 1;
    down = down || x == -1;
  }
  if (up && down)
    return 999;
  for (int32_t x : r)
    if (x != 0)
      return x;
  return 0;
}

} // namespace

int32_t cont_lstcmp(const int32_t* a, int32_t na, int32_t* b, int32_t nb) {
  int32_t m = 0;
  for (int32_t i = 0; i < na; ++i)
    for (int32_t j = 0; j < nb; ++j) {
      if (b[j] < 0 || b[j] == INT32_MAX)
        continue; // marked
      if (b[j] == a[i]) {
        b[j] = b[j] == 0 ? INT32_MAX : -b[j];
        ++m;
        break;
      }
    }
  for (int32_t j = 0; j < nb; ++j)
    if (b[j] == INT32_MAX)
      b[j] = 0;
    else if (b[j] < 0)
      b[j] = -b[j];
  if (m < na && m < nb)
    return 999;
  if (m < na)
    return 1;
  if (m < nb)
    return -1;
  return 0;
}

int32_t levefc_all(int32_t i, int32_t j, EffectVarSummary* s) {
  if (i == j)
    return 0;
  const EffectVarSummary& a = s[i];
  EffectVarSummary& b = s[j];
  int32_t r1 = cont_lstcmp(a.continuous, std::abs(a.continuousCount), b.continuous,
                           std::abs(b.continuousCount));
  int32_t r2 = zlstcmp(a.classes, a.classCount, b.classes, b.classCount, 4);
  int32_t r3 = cont_lstcmp(a.constructed, std::abs(a.constructedCount), b.constructed,
                           std::abs(b.constructedCount));
  return combine(r1, r2, r3);
}

int32_t levefc_class(int32_t i, int32_t j, EffectVarSummary* s) {
  if (s[i].classCount == 0 && s[j].classCount == 0)
    return i == j ? 0 : 999;
  return levefc_all(i, j, s);
}

VsfStatus zlevhier(HierarchyRequest* req) {
  LevDesign* d = req->context->design;
  const int32_t E = d->effectCount;
  if (E <= 0)
    return VsfStatus::NoMemory;
  int32_t (*compare)(int32_t, int32_t, EffectVarSummary*) = nullptr;
  if (req->hierarchy == VsfHierarchy::SingleClass)
    compare = levefc_class;
  else if (req->hierarchy == VsfHierarchy::Single ||
           (req->hierarchy == VsfHierarchy::None && vsfMethodStartsFull(req->method)))
    compare = levefc_all;
  else
    return VsfStatus::Ok;
  // Work storage: the summaries and their rebuilt lists.
  std::vector<EffectVarSummary> s(static_cast<size_t>(E));
  std::vector<std::vector<int32_t>> lists(static_cast<size_t>(2 * E));
  for (int32_t e = 0; e < E; ++e) {
    const LevEffect& ef = d->effects[e];
    EffectVarSummary& x = s[static_cast<size_t>(e)];
    x.classCount = ef.allClassCount;
    x.classes = ef.allClass;
    x.continuousCount = ef.continuousCount;
    x.continuous = ef.continuous;
    x.constructedCount = ef.constructedCount;
    x.constructed = ef.constructed;
    if (ef.constructedCount == 0)
      continue;
    std::vector<int32_t>& numerics = lists[static_cast<size_t>(2 * e)];
    std::vector<int32_t>& constructed = lists[static_cast<size_t>(2 * e + 1)];
    for (int32_t k = 0; k < ef.constructedCount; ++k) {
      const LevEftVar& ev = d->constructed[ef.constructed[k]];
      if (ev.kind == EffectVarKind::Polynomial && (ev.poly == nullptr || !ev.poly->noSeparate))
        numerics.insert(numerics.end(), ev.numeric, ev.numeric + ev.numericCount);
      else
        constructed.push_back(ef.constructed[k]);
    }
    if (!numerics.empty()) {
      numerics.insert(numerics.end(), ef.continuous, ef.continuous + ef.continuousCount);
      std::sort(numerics.begin(), numerics.end());
      x.continuous = numerics.data();
      x.continuousCount = -static_cast<int32_t>(numerics.size());
    }
    std::sort(constructed.begin(), constructed.end());
    x.constructed = constructed.data();
    x.constructedCount = -static_cast<int32_t>(constructed.size());
  }
  const int32_t first = !has(d->designFlags, LevDesignFlag::NoIntercept) ? 1 : 0;
  for (int32_t i = first; i < E; ++i)
    for (int32_t j = first; j < E; ++j)
      if (compare(i, j, s.data()) == 1) {
        req->containedCounts[i] += 1;
        req->containingCounts[j] += 1;
      }
  QkPool* pool = req->usePool ? req->pool : req->allocator;
  for (int32_t e = 0; e < E; ++e) {
    req->contained[e] = req->containedCounts[e] > 0
                            ? levArray<int32_t>(pool, static_cast<size_t>(req->containedCounts[e]))
                            : nullptr;
    req->containing[e] =
        req->containingCounts[e] > 0
            ? levArray<int32_t>(pool, static_cast<size_t>(req->containingCounts[e]))
            : nullptr;
    if ((req->containedCounts[e] > 0 && req->contained[e] == nullptr) ||
        (req->containingCounts[e] > 0 && req->containing[e] == nullptr))
      return VsfStatus::NoMemory;
    req->containedCounts[e] = req->containingCounts[e] = 0;
  }
  for (int32_t i = first; i < E; ++i) {
    for (int32_t j = first; j < E; ++j)
      if (compare(i, j, s.data()) == 1)
        req->contained[i][req->containedCounts[i]++] = j;
    for (int32_t k = 0; k < req->containedCounts[i]; ++k) {
      int32_t j = req->contained[i][k];
      req->containing[j][req->containingCounts[j]++] = i;
    }
  }
  return VsfStatus::Ok;
}

int32_t zlevFindContVarInModel(const LevDesign* d, const char* name, int32_t length,
                               int32_t* index) {
  if (name == nullptr || wzstrip(name, length) == 0)
    return 0;
  bool any = false;
  auto test = [&](int32_t j) {
    any = true;
    const HostVariable* var = d->numerics[j].var;
    if (var != nullptr && wzstcmn(var->name, var->nameLength, name, length) == 0) {
      if (index != nullptr)
        *index = j;
      return true;
    }
    return false;
  };
  for (int32_t e = 0; e < d->effectCount; ++e) {
    const LevEffect& ef = d->effects[e];
    for (int32_t k = 0; k < ef.continuousCount; ++k)
      if (test(ef.continuous[k]))
        return std::abs(d->numerics[ef.continuous[k]].var->number);
    for (int32_t k = 0; k < ef.constructedCount; ++k) {
      const LevEftVar& ev = d->constructed[ef.constructed[k]];
      for (int32_t j = 0; j < ev.numericCount; ++j)
        if (test(ev.numeric[j]))
          return std::abs(d->numerics[ev.numeric[j]].var->number);
    }
  }
  return any ? -1 : 0;
}
