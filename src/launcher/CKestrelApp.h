// CKestrelApp: the launcher program. It sets up the toolkit under the
// launcher's application id, loads the language bundle (without it there
// is nothing to show: the player is told and the program ends), runs the
// main dialog until it quits the main loop, and tears everything down in
// order. Main thread only.
#pragma once
#include <memory>
#include <vector>

#include <glib.h>

#include "platform/Resource.h"

class CKestrelDlg;

class CKestrelApp {
public:
    // The application id: the desktop entry's StartupWMClass, the window's
    // class and the toolkit's program name.
    static constexpr const char* kApplicationId = "jp.varn.Launcher";

    // Exit status of the launcher.
    enum : int {
        kExitOk = 0,           // closed (the update ended, the game started, the player closed it)
        kExitCannotStart = 1,  // no display, or the language bundle is missing
        // (2: the update worker would not stop, see CKestrelDlg)
        kExitHandOverFailed = 3,  // a newer launcher was installed but could not be started
    };

    CKestrelApp();
    ~CKestrelApp();
    CKestrelApp(const CKestrelApp&) = delete;
    CKestrelApp& operator=(const CKestrelApp&) = delete;

    // Runs the launcher; returns the process's exit status.
    int Run(int argc, char** argv);

private:
    // The language bundle the launcher shows its texts and pictures from
    // (Resource_<Lang>.ini by the locale, as every host chooses it);
    // null when it cannot be read.
    static std::unique_ptr<plat::ResourceBundle> LoadResourceBundle();
    static gboolean OnCloseSignal(gpointer self);
    // Once the window is gone: becomes the launcher the update named.
    // Returns only when that failed, after telling the player.
    int HandOver();
    void SetWindowIcon() const;

    std::unique_ptr<plat::ResourceBundle> m_bundle;
    std::unique_ptr<CKestrelDlg> m_dialog;
    std::vector<guint> m_signalSources;
};
