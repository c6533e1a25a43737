#pragma once

#include <QString>
#include <QStringList>

namespace torvanix {

// The per-model configuration templates the page fetches with GetLocalConf (":/drive/<Name>",
// where Name is the device record's Version text; see client/resources/drive/models/README.md).
// They live in a static library, so their resource initialiser has to be referenced; this is
// done when the translators are linked in, and may be called again at any time.
void initModelTemplates();

// The resource names of every model template (":/drive/" + name), sorted.
QStringList modelTemplateNames();

} // namespace torvanix
