// COptionDlg: the game options dialog, where the player sets the game's
// screen mode and graphics options. It reads the settings files of the
// game directory when it opens (host/GameOptions), shows them, and writes
// what the player changed when he closes it with OK; the close button and
// Escape leave the files alone. A save that fails keeps the dialog open
// and says so in a box (the files keep their old contents).
//
// It is modal over its owner but does not block: the main loop (and the
// update) goes on while it shows. Main thread only.
//
// Lifetime: constructed shown; OK or cancel hide it (Showing() turns
// false). The owner destroys it later, never from inside one of its
// handlers.
#pragma once
#include <array>
#include <memory>
#include <string>

#include "host/GameOptions.h"
#include "launcher/CMessageBox.h"
#include "launcher/skin/CHoverButton.h"
#include "launcher/skin/CSkinDialog.h"
#include "launcher/skin/CSkinSlider.h"
#include "launcher/skin/CTextEx.h"
#include "platform/Resource.h"

class COptionDlg : public CSkinDialog {
public:
    // gameDir: where 3dsetup.ini and GameData.dat are; bundle: the
    // language bundle, borrowed for the dialog's lifetime.
    COptionDlg(GtkWindow* owner, const std::string& gameDir, plat::ResourceHandle bundle);
    ~COptionDlg() override;

    bool Showing() const;
    // Brings a showing dialog to the front.
    void Present();

private:
    static constexpr size_t kLabelCount = 10;

    void SetUpButtons();
    void SetUpTexts();
    void SetUpCombos();
    GtkWidget* MakeCombo(int x, int y);
    void SetUpGamma();
    // Shows the record in every control (no change of the record follows).
    void ShowValues();
    void ShowChecks();
    std::string Text(unsigned id) const;

    void OnGammaStep(int delta);
    void OnReset();
    void OnOk();
    void Close();
    static void OnComboChanged(GtkComboBox* combo, gpointer self);
    static void OnGammaChanged(GtkRange* range, gpointer self);
    static gboolean OnKey(GtkWidget* w, GdkEventKey* e, gpointer self);

    const std::string m_gameDir;
    const plat::ResourceHandle m_bundle;
    const GAME_OPTIONS m_loaded;     // as read, to tell the player's changes
    GAME_OPTIONS m_options;          // as the controls show it
    bool m_settingControls = false;  // ShowValues is at work, not the player

    CTextEx m_title;
    std::array<CTextEx, kLabelCount> m_labels;
    CTextEx m_gammaValue;
    // Owned by the window (raw GtkComboBoxText).
    GtkWidget* m_resolution = nullptr;  // 1044
    GtkWidget* m_texture = nullptr;     // 1033
    GtkWidget* m_lod = nullptr;         // 1034
    GtkWidget* m_effect = nullptr;      // 1035
    CSkinSlider m_gamma;                // 1042
    CHoverButton m_gammaDown;           // 1043
    CHoverButton m_gammaUp;             // 1047
    CHoverButton m_shadow;              // 1050
    CHoverButton m_glow;                // 1037
    CHoverButton m_mapEffect;           // 1039
    CHoverButton m_fog;                 // 1038
    CHoverButton m_windowMode;          // 1040
    CHoverButton m_reset;               // 4
    CHoverButton m_ok;                  // 3
    CHoverButton m_cancel;              // 1026
    std::unique_ptr<CMessageBox> m_box;
};
