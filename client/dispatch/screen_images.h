#pragma once

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>

namespace torvanix {

// Picture work that needs the toolkit's image classes. The dispatcher stays free of them;
// client/screen implements this and the program and the command-line tool hand it in.
// Every call may come from a worker thread.
class ScreenImages {
public:
    virtual ~ScreenImages() = default;

    enum class Saved { Yes, NotAPicture, WriteFailed };
    // Loads a picture from encoded bytes (format detected from the content) and saves it as
    // PNG to `path`, through a temporary file renamed into place: a failed or interrupted
    // write leaves the earlier picture whole.
    virtual Saved storePng(const QByteArray &encoded, const QString &path) = 0;
    // The same; false when the bytes are no picture or the file cannot be written.
    bool savePng(const QByteArray &encoded, const QString &path) {
        return storePng(encoded, path) == Saved::Yes;
    }

    // The size of the picture in the file; an invalid size when it cannot be loaded.
    virtual QSize pictureSize(const QString &path) = 0;

    // The picture in the file in the screen's monochrome page format (bands of 8 rows, one
    // byte per column, bit i = row i of the band lit). Empty when it cannot be loaded.
    virtual QByteArray monochromePages(const QString &path, bool invert) = 0;
};

} // namespace torvanix
