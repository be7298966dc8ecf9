#include "ui/gtk/update_log_view.h"

#include <webkit2/webkit2.h>

#include <cstdlib>

#ifndef UPDATE_LOG_HOST
#error "UPDATE_LOG_HOST must name the update-log service's host"
#endif

namespace updater {

namespace {

constexpr char kUpdateLogPath[] =
    "/zrq_api/io.php?a=uplog&apiver=905&c=0&gdata=0&softcode=1000003";

// Every handler below answers "handled", which keeps WebKit from showing
// its own dialog; the request itself is turned down.
gboolean SuppressScriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer) {
  return TRUE;  // alerts vanish, confirms answer no, prompts give nothing
}

gboolean DenyPermission(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
  webkit_permission_request_deny(request);
  return TRUE;
}

gboolean CancelAuthentication(WebKitWebView*, WebKitAuthenticationRequest* request,
                              gpointer) {
  webkit_authentication_request_cancel(request);
  return TRUE;
}

gboolean CancelFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer) {
  webkit_file_chooser_request_cancel(request);
  return TRUE;
}

gboolean CancelColourChooser(WebKitWebView*, WebKitColorChooserRequest* request,
                             gpointer) {
  webkit_color_chooser_request_cancel(request);
  return TRUE;
}

gboolean SuppressPrint(WebKitWebView*, WebKitPrintOperation*, gpointer) { return TRUE; }

gboolean SuppressNotification(WebKitWebView*, WebKitNotification*, gpointer) {
  return TRUE;
}

// A link that asks for a new window: this view follows it instead.
GtkWidget* OpenInThisView(WebKitWebView* view, WebKitNavigationAction* action, gpointer) {
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  const char* uri = request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
  if (uri != nullptr && *uri != '\0') webkit_web_view_load_uri(view, uri);
  return nullptr;
}

}  // namespace

std::string UpdateLogUrl() {
  const char* host = std::getenv(kUpdateLogHostVariable);
  if (host == nullptr || *host == '\0') host = UPDATE_LOG_HOST;
  return std::string("http://") + host + kUpdateLogPath;
}

GtkWidget* CreateUpdateLogView(const std::string& url) {
  // Ephemeral: nothing of the page is read from or written to a disk cache
  // or a cookie store; the document-viewer model keeps no memory cache
  // either, so every start fetches the log anew.
  WebKitWebContext* context = webkit_web_context_new_ephemeral();
  webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
  GtkWidget* widget = webkit_web_view_new_with_context(context);
  g_object_unref(context);  // the view keeps it
  WebKitWebView* view = WEBKIT_WEB_VIEW(widget);

  WebKitSettings* settings = webkit_web_view_get_settings(view);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
  webkit_settings_set_enable_write_console_messages_to_stdout(settings, FALSE);
  // A text page needs no GPU, and machines without one render reliably.
  webkit_settings_set_hardware_acceleration_policy(settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_web_view_set_zoom_level(view, 1.0);

  g_signal_connect(view, "script-dialog", G_CALLBACK(SuppressScriptDialog), nullptr);
  g_signal_connect(view, "permission-request", G_CALLBACK(DenyPermission), nullptr);
  g_signal_connect(view, "authenticate", G_CALLBACK(CancelAuthentication), nullptr);
  g_signal_connect(view, "run-file-chooser", G_CALLBACK(CancelFileChooser), nullptr);
  g_signal_connect(view, "run-color-chooser", G_CALLBACK(CancelColourChooser), nullptr);
  g_signal_connect(view, "print", G_CALLBACK(SuppressPrint), nullptr);
  g_signal_connect(view, "show-notification", G_CALLBACK(SuppressNotification), nullptr);
  g_signal_connect(view, "create", G_CALLBACK(OpenInThisView), nullptr);

  webkit_web_view_load_uri(view, url.c_str());
  return widget;
}

}  // namespace updater
