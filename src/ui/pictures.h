#pragma once
// The program's own pictures, drawn as SVG in one visual language (src/ui/icons) and rendered
// sharp at any scale: the command bar's pictures, the type chooser's, the wizard strip and the
// program's icon.

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace nimbrel::ui {

// The names of the pictures (the SVG files without ".svg"): "new", "open", "save", "exit",
// "compile", "test", "addfile", "delfile", "check", "help", "about", "website", "preview",
// "nimbrel" (the program), "slideshow", "flash", "wizard_strip", the message boxes'
// "msg_information", "msg_warning", "msg_critical", "msg_question", and "file_missing".
QStringList PictureNames();

// A picture rendered at `size` device-independent pixels for a screen of `devicePixelRatio`;
// a null pixmap for an unknown name.
QPixmap RenderPicture(const QString& name, QSize size, qreal devicePixelRatio);

// The same picture in grey, lighter than its colours: what a command button shows until the
// pointer is over it.
QPixmap GreyPicture(const QPixmap& colour);

// A command button's picture at 48 x 48: the grey version normally and while disabled, the
// colour one while the pointer is over the button (QIcon::Active), at scales 1 and 2 and the
// screen's own.
QIcon CommandPicture(const QString& name);

// The program's icon (window icon, About box), at the usual icon sizes.
QIcon ProgramIcon();

// A file list entry's icon: a page with a band in the colour of the file's type that names its
// extension ("JPG"); for a path that names no file, a dashed page with a red cross.
QIcon FileEntryIcon(const QString& path);

// The picture of a message box of that kind at 48 x 48 (null for NoIcon).
QPixmap MessagePicture(int messageBoxIcon, qreal devicePixelRatio);

}  // namespace nimbrel::ui
