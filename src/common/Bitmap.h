#pragma once
// The working bitmap: 24 bits per pixel, three bytes per pixel in the order
// blue, green, red; row 0 is the top row; each row padded to 4 bytes.
// Only the first Width()*3 bytes of a row belong to the picture.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace scarlex {

// Leaves bytes a vector grows by uninitialised (resize), so that a picture
// about to be written in full is not cleared first; assign and copies set
// every byte as usual.
template <class T>
struct UnclearedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UnclearedAllocator<U>;
    };
    UnclearedAllocator() = default;
    template <class U>
    UnclearedAllocator(const UnclearedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

class Bitmap {
public:
    Bitmap() = default;
    Bitmap(int width, int height) { SetSize(width, height); }

    // Resizes and clears to black. Negative sizes are treated as 0.
    void SetSize(int width, int height);
    // Resizes for a writer that fills every pixel (a decoder): the rows'
    // padding is cleared, the pixels are left as they come.
    void SetSizeUncleared(int width, int height);

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }
    std::size_t Stride() const { return stride_; }

    uint8_t* Row(int y) { return data_.data() + static_cast<std::size_t>(y) * stride_; }
    const uint8_t* Row(int y) const { return data_.data() + static_cast<std::size_t>(y) * stride_; }
    uint8_t* Pixel(int x, int y) { return Row(y) + 3 * static_cast<std::size_t>(x); }
    const uint8_t* Pixel(int x, int y) const { return Row(y) + 3 * static_cast<std::size_t>(x); }

    bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }

    // Raw storage including row padding; for fast whole-picture copies.
    uint8_t* Data() { return data_.data(); }
    const uint8_t* Data() const { return data_.data(); }
    std::size_t ByteSize() const { return data_.size(); }

    // Picture bytes equal (padding ignored).
    bool SamePixels(const Bitmap& other) const;

private:
    int width_ = 0;
    int height_ = 0;
    std::size_t stride_ = 0;
    std::vector<uint8_t, UnclearedAllocator<uint8_t>> data_;
};

}  // namespace scarlex
