#include "launcher/COptionDlg.h"

#include <algorithm>
#include <iterator>

#include "base/UpdateTypes.h"
#include "platform/Error.h"

namespace {

enum : unsigned {
    kBackgroundBitmap = 158,
    kOkBitmap = 1010,
    kResetBitmap = 159,
    kCancelBitmap = 173,
    kCheckOnBitmap = 1011,
    kCheckOffBitmap = 160,
    kGammaDownBitmap = 163,
    kGammaUpBitmap = 1012,
    kSliderChannelBitmap = 164,

    kTitleText = 122,
    kResolutionText = 129,
    kWindowModeText = 131,
    kTextureText = 150,
    kLodText = 151,
    kEffectText = 152,
    kGammaText = 153,
    kShadowText = 154,
    kGlowText = 155,
    kMapEffectText = 156,
    kFogText = 157,
    kHighText = 158,  // then medium, low and off
    kSaveFailedText = 162,
};

constexpr int kComboW = 91;
constexpr int kComboH = 13;
constexpr uint32_t kLabelColour = 0xC9D5EA;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr int kTitlePoints = 8;
constexpr const char* kComboClass = "varn-option";

// Labels beside the controls, from the bundle.
struct Label {
    skin::Rect at;
    unsigned text;
    unsigned align;
};
constexpr unsigned kRightAligned = skin::kAlignRight | skin::kAlignVCentre;
constexpr Label kLabels[] = {
    {{10, 58, 73, 13}, kResolutionText, kRightAligned},
    {{186, 58, 98, 13}, kTextureText, kRightAligned},
    {{10, 87, 73, 13}, kLodText, kRightAligned},
    {{186, 87, 98, 13}, kEffectText, kRightAligned},
    {{10, 142, 70, 14}, kGammaText, kRightAligned},
    {{47, 194, 108, 19}, kShadowText, skin::kAlignVCentre},
    {{185, 194, 105, 19}, kGlowText, skin::kAlignVCentre},
    {{319, 194, 96, 19}, kWindowModeText, skin::kAlignVCentre},
    {{47, 222, 108, 19}, kMapEffectText, skin::kAlignVCentre},
    {{185, 222, 105, 19}, kFogText, skin::kAlignVCentre},
};

// The toolkit's combo box, and the list it drops down, in the skin's
// colours and within the 13 pixels the dialog leaves it: no minimum
// heights or padding from the theme, a small font given in pixels (the
// text cell's height is fixed by MakeCombo).
void InstallComboStyle() {
    static bool installed = false;
    GdkScreen* screen = gdk_screen_get_default();
    if (installed || screen == nullptr) {
        return;
    }
    installed = true;
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(
        css,
        "combobox.varn-option, combobox.varn-option * {"
        " min-height: 0; min-width: 0; margin: 0; padding: 0; }"
        "combobox.varn-option button.combo {"
        " padding: 0 1px 0 4px; border: 1px solid #5D80B8; border-radius: 2px;"
        " background-image: none; background-color: #0A111F; color: #E6EEFC;"
        " box-shadow: none; text-shadow: none; -gtk-icon-shadow: none;"
        " outline-color: transparent; }"
        "combobox.varn-option button.combo:hover {"
        " border-color: #9CC2FA; background-color: #111D33; }"
        "combobox.varn-option button.combo:checked {"
        " background-color: #070C16; border-color: #3D5B8A; }"
        "combobox.varn-option arrow { min-width: 9px; min-height: 9px; color: #A9BCDC; }"
        "menu.varn-option { padding: 1px; background-color: #0A111F;"
        " border: 1px solid #5D80B8; }"
        "menu.varn-option menuitem { min-height: 0; padding: 1px 4px; color: #E6EEFC; }"
        "menu.varn-option menuitem:hover { background-color: #2D4F84; color: #FFFFFF; }"
        "combobox.varn-option button.combo, menu.varn-option menuitem {"
        " font-family: Gulim, 'Noto Sans CJK JP', 'DejaVu Sans', sans-serif;"
        " font-size: 9px; font-weight: 600; }",
        -1, nullptr);
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

void PlaceButton(CSkinDialog& dialog, CHoverButton& button, int x, int y, unsigned strip) {
    button.LoadStrip(strip);
    const skin::Size frame = button.FrameSize();
    dialog.Place(button.widget(), x, y, frame.w, frame.h);
    button.SetCursor(CHoverButton::kHandCursor);
}

void SetActive(GtkWidget* combo, int index) {
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo), index);
}

}  // namespace

