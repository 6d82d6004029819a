#include "search/range_scan.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <immintrin.h>
#include <limits>
#include <new>

namespace vorlan::collage {

using fractal::DomainCandidate;
using fractal::RangeNode;

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Unit roundoff of single and double precision.
constexpr double kFloatUnit = 0x1p-24;
constexpr double kDoubleUnit = 0x1p-53;
// Vector chunks a lane adds up in single precision before the lane sums are
// moved into double precision.
constexpr int32_t kFlushChunks = 32;
// Fit's threshold below which a block counts as flat (den relative to n * sum D^2).
constexpr double kFlatBlockRatio = 1e-12;
// Sixteen ones then sixteen zeros: loading at 16 - k gives k leading ones.
alignas(64) constexpr float kMaskSource[32] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                               0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// One pass over the block: out = {sum d^2, sum p0 d, sum p1 d, sum p2 d,
// sum p3 d, sum d}. Run k of the block starts at d + k * runStride, row k of
// orientation o's pattern at p + o * orientStride + k * stride; values past
// `length` in a run are masked off (the tables are padded for the reads). Lanes add in single precision for at
// most kFlushChunks + (chunks of one run) steps, then in double.
template <int N>
struct FloatVector;
template <>
struct FloatVector<8> {
  typedef float Type __attribute__((vector_size(32)));
};
template <>
struct FloatVector<16> {
  typedef float Type __attribute__((vector_size(64)));
};
// Doubles of N lanes.
template <int N>
struct DoubleVector;
template <>
struct DoubleVector<8> {
  typedef double Type __attribute__((vector_size(64)));
};
template <>
struct DoubleVector<16> {
  typedef double Type __attribute__((vector_size(128)));
};

// One register of doubles (AVX2 and AVX-512) and its comparison masks.
template <int C>
struct NativeDoubles;
template <>
struct NativeDoubles<4> {
  typedef double Type __attribute__((vector_size(32)));
  typedef int64_t Mask __attribute__((vector_size(32)));
};
template <>
struct NativeDoubles<8> {
  typedef double Type __attribute__((vector_size(64)));
  typedef int64_t Mask __attribute__((vector_size(64)));
};

typedef float Quarter __attribute__((vector_size(16)));

// The sum of the lower and upper halves, down to four lanes.
template <int N>
[[gnu::always_inline]] inline Quarter Halve(typename FloatVector<N>::Type v);
template <>
[[gnu::always_inline]] inline Quarter Halve<8>(FloatVector<8>::Type v) {
  return __builtin_shufflevector(v, v, 0, 1, 2, 3) + __builtin_shufflevector(v, v, 4, 5, 6, 7);
}
template <>
[[gnu::always_inline]] inline Quarter Halve<16>(FloatVector<16>::Type v) {
  const FloatVector<8>::Type half = __builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7) +
                                    __builtin_shufflevector(v, v, 8, 9, 10, 11, 12, 13, 14, 15);
  return Halve<8>(half);
}

// Plain code only (no lambdas): everything here is inlined into the
// target-specific kernels below and must be compiled for their vectors.
#define VORLAN_SCAN_LOAD(v, at) std::memcpy(&(v), (at), sizeof(v))

// Six sums of one accumulator set over one run.
#define VORLAN_SCAN_RUN(dk, pk, t, q, x0, x1, x2, x3)              \
  for (int32_t c = 0; c < perRun; ++c) {                           \
    V dv, p0, p1, p2, p3;                                          \
    VORLAN_SCAN_LOAD(dv, (dk) + c * N);                            \
    if (c == full) dv *= tailMask;                                 \
    const float* pp = (pk) + c * N;                                \
    VORLAN_SCAN_LOAD(p0, pp);                                      \
    VORLAN_SCAN_LOAD(p1, pp + orientStride);                       \
    VORLAN_SCAN_LOAD(p2, pp + 2 * orientStride);                   \
    VORLAN_SCAN_LOAD(p3, pp + 3 * orientStride);                   \
    t += dv;                                                       \
    q += dv * dv;                                                  \
    x0 += dv * p0;                                                 \
    x1 += dv * p1;                                                 \
    x2 += dv * p2;                                                 \
    x3 += dv * p3;                                                 \
  }

template <int N>
[[gnu::always_inline]] inline void ScanDotsT(const float* d, int64_t runStride, const float* p, int64_t orientStride,
                                             int32_t lines, int32_t length, int32_t stride, double out[6]) {
  typedef typename FloatVector<N>::Type V;
  const int32_t full = length / N;
  const int32_t rest = length % N;
  const int32_t perRun = full + (rest != 0 ? 1 : 0);
  V tailMask{};
  if (rest != 0) VORLAN_SCAN_LOAD(tailMask, kMaskSource + 16 - rest);
  // Two accumulator sets, one per run of a pair, so that the additions of
  // neighbouring runs overlap instead of waiting on each other.
  V ta{}, qa{}, xa0{}, xa1{}, xa2{}, xa3{};
  V tb{}, qb{}, xb0{}, xb1{}, xb2{}, xb3{};
  double acc[6] = {0, 0, 0, 0, 0, 0};
  int32_t pending = 0;
  for (int32_t k = 0;; k += 2) {
    if (k >= lines || pending >= kFlushChunks) {
      const V sums[6] = {qa + qb, xa0 + xb0, xa1 + xb1, xa2 + xb2, xa3 + xb3, ta + tb};
      for (int i = 0; i < 6; ++i) {
        // Halved in single precision down to four lanes, then in double.
        const Quarter four = Halve<N>(sums[i]);
        acc[i] += (static_cast<double>(four[0]) + four[1]) + (static_cast<double>(four[2]) + four[3]);
      }
      ta = qa = xa0 = xa1 = xa2 = xa3 = V{};
      tb = qb = xb0 = xb1 = xb2 = xb3 = V{};
      pending = 0;
      if (k >= lines) break;
    }
    const float* dk = d + k * runStride;
    const float* pk = p + static_cast<int64_t>(k) * stride;
    if (k + 1 < lines) {
      const float* dk1 = dk + runStride;
      const float* pk1 = pk + stride;
      for (int32_t c = 0; c < perRun; ++c) {
        V dv, dw, p0, p1, p2, p3, r0, r1, r2, r3;
        VORLAN_SCAN_LOAD(dv, dk + c * N);
        VORLAN_SCAN_LOAD(dw, dk1 + c * N);
        if (c == full) {
          dv *= tailMask;
          dw *= tailMask;
        }
        const float* pp = pk + c * N;
        const float* pq = pk1 + c * N;
        VORLAN_SCAN_LOAD(p0, pp);
        VORLAN_SCAN_LOAD(p1, pp + orientStride);
        VORLAN_SCAN_LOAD(p2, pp + 2 * orientStride);
        VORLAN_SCAN_LOAD(p3, pp + 3 * orientStride);
        VORLAN_SCAN_LOAD(r0, pq);
        VORLAN_SCAN_LOAD(r1, pq + orientStride);
        VORLAN_SCAN_LOAD(r2, pq + 2 * orientStride);
        VORLAN_SCAN_LOAD(r3, pq + 3 * orientStride);
        ta += dv;
        tb += dw;
        qa += dv * dv;
        qb += dw * dw;
        xa0 += dv * p0;
        xb0 += dw * r0;
        xa1 += dv * p1;
        xb1 += dw * r1;
        xa2 += dv * p2;
        xb2 += dw * r2;
        xa3 += dv * p3;
        xb3 += dw * r3;
      }
    } else {
      VORLAN_SCAN_RUN(dk, pk, ta, qa, xa0, xa1, xa2, xa3)
    }
    pending += perRun;
  }
  for (int i = 0; i < 6; ++i) out[i] = acc[i];
}

