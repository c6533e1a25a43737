#include "driver_templates.h"

#include <QDebug>
#include <QFile>
#include <mutex>

static void registerDriveResources() {
    Q_INIT_RESOURCE(drive_generations);
}

namespace torvanix {

void initDriveResources() {
    static std::once_flag once;
    std::call_once(once, registerDriveResources);
}

namespace {
// The expression form cannot hold a double quote inside its double-quoted literal; such a task
// never matches.
bool expressible(const QString &task) {
    return !task.contains(QLatin1Char('"'));
}

const pugi::xml_node firstRow(const pugi::xml_document &tmpl, const QString &task) {
    if (!expressible(task))
        return {};
    const QByteArray wanted = task.toUtf8();
    for (pugi::xml_node root = tmpl.first_child(); root; root = root.next_sibling()) {
        if (root.type() != pugi::node_element || qstrcmp(root.name(), "Driver") != 0)
            continue;
        for (pugi::xml_node row = root.child("key"); row; row = row.next_sibling("key")) {
            const pugi::xml_attribute t = row.attribute("Task");
            if (t && qstrcmp(t.value(), wanted.constData()) == 0)
                return row;
        }
    }
    return {};
}
} // namespace

// ---- DriverTemplate ----------------------------------------------------------------------------

DriverTemplate::DriverTemplate() = default;

bool DriverTemplate::load(const QByteArray &utf8) {
    pugi::xml_document doc;
    if (!doc.load_buffer(utf8.constData(), static_cast<size_t>(utf8.size()), pugi::parse_default,
                         pugi::encoding_utf8))
        return false;
    const pugi::xml_node driver = doc.child("Driver");
    const QString version = QString::fromUtf8(driver.attribute("Version").value());
    if (version.isEmpty())
        return false;

    QHash<QString, Row> rows;
    for (pugi::xml_node root = doc.first_child(); root; root = root.next_sibling()) {
        if (root.type() != pugi::node_element || qstrcmp(root.name(), "Driver") != 0)
            continue;
        for (pugi::xml_node row = root.child("key"); row; row = row.next_sibling("key")) {
            const pugi::xml_attribute t = row.attribute("Task");
            if (!t)
                continue;
            const QString task = QString::fromUtf8(t.value());
            if (rows.contains(task))
                continue; // the first row in file order wins
            rows.insert(task, Row{QString::fromUtf8(row.attribute("Code").value()),
                                  QString::fromUtf8(row.attribute("vkCode").value())});
        }
    }
    doc_.reset(doc);
    version_ = version;
    text_ = QString::fromUtf8(utf8);
    firstRow_ = std::move(rows);
    return true;
}

QString DriverTemplate::code(const QString &task) const {
    if (!expressible(task))
        return {};
    const auto it = firstRow_.constFind(task);
    return it == firstRow_.constEnd() ? QString() : it->code;
}

QString DriverTemplate::vkCode(const QString &task) const {
    if (!expressible(task))
        return {};
    const auto it = firstRow_.constFind(task);
    return it == firstRow_.constEnd() ? QString() : it->vkCode;
}

bool DriverTemplate::hasTask(const QString &task) const {
    return expressible(task) && firstRow_.contains(task);
}

// ---- DriverTemplates ---------------------------------------------------------------------------

DriverTemplates::DriverTemplates() {
    initDriveResources();
}

bool DriverTemplates::loadDriverTemplate(const QString &resourcePath) {
    QFile file(resourcePath);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "drive template not readable:" << resourcePath;
        return false;
    }
    return loadDriverTemplateText(file.readAll());
}

bool DriverTemplates::loadDriverTemplateText(const QByteArray &utf8) {
    auto tmpl = std::make_unique<DriverTemplate>();
    if (!tmpl->load(utf8))
        return false;
    qDebug() << "drive template" << tmpl->version();
    QWriteLocker lock(&lock_);
    current_.insert(tmpl->version(), tmpl.get());
    owned_.push_back(std::move(tmpl));
    return true;
}

bool DriverTemplates::loadBuiltIn() {
    bool ok = true;
    for (const char *path : {":/drive/D2.0", ":/drive/D3.0", ":/drive/D4.0"})
        ok = loadDriverTemplate(QString::fromLatin1(path)) && ok;
    return ok;
}

const pugi::xml_document *DriverTemplates::document(const QString &generation) const {
    QReadLocker lock(&lock_);
    const DriverTemplate *t = current_.value(generation, nullptr);
    return t ? &t->document() : nullptr;
}

QString DriverTemplates::text(const QString &generation) const {
    QReadLocker lock(&lock_);
    const DriverTemplate *t = current_.value(generation, nullptr);
    return t ? t->text() : QString();
}

const DriverTemplate &DriverTemplates::generation(const QString &generation) const {
    QReadLocker lock(&lock_);
    const DriverTemplate *t = current_.value(generation, nullptr);
    return t ? *t : empty_;
}

QStringList DriverTemplates::versions() const {
    QReadLocker lock(&lock_);
    return current_.keys();
}

// ---- lookups -----------------------------------------------------------------------------------

QString lookupTaskCode(const pugi::xml_document &tmpl, const QString &task) {
    return QString::fromUtf8(firstRow(tmpl, task).attribute("Code").value());
}

QString lookupTaskVkCode(const pugi::xml_document &tmpl, const QString &task) {
    return QString::fromUtf8(firstRow(tmpl, task).attribute("vkCode").value());
}

QString lookupTaskCode(const DriverTemplate &tmpl, const QString &task) {
    return tmpl.code(task);
}

QString lookupTaskVkCode(const DriverTemplate &tmpl, const QString &task) {
    return tmpl.vkCode(task);
}

} // namespace torvanix
