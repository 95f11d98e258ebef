// What every skinned control shares: it owns one GTK widget (a reference of
// its own, so the control and the window may go in either order) and
// destroys it with itself, which also takes it out of its dialog.
//
// Threads: skinned controls are used on the GTK main thread only. The update
// worker never calls them; the window hands progress over to the main
// thread and sets the values there.
#pragma once
#include <gtk/gtk.h>

class SkinWidget {
public:
    SkinWidget(const SkinWidget&) = delete;
    SkinWidget& operator=(const SkinWidget&) = delete;

    // Borrowed; valid for the control's lifetime (place it with
    // CSkinDialog::Place).
    GtkWidget* widget() const { return m_widget; }
    int width() const { return gtk_widget_get_allocated_width(m_widget); }
    int height() const { return gtk_widget_get_allocated_height(m_widget); }

protected:
    // Takes the floating reference of a newly made widget.
    explicit SkinWidget(GtkWidget* widget);
    // Disconnects every handler given this control, then destroys the widget.
    ~SkinWidget();

    // Connects a signal of the widget with this control as its data.
    void Connect(const char* signal, GCallback handler);
    void Redraw() { gtk_widget_queue_draw(m_widget); }
    // The control a handler connected through Connect was given.
    template <class T>
    static T* Self(gpointer data) {
        return static_cast<T*>(static_cast<SkinWidget*>(data));
    }

    GtkWidget* const m_widget;
};
