// open_archive: how long opening one archive takes (header and the whole
// directory), warm page cache.
//
//   open_archive <archive> [repetitions]
//
// Opens the archive once to warm the cache, then `repetitions` times (5 by
// default) and prints `key=value` lines: the entry count and the fastest
// and median open in milliseconds, wall and process CPU.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "lib/dat/dat_database.h"

namespace {

double now(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: open_archive <archive> [repetitions]\n");
    return 2;
  }
  const int reps = argc == 3 ? std::max(1, std::atoi(argv[2])) : 5;
  std::size_t entries = 0;
  std::vector<double> wall, cpu;
  for (int i = 0; i <= reps; ++i) {
    const double w0 = now(CLOCK_MONOTONIC);
    const double c0 = now(CLOCK_PROCESS_CPUTIME_ID);
    auto db = strewmill::dat::DatDatabase::open(argv[1]);
    const double w1 = now(CLOCK_MONOTONIC);
    const double c1 = now(CLOCK_PROCESS_CPUTIME_ID);
    if (!db) {
      std::fprintf(stderr, "open_archive: %s\n", db.error().message().c_str());
      return 1;
    }
    entries = db->size();
    if (i == 0) continue;  // warm-up
    wall.push_back((w1 - w0) * 1e3);
    cpu.push_back((c1 - c0) * 1e3);
  }
  std::printf("entries=%zu\nwall_ms_min=%.1f\nwall_ms_median=%.1f\ncpu_ms_min=%.1f\ncpu_ms_median=%.1f\n",
              entries, *std::min_element(wall.begin(), wall.end()), median(wall),
              *std::min_element(cpu.begin(), cpu.end()), median(cpu));
  return 0;
}
