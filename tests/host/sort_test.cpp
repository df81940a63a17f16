// The host's sort service: key order (doubles with missing values first, bytes, 32-bit
// integers, descending), stability for equal keys, the caller's compare routine, failures
// passed back from the routines, and the release call on every road.
#include "host/sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

struct Row {
  double value;
  int32_t seq;
  int32_t group;
};

struct Job {
  HostSortBlock block{};
  std::vector<Row> in;
  size_t next = 0;
  std::vector<Row> out;
  int released = 0;
  int32_t releaseStatus = 1;
  int failPutAt = -1;
};

Job* job(HostSortBlock* b) { return static_cast<Job*>(b->user); }

int32_t getRow(HostSortBlock* b, void** rec) {
  Job* j = job(b);
  if (j->next == j->in.size())
    return 0;
  *rec = &j->in[j->next++];
  return 1;
}

int32_t putRow(HostSortBlock* b, const void* rec) {
  Job* j = job(b);
  if (static_cast<int>(j->out.size()) == j->failPutAt)
    return -9;
  Row r;
  std::memcpy(&r, rec, sizeof r);
  j->out.push_back(r);
  return 0;
}

void releaseRow(HostSortBlock* b, int32_t status) {
  job(b)->released++;
  job(b)->releaseStatus = status;
}

int32_t byGroupDescending(HostSortBlock*, const void* a, const void* b) {
  Row x, y;
  std::memcpy(&x, a, sizeof x);
  std::memcpy(&y, b, sizeof y);
  return y.group - x.group;
}

void setUp(Job& j, const HostSortKey* keys, int32_t count) {
  j.block.user = &j;
  j.block.recordLength = sizeof(Row);
  j.block.keys = keys;
  j.block.keyCount = count;
  j.block.callables[SORT_GET] = reinterpret_cast<HostRoutine>(&getRow);
  j.block.callables[SORT_PUT] = reinterpret_cast<HostRoutine>(&putRow);
  j.block.callables[SORT_RELEASE] = reinterpret_cast<HostRoutine>(&releaseRow);
}

TEST(HostSort, KeysAndStabilityAgreeWithStableSort) {
  std::mt19937 rng(9);
  Job j;
  for (int i = 0; i < 3000; ++i) {
    double v = static_cast<double>(rng() % 50) - 25.0;
    if (rng() % 20 == 0)
      v = hostMissing();
    j.in.push_back({v, i, static_cast<int32_t>(rng() % 7) - 3});
  }
  // Primary: group descending; secondary: value ascending (missing first); ties keep order.
  HostSortKey keys[2] = {{offsetof(Row, group), 4, 3, 2}, {offsetof(Row, value), 8, 1, 1}};
  setUp(j, keys, 2);
  ASSERT_EQ(qrxhost::hostZsortap(&j.block), 0);
  std::vector<Row> want = j.in;
  auto rank = [](double v) { return isHostMissing(v) ? -1e300 : v; };
  std::stable_sort(want.begin(), want.end(), [&](const Row& a, const Row& b) {
    if (a.group != b.group)
      return a.group > b.group;
    return rank(a.value) < rank(b.value);
  });
  ASSERT_EQ(j.out.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i)
    ASSERT_EQ(j.out[i].seq, want[i].seq) << i;
  EXPECT_EQ(j.released, 1);
  EXPECT_EQ(j.releaseStatus, 0);
}

TEST(HostSort, CallerCompareAndFailures) {
  Job j;
  for (int i = 0; i < 10; ++i)
    j.in.push_back({0.0, i, i % 3});
  setUp(j, nullptr, 0);
  j.block.callables[SORT_COMPARE] = reinterpret_cast<HostRoutine>(&byGroupDescending);
  ASSERT_EQ(qrxhost::hostZsortap(&j.block), 0);
  std::vector<int32_t> seqs;
  for (const Row& r : j.out)
    seqs.push_back(r.seq);
  EXPECT_EQ(seqs, (std::vector<int32_t>{2, 5, 8, 1, 4, 7, 0, 3, 6, 9}));

  Job k;
  k.in = j.in;
  k.failPutAt = 4;
  setUp(k, nullptr, 0);
  k.block.callables[SORT_COMPARE] = reinterpret_cast<HostRoutine>(&byGroupDescending);
  EXPECT_EQ(qrxhost::hostZsortap(&k.block), -9);
  EXPECT_EQ(k.released, 1);
  EXPECT_EQ(k.releaseStatus, -9);

  Job bad;
  HostSortKey outside{20, 8, 1, 1}; // beyond the 16-byte record
  setUp(bad, &outside, 1);
  EXPECT_EQ(qrxhost::hostZsortap(&bad.block), qrxhost::kSortBadBlock);
  EXPECT_EQ(bad.released, 1);
  EXPECT_EQ(qrxhost::hostZsortap(nullptr), qrxhost::kSortBadBlock);
}

} // namespace

#include "host/hostcore.h"
#include "support/hoststubs.h"
#include "support/zsort.h"

namespace {

int startCount = 0;
int32_t startJob(HostSortBlock* b) {
  ++startCount;
  // The start routine may still fill routine words; they are registered after it.
  b->routines[SORT_PUT] = reinterpret_cast<HostRoutine>(&putRow);
  return 0;
}

TEST(HostSort, ModuleWrapperDrivesTheHostSort) {
  HostControlBlock* saved = v_global_gcb_anchor;
  v_global_gcb_anchor = qrxhost::hostControlBlock();
  Job j;
  for (int i = 0; i < 50; ++i)
    j.in.push_back({static_cast<double>((i * 37) % 50), i, 0});
  HostSortKey key{offsetof(Row, value), 8, 1, 1};
  j.block.user = &j;
  j.block.recordLength = sizeof(Row);
  j.block.keys = &key;
  j.block.keyCount = 1;
  j.block.routines[SORT_START] = reinterpret_cast<HostRoutine>(&startJob);
  j.block.routines[SORT_GET] = reinterpret_cast<HostRoutine>(&getRow);
  j.block.routines[SORT_RELEASE] = reinterpret_cast<HostRoutine>(&releaseRow);
  EXPECT_EQ(zsort(&j.block), 0);
  v_global_gcb_anchor = saved;
  EXPECT_EQ(startCount, 1);
  ASSERT_EQ(j.out.size(), 50u);
  for (int i = 0; i < 50; ++i)
    EXPECT_EQ(j.out[i].value, static_cast<double>(i));
  EXPECT_EQ(j.released, 1);
  for (HostRoutine c : j.block.callables)
    EXPECT_EQ(c, nullptr);
}

} // namespace
