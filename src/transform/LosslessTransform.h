#pragma once
// Lossless crop and drop of JPEG files at the level of quantised DCT
// coefficients, on top of libjpeg's transcoding interface
// (jpeg_read_coefficients / jpeg_write_coefficients).
//
// Crop writes a block-aligned rectangle of the source as a new JPEG; drop
// writes a copy of the source in which a block-aligned rectangle has been
// replaced by the blocks of a second, small JPEG (the patch). Nothing is
// decoded to pixels and nothing is quantised again.
//
// Call order (either operation):
//   jcopy_markers_setup, jpeg_read_header (source, then patch), fill the
//   record, jtransform_request_workspace, jpeg_read_coefficients (source,
//   then patch into drop_coef_arrays), jpeg_copy_critical_parameters,
//   jtransform_adjust_parameters, jpeg_write_coefficients with its result,
//   jcopy_markers_execute, jtransform_execute_transformation,
//   jpeg_finish_compress; finish the patch, last the source.
//
// Errors are raised through the source decompressor's error manager, like
// the library's own.

#include <cstdio>

#include <jpeglib.h>

namespace scarlex {

enum JXFORM_CODE : unsigned char {
    JXFORM_NONE = 0,  // no transform: crop only
    JXFORM_DROP = 1,  // replace a region of the source by the patch
};

enum JCROP_CODE : unsigned char {
    JCROP_UNSET = 0,  // not given: the whole remaining extent, or offset 0
    JCROP_POS = 1,    // given; offsets measured from the left or top edge
    JCROP_NEG = 2,    // given; offsets measured from the right or bottom edge
};

enum JCOPY_OPTION : unsigned char {
    JCOPYOPT_NONE = 0,      // copy no markers
    JCOPYOPT_COMMENTS = 1,  // copy the COM markers only
};

// Cleared to zero by the caller, then filled in by the caller (first group)
// and by the request step (second group).
struct jpeg_transform_info {
    JXFORM_CODE transform;
    bool perfect;          // not supported; ignored
    bool trim;             // not supported; ignored
    bool force_grayscale;  // not supported; ignored
    bool crop;             // the region fields below are given

    JDIMENSION crop_width;  // pixels
    JCROP_CODE crop_width_set;
    JDIMENSION crop_height;
    JCROP_CODE crop_height_set;
    JDIMENSION crop_xoffset;  // pixels from the source's left edge
    JCROP_CODE crop_xoffset_set;
    JDIMENSION crop_yoffset;  // pixels from the source's top edge
    JCROP_CODE crop_yoffset_set;

    j_decompress_ptr drop_ptr;           // drop: the patch, header read
    jvirt_barray_ptr* drop_coef_arrays;  // drop: the patch's coefficients

    // Filled in by jtransform_request_workspace.
    int num_components;
    jvirt_barray_ptr* workspace_coef_arrays;  // a crop's own destination arrays, or null
    JDIMENSION output_width;
    JDIMENSION output_height;
    JDIMENSION x_crop_offset;  // iMCUs
    JDIMENSION y_crop_offset;
    JDIMENSION drop_width;  // iMCUs
    JDIMENSION drop_height;
    int max_h_samp_factor;
    int max_v_samp_factor;

    // Set by the adjust step when bringing the tables together would take a
    // coefficient past 16 bits; the value is held at the nearest end, and
    // such an output must not be written.
    bool coefficient_overflow;
};

// The module's messages, kept in the error manager's add-on message table.
enum TransformMessage {
    JERR_TRANSFORM_FIRST = 1000,
    JERR_BAD_CROP_SPEC = JERR_TRANSFORM_FIRST,  // "Invalid crop request"
    JERR_BAD_DROP_SAMPLING,                     // mismatching sampling ratio
    JERR_TRANSFORM_LAST = JERR_BAD_DROP_SAMPLING,
};

// Installs the module's message table on an error manager (done by the
// request step on the source's; exposed for callers with their own).
void jtransform_install_messages(jpeg_error_mgr* err);

void jcopy_markers_setup(j_decompress_ptr srcinfo, JCOPY_OPTION option);

void jtransform_request_workspace(j_decompress_ptr srcinfo, jpeg_transform_info* info);

jvirt_barray_ptr* jtransform_adjust_parameters(j_decompress_ptr srcinfo, j_compress_ptr dstinfo,
                                               jvirt_barray_ptr* src_coef_arrays, jpeg_transform_info* info);

void jcopy_markers_execute(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, JCOPY_OPTION option);

void jtransform_execute_transformation(j_decompress_ptr srcinfo, j_compress_ptr dstinfo,
                                       jvirt_barray_ptr* src_coef_arrays, jpeg_transform_info* info);

}  // namespace scarlex
