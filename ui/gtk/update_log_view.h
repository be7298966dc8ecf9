// The web view of the window's panel (超文本浏览框1): the product's update
// log, fetched over plain HTTP from the update-log service.
//
// It loads its page as soon as it exists, shows no dialogs of its own
// (script dialogs, authentication, permissions, file and colour choosers,
// printing and notifications are all turned down quietly), reads its page
// from the network with no disk cache, shows text at its normal size, and
// lets the user scroll and follow links; a link that asks for a new window
// opens in this view. An unreachable page shows the view's own error page.
#pragma once

#include <gtk/gtk.h>

#include <string>

namespace updater {

// The environment variable that overrides the update-log service's host
// (a host, or host:port).
inline constexpr char kUpdateLogHostVariable[] = "TAVRIX_UPDATE_LOG_HOST";

// The update-log page's URL: http://HOST/zrq_api/io.php?... with HOST from
// the environment variable above when set and not empty, else the host the
// program was built with.
std::string UpdateLogUrl();

// A new web view (floating reference) that has started loading `url`.
// Window's thread.
GtkWidget* CreateUpdateLogView(const std::string& url);

}  // namespace updater
