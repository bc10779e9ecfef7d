#include "lib/dat/scene.h"

#include <new>

#include "lib/dat/geometry_read.h"

namespace strewmill::dat {

DecodeResult<ObjectDesc> ObjectDesc::unpack(Cursor& cur) {
  ObjectDesc d;
  TRY_ASSIGN(d.obj_id, cur.u32());
  TRY_ASSIGN(d.base_frame, read_frame(cur));
  for (float* f : {&d.frequency, &d.displace_x, &d.displace_y, &d.min_scale, &d.max_scale,
                   &d.max_rotation, &d.min_slope, &d.max_slope}) {
    TRY_ASSIGN(*f, cur.f32());
  }
  TRY_ASSIGN(d.scalar_1, cur.u32());
  TRY_ASSIGN(d.scalar_2, cur.u32());
  TRY_ASSIGN(d.exclude, cur.u32());
  return d;
}

DecodeResult<Scene> Scene::unpack(Cursor& cur) {
  Scene s;
  TRY_ASSIGN(s.id, cur.u32());
  TRY_ASSIGN(const std::uint32_t count, cur.u32());
  // A count the remaining bytes cannot hold is end of data, before any
  // memory is reserved for it.
  if (!cur.can_hold(count, ObjectDesc::kSize)) return common::fail(DecodeError::end_of_data());
  try {
    s.objects.reserve(count);
  } catch (const std::bad_alloc&) {
    return common::fail(DecodeError::custom("cannot reserve memory for objects", cur.position()));
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    TRY_ASSIGN(auto d, ObjectDesc::unpack(cur));
    s.objects.push_back(d);
  }
  return s;
}

}  // namespace strewmill::dat
