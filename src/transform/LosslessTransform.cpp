#include "transform/LosslessTransform.h"

#include <cstdlib>
#include <cstring>

#include <jerror.h>
#include <jpegint.h>

namespace scarlex {

namespace {

const char* const kMessages[] = {
    "Invalid crop request",
    "Component index %d: mismatching sampling ratio %d:%d, %d:%d, %c",
    nullptr,
};

[[noreturn]] void Fail(j_decompress_ptr srcinfo, int code) {
    srcinfo->err->msg_code = code;
    (*srcinfo->err->error_exit)(reinterpret_cast<j_common_ptr>(srcinfo));
    // error_exit must not return; make sure nothing after us runs if it does.
    std::abort();
}

j_common_ptr Common(j_decompress_ptr p) { return reinterpret_cast<j_common_ptr>(p); }

JDIMENSION CeilDiv(JDIMENSION a, JDIMENSION b) { return (a + b - 1) / b; }

// Resolves one axis of the region: size S and offset P of an extent O.
// Returns false when the region is not acceptable.
bool ResolveAxis(const jpeg_transform_info* info, JDIMENSION extent, JDIMENSION* size, JCROP_CODE sizeSet,
                 JDIMENSION* offset, JCROP_CODE offsetSet) {
    if (!info->crop || offsetSet == JCROP_UNSET) *offset = 0;
    if (!info->crop || sizeSet == JCROP_UNSET) {
        if (*offset >= extent) return false;
        *size = extent - *offset;
    }
    if (info->crop && offsetSet == JCROP_NEG) {
        if (*size > extent || extent - *size < *offset) return false;
        *offset = extent - *size - *offset;
    }
    const JDIMENSION w = *size, x = *offset;
    if (w <= extent) return !(x >= extent || w == 0 || extent - w < x);
    return info->transform == JXFORM_NONE && !(x >= w || w - extent < x);
}

// --- Routing the patch's arrays into the source's memory manager ---------
//
// The patch decompressor is put into its coefficient-reading state without
// consuming any data, while every whole-image array it asks for comes from
// the source's memory manager. The source's own read then makes those
// arrays real together with its own, and they outlive the patch object.

jvirt_barray_ptr ForwardRequest(j_common_ptr cinfo, int pool_id, boolean pre_zero, JDIMENSION blocksperrow,
                                JDIMENSION numrows, JDIMENSION maxaccess) {
    auto* owner = static_cast<j_common_ptr>(cinfo->client_data);
    return (*owner->mem->request_virt_barray)(owner, pool_id, pre_zero, blocksperrow, numrows, maxaccess);
}

int AlwaysSuspend(j_decompress_ptr) { return JPEG_SUSPENDED; }

void StartNoInput(j_decompress_ptr cinfo) { cinfo->inputctl->consume_input = AlwaysSuspend; }

void RoutePatchArrays(j_decompress_ptr srcinfo, j_decompress_ptr patch) {
    void* savedClient = patch->client_data;
    auto savedRequest = patch->mem->request_virt_barray;
    auto savedStart = patch->inputctl->start_input_pass;

    patch->client_data = srcinfo;
    patch->mem->request_virt_barray = ForwardRequest;
    patch->inputctl->start_input_pass = StartNoInput;
    (void)jpeg_read_coefficients(patch);  // suspends at once: nothing is read

    patch->client_data = savedClient;
    patch->mem->request_virt_barray = savedRequest;
    patch->inputctl->start_input_pass = savedStart;
    (*savedStart)(patch);  // prepares the first scan and the real consume_input
}

// --- Quantisation harmonisation -------------------------------------------

unsigned Gcd(unsigned a, unsigned b) {
    while (b != 0) {
        const unsigned t = a % b;
        a = b;
        b = t;
    }
    return a;
}

// Multiplies coefficient k of every block of the component by from[k] /
// to[k] wherever the two differ, so coefficient x quantiser is unchanged.
// Returns false when a product does not fit a coefficient (it is then held
// at the nearest end instead of wrapping round).
bool Rescale(j_decompress_ptr owner, jvirt_barray_ptr array, const jpeg_component_info* comp, const UINT16* from,
             const UINT16* to) {
    int positions[DCTSIZE2];
    int factors[DCTSIZE2];
    int n = 0;
    for (int k = 0; k < DCTSIZE2; ++k) {
        if (from[k] != to[k] && to[k] != 0) {
            positions[n] = k;
            factors[n] = from[k] / to[k];
            ++n;
        }
    }
    if (n == 0) return true;
    bool fits = true;
    const JDIMENSION step = static_cast<JDIMENSION>(comp->v_samp_factor);
    for (JDIMENSION row = 0; row < comp->height_in_blocks; row += step) {
        JBLOCKARRAY rows = (*owner->mem->access_virt_barray)(Common(owner), array, row, step, TRUE);
        for (JDIMENSION i = 0; i < step && row + i < comp->height_in_blocks; ++i) {
            JBLOCKROW blocks = rows[i];
            for (JDIMENSION b = 0; b < comp->width_in_blocks; ++b) {
                JCOEF* coef = blocks[b];
                for (int j = 0; j < n; ++j) {
                    const long v = static_cast<long>(coef[positions[j]]) * factors[j];
                    if (v > 32767 || v < -32768) fits = false;
                    coef[positions[j]] = static_cast<JCOEF>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
                }
            }
        }
    }
    return fits;
}

const UINT16* TableOf(j_decompress_ptr cinfo, const jpeg_component_info* comp) {
    if (comp->quant_table) return comp->quant_table->quantval;
    // A component that never appeared in a scan has only zero blocks; its
    // table slot stands in.
    const int slot = comp->quant_tbl_no;
    if (slot >= 0 && slot < NUM_QUANT_TBLS && cinfo->quant_tbl_ptrs[slot]) return cinfo->quant_tbl_ptrs[slot]->quantval;
    return nullptr;
}

// Makes source and patch share one table per destination slot, the
// element-wise greatest common divisor, and rescales both sides' blocks.
// Components that share a slot all count towards it, so that every block
// written under a table was rescaled to that very table.
void HarmoniseTables(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, jvirt_barray_ptr* src_coef_arrays,
                     jpeg_transform_info* info) {
    j_decompress_ptr patch = info->drop_ptr;
    const int shared = dstinfo->num_components < patch->num_components ? dstinfo->num_components : patch->num_components;
    bool any = false;
    for (int ci = 0; ci < shared; ++ci) {
        const UINT16* s = TableOf(srcinfo, &srcinfo->comp_info[ci]);
        const UINT16* p = TableOf(patch, &patch->comp_info[ci]);
        if (!s || !p || std::memcmp(s, p, sizeof(UINT16) * DCTSIZE2) == 0) continue;
        const int slot = srcinfo->comp_info[ci].quant_tbl_no;
        JQUANT_TBL* t = dstinfo->quant_tbl_ptrs[slot];
        if (!t) continue;
        for (int k = 0; k < DCTSIZE2; ++k)
            if (s[k] != p[k]) t->quantval[k] = static_cast<UINT16>(Gcd(t->quantval[k], p[k]));
        any = true;
    }
    if (!any) return;
    for (int ci = 0; ci < dstinfo->num_components; ++ci) {
        const jpeg_component_info* comp = &srcinfo->comp_info[ci];
        const JQUANT_TBL* t = dstinfo->quant_tbl_ptrs[comp->quant_tbl_no];
        const UINT16* s = TableOf(srcinfo, comp);
        if (t && s && !Rescale(srcinfo, src_coef_arrays[ci], comp, s, t->quantval)) info->coefficient_overflow = true;
        if (ci < shared && t) {
            const UINT16* p = TableOf(patch, &patch->comp_info[ci]);
            // The patch's arrays belong to the source's memory manager.
            if (p && !Rescale(srcinfo, info->drop_coef_arrays[ci], &patch->comp_info[ci], p, t->quantval))
                info->coefficient_overflow = true;
        }
    }
}

// --- Execute helpers ----------------------------------------------------------

void ZeroBlocks(JBLOCKROW row, JDIMENSION count) {
    if (count > 0) std::memset(row, 0, sizeof(JBLOCK) * count);
}

void CopyBlocks(JBLOCKROW from, JBLOCKROW to, JDIMENSION count) {
    if (count > 0) std::memcpy(to, from, sizeof(JBLOCK) * count);
}

// Blocks a source component's array holds per row (its width, padded to
// the component's horizontal factor, as the decompressor requests it).
JDIMENSION ArrayBlocksPerRow(const jpeg_component_info* comp) {
    const JDIMENSION h = static_cast<JDIMENSION>(comp->h_samp_factor);
    return CeilDiv(comp->width_in_blocks, h) * h;
}

void CropCopy(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, jvirt_barray_ptr* src_coef_arrays,
              const jpeg_transform_info* info) {
    const JDIMENSION dh = static_cast<JDIMENSION>(dstinfo->max_h_samp_factor * DCTSIZE);
    const JDIMENSION dv = static_cast<JDIMENSION>(dstinfo->max_v_samp_factor * DCTSIZE);
    const bool wider = info->output_width > srcinfo->image_width;
    const bool taller = info->output_height > srcinfo->image_height;
    for (int ci = 0; ci < dstinfo->num_components; ++ci) {
        const jpeg_component_info* comp = &dstinfo->comp_info[ci];
        const JDIMENSION h = static_cast<JDIMENSION>(comp->h_samp_factor);
        const JDIMENSION v = static_cast<JDIMENSION>(comp->v_samp_factor);
        const JDIMENSION xBlocks = info->x_crop_offset * h;
        const JDIMENSION yBlocks = info->y_crop_offset * v;
        const JDIMENSION compWidth = srcinfo->image_width / dh * h;
        const JDIMENSION compHeight = srcinfo->image_height / dv * v;
        const JDIMENSION width = comp->width_in_blocks;
        const JDIMENSION srcRowBlocks = ArrayBlocksPerRow(&srcinfo->comp_info[ci]);
        for (JDIMENSION r = 0; r < comp->height_in_blocks; r += v) {
            JBLOCKARRAY dst =
                (*srcinfo->mem->access_virt_barray)(Common(srcinfo), info->workspace_coef_arrays[ci], r, v, TRUE);
            JDIMENSION srcRow;
            if (taller) {
                if (r < yBlocks || r >= yBlocks + compHeight) {
                    for (JDIMENSION i = 0; i < v; ++i) ZeroBlocks(dst[i], width);
                    continue;
                }
                srcRow = r - yBlocks;
            } else {
                srcRow = r + yBlocks;
            }
            JBLOCKARRAY src = (*srcinfo->mem->access_virt_barray)(Common(srcinfo), src_coef_arrays[ci], srcRow, v, FALSE);
            for (JDIMENSION i = 0; i < v; ++i) {
                if (wider) {
                    const JDIMENSION count = compWidth < srcRowBlocks ? compWidth : srcRowBlocks;
                    const JDIMENSION lead = xBlocks < width ? xBlocks : width;
                    const JDIMENSION copied = count < width - lead ? count : width - lead;
                    ZeroBlocks(dst[i], lead);
                    CopyBlocks(src[i], dst[i] + lead, copied);
                    ZeroBlocks(dst[i] + lead + copied, width - lead - copied);
                } else {
                    // Never read past the source row, whatever the request.
                    const JDIMENSION avail = xBlocks < srcRowBlocks ? srcRowBlocks - xBlocks : 0;
                    const JDIMENSION copied = width < avail ? width : avail;
                    CopyBlocks(src[i] + xBlocks, dst[i], copied);
                    ZeroBlocks(dst[i] + copied, width - copied);
                }
            }
        }
    }
}

void DropCopy(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, jvirt_barray_ptr* src_coef_arrays,
              const jpeg_transform_info* info) {
    j_decompress_ptr patch = info->drop_ptr;
    for (int ci = 0; ci < dstinfo->num_components; ++ci) {
        const jpeg_component_info* comp = &dstinfo->comp_info[ci];
        const JDIMENSION h = static_cast<JDIMENSION>(comp->h_samp_factor);
        const JDIMENSION v = static_cast<JDIMENSION>(comp->v_samp_factor);
        const JDIMENSION compWidth = info->drop_width * h;
        const JDIMENSION compHeight = info->drop_height * v;
        const JDIMENSION xBlocks = info->x_crop_offset * h;
        const JDIMENSION yBlocks = info->y_crop_offset * v;
        const bool fromPatch = ci < patch->num_components;
        // Defensive limits; a validated request never reaches them.
        const JDIMENSION srcRowBlocks = ArrayBlocksPerRow(&srcinfo->comp_info[ci]);
        JDIMENSION count = xBlocks < srcRowBlocks ? srcRowBlocks - xBlocks : 0;
        if (compWidth < count) count = compWidth;
        JDIMENSION patchRows = 0;
        if (fromPatch) {
            const jpeg_component_info* pc = &patch->comp_info[ci];
            const JDIMENSION patchRowBlocks = ArrayBlocksPerRow(pc);
            if (patchRowBlocks < count) count = patchRowBlocks;
            const JDIMENSION pv = static_cast<JDIMENSION>(pc->v_samp_factor);
            patchRows = CeilDiv(pc->height_in_blocks, pv) * pv;
        }
        for (JDIMENSION r = 0; r < compHeight; r += v) {
            JBLOCKARRAY dst =
                (*srcinfo->mem->access_virt_barray)(Common(srcinfo), src_coef_arrays[ci], yBlocks + r, v, TRUE);
            for (JDIMENSION i = 0; i < v; ++i) {
                if (fromPatch && r + i >= patchRows) continue;  // below the last row ever written
                if (fromPatch) {
                    // One row at a time: the patch's arrays may allow fewer
                    // rows per access than the source's factor.
                    JBLOCKARRAY src = (*srcinfo->mem->access_virt_barray)(Common(srcinfo), info->drop_coef_arrays[ci],
                                                                          r + i, 1, FALSE);
                    CopyBlocks(src[0], dst[i] + xBlocks, count);
                } else {
                    ZeroBlocks(dst[i] + xBlocks, count);
                }
            }
        }
    }
}

bool NeedsCropCopy(j_decompress_ptr srcinfo, const jpeg_transform_info* info) {
    return info->x_crop_offset != 0 || info->y_crop_offset != 0 || info->output_width > srcinfo->image_width ||
           info->output_height > srcinfo->image_height;
}

}  // namespace

void jtransform_install_messages(jpeg_error_mgr* err) {
    err->addon_message_table = kMessages;
    err->first_addon_message = JERR_TRANSFORM_FIRST;
    err->last_addon_message = JERR_TRANSFORM_LAST;
}

void jcopy_markers_setup(j_decompress_ptr srcinfo, JCOPY_OPTION option) {
    if (option == JCOPYOPT_COMMENTS) jpeg_save_markers(srcinfo, JPEG_COM, 0xFFFF);
}

void jtransform_request_workspace(j_decompress_ptr srcinfo, jpeg_transform_info* info) {
    jtransform_install_messages(srcinfo->err);
    info->num_components = srcinfo->num_components;
    info->output_width = srcinfo->image_width;
    info->output_height = srcinfo->image_height;
    info->workspace_coef_arrays = nullptr;
    if (srcinfo->num_components == 1) {
        info->max_h_samp_factor = 1;
        info->max_v_samp_factor = 1;
    } else {
        info->max_h_samp_factor = srcinfo->max_h_samp_factor;
        info->max_v_samp_factor = srcinfo->max_v_samp_factor;
    }
    const JDIMENSION dh = static_cast<JDIMENSION>(info->max_h_samp_factor * DCTSIZE);
    const JDIMENSION dv = static_cast<JDIMENSION>(info->max_v_samp_factor * DCTSIZE);

    if (info->transform != JXFORM_NONE && info->transform != JXFORM_DROP) Fail(srcinfo, JERR_BAD_CROP_SPEC);
    if (info->transform == JXFORM_DROP && (!info->crop || !info->drop_ptr)) Fail(srcinfo, JERR_BAD_CROP_SPEC);

    JDIMENSION w = info->crop_width, h = info->crop_height;
    JDIMENSION x = info->crop_xoffset, y = info->crop_yoffset;
    if (!ResolveAxis(info, info->output_width, &w, info->crop_width_set, &x, info->crop_xoffset_set))
        Fail(srcinfo, JERR_BAD_CROP_SPEC);
    if (!ResolveAxis(info, info->output_height, &h, info->crop_height_set, &y, info->crop_yoffset_set))
        Fail(srcinfo, JERR_BAD_CROP_SPEC);

    if (info->transform == JXFORM_DROP) {
        // Whole iMCUs only, except that a region reaching the image's far
        // edge also takes the partial iMCU there: nothing else could ever
        // replace those blocks.
        const JDIMENSION ex = dh - 1 - ((x + dh - 1) % dh);
        const bool toRight = x + w == info->output_width;
        x += ex;
        info->drop_width = ex < w ? (toRight ? CeilDiv(w - ex, dh) : (w - ex) / dh) : 0;
        const JDIMENSION ey = dv - 1 - ((y + dv - 1) % dv);
        const bool toBottom = y + h == info->output_height;
        y += ey;
        info->drop_height = ey < h ? (toBottom ? CeilDiv(h - ey, dv) : (h - ey) / dv) : 0;
        j_decompress_ptr patch = info->drop_ptr;
        if (info->drop_width != 0 && info->drop_height != 0) {
            for (int ci = 0; ci < info->num_components && ci < patch->num_components; ++ci) {
                const jpeg_component_info* p = &patch->comp_info[ci];
                const jpeg_component_info* s = &srcinfo->comp_info[ci];
                if (p->h_samp_factor * srcinfo->max_h_samp_factor != s->h_samp_factor * patch->max_h_samp_factor) {
                    ERREXIT6(srcinfo, JERR_BAD_DROP_SAMPLING, ci, p->h_samp_factor, patch->max_h_samp_factor,
                             s->h_samp_factor, srcinfo->max_h_samp_factor, 'h');
                }
                if (p->v_samp_factor * srcinfo->max_v_samp_factor != s->v_samp_factor * patch->max_v_samp_factor) {
                    ERREXIT6(srcinfo, JERR_BAD_DROP_SAMPLING, ci, p->v_samp_factor, patch->max_v_samp_factor,
                             s->v_samp_factor, srcinfo->max_v_samp_factor, 'v');
                }
            }
        }
    } else {
        info->output_width = w <= srcinfo->image_width ? w + x % dh : w;
        info->output_height = h <= srcinfo->image_height ? h + y % dv : h;
        // Larger than any JPEG can be: refuse before planning the arrays.
        if (info->output_width > JPEG_MAX_DIMENSION || info->output_height > JPEG_MAX_DIMENSION)
            ERREXIT1(srcinfo, JERR_IMAGE_TOO_BIG, static_cast<unsigned>(JPEG_MAX_DIMENSION));
    }
    info->x_crop_offset = x / dh;
    info->y_crop_offset = y / dv;

    if (info->transform == JXFORM_DROP) {
        RoutePatchArrays(srcinfo, info->drop_ptr);
        return;
    }
    if (!NeedsCropCopy(srcinfo, info)) return;

    auto* arrays = static_cast<jvirt_barray_ptr*>((*srcinfo->mem->alloc_small)(
        Common(srcinfo), JPOOL_IMAGE, sizeof(jvirt_barray_ptr) * static_cast<size_t>(info->num_components)));
    const JDIMENSION wi = CeilDiv(info->output_width, dh);
    const JDIMENSION hi = CeilDiv(info->output_height, dv);
    for (int ci = 0; ci < info->num_components; ++ci) {
        const jpeg_component_info* comp = &srcinfo->comp_info[ci];
        const JDIMENSION ch = info->num_components == 1 ? 1 : static_cast<JDIMENSION>(comp->h_samp_factor);
        const JDIMENSION cv = info->num_components == 1 ? 1 : static_cast<JDIMENSION>(comp->v_samp_factor);
        arrays[ci] = (*srcinfo->mem->request_virt_barray)(Common(srcinfo), JPOOL_IMAGE, FALSE, wi * ch, hi * cv, cv);
    }
    info->workspace_coef_arrays = arrays;
}

jvirt_barray_ptr* jtransform_adjust_parameters(j_decompress_ptr srcinfo, j_compress_ptr dstinfo,
                                               jvirt_barray_ptr* src_coef_arrays, jpeg_transform_info* info) {
    if (srcinfo->num_components == 1) {
        dstinfo->comp_info[0].h_samp_factor = 1;
        dstinfo->comp_info[0].v_samp_factor = 1;
    }
    dstinfo->image_width = info->output_width;
    dstinfo->image_height = info->output_height;
    if (info->transform == JXFORM_DROP && info->drop_width != 0 && info->drop_height != 0)
        HarmoniseTables(srcinfo, dstinfo, src_coef_arrays, info);
    return info->workspace_coef_arrays ? info->workspace_coef_arrays : src_coef_arrays;
}

void jcopy_markers_execute(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, JCOPY_OPTION option) {
    if (option != JCOPYOPT_COMMENTS) return;
    for (jpeg_saved_marker_ptr m = srcinfo->marker_list; m; m = m->next) {
        if (m->marker != JPEG_COM) continue;
        jpeg_write_marker(dstinfo, m->marker, m->data, m->data_length);
    }
}

void jtransform_execute_transformation(j_decompress_ptr srcinfo, j_compress_ptr dstinfo,
                                       jvirt_barray_ptr* src_coef_arrays, jpeg_transform_info* info) {
    if (info->transform == JXFORM_NONE) {
        if (info->workspace_coef_arrays && NeedsCropCopy(srcinfo, info))
            CropCopy(srcinfo, dstinfo, src_coef_arrays, info);
    } else if (info->transform == JXFORM_DROP) {
        if (info->drop_width != 0 && info->drop_height != 0) DropCopy(srcinfo, dstinfo, src_coef_arrays, info);
    }
}

}  // namespace scarlex
