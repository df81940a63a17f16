// Modified Bessel function of the first kind on the log scale. The Debye polynomials u_1 to
// u_11 were generated from their recurrence by scripts/gen_debye_coefficients.py. Every
// route reports an exhausted series through the error field and still yields its value.
#include "numerics/zibess.h"

#include "numerics/zelementary.h"
#include "numerics/zlgamma.h"

#include <cmath>

namespace bessel {
namespace {
constexpr double kTiny = 1.110223024625157e-17;

// c_{k,j} of u_k(t) = t^k sum_j c_{k,j} t^{2j}, by k and ascending j.
const double kDebye[77] = {
    // u_1
    0.125, -0.20833333333333334,
    // u_2
    0.0703125, -0.4010416666666667, 0.3342013888888889,
    // u_3
    0.0732421875, -0.8912109375, 1.8464626736111112, -1.0258125964506173,
    // u_4
    0.112152099609375, -2.3640869140625, 8.78912353515625, -11.207002616222994, 4.669584423426247,
    // u_5
    0.22710800170898438, -7.368794359479632, 42.53499874538846, -91.81824154324002,
    84.63621767460073, -28.212072558200244,
    // u_6
    0.5725014209747314, -26.491430486951554, 218.1905117442116, -699.5796273761325,
    1059.9904525279999, -765.2524681411817, 212.57013003921713,
    // u_7
    1.7277275025844574, -108.09091978839466, 1200.9029132163525, -5305.646978613403,
    11655.393336864534, -13586.550006434138, 8061.722181737309, -1919.457662318407,
    // u_8
    6.074042001273483, -493.915304773088, 7109.514302489364, -41192.65496889755, 122200.46498301746,
    -203400.17728041555, 192547.00123253153, -96980.59838863752, 20204.29133096615,
    // u_9
    24.380529699556064, -2499.8304818112097, 45218.76898136273, -331645.1724845636,
    1268365.2733216248, -2813563.226586534, 3763271.297656404, -2998015.9185381066,
    1311763.6146629772, -242919.18790055133,
    // u_10
    110.01714026924674, -13886.08975371704, 308186.4046126624, -2785618.1280864547,
    13288767.166421818, -37567176.66076335, 66344512.27472903, -74105148.21153265,
    50952602.49266464, -19706819.118432228, 3284469.853072038,
    // u_11
    551.3358961220206, -84005.43360302408, 2243768.1779224495, -24474062.72573873,
    142062907.7975331, -495889784.2750303, 1106842816.8230145, -1621080552.1083372,
    1553596899.57058, -939462359.6815784, 325573074.18576574, -49329253.66450996};
} // namespace

void get_u(double p, double t, double* out) {
  const double t2 = t * t;
  int32_t off = 0;
  double pk = 1.0;
  for (int32_t k = 1; k <= 11; ++k) {
    pk *= p;
    double s = 0.0;
    for (int32_t j = k; j >= 0; --j)
      s = s * t2 + kDebye[off + j];
    out[k - 1] = pk * s;
    off += k + 1;
  }
}

double series(BesselRequest* req, double mu) {
  req->order = mu;
  const double hx = req->halfX;
  double P;
  if (mu < 15.0)
    P = mu * std::log(hx) - zlgamma(mu + 1.0);
  else
    P = (mu + 0.5) * (std::log(hx / (mu + 1.0)) + 1.0) - kLnSqrt2Pi - zlgbern(mu + 1.0) -
        0.5 * (std::log(hx) - 1.0);
  double S = 0.0;
  if (std::fabs(P) * kTiny < 1.0) {
    double t = 1.0;
    int32_t k = 1;
    for (; k <= 100; ++k) {
      t = t * req->halfXSq / ((mu + k) * k);
      S += t;
      if (!(std::fabs(t) > (S + std::fabs(P)) * kTiny))
        break;
    }
    if (k > 99)
      req->error = 1;
  }
  return P + zln1px(S);
}

double largen(BesselRequest* req, double mu) {
  req->order = mu;
  double z = req->x / mu;
  double s = std::sqrt(z * z + 1.0);
  double t = 1.0 / s;
  double u[11];
  get_u(t / mu, t, u);
  double D = 1.0;
  for (double v : u)
    D += v;
  return mu * (s + std::log(z / (s + 1.0))) - 0.5 * std::log(6.283185307179586 * mu * s) +
         std::log(D);
}

double recur(BesselRequest* req) {
  double a, b, scale;
  if (req->logLower < req->logUpper) {
    a = std::exp(req->logLower - req->logUpper);
    b = 1.0;
    scale = req->logUpper;
  } else {
    a = 1.0;
    b = std::exp(req->logUpper - req->logLower);
    scale = req->logLower;
  }
  int32_t k = req->start;
  double c = req->twoOverX * (k + req->frac);
  while (k > req->nuInt) {
    double next = a * c + b;
    b = a;
    a = next;
    --k;
    c -= req->twoOverX;
    if (a > 1.3407807929943e154) {
      int e;
      a = std::frexp(a, &e);
      b = std::ldexp(b, -e);
      scale += e * kLn2;
    }
  }
  return std::log(a) + scale;
}

double largex(BesselRequest* req) {
  const double x = req->x;
  const double m4 = 4.0 * req->nu * req->nu;
  double term = (1.0 - m4) * (0.125 / x);
  double S = 1.0 + term;
  int32_t k = 2;
  for (; k <= 50; ++k) {
    term = term * (m4 - (2.0 * k - 1.0) * (2.0 * k - 1.0)) * (-0.125 / x) / k;
    S += term;
    if (!(std::fabs(term) > 1e-12 * std::fabs(S)))
      break;
  }
  if (k > 49)
    req->error = 1;
  req->scaled = 1;
  return std::log(S) - kLnSqrt2Pi - 0.5 * std::log(x);
}
} // namespace bessel

