// CKestrelDlg: the window, its controls, the buttons and the window's own
// events.
#include "launcher/CKestrelDlg.h"

#include "host/LauncherRules.h"
#include "platform/Desktop.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "updatemodule/UpdateModule.h"

CUpdateModule* g_lpUpdateModule = nullptr;
CKestrelDlg* g_pMainDlg = nullptr;

namespace {

enum : unsigned {
    kBackgroundBitmap = 1006,
    kCloseBitmap = 1007,
    kHomeBitmap = 155,
    kHome2Bitmap = 176,
    kFaqBitmap = 178,
    kOptionsBitmap = 143,
    kDirectXBitmap = 147,
    kScreenshotsBitmap = 197,
    kTitleBitmap = 138,
    kStatusBitmap = 140,
    kPercentBitmap = 152,
    kFileBarBitmap = 141,
    kTotalBarBitmap = 1008,
    kAboutText = 101,
    kRepairText = 137,
};

constexpr uint32_t kWhite = 0xFFFFFF;
// The title and the status line use the dialog's 8-point font; the
// percentages keep the labels' own 7 points.
constexpr int kDialogFontPoints = 8;
// The window is never resized, but it is never made smaller than this.
constexpr int kMinimumSize = 450;
// The title strip, where the window's menu is.
constexpr int kTitleStripHeight = 34;
constexpr skin::Rect kEmblem{4, 6, 22, 22};

// Where the game keeps its screenshots, in the game directory.
constexpr const char* kScreenshotFolder = "ScreenShot";

// The menu's text without its Windows accelerator marks ("(&A)", "&").
std::string MenuLabel(std::string text) {
    const size_t accel = text.find("(&");
    if (accel != std::string::npos && accel + 3 < text.size() && text[accel + 3] == ')') {
        text.erase(accel, 4);
    }
    std::string out;
    for (char c : text) {
        if (c != '&') {
            out += c;
        }
    }
    return out;
}

void PlaceButton(CSkinDialog& dialog, CHoverButton& button, const skin::Rect& r, unsigned strip) {
    dialog.Place(button.widget(), r.x, r.y, r.w, r.h);
    button.LoadStrip(strip);
    button.SetCursor(CHoverButton::kHandCursor);
}

}  // namespace

CKestrelDlg::CKestrelDlg(plat::ResourceHandle bundle)
    : m_bundle(bundle),
      m_appDir(plat::GetModuleDir()),
      m_urls(ReadDeploymentUrls(VersionIniPath())),
      m_transfer(ReadTransferSettings(VersionIniPath(), plat::JoinPath(m_appDir, "config.ini"),
                                      m_appDir)) {
    g_lpUpdateModule = new CUpdateModule();
    GtkWindow* window = this->window();
    gtk_window_set_title(window, WindowCaption(kLauncherVersion).c_str());
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    GdkGeometry hints{};
    hints.min_width = kMinimumSize;
    hints.min_height = kMinimumSize;
    gtk_window_set_geometry_hints(window, nullptr, &hints, GDK_HINT_MIN_SIZE);
    SetEasyMove(true);
    SetBackground(kBackgroundBitmap);
    SetDrawMode(skin::kDrawFitWindow);
    SetTransparent(skin::kColourKey, true);
    g_pMainDlg = this;

    PlaceControls();
    SetUpButtons();
    SetUpTexts();
    SetUpTitleMenu();
    m_title.SetText(TitleText(kLauncherVersion, g_lpUpdateModule->IsLiveServerUpdate() != 0));

    g_signal_connect(window, "delete-event", G_CALLBACK(OnDelete), this);
    g_signal_connect(window, "key-press-event", G_CALLBACK(OnKey), this);
    g_signal_connect(window, "button-press-event", G_CALLBACK(OnWindowPress), this);
}

void CKestrelDlg::PlaceControls() {
    // The notice page's place and its browser, which loads the page once
    // the start-up work has begun.
    m_browserArea = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    Place(m_browserArea, 8, 35, 783, 394);
    CreateNoticeBrowser();
    Place(m_status.widget(), 0, 150, 150, 40);
    Place(m_title.widget(), 30, 12, 390, 17);
    Place(m_filePercent.widget(), 431, 461, 28, 11);
    Place(m_totalPercent.widget(), 431, 472, 28, 11);
    Place(m_fileBar.widget(), 121, 462, kProgressBarRange, 12);
    Place(m_totalBar.widget(), 121, 475, kProgressBarRange, 7);
    m_totalBar.SetBitmap(kTotalBarBitmap);
    m_totalBar.SetRange(kProgressBarRange);
    m_totalBar.SetPos(0);
    m_fileBar.SetBitmap(kFileBarBitmap);
    m_fileBar.SetRange(kProgressBarRange);
    m_fileBar.SetPos(0);
}