#undef VORLAN_SCAN_RUN

// Values one lane adds in single precision before they move to double.
constexpr int32_t kLaneFlush = 32;

// The least-squares tests of RangeScan::Settle for a lane group, with the
// group's best upper bound so far (an older, larger bound only rejects less):
// the root-free test and the bound with square roots, the latter with margins
// so that a lane it settles is one Settle would settle too.
struct LaneTest {
  double n, invN, center, centerDeviation;
  double squaresGamma;     // single-precision allowance of sum (d - mean)^2 per unit of q
  double exactSquares;     // the exact square sum's allowance per unit of sum d^2
  double crossSlackQ;      // squared single-precision cross allowance per unit of q
  double crossSquareSlack, deviationSlack, sumRA, sumRB, shiftedSquare, exactSumSquare;
  double allowancePerSquare;  // n times the error formula's allowance per unit of sum d^2
  double needed;           // rangeCentred - n (bestUpper + allowanceBase); <= 0: test nothing
  // The bound with roots: the allowances of sum D, sum D^2 and the cross sum.
  double squares;                    // single-precision allowance of sum D^2 per unit of q
  double shiftedRoot, exactSumRoot;  // sum D's allowance per root of q and of sum d^2
  double crossRoot, crossExact, deviationError, sumRDouble, sumRInv;
  double rangeCentred, allowanceSquare, allowanceBase, bestUpper;
  double scaleReach, rootRange;  // the bound from the largest scale
};

// ThreadSanitizer builds keep the portable kernel (see transform_fit.cpp).
#if defined(__SANITIZE_THREAD__)
#define VORLAN_SCAN_PORTABLE 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VORLAN_SCAN_PORTABLE 1
#endif
#endif

// Square roots of `count` doubles (a multiple of eight), with the vector root
// of AVX2 or AVX-512 or one at a time.
void SquareRootsPlain(const double* in, double* to, int32_t count) {
  for (int32_t i = 0; i < count; ++i) to[i] = std::sqrt(in[i]);
}
#ifndef VORLAN_SCAN_PORTABLE
__attribute__((target("avx2"))) void SquareRootsAvx2(const double* in, double* to, int32_t count) {
  for (int32_t h = 0; h < count; h += 4) _mm256_storeu_pd(to + h, _mm256_sqrt_pd(_mm256_loadu_pd(in + h)));
}
// GCC 12's header leaves the merge source of the unmasked root undefined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
__attribute__((target("avx512f"))) void SquareRootsAvx512(const double* in, double* to, int32_t count) {
  for (int32_t h = 0; h < count; h += 8) _mm512_storeu_pd(to + h, _mm512_sqrt_pd(_mm512_loadu_pd(in + h)));
}
#pragma GCC diagnostic pop
#endif

template <int N, int Isa, typename D>
[[gnu::always_inline]] inline void SquareRoots(const D& v, D& r) {
  const double* in = reinterpret_cast<const double*>(&v);
  double* to = reinterpret_cast<double*>(&r);
#ifndef VORLAN_SCAN_PORTABLE
  if constexpr (Isa == 2) {
    SquareRootsAvx512(in, to, N);
    return;
  } else if constexpr (Isa == 1) {
    SquareRootsAvx2(in, to, N);
    return;
  }
#endif
  SquareRootsPlain(in, to, N);
}

