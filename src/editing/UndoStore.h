#pragma once
// DBUndoTable: the edits of the current photograph, in append order. Each
// row holds a change rectangle ("left", "right", "top", "bottom"; right and
// bottom exclusive) and "Image", the pixels that lay in it before the edit.
//
// A rectangle may reach outside the photograph (the Shift-click treatment
// does not clip); there are no pixels there, so Image holds only the part of
// the rectangle inside the photograph, placed at (ImageLeft, ImageTop).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/Bitmap.h"
#include "common/Rect.h"

namespace scarlex {

struct UndoRow {
    int32_t left = 0;
    int32_t right = 0;
    int32_t top = 0;
    int32_t bottom = 0;
    Bitmap Image;
    int32_t ImageLeft = 0;  // bitmap column of Image's first column
    int32_t ImageTop = 0;   // bitmap row of Image's first row

    Rect Rectangle() const { return {left, top, right, bottom}; }
};

// An undone row kept for Redo, with the pixels its edit had left in the
// same area (After is placed and sized like the row's Image).
struct RedoRow {
    UndoRow row;
    Bitmap After;
};

// The part of `rect` inside a width x height photograph (may be empty).
Rect ClipToBitmap(const Rect& rect, int width, int height);

class DBUndoTable {
public:
    // Appends a row for `rect` (bottom already exclusive, right > left),
    // cutting its image from `before`. Returns false and appends nothing for
    // a rectangle with right <= left or bottom <= top.
    bool Append(const Rect& rect, const Bitmap& before);
    // The same with the image already cut: `image` holds the pixels of
    // ClipToBitmap(rect, width, height) of a width x height photograph.
    bool Append(const Rect& rect, Bitmap image, int width, int height);

    // Undo1Click: copies the newest row's image back onto `work` (only the
    // part inside it), deletes the row and tells whether rows remain.
    // Does nothing and returns false on an empty store.
    bool Undo(Bitmap& work);

    // The same, keeping the row and the pixels it takes away for Redo.
    bool UndoForRedo(Bitmap& work);
    // Puts back the newest undone edit: the pixels it left and its row,
    // exactly as they were. False when there is nothing to redo.
    bool Redo(Bitmap& work);
    std::size_t RedoCount() const { return redo_.size(); }
    // A new edit makes the undone ones meaningless: they were cut from a
    // photograph that no longer is.
    void ClearRedo() { redo_.clear(); }
    // For an edit that is taken back at once because it changed nothing.
    std::vector<RedoRow> TakeRedo() { return std::move(redo_); }
    void PutRedo(std::vector<RedoRow> rows) { redo_ = std::move(rows); }

    // `work` as it was before every row: the rows' images put back, newest
    // first.
    void RestoreOriginal(Bitmap& work) const;

    // Deletes from the last row back, and what could be redone.
    void Clear();

    std::size_t Count() const { return rows_.size(); }
    bool Empty() const { return rows_.empty(); }

    // The walk the saver reads: oldest first.
    const UndoRow& Row(std::size_t index) const { return rows_[index]; }
    std::vector<UndoRow>::const_iterator begin() const { return rows_.begin(); }
    std::vector<UndoRow>::const_iterator end() const { return rows_.end(); }
    std::vector<Rect> Rectangles() const;

private:
    std::vector<UndoRow> rows_;
    std::vector<RedoRow> redo_;
};

}  // namespace scarlex
