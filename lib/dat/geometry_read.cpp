#include "lib/dat/geometry_read.h"

namespace strewmill::dat {

using common::Frame;
using common::Plane;
using common::Quaternion;
using common::Sphere;
using common::Vector3;

DecodeResult<Vector3> read_vector3(Cursor& cur) {
  const auto start = cur.position();
  DAT_FIELD(float x, cur, start, cur.f32(), "x", "Vector3");
  DAT_FIELD(float y, cur, start, cur.f32(), "y", "Vector3");
  DAT_FIELD(float z, cur, start, cur.f32(), "z", "Vector3");
  return Vector3{x, y, z};
}

DecodeResult<Quaternion> read_quaternion(Cursor& cur) {
  const auto start = cur.position();
  DAT_FIELD(float w, cur, start, cur.f32(), "w", "Quaternion");
  DAT_FIELD(float x, cur, start, cur.f32(), "x", "Quaternion");
  DAT_FIELD(float y, cur, start, cur.f32(), "y", "Quaternion");
  DAT_FIELD(float z, cur, start, cur.f32(), "z", "Quaternion");
  return Quaternion{w, x, y, z};
}

DecodeResult<Plane> read_plane(Cursor& cur) {
  const auto start = cur.position();
  DAT_FIELD(Vector3 normal, cur, start, read_vector3(cur), "normal", "Plane");
  DAT_FIELD(float d, cur, start, cur.f32(), "d", "Plane");
  return Plane{normal, d};
}

DecodeResult<Sphere> read_sphere(Cursor& cur) {
  const auto start = cur.position();
  DAT_FIELD(Vector3 center, cur, start, read_vector3(cur), "center", "Sphere");
  DAT_FIELD(float radius, cur, start, cur.f32(), "radius", "Sphere");
  return Sphere{center, radius};
}

DecodeResult<Frame> read_frame(Cursor& cur) {
  const auto start = cur.position();
  DAT_FIELD(Vector3 origin, cur, start, read_vector3(cur), "origin", "Frame");
  DAT_FIELD(Quaternion orientation, cur, start, read_quaternion(cur), "orientation", "Frame");
  return Frame{origin, orientation};
}

}  // namespace strewmill::dat
