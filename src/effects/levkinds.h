// The constructed effects' traits table: one row per EffectVarKind with its EFFECT keyword,
// the list it reads and the options that follow it, and the kind the post-fit description
// gives it. Code asks the row (or switches over the kinds with a case for each, no default:),
// so a new kind is whatever its row says and the build names every switch it must join.
#pragma once

#include "effects/levdesign.h"
#include "support/postfit.h"
#include "support/protocol.h"
#include "support/vsfcolumn.h"

#include <array>
#include <cstddef>
#include <cstdint>

// One row per kind of constructed effect. Every question code asks about a kind is a column
// here: a new kind gives each of them when it adds its row.
struct EffectKindTraits {
  VsfColumn<EffectVarKind> kind;
  VsfColumn<const char*> keyword;     // its keywords in the EFFECT rule
  VsfColumn<int> listKind;            // what its variable list holds (ListKind::Values, Variables)
  VsfColumn<const char*> listItem;    // the rule of the list: several variables or one
  VsfColumn<const char*> options;     // the rule of the options after the list, and ')'
  VsfColumn<PostFitKind> postFitKind; // the kind the post-fit description gives it
};

// One row per kind code, in code order: EffectVarKind::Last rows.
inline constexpr size_t kEffectKindCount = static_cast<size_t>(EffectVarKind::Last);
using EffectKindTable = std::array<EffectKindTraits, kEffectKindCount>;

inline constexpr EffectKindTable kEffectKindTraits{{
    {.kind = EffectVarKind::MultiMember,
     .keyword = "'MULTIMEMBER'/'MM'",
     .listKind = ListKind::Variables,
     .listItem = "varlist",
     .options = " [ '/' { mmopt } ] ')'",
     .postFitKind = PFK_MULTIMEMBER},
    {.kind = EffectVarKind::Collection,
     .keyword = "'COLLECTION'/'VARIABLES$'/'VARS$'",
     .listKind = ListKind::Variables,
     .listItem = "varlist",
     .options = "   [ '/' { efdetails } ] ')'",
     .postFitKind = PFK_COLLECTION},
    {.kind = EffectVarKind::Spline,
     .keyword = "'SPLINE'/'SPL'",
     .listKind = ListKind::Values,
     .listItem = "varlist",
     .options = " [ '/' { splopt } ] ')'",
     .postFitKind = PFK_SPLINE},
    {.kind = EffectVarKind::Polynomial,
     .keyword = "'POLY'/'POLYNOMIAL'",
     .listKind = ListKind::Values,
     .listItem = "varlist",
     .options = " [ '/' { polyopt } ] ')'",
     .postFitKind = PFK_POLYNOMIAL},
    {.kind = EffectVarKind::Lag,
     .keyword = "'LAG'",
     .listKind = ListKind::Variables,
     .listItem = "varitem",
     .options = " [ '/' { lagopt } ] ')'",
     .postFitKind = PFK_LAG},
}};

// Row i describes kind code i + 1. A row left out is refused above (its columns have no
// defaults) and a row too many does not fit the array; this refuses rows out of order.
[[nodiscard]] consteval bool effectKindRowsInOrder(const EffectKindTable& table) {
  for (size_t i = 0; i < table.size(); ++i)
    if (table[i].kind != static_cast<EffectVarKind>(i + 1))
      return false;
  return true;
}
static_assert(effectKindRowsInOrder(kEffectKindTraits),
              "kEffectKindTraits needs one row per EffectVarKind, in order");

// The columns of a row that follow from one another: a keyword and a list rule, a list of
// variables or of values, and a post-fit kind of its own (two kinds described as one could
// not be told apart).
[[nodiscard]] consteval bool effectKindRowsAgree(const EffectKindTable& table) {
  for (size_t i = 0; i < table.size(); ++i) {
    const EffectKindTraits& t = table[i];
    if (t.keyword.get() == nullptr || t.listItem.get() == nullptr || t.options.get() == nullptr ||
        (t.listKind != ListKind::Values && t.listKind != ListKind::Variables))
      return false;
    for (size_t j = 0; j < i; ++j)
      if (table[j].postFitKind == t.postFitKind)
        return false;
  }
  return true;
}
static_assert(effectKindRowsAgree(kEffectKindTraits),
              "a row of kEffectKindTraits contradicts itself or another");

// The row of a kind of constructed effect.
[[nodiscard]] constexpr const EffectKindTraits& levEffectKind(EffectVarKind kind) {
  return kEffectKindTraits[static_cast<size_t>(kind) - 1];
}