// Settle's least-squares tests for N lanes whose sums are in out (sum s of
// lane i at out[s * N + i]), in chunks of the widest native double vector.
// Returns the lanes that stay open.
template <int N, int Isa>
[[gnu::always_inline]] inline uint32_t LaneTestT(const LaneTest& test, const double* out) {
  constexpr uint32_t all = N == 32 ? ~0u : (1u << N) - 1;
  if (!(test.needed > 0.0)) return all;
  constexpr int32_t C = Isa == 2 ? 8 : 4;
  typedef typename NativeDoubles<C>::Type D;
  typedef typename NativeDoubles<C>::Mask Mask;
  const D zero = D{} + 0.0;
  uint32_t bits = 0;
  for (int32_t h = 0; h < N; h += C) {
    D sums[6];
    for (int32_t s = 0; s < 6; ++s) std::memcpy(&sums[s], out + s * N + h, sizeof(D));
    const D sq = sums[0] > zero ? sums[0] : zero;
    const D sh = sums[5];
    const D sdd = sq - sh * sh * test.invN;
    const D sumD = test.n * test.center + sh;
    const D sddWhole = (sdd > zero ? sdd : zero) * 1.01 + sumD * sumD * (test.invN * 1.01) + sq * 1e-3;
    D largest = zero, largestAbs = zero;
    for (int32_t o = 0; o < 4; ++o) {
      const D c = sums[1 + o] + test.centerDeviation;
      const D a = c < zero ? -c : c;
      largestAbs = a > largestAbs ? a : largestAbs;
      const D c2 = c * c;
      largest = c2 > largest ? c2 : largest;
    }
    // The root-free test.
    const D spreadLow = sdd - (sq * test.squaresGamma + test.exactSquares * sddWhole);
    const D needed = test.needed - test.allowancePerSquare * sddWhole;
    const D slack = 6.0 * (test.crossSlackQ * sq + test.crossSquareSlack * sddWhole + test.deviationSlack +
                           test.sumRA * sumD * sumD +
                           test.sumRB * (test.shiftedSquare * sq + test.exactSumSquare * sddWhole));
    const Mask rootFree = (needed > zero) & (spreadLow > zero) &
                          (largest * (1.0 + 1.0 / 4096) + 4097.0 * slack < needed * spreadLow);
    uint32_t left = 0;
    for (int32_t i = 0; i < C; ++i) left |= rootFree[i] != 0 ? 0u : (1u << i);
    if (left == 0) continue;
    // Lanes left: the bound with square roots, as Settle has it. Every
    // allowance it adds only weakens it; the margins cover the rounding by
    // which this order of operations may differ from Settle's.
    D rootQ, rootWhole;
    SquareRoots<C, Isa>(sq, rootQ);
    SquareRoots<C, Isa>(sddWhole, rootWhole);
    const D absShifted = sh < zero ? -sh : sh;
    const D absSumD = sumD < zero ? -sumD : sumD;
    const D dShifted = test.shiftedRoot * rootQ + test.exactSumRoot * rootWhole;
    const D dSdd = test.squares * sq + (2.0 * absShifted * dShifted + dShifted * dShifted) * test.invN +
                   test.exactSquares * sddWhole;
    const D dCross = test.crossRoot * rootQ + test.crossExact * rootWhole + test.deviationError +
                     test.sumRDouble * absSumD + test.sumRInv * dShifted;
    const D spread = sdd - dSdd - 1e-12 * (sq + dSdd);
    const D c = largestAbs + dCross;
    const D allowance = test.allowanceSquare * sddWhole + test.allowanceBase;
    const D room = test.rangeCentred - test.n * (test.bestUpper + allowance);
    const D roomLow = room - 1e-12 * (test.rangeCentred + test.n * (std::fabs(test.bestUpper) + allowance));
    const Mask rooted = (roomLow > zero) & (spread > zero) & (c * c * (1.0 + 1e-12) < roomLow * spread);
    // Blocks too flat for least squares: the bound from the largest scale.
    const D flatSquares = sdd + dSdd;
    D flatRoot;
    SquareRoots<C, Isa>(flatSquares > zero ? flatSquares : zero, flatRoot);
    const D gap = test.rootRange * (1 - 1e-8) - test.scaleReach * (1 + 1e-8) * flatRoot;
    const Mask flat =
        (gap > zero) & (gap * gap * (1.0 - 1e-12) > test.n * (test.bestUpper + allowance) + (room - roomLow));
    const Mask settled = rooted | flat;
    for (int32_t i = 0; i < C; ++i) {
      if (settled[i] != 0) left &= ~(1u << i);
    }
    bits |= left << h;
  }
  return bits;
}

// The same six sums for N candidates side by side: lane i reads value j of
// run k at rowBase + k * lineStride + offsets[j] + i. out[s * N + i] is sum s
// of candidate i.
template <int N, int Isa>
[[gnu::always_inline]] inline void LaneDotsT(const float* rowBase, int64_t lineStride, const int32_t* offsets,
                                             const float* p, int64_t orientStride, int32_t lines, int32_t length,
                                             int32_t stride, const LaneTest& test, double* out,
                                             uint32_t* open) {
  typedef typename FloatVector<N>::Type V;
  typedef typename DoubleVector<N>::Type D;
  D acc[6] = {};
  V t{}, q{}, x0{}, x1{}, x2{}, x3{};
  int32_t pending = 0;
  for (int32_t k = 0; k < lines; ++k) {
    const float* base = rowBase + k * lineStride;
    const float* pk = p + static_cast<int64_t>(k) * stride;
    for (int32_t j = 0; j < length; ++j) {
      V d;
      VORLAN_SCAN_LOAD(d, base + offsets[j]);
      t += d;
      q += d * d;
      x0 += pk[j] * d;
      x1 += pk[j + orientStride] * d;
      x2 += pk[j + 2 * orientStride] * d;
      x3 += pk[j + 3 * orientStride] * d;
      if (++pending == kLaneFlush) {
        acc[0] += __builtin_convertvector(q, D);
        acc[1] += __builtin_convertvector(x0, D);
        acc[2] += __builtin_convertvector(x1, D);
        acc[3] += __builtin_convertvector(x2, D);
        acc[4] += __builtin_convertvector(x3, D);
        acc[5] += __builtin_convertvector(t, D);
        t = q = x0 = x1 = x2 = x3 = V{};
        pending = 0;
      }
    }
  }
  acc[0] += __builtin_convertvector(q, D);
  acc[1] += __builtin_convertvector(x0, D);
  acc[2] += __builtin_convertvector(x1, D);
  acc[3] += __builtin_convertvector(x2, D);
  acc[4] += __builtin_convertvector(x3, D);
  acc[5] += __builtin_convertvector(t, D);
  for (int32_t s = 0; s < 6; ++s) std::memcpy(out + s * N, &acc[s], sizeof acc[s]);
  *open = LaneTestT<N, Isa>(test, out);
}
#undef VORLAN_SCAN_LOAD

using ScanDotsFn = void (*)(const float*, int64_t, const float*, int64_t, int32_t, int32_t, int32_t, double*);
using LaneDotsFn = void (*)(const float*, int64_t, const int32_t*, const float*, int64_t, int32_t, int32_t, int32_t,
                            const LaneTest&, double*, uint32_t*);

void ScanDots8(const float* d, int64_t rs, const float* p, int64_t os, int32_t lines, int32_t length, int32_t stride,
               double* out) {
  ScanDotsT<8>(d, rs, p, os, lines, length, stride, out);
}
void LaneDots8(const float* b, int64_t ls, const int32_t* off, const float* p, int64_t os, int32_t lines,
               int32_t length, int32_t stride, const LaneTest& test, double* out, uint32_t* open) {
  LaneDotsT<8, 0>(b, ls, off, p, os, lines, length, stride, test, out, open);
}
#ifndef VORLAN_SCAN_PORTABLE
__attribute__((target("avx2,fma"))) void LaneDots8Avx2(const float* b, int64_t ls, const int32_t* off, const float* p,
                                                       int64_t os, int32_t lines, int32_t length, int32_t stride,
                                                       const LaneTest& test, double* out, uint32_t* open) {
  LaneDotsT<8, 1>(b, ls, off, p, os, lines, length, stride, test, out, open);
}
__attribute__((target("avx512f,avx512vl,avx2,fma"))) void LaneDots16Avx512(const float* b, int64_t ls,
                                                                          const int32_t* off, const float* p,
                                                                          int64_t os, int32_t lines, int32_t length,
                                                                          int32_t stride, const LaneTest& test,
                                                                          double* out, uint32_t* open) {
  LaneDotsT<16, 2>(b, ls, off, p, os, lines, length, stride, test, out, open);
}
__attribute__((target("avx2,fma"))) void ScanDots8Avx2(const float* d, int64_t rs, const float* p, int64_t os,
                                                       int32_t lines, int32_t length, int32_t stride,
                                                       double* out) {
  ScanDotsT<8>(d, rs, p, os, lines, length, stride, out);
}
__attribute__((target("avx512f,avx512vl,avx2,fma"))) void ScanDots16Avx512(const float* d, int64_t rs, const float* p,
                                                                          int64_t os, int32_t lines, int32_t length,
                                                                          int32_t stride, double* out) {
  ScanDotsT<16>(d, rs, p, os, lines, length, stride, out);
}
#endif

