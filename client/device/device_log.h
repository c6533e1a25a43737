#pragma once

#include <QLoggingCategory>

namespace torvanix {
// Developer traces of the device access code ("torvanix.device"; silence with
// QT_LOGGING_RULES="torvanix.device.debug=false").
Q_DECLARE_LOGGING_CATEGORY(lcDevices)
} // namespace torvanix
