// The cross products the path keeps without the packed X'X: which fits keep them and within
// what bound, which effects' columns one pass forms at an entry (the entrant's and those of
// the likely next entrants), and whether a step's active set has them all.
// Declared in selection/vsflarinternal.h and selection/vsflarlasso.h.
#include "kernels/vsfrowwalk.h"
#include "model/vsfmodel.h"
#include "model/vsfsweep.h"
#include "selection/vsflarinternal.h"
#include "selection/vsflarlasso.h"
#include "selection/vsfscreen.h"
#include "support/seams.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cmath>
#include <vector>

using namespace larpath;

// ---- the kept cross products
//
// Without the packed X'X each step would pass over every column twice: for the direction
// products and for the correlations of the new residual. When the candidates are many, one
// pass at an effect's entry forms its cross products with every column (a column of X'X),
// and those of the effects likely to enter next, and keeps them; the entering effect's new
// rows of X'X come from its kept column, the direction products from the kept columns as they
// come from the packed matrix, the correlations follow the step, and the step's only other
// pass sums the residual over the active columns. The kept columns are bounded in bytes;
// past the bound an entering effect keeps none, and a step whose active set lacks one takes
// the passes.

namespace {

// The default bound of the kept columns.
constexpr int64_t kCrossBytes = int64_t{512} << 20;

// The fewest parameters for which the path keeps cross products by default: below them a
// pass over every column is cheap, and the passes per step keep their results.
constexpr int32_t kCrossParameters = 1000;

} // namespace

namespace larpath {

// The bytes the kept columns may take in this fit (0: every step takes the passes). They
// serve the plain paths over single dense columns whose rows carry no roles, folds or
// resampling weights; seam::larCrossLimit sets the bound whatever the size.
int64_t crossBudget(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  if (vsfFullXpxOn(m) || m->crossSlot == nullptr ||
      !vsfMethodIs(o->method, VsfMethodFamily::LeastAngle) || vsfMethodRidge(o->method) ||
      (o->adaptive && !m->layout.splitSparse) || o->cvExternal || rolesPresent(m) ||
      o->screen != VsfScreenMethod::None || vsfSafeScreening(m) || m->hier.hierarchy ||
      m->elnetPass.l2 > 0 || m->elnet.l2BaseXpx != nullptr || m->cv.foldCount > 0)
    return 0;
  const VsfRowShape S = vsfRowShape(m);
  if (S.hasRole || S.hasFold || S.xcv || S.cv || S.hasResample ||
      (S.sparse != 0 && !m->layout.splitSparse))
    return 0;
  const int64_t limit = seam::larCrossLimit();
  if (limit >= 0)
    return limit;
  return m->parmCount >= kCrossParameters ? kCrossBytes : 0;
}

} // namespace larpath

int64_t vsfLarKeptColumns(int64_t parameters) {
  return parameters >= kCrossParameters
             ? kCrossBytes / ((parameters + 1) * static_cast<int64_t>(sizeof(double)))
             : 0;
}

namespace {

// Whether the bound holds `more` kept columns beyond the present ones, and the store as
// vsfAddCross grows it.
[[nodiscard]] bool crossRoom(const VsfModel* m, int64_t more) {
  const int64_t N = m->parmCount + 1, column = N * static_cast<int64_t>(sizeof(double));
  const int64_t need = m->crossColumnCount + more;
  const int64_t cap = m->crossCapacity;
  return need * column <= m->path.larCrossBytes &&
         !(cap <= need &&
           std::min(std::max(2 * cap, cap + need), N) * column > m->path.larCrossBytes);
}

// The most effects whose cross products one pass forms: the rows are read once for all of
// them, so the columns of the effects likely to enter soon come almost for free. Over many
// candidates a pass is bound by reading the rows, so 32 columns cost little more than 8 and
// take a quarter of the passes; past that the page groups' buffers of the pass (24 times
// the columns) cost more than the passes saved.
constexpr size_t kCrossBatch = 32;

// Adds to `batch` the candidates most likely to enter next, those of the largest absolute
// correlation, single dense columns without kept cross products; while the kept columns
// stay within half the bound, so that effects that never enter leave room to those that do.
void likelyEntrants(const VsfModel* m, std::vector<int32_t>& batch) {
  std::vector<int32_t> pool;
  for (int32_t j = m->includeCount; j < m->effectCount; ++j)
    if (m->effectStatus[j] == VES_CANDIDATE && m->crossSlot[j] == -1 && j != batch[0] &&
        m->effectColumns[j] == 1 && m->layout.sparseSlot[j] < 0)
      pool.push_back(j);
  const size_t want = std::min(kCrossBatch - batch.size(), pool.size());
  const auto larger = [m](int32_t a, int32_t b) {
    const double ca = std::fabs(m->pathPass.corr[a]), cb = std::fabs(m->pathPass.corr[b]);
    return ca > cb || (ca == cb && a < b);
  };
  std::partial_sort(pool.begin(), pool.begin() + static_cast<ptrdiff_t>(want), pool.end(), larger);
  const int64_t N = m->parmCount + 1, column = N * static_cast<int64_t>(sizeof(double));
  for (size_t i = 0; i < want; ++i) {
    const int64_t kept = m->crossColumnCount + static_cast<int64_t>(batch.size()) + 1;
    if (2 * kept * column > m->path.larCrossBytes ||
        !crossRoom(m, static_cast<int64_t>(batch.size()) + 1))
      break;
    batch.push_back(pool[i]);
  }
}

} // namespace

namespace larpath {

// Keeps the entering effect's cross products, with those of the likely next entrants, when
// the bound holds them; before the effect enters, whose new rows of X'X then come from them.
[[nodiscard]] VsfStatus keepCross(VsfModel* m, int32_t k) {
  if (m->path.larCrossBytes <= 0 || m->crossSlot[k] != -1 || m->effectColumns[k] != 1 ||
      !crossRoom(m, 1))
    return VsfStatus::Ok;
  std::vector<int32_t> batch{k};
  likelyEntrants(m, batch);
  return vsfAddCrossBatch(m, batch.data(), static_cast<int32_t>(batch.size()));
}

// Whether every active effect has its cross products kept.
bool crossKept(const VsfModel* m, int32_t first) {
  if (m->path.larCrossBytes <= 0)
    return false;
  for (int32_t p = first; p < m->inModelCount; ++p)
    if (m->crossSlot[m->inModelList[p]] == -1)
      return false;
  return true;
}

} // namespace larpath
