#include "sync_model_templates.h"

#include <QDir>
#include <mutex>

static void registerModelTemplates() {
    Q_INIT_RESOURCE(drive_models);
}

namespace torvanix {

void initModelTemplates() {
    static std::once_flag once;
    std::call_once(once, registerModelTemplates);
}

QStringList modelTemplateNames() {
    initModelTemplates();
    QStringList names;
    static const QStringList generations{"D2.0", "D3.0", "D4.0", "Define"};
    for (const QString &name : QDir(QStringLiteral(":/drive")).entryList(QDir::Files)) {
        if (!generations.contains(name))
            names << name;
    }
    names.sort();
    return names;
}

} // namespace torvanix
