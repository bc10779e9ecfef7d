// Field-by-field readers of the geometry records.
#pragma once

#include "lib/common/geometry.h"
#include "lib/dat/cursor.h"

namespace strewmill::dat {

DecodeResult<common::Vector3> read_vector3(Cursor& cur);
DecodeResult<common::Quaternion> read_quaternion(Cursor& cur);
DecodeResult<common::Plane> read_plane(Cursor& cur);
DecodeResult<common::Sphere> read_sphere(Cursor& cur);
DecodeResult<common::Frame> read_frame(Cursor& cur);

}  // namespace strewmill::dat
