#include "transform/CoefficientPatch.h"

#include "transform/CoefficientRange.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include <jerror.h>
#include <jpeglib.h>

namespace scarlex {

namespace {

// The largest magnitudes the 8-bit entropy coders can represent: a DC
// difference of 11 bits, an AC value of 10 bits. A rescaled value beyond
// them cannot be written faithfully.
constexpr int kMaxDc = 2047;
constexpr int kMaxAc = 1023;

struct PastedArea {
    int column, row, columns, rows;  // iMCUs
};

struct LinkedError {
    JpegErrorManager mgr;  // must stay first: libjpeg sees only its first member
    CoefficientPatcher::State* state;
};

// Output through a small staging buffer into the caller's sink.
struct SinkDest {
    jpeg_destination_mgr pub;  // must stay first
    const ByteSink* sink;
    std::size_t emitted;  // bytes handed to the sink so far
    JOCTET stage[16384];
};

}  // namespace

// Everything libjpeg touches, reached across longjmp: the functions that
// call setjmp below keep no objects with destructors of their own.
struct CoefficientPatcher::State {
    jmp_buf jump;
    LinkedError* failed = nullptr;
    LinkedError srcErr{}, patchErr{}, dstErr{};
    jpeg_decompress_struct src{};
    jpeg_decompress_struct patch{};
    jpeg_compress_struct dst{};
    bool srcMade = false, patchMade = false, dstMade = false;
    bool broken = false;  // the source object failed and is gone
    bool read = false;
    jvirt_barray_ptr* arrays = nullptr;
    FILE* file = nullptr;
    SinkDest dest{};

    // Harmonised tables, by slot of the original.
    bool targetSet = false;
    // Whether every block went through RescaleBlocks with every value within
    // the AC limit (so that DC differences fit too): then the output needs
    // no range check of its own.
    bool allNarrow = true;
    bool rescaledAll = false;  // RescaleUntouched ran over the whole picture
    bool slotUsed[NUM_QUANT_TBLS] = {};
    UINT16 target[NUM_QUANT_TBLS][DCTSIZE2] = {};
    bool rescaled = false;

