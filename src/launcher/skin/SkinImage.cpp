#include "launcher/skin/SkinImage.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk/gdk.h>

#include <utility>

namespace {
// A new 32-bit ARGB surface of w x h holding what setSource makes the
// source, copied as it is (alpha included).
template <class SetSource>
cairo_surface_t* ArgbCopy(int w, int h, SetSource setSource) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(surface);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    setSource(cr);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    return surface;
}
}  // namespace

namespace skin {
namespace {
plat::ResourceHandle g_bundle = nullptr;
}  // namespace

void SetResourceHandle(plat::ResourceHandle bundle) {
    g_bundle = bundle;
}
plat::ResourceHandle GetResourceHandle() {
    return g_bundle;
}

}  // namespace skin

SkinImage::SkinImage(cairo_surface_t* adopted) {
    if (adopted == nullptr) {
        return;
    }
    if (cairo_surface_status(adopted) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(adopted);
        return;
    }
    m_surface = adopted;
    m_width = cairo_image_surface_get_width(adopted);
    m_height = cairo_image_surface_get_height(adopted);
}

SkinImage::~SkinImage() {
    Reset();
}

SkinImage::SkinImage(SkinImage&& other) noexcept
    : m_surface(std::exchange(other.m_surface, nullptr)),
      m_width(std::exchange(other.m_width, 0)),
      m_height(std::exchange(other.m_height, 0)) {}

SkinImage& SkinImage::operator=(SkinImage&& other) noexcept {
    if (this != &other) {
        Reset();
        m_surface = std::exchange(other.m_surface, nullptr);
        m_width = std::exchange(other.m_width, 0);
        m_height = std::exchange(other.m_height, 0);
    }
    return *this;
}

void SkinImage::Reset() {
    if (m_surface != nullptr) {
        cairo_surface_destroy(m_surface);
    }
    m_surface = nullptr;
    m_width = 0;
    m_height = 0;
}

SkinImage SkinImage::Load(plat::ResourceHandle bundle, unsigned id) {
    const plat::ResourceBundle* b = bundle ? bundle : plat::ResourceBundle::Base();
    const std::string path = b->BitmapPath(id);
    return path.empty() ? SkinImage() : FromFile(path);
}

SkinImage SkinImage::Load(unsigned id) {
    return Load(skin::GetResourceHandle(), id);
}

SkinImage SkinImage::FromFile(const std::string& path) {
    GError* error = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.c_str(), &error);
    if (pixbuf == nullptr) {
        g_clear_error(&error);
        return SkinImage();
    }
    const int w = gdk_pixbuf_get_width(pixbuf);
    const int h = gdk_pixbuf_get_height(pixbuf);
    // Always 32-bit ARGB, whatever the file held, so that the colour key
    // and the mask see one pixel layout.
    cairo_surface_t* surface =
        ArgbCopy(w, h, [pixbuf](cairo_t* cr) { gdk_cairo_set_source_pixbuf(cr, pixbuf, 0, 0); });
    g_object_unref(pixbuf);
    return SkinImage(surface);
}

SkinImage SkinImage::WithColourKey(uint32_t key) const {
    if (empty()) {
        return SkinImage();
    }
    cairo_surface_t* copy = ArgbCopy(
        m_width, m_height, [this](cairo_t* cr) { cairo_set_source_surface(cr, m_surface, 0, 0); });
    if (cairo_surface_status(copy) == CAIRO_STATUS_SUCCESS) {
        auto* pixels = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(copy));
        const int stride = cairo_image_surface_get_stride(copy) / 4;
        skin::ApplyColourKey(pixels, m_width, m_height, stride, key);
        cairo_surface_mark_dirty(copy);
    }
    return SkinImage(copy);
}
