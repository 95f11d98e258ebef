// The about box: caption "Kestrel Information", the application icon, the
// program's name and version, and an OK button. It does not block; OK or
// the window manager's close take it away. Main thread only.
#pragma once
#include <gtk/gtk.h>

class CAboutDlg {
public:
    // Shows the box at once, modal and centred on owner.
    explicit CAboutDlg(GtkWindow* owner);
    ~CAboutDlg();
    CAboutDlg(const CAboutDlg&) = delete;
    CAboutDlg& operator=(const CAboutDlg&) = delete;

    // False once the box has been dismissed.
    bool Showing() const { return m_dialog != nullptr; }
    // Brings a showing box to the front.
    void Present();

private:
    static void OnResponse(GtkDialog* dialog, gint response, gpointer self);
    // Destroyed with its owner.
    static void OnDestroy(GtkWidget* dialog, gpointer self);

    GtkWidget* m_dialog = nullptr;
};
