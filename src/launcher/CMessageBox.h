// A message box of the launcher: caption "Update Program" (or one given),
// an icon for its kind, one plain text (never markup) and an OK button, or
// OK and Cancel for a question. It does not block: the main loop goes on
// while it shows, and the owner is told when it has been dismissed (a
// button, Enter for OK, Escape or the window manager's close for Cancel).
// Main thread only.
#pragma once
#include <gtk/gtk.h>

#include <functional>
#include <string>

class CMessageBox {
public:
    enum class Kind { Error, Notice };

    // Shows the box at once, modal and centred on owner (null: no owner,
    // centred on the screen). onDismissed runs once, after the box has
    // gone; it may destroy this object.
    CMessageBox(GtkWindow* owner, Kind kind, const std::string& text,
                std::function<void()> onDismissed);
    // The same with a caption of its own and, when askCancel, a Cancel
    // button; onAnswer gets true for OK only.
    CMessageBox(GtkWindow* owner, Kind kind, const std::string& text, const std::string& caption,
                bool askCancel, std::function<void(bool ok)> onAnswer);
    // Takes the box off the screen if it still shows; onDismissed does not
    // run then.
    ~CMessageBox();
    CMessageBox(const CMessageBox&) = delete;
    CMessageBox& operator=(const CMessageBox&) = delete;

    // Borrowed; null once dismissed.
    GtkWidget* widget() const { return m_dialog; }

private:
    static void OnResponse(GtkDialog* dialog, gint response, gpointer self);
    // Destroyed with its owner.
    static void OnDestroy(GtkWidget* dialog, gpointer self);

    GtkWidget* m_dialog = nullptr;
    std::function<void(bool ok)> m_onAnswer;
};
