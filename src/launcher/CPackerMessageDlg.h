// The small secondary progress window: a line of text and a bar, shown
// while the game's data is rewritten and the launcher waits for it (the
// main window is hidden then). It cannot be dismissed by the player: Enter
// and Escape do nothing and it has no close button; its owner destroys it.
// Main thread only.
#pragma once
#include <string>

#include "launcher/skin/CSkinDialog.h"
#include "launcher/skin/CStaticEx.h"
#include "launcher/skin/CTextEx.h"

class CPackerMessageDlg : public CSkinDialog {
public:
    // The bar is this many pixels long; a percentage is scaled to it.
    static constexpr int kBarRange = 337;

    // Builds the window (background 182, bar 141, text 119 over 179) and
    // shows it centred on the screen. owner: kept above it when it shows,
    // may be null.
    explicit CPackerMessageDlg(GtkWindow* owner);

    // Replaces the line of text (plain text).
    void SetText(const std::string& text);
    // The bar at percent of its length (clamped to 0..100).
    void SetPercent(int percent);
    int BarPos() const { return m_bar.GetPos(); }

private:
    static gboolean OnKey(GtkWidget* w, GdkEventKey* e, gpointer self);

    CStaticEx m_bar;
    CTextEx m_text;
};
