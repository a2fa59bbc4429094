#pragma once
// What the Qt dialog windows compute without a window: the dialog font, the
// conversion of dialog units to pixels, texts with access-key marks and the
// file-dialog filters.

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include "base/WideText.h"
#include "ui/DialogTemplates.h"

namespace quorvel::qt {

inline QString ToQString(const Text& text) { return QString::fromStdU16String(text); }
inline Text FromQString(const QString& text) { return text.toStdU16String(); }

// Horizontal and vertical dialog base units, in pixels: the average width
// of the font's letters and the height of its characters.
struct BaseUnits {
  int x = 0;
  int y = 0;
};

// (a * b) / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c);

// The font a template names, replaced by one that is present here with the
// same metrics where there is one.
QFont DialogFont(const DialogTemplate& tpl);

// Base units of `font`: x = width of "A".."Z" "a".."z" divided by 52,
// rounded; y = the font's character height (ascent plus descent).
BaseUnits BaseUnitsOf(const QFont& font);

// A control's rectangle in pixels: x and width in quarters of the
// horizontal base unit, y and height in eighths of the vertical one.
QRect ControlRect(const ControlTemplate& control, BaseUnits units);
QSize DialogClientSize(const DialogTemplate& tpl, BaseUnits units);

// The text a static control shows for `text` when it processes access keys:
// "&&" shows one "&", a single "&" is not shown.
QString WithoutAccessMarks(const QString& text);

// The name filters of a file-open dialog for a filter in the form
// "Text (*.ext)|*.ext|All Files (*.*)|*.*||" (ui/FileFilter.h): one per
// choice, the pattern list in the parentheses taken from its patterns.
// "*.*" becomes "*" so that it matches names without a dot too.
QStringList NameFilters(const Text& filter);

}  // namespace quorvel::qt
