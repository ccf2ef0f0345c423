#include "transform/CoefficientRange.h"

namespace scarlex {

namespace {

// No C++ object with a destructor in here: the memory manager may
// long-jump out of access_virt_barray.

struct Geometry {
    JDIMENSION h, v;              // sampling factors as the scan sees them
    JDIMENSION width, height;     // blocks that hold picture data
};

JDIMENSION CeilDiv(JDIMENSION a, JDIMENSION b) { return (a + b - 1) / b; }

long Abs(long v) { return v < 0 ? -v : v; }

// Zig-zag position -> natural position, built once.
struct ZigZag {
    int natural[DCTSIZE2];
    ZigZag() {
        int i = 0;
        for (int s = 0; s < 2 * DCTSIZE - 1; ++s) {
            // Even diagonals run up and to the right, odd ones down and to the left.
            for (int t = 0; t <= s; ++t) {
                const int row = s % 2 == 0 ? s - t : t, col = s - row;
                if (row < DCTSIZE && col < DCTSIZE) natural[i++] = row * DCTSIZE + col;
            }
        }
    }
};
const ZigZag kZigZag;

struct Scan {
    int count;
    int comps[MAX_COMPS_IN_SCAN];
    int ss, se, ah, al;
    bool arithmetic;  // only DC differences are limited, and further
};

// Arithmetic shift as the coder applies it to a point-transformed value.
long Shift(long v, int al) { return v < 0 ? -((-v) >> al) : v >> al; }

bool CheckBlock(const JCOEF* block, long* pred, const Scan& scan, int ci, JDIMENSION bx, JDIMENSION by,
                UncodableCoefficient* out) {
    if (scan.ah != 0) return true;  // refinement bits: always one bit
    if (scan.ss == 0) {
        // The DC value is point-transformed by an arithmetic shift.
        const long dc = static_cast<long>(block[0]) >> scan.al;
        const long diff = dc - *pred;
        *pred = dc;
        if (Abs(diff) > (scan.arithmetic ? kMaxArithmeticDcDifference : kMaxDcDifference)) {
            *out = {true, ci, bx, by, 0, diff};
            return false;
        }
    }
    // Every 16-bit AC value has a magnitude category the arithmetic
    // decoder takes.
    if (scan.arithmetic) return true;
    if (scan.ss == 0 && scan.se == DCTSIZE2 - 1 && scan.al == 0) {
        // The usual sequential scan: one pass the compiler can vectorise,
        // and a second look only at a block that fails.
        unsigned bad = 0;
        for (int k = 1; k < DCTSIZE2; ++k)
            bad |= static_cast<unsigned>(static_cast<int>(block[k]) + kMaxAcValue) > 2 * kMaxAcValue;
        if (!bad) return true;
    }
    for (int z = scan.ss == 0 ? 1 : scan.ss; z <= scan.se; ++z) {
        const int k = kZigZag.natural[z];
        const long v = block[k];
        if (Abs(Shift(v, scan.al)) > kMaxAcValue) {
            *out = {true, ci, bx, by, k, v};
            return false;
        }
    }
    return true;
}

}  // namespace

UncodableCoefficient FindUncodableCoefficient(j_common_ptr owner, j_compress_ptr dst, jvirt_barray_ptr* arrays) {
    UncodableCoefficient out;
    const int n = dst->num_components;
    if (n <= 0 || n > MAX_COMPONENTS) return out;

    Geometry g[MAX_COMPONENTS];
    JDIMENSION maxH = 1, maxV = 1;
    for (int ci = 0; ci < n; ++ci) {
        const jpeg_component_info* c = &dst->comp_info[ci];
        g[ci].h = n == 1 ? 1 : static_cast<JDIMENSION>(c->h_samp_factor);
        g[ci].v = n == 1 ? 1 : static_cast<JDIMENSION>(c->v_samp_factor);
        if (g[ci].h > maxH) maxH = g[ci].h;
        if (g[ci].v > maxV) maxV = g[ci].v;
    }
    for (int ci = 0; ci < n; ++ci) {
        g[ci].width = CeilDiv(dst->image_width * g[ci].h, maxH * DCTSIZE);
        g[ci].height = CeilDiv(dst->image_height * g[ci].v, maxV * DCTSIZE);
    }

    const int scans = dst->scan_info && dst->num_scans > 0 ? dst->num_scans : 1;
    for (int si = 0; si < scans; ++si) {
        Scan scan{};
        scan.arithmetic = dst->arith_code != 0;
        if (dst->scan_info && dst->num_scans > 0) {
            const jpeg_scan_info& s = dst->scan_info[si];
            scan.count = s.comps_in_scan;
            for (int i = 0; i < s.comps_in_scan && i < MAX_COMPS_IN_SCAN; ++i) scan.comps[i] = s.component_index[i];
            scan.ss = s.Ss;
            scan.se = s.Se;
            scan.ah = s.Ah;
            scan.al = s.Al;
        } else {
            scan.count = n < MAX_COMPS_IN_SCAN ? n : MAX_COMPS_IN_SCAN;
            for (int i = 0; i < scan.count; ++i) scan.comps[i] = i;
            scan.ss = 0;
            scan.se = DCTSIZE2 - 1;
        }
        if (scan.count <= 0 || scan.ss < 0 || scan.se >= DCTSIZE2 || scan.ss > scan.se) continue;
        long pred[MAX_COMPS_IN_SCAN] = {0, 0, 0, 0};

        if (scan.count == 1) {
            // One component: its blocks in raster order, one block an MCU.
            const int ci = scan.comps[0];
            if (ci < 0 || ci >= n) continue;
            long restart = dst->restart_interval;
            if (restart == 0 && dst->restart_in_rows > 0) restart = long(dst->restart_in_rows) * g[ci].width;
            long mcu = 0;
            for (JDIMENSION by = 0; by < g[ci].height; ++by) {
                JBLOCKARRAY rows = (*owner->mem->access_virt_barray)(owner, arrays[ci], by, 1, FALSE);
                for (JDIMENSION bx = 0; bx < g[ci].width; ++bx, ++mcu) {
                    if (restart > 0 && mcu % restart == 0) pred[0] = 0;
                    if (!CheckBlock(rows[0][bx], &pred[0], scan, ci, bx, by, &out)) return out;
                }
            }
            continue;
        }

        // Interleaved: MCU by MCU, in each the components in scan order,
        // each with its h x v blocks row by row. Blocks past a component's
        // edge are the encoder's dummies (DC repeated, no AC) and code as 0.
        const JDIMENSION across = CeilDiv(dst->image_width, maxH * DCTSIZE);
        const JDIMENSION down = CeilDiv(dst->image_height, maxV * DCTSIZE);
        long restart = dst->restart_interval;
        if (restart == 0 && dst->restart_in_rows > 0) restart = long(dst->restart_in_rows) * long(across);
        long mcu = 0;
        for (JDIMENSION my = 0; my < down; ++my) {
            JBLOCKARRAY rows[MAX_COMPS_IN_SCAN];
            for (int i = 0; i < scan.count; ++i) {
                const int ci = scan.comps[i];
                rows[i] = (*owner->mem->access_virt_barray)(owner, arrays[ci], my * g[ci].v, g[ci].v, FALSE);
            }
            for (JDIMENSION mx = 0; mx < across; ++mx, ++mcu) {
                if (restart > 0 && mcu % restart == 0)
                    for (long& p : pred) p = 0;
                for (int i = 0; i < scan.count; ++i) {
                    const int ci = scan.comps[i];
                    for (JDIMENSION yi = 0; yi < g[ci].v; ++yi) {
                        const JDIMENSION by = my * g[ci].v + yi;
                        if (by >= g[ci].height) break;
                        for (JDIMENSION xi = 0; xi < g[ci].h; ++xi) {
                            const JDIMENSION bx = mx * g[ci].h + xi;
                            if (bx >= g[ci].width) break;
                            if (!CheckBlock(rows[i][yi][bx], &pred[i], scan, ci, bx, by, &out)) return out;
                        }
                    }
                }
            }
        }
    }
    return out;
}

}  // namespace scarlex
