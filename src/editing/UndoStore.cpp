#include "editing/UndoStore.h"

#include <algorithm>
#include <cstring>

namespace scarlex {

Rect ClipToBitmap(const Rect& rect, int width, int height) {
    Rect c{std::max(rect.left, 0), std::max(rect.top, 0), std::min(rect.right, width), std::min(rect.bottom, height)};
    if (c.right < c.left) c.right = c.left;
    if (c.bottom < c.top) c.bottom = c.top;
    return c;
}

bool DBUndoTable::Append(const Rect& rect, const Bitmap& before) {
    if (rect.right <= rect.left || rect.bottom <= rect.top) return false;
    UndoRow row;
    row.left = rect.left;
    row.right = rect.right;
    row.top = rect.top;
    row.bottom = rect.bottom;
    const Rect inside = ClipToBitmap(rect, before.Width(), before.Height());
    row.ImageLeft = inside.left;
    row.ImageTop = inside.top;
    if (inside.Width() == 0 || inside.Height() == 0) {
        rows_.push_back(std::move(row));  // wholly outside: nothing to keep
        return true;
    }
    row.Image.SetSize(inside.Width(), inside.Height());
    const std::size_t bytes = static_cast<std::size_t>(inside.Width()) * 3;
    for (int y = 0; y < inside.Height(); ++y)
        std::memcpy(row.Image.Row(y), before.Pixel(inside.left, inside.top + y), bytes);
    rows_.push_back(std::move(row));
    return true;
}

bool DBUndoTable::Append(const Rect& rect, Bitmap image, int width, int height) {
    if (rect.right <= rect.left || rect.bottom <= rect.top) return false;
    const Rect inside = ClipToBitmap(rect, width, height);
    const bool empty = inside.Width() == 0 || inside.Height() == 0;
    if (!empty && (image.Width() != inside.Width() || image.Height() != inside.Height())) return false;
    UndoRow row;
    row.left = rect.left;
    row.right = rect.right;
    row.top = rect.top;
    row.bottom = rect.bottom;
    row.ImageLeft = inside.left;
    row.ImageTop = inside.top;
    if (!empty) row.Image = std::move(image);
    rows_.push_back(std::move(row));
    return true;
}

namespace {

// The area of the row's image inside `work`. The photograph is the same
// size as when the row was cut, but clip again rather than trust that.
Rect ImageArea(const UndoRow& row, const Bitmap& work) {
    const Rect image{row.ImageLeft, row.ImageTop, row.ImageLeft + row.Image.Width(), row.ImageTop + row.Image.Height()};
    return ClipToBitmap(image, work.Width(), work.Height());
}

// Copies `from` (placed at left, top) onto `work` within `inside`.
void PutPixels(Bitmap& work, const Rect& inside, const Bitmap& from, int left, int top) {
    const std::size_t bytes = static_cast<std::size_t>(inside.Width()) * 3;
    for (int y = inside.top; bytes != 0 && y < inside.bottom; ++y)
        std::memcpy(work.Pixel(inside.left, y), from.Pixel(inside.left - left, y - top), bytes);
}

}  // namespace

bool DBUndoTable::Undo(Bitmap& work) {
    if (rows_.empty()) return false;
    const UndoRow& row = rows_.back();
    PutPixels(work, ImageArea(row, work), row.Image, row.ImageLeft, row.ImageTop);
    rows_.pop_back();
    return !rows_.empty();
}

bool DBUndoTable::UndoForRedo(Bitmap& work) {
    if (rows_.empty()) return false;
    RedoRow redo;
    const Rect inside = ImageArea(rows_.back(), work);
    if (inside.Width() > 0 && inside.Height() > 0) {
        // After covers the whole image area, as Image does, so that Redo
        // puts back exactly what Undo took.
        const UndoRow& row = rows_.back();
        redo.After.SetSize(row.Image.Width(), row.Image.Height());
        const std::size_t bytes = static_cast<std::size_t>(inside.Width()) * 3;
        for (int y = inside.top; y < inside.bottom; ++y)
            std::memcpy(redo.After.Pixel(inside.left - row.ImageLeft, y - row.ImageTop), work.Pixel(inside.left, y),
                        bytes);
    }
    redo.row = rows_.back();
    Undo(work);
    redo_.push_back(std::move(redo));
    return !rows_.empty();
}

bool DBUndoTable::Redo(Bitmap& work) {
    if (redo_.empty()) return false;
    RedoRow& redo = redo_.back();
    if (!redo.After.Empty()) PutPixels(work, ImageArea(redo.row, work), redo.After, redo.row.ImageLeft, redo.row.ImageTop);
    rows_.push_back(std::move(redo.row));
    redo_.pop_back();
    return true;
}

void DBUndoTable::RestoreOriginal(Bitmap& work) const {
    for (auto row = rows_.rbegin(); row != rows_.rend(); ++row)
        PutPixels(work, ImageArea(*row, work), row->Image, row->ImageLeft, row->ImageTop);
}

void DBUndoTable::Clear() {
    while (!rows_.empty()) rows_.pop_back();
    redo_.clear();
}

std::vector<Rect> DBUndoTable::Rectangles() const {
    std::vector<Rect> out;
    out.reserve(rows_.size());
    for (const UndoRow& row : rows_) out.push_back(row.Rectangle());
    return out;
}

}  // namespace scarlex
