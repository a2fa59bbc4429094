#include "ui/qt/DialogLayout.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QRegularExpression>

#include <algorithm>
#include <cstdint>

#include "ui/FileFilter.h"

namespace quorvel::qt {

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const int64_t product = static_cast<int64_t>(a) * b;
  const int64_t divisor = c < 0 ? -static_cast<int64_t>(c) : c;
  const bool negative = (product < 0) != (c < 0);
  const int64_t magnitude = ((product < 0 ? -product : product) + divisor / 2) / divisor;
  return static_cast<int>(negative ? -magnitude : magnitude);
}

QFont DialogFont(const DialogTemplate& tpl) {
  const QString name = ToQString(tpl.fontName);
  const QFont uiFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  QFont font;
  if (name == u"MS Shell Dlg" || name == u"MS Shell Dlg 2") {
    // The desktop's own dialog font.
    font = uiFont;
  } else {
    QStringList families;
    if (name == u"MS PGothic") {
      // The same Japanese Gothic design with the same metrics, then fonts
      // that cover Japanese and Chinese.
      families << QStringLiteral("IPAPGothic") << QStringLiteral("IPAGothic")
               << QStringLiteral("WenQuanYi Zen Hei");
    } else {
      families << name;
    }
    families << uiFont.family();
    font.setFamilies(families);
    font.setStyleHint(QFont::SansSerif);
  }
  font.setPointSize(tpl.pointSize > 0 ? tpl.pointSize : 8);
  // A weight of 0 means "any": the normal one.
  font.setWeight(tpl.weight > 0 ? QFont::Weight(std::clamp(tpl.weight, 1, 1000)) : QFont::Normal);
  font.setItalic(false);
  return font;
}

BaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return BaseUnits{(width / 26 + 1) / 2, metrics.height()};
}

QRect ControlRect(const ControlTemplate& control, BaseUnits units) {
  return QRect(MulDiv(control.x, units.x, 4), MulDiv(control.y, units.y, 8),
               MulDiv(control.w, units.x, 4), MulDiv(control.h, units.y, 8));
}

QSize DialogClientSize(const DialogTemplate& tpl, BaseUnits units) {
  return QSize(MulDiv(tpl.w, units.x, 4), MulDiv(tpl.h, units.y, 8));
}

QString WithoutAccessMarks(const QString& text) {
  QString shown;
  shown.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'&') {
      if (i + 1 < text.size() && text[i + 1] == u'&') {
        shown += u'&';
        ++i;
      }
      continue;
    }
    shown += text[i];
  }
  return shown;
}

QStringList NameFilters(const Text& filter) {
  QStringList filters;
  for (const FileFilter& choice : ParseFileFilter(filter)) {
    QStringList patterns;
    for (const Text& pattern : choice.patterns) {
      patterns << (pattern == u"*.*" ? QStringLiteral("*") : ToQString(pattern));
    }
    // The file dialog takes the patterns from the last parentheses of the
    // text, so those must be the real ones.
    static const QRegularExpression trailingList(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    QString description = ToQString(choice.description);
    description.remove(trailingList);
    filters << description + QStringLiteral(" (") + patterns.join(u' ') + u')';
  }
  return filters;
}

}  // namespace quorvel::qt