void CKestrelDlg::CreateNoticeBrowser() {
    CNoticeBrowser::Hooks hooks;
    hooks.noticeUrl = [](bool first) {
        char url[kStringBuffer] = "";  // 259 characters and the terminator
        // The module does not use its second argument: the first call
        // gives it a zeroed 48-byte buffer, retries give none.
        char unused[48] = {};
        if (g_lpUpdateModule != nullptr) {
            g_lpUpdateModule->GetNoticeURL(url, first ? unused : nullptr);
        }
        return std::string(url);
    };
    hooks.log = [this](const std::string& line) { Log(line); };
    hooks.closeLauncher = [this] { RequestClose(); };
    m_notice = std::make_unique<CNoticeBrowser>(m_browserArea, window(), std::move(hooks));
}

void CKestrelDlg::SetUpButtons() {
    PlaceButton(*this, m_start, {652, 447, 121, 31}, kStartBitmapDisabled);
    PlaceButton(*this, m_close, {773, 9, 22, 21}, kCloseBitmap);
    PlaceButton(*this, m_home, {510, 9, 79, 20}, kHomeBitmap);
    PlaceButton(*this, m_home2, {595, 9, 79, 20}, kHome2Bitmap);
    PlaceButton(*this, m_faq, {679, 9, 79, 20}, kFaqBitmap);
    PlaceButton(*this, m_options, {243, 437, 83, 21}, kOptionsBitmap);
    PlaceButton(*this, m_directX, {116, 437, 83, 21}, kDirectXBitmap);
    PlaceButton(*this, m_shots, {370, 437, 83, 21}, kScreenshotsBitmap);
    PlaceButton(*this, m_terms, {521, 452, 19, 19}, kTermsBitmapOff);
    Connect(m_start, &CKestrelDlg::OnStart);
    Connect(m_close, &CKestrelDlg::RequestClose);
    Connect(m_home, &CKestrelDlg::OnHomePage);
    Connect(m_home2, &CKestrelDlg::OnHomePage);
    Connect(m_faq, &CKestrelDlg::OnFaq);
    Connect(m_options, &CKestrelDlg::OnOptions);
    Connect(m_directX, &CKestrelDlg::OnDirectX);
    Connect(m_shots, &CKestrelDlg::OnScreenshots);
    Connect(m_terms, &CKestrelDlg::OnTerms);
}

void CKestrelDlg::SetUpTexts() {
    const TextFont dialogFont = CTextEx::DefaultFont(kDialogFontPoints);
    m_title.SetBackground(kTitleBitmap);
    m_title.SetTextColor(kWhite);
    m_title.SetFont(dialogFont);
    m_title.SetDragParent(true);
    m_totalPercent.SetTextColor(kWhite);
    m_totalPercent.SetBackground(kPercentBitmap);
    m_totalPercent.SetDragParent(true);
    m_status.SetBackground(kStatusBitmap);
    m_status.SetAlign(skin::kAlignVCentre);
    m_status.SetTextColor(kWhite);
    m_status.SetFont(dialogFont);
    m_filePercent.SetTextColor(kWhite);
    m_filePercent.SetDragParent(true);
    m_filePercent.SetBackground(kPercentBitmap);
    m_filePercent.SetText(PercentText(0));
    m_totalPercent.SetText(PercentText(0));
}

void CKestrelDlg::SetUpTitleMenu() {
    // There is no system menu on an undecorated window: the about box is
    // offered from the title strip (right click) and the emblem (click).
    m_menu = gtk_menu_new();
    GtkWidget* about = gtk_menu_item_new_with_label(MenuLabel(Text(kAboutText)).c_str());
    g_signal_connect_swapped(
        about, "activate",
        G_CALLBACK(+[](gpointer self) { static_cast<CKestrelDlg*>(self)->OnAbout(); }), this);
    gtk_menu_shell_append(GTK_MENU_SHELL(m_menu), about);
    GtkWidget* repair = gtk_menu_item_new_with_label(MenuLabel(Text(kRepairText)).c_str());
    g_signal_connect_swapped(
        repair, "activate",
        G_CALLBACK(+[](gpointer self) { static_cast<CKestrelDlg*>(self)->OnRepair(); }), this);
    gtk_menu_shell_append(GTK_MENU_SHELL(m_menu), repair);
    gtk_widget_show_all(m_menu);
    gtk_menu_attach_to_widget(GTK_MENU(m_menu), GTK_WIDGET(window()), nullptr);

    m_emblem = gtk_drawing_area_new();
    gtk_widget_add_events(m_emblem, GDK_BUTTON_PRESS_MASK);
    // Draws nothing: the emblem is part of the background.
    g_signal_connect(m_emblem, "draw", G_CALLBACK(gtk_true), nullptr);
    g_signal_connect(m_emblem, "button-press-event", G_CALLBACK(OnEmblemPress), this);
    Place(m_emblem, kEmblem.x, kEmblem.y, kEmblem.w, kEmblem.h);
}

void CKestrelDlg::Connect(CHoverButton& button, void (CKestrelDlg::*handler)()) {
    button.SetOnClicked([this, handler] { (this->*handler)(); });
}

