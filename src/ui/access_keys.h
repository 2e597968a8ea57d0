#pragma once

#include <QChar>
#include <QString>

namespace vellumark {

// A caption with an access key (Alt+key): the first letter key in it is
// marked where the caption has one, else the key follows it in brackets, as
// Chinese programs show theirs ("打开分区(&D)", "原因(&R):"). Ampersands of
// the caption itself stay ampersands.
QString WithAccessKey(const QString& caption, QChar key);

}  // namespace vellumark
