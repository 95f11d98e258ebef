#include "launcher/skin/SkinPaint.h"

namespace skin {

void PaintPlan(cairo_t* cr, cairo_surface_t* bitmap, const BlitPlan& plan, cairo_operator_t op) {
    if (bitmap == nullptr) {
        return;
    }
    for (const BlitOp& o : plan) {
        cairo_save(cr);
        cairo_rectangle(cr, o.dst.x, o.dst.y, o.dst.w, o.dst.h);
        cairo_clip(cr);
        cairo_set_operator(cr, op);
        if (o.kind == BlitOp::Copy) {
            cairo_set_source_surface(cr, bitmap, o.dst.x - o.src.x, o.dst.y - o.src.y);
            cairo_paint(cr);
        } else {
            // A sub-surface padded at its edges: scaling must not pull in
            // the neighbouring columns of the other half of a bar.
            cairo_surface_t* sub =
                cairo_surface_create_for_rectangle(bitmap, o.src.x, o.src.y, o.src.w, o.src.h);
            cairo_translate(cr, o.dst.x, o.dst.y);
            cairo_scale(cr, static_cast<double>(o.dst.w) / o.src.w,
                        static_cast<double>(o.dst.h) / o.src.h);
            cairo_set_source_surface(cr, sub, 0, 0);
            cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
            cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
            cairo_paint(cr);
            cairo_surface_destroy(sub);
        }
        cairo_restore(cr);
    }
}

cairo_region_t* OpaqueRegion(cairo_surface_t* image, uint32_t key) {
    cairo_region_t* region = cairo_region_create();
    if (image == nullptr || cairo_surface_get_type(image) != CAIRO_SURFACE_TYPE_IMAGE ||
        cairo_image_surface_get_format(image) != CAIRO_FORMAT_ARGB32) {
        return region;
    }
    cairo_surface_flush(image);
    const auto* pixels = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(image));
    const int stride = cairo_image_surface_get_stride(image) / 4;
    const int w = cairo_image_surface_get_width(image);
    const int h = cairo_image_surface_get_height(image);
    for (const Span& s : OpaqueSpans(pixels, w, h, stride, key)) {
        const cairo_rectangle_int_t r{s.x0, s.y, s.x1 - s.x0, 1};
        cairo_region_union_rectangle(region, &r);
    }
    return region;
}

}  // namespace skin