std::string CKestrelDlg::Text(unsigned id) const {
    char buf[kStringBuffer] = "";
    plat::LoadResourceString(m_bundle, id, buf, sizeof(buf));
    return buf;
}

void CKestrelDlg::Log(const std::string& text) const {
    if (g_lpUpdateModule != nullptr) {
        g_lpUpdateModule->SaveUpdateLog("%s\n", text.c_str());
    }
}

void CKestrelDlg::OnStart() {
    Log(kStartClickLog);
    const StartDecision decision = DecideStart(m_termsAgreed, m_updateComplete, m_bundle);
    if (decision.verdict != StartVerdict::CheckAndStart) {
        ShowBox(CMessageBox::Kind::Notice, decision.message, nullptr);
        return;
    }
    if (g_lpUpdateModule == nullptr) {
        return;
    }
    const bool directX = DirectXAccepted();
    bool started = false;
    if (directX) {
        Log(kExecuteLog);
        started = g_lpUpdateModule->ExecuteProgram() != 0;
    }
    const StartResult result =
        FinishStart(directX, started, g_lpUpdateModule->GetLastErrorMsg(), m_bundle);
    if (result.gameStarted) {
        RequestClose();
    } else {
        // The player may fix the cause (install Wine, say) and try again.
        ShowBox(CMessageBox::Kind::Error, result.errorText, nullptr);
    }
}

bool CKestrelDlg::DirectXAccepted() {
    return g_lpUpdateModule->CheckDXVersion(kRequiredDirectX) != 0;
}

void CKestrelDlg::OnTerms() {
    m_termsAgreed = !m_termsAgreed;
    const TermsLook look = TermsToggled(m_termsAgreed, m_updateComplete);
    m_terms.LoadStrip(look.checkBitmap);
    m_start.LoadStrip(look.startBitmap);
}

void CKestrelDlg::OnHomePage() {
    plat::OpenInBrowser(m_urls.homePage);
}

void CKestrelDlg::OnFaq() {
    plat::OpenInBrowser(m_urls.faq);
}

void CKestrelDlg::OnScreenshots() {
    // The game (under Wine) may have made it as "screenshot".
    const std::string folder = plat::FindNameNoCase(m_appDir, kScreenshotFolder);
    if (!plat::IsDirectory(folder)) {
        plat::CreateDirectory(folder);
    }
    plat::OpenFolder(folder);
}

void CKestrelDlg::OnOptions() {
    if (m_optionDlg && m_optionDlg->Showing()) {
        m_optionDlg->Present();
        return;
    }
    m_optionDlg = std::make_unique<COptionDlg>(window(), m_appDir, m_bundle);
}

void CKestrelDlg::OnAbout() {
    if (m_about && m_about->Showing()) {
        m_about->Present();
        return;
    }
    m_about = std::make_unique<CAboutDlg>(window());
}

gboolean CKestrelDlg::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
    // The window manager's close is the close button's: the window goes
    // when the worker has stopped, not now.
    static_cast<CKestrelDlg*>(self)->RequestClose();
    return TRUE;
}

gboolean CKestrelDlg::OnKey(GtkWidget*, GdkEventKey* e, gpointer self) {
    // Enter and Escape never close the launcher; the notice page's forms
    // take them when the page has the focus.
    auto* dlg = static_cast<CKestrelDlg*>(self);
    if (dlg->m_notice && dlg->m_notice->HasFocus()) {
        return FALSE;
    }
    return e->keyval == GDK_KEY_Return || e->keyval == GDK_KEY_KP_Enter ||
           e->keyval == GDK_KEY_ISO_Enter || e->keyval == GDK_KEY_Escape;
}

gboolean CKestrelDlg::OnWindowPress(GtkWidget* w, GdkEventButton* e, gpointer self) {
    if (e->type != GDK_BUTTON_PRESS || e->button != GDK_BUTTON_SECONDARY) {
        return FALSE;
    }
    // The press may come from a label on the strip: measure from the
    // window's own origin.
    int originX = 0;
    int originY = 0;
    gdk_window_get_origin(gtk_widget_get_window(w), &originX, &originY);
    if (e->y_root - originY >= kTitleStripHeight) {
        return FALSE;
    }
    auto* dlg = static_cast<CKestrelDlg*>(self);
    gtk_menu_popup_at_pointer(GTK_MENU(dlg->m_menu), reinterpret_cast<GdkEvent*>(e));
    return TRUE;
}

gboolean CKestrelDlg::OnEmblemPress(GtkWidget*, GdkEventButton* e, gpointer self) {
    if (e->type != GDK_BUTTON_PRESS) {
        return FALSE;
    }
    auto* dlg = static_cast<CKestrelDlg*>(self);
    gtk_menu_popup_at_pointer(GTK_MENU(dlg->m_menu), reinterpret_cast<GdkEvent*>(e));
    return TRUE;
}
