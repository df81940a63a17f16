// The resample-frequency kernel: one sample's drawn frequency for every TRAIN row of a
// page. The bootstrap draws a Multinomial(m, 1/N) sample over the N TRAIN copies as a
// sequence of conditional binomials; subsampling selects m copies by selection sampling.
#include "kernels/vsfresfreq.h"

#include "data/vsfscratchfile.h"
#include "data/vsfthread.h"
#include "kernels/vsfkernelsums.h"
#include "kernels/vsfrowwalk.h"
#include "numerics/zranvar.h"

#include <cmath>

namespace {
constexpr double kSizeFuzz = 1.110223024625157e-13;

// The draws of one copy: how many of the m sample members it takes.
double drawCopy(VsfResampler* r, bool subsample, double N, double m) {
  r->copiesSeen += 1.0;
  if (!subsample) {
    const double p = 1.0 / (N - r->copiesSeen + 1.0);
    const auto n = static_cast<int64_t>(m - r->drawnTotal);
    // The copy visited last (p = 1) takes every draw still open; its draw still takes a
    // uniform, so that the stream goes on as the sample's sequence of draws defines it.
    return GetOneVariateBINOMIAL(r->stream, n, p);
  }
  const double u = GetOneVariateUNIFORM(r->stream);
  const double d = r->neededLeft / r->poolLeft > u ? 1.0 : 0.0;
  r->poolLeft -= 1.0;
  r->neededLeft -= d;
  return d;
}
} // namespace

double vsfSampleSize(const VsfResampleSettings* s, double N) {
  if (s->fraction == 0.0)
    return s->size != 0.0 ? s->size : N;
  return std::floor(s->fraction * N + kSizeFuzz);
}

VsfStatus vsfResampleFreqs(VsfPassState* m, QkPageDescriptor* page) {
  VsfResampler* r = m->resampler;
  const VsfResampleSettings* s = r->settings;
  const VsfRowShape S = vsfRowShape(m);
  const double N = m->totals.nObs;
  const double size = vsfSampleSize(s, N);
  const bool subsample = s->subsample != 0;
  int64_t row = 0;
  vsfEachRow(S, page, [&](const VsfRowView& v) {
    double c = 0.0;
    r->freqBuffer[row] = 0.0;
    if (S.hasRole && v.role != VSF_ROLE_TRAIN) {
      ++row;
      return;
    }
    for (double j = 0; v.freq > 0 && j < v.freq && r->drawnTotal < size; j += 1.0) {
      const double d = drawCopy(r, subsample, N, size);
      r->drawnTotal += d;
      c += d;
      r->sampleWeight += d * v.weight;
    }
    v.y[-1] = c;
    r->freqBuffer[row++] = c;
  });
  if (s->keepFreqs && (!s->refit || s->refitInProgress) && row > 0)
    return statusFromCode(
        vsfWriteScratch(r->freqScratch->file, r->freqBuffer, row * 8, &r->freqScratchPos));
  return VsfStatus::Ok;
}

VsfStatus vsfResampleFreqs_t(VsfPassState* m, QkPageDescriptor* page, double*, int64_t) {
  return vsfResampleFreqs(m, page);
}

static const VsfKernelRegistration regResampleFreqs(vsfResampleFreqs, vsfResampleFreqs_t,
                                                    kVsfResampleUse);