    std::vector<PastedArea> pasted;
    std::vector<uint8_t> pastedColumn;   // scratch: block columns of one row covered by pastes
    std::vector<jpeg_scan_info> script;  // the original's scans, when it has several
    const char* refusal = nullptr;       // our own reason, when libjpeg had none
    bool uncodable = false;              // the refusal: a value the entropy coder cannot carry
};

namespace {

using State = CoefficientPatcher::State;

void LinkedErrorExit(j_common_ptr cinfo) {
    auto* e = reinterpret_cast<LinkedError*>(cinfo->err);
    cinfo->err->format_message(cinfo, e->mgr.message);
    e->state->failed = e;
    std::longjmp(e->state->jump, 1);
}

jpeg_error_mgr* Link(LinkedError* e, State* s) {
    jpeg_error_mgr* p = InitErrorManager(&e->mgr);
    p->error_exit = LinkedErrorExit;
    e->state = s;
    return p;
}

j_common_ptr Common(j_decompress_ptr p) { return reinterpret_cast<j_common_ptr>(p); }
j_common_ptr Common(j_compress_ptr p) { return reinterpret_cast<j_common_ptr>(p); }

// The stage is handed on whenever it fills and once at the end; only
// whole pieces reach the sink, never untouched stage.
void DestInit(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<SinkDest*>(cinfo->dest);
    d->emitted = 0;
    d->pub.next_output_byte = d->stage;
    d->pub.free_in_buffer = sizeof d->stage;
}

void Flush(j_compress_ptr cinfo, std::size_t count) {
    auto* d = reinterpret_cast<SinkDest*>(cinfo->dest);
    if (count == 0) return;
    bool taken = false, outOfMemory = false;
    try {
        taken = (*d->sink)(std::span<const uint8_t>(d->stage, count));
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
    if (outOfMemory) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 11);
    if (!taken) {
        auto* e = reinterpret_cast<LinkedError*>(cinfo->err);
        e->state->refusal = "the output could not be written";
        ERREXIT(cinfo, JERR_FILE_WRITE);
    }
    d->emitted += count;
}

boolean DestEmpty(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<SinkDest*>(cinfo->dest);
    Flush(cinfo, sizeof d->stage);
    d->pub.next_output_byte = d->stage;
    d->pub.free_in_buffer = sizeof d->stage;
    return TRUE;
}

void DestTerm(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<SinkDest*>(cinfo->dest);
    Flush(cinfo, sizeof d->stage - d->pub.free_in_buffer);
}

const UINT16* TableOf(j_decompress_ptr cinfo, int ci) {
    const jpeg_component_info* comp = &cinfo->comp_info[ci];
    if (comp->quant_table) return comp->quant_table->quantval;
    // A component that never appeared in a scan: its slot stands in.
    const int slot = comp->quant_tbl_no;
    if (slot >= 0 && slot < NUM_QUANT_TBLS && cinfo->quant_tbl_ptrs[slot]) return cinfo->quant_tbl_ptrs[slot]->quantval;
    return nullptr;
}

unsigned Gcd(unsigned a, unsigned b) {
    while (b != 0) {
        const unsigned t = a % b;
        a = b;
        b = t;
    }
    return a;
}

// The whole factors from `from` to `to`, entry by entry (1 where they are
// equal). False when some entry of `to` does not divide its `from`.
struct Factors {
    bool any = false;
    int16_t factor[DCTSIZE2];
};
bool MakeFactors(const UINT16* from, const UINT16* to, Factors* f) {
    f->any = false;
    for (int k = 0; k < DCTSIZE2; ++k) {
        f->factor[k] = 1;
        if (from[k] == to[k]) continue;
        if (to[k] == 0 || from[k] % to[k] != 0 || from[k] / to[k] > 32767) return false;
        f->factor[k] = static_cast<int16_t>(from[k] / to[k]);
        f->any = true;
    }
    return true;
}

// Multiplies a run of blocks in place; false when a value leaves the
// codable range. Every entry of a block alike, with one range test per
// run, so that the compiler can use vector instructions: this runs over
// every block of the photograph.
bool RescaleBlocks(JBLOCKROW blocks, JDIMENSION count, const Factors& f, bool* allNarrow) {
    // A local copy: the blocks cannot alias it.
    int16_t factor[DCTSIZE2];
    std::memcpy(factor, f.factor, sizeof factor);
    int low = 0, high = 0;
    for (JDIMENSION b = 0; b < count; ++b) {
        JCOEF* coef = blocks[b];
        for (int k = 0; k < DCTSIZE2; ++k) {
            const int value = coef[k] * factor[k];
            coef[k] = static_cast<JCOEF>(value);
            low = value < low ? value : low;
            high = value > high ? value : high;
        }
    }
    if (low >= -kMaxAc && high <= kMaxAc) return true;
    *allNarrow = false;
    if (low < -32768 || high > 32767) return false;  // the values above wrapped
    // Only a DC value may go beyond the AC limit.
    for (JDIMENSION b = 0; b < count; ++b) {
        const JCOEF* coef = blocks[b];
        if (coef[0] < -kMaxDc || coef[0] > kMaxDc) return false;
        for (int k = 1; k < DCTSIZE2; ++k)
            if (coef[k] < -kMaxAc || coef[k] > kMaxAc) return false;
    }
    return true;
}

int ComponentH(j_decompress_ptr cinfo, int ci) { return cinfo->num_components > 1 ? cinfo->comp_info[ci].h_samp_factor : 1; }
int ComponentV(j_decompress_ptr cinfo, int ci) { return cinfo->num_components > 1 ? cinfo->comp_info[ci].v_samp_factor : 1; }

// --- The original's scan script -------------------------------------------

// Bytes of the original, from memory or from its file.
class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    explicit ByteReader(FILE* file) : file_(file) {}
    int Get() {
        if (file_) {
            if (pos_ == len_) {
                len_ = std::fread(buffer_, 1, sizeof buffer_, file_);
                pos_ = 0;
                if (len_ == 0) return -1;
            }
            return buffer_[pos_++];
        }
        return pos_ < bytes_.size() ? bytes_[pos_++] : -1;
    }

private:
    std::span<const uint8_t> bytes_;
    FILE* file_ = nullptr;
    uint8_t buffer_[65536];
    std::size_t pos_ = 0, len_ = 0;
};

// Collects the parameters of every SOS up to EOI. False on anything that
// does not fit the decoder's view of the file; the caller then falls back.
bool ReadScanScript(ByteReader& in, j_decompress_ptr cinfo, std::vector<jpeg_scan_info>& script) {
    script.clear();
    if (in.Get() != 0xFF || in.Get() != 0xD8) return false;
    bool inScan = false;
    while (true) {
        int c = in.Get();
        if (c < 0) return false;
        if (c != 0xFF) {
            if (!inScan) return false;
            continue;  // entropy-coded data
        }
        do c = in.Get();
        while (c == 0xFF);
        if (c < 0) return false;
        if (c == 0x00 || (c >= 0xD0 && c <= 0xD7)) {
            if (!inScan) return false;
            continue;  // stuffed byte or restart marker
        }
        inScan = false;
        if (c == 0xD9) break;  // EOI
        if (c == 0x01) continue;
        const int hi = in.Get(), lo = in.Get();
        if (hi < 0 || lo < 0) return false;
        const int length = hi << 8 | lo;
        if (length < 2) return false;
        if (c != 0xDA) {
            for (int i = 0; i < length - 2; ++i)
                if (in.Get() < 0) return false;
            continue;
        }
        uint8_t body[2 + 2 * MAX_COMPS_IN_SCAN + 3];
        if (length - 2 > static_cast<int>(sizeof body) || length - 2 < 6) return false;
        for (int i = 0; i < length - 2; ++i) {
            const int b = in.Get();
            if (b < 0) return false;
            body[i] = static_cast<uint8_t>(b);
        }
        const int ns = body[0];
        if (ns < 1 || ns > MAX_COMPS_IN_SCAN || length - 2 != 1 + 2 * ns + 3) return false;
        jpeg_scan_info scan{};
        scan.comps_in_scan = ns;
        for (int i = 0; i < ns; ++i) {
            int index = -1;
            for (int ci = 0; ci < cinfo->num_components; ++ci)
                if (cinfo->comp_info[ci].component_id == body[1 + 2 * i]) index = ci;
            if (index < 0) return false;
            for (int j = 0; j < i; ++j)
                if (scan.component_index[j] == index) return false;
            scan.component_index[i] = index;
        }
        scan.Ss = body[1 + 2 * ns];
        scan.Se = body[2 + 2 * ns];
        scan.Ah = body[3 + 2 * ns] >> 4;
        scan.Al = body[3 + 2 * ns] & 15;
        if (scan.Ss > 63 || scan.Se > 63 || scan.Ss > scan.Se) return false;
        script.push_back(scan);
        inScan = true;
    }
    return static_cast<int>(script.size()) == cinfo->input_scan_number;
}

// --- Huffman tables -------------------------------------------------------

// True when the table has a code for every symbol 8-bit data can need.
bool CodesEverything(const JHUFF_TBL* table, bool dc) {
    if (!table) return false;
    bool have[256] = {};
    int count = 0;
    for (int len = 1; len <= 16; ++len) count += table->bits[len];
    if (count > 256) return false;
    for (int i = 0; i < count; ++i) have[table->huffval[i]] = true;
    if (dc) {
        for (int s = 0; s <= 11; ++s)
            if (!have[s]) return false;
        return true;
    }
    if (!have[0x00] || !have[0xF0]) return false;
    for (int run = 0; run < 16; ++run)
        for (int size = 1; size <= 10; ++size)
            if (!have[run << 4 | size]) return false;
    return true;
}

void CopyHuffTable(j_compress_ptr dst, JHUFF_TBL** slot, const JHUFF_TBL* from) {
    if (!*slot) *slot = jpeg_alloc_huff_table(Common(dst));
    std::memcpy((*slot)->bits, from->bits, sizeof from->bits);
    std::memcpy((*slot)->huffval, from->huffval, sizeof from->huffval);
    (*slot)->sent_table = FALSE;
}

// --- The libjpeg sequences ------------------------------------------------
// Each returns 0 on success, 1 on a library error (s->failed names the
// object), 2 on a refusal of ours (s->refusal).

void DestroyPatch(State* s) {
    if (s->patchMade) jpeg_destroy_decompress(&s->patch);
    s->patchMade = false;
}

void DestroyDst(State* s) {
    if (s->dstMade) jpeg_destroy_compress(&s->dst);
    s->dstMade = false;
}

void DestroySrc(State* s) {
    if (s->srcMade) jpeg_destroy_decompress(&s->src);
    s->srcMade = false;
    s->arrays = nullptr;
}

int OpenCore(State* s, std::span<const uint8_t>* bytes, FILE* file) {
    s->failed = nullptr;
    if (setjmp(s->jump)) {
        DestroySrc(s);
        s->broken = true;
        return 1;
    }
    s->src.err = Link(&s->srcErr, s);
    jpeg_create_decompress(&s->src);
    s->srcMade = true;
    if (file)
        jpeg_stdio_src(&s->src, file);
    else
        jpeg_mem_src(&s->src, bytes->data(), static_cast<unsigned long>(bytes->size()));
    jpeg_save_markers(&s->src, JPEG_COM, 0xFFFF);
    jpeg_read_header(&s->src, TRUE);
    return 0;
}

int ReadCore(State* s) {
    s->failed = nullptr;
    if (setjmp(s->jump)) {
        DestroySrc(s);
        s->broken = true;
        return 1;
    }
    s->arrays = jpeg_read_coefficients(&s->src);
    s->read = true;
    return 0;
}

int PasteCore(State* s, TablePolicy policy, const uint8_t* data, std::size_t size, int column, int row) {
    j_decompress_ptr src = &s->src;
    j_decompress_ptr p = &s->patch;
    s->failed = nullptr;
    if (setjmp(s->jump)) {
        DestroyPatch(s);
        if (s->failed == &s->srcErr) {
            DestroySrc(s);
            s->broken = true;
        }
        return 1;
    }
    p->err = Link(&s->patchErr, s);
    jpeg_create_decompress(p);
    s->patchMade = true;
    jpeg_mem_src(p, data, static_cast<unsigned long>(size));
    jpeg_read_header(p, TRUE);

    const int nc = src->num_components;
    if (p->num_components != nc) {
        s->refusal = "the patch does not have the photograph's colour components";
        DestroyPatch(s);
        return 2;
    }
    if (nc > 1)
        for (int ci = 0; ci < nc; ++ci)
            if (p->comp_info[ci].h_samp_factor != src->comp_info[ci].h_samp_factor ||
                p->comp_info[ci].v_samp_factor != src->comp_info[ci].v_samp_factor) {
                s->refusal = "the patch does not have the photograph's sampling";
                DestroyPatch(s);
                return 2;
            }
    jvirt_barray_ptr* patchArrays = jpeg_read_coefficients(p);

    const UINT16* patchTables[MAX_COMPONENTS] = {};
    for (int ci = 0; ci < nc; ++ci) {
        patchTables[ci] = TableOf(p, ci);
        const UINT16* own = TableOf(src, ci);
        if (!patchTables[ci] || !own) {
            s->refusal = "a component has no quantisation table";
            DestroyPatch(s);
            return 2;
        }
        if (policy == TablePolicy::KeepOriginal && std::memcmp(patchTables[ci], own, sizeof(UINT16) * DCTSIZE2) != 0) {
            s->refusal = "the patch is not coded with the photograph's own tables";
            DestroyPatch(s);
            return 2;
        }
    }
    if (policy == TablePolicy::Harmonise && !s->targetSet) {
        // Once, at the first patch: every slot the original's components
        // use becomes the greatest common divisor, entry by entry, of its
        // table and the tables the patch uses for those components.
        for (int ci = 0; ci < nc; ++ci) {
            const int slot = src->comp_info[ci].quant_tbl_no;
            if (slot < 0 || slot >= NUM_QUANT_TBLS) continue;
            if (!s->slotUsed[slot]) {
                const UINT16* start =
                    src->quant_tbl_ptrs[slot] ? src->quant_tbl_ptrs[slot]->quantval : TableOf(src, ci);
                std::memcpy(s->target[slot], start, sizeof(UINT16) * DCTSIZE2);
                s->slotUsed[slot] = true;
            }
            for (int k = 0; k < DCTSIZE2; ++k)
                s->target[slot][k] = static_cast<UINT16>(Gcd(s->target[slot][k], patchTables[ci][k]));
        }
        s->targetSet = true;
    }

    for (int ci = 0; ci < nc; ++ci) {
        Factors f;
        f.any = false;
        if (policy == TablePolicy::Harmonise) {
            const int slot = src->comp_info[ci].quant_tbl_no;
            if (!MakeFactors(patchTables[ci], s->target[slot], &f)) {
                s->refusal = "the patches are coded with differing tables";
                DestroyPatch(s);
                return 2;
            }
        }
        const jpeg_component_info* pc = &p->comp_info[ci];
        const jpeg_component_info* oc = &src->comp_info[ci];
        const JDIMENSION bx = static_cast<JDIMENSION>(column * ComponentH(src, ci));
        const JDIMENSION by = static_cast<JDIMENSION>(row * ComponentV(src, ci));
        if (bx + pc->width_in_blocks > oc->width_in_blocks || by + pc->height_in_blocks > oc->height_in_blocks) {
            s->refusal = "the patch reaches past the photograph's edge";
            DestroyPatch(s);
            return 2;
        }
        for (JDIMENSION r = 0; r < pc->height_in_blocks; ++r) {
            JBLOCKARRAY from = (*p->mem->access_virt_barray)(Common(p), patchArrays[ci], r, 1, FALSE);
            JBLOCKARRAY to = (*src->mem->access_virt_barray)(Common(src), s->arrays[ci], by + r, 1, TRUE);
            std::memcpy(to[0] + bx, from[0], sizeof(JBLOCK) * pc->width_in_blocks);
            if (!f.any) continue;
            if (!RescaleBlocks(to[0] + bx, pc->width_in_blocks, f, &s->allNarrow)) {
                s->refusal = "an edited block cannot be brought to common tables: a coefficient leaves the codable range";
                s->uncodable = true;
                DestroyPatch(s);
                return 2;
            }
        }
    }
    PastedArea area;
    area.column = column;
    area.row = row;
    const int dh = src->num_components > 1 ? 8 * src->max_h_samp_factor : 8;
    const int dv = src->num_components > 1 ? 8 * src->max_v_samp_factor : 8;
    area.columns = static_cast<int>((p->image_width + dh - 1) / dh);
    area.rows = static_cast<int>((p->image_height + dv - 1) / dv);
    s->pasted.push_back(area);
    jpeg_destroy_decompress(p);
    s->patchMade = false;
    return 0;
}

void SeparateScansIfNeeded(j_compress_ptr d) {
    int h[MAX_COMPONENTS], v[MAX_COMPONENTS], count = 0;
    for (int ci = 0; ci < d->num_components && ci < MAX_COMPONENTS; ++ci) {
        h[ci] = d->comp_info[ci].h_samp_factor;
        v[ci] = d->comp_info[ci].v_samp_factor;
    }
    if (const jpeg_scan_info* scans = SeparateScansFor(d->num_components, h, v, &count)) {
        d->scan_info = scans;
        d->num_scans = count;
    }
}

// Whether the original's progressive script can carry every value its
// coefficient arrays hold: each value needs a scan whose band holds its
// position, and no bits below the lowest point transform coding it. A
// damaged scan can leave values the script never coded (a run past the
// band's end writes beyond it); written with that script they would be
// lost, so such a file gets a complete script instead. No C++ object with a
// destructor here: access_virt_barray may long-jump.
// Zig-zag position -> natural (row-major) position.
constexpr int kNaturalOrder[DCTSIZE2] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

bool ScriptCarriesEveryValue(State* s) {
    j_decompress_ptr src = &s->src;
    const int n = src->num_components;
    if (n <= 0 || n > MAX_COMPONENTS) return false;
    int lowest[MAX_COMPONENTS][DCTSIZE2];  // lowest Al coding (c, k), or -1: never coded
    for (int c = 0; c < n; ++c)
        for (int k = 0; k < DCTSIZE2; ++k) lowest[c][k] = -1;
    for (const jpeg_scan_info& scan : s->script) {
        if (scan.Ss < 0 || scan.Se >= DCTSIZE2 || scan.Ss > scan.Se) return false;
        for (int i = 0; i < scan.comps_in_scan && i < MAX_COMPS_IN_SCAN; ++i) {
            const int c = scan.component_index[i];
            if (c < 0 || c >= n) return false;
            for (int z = scan.Ss; z <= scan.Se; ++z) {
                int& l = lowest[c][kNaturalOrder[z]];
                if (l < 0 || scan.Al < l) l = scan.Al;
            }
        }
    }
    for (int c = 0; c < n; ++c) {
        const jpeg_component_info* comp = &src->comp_info[c];
        for (JDIMENSION by = 0; by < comp->height_in_blocks; ++by) {
            JBLOCKARRAY row =
                (*src->mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(src), s->arrays[c], by, 1, FALSE);
            for (JDIMENSION bx = 0; bx < comp->width_in_blocks; ++bx) {
                const JCOEF* block = row[0][bx];
                for (int k = 0; k < DCTSIZE2; ++k) {
                    const int v = block[k];
                    if (v == 0) continue;
                    const int al = lowest[c][k];
                    if (al < 0) return false;
                    // DC is shifted arithmetically, AC by magnitude.
                    const int bits = k == 0 ? v : (v < 0 ? -v : v);
                    if (al > 0 && (bits & ((1 << al) - 1)) != 0) return false;
                }
            }
        }
    }
    return true;
}

void ConfigureLikeOriginal(State* s, bool useScript, PatchWriteReport* rep) {
    j_decompress_ptr src = &s->src;
    j_compress_ptr d = &s->dst;
    d->restart_interval = src->restart_interval;
    rep->restartInterval = src->restart_interval;
    const bool multiScan = src->input_scan_number > 1;
    if (src->arith_code) {
        d->arith_code = TRUE;
        std::memcpy(d->arith_dc_L, src->arith_dc_L, sizeof d->arith_dc_L);
        std::memcpy(d->arith_dc_U, src->arith_dc_U, sizeof d->arith_dc_U);
        std::memcpy(d->arith_ac_K, src->arith_ac_K, sizeof d->arith_ac_K);
        rep->arithmetic = true;
        rep->huffman = HuffmanChoice::None;
    }
    if (multiScan) {
        if (useScript && !s->script.empty() && (!src->progressive_mode || ScriptCarriesEveryValue(s))) {
            d->scan_info = s->script.data();
            d->num_scans = static_cast<int>(s->script.size());
            rep->scans = d->num_scans;
        } else if (src->progressive_mode) {
            jpeg_simple_progression(d);
            rep->scans = d->num_scans;
            rep->scriptFallback = true;
        } else {
            rep->scriptFallback = true;
            SeparateScansIfNeeded(d);  // else one interleaved scan
        }
    }
    rep->progressive = src->progressive_mode != 0;
    if (src->arith_code) return;
    // Progressive scans always get tables made for them; so does anything
    // with several scans, whose tables may have changed between them.
    bool reuse = !src->progressive_mode && !multiScan;
    for (int ci = 0; reuse && ci < src->num_components; ++ci) {
        const jpeg_component_info* c = &src->comp_info[ci];
        if (c->dc_tbl_no < 0 || c->dc_tbl_no >= NUM_HUFF_TBLS || c->ac_tbl_no < 0 || c->ac_tbl_no >= NUM_HUFF_TBLS) {
            reuse = false;
            break;
        }
        reuse = CodesEverything(src->dc_huff_tbl_ptrs[c->dc_tbl_no], true) &&
                CodesEverything(src->ac_huff_tbl_ptrs[c->ac_tbl_no], false);
    }
    if (!reuse) {
        d->optimize_coding = TRUE;
        rep->huffman = HuffmanChoice::Optimised;
        return;
    }
    for (int ci = 0; ci < src->num_components; ++ci) {
        const jpeg_component_info* c = &src->comp_info[ci];
        CopyHuffTable(d, &d->dc_huff_tbl_ptrs[c->dc_tbl_no], src->dc_huff_tbl_ptrs[c->dc_tbl_no]);
        CopyHuffTable(d, &d->ac_huff_tbl_ptrs[c->ac_tbl_no], src->ac_huff_tbl_ptrs[c->ac_tbl_no]);
        d->comp_info[ci].dc_tbl_no = c->dc_tbl_no;
        d->comp_info[ci].ac_tbl_no = c->ac_tbl_no;
    }
    rep->huffman = HuffmanChoice::Original;
}

int WriteCore(State* s, OutputCoding coding, bool useScript, PatchWriteReport* rep) {
    j_compress_ptr d = &s->dst;
    s->failed = nullptr;
    if (setjmp(s->jump)) {
        DestroyDst(s);
        if (s->failed == &s->srcErr) {
            DestroySrc(s);
            s->broken = true;
        }
        return 1;
    }
    d->err = Link(&s->dstErr, s);
    jpeg_create_compress(d);
    s->dstMade = true;
    s->dest.pub.init_destination = DestInit;
    s->dest.pub.empty_output_buffer = DestEmpty;
    s->dest.pub.term_destination = DestTerm;
    d->dest = &s->dest.pub;

    jpeg_copy_critical_parameters(&s->src, d);
    // One component: its blocks are the grid, whatever its factors said.
    if (s->src.num_components == 1) d->comp_info[0].h_samp_factor = d->comp_info[0].v_samp_factor = 1;
    if (s->targetSet)
        for (int slot = 0; slot < NUM_QUANT_TBLS; ++slot)
            if (s->slotUsed[slot] && d->quant_tbl_ptrs[slot]) {
                if (std::memcmp(d->quant_tbl_ptrs[slot]->quantval, s->target[slot], sizeof s->target[slot]) != 0)
                    rep->tablesChanged = true;
                std::memcpy(d->quant_tbl_ptrs[slot]->quantval, s->target[slot], sizeof s->target[slot]);
            }
    if (coding == OutputCoding::LikeOriginal)
        ConfigureLikeOriginal(s, useScript, rep);
    else
        SeparateScansIfNeeded(d);

    jpeg_write_coefficients(d, s->arrays);
    for (jpeg_saved_marker_ptr m = s->src.marker_list; m; m = m->next)
        if (m->marker == JPEG_COM) jpeg_write_marker(d, m->marker, m->data, m->data_length);
    // Nothing the Huffman coder cannot carry may go out: the library would
    // write it as a stream no decoder reads. An arithmetic-coded original
    // may hold such values where no edit touched it.
    // Where every block was rescaled within the AC limit (the usual default
    // save) that is known already.
    const bool known = s->targetSet && s->rescaledAll && s->allNarrow;
    if (!known && FindUncodableCoefficient(Common(&s->src), d, s->arrays).found) {
        s->refusal = "a coefficient of this photograph is beyond what its coding can carry";
        s->uncodable = true;
        DestroyDst(s);
        return 2;
    }
    jpeg_finish_compress(d);
    jpeg_destroy_compress(d);
    s->dstMade = false;
    return 0;
}

// Brings every block outside the pasted areas to the harmonised tables.
bool RescaleUntouched(State* s) {
    j_decompress_ptr src = &s->src;
    for (int ci = 0; ci < src->num_components; ++ci) {
        const jpeg_component_info* comp = &src->comp_info[ci];
        const int slot = comp->quant_tbl_no;
        if (slot < 0 || slot >= NUM_QUANT_TBLS || !s->slotUsed[slot]) {
            s->allNarrow = false;  // left as read, unchecked
            continue;
        }
        const UINT16* own = TableOf(src, ci);
        Factors f;
        if (!own || !MakeFactors(own, s->target[slot], &f)) {
            s->refusal = "the photograph's tables cannot be brought together with the edited blocks' tables";
            return false;
        }
        if (!f.any) {
            s->allNarrow = false;
            continue;
        }
        const int h = ComponentH(src, ci), v = ComponentV(src, ci);
        uint8_t* pasted = s->pastedColumn.data();
        for (JDIMENSION r = 0; r < comp->height_in_blocks; ++r) {
            std::memset(pasted, 0, comp->width_in_blocks);
            bool any = false;
            for (const PastedArea& a : s->pasted) {
                const JDIMENSION r0 = static_cast<JDIMENSION>(a.row * v);
                const JDIMENSION r1 = static_cast<JDIMENSION>((a.row + a.rows) * v);
                if (r < r0 || r >= r1) continue;
                const JDIMENSION c0 = static_cast<JDIMENSION>(a.column * h);
                JDIMENSION c1 = static_cast<JDIMENSION>((a.column + a.columns) * h);
                if (c1 > comp->width_in_blocks) c1 = comp->width_in_blocks;
                if (c0 < c1) std::memset(pasted + c0, 1, c1 - c0);
                any = true;
            }
            JBLOCKARRAY row = (*src->mem->access_virt_barray)(Common(src), s->arrays[ci], r, 1, TRUE);
            bool ok = true;
            // Runs of blocks outside the pasted areas.
            for (JDIMENSION b = 0; b < comp->width_in_blocks;) {
                JDIMENSION e = b;
                if (any && pasted[b]) {
                    while (e < comp->width_in_blocks && pasted[e]) ++e;
                } else {
                    while (e < comp->width_in_blocks && !(any && pasted[e])) ++e;
                    ok = RescaleBlocks(row[0] + b, e - b, f, &s->allNarrow) && ok;
                }
                b = e;
            }
            if (!ok) {
                s->refusal =
                    "this photograph's blocks cannot be brought to common tables: a coefficient leaves the codable range";
                s->uncodable = true;
                return false;
            }
        }
    }
    return true;
}

int RescaleCore(State* s) {
    s->failed = nullptr;
    if (setjmp(s->jump)) {
        DestroySrc(s);
        s->broken = true;
        return 1;
    }
    if (!RescaleUntouched(s)) return 2;
    return 0;
}

void FillFacts(const jpeg_decompress_struct& c, PatchSourceFacts* facts) {
    facts->width = static_cast<int>(c.image_width);
    facts->height = static_cast<int>(c.image_height);
    facts->components = c.num_components;
    for (int ci = 0; ci < c.num_components && ci < 4; ++ci) {
        facts->h[ci] = c.comp_info[ci].h_samp_factor;
        facts->v[ci] = c.comp_info[ci].v_samp_factor;
    }
    facts->imcuWidth = c.num_components > 1 ? 8 * c.max_h_samp_factor : 8;
    facts->imcuHeight = c.num_components > 1 ? 8 * c.max_v_samp_factor : 8;
    facts->colorSpace = c.jpeg_color_space;
    facts->progressive = c.progressive_mode != 0;
    facts->arithmetic = c.arith_code != 0;
}

}  // namespace

