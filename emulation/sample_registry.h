// A registry to try the tool on without a file of one's own: a few thousand
// keys under all four root keys, Quillorbex leftovers in several places and
// keys that must stay (one of them below an Uninstall key).
#pragma once

#include "emulation/emulated_registry.h"

namespace emulation {

void BuildSampleRegistry(EmulatedRegistry& registry);

}  // namespace emulation