COptionDlg::COptionDlg(GtkWindow* owner, const std::string& gameDir, plat::ResourceHandle bundle)
    : m_gameDir(gameDir),
      m_bundle(bundle),
      m_loaded(LoadGameOptions(gameDir)),
      m_options(m_loaded),
      m_gamma(0, kGammaPositions, 1) {
    GtkWindow* window = this->window();
    gtk_window_set_title(window, Text(kTitleText).c_str());
    gtk_window_set_transient_for(window, owner);
    gtk_window_set_modal(window, TRUE);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_skip_taskbar_hint(window, TRUE);
    gtk_window_set_position(window, owner ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    SetEasyMove(true);
    SetBackground(kBackgroundBitmap);
    SetDrawMode(skin::kDrawFitWindow);
    SetTransparent(skin::kColourKey, true);

    SetUpTexts();
    SetUpCombos();
    SetUpGamma();
    SetUpButtons();
    ShowValues();
    g_signal_connect(window, "key-press-event", G_CALLBACK(OnKey), this);
    gtk_widget_show(GTK_WIDGET(window));
}

COptionDlg::~COptionDlg() {
    // The combo boxes go with the window, after this object.
    for (GtkWidget* combo : {m_resolution, m_texture, m_lod, m_effect}) {
        g_signal_handlers_disconnect_by_data(combo, this);
    }
    g_signal_handlers_disconnect_by_data(m_gamma.widget(), this);
    if (GtkWindow* w = window()) {
        g_signal_handlers_disconnect_by_data(w, this);
    }
}

bool COptionDlg::Showing() const {
    return window() != nullptr && gtk_widget_get_visible(GTK_WIDGET(window()));
}

void COptionDlg::Present() {
    if (Showing()) {
        gtk_window_present(window());
    }
}

void COptionDlg::SetUpTexts() {
    Place(m_title.widget(), 28, 5, 250, 17);
    m_title.SetFont(CTextEx::DefaultFont(kTitlePoints));
    m_title.SetTextColor(kWhite);
    m_title.SetText(Text(kTitleText));
    static_assert(std::size(kLabels) == kLabelCount);
    for (size_t i = 0; i < kLabelCount; ++i) {
        const Label& l = kLabels[i];
        CTextEx& label = m_labels[i];
        Place(label.widget(), l.at.x, l.at.y, l.at.w, l.at.h);
        label.SetTextColor(kLabelColour);
        label.SetAlign(l.align);
        label.SetText(Text(l.text));
    }
    Place(m_gammaValue.widget(), 262, 142, 40, 14);
    m_gammaValue.SetTextColor(kLabelColour);
}

GtkWidget* COptionDlg::MakeCombo(int x, int y) {
    InstallComboStyle();
    GtkWidget* combo = gtk_combo_box_text_new();
    gtk_style_context_add_class(gtk_widget_get_style_context(combo), kComboClass);
    // The list that drops down is a menu of its own, outside the box.
    AtkObject* popup = gtk_combo_box_get_popup_accessible(GTK_COMBO_BOX(combo));
    if (GtkWidget* menu = popup ? gtk_accessible_get_widget(GTK_ACCESSIBLE(popup)) : nullptr) {
        gtk_style_context_add_class(gtk_widget_get_style_context(menu), kComboClass);
    }
    // The text cell takes the box's inside (a CJK font's line would be
    // taller) and no padding; a long entry ends with an ellipsis instead
    // of widening the box.
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(combo));
    for (GList* c = cells; c != nullptr; c = c->next) {
        g_object_set(c->data, "xpad", 0, "ypad", 0, "ellipsize", PANGO_ELLIPSIZE_END, nullptr);
        gtk_cell_renderer_set_fixed_size(GTK_CELL_RENDERER(c->data), -1, kComboH - 2);
    }
    g_list_free(cells);
    Place(combo, x, y, kComboW, kComboH);
    g_signal_connect(combo, "changed", G_CALLBACK(OnComboChanged), this);
    return combo;
}

