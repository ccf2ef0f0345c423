#pragma once
// Damage a decode lived through, told in a photographer's words. The
// decoder goes on past a cut-off file or broken data (libjpeg warns and
// fills what it could not read with grey); these say what the user will
// see and what a save does with it.

#include <string>
#include <vector>

#include "codec/JpegError.h"

namespace scarlex {

// "the lower part of the picture (about the bottom 40 %) is missing and is
// shown grey; saving keeps it so", or "" when none of the warnings shows
// on the picture (extra bytes before the end marker, an unknown JFIF
// revision and the like).
std::string DescribeDecodeDamage(const std::vector<CodecWarning>& warnings);

}  // namespace scarlex
