// Carrying out a drawing plan with cairo, and the window shape of a
// colour-keyed picture. Main thread only when drawing on a widget.
#pragma once
#include <cairo.h>

#include "launcher/skin/SkinGeometry.h"

namespace skin {

// Draws each op of plan from bitmap onto cr (user space = the widget's
// pixels) with the given operator. Stretches sample the nearest pixel and
// never the bitmap's pixels outside their source rectangle.
void PaintPlan(cairo_t* cr, cairo_surface_t* bitmap, const BlitPlan& plan,
               cairo_operator_t op = CAIRO_OPERATOR_OVER);

// The region of the opaque pixels of a 32-bit ARGB image surface (pixels of
// the key colour count as transparent). The caller owns the region.
cairo_region_t* OpaqueRegion(cairo_surface_t* image, uint32_t key = kColourKey);

}  // namespace skin