const jpeg_scan_info* SeparateScansFor(int components, const int h[], const int v[], int* count) {
    static const jpeg_scan_info kSeparate[MAX_COMPS_IN_SCAN] = {
        {1, {0, 0, 0, 0}, 0, 63, 0, 0},
        {1, {1, 0, 0, 0}, 0, 63, 0, 0},
        {1, {2, 0, 0, 0}, 0, 63, 0, 0},
        {1, {3, 0, 0, 0}, 0, 63, 0, 0},
    };
    if (components < 2 || components > MAX_COMPS_IN_SCAN) return nullptr;
    int blocks = 0;
    for (int ci = 0; ci < components; ++ci) blocks += h[ci] * v[ci];
    if (blocks <= C_MAX_BLOCKS_IN_MCU) return nullptr;
    *count = components;
    return kSeparate;
}

CoefficientPatcher::CoefficientPatcher(TablePolicy policy) : policy_(policy), s_(std::make_unique<State>()) {}

CoefficientPatcher::~CoefficientPatcher() {
    DestroyPatch(s_.get());
    DestroyDst(s_.get());
    DestroySrc(s_.get());
    if (s_->file) std::fclose(s_->file);
}

CodecResult CoefficientPatcher::Finish(bool ok) {
    if (ok) {
        CodecResult r;
        r.ok = true;
        return r;
    }
    if (s_->refusal) {
        const char* why = s_->refusal;
        const bool uncodable = s_->uncodable;
        s_->refusal = nullptr;
        s_->uncodable = false;
        return CodecResult::Failure(why, uncodable ? CodecFailure::Uncodable : CodecFailure::Other);
    }
    const LinkedError* e = s_->failed ? s_->failed : &s_->srcErr;
    std::string text = e->mgr.message;
    if (e == &s_->patchErr) text = "an edited area: " + text;
    return CodecResult::Failure(text);
}

