#include "save/PatchEngine.h"

#include <jpeglib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "transform/CoefficientPatch.h"

namespace scarlex {

namespace {

// Holds no object that needs destroying: the error manager jumps back here.
int EncodeAreaCore(JpegErrorManager* err, const Bitmap* bitmap, const PatchArea* area, const AreaCoding* coding,
                   unsigned char** buffer, unsigned long* size) {
    jpeg_compress_struct cinfo;
    cinfo.err = InitErrorManager(err);
    if (setjmp(err->jump)) {
        jpeg_destroy_compress(&cinfo);
        return 1;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, buffer, size);
    cinfo.image_width = static_cast<JDIMENSION>(area->width);
    cinfo.image_height = static_cast<JDIMENSION>(area->height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    // Quality 75 and everything else as the full re-encode sets it.
    jpeg_set_defaults(&cinfo);
    if (coding->components == 1) {
        // Luma only, converted from the same blue-first rows as the
        // re-encode's colour: the same values.
        jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
    } else {
        if (coding->rgb) jpeg_set_colorspace(&cinfo, JCS_RGB);
        for (int c = 0; c < 3; ++c) {
            cinfo.comp_info[c].h_samp_factor = coding->h[c];
            cinfo.comp_info[c].v_samp_factor = coding->v[c];
        }
        int scans = 0;
        if (const jpeg_scan_info* separate = SeparateScansFor(3, coding->h, coding->v, &scans)) {
            cinfo.scan_info = separate;
            cinfo.num_scans = scans;
        }
    }
    if (coding->ownTables) {
        // One slot per component, so each is coded with exactly its table.
        for (int c = 0; c < cinfo.num_components; ++c) {
            if (!cinfo.quant_tbl_ptrs[c]) cinfo.quant_tbl_ptrs[c] = jpeg_alloc_quant_table(reinterpret_cast<j_common_ptr>(&cinfo));
            for (int k = 0; k < DCTSIZE2; ++k)
                cinfo.quant_tbl_ptrs[c]->quantval[k] = coding->tables[static_cast<std::size_t>(c)][static_cast<std::size_t>(k)];
            cinfo.quant_tbl_ptrs[c]->sent_table = FALSE;
            cinfo.comp_info[c].quant_tbl_no = c;
        }
    }
    jpeg_start_compress(&cinfo, TRUE);
    JSAMPROW rows[16];
    while (cinfo.next_scanline < cinfo.image_height) {
        const int first = static_cast<int>(cinfo.next_scanline);
        const int count = std::min(16, area->height - first);
        // The library only reads the rows it is given.
        for (int i = 0; i < count; ++i) rows[i] = const_cast<JSAMPROW>(bitmap->Pixel(area->x, area->y + first + i));
        jpeg_write_scanlines(&cinfo, rows, static_cast<JDIMENSION>(count));
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return 0;
}

long Ceil(long a, long b) { return (a + b - 1) / b; }

// Where the original comes from.
struct Original {
    std::span<const uint8_t> bytes;
    const std::string* path = nullptr;
};

CodecResult Run(const Original& original, const Bitmap& bitmap, const Sampling& sampling,
                const std::vector<Rect>& rows, PatchMode mode, std::vector<uint8_t>& out, PatchEngineReport* report) {
    PatchEngineReport local;
    if (!report) report = &local;
    *report = PatchEngineReport{};
    report->rows = static_cast<int>(rows.size());
    const std::string where = original.path ? *original.path + ": " : std::string();
    auto failure = [&](const std::string& text, CodecFailure kind = CodecFailure::Other) {
        return CodecResult::Failure(where + text, kind);
    };
    if (bitmap.Empty()) return CodecResult::Failure("there is no picture to write");

    CoefficientPatcher patcher(mode == PatchMode::Default ? TablePolicy::Harmonise : TablePolicy::KeepOriginal);
    CodecResult r = original.path ? patcher.OpenFile(*original.path) : patcher.Open(original.bytes);
    if (!r) return failure(r.error);
    const PatchSourceFacts& f = patcher.Facts();
    if (f.components != 1 && f.components != 3) return failure("unsupported number of colour components");
    if (f.components == 3 && f.colorSpace != JCS_YCbCr && f.colorSpace != JCS_RGB)
        return failure("the colour space of this photograph is not supported");
    if (bitmap.Width() != f.width || bitmap.Height() != f.height)
        return failure("the edited picture and the original differ in size");
    if (f.components == 3)
        for (int c = 0; c < 3; ++c)
            if (sampling.H(c) != f.h[c] || sampling.V(c) != f.v[c])
                return failure("the edited picture and the original differ in their sampling");

    report->grid = GridFor(f.imcuWidth, f.imcuHeight);
    const PatchGrid& grid = report->grid;
    for (const Rect& row : rows)
        if (std::optional<PatchArea> a = AreaForRow(row, f.width, f.height, grid)) report->areas.push_back(*a);

    std::vector<uint8_t> result;
    if (report->areas.empty()) {
        // Nothing to replace: the original stays as it is, byte for byte.
        report->unchanged = true;
        if (!original.path) {
            result.assign(original.bytes.begin(), original.bytes.end());
        } else {
            FILE* file = std::fopen(original.path->c_str(), "rb");
            if (!file) return failure("can't open");
            unsigned char chunk[65536];
            std::size_t n;
            while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) result.insert(result.end(), chunk, chunk + n);
            const bool bad = std::ferror(file) != 0;
            std::fclose(file);
            if (bad) return failure("read error");
        }
        out.swap(result);
        CodecResult ok;
        ok.ok = true;
        return ok;
    }

    CodecResult outcome = patcher.ReadCoefficients();
    if (!outcome) return failure(outcome.error);

    AreaCoding coding;
    coding.components = f.components;
    coding.rgb = f.colorSpace == JCS_RGB;
    for (int c = 0; c < 3; ++c) {
        coding.h[c] = f.h[c];
        coding.v[c] = f.v[c];
    }
    if (mode == PatchMode::KeepQuality) {
        coding.ownTables = true;
        for (int c = 0; c < f.components; ++c) {
            coding.tables[static_cast<std::size_t>(c)] = patcher.ComponentTable(c);
            // The encoder divides by every entry.
            for (uint16_t q : coding.tables[static_cast<std::size_t>(c)])
                if (q == 0) return failure("a quantisation table of this photograph has a zero entry: its quality cannot be kept");
        }
    }

    std::vector<uint8_t> patch;
    std::vector<uint64_t> replaced;
    for (const PatchArea& a : report->areas) {
        r = EncodeArea(bitmap, a, coding, patch);
        if (!r) return failure("an edited area: " + r.error);
        const int column = a.x / grid.imcuWidth, row = a.y / grid.imcuHeight;
        r = patcher.Paste(patch, column, row);
        if (!r) return failure(r.error, r.kind);
        const long columns = Ceil(a.width, grid.imcuWidth), imcuRows = Ceil(a.height, grid.imcuHeight);
        report->encodedImcus += columns * imcuRows;
        for (long j = 0; j < imcuRows; ++j)
            for (long i = 0; i < columns; ++i)
                replaced.push_back(static_cast<uint64_t>(row + j) << 32 | static_cast<uint64_t>(column + i));
        ++report->appliedRows;
    }
    std::sort(replaced.begin(), replaced.end());
    report->replacedImcus = static_cast<long>(std::unique(replaced.begin(), replaced.end()) - replaced.begin());

    PatchWriteReport written;
    r = patcher.Write(mode == PatchMode::Default ? OutputCoding::Plain : OutputCoding::LikeOriginal, result, &written);
    if (!r) return failure(r.error, r.kind);
    out.swap(result);
    report->tablesChanged = written.tablesChanged;
    report->progressive = written.progressive;
    report->arithmetic = written.arithmetic;
    report->restartInterval = written.restartInterval;
    report->optimisedHuffman = written.huffman == HuffmanChoice::Optimised;
    report->originalHuffman = written.huffman == HuffmanChoice::Original;
    return outcome;
}

}  // namespace

PatchGrid GridFor(int imcuWidth, int imcuHeight) {
    PatchGrid g;
    g.imcuWidth = imcuWidth;
    g.imcuHeight = imcuHeight;
    // 17, not 16: only whole iMCUs are replaced and the area starts up to
    // one iMCU less one pixel left of the rectangle, so the margin must
    // exceed the iMCU for the replaced blocks to reach past it.
    g.marginX = imcuWidth <= 16 ? 17 : imcuWidth + 1;
    g.marginY = imcuHeight <= 16 ? 17 : imcuHeight + 1;
    return g;
}

std::optional<PatchArea> AreaForRow(const Rect& row, int width, int height, const PatchGrid& grid) {
    const int left = std::max(row.left, 0), top = std::max(row.top, 0);
    const int right = std::min(row.right, width), bottom = std::min(row.bottom, height);
    if (right <= left || bottom <= top) return std::nullopt;
    auto axis = [](int start, int size, int extent, int unit, int margin, int* areaStart, int* areaSize) {
        const int wanted = std::min(size + margin, extent - start);
        *areaStart = start - start % unit;
        const int span = wanted + start % unit;
        // Reaching the far edge takes the partial iMCU there too.
        *areaSize = start + wanted == extent ? extent - *areaStart : span / unit * unit;
    };
    PatchArea a;
    axis(left, right - left, width, grid.imcuWidth, grid.marginX, &a.x, &a.width);
    axis(top, bottom - top, height, grid.imcuHeight, grid.marginY, &a.y, &a.height);
    return a;
}

CodecResult EncodeArea(const Bitmap& bitmap, const PatchArea& area, const AreaCoding& coding, std::vector<uint8_t>& jpeg) {
    if (area.width <= 0 || area.height <= 0 || area.x < 0 || area.y < 0 || area.x + area.width > bitmap.Width() ||
        area.y + area.height > bitmap.Height())
        return CodecResult::Failure("the area lies outside the picture");
    if (coding.components != 1 && coding.components != 3) return CodecResult::Failure("unsupported number of colour components");
    JpegErrorManager err;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const int rc = EncodeAreaCore(&err, &bitmap, &area, &coding, &buffer, &size);
    if (rc == 0) jpeg.assign(buffer, buffer + size);
    std::free(buffer);
    if (rc != 0) return CodecResult::Failure(err.message);
    CodecResult ok;
    ok.ok = true;
    return ok;
}

CodecResult BuildPatchedJpeg(std::span<const uint8_t> original, const Bitmap& bitmap, const Sampling& sampling,
                             const std::vector<Rect>& rows, PatchMode mode, std::vector<uint8_t>& out,
                             PatchEngineReport* report) {
    Original o;
    o.bytes = original;
    return Run(o, bitmap, sampling, rows, mode, out, report);
}

CodecResult BuildPatchedJpegFromFile(const std::string& original, const Bitmap& bitmap, const Sampling& sampling,
                                     const std::vector<Rect>& rows, PatchMode mode, std::vector<uint8_t>& out,
                                     PatchEngineReport* report) {
    Original o;
    o.path = &original;
    return Run(o, bitmap, sampling, rows, mode, out, report);
}

}  // namespace scarlex
