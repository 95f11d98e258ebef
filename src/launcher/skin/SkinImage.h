// A bitmap of the skin as a cairo image surface (32-bit ARGB), loaded by id
// through the language bundle. Owns one reference to its surface. An id
// that is unknown or whose file does not load gives an empty image; a
// control with an empty image draws nothing of it.
// Main thread only (like every skinned control), except FromFile/Load,
// which touch no widget and may run anywhere.
#pragma once
#include <cairo.h>

#include <cstdint>
#include <string>

#include "launcher/skin/SkinGeometry.h"
#include "platform/Resource.h"

namespace skin {

// The bundle bitmaps are loaded from when a control is given only an id:
// the application sets it once at start-up (null means the base table).
void SetResourceHandle(plat::ResourceHandle bundle);
plat::ResourceHandle GetResourceHandle();

}  // namespace skin

class SkinImage {
public:
    SkinImage() = default;
    ~SkinImage();
    SkinImage(SkinImage&& other) noexcept;
    SkinImage& operator=(SkinImage&& other) noexcept;
    SkinImage(const SkinImage&) = delete;
    SkinImage& operator=(const SkinImage&) = delete;

    // The bitmap `id` of bundle (the base table's when bundle is null or
    // lacks the id).
    static SkinImage Load(plat::ResourceHandle bundle, unsigned id);
    // The same through skin::GetResourceHandle().
    static SkinImage Load(unsigned id);
    // Any image file gdk-pixbuf reads (PNG, BMP, ...).
    static SkinImage FromFile(const std::string& path);

    // A copy with every pixel of the key colour made transparent.
    SkinImage WithColourKey(uint32_t key = skin::kColourKey) const;

    bool empty() const { return m_surface == nullptr; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    // Borrowed; null when empty.
    cairo_surface_t* surface() const { return m_surface; }

private:
    explicit SkinImage(cairo_surface_t* adopted);
    void Reset();

    cairo_surface_t* m_surface = nullptr;
    int m_width = 0;
    int m_height = 0;
};