int32_t zibess(BesselRequest* req) {
  using namespace bessel;
  req->scaled = 0;
  req->error = 0;
  const double x = req->x, nu = req->nu;
  req->halfX = x / 2.0;
  req->halfXSq = req->halfX * req->halfX;
  if (!(nu >= 0.0) || !(x >= 0.0) || std::isinf(nu) || std::isinf(x)) {
    req->result = -kDblMax;
    req->error = 1;
    return 1;
  }
  double L;
  if (x == 0.0) {
    L = nu == 0.0 ? 0.0 : kLogZero;
  } else {
    req->nuInt = static_cast<int32_t>(std::trunc(nu > 2147483647.0 ? 2147483647.0 : nu));
    req->frac = nu - std::trunc(nu);
    if (x < 2.0 || req->halfXSq < nu + 1.0) {
      L = series(req, nu);
    } else if (x < 17.0 || nu >= 1.348 * std::sqrt(x)) {
      if (nu > 35.0) {
        L = largen(req, nu);
      } else if (nu <= 12.0) {
        double m = std::ceil(req->halfXSq + 1.0);
        req->twoOverX = 2.0 / x;
        req->logUpper = series(req, m + req->frac + 1.0);
        req->logLower = series(req, m + req->frac);
        req->start = static_cast<int32_t>(m);
        L = recur(req);
      } else {
        req->twoOverX = 2.0 / x;
        req->logUpper = largen(req, req->frac + 36.0);
        req->logLower = largen(req, req->frac + 35.0);
        req->start = 35;
        L = recur(req);
      }
    } else {
      L = largex(req);
    }
  }
  if (req->scaled == 0 && req->kind == 1)
    L -= x;
  else if (req->scaled == 1 && req->kind != 1)
    L += x;
  if (req->kind == 2) {
    req->result = L;
  } else if (L < kExpOverflow) {
    req->result = std::exp(L);
  } else {
    req->result = L;
    req->error = 1;
  }
  return req->error;
}

int32_t zbess(double nu, double x, double* logI) {
  BesselRequest req{};
  req.x = x;
  req.nu = nu;
  req.kind = 2;
  int32_t st = zibess(&req);
  *logI = req.result;
  return st;
}