CodecResult CoefficientPatcher::Open(std::span<const uint8_t> original) {
    if (s_->srcMade || s_->broken) return CodecResult::Failure("the photograph is already open");
    bytes_ = original;
    reserve_ = original.size();
    if (OpenCore(s_.get(), &bytes_, nullptr) != 0) return Finish(false);
    FillFacts(s_->src, &facts_);
    return Finish(true);
}

CodecResult CoefficientPatcher::OpenFile(const std::string& path) {
    if (s_->srcMade || s_->broken) return CodecResult::Failure("the photograph is already open");
    s_->file = std::fopen(path.c_str(), "rb");
    if (!s_->file) return CodecResult::Failure(std::string("can't open: ") + std::strerror(errno));
    path_ = path;
    struct stat st;
    if (::fstat(::fileno(s_->file), &st) == 0 && st.st_size > 0)
        reserve_ = static_cast<std::size_t>(st.st_size);
    if (OpenCore(s_.get(), nullptr, s_->file) != 0) return Finish(false);
    FillFacts(s_->src, &facts_);
    return Finish(true);
}

CodecResult CoefficientPatcher::ReadCoefficients() {
    if (!s_->srcMade || s_->read) return CodecResult::Failure("the photograph is not open for reading");
    if (ReadCore(s_.get()) != 0) return Finish(false);
    CodecResult r = Finish(true);
    r.TakeWarnings(s_->srcErr.mgr);
    if (s_->src.input_scan_number > 1) {
        // Several scans: keep their order and parameters for a faithful
        // rewrite. A script that cannot be read is simply not used.
        bool ok = false;
        if (s_->file) {
            FILE* again = std::fopen(path_.c_str(), "rb");
            if (again) {
                auto reader = std::make_unique<ByteReader>(again);
                ok = ReadScanScript(*reader, &s_->src, s_->script);
                std::fclose(again);
            }
        } else {
            auto reader = std::make_unique<ByteReader>(bytes_);
            ok = ReadScanScript(*reader, &s_->src, s_->script);
        }
        if (!ok) s_->script.clear();
    }
    return r;
}

