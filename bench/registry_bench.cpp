// How close the tool comes to the cost of reading the registry at all.
//
// For each shape of registry (realistic, wide, deep), size (10^4, 10^5, 10^6
// keys) and with or without Quillorbex leftovers, it times a whole run of the
// tool against the floor: a walk that makes the same registry calls and
// nothing more (no matching, no output), on the emulated registry, in this
// process. Reported per visited entry in processor time: the best of several
// repetitions for each, and the median of the paired ratios (each repetition
// times both on the same registry), with the memory the emulated registry
// takes per key (measured in a process of its own).
//
// Last line, for machines: "ratio=<worst tool/floor> growth=<worst time per
// entry at 10^6 over 10^4> bytes_per_key=<largest>".
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "cleaner/search_key.h"
#include "emulation/emulated_registry.h"
#include "registry_walk/walk.h"
#include "tests/support/tool_run.h"

namespace {

using emulation::EmulatedRegistry;

std::string Numbered(const char* format, std::size_t number) {
  char text[64];
  std::snprintf(text, sizeof text, format, number);
  return text;
}

std::size_t KeyCount(const EmulatedRegistry& registry) {
  return registry.AllKeys().size();
}

// Many shallow vendor keys under all four roots, a few deep ones.
void BuildRealistic(EmulatedRegistry& registry, std::size_t keys, bool leftovers) {
  const char* const roots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                               "HKEY_LOCAL_MACHINE", "HKEY_USERS\\S-1-5-21-1000"};
  for (std::size_t vendor = 0; KeyCount(registry) < keys; ++vendor) {
    const std::string base =
        std::string(roots[vendor % 5]) + "\\Software" + Numbered("\\Vendor %05zu", vendor);
    for (std::size_t product = 0; product < 5; ++product) {
      const std::string path = base + Numbered("\\Product %02zu", product);
      registry.AddKey(path + "\\Settings\\Window");
      registry.AddKey(path + "\\Install");
    }
    if (vendor % 200 == 7) {
      std::string deep = base + "\\Deep";
      for (int level = 0; level < 40; ++level) deep += Numbered("\\Level %02zu", level);
      registry.AddKey(deep);
    }
    if (leftovers && vendor % 30 == 3) {
      registry.AddKey(base + "\\Quillorbex Files\\Cache\\Index");
      registry.AddKey(base + "\\Quillorbex Files\\Settings");
    }
    if (leftovers && vendor % 500 == 11) registry.AddKey(base + "\\Uninstall\\Quillorbex");
  }
}

// One key holding all the others.
void BuildWide(EmulatedRegistry& registry, std::size_t keys, bool leftovers) {
  for (std::size_t i = 0; KeyCount(registry) < keys; ++i) {
    const bool match = leftovers && i % 100 == 50;
    registry.AddKey(Numbered(
        match ? "HKEY_LOCAL_MACHINE\\Wide\\Quillorbex%07zu" : "HKEY_LOCAL_MACHINE\\Wide\\Key%07zu",
        i));
  }
}

// Chains 500 levels deep.
void BuildDeep(EmulatedRegistry& registry, std::size_t keys, bool leftovers) {
  for (std::size_t chain = 0; KeyCount(registry) < keys; ++chain) {
    std::string path = Numbered("HKEY_CURRENT_USER\\Chain%05zu", chain);
    for (int level = 0; level < 500 && KeyCount(registry) < keys; ++level) {
      path += Numbered("\\L%03zu", static_cast<std::size_t>(level));
      registry.AddKey(path);
      if (leftovers && level % 100 == 50) registry.AddKey(path + "\\Quillorbex\\A\\B\\C");
    }
  }
}

struct Shape {
  const char* name;
  void (*build)(EmulatedRegistry&, std::size_t, bool);
};

const Shape SHAPES[] = {{"realistic", BuildRealistic}, {"wide", BuildWide}, {"deep", BuildDeep}};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

long CurrentRssBytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// Bytes per key the emulated registry takes beyond the bytes of the names:
// the growth of the resident set while it is built, in a process of its own
// ("registry_bench memory SHAPE KEYS"), so that no earlier allocation is reused.
double MeasureMemoryHere(const Shape& shape, std::size_t keys) {
  const long before = CurrentRssBytes();
  EmulatedRegistry registry;
  shape.build(registry, keys, false);
  const long after = CurrentRssBytes();
  std::size_t nameBytes = 0;
  // Names are UTF-16: two bytes a unit.
  for (const emulation::Key& key : registry.AllKeys()) nameBytes += 2 * key.name.size();
  return double(after - before - long(nameBytes)) / double(KeyCount(registry));
}

double BytesPerKey(const Shape& shape, std::size_t keys) {
  const std::string command = "/proc/" + std::to_string(getpid()) + "/exe memory " + shape.name +
                              " " + std::to_string(keys);
  FILE* child = popen(command.c_str(), "r");
  double perKey = -1;
  if (child == nullptr || std::fscanf(child, "%lf", &perKey) != 1) perKey = -1;
  if (child != nullptr) pclose(child);
  return perKey;
}

double ThreadSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