struct Kernels {
  ScanDotsFn narrow = ScanDots8;  // runs of up to 8 values
  ScanDotsFn wide = ScanDots8;
  int32_t wideWidth = 8;
  LaneDotsFn lanes = LaneDots8;
  int32_t laneWidth = 8;
  explicit Kernels(bool portable) {
    if (portable) return;
#ifndef VORLAN_SCAN_PORTABLE
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
      narrow = wide = ScanDots8Avx2;
      lanes = LaneDots8Avx2;
    }
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl")) {
      wide = ScanDots16Avx512;
      wideWidth = 16;
      lanes = LaneDots16Avx512;
      laneWidth = 16;
    }
#endif
  }
};

std::atomic<bool> usePortable{false};

const Kernels& TheKernels() {
  static const Kernels widest(false);
  static const Kernels portable(true);
  return usePortable.load(std::memory_order_relaxed) ? portable : widest;
}

int32_t Positions(int32_t extent, int32_t step) { return extent <= 0 ? 0 : (extent - 1) / step + 1; }

}  // namespace

void UsePortableScanKernels(bool portable) { usePortable = portable; }

int64_t WalkKey(const ScanContext& context, int32_t dx, int32_t dy, int32_t entry) {
  const DomainSequence& s = *context.sequence;
  const int64_t nx = Positions(context.width, s.StepX());
  const int64_t row = dy / s.StepY(), column = dx / s.StepX();
  return (row * nx + column) * s.EntriesPerPosition() + entry;
}

bool CandidateFits(const ScanContext& context, int32_t w, int32_t h, int32_t dx, int32_t dy, int32_t entry) {
  const DomainSequence::Entry& e = context.sequence->Entries()[static_cast<size_t>(entry)];
  return DomainFits(w, h, dx, dy, e.fx, e.fy, e.rotate, context.width, context.height);
}

int64_t FirstFittingKey(const ScanContext& context, int32_t w, int32_t h) {
  const DomainSequence& s = *context.sequence;
  const int32_t entries = s.EntriesPerPosition();
  for (int64_t dy = 0; dy < context.height; dy += s.StepY()) {
    for (int64_t dx = 0; dx < context.width; dx += s.StepX()) {
      for (int32_t e = 0; e < entries; ++e) {
        if (CandidateFits(context, w, h, static_cast<int32_t>(dx), static_cast<int32_t>(dy), e)) {
          return WalkKey(context, static_cast<int32_t>(dx), static_cast<int32_t>(dy), e);
        }
      }
      // Positions further right only fit less; the next row may fit again.
      if (!CandidateFits(context, 1, 1, static_cast<int32_t>(dx), static_cast<int32_t>(dy), 0)) break;
    }
  }
  return -1;
}

int64_t LastKeyIfFitting(const ScanContext& context, int32_t w, int32_t h) {
  const DomainSequence& s = *context.sequence;
  const int32_t dx = (Positions(context.width, s.StepX()) - 1) * s.StepX();
  const int32_t dy = (Positions(context.height, s.StepY()) - 1) * s.StepY();
  const int32_t last = s.EntriesPerPosition() - 1;
  if (last < 0 || !CandidateFits(context, w, h, dx, dy, last)) return -1;
  return WalkKey(context, dx, dy, last);
}

bool RangeScan::Load(const RangeNode& range, const RangeBlock& block) {
  range_ = nullptr;
  const int32_t w = range.width, h = range.height;
  const double n = static_cast<double>(w) * h;
  mean_ = range.sum / n;
  const Kernels& kernels = TheKernels();
  try {
    for (int32_t rotate = 0; rotate < 2; ++rotate) {
      Pattern& p = patterns_[rotate];
      p.lines = rotate != 0 ? w : h;
      p.length = rotate != 0 ? h : w;
      const bool wide = p.length > 8;
      const int32_t lanes = wide ? kernels.wideWidth : 8;
      p.stride = (p.length + lanes - 1) / lanes * lanes;
      p.kernel = wide ? kernels.wide : kernels.narrow;
      // Each lane adds at most kFlushChunks + one run's chunks, then the two
      // sets and up to three halvings in single precision, the rest in double.
      const double gamma = (kFlushChunks + p.stride / lanes + 10) * kFloatUnit;
      p.gammas = GammasFor(gamma);
      p.values.assign(static_cast<size_t>(kOrientations) * p.lines * p.stride, 0.0f);
    }
    laneOffsets_.resize(static_cast<size_t>(std::max(w, h)));
  } catch (const std::bad_alloc&) {
    outOfMemory_ = true;
    return false;
  }
  centredSquares_ = 0.0;
  for (int32_t o = 0; o < kOrientations; ++o) {
    const double* r = block.Oriented(o);
    double deviation = 0.0;
    float* unturned = patterns_[0].values.data() + static_cast<size_t>(o) * patterns_[0].lines * patterns_[0].stride;
    float* turned = patterns_[1].values.data() + static_cast<size_t>(o) * patterns_[1].lines * patterns_[1].stride;
    for (int32_t i = 0; i < h; ++i) {
      for (int32_t j = 0; j < w; ++j) {
        const double centred = r[static_cast<size_t>(i) * w + j] - mean_;
        const float v = static_cast<float>(centred);
        deviation += centred;
        if (o == 0) centredSquares_ += centred * centred;
        // Unturned: row i of the block is run i. Turned: column j of the
        // block is run w - 1 - j, read top to bottom.
        unturned[static_cast<size_t>(i) * patterns_[0].stride + j] = v;
        turned[static_cast<size_t>(w - 1 - j) * patterns_[1].stride + i] = v;
      }
    }
    if (o == 0) deviationSum_ = deviation;
  }
  range_ = &range;
  return true;
}

void RangeScan::Candidate(const ScanContext& context, const WalkLimits& limits, int64_t key, int32_t dx, int32_t dy,
                          int32_t entry) {
  if (key == limits.skipKey) return;
  const DomainSequence::Entry& e = context.sequence->Entries()[static_cast<size_t>(entry)];
  const Pattern& p = patterns_[e.rotate != 0 ? 1 : 0];
  const AveragedBlocks& averages = *context.averages;
  double out[6];
  p.kernel(averages.FloatRow(e.fx, e.fy, dx, dy), e.fy * averages.RowStride(e.fx, e.fy), p.values.data(),
           static_cast<int64_t>(p.lines) * p.stride, p.lines, p.length, p.stride, out);
  ++scanned_;
  scannedValues_ += static_cast<int64_t>(p.lines) * p.length;
  Settle(context, limits, key, dx, dy, entry, p.gammas, out);
}

