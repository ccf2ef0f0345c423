#pragma once
#include <cstdint>

namespace scarlex {

// A change rectangle in working-bitmap pixels. Left and top are inclusive;
// right and bottom are exclusive once an edit has been recorded.
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

}  // namespace scarlex
