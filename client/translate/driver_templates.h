#pragma once

#include <QHash>
#include <QMap>
#include <QReadWriteLock>
#include <QString>
#include <memory>
#include <pugixml.hpp>
#include <vector>

namespace torvanix {

// Registers the built-in drive resources (":/drive/D2.0", ":/drive/D3.0", ":/drive/D4.0",
// ":/drive/Define"). They live in a static library, so the resource initialiser has to be
// referenced explicitly; DriverTemplates calls this itself. Safe to call repeatedly and from
// any thread.
void initDriveResources();

// One generation's function mapping table, parsed once and never modified afterwards, so any
// number of translations may read it at the same time.
//
// Lookups: a row is selected when its Task attribute equals the task text exactly
// (case-sensitive); the first such row among the `key` children of /Driver in file order wins,
// its Code (or vkCode) is the answer, and a missing attribute answers the empty text. This is
// the same result as selecting /Driver/key[@Task="<task>"] and taking the first node, without
// compiling an expression per lookup: the first-row index is built once at load time. A task
// containing a double quote cannot be written into that expression and answers the empty
// text, as the expression form would.
class DriverTemplate {
public:
    DriverTemplate();

    // Parses the file text; false (and nothing kept) when it does not parse.
    bool load(const QByteArray &utf8);

    QString version() const { return version_; }
    QString text() const { return text_; }
    const pugi::xml_document &document() const { return doc_; }
    bool isEmpty() const { return version_.isEmpty(); }

    QString code(const QString &task) const;
    QString vkCode(const QString &task) const;
    // Whether some row carries this Task.
    bool hasTask(const QString &task) const;

private:
    struct Row {
        QString code;
        QString vkCode;
    };
    pugi::xml_document doc_;
    QString version_;
    QString text_;
    QHash<QString, Row> firstRow_;
};

// The generation tables of the program, keyed by /Driver@Version.
class DriverTemplates {
public:
    DriverTemplates();

    // Reads one template resource or file, parses it and stores it under its Version; a later
    // file with the same version replaces the earlier one. False when the file cannot be read,
    // does not parse or carries no Version (nothing stored then).
    bool loadDriverTemplate(const QString &resourcePath);
    // The same from text already in memory (tests, benchmarks).
    bool loadDriverTemplateText(const QByteArray &utf8);
    // Loads ":/drive/D2.0", ":/drive/D3.0" and ":/drive/D4.0".
    bool loadBuiltIn();

    // The parsed table of a generation; nullptr when none was loaded. Immutable and valid for
    // the lifetime of this object, even after a later load replaced that version.
    const pugi::xml_document *document(const QString &generation) const;
    // The file text of a generation; empty when none was loaded.
    QString text(const QString &generation) const;
    // The table of a generation; an empty table (every lookup answers "") when none was loaded.
    const DriverTemplate &generation(const QString &generation) const;

    QStringList versions() const;

private:
    mutable QReadWriteLock lock_;
    QMap<QString, const DriverTemplate *> current_;
    // Every table ever loaded stays alive, so references handed out never dangle.
    std::vector<std::unique_ptr<DriverTemplate>> owned_;
    DriverTemplate empty_;
};

// The Code / vkCode of the first row of `tmpl` whose Task equals `task` (see DriverTemplate for
// the exact rule), read straight from a parsed document. Prefer the DriverTemplate overloads
// in hot paths: they use the prebuilt index.
QString lookupTaskCode(const pugi::xml_document &tmpl, const QString &task);
QString lookupTaskVkCode(const pugi::xml_document &tmpl, const QString &task);
QString lookupTaskCode(const DriverTemplate &tmpl, const QString &task);
QString lookupTaskVkCode(const DriverTemplate &tmpl, const QString &task);

} // namespace torvanix
