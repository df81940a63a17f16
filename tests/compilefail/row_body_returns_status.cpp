// A body of a row walk returns nothing: the walk would drop a status the body returned, so a
// failure is counted in the body and reported after the walk.
#include "kernels/vsfrowwalk.h"
#include "kernels/vsfxpx.h"

VsfStatus rowsWithoutFold(VsfPassState* model, QkPageDescriptor* page) {
  const VsfRowShape shape = vsfRowShape(model);
  int32_t bad = 0;
#ifdef QRX_COMPILE_FAIL_CONTROL
  vsfEachRow(shape, page, [&](const VsfRowView& row) {
    if (row.fold < 0)
      ++bad;
  });
#else
  vsfEachRow(shape, page, [&](const VsfRowView& row) {
    return row.fold < 0 ? VsfStatus::BadFoldRow : VsfStatus::Ok;
  });
#endif
  return bad != 0 ? VsfStatus::BadFoldRow : VsfStatus::Ok;
}
