// The skin the build draws is what the base table names: every bitmap id
// the windows load resolves, beside the executable, to a PNG of the size
// the controls are laid out for (buttons size themselves to a third of
// their strip, bars take their halves from the width).
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "platform/Resource.h"

namespace {

struct Size {
    uint32_t w = 0, h = 0;
};

uint32_t BigEndian32(const unsigned char* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// The size from a PNG's header chunk; 0 x 0 when the file is missing or
// not a PNG.
Size PngSize(const std::string& path) {
    static const unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    unsigned char head[24] = {};
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(head), sizeof head) ||
        std::string(head, head + 8) != std::string(kSignature, kSignature + 8) ||
        std::string(head + 12, head + 16) != "IHDR") {
        return {};
    }
    return {BigEndian32(head + 16), BigEndian32(head + 20)};
}

}  // namespace

TEST(SkinBitmaps, EveryIdResolvesToAPngOfItsSize) {
    struct Expected {
        unsigned id;
        uint32_t w, h;
    };
    const Expected table[] = {
        {1006, 800, 492},                        // background
        {134, 3 * 121, 31}, {156, 3 * 121, 31},  // start, two looks
        {1007, 3 * 22, 21},                      // close
        {155, 3 * 79, 20},  {176, 3 * 79, 20},   // home pages
        {178, 3 * 79, 20},                       // FAQ
        {143, 3 * 83, 21},  {147, 3 * 83, 21},   // options, DirectX
        {197, 3 * 83, 21},                       // screenshots
        {157, 3 * 19, 19},  {1009, 3 * 19, 19},  // check box off, on
        {138, 390, 17},     {140, 150, 40},      // title, status
        {152, 28, 11},                           // percentages
        {141, 2 * 308, 12}, {1008, 2 * 308, 7},  // bars
        {182, 450, 110},    {179, 377, 12},      // secondary window
        {158, 425, 305},                         // options dialog
        {1010, 3 * 79, 26}, {159, 3 * 79, 26},   // its OK and default
        {173, 3 * 22, 21},                       // its close
        {1011, 3 * 19, 19}, {160, 3 * 19, 19},   // its check boxes on, off
        {163, 3 * 10, 14},  {1012, 3 * 10, 14},  // gamma steps
        {164, 138, 20},                          // slider channel
        {128, 256, 256},                         // icon
    };
    const plat::ResourceBundle* base = plat::ResourceBundle::Base();
    for (const Expected& e : table) {
        SCOPED_TRACE("bitmap " + std::to_string(e.id));
        const std::string path = base->BitmapPath(e.id);
        ASSERT_FALSE(path.empty());
        const Size size = PngSize(path);
        EXPECT_EQ(size.w, e.w) << path;
        EXPECT_EQ(size.h, e.h) << path;
    }
}
