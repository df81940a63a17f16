// The "CVExternal" table of external cross validation: one row per recorded step of every
// fold fit, with its path position, the curvature of its held-out error along the step and
// the held-out error itself (for the group LASSO: its penalty ratio and held-out error). The
// records are written by the external cross-validation road. Declared in output/vsfprinters.h.
#include "model/vsfmodel.h"
#include "output/vsfcontext.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

VsfStatus vsfpCvExternal(VsfContext* ctx) {
  const VsfModel* m = &ctx->model;
  const bool path = vsfMethodIs(ctx->options.method, VsfMethodFamily::LeastAngle);
  int32_t fold = 0, step = 0, nVar = 0;
  double ratio = 0, curvature = 0, error = 0, l2 = 0, l2Norm = 0, l1Norm = 0, value = 0;
  VsfOut out(ctx);
  if (!out.create("CVExternal", msgText(VsfMsg::TuningDetails)))
    return VsfStatus::Ok;
  out.intColumn("Fold", &fold);
  out.intColumn("Step", &step);
  out.intColumn("nVar", &nVar);
  out.numberColumn("L1Ratio", &ratio);
  out.numberColumn("Interpolation", &curvature);
  out.numberColumn("ASEValidate", &error);
  if (path) {
    out.numberColumn("L2", &l2);
    out.numberColumn("L2Norm", &l2Norm);
    out.numberColumn("L1Norm", &l1Norm);
    out.numberColumn("L1Value", &value);
  }
  out.endColumns();
  out.bind("Stat.VARSIFTER.CVEXTERNAL");
  for (int32_t i = 0; i < m->cvex.cvexRecordCount && path; ++i) {
    const int32_t* key = m->cvexPass.cvexKeys + 3 * i;
    const double* v = m->cvexPass.cvexValues + 6 * i;
    fold = key[0];
    step = key[1];
    nVar = key[2];
    ratio = v[0];
    l2 = v[1];
    l1Norm = v[2];
    l2Norm = v[3];
    curvature = v[4];
    error = v[5];
    value = v[0] * m->cvexPass.cvexFoldLambdaMax[fold];
    out.emit();
  }
  // The group LASSO's records hold {penalty ratio, held-out error}: its steps are not
  // interpolated, so the Interpolation column shows the missing value.
  for (int32_t i = 0;
       i < m->cvex.cvexRecordCount && vsfMethodRoad(ctx->options.method, VsfFitRoad::GroupLasso);
       ++i) {
    const int32_t* key = m->cvexPass.cvexKeys + 3 * i;
    fold = key[0];
    step = key[1];
    nVar = key[2];
    ratio = m->cvexPass.cvexValues[2 * i];
    curvature = hostMissing();
    error = m->cvexPass.cvexValues[2 * i + 1];
    out.emit();
  }
  out.endRows();
  out.publish();
  out.finish();
  return VsfStatus::Ok;
}
