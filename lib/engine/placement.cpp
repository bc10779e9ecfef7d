#include "lib/engine/placement.h"

#include <math.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace strewmill::engine {

Box building_box(const std::vector<common::Vector3>& mesh, const common::Frame& frame) {
  const float theta = 2.0f * ::atan2f(frame.orientation.z, frame.orientation.w);
  float s = 0, c = 0;
  ::sincosf(theta, &s, &c);
  Box box;
  for (const common::Vector3& p : mesh) {
    const float rx = ((p.x * c) - (p.y * s)) + frame.origin.x;
    const float ry = ((p.x * s) + (p.y * c)) + frame.origin.y;
    box.extend(rx, ry);
  }
  return box;
}

namespace placement_steps {

Box object_box(const std::vector<common::Vector3>& mesh, float theta, float scale, float px, float py) {
  float s = 0, c = 0;
  ::sincosf(theta, &s, &c);
  Box box;
  std::size_t i = 0;
#if defined(__SSE2__)
  // Four points per step, lane by lane the same single-precision operations
  // as the scalar loop below. min_ps(w, lo) is (w < lo ? w : lo) and
  // max_ps(w, hi) is (w > hi ? w : hi), the strict comparisons of
  // Box::extend, so a NaN never gets in here either.
  static_assert(sizeof(common::Vector3) == 3 * sizeof(float));
  const std::size_t n4 = mesh.size() & ~std::size_t{3};
  if (n4 != 0) {
    const __m128 vs = _mm_set1_ps(s), vc = _mm_set1_ps(c), vscale = _mm_set1_ps(scale);
    const __m128 vpx = _mm_set1_ps(px), vpy = _mm_set1_ps(py);
    __m128 lo_x = _mm_set1_ps(box.min_x), lo_y = _mm_set1_ps(box.min_y);
    __m128 hi_x = _mm_set1_ps(box.max_x), hi_y = _mm_set1_ps(box.max_y);
    for (; i < n4; i += 4) {
        // Four whole points, twelve floats without padding.
      const float* raw = &mesh[i].x;
      const __m128 m0 = _mm_loadu_ps(raw);      // x0 y0 z0 x1
      const __m128 m1 = _mm_loadu_ps(raw + 4);  // y1 z1 x2 y2
      const __m128 m2 = _mm_loadu_ps(raw + 8);  // z2 x3 y3 z3
      const __m128 x23 = _mm_shuffle_ps(m1, m2, _MM_SHUFFLE(0, 1, 0, 2));  // x2 . x3 .
      const __m128 x = _mm_shuffle_ps(m0, x23, _MM_SHUFFLE(2, 0, 3, 0));  // x0 x1 x2 x3
      const __m128 y01 = _mm_shuffle_ps(m0, m1, _MM_SHUFFLE(0, 0, 0, 1));  // y0 . y1 .
      const __m128 y23 = _mm_shuffle_ps(m1, m2, _MM_SHUFFLE(0, 2, 0, 3));  // y2 . y3 .
      const __m128 y = _mm_shuffle_ps(y01, y23, _MM_SHUFFLE(2, 0, 2, 0));  // y0 y1 y2 y3
      const __m128 sx = _mm_mul_ps(x, vscale);
      const __m128 sy = _mm_mul_ps(y, vscale);
      const __m128 wx = _mm_add_ps(_mm_sub_ps(_mm_mul_ps(vc, sx), _mm_mul_ps(vs, sy)), vpx);
      const __m128 wy = _mm_add_ps(_mm_add_ps(_mm_mul_ps(vs, sx), _mm_mul_ps(vc, sy)), vpy);
      lo_x = _mm_min_ps(wx, lo_x);
      lo_y = _mm_min_ps(wy, lo_y);
      hi_x = _mm_max_ps(wx, hi_x);
      hi_y = _mm_max_ps(wy, hi_y);
    }
    float lx[4], ly[4], hx[4], hy[4];
    _mm_storeu_ps(lx, lo_x);
    _mm_storeu_ps(ly, lo_y);
    _mm_storeu_ps(hx, hi_x);
    _mm_storeu_ps(hy, hi_y);
    for (int k = 0; k < 4; ++k) {
      if (lx[k] < box.min_x) box.min_x = lx[k];
      if (ly[k] < box.min_y) box.min_y = ly[k];
      if (box.max_x < hx[k]) box.max_x = hx[k];
      if (box.max_y < hy[k]) box.max_y = hy[k];
    }
  }
#endif
  for (; i < mesh.size(); ++i) {
    const common::Vector3& p = mesh[i];
    const float sx = p.x * scale;
    const float sy = p.y * scale;
    const float wx = (c * sx - s * sy) + px;
    const float wy = (s * sx + c * sy) + py;
    box.extend(wx, wy);
  }
  return box;
}

bool AcceptedBoxes::overlaps_any(const Box& box) const {
  std::size_t i = 0;
#if defined(__SSE2__)
  // Four stored boxes per step. Lane k is apart when
  // min_x > box.max_x, box.min_x > max_x, min_y > box.max_y or
  // box.min_y > max_y, the tests of overlaps() with the same operands.
  const __m128 a_min_x = _mm_set1_ps(box.min_x), a_min_y = _mm_set1_ps(box.min_y);
  const __m128 a_max_x = _mm_set1_ps(box.max_x), a_max_y = _mm_set1_ps(box.max_y);
  for (; i + 4 <= count_; i += 4) {
    const Quad& q = quads_[i / 4];
    const __m128 apart = _mm_or_ps(
        _mm_or_ps(_mm_cmpgt_ps(_mm_loadu_ps(q.min_x), a_max_x), _mm_cmplt_ps(_mm_loadu_ps(q.max_x), a_min_x)),
        _mm_or_ps(_mm_cmpgt_ps(_mm_loadu_ps(q.min_y), a_max_y), _mm_cmplt_ps(_mm_loadu_ps(q.max_y), a_min_y)));
    if (_mm_movemask_ps(apart) != 0xF) return true;
  }
#endif
  for (; i < count_; ++i) {
    if (overlaps(box, (*this)[i])) return true;
  }
  return false;
}

}  // namespace placement_steps

}  // namespace strewmill::engine
