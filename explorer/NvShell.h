// What the explorer controls ask of the desktop: messages, confirmations, opening a file and the
// properties of a path. Replaceable, so that tests can answer them.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

namespace brenwick {

struct TNvShell {
    std::function<void(QWidget* parent, const QString& text)> warn;   // a warning box
    std::function<void(QWidget* parent, const QString& text)> error;  // an error box
    std::function<bool(QWidget* parent, const QString& text)> confirm;
    std::function<bool(const QString& path)> open;  // the desktop's application
    std::function<void(QWidget* parent, const QString& path)> properties;
};
// Message boxes, the desktop's default application and the explorer's own properties dialog.
TNvShell StandardShell();

// The warning for a removable or optical drive without a readable disc.
inline const QString kNoDiskText = "There is no disk in Drive or Drive is not ready";
inline const QString kInvalidFolderNameText = "Folder Name contains invalid characters";

}  // namespace brenwick