void COptionDlg::SetUpCombos() {
    m_resolution = MakeCombo(87, 58);
    m_texture = MakeCombo(288, 58);
    m_lod = MakeCombo(87, 87);
    m_effect = MakeCombo(288, 87);
    m_settingControls = true;
    for (const ScreenMode& mode : kScreenModes) {
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(m_resolution),
                                       ScreenModeText(mode).c_str());
    }
    for (int level = 0; level < kEffectLevels; ++level) {
        const std::string text = Text(kHighText + static_cast<unsigned>(level));
        if (level < kQualityLevels) {
            gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(m_texture), text.c_str());
            gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(m_lod), text.c_str());
        }
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(m_effect), text.c_str());
    }
    m_settingControls = false;
}

void COptionDlg::SetUpGamma() {
    Place(m_gamma.widget(), 100, 142, 137, 20);
    m_gamma.SetChannelBitmap(kSliderChannelBitmap);
    gtk_scale_set_digits(GTK_SCALE(m_gamma.widget()), 0);
    gtk_range_set_increments(m_gamma.range(), kGammaStep, kGammaStep);
    g_signal_connect(m_gamma.widget(), "value-changed", G_CALLBACK(OnGammaChanged), this);
}

void COptionDlg::SetUpButtons() {
    PlaceButton(*this, m_gammaDown, 84, 142, kGammaDownBitmap);
    PlaceButton(*this, m_gammaUp, 246, 142, kGammaUpBitmap);
    PlaceButton(*this, m_shadow, 23, 194, kCheckOffBitmap);
    PlaceButton(*this, m_glow, 161, 194, kCheckOffBitmap);
    PlaceButton(*this, m_mapEffect, 23, 222, kCheckOffBitmap);
    PlaceButton(*this, m_fog, 161, 222, kCheckOffBitmap);
    PlaceButton(*this, m_windowMode, 295, 194, kCheckOffBitmap);
    PlaceButton(*this, m_ok, 245, 262, kOkBitmap);
    PlaceButton(*this, m_reset, 325, 262, kResetBitmap);
    PlaceButton(*this, m_cancel, 396, 3, kCancelBitmap);
    m_gammaDown.SetOnClicked([this] { OnGammaStep(-kGammaStep); });
    m_gammaUp.SetOnClicked([this] { OnGammaStep(kGammaStep); });
    // Each check box flips its value between 0 and 1.
    auto toggle = [this](CHoverButton& button, auto member) {
        button.SetOnClicked([this, member] {
            m_options.*member = m_options.*member ? 0 : 1;
            ShowChecks();
        });
    };
    toggle(m_shadow, &GAME_OPTIONS::ShadowON);
    toggle(m_glow, &GAME_OPTIONS::BlurState);
    toggle(m_mapEffect, &GAME_OPTIONS::MapSpecular);
    toggle(m_fog, &GAME_OPTIONS::FogState);
    toggle(m_windowMode, &GAME_OPTIONS::FullScreen);
    m_reset.SetOnClicked([this] { OnReset(); });
    m_ok.SetOnClicked([this] { OnOk(); });
    m_cancel.SetOnClicked([this] { Close(); });
}