std::array<uint16_t, 64> CoefficientPatcher::ComponentTable(int ci) const {
    std::array<uint16_t, 64> t{};
    if (!s_->srcMade || ci < 0 || ci >= s_->src.num_components) return t;
    const UINT16* q = TableOf(&s_->src, ci);
    if (q)
        for (int k = 0; k < 64; ++k) t[static_cast<std::size_t>(k)] = q[k];
    return t;
}

CodecResult CoefficientPatcher::Paste(std::span<const uint8_t> patch, int column, int row) {
    if (!s_->read || s_->broken) return CodecResult::Failure("the photograph's blocks have not been read");
    if (column < 0 || row < 0) return CodecResult::Failure("the patch lies outside the photograph");
    if (s_->rescaled) return CodecResult::Failure("the photograph has already been written");
    const int rc = PasteCore(s_.get(), policy_, patch.data(), patch.size(), column, row);
    return Finish(rc == 0);
}

CodecResult CoefficientPatcher::Write(OutputCoding coding, std::vector<uint8_t>& out, PatchWriteReport* report) {
    out.clear();
    try {
        // Common tables make the coefficients larger and the file with them.
        out.reserve(policy_ == TablePolicy::Harmonise && s_->targetSet ? reserve_ * 7 / 4 + 65536 : reserve_ + 65536);
    } catch (const std::bad_alloc&) {
        return CodecResult::Failure("not enough memory for the output");
    }
    const ByteSink sink = [&out](std::span<const uint8_t> piece) {
        out.insert(out.end(), piece.begin(), piece.end());
        return true;
    };
    CodecResult r = Write(coding, sink, report);
    if (!r) out.clear();
    return r;
}