RangeScan::Gammas RangeScan::GammasFor(double gamma) {
  Gammas g;
  g.shifted = (gamma + 2 * kFloatUnit) * 1.01;
  g.squares = gamma + 3 * kFloatUnit;
  g.cross = (gamma + 4 * kFloatUnit) * 1.01;
  return g;
}

void RangeScan::LaneCandidates(const ScanContext& context, const WalkLimits& limits, int32_t row, int32_t columns,
                               int32_t entry) {
  const RangeNode& range = *range_;
  const DomainSequence& seq = *context.sequence;
  const DomainSequence::Entry& e = seq.Entries()[static_cast<size_t>(entry)];
  const Pattern& p = patterns_[e.rotate != 0 ? 1 : 0];
  const AveragedBlocks& averages = *context.averages;
  const int64_t dw = e.rotate != 0 ? range.height : range.width;
  const int64_t dh = e.rotate != 0 ? range.width : range.height;
  const int32_t dy = row * seq.StepY();
  if (dy + e.fy * dh >= context.height) return;
  const int64_t room = context.width - e.fx * dw;  // dx must stay below it
  if (room <= 0) return;
  const int32_t count = static_cast<int32_t>(std::min<int64_t>(columns, (room - 1) / seq.StepX() + 1));
  const int32_t step = averages.LaneStep(e.fx, e.fy);
  const int64_t segment = averages.LaneSegmentLength(e.fx, e.fy);
  for (int32_t j = 0; j < p.length; ++j) laneOffsets_[static_cast<size_t>(j)] = static_cast<int32_t>((j % step) * segment + j / step);
  const Kernels& kernels = TheKernels();
  const int32_t lanes = kernels.laneWidth;
  const float* row0 = averages.LaneRow(e.fx, e.fy, dy);
  const int64_t lineStride = static_cast<int64_t>(e.fy) * step * segment;
  const int64_t values = static_cast<int64_t>(p.lines) * p.length;
  const int64_t rowKey = static_cast<int64_t>(row) * columns;
  const int32_t entries = seq.EntriesPerPosition();
  const Constants& k = constants_;
  const Gammas& g = laneGammas_;
  LaneTest test;
  test.n = k.n;
  test.invN = k.invN;
  test.center = k.center;
  test.centerDeviation = k.centerDeviation;
  test.squaresGamma = g.squares + 2 * g.shifted + g.shifted * g.shifted;
  test.exactSquares = k.exactSquares;
  test.crossSlackQ = g.cross * g.cross * k.centredSquares;
  test.crossSquareSlack = k.crossSquareSlack;
  test.deviationSlack = k.deviationSlack;
  test.sumRA = k.sumRA;
  test.sumRB = k.sumRB;
  test.shiftedSquare = g.shifted * g.shifted;
  test.exactSumSquare = k.exactSum * k.exactSum;
  test.allowancePerSquare = k.n * k.allowancePerSquare;
  test.squares = g.squares;
  test.shiftedRoot = g.shifted * k.rootN;
  test.exactSumRoot = k.exactSum * k.rootN;
  test.crossRoot = g.cross * k.rootCentred;
  test.crossExact = k.crossExact;
  test.deviationError = k.deviationError;
  test.sumRDouble = 2 * kDoubleUnit * std::fabs(k.sumR) * k.invN;
  test.sumRInv = std::fabs(k.sumR) * k.invN;
  test.rangeCentred = k.rangeCentred;
  test.allowanceSquare = k.allowancePerSquare;
  test.allowanceBase = k.allowanceBase;
  test.scaleReach = k.scaleReach;
  test.rootRange = k.rootRange;
  double out[6 * 16];
  for (int32_t m0 = 0; m0 < count; m0 += lanes) {
    test.needed = k.rangeCentred - k.n * (bestUpper_ + k.allowanceBase);
    test.bestUpper = bestUpper_;
    uint32_t open = 0;
    kernels.lanes(row0 + m0, lineStride, laneOffsets_.data(), p.values.data(), static_cast<int64_t>(p.lines) * p.stride,
                  p.lines, p.length, p.stride, test, out, &open);
    const int32_t used = std::min(lanes, count - m0);
    scanned_ += used;
    scannedValues_ += values * used;
    for (int32_t i = 0; i < used; ++i) {
      const int32_t m = m0 + i;
      const int64_t key = (rowKey + m) * entries + entry;
      // The walk's last candidate is fitted in orientation 0 only, which
      // the lane test does not know about: Settle decides it.
      if ((open & (1u << i)) == 0 && key != limits.firstOnlyKey) continue;
      if (key == limits.skipKey) continue;
      const double sums[6] = {out[i], out[lanes + i], out[2 * lanes + i], out[3 * lanes + i], out[4 * lanes + i],
                              out[5 * lanes + i]};
      Settle(context, limits, key, m * seq.StepX(), dy, entry, laneGammas_, sums);
    }
  }
}

