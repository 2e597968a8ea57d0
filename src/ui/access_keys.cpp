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
  return text + "(&" + upper + ")";
}

}  // namespace vellumark