CodecResult CoefficientPatcher::Write(OutputCoding coding, const ByteSink& sink, PatchWriteReport* report) {
    PatchWriteReport local;
    if (!report) report = &local;
    *report = PatchWriteReport{};
    if (!s_->read || s_->broken) return CodecResult::Failure("the photograph's blocks have not been read");
    if (policy_ == TablePolicy::Harmonise && s_->targetSet && !s_->rescaled) {
        JDIMENSION widest = 0;
        for (int ci = 0; ci < s_->src.num_components; ++ci)
            widest = std::max(widest, s_->src.comp_info[ci].width_in_blocks);
        s_->pastedColumn.assign(widest, 0);
        const int rc = RescaleCore(s_.get());
        s_->rescaled = true;
        s_->rescaledAll = rc == 0;
        if (rc != 0) {
            s_->broken = true;
            return Finish(false);
        }
    }
    s_->rescaled = true;
    s_->dest.sink = &sink;
    int rc = WriteCore(s_.get(), coding, true, report);
    // The encoder may be stricter about a scan script than the decoder was:
    // write with a standard one instead. It says so before the first byte
    // goes out; once the sink has taken bytes nothing can be taken back.
    if (rc == 1 && coding == OutputCoding::LikeOriginal && !s_->broken && s_->failed == &s_->dstErr &&
        !s_->refusal && s_->dest.emitted == 0 && !s_->script.empty()) {
        *report = PatchWriteReport{};
        s_->failed = nullptr;
        rc = WriteCore(s_.get(), coding, false, report);
        report->scriptFallback = true;
    }
    s_->dest.sink = nullptr;
    if (rc != 0) return Finish(false);
    if (!report->progressive && !report->arithmetic && coding == OutputCoding::Plain) report->huffman = HuffmanChoice::Standard;
    return Finish(true);
}

}  // namespace scarlex