void RangeScan::Settle(const ScanContext& context, const WalkLimits& limits, int64_t key, int32_t dx, int32_t dy,
                       int32_t entry, const Gammas& g, const double out[6]) {
  const Constants& k = constants_;
  const double n = k.n, invN = k.invN;
  const double q = std::max(out[0], 0.0);  // sum (d - mu)^2
  const double shifted = out[5];             // sum (d - mu)
  const double sddCentred = q - shifted * shifted * invN;  // sum (d - mean)^2
  const double sumD = n * k.center + shifted;
  // Sum of d^2, for allowances only (so generously rounded up).
  const double sddWhole = std::max(sddCentred, 0.0) * 1.01 + sumD * sumD * invN * 1.01 + q * 1e-3;
  const int32_t orientations = key == limits.firstOnlyKey ? 1 : kOrientations;
  // The exact fit's cross term, n X - sum R sum D over n, is sum (r - mean_) d:
  // the pattern's sums plus mu times the deviations' own (not quite zero) sum.
  double cross[kOrientations];
  double largest = 0.0;
  for (int32_t o = 0; o < orientations; ++o) {
    cross[o] = out[1 + o] + k.centerDeviation;
    largest = std::max(largest, std::fabs(cross[o]));
  }
  // What the exact sums (four-lane double sums of n terms) and formulas may
  // be off by, from the whole (not centred) magnitudes.
  const double dSddExact = k.exactSquares * sddWhole;
  // The exact error formula's rounding with any bounded scale and offset.
  const double allowance = k.allowancePerSquare * sddWhole + k.allowanceBase;
  {
    // The least-squares bound below with every square root bounded by
    // Cauchy-Schwarz (|sum (d - mu)| <= sqrt(n q)), 2ab <= a^2 + b^2 and
    // (a + b)^2 <= (1 + e) a^2 + (1 + 1/e) b^2: a few multiplications
    // settle most candidates for all orientations at once.
    const double gs = g.shifted;
    const double spreadLow = sddCentred - (q * (g.squares + 2 * gs + gs * gs) + dSddExact);
    const double needed = k.rangeCentred - n * (bestUpper_ + allowance);
    if (needed > 0.0 && spreadLow > 0.0) {
      const double slack = 6 * (g.cross * g.cross * k.centredSquares * q + k.crossSquareSlack * sddWhole +
                                 k.deviationSlack + k.sumRA * sumD * sumD +
                                 k.sumRB * (g.shifted * g.shifted * q + k.exactSum * k.exactSum * sddWhole));
      if (largest * largest * (1.0 + 1.0 / 4096) + 4097 * slack < needed * spreadLow) return;
    }
  }
  const double rootQ = std::sqrt(q);
  const double rootWhole = std::sqrt(sddWhole);
  const double dShifted = g.shifted * k.rootN * rootQ + k.exactSum * k.rootN * rootWhole;  // sum D
  const double dSdd = g.squares * q + (2 * std::fabs(shifted) * dShifted + dShifted * dShifted) * invN + dSddExact;
  const double dCross = g.cross * k.rootCentred * rootQ + k.crossExact * rootWhole + k.deviationError +
                        2 * kDoubleUnit * std::fabs(k.sumR * sumD) * invN + std::fabs(k.sumR) * invN * dShifted;
  // Least squares over every scale and offset bounds any fit from below.
  const double spread = sddCentred - dSdd;
  const double inverseSpread = spread > 0.0 ? 1.0 / spread : 0.0;
  auto lsLowerFor = [&](double c0) {
    double explained = k.rangeCentred;
    if (spread > 0.0) {
      const double c = std::fabs(c0) + dCross;
      explained = std::min(k.rangeCentred, c * c * inverseSpread);
    }
    return (k.rangeCentred - explained) * invN - allowance;
  };
  // A fit's scale s is at most scaleReach in magnitude, and the centred
  // range is at least its norm less |s| times the centred block's away from
  // s times that block: the bound for blocks too flat for least squares to
  // tell anything within their rounding.
  const double reach = k.scaleReach * std::sqrt(std::max(sddCentred + dSdd, 0.0)) * (1 + 1e-9);
  const double gap = k.rootRange * (1 - 1e-9) - reach;
  const double flatLower = gap > 0.0 ? gap * gap * invN - allowance : -allowance;
  if (flatLower > bestUpper_) return;
  if (lsLowerFor(largest) > bestUpper_) return;

  const RangeNode& range = *range_;
  const double meanD = sumD * invN;
  const double dMean = dShifted * invN;
  const double rangeCentred = k.rangeCentred;
  const FitContext& fit = context.fit;
  // Fit calls a block flat when den <= n sum D^2 1e-12; sum D^2 is known to
  // within dSdd plus what mu adds to it.
  const double squareSumD = sddCentred + sumD * sumD * invN;
  const double flatLine = n * squareSumD * kFlatBlockRatio;
  const double dFlat = n * kFlatBlockRatio * (dSdd + 2 * std::fabs(sumD) * invN * dShifted + dShifted * dShifted * invN) +
                       flatLine * 1e-9;
  const double sumR = range.sum;
  ScanSurvivor s;
  bool any = false;
  // Keeping several candidates: the best upper bound of this one over its
  // orientations competes for the kept places.
  double candidateUpper = kInfinity;
  for (int32_t o = 0; o < kOrientations; ++o) {
    s.lower[o] = kInfinity;
    if (o >= orientations) continue;
    const double lsLower = std::max(lsLowerFor(cross[o]), flatLower);
    if (lsLower > bestUpper_) continue;

    // The quantised fit, with the interval the exact sums may lie in.
    bool stable = true;
    bool flat = false;
    double scale = 0.0;
    const double den = n * sddCentred, dDen = n * dSdd;
    if (den - dDen > flatLine + dFlat) {
      const double raw = cross[o] / sddCentred;
      const double dRaw = (dCross + std::fabs(raw) * dSdd) / (sddCentred - dSdd);
      double upperLevel;
      const int32_t a = fit.scales->Quantize(raw - dRaw, scale);
      const int32_t b = fit.scales->Quantize(raw + dRaw, upperLevel);
      stable = a == b && std::isfinite(dRaw);
    } else if (den + dDen < flatLine - dFlat) {
      flat = true;
      fit.scales->Quantize(0.0, scale);
    } else {
      stable = false;
    }
    if (stable && (scale < fit.scaleMin || scale > fit.scaleMax)) continue;  // never in bounds
    double offset = 0.0;
    if (stable) {
      const double meanR = sumR / n;
      const double raw = flat ? meanR : meanR - scale * meanD;
      const double dRaw =
          (flat ? 0.0 : std::fabs(scale) * dMean) + 8 * kDoubleUnit * (std::fabs(meanR) + std::fabs(scale * meanD));
      double upperLevel;
      const int32_t a = fit.offsets->Quantize(raw - dRaw, offset);
      const int32_t b = fit.offsets->Quantize(raw + dRaw, upperLevel);
      stable = a == b;
    }
    if (!stable) {
      s.lower[o] = lsLower;
      any = true;
      continue;
    }
    const double misfit = offset - sumR / n + scale * meanD;
    const double error = (rangeCentred - 2 * scale * cross[o] + scale * scale * sddCentred) * invN + misfit * misfit;
    const double dError = (2 * std::fabs(scale) * dCross + scale * scale * dSdd) * invN +
                          2 * std::fabs(misfit * scale) * dMean + scale * scale * dMean * dMean + allowance;
    const double upper = error + dError;
    const double lower = std::max(error - dError, lsLower);
    if (keep_ == 1) {
      if (upper < bestUpper_) bestUpper_ = upper;
    } else {
      candidateUpper = std::min(candidateUpper, upper);
    }
    if (lower <= bestUpper_) {
      s.lower[o] = lower;
      any = true;
    }
  }
  if (candidateUpper < kInfinity) OfferUpper(candidateUpper);
  if (!any) return;
  s.key = key;
  s.dx = dx;
  s.dy = dy;
  s.entry = entry;
  try {
    survivors_.push_back(s);
  } catch (const std::bad_alloc&) {
    outOfMemory_ = true;
  }
}

