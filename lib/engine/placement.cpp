#include "lib/engine/placement.h"

#include <math.h>

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

}  // namespace strewmill::engine
