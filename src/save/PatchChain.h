#pragma once
// The chain of lossless steps that rebuilds a saved photograph from its
// original: for every edit, oldest first, the blocks around the edit are
// cropped out of the full re-encode and dropped into the current chain
// file. Every other block keeps the original's decoded values.

#include <string>
#include <vector>

#include "codec/JpegError.h"
#include "common/Rect.h"

namespace scarlex {

struct ChainReport {
    int steps = 0;              // crop-and-drop steps run
    long droppedImcus = 0;      // iMCUs replaced, summed over the steps
};

// One step's crop request and drop position, in pixels.
struct PatchRequest {
    bool skip = false;  // the edit lies wholly outside the picture
    int cropX = 0, cropY = 0, cropW = 0, cropH = 0;
};

// The crop around one edit: the rectangle enlarged to the right and down by
// 17 pixels, or by an iMCU and one pixel where iMCUs are wider or taller than
// 16, clipped to the picture so the request is always valid.
PatchRequest PatchRequestFor(const Rect& row, int pictureWidth, int pictureHeight, int imcuWidth = 16,
                             int imcuHeight = 16);

// Runs the chain. `chainSource` is the original; `reencode` holds the full
// re-encode of the edited picture; every temporary goes into `workDir`, a
// private folder of the caller's. On success `*result` names the last chain
// file (in workDir), or the chain source itself when there are no rows. The
// original and the re-encode are only read. Inside workDir, chain files are
// named after the chain source ("<name>_0.jpg", "<name>_1.jpg", ...) and each
// patch after the chain file it is dropped into ("<current>-cpd.jpg"); each
// is deleted as soon as the next step no longer needs it. A re-encode of
// another size or colour coding than the original is refused.
CodecResult BuildPatchedFile(const std::string& chainSource, const std::string& reencode,
                             const std::vector<Rect>& rows, const std::string& workDir, std::string* result,
                             ChainReport* report = nullptr);

}  // namespace scarlex