void RangeScan::OfferUpper(double upper) {
  // The kept uppers in rising order; the threshold is the keep_-th of them.
  auto at = std::upper_bound(keptUppers_.begin(), keptUppers_.end(), upper);
  if (static_cast<int32_t>(keptUppers_.size()) >= keep_) {
    if (at == keptUppers_.end()) return;
    keptUppers_.pop_back();
  }
  keptUppers_.insert(at, upper);
  if (static_cast<int32_t>(keptUppers_.size()) >= keep_) bestUpper_ = keptUppers_.back();
}

void RangeScan::SetKeep(int32_t keep) {
  keep_ = std::max(keep, 1);
  try {
    keptUppers_.reserve(static_cast<size_t>(keep_) + 1);
  } catch (const std::bad_alloc&) {
    outOfMemory_ = true;
  }
}

void RangeScan::Begin() {
  survivors_.clear();
  keptUppers_.clear();
  bestUpper_ = kInfinity;
  scanned_ = 0;
  scannedValues_ = 0;
}

bool RangeScan::ScanList(const ScanContext& context, const std::vector<ScanSurvivor>& candidates,
                         const StopFlags& stop) {
  Begin();
  if (range_ == nullptr) return false;
  SetConstants(context);
  const WalkLimits none;
  const RangeNode& range = *range_;
  for (size_t i = 0; i < candidates.size(); ++i) {
    if ((i & 255) == 0 && stop.Requested()) return false;
    const ScanSurvivor& c = candidates[i];
    if (!CandidateFits(context, range.width, range.height, c.dx, c.dy, c.entry)) continue;
    Candidate(context, none, c.key, c.dx, c.dy, c.entry);
    if (outOfMemory_) return false;
  }
  return true;
}

bool RangeScan::Scan(const ScanContext& context, const WalkLimits& limits, int32_t part, int32_t parts,
                     const StopFlags& stop) {
  Begin();
  if (range_ == nullptr) return false;
  SetConstants(context);
  return ScanRows(context, limits, part, parts, stop);
}

void RangeScan::SetConstants(const ScanContext& context) {
  const RangeNode& range = *range_;
  Constants& k = constants_;
  k.n = static_cast<double>(range.width) * range.height;
  k.invN = 1.0 / k.n;
  k.rootN = std::sqrt(k.n);
  k.center = context.averages->Center();
  k.shiftSquare = k.n * k.center * k.center;
  k.sumR = range.sum;
  k.rangeCentred = std::max(range.squareSum - range.sum * range.sum / k.n, 0.0);
  k.rootCentred = std::sqrt(centredSquares_);
  k.centredSquares = centredSquares_;
  // The exact sums add n terms in four double lanes.
  const double exactGamma = (k.n / 4 + 16) * kDoubleUnit * 1.01;
  const double scaleMax = std::max(std::fabs(context.fit.scaleMin), std::fabs(context.fit.scaleMax));
  const double offsetMax = context.largestOffset;
  const double squareSumR = std::max(range.squareSum, 0.0) * 1.01;
  k.exactSum = exactGamma;
  k.exactSquares = 3 * exactGamma + 4 * kDoubleUnit;
  // Exact cross sum: |sum r d| <= sqrt(sum r^2 sum d^2), then n X - R D.
  k.crossExact = 2 * (exactGamma + 2 * kDoubleUnit) * std::sqrt(squareSumR);
  k.crossSquareSlack = k.crossExact * k.crossExact;
  k.centerDeviation = k.center * deviationSum_;
  // The deviations' sum is rounded too (n additions of at most sqrt(n sum
  // p^2) in all), and so is the mean they are taken from.
  k.deviationError = 4 * kDoubleUnit * std::fabs(k.centerDeviation) +
                     2 * std::fabs(k.center) * kDoubleUnit *
                         ((k.n + 2) * std::sqrt(k.n * centredSquares_) + k.n * std::fabs(mean_));
  k.deviationSlack = k.deviationError * k.deviationError;
  // The cross term's share of sum R sum D / n: (2u |R| / n)^2 sum D^2, and
  // (|R| / n)^2 times the squared error of sum D (n times the per-unit
  // allowances squared, twice for the two parts).
  k.sumRA = (2 * kDoubleUnit * k.sumR * k.invN) * (2 * kDoubleUnit * k.sumR * k.invN);
  k.sumRB = 2 * (k.sumR * k.invN) * (k.sumR * k.invN) * k.n;
  // The radicand of Fit, s (s sum d^2 - 2 X + 2 o sum D) + o (o n - 2 R) + sum r^2,
  // and its inputs' errors stay within these multiples of its terms
  // (cross products bounded by 2ab <= a^2 + b^2).
  const double kappa = (24 * kDoubleUnit + 4 * exactGamma) * (1 + scaleMax) * (1 + scaleMax);
  k.allowancePerSquare = kappa * k.invN;
  k.allowanceBase = kappa * (offsetMax * offsetMax * k.n + squareSumR) * k.invN;
  k.scaleReach = scaleMax;
  k.rootRange = std::sqrt(k.rangeCentred);
}

bool RangeScan::ScanRows(const ScanContext& context, const WalkLimits& limits, int32_t part, int32_t parts,
                         const StopFlags& stop) {
  const RangeNode& range = *range_;
  const DomainSequence& seq = *context.sequence;
  const int32_t entries = seq.EntriesPerPosition();
  try {
    laneEntry_.resize(static_cast<size_t>(entries));
  } catch (const std::bad_alloc&) {
    outOfMemory_ = true;
    return false;
  }
  laneGammas_ = GammasFor((kLaneFlush + 4) * kFloatUnit);
  const int32_t rows = Positions(context.height, seq.StepY());
  const int32_t columns = Positions(context.width, seq.StepX());
  // Candidates go sixteen at a time where the lane tables serve their
  // factor pair (faster for ranges of every size), else one at a time.
  bool anySingle = false;
  for (int32_t e = 0; e < entries; ++e) {
    const DomainSequence::Entry& entry = seq.Entries()[static_cast<size_t>(e)];
    laneEntry_[static_cast<size_t>(e)] = context.averages->HaveLanes(entry.fx, entry.fy);
    anySingle = anySingle || !laneEntry_[static_cast<size_t>(e)];
  }
  for (int32_t row = part; row < rows; row += parts) {
    if (stop.Requested()) return false;
    const int32_t dy = row * seq.StepY();
    for (int32_t e = 0; e < entries; ++e) {
      if (laneEntry_[static_cast<size_t>(e)]) LaneCandidates(context, limits, row, columns, e);
    }
    for (int32_t column = 0; anySingle && column < columns; ++column) {
      const int32_t dx = column * seq.StepX();
      const int64_t key = (static_cast<int64_t>(row) * columns + column) * entries;
      bool anyFits = false;
      for (int32_t e = 0; e < entries; ++e) {
        if (!CandidateFits(context, range.width, range.height, dx, dy, e)) continue;
        anyFits = true;
        if (!laneEntry_[static_cast<size_t>(e)]) Candidate(context, limits, key + e, dx, dy, e);
      }
      if (!anyFits && !CandidateFits(context, 1, 1, dx, dy, 0)) break;
    }
    if (outOfMemory_) return false;
  }
  return true;
}

