// The description of a group's selected model that the post-fit bridge hands to the sibling
// module: CLASS variables with their levels and codings, each effect's CLASS part tabulated
// by level combination, constructed effects with what makes their values, and the
// parameters in prediction order.
#pragma once

#include "support/postfit.h"

#include <deque>
#include <string>
#include <vector>

struct LevDesign;
struct VsfContext;
struct VsfSelectedModel;

// The description of a selected model and the storage its pointers lead into.
struct PostFitDescription {
  PostFitModel model{};
  std::deque<std::string> texts;
  std::deque<std::vector<const char*>> textLists;
  std::deque<std::vector<int32_t>> intLists;
  std::deque<std::vector<int64_t>> int64Lists;
  std::deque<std::vector<double>> doubleLists;
  std::deque<std::vector<const double*>> arrayLists;
  std::vector<PostFitClass> classes;
  std::vector<PostFitConstructed> constructed;
  std::vector<int32_t> constructedOf; // design constructed record -> description index, -1
  std::vector<PostFitEffect> effects;
  std::vector<PostFitParameter> parameters;
  std::vector<int32_t> classOf; // design CLASS index -> description index, -1
  std::vector<uint8_t> byNumeric;
  std::vector<int32_t> numericOf; // design numeric index -> description index, -1

  const char* keep(std::string s) { return texts.emplace_back(std::move(s)).c_str(); }
};

// Fills h with the selected model of the current group, whose parameters carry `estimates`
// (one per model parameter).
void vsfDescribeSelectedModel(PostFitDescription& h, VsfContext* ctx, const VsfSelectedModel& sm,
                              const std::vector<double>& estimates);
// Names the parameters of h after the columns of the reduced design (reducedColumns: each
// parameter's column there, -1 keeps its name) and records the reduced columns.
void vsfNameReducedParameters(PostFitDescription& h, const LevDesign& reduced,
                              const std::vector<int32_t>& reducedColumns);