void COptionDlg::ShowValues() {
    m_settingControls = true;
    SetActive(m_resolution, NearestScreenMode(m_options));
    SetActive(m_texture, m_options.TextureQuality);
    SetActive(m_lod, m_options.LOD);
    SetActive(m_effect, m_options.EffectQuality);
    const int position = GammaToPosition(m_options.Gamma);
    gtk_range_set_value(m_gamma.range(), position);
    m_gammaValue.SetText(GammaText(position));
    ShowChecks();
    m_settingControls = false;
}

void COptionDlg::ShowChecks() {
    auto show = [](CHoverButton& button, bool on) {
        button.LoadStrip(on ? kCheckOnBitmap : kCheckOffBitmap);
    };
    show(m_shadow, m_options.ShadowON != 0);
    show(m_glow, m_options.BlurState != 0);
    show(m_mapEffect, m_options.MapSpecular != 0);
    show(m_fog, m_options.FogState != 0);
    // The box says "window mode": ticked when the game runs in a window.
    show(m_windowMode, m_options.FullScreen == 0);
}

std::string COptionDlg::Text(unsigned id) const {
    char buf[kStringBuffer] = "";
    plat::LoadResourceString(m_bundle, id, buf, sizeof(buf));
    return buf;
}

void COptionDlg::OnGammaStep(int delta) {
    const int position = static_cast<int>(gtk_range_get_value(m_gamma.range()));
    // Through the slider's own change, as a drag would.
    gtk_range_set_value(m_gamma.range(), std::clamp(position + delta, 0, kGammaPositions));
}

void COptionDlg::OnReset() {
    // Only the record and the controls: nothing is written until OK.
    ResetGameOptions(m_options);
    ShowValues();
}

void COptionDlg::OnOk() {
    GameOptionsSaveError error;
    if (SaveGameOptions(m_gameDir, m_options, m_loaded, &error)) {
        Close();
        return;
    }
    // The player's choices stay in the dialog: he may free the disk or the
    // file and try again, or cancel.
    const std::string text =
        Text(kSaveFailedText) + "\n\n" + error.file + "\n" + plat::FormatMessageText(error.error);
    m_box = std::make_unique<CMessageBox>(window(), CMessageBox::Kind::Error, text, nullptr);
}

void COptionDlg::Close() {
    m_box.reset();
    if (GtkWindow* w = window()) {
        gtk_widget_hide(GTK_WIDGET(w));
    }
}

void COptionDlg::OnComboChanged(GtkComboBox* combo, gpointer self) {
    auto* dlg = static_cast<COptionDlg*>(self);
    const int index = gtk_combo_box_get_active(combo);
    if (dlg->m_settingControls || index < 0) {
        return;
    }
    GtkWidget* w = GTK_WIDGET(combo);
    GAME_OPTIONS& o = dlg->m_options;
    if (w == dlg->m_resolution) {
        SetScreenMode(o, index);
    } else if (w == dlg->m_texture) {
        o.TextureQuality = static_cast<uint8_t>(index);
    } else if (w == dlg->m_lod) {
        o.LOD = static_cast<uint8_t>(index);
    } else if (w == dlg->m_effect) {
        o.EffectQuality = static_cast<uint8_t>(index);
    }
}

void COptionDlg::OnGammaChanged(GtkRange* range, gpointer self) {
    auto* dlg = static_cast<COptionDlg*>(self);
    const int position = static_cast<int>(gtk_range_get_value(range));
    dlg->m_gammaValue.SetText(GammaText(position));
    if (!dlg->m_settingControls) {
        dlg->m_options.Gamma = PositionToGamma(position);
    }
}

gboolean COptionDlg::OnKey(GtkWidget*, GdkEventKey* e, gpointer self) {
    if (e->keyval != GDK_KEY_Escape) {
        return FALSE;
    }
    static_cast<COptionDlg*>(self)->Close();
    return TRUE;
}
