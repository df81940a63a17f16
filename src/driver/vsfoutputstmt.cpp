// The OUTPUT, SCORE and PARTITION statement readers: output data sets with the statistics
// and their names, the data sets to score, and the training/validation/test roles from a
// role variable or from fractions. Declared in driver/vsfreaders.h.
#include "driver/vsfparse.h"
#include "driver/vsfreaders.h"
#include "driver/vsfslots.h"
#include "driver/vsfstmtlog.h"
#include "output/vsfcontext.h"
#include "support/driverresult.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/protocol.h"
#include "support/vsfoutputstat.h"

#include <cstring>

namespace {

void readStats(const ParsedStatement* s, VsfOutputSpec* spec, bool outputStatement) {
  for (const VsfOutputStatTraits& r : kVsfOutputStatTraits) {
    VsfOutputStat& st = spec->stat(r.stat);
    st.on = stmtFlag(s, r.flag.get()) && (outputStatement || r.scoreKeyword.get() != nullptr);
    if (!st.on)
      continue;
    if (r.counted)
      spec->columnCount++;
    st.reserved = 0;
    const OptionSlot* names = stmtSlot(s, statNameSlot(r.flag.get()));
    const char* text = nullptr;
    int32_t len = 0;
    if (names && names->kind == OSK_NAMELIST && zgetnmr(names->items.names, 0, &text, &len) == 0) {
      st.name = text;
      st.nameLength = static_cast<int16_t>(len);
    } else {
      st.name = nullptr;
      st.nameLength = 0;
    }
  }
}

// A role value left-justified: *text moves past leading blanks; the length leaves out the
// trailing ones. An all-blank value gives minus its full length.
[[nodiscard]] int32_t roleLength(const char** text, int32_t n) {
  int32_t a = 0, b = n;
  while (a < b && (*text)[a] == ' ')
    ++a;
  while (b > a && (*text)[b - 1] == ' ')
    --b;
  if (b == a)
    return -n;
  *text += a;
  return b - a;
}

} // namespace

void parse_output(VsfContext* ctx, ParsedStatement* output) {
  VsfOutputSpec& spec = ctx->stmt.output;
  spec = VsfOutputSpec{};
  spec.out = slotDataSet(stmtSlot(output, OutputSlot::Out));
  readStats(output, &spec, true);
  ctx->options.hasOutput = 1;
  ctx->options.outputBlock = spec.out;
}

VsfStatus parse_scores(VsfContext* ctx, ParsedStatement* first) {
  int32_t count = 0;
  for (ParsedStatement* s = first; s; s = s->next)
    if (findstmt(s, "SCORE") == s)
      ++count;
  ctx->scoreCount = count;
  if (count == 0)
    return VsfStatus::Ok;
  auto* specs = static_cast<VsfScoreSpec*>(
      ctx->mainPool->allocate(ctx->mainPool, sizeof(VsfScoreSpec) * count, kQkZeroed));
  if (!specs)
    return VsfStatus::NoMemory;
  std::memset(static_cast<void*>(specs), 0, sizeof(VsfScoreSpec) * count);
  ctx->scores = specs;
  int32_t i = 0;
  for (ParsedStatement* s = first; s; s = s->next) {
    if (findstmt(s, "SCORE") != s)
      continue;
    VsfScoreSpec& sc = specs[i++];
    sc.data = slotDataSet(stmtSlot(s, OutputSlot::ScoreData));
    sc.out = slotDataSet(stmtSlot(s, OutputSlot::ScoreOut));
    sc.spec.out = sc.out;
    readStats(s, &sc.spec, false);
  }
  return VsfStatus::Ok;
}

VsfStatus parse_partition(VsfContext* ctx, ParsedStatement* p) {
  VsfPartitionSettings& ps = ctx->stmt.partition;
  VsfModelOptions& o = ctx->options;
  ps.given = 1;
  const OptionSlot* role = stmtSlot(p, PartitionSlot::RoleVar);
  ps.roleVar = slotCount(role, OSK_INTLIST) > 0 ? role->items.ints[0] : 0;
  bool valData = ctx->stmt.proc.valData != nullptr;
  bool testData = ctx->stmt.proc.testData != nullptr;
  if (ps.roleVar == 0) {
    if (stmtFlag(p, PartitionFlag::ValidateFraction) && valData)
      return stmtFail(ctx, VsfMsg::ValidationGivenTwice, StepRc::StatementError,
                      DriverResult::ValidationRowsTwice);
    if (stmtFlag(p, PartitionFlag::TestFraction) && testData)
      return stmtFail(ctx, VsfMsg::TestGivenTwice, StepRc::StatementError,
                      DriverResult::TestRowsTwice);
    if (stmtFlag(p, PartitionFlag::ValidateFraction) || stmtFlag(p, PartitionFlag::TestFraction)) {
      o.validateFraction = stmtNumber(p, roleSlot(PartitionFlag::ValidateFraction), 0);
      o.testFraction = stmtNumber(p, roleSlot(PartitionFlag::TestFraction), 0);
      o.trainFraction = 1 - o.testFraction - o.validateFraction;
      if (!(o.trainFraction > 0))
        return stmtFail(ctx, VsfMsg::PartitionLeavesNoTraining, StepRc::Error,
                        DriverResult::PartitionNoTraining);
    }
  } else {
    if (!stmtFlag(p, PartitionFlag::Train) && !stmtFlag(p, PartitionFlag::Validate) &&
        !stmtFlag(p, PartitionFlag::Test))
      return stmtFail(ctx, VsfMsg::PartitionRoleWithoutValues, StepRc::Error,
                      DriverResult::PartitionNoRole);
    if (stmtFlag(p, PartitionFlag::Validate) && valData)
      return stmtFail(ctx, VsfMsg::ValidationGivenTwice, StepRc::StatementError,
                      DriverResult::ValidationRowsTwice);
    if (stmtFlag(p, PartitionFlag::Test) && testData)
      return stmtFail(ctx, VsfMsg::TestGivenTwice, StepRc::StatementError,
                      DriverResult::TestRowsTwice);
    const PartitionFlag roles[] = {PartitionFlag::Train, PartitionFlag::Validate,
                                   PartitionFlag::Test};
    const char** texts[] = {&ps.trainText, &ps.validateText, &ps.testText};
    int32_t* lengths[] = {&ps.trainLength, &ps.validateLength, &ps.testLength};
    for (int k = 0; k < 3; ++k) {
      if (!stmtFlag(p, roles[k]))
        continue;
      int32_t n = 0;
      const char* text = slotLastText(stmtSlot(p, roleSlot(roles[k])), &n);
      *lengths[k] = text ? roleLength(&text, n) : 0;
      *texts[k] = text;
    }
  }
  ps.validationAsked =
      stmtFlag(p, PartitionFlag::Validate) || stmtFlag(p, PartitionFlag::ValidateFraction);
  ps.testAsked = stmtFlag(p, PartitionFlag::Test) || stmtFlag(p, PartitionFlag::TestFraction);
  return VsfStatus::Ok;
}
