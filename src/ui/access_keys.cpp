#include "ui/access_keys.h"

namespace vellumark {

QString WithAccessKey(const QString& caption, QChar key) {
  QString text = caption;
  text.replace('&', "&&");
  const QChar upper = key.toUpper();
  for (int i = 0; i < text.size(); ++i) {
    if (text[i].toUpper() == upper && text[i].unicode() < 128) {
      text.insert(i, '&');
      return text;
    }
  }
  // A label's colon stays last: "原因(&R):".
  int end = static_cast<int>(text.size());
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == ':' || text[end - 1] == QChar(0xFF1A))) --end;
  return text.left(end) + "(&" + upper + ")" + text.mid(end);
}

}  // namespace vellumark
