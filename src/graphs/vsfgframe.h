// The frame every graph call of the procedure shares: the records of one graph call, the
// step-axis list of the step-based graphs, the shown step range and the view that filters
// a table to it. The graphs themselves are in vsfgraph.cpp and its neighbours.
#pragma once

#include "support/hostif.h"
#include "support/messages.h"
#include "support/protocol.h"
#include "support/vsfoptions.h"

#include <cstdint>
#include <vector>

struct VsfContext;
struct VsfModel;

// The step axes of the step-based graphs are VsfStepAxis (support/protocol.h), as STEPAXIS=
// gives them.

// The shown steps, as displayed step numbers; `view` when a view must filter the table.
struct VsfStepRange {
  int32_t first;
  int32_t last;
  bool given;
  bool view;
};

// The step-axis list (6 records, 8 with the chosen value) and the "_INTTICKS" text.
struct VsfStepAxisList {
  std::vector<RvqAttr> records;
  RvqText* intTicks;
};

// The records of one graph call (RvqMethod::MakeGraph), in the order they are added.
class VsfGraphCall {
public:
  // Graph name (138), label (296) and description (310).
  void head(const char* name, RvqText* label, RvqText* description);
  void templ(const char* path);                // 339
  void data(RvqText** refs, uint16_t count);   // 2829, the array outlives the call
  void view(RvqObject* view);                  // 307
  void text(const char* name, RvqText* value); // a dynamic variable with a text value
  void value(const char* name,
             RvqAttr value);              // a dynamic variable; value's id becomes RvqAttrId::Value
  void extra(RvqAttr value);              // one more value record of the last variable
  void list(const VsfStepAxisList& axis); // 174, the list outlives the call
  // Dynamic variables gathered into a nested list, added as one 174 record by nestedList.
  void nested(const char* name, RvqAttr value);
  void nestedList();
  void call(VsfContext* ctx);

private:
  std::vector<RvqAttr> records_;
  std::vector<RvqAttr> nested_;
};

// The axis a graph uses: its setting, or STEPLABEL when the fit has at most `threshold`
// steps and STEP beyond.
// The row of a table kept per step axis (NUMBER, EFFECT, NORMB) for an axis vsfgAutoAxis
// resolved.
[[nodiscard]] inline int32_t vsfgAxisRow(VsfStepAxis axis) {
  return static_cast<int32_t>(axis) - 1;
}
[[nodiscard]] VsfStepAxis vsfgAutoAxis(VsfStepAxis setting, const VsfModel* model,
                                       int32_t threshold);
// Works out the shown range from a plot's first and last step (negative and INT32_MAX when
// not given); false when it holds no step.
[[nodiscard]] bool vsfgStepRange(const VsfContext* ctx, const VsfModel* model, int32_t firstStep,
                                 int32_t lastStep, VsfStepRange* range);
// The step-axis list for `axis`, with the chosen value when the chosen step is shown.
VsfStepAxisList vsfgStepAxisList(const VsfContext* ctx, VsfStepAxis axis, int32_t chosenStep,
                                 const VsfStepRange& range);
// A view of the table behind `data` holding the rows of the shown steps (RvqMethod::MakeView).
RvqObject* vsfgMakeView(VsfContext* ctx, RvqText* data, const VsfStepRange& range);
// The number of rows a view selects; -1 when the host cannot tell.
[[nodiscard]] int64_t vsfgViewRows(RvqObject* view);
void vsfgReleaseView(VsfContext* ctx, RvqObject* view);

// The displayed step number of history entry `entry` of a fit (the selection summary's
// Step): the entries of the starting model are step 0, BACKWARD numbers entries from 0.
[[nodiscard]] int32_t vsfgShownStep(const VsfContext* ctx, const VsfModel* model, int32_t entry);
// The "_METHOD" text: the method's name, null for a method without one.
RvqText* vsfgMethodText(const VsfContext* ctx);

// A criterion as the graphs name it: the column that holds its values and the messages of
// its long and short labels (the long label of CV and CVEX carries the fold count); AICC
// for a code without its own.
struct VsfCriterionLabels {
  VsfCriterion criterion;
  const char* column;
  VsfMsg criterionLongLabel;
  VsfMsg criterionShortLabel;
  bool folds; // the long label carries the fold count
};
VsfCriterionLabels vsfgCriterionLabels(VsfCriterion criterion);
