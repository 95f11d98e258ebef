#include "launcher/skin/SkinWidget.h"

SkinWidget::SkinWidget(GtkWidget* widget) : m_widget(widget) {
    g_object_ref_sink(m_widget);
}

SkinWidget::~SkinWidget() {
    g_signal_handlers_disconnect_by_data(m_widget, this);
    gtk_widget_destroy(m_widget);
    g_object_unref(m_widget);
}

void SkinWidget::Connect(const char* signal, GCallback handler) {
    g_signal_connect(m_widget, signal, handler, this);
}
