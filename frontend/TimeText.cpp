#include "TimeText.h"

#include <QChar>

QString formatDuration(double seconds)
{
    const qint64 total = seconds > 0 ? static_cast<qint64>(seconds) : 0;
    const QChar zero(u'0');
    return QStringLiteral("%1:%2:%3")
        .arg(total / 3600, 2, 10, zero)
        .arg((total % 3600) / 60, 2, 10, zero)
        .arg(total % 60, 2, 10, zero);
}
