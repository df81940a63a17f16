// The graph call frame: graph records, step axes, step ranges and views.
#include "graphs/vsfgframe.h"

#include "graphs/vsfgraph.h"
#include "output/vsfcontext.h"
#include "output/vsfprint.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/vsfcriterion.h"
#include "support/vsfmethods.h"
#include "support/wobmth.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

RvqAttr dynName(const char* name) { return vsfaDyn(name); }

RvqAttr withId(RvqAttr a, uint16_t id) {
  a.id = id;
  return a;
}

RvqAttr listRecord(const std::vector<RvqAttr>& list) {
  RvqAttr a{};
  a.id = RvqAttrId::AttrList;
  a.type = RVQ_LIST;
  a.value.counted.length = static_cast<uint16_t>(list.size());
  a.second.ptr = const_cast<RvqAttr*>(list.data());
  return a;
}

} // namespace

void VsfGraphCall::head(const char* name, RvqText* label, RvqText* description) {
  records_.push_back(vsfaName(name));
  records_.push_back(rvqTextHandle(RvqAttrId::Label, label));
  records_.push_back(rvqTextHandle(RvqAttrId::Description, description));
}

void VsfGraphCall::templ(const char* path) { records_.push_back(vsfaTemplate(path)); }

void VsfGraphCall::data(RvqText** refs, uint16_t count) {
  RvqAttr a{};
  a.id = RvqAttrId::DataRefs;
  a.type = RVQ_DATAREFS;
  a.value.counted.length = count;
  a.second.ptr = refs;
  records_.push_back(a);
}

void VsfGraphCall::view(RvqObject* view) {
  RvqAttr a{};
  a.id = RvqAttrId::View;
  a.type = RVQ_BOUND;
  a.value.ptr = view;
  records_.push_back(a);
}

void VsfGraphCall::text(const char* name, RvqText* value) {
  records_.push_back(dynName(name));
  records_.push_back(rvqTextHandle(RvqAttrId::Value, value));
}

void VsfGraphCall::value(const char* name, RvqAttr value) {
  records_.push_back(dynName(name));
  records_.push_back(withId(value, RvqAttrId::Value));
}

void VsfGraphCall::extra(RvqAttr value) { records_.push_back(withId(value, RvqAttrId::Value)); }

void VsfGraphCall::list(const VsfStepAxisList& axis) {
  records_.push_back(listRecord(axis.records));
}

void VsfGraphCall::nested(const char* name, RvqAttr value) {
  nested_.push_back(dynName(name));
  nested_.push_back(withId(value, RvqAttrId::Value));
}

void VsfGraphCall::nestedList() { records_.push_back(listRecord(nested_)); }

void VsfGraphCall::call(VsfContext* ctx) {
  vsfCallArray(ctx->outputManager, RvqMethod::MakeGraph, records_.data(),
               static_cast<int32_t>(records_.size()));
}

int32_t vsfgLastShownStep(const VsfContext* ctx, const VsfModel* m) {
  // BACKWARD shows history entry s as step s; the other methods number the entries after
  // the starting model from 1 (from 1 at the first entry when there is no starting model).
  return vsfMethodStartsFull(ctx->options.method) ? m->history.stepCount - 1
                                                  : m->history.stepCount - m->includeCount;
}

VsfStepAxis vsfgAutoAxis(VsfStepAxis setting, const VsfModel* m, int32_t threshold) {
  if (setting != VsfStepAxis::Auto)
    return setting;
  return m->history.stepCount <= threshold ? VsfStepAxis::StepLabel : VsfStepAxis::Step;
}

bool vsfgStepRange(const VsfContext* ctx, const VsfModel* m, int32_t firstStep, int32_t lastStep,
                   VsfStepRange* range) {
  const int32_t shownLast = vsfgLastShownStep(ctx, m);
  range->given = firstStep >= 0 || lastStep < INT32_MAX;
  range->first = std::max(firstStep, 0);
  range->last = std::min(lastStep, shownLast);
  range->view = range->given && (range->first > 0 || range->last < shownLast);
  return range->first <= range->last;
}

