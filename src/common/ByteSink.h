#pragma once
// Where a writer's bytes go, piece by piece and in order: a file, a hash,
// a vector, or another writer in front of them.

#include <cstdint>
#include <functional>
#include <span>

namespace scarlex {

// Takes the next piece; false stops the writer (the receiver could not
// take it).
using ByteSink = std::function<bool(std::span<const uint8_t>)>;

}  // namespace scarlex
