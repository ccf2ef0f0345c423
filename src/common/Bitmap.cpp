#include "common/Bitmap.h"

#include <cstring>

namespace scarlex {

void Bitmap::SetSize(int width, int height) {
    width_ = width > 0 ? width : 0;
    height_ = height > 0 ? height : 0;
    stride_ = (static_cast<std::size_t>(width_) * 3 + 3) & ~static_cast<std::size_t>(3);
    data_.assign(stride_ * static_cast<std::size_t>(height_), 0);
}

void Bitmap::SetSizeUncleared(int width, int height) {
    width_ = width > 0 ? width : 0;
    height_ = height > 0 ? height : 0;
    stride_ = (static_cast<std::size_t>(width_) * 3 + 3) & ~static_cast<std::size_t>(3);
    data_.clear();
    data_.resize(stride_ * static_cast<std::size_t>(height_));
    const std::size_t used = static_cast<std::size_t>(width_) * 3;
    if (used < stride_)
        for (int y = 0; y < height_; ++y) std::memset(Row(y) + used, 0, stride_ - used);
}

bool Bitmap::SamePixels(const Bitmap& other) const {
    if (width_ != other.width_ || height_ != other.height_) return false;
    for (int y = 0; y < height_; ++y)
        if (std::memcmp(Row(y), other.Row(y), static_cast<std::size_t>(width_) * 3) != 0) return false;
    return true;
}

}  // namespace scarlex
