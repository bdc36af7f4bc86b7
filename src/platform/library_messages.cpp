#include "platform/library_messages.h"

#include <glib.h>

namespace platform {

namespace {

void Drop(const gchar* /*domain*/, GLogLevelFlags /*level*/, const gchar* /*message*/, gpointer /*data*/) {}

}  // namespace

QuietLibraryCriticals::QuietLibraryCriticals()
    : handler_(g_log_set_handler(nullptr, G_LOG_LEVEL_CRITICAL, Drop, nullptr)) {}

QuietLibraryCriticals::~QuietLibraryCriticals() {
    if (handler_ != 0) g_log_remove_handler(nullptr, handler_);
}

}  // namespace platform
