#pragma once
// Bytes on the heap, for the save benchmark's memory figures. The
// benchmark's own malloc family (HeapMeter.cpp) counts every allocation of
// the process, libjpeg's included.

#include <cstddef>

namespace scarlex::bench {

// False when the counting allocator is not in (a sanitizer build).
bool HeapMeterActive();
// Bytes allocated now.
long long HeapInUse();
// Starts a new peak at the current level; HeapPeak() is the highest level
// since.
void ResetHeapPeak();
long long HeapPeak();

}  // namespace scarlex::bench
