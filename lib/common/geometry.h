// Geometry records shared by the archive decoders and the placement engine.
// Plain values: nothing is normalised or validated.
#pragma once

namespace strewmill::common {

struct Vector3 {
  float x = 0, y = 0, z = 0;
  bool operator==(const Vector3&) const = default;
};

// w is the scalar part; it comes first on disk.
struct Quaternion {
  float w = 0, x = 0, y = 0, z = 0;
  bool operator==(const Quaternion&) const = default;
};

struct Plane {
  Vector3 normal;
  float d = 0;
  bool operator==(const Plane&) const = default;
};

struct Sphere {
  Vector3 center;
  float radius = 0;
  bool operator==(const Sphere&) const = default;
};

struct Frame {
  Vector3 origin;
  Quaternion orientation;
  bool operator==(const Frame&) const = default;
};

}  // namespace strewmill::common
