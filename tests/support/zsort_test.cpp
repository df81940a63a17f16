// The sort wrapper over a fake host: the start routine runs inside init_wrapper, routines
// set by it are registered afterwards, the host sees only callables, the callables are
// cleared at the end, and the host's result or a failed registration comes back.
#include "support/zsort.h"

#include "support/hostif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

int registrations = 0;
bool refuseRegistration = false;

int32_t fakeVir2g(HostRoutine routine, HostRoutine* callable) {
  if (refuseRegistration)
    return -7;
  ++registrations;
  *callable = routine;
  return 0;
}

std::vector<double> input;
size_t nextInput = 0;
std::vector<double> output;
int startCalls = 0;

int32_t getRecord(HostSortBlock*, void** record) {
  if (nextInput == input.size())
    return 0;
  *record = &input[nextInput++];
  return 1;
}

int32_t putRecord(HostSortBlock*, const void* record) {
  output.push_back(*static_cast<const double*>(record));
  return 0;
}

// The start routine supplies the put routine itself, as a caller may.
int32_t startRoutine(HostSortBlock* block) {
  ++startCalls;
  block->routines[SORT_PUT] = reinterpret_cast<HostRoutine>(&putRecord);
  return 5;
}

HostSortBlock* seenBlock = nullptr;
HostRoutine seenCallables[SORT_ROUTINES];

// A minimal host sort: start through the registered wrapper, read, sort ascending, put.
int32_t fakeZsortap(HostSortBlock* block) {
  seenBlock = block;
  using StartFn = int32_t (*)(HostSortBlock*);
  int32_t rc = reinterpret_cast<StartFn>(block->callables[SORT_START])(block);
  std::copy(std::begin(block->callables), std::end(block->callables), seenCallables);
  auto get = reinterpret_cast<int32_t (*)(HostSortBlock*, void**)>(block->callables[SORT_GET]);
  auto put = reinterpret_cast<int32_t (*)(HostSortBlock*, const void*)>(block->callables[SORT_PUT]);
  if (!get || !put)
    return -1;
  std::vector<double> recs;
  void* r;
  while (get(block, &r) == 1)
    recs.push_back(*static_cast<double*>(r));
  std::sort(recs.begin(), recs.end());
  for (double& v : recs)
    put(block, &v);
  return rc == 5 ? 0 : -2;
}

struct FakeHost {
  HostCoreServices core{};
  HostSortServices sort{};
  HostServiceGroups groups{};
  uint8_t bytes[HG_COUNT]{};
  HostControlBlock cb{};
  HostControlBlock* saved;
  FakeHost() {
    core.vir2g = fakeVir2g;
    sort.zsortap = fakeZsortap;
    groups.core = &core;
    groups.sort = &sort;
    cb.groups = &groups;
    cb.groupBytes = bytes;
    saved = v_global_gcb_anchor;
    v_global_gcb_anchor = &cb;
  }
  ~FakeHost() { v_global_gcb_anchor = saved; }
};

TEST(Zsort, WrapsRoutinesAndClearsCallables) {
  FakeHost host;
  input = {3.0, -1.0, 2.0, 2.0};
  nextInput = 0;
  output.clear();
  startCalls = registrations = 0;
  HostSortBlock block{};
  block.recordLength = 8;
  block.routines[SORT_START] = reinterpret_cast<HostRoutine>(&startRoutine);
  block.routines[SORT_GET] = reinterpret_cast<HostRoutine>(&getRecord);
  EXPECT_EQ(zsort(&block), 0);
  EXPECT_EQ(seenBlock, &block);
  EXPECT_EQ(startCalls, 1);
  EXPECT_EQ(output, (std::vector<double>{-1.0, 2.0, 2.0, 3.0}));
  // The host saw the wrapper in the start word, not the caller's routine.
  EXPECT_EQ(seenCallables[SORT_START], reinterpret_cast<HostRoutine>(&init_wrapper));
  EXPECT_EQ(seenCallables[SORT_PUT], reinterpret_cast<HostRoutine>(&putRecord));
  EXPECT_EQ(registrations, 3); // the wrapper, then get and put after the start routine
  for (HostRoutine c : block.callables)
    EXPECT_EQ(c, nullptr);
  EXPECT_EQ(block.savedStart, nullptr);
}

TEST(Zsort, FailedRegistrationIsReturned) {
  FakeHost host;
  refuseRegistration = true;
  seenBlock = nullptr;
  HostSortBlock block{};
  block.routines[SORT_GET] = reinterpret_cast<HostRoutine>(&getRecord);
  EXPECT_EQ(zsort(&block), -7);
  EXPECT_EQ(seenBlock, nullptr); // the host's sort never ran
  refuseRegistration = false;
}

TEST(Zsort, InitWrapperWithoutStartRoutine) {
  FakeHost host;
  HostSortBlock block{};
  block.routines[SORT_COMPARE] = reinterpret_cast<HostRoutine>(&putRecord);
  EXPECT_EQ(init_wrapper(&block), 0);
  EXPECT_EQ(block.callables[SORT_COMPARE], reinterpret_cast<HostRoutine>(&putRecord));
  wrapper_cleanup(&block);
  EXPECT_EQ(block.callables[SORT_COMPARE], nullptr);
}

} // namespace