VsfStepAxisList vsfgStepAxisList(const VsfContext* ctx, VsfStepAxis axis, int32_t chosenStep,
                                 const VsfStepRange& range) {
  static const char* const kAxisNames[] = {"STEP", "STEP", "STEPLABEL", "NORMBETA"};
  VsfStepAxisList out;
  auto pair = [&](const char* name, RvqAttr value) {
    out.records.push_back(vsfaDyn(name));
    out.records.push_back(withId(value, RvqAttrId::Value));
  };
  const VsfStepAxis a = axis == VsfStepAxis::Auto ? VsfStepAxis::Step : axis;
  const int32_t shown = static_cast<int32_t>(a);
  pair("_STEPAXIS", rvqTextHandle(RvqAttrId::Value, vsfText(kAxisNames[shown])));
  pair("_STEPAXISLABEL",
       rvqTextHandle(RvqAttrId::Value, msgText(kMsgStepAxisLabels[vsfgAxisRow(a)])));
  pair("_STEPTIP",
       rvqTextHandle(RvqAttrId::Value, a == VsfStepAxis::Step ? nullptr : vsfText("Step")));
  if (chosenStep >= range.first && chosenStep <= range.last) {
    const VsfResultsState& r = ctx->results;
    if (a == VsfStepAxis::Step)
      pair("_CHOSENVALUE", rvqInt(RvqAttrId::Value, chosenStep));
    else if (a == VsfStepAxis::StepLabel)
      pair("_CHOSENVALUE", rvqTextHandle(RvqAttrId::Value, r.chosenStepLabelText));
    else
      pair("_CHOSENVALUE", rvqDouble(RvqAttrId::Value, r.chosenNormBeta));
  }
  out.intTicks = vsfText(a == VsfStepAxis::NormBeta ? "FALSE" : "TRUE");
  return out;
}

RvqObject* vsfgMakeView(VsfContext* ctx, RvqText* data, const VsfStepRange& range) {
  char where[96];
  std::snprintf(where, sizeof where, "where=(step >= %d and step <= %d)", range.first, range.last);
  return static_cast<RvqObject*>(vsfCallHandle(ctx->outputManager, RvqMethod::MakeView,
                                               {rvqTextHandle(RvqAttrId::DataRef, data),
                                                rvqTextHandle(RvqAttrId::Where, vsfText(where)),
                                                rvqBound(RvqAttrId::ViewHandle, nullptr)},
                                               2));
}

int64_t vsfgViewRows(RvqObject* view) {
  return xoinfo(reinterpret_cast<HostDataSet*>(view), 2, nullptr, 0);
}

void vsfgReleaseView(VsfContext* ctx, RvqObject* view) {
  vsfCall(ctx->outputManager, RvqMethod::ReleaseView, {rvqBound(RvqAttrId::ViewHandle, view)});
}

int32_t vsfgShownStep(const VsfContext* ctx, const VsfModel* m, int32_t entry) {
  if (vsfMethodStartsFull(ctx->options.method))
    return entry;
  return entry < m->includeCount ? 0 : entry - m->includeCount + 1;
}

RvqText* vsfgMethodText(const VsfContext* ctx) {
  const VsfMethodTraits* method = vsfMethodTraits(ctx->options.method);
  return method != nullptr && vsfMsgLength(method->name) > 0 ? msgText(method->name.get())
                                                             : nullptr;
}

VsfCriterionLabels vsfgCriterionLabels(VsfCriterion criterion) {
  const VsfCriterionTraits& c =
      vsfCriterion(vsfCriterion(criterion).label.get() != nullptr ? criterion : VsfCriterion::Aicc);
  return {c.criterion, c.label, *c.longLabel.get(), *c.shortLabel.get(), c.folds};
}
