#pragma once

#include <QString>

namespace torvanix {

// The shell's diagnostic log "ozk.log": lines starting "Application Info:" or
// "Application Error:", written with time, level and source line.
void setShellLogFile(const QString &path);
QString shellLogFile();
void shellLog(int line, const QString &message);

// Splits what a later instance sent into complete ";"-terminated segments; the incomplete
// rest stays in buffer.
QStringList takeInstanceSegments(QByteArray &buffer);

} // namespace torvanix

#define APP_LOG(message) ::torvanix::shellLog(__LINE__, (message))
