// The whole skin: every bitmap with its id and file name.
#include "Layout.h"
#include "SkinArt.h"

namespace skinart {

std::vector<Bitmap> DrawSkin() {
    namespace L = layout;
    std::vector<Bitmap> skin;
    auto add = [&skin](unsigned id, const char* name, Surface image) {
        skin.push_back(Bitmap{id, name, std::move(image)});
    };
    Surface bg = DrawMainBackground();
    add(134, "start", DrawButtonStrip(bg, L::kStart, ButtonLook::Start, "Start"));
    add(156, "start_disabled", DrawButtonStrip(bg, L::kStart, ButtonLook::StartDisabled, "Start"));
    add(1007, "close", DrawCloseStrip(bg, L::kClose));
    add(155, "home", DrawButtonStrip(bg, L::kHome, ButtonLook::Slate, "Home"));
    add(176, "home2", DrawButtonStrip(bg, L::kHome2, ButtonLook::Slate, "Website"));
    add(178, "faq", DrawButtonStrip(bg, L::kFaq, ButtonLook::Slate, "FAQ"));
    add(143, "options", DrawButtonStrip(bg, L::kOptions, ButtonLook::Slate, "Options"));
    add(147, "directx", DrawButtonStrip(bg, L::kDirectX, ButtonLook::Slate, "DirectX"));
    add(197, "screenshots", DrawButtonStrip(bg, L::kScreenshots, ButtonLook::Slate, "Screenshots"));
    add(157, "check_off", DrawCheckStrip(bg, L::kTerms, false));
    add(1009, "check_on", DrawCheckStrip(bg, L::kTerms, true));
    // Text backgrounds are the background itself, so labels blend in.
    add(138, "title_bg", Crop(bg, L::kTitle));
    add(140, "status_bg", Crop(bg, L::kStatus));
    add(152, "percent_bg", Crop(bg, L::kFilePercent));
    add(141, "bar_file", DrawBarStrip(L::kBarHalf, L::kFileBar.h, BarLook::File));
    add(1008, "bar_total", DrawBarStrip(L::kBarHalf, L::kTotalBar.h, BarLook::Total));
    add(1006, "background", std::move(bg));

    Surface packer = DrawPackerBackground();
    add(179, "packer_text_bg", Crop(packer, L::kPackerText));
    add(182, "packer_bg", std::move(packer));

    // The options dialog. Its check boxes share one pair of strips, cut
    // from its flat panel.
    Surface option = DrawOptionBackground();
    add(1010, "option_ok", DrawButtonStrip(option, L::kOptionOk, ButtonLook::Slate, "OK"));
    add(159, "option_reset",
        DrawButtonStrip(option, L::kOptionReset, ButtonLook::Slate, "Default"));
    add(173, "option_close", DrawCloseStrip(option, L::kOptionCancel));
    add(1011, "option_check_on", DrawCheckStrip(option, L::kOptionShadow, true));
    add(160, "option_check_off", DrawCheckStrip(option, L::kOptionShadow, false));
    add(163, "gamma_down", DrawArrowStrip(option, L::kOptionGammaDown, false));
    add(1012, "gamma_up", DrawArrowStrip(option, L::kOptionGammaUp, true));
    add(164, "slider_channel", DrawSliderChannel(option));
    add(158, "option_bg", std::move(option));
    add(128, "icon", DrawIcon(256));
    return skin;
}

}  // namespace skinart