struct Result {
  double toolNsPerEntry;   // best of the repetitions
  double floorNsPerEntry;  // best of the repetitions
  double ratio;            // tool time over floor time: median of the pairs
  long visited;
};

// Each repetition times the floor and the tool on the same fresh registry,
// in processor time of this thread, both with warm caches.
Result Measure(const Shape& shape, std::size_t keys, bool leftovers, int repetitions) {
  std::vector<double> tool, floor, ratios;
  long visited = 0;
  for (int rep = 0; rep < repetitions; ++rep) {
    EmulatedRegistry registry;
    shape.build(registry, keys, leftovers);
    registry.Compact();
    long perRoot[4];
    double floorNs = 0;
    double floorSeconds = 0;
    {
      emulation::ActiveRegistryScope active(registry);
      walk::WalkRoots(walk::Mode::Floor, perRoot);
      const double start = ThreadSeconds();
      const long floorVisited = walk::WalkRoots(walk::Mode::Floor, perRoot);
      floorSeconds = ThreadSeconds() - start;
      floorNs = floorSeconds * 1e9 / double(floorVisited);
      walk::WalkRoots(walk::Mode::Floor, perRoot);
    }
    const double start = ThreadSeconds();
    const testing_support::ToolRun run = testing_support::RunTool(registry);
    const double toolSeconds = ThreadSeconds() - start;
    const double toolNs = toolSeconds * 1e9 / double(visitedCount);
    if (run.exitStatus != 33) {
      std::fprintf(stderr, "run ended with %d\n", run.exitStatus);
      std::exit(1);
    }
    visited = visitedCount;
    tool.push_back(toolNs);
    floor.push_back(floorNs);
    // Both read the whole registry: the tool walks or removes every key the
    // floor walks, so their times compare directly.
    ratios.push_back(toolSeconds / floorSeconds);
  }
  return {*std::min_element(tool.begin(), tool.end()),
          *std::min_element(floor.begin(), floor.end()), Median(ratios), visited};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "memory") {
    for (const Shape& shape : SHAPES) {
      if (shape.name == std::string(argv[2])) {
        std::printf("%.1f\n", MeasureMemoryHere(shape, std::strtoul(argv[3], nullptr, 10)));
      }
    }
    return 0;
  }
  // One processor for the whole run: no migration between measurements.
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(0, &one);
  sched_setaffinity(0, sizeof one, &one);

  // "case SHAPE KEYS LEFTOVERS(0|1)": one measurement, e.g. under a profiler.
  if (argc == 5 && std::string(argv[1]) == "case") {
    for (const Shape& shape : SHAPES) {
      if (shape.name != std::string(argv[2])) continue;
      const Result result =
          Measure(shape, std::strtoul(argv[3], nullptr, 10), argv[4][0] == '1', 7);
      std::printf("%s: tool %.1f ns/entry, floor %.1f ns/entry, ratio %.3f\n", shape.name,
                  result.toolNsPerEntry, result.floorNsPerEntry, result.ratio);
    }
    return 0;
  }
  // "quick" measures only the two smaller sizes, for a fast look.
  const bool quick = argc > 1 && std::string(argv[1]) == "quick";
  std::vector<std::size_t> sizes = {10000, 100000};
  if (!quick) sizes.push_back(1000000);

  std::printf("%-10s %-9s %9s %9s %11s %11s %7s\n", "shape", "leftovers", "keys", "visited",
              "tool ns/e", "floor ns/e", "ratio");
  double worstRatio = 0;
  double worstGrowth = 0;
  double largestBytes = 0;
  for (const Shape& shape : SHAPES) {
    for (bool leftovers : {false, true}) {
      double first = 0;
      double last = 0;
      for (std::size_t keys : sizes) {
        const int repetitions = keys <= 10000 ? 41 : keys <= 100000 ? 11 : 5;
        const Result result = Measure(shape, keys, leftovers, repetitions);
        const double ratio = result.ratio;
        worstRatio = std::max(worstRatio, ratio);
        if (keys == sizes.front()) first = result.toolNsPerEntry;
        last = result.toolNsPerEntry;
        std::printf("%-10s %-9s %9zu %9ld %11.1f %11.1f %7.3f\n", shape.name,
                    leftovers ? "yes" : "no", keys, result.visited, result.toolNsPerEntry,
                    result.floorNsPerEntry, ratio);
        std::fflush(stdout);
      }
      const double growth = last / first;
      worstGrowth = std::max(worstGrowth, growth);
      std::printf("%-10s %-9s growth of time per entry, %zu to %zu keys: %.2f\n", shape.name,
                  leftovers ? "yes" : "no", sizes.front(), sizes.back(), growth);
    }
    const double bytes = BytesPerKey(shape, sizes.back());
    largestBytes = std::max(largestBytes, bytes);
    std::printf("%-10s emulated registry: %.0f bytes per key beyond its names (%zu keys)\n",
                shape.name, bytes, sizes.back());
  }
  std::printf("ratio=%.3f growth=%.2f bytes_per_key=%.0f\n", worstRatio, worstGrowth, largestBytes);
  return 0;
}