// Drops the survivors whose every lower bound exceeds `bestUpper` and puts
// the rest in walk order.
namespace {

bool Hopeless(const ScanSurvivor& s, double bestUpper) {
  for (double lower : s.lower) {
    if (lower <= bestUpper) return false;
  }
  return true;
}

bool EarlierInWalk(const ScanSurvivor& a, const ScanSurvivor& b) { return a.key < b.key; }

}  // namespace

void KeepHopefulInWalkOrder(std::vector<ScanSurvivor>& survivors, double bestUpper) {
  survivors.erase(std::remove_if(survivors.begin(), survivors.end(),
                                 [bestUpper](const ScanSurvivor& s) { return Hopeless(s, bestUpper); }),
                  survivors.end());
  std::sort(survivors.begin(), survivors.end(), EarlierInWalk);
}

void MergeHopeful(std::vector<ScanSurvivor>& into, const std::vector<ScanSurvivor>& sorted, double bestUpper) {
  const auto middle = static_cast<std::ptrdiff_t>(into.size());
  for (const ScanSurvivor& s : sorted) {
    if (!Hopeless(s, bestUpper)) into.push_back(s);
  }
  std::inplace_merge(into.begin(), into.begin() + middle, into.end(), EarlierInWalk);
}

void RangeScan::KeepHopeful() { KeepHopefulInWalkOrder(survivors_, bestUpper_); }

namespace {

// Fits survivor `s` exactly in each orientation whose lower bound may still
// win; `best` gets the first smallest error (rms < 0 when none fits).
// False when the stop came while its domain block was built.
bool FitSurvivor(const ScanContext& context, const RangeNode& range, const RangeBlock& block,
                 const ScanSurvivor& s, double bestUpper, std::vector<double>& blockBuffer, std::vector<double>& line,
                 const StopFlags& stop, RefitChoice& best) {
  const DomainSequence::Entry& e = context.sequence->Entries()[static_cast<size_t>(s.entry)];
  DomainCandidate c;
  c.dx = s.dx;
  c.dy = s.dy;
  c.fx = e.fx;
  c.fy = e.fy;
  c.rotate = e.rotate;
  if (!BuildDomainBlock(*context.sums, context.averages, range.width, range.height, c, blockBuffer.data(),
                        line.data(), stop)) {
    return false;
  }
  double cross[kOrientations];
  CrossSums(blockBuffer.data(), block, c.sum, c.squareSum, cross);
  best = RefitChoice{};
  best.key = s.key;
  for (int32_t o = 0; o < kOrientations; ++o) {
    if (!(s.lower[o] <= bestUpper)) continue;
    c.reverseRows = o >> 1;
    c.reverseColumns = o & 1;
    const double rms = Fit(context.fit, range, cross[o], c);
    if (rms == -1.0) continue;
    if (best.rms < 0.0 || rms < best.rms) {
      best.rms = rms;
      best.candidate = c;
    }
  }
  return true;
}

}  // namespace

RefitResult RefitSlice(const ScanContext& context, const RangeNode& range, const RangeBlock& block,
                       const ScanSurvivor* begin, const ScanSurvivor* end, double bestUpper,
                       std::vector<double>& blockBuffer, std::vector<double>& line, const StopFlags& stop) {
  RefitResult result;
  for (const ScanSurvivor* s = begin; s != end; ++s) {
    RefitChoice fit;
    if (!FitSurvivor(context, range, block, *s, bestUpper, blockBuffer, line, stop, fit)) {
      result.stopped = true;
      return result;
    }
    ++result.fitted;
    if (fit.rms >= 0.0 && (!result.found || fit.rms < result.rms)) {
      result.found = true;
      result.rms = fit.rms;
      result.best = fit.candidate;
    }
  }
  return result;
}

void MergeRefit(RefitResult& into, const RefitResult& later) {
  into.fitted += later.fitted;
  into.stopped = into.stopped || later.stopped;
  if (later.found && (!into.found || later.rms < into.rms)) {
    into.found = true;
    into.rms = later.rms;
    into.best = later.best;
  }
}

RefitResult Refit(const ScanContext& context, const RangeNode& range, const RangeBlock& block,
                  std::vector<ScanSurvivor>& survivors, double bestUpper, std::vector<double>& blockBuffer,
                  std::vector<double>& line, const StopFlags& stop) {
  KeepHopefulInWalkOrder(survivors, bestUpper);
  return RefitSlice(context, range, block, survivors.data(), survivors.data() + survivors.size(), bestUpper,
                    blockBuffer, line, stop);
}

std::vector<RefitChoice> RefitKeeping(const ScanContext& context, const RangeNode& range, const RangeBlock& block,
                                      std::vector<ScanSurvivor>& survivors, double bestUpper, int32_t keep,
                                      std::vector<double>& blockBuffer, std::vector<double>& line,
                                      const StopFlags& stop, bool& stopped, int64_t& fitted) {
  std::vector<RefitChoice> kept;
  stopped = false;
  KeepHopefulInWalkOrder(survivors, bestUpper);
  keep = std::max(keep, 1);
  kept.reserve(static_cast<size_t>(keep) + 1);
  for (const ScanSurvivor& s : survivors) {
    RefitChoice best;
    if (!FitSurvivor(context, range, block, s, bestUpper, blockBuffer, line, stop, best)) {
      stopped = true;
      return kept;
    }
    ++fitted;
    if (best.rms < 0.0) continue;
    // Survivors come in walk order, so a tie stays behind the earlier one.
    auto at = std::upper_bound(kept.begin(), kept.end(), best.rms,
                               [](double rms, const RefitChoice& k) { return rms < k.rms; });
    if (static_cast<int32_t>(kept.size()) >= keep && at == kept.end()) continue;
    kept.insert(at, best);
    if (static_cast<int32_t>(kept.size()) > keep) kept.pop_back();
  }
  return kept;
}

}  // namespace vorlan::collage
