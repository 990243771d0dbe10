#pragma once

#include <QByteArray>
#include <QString>

// Encoding name for text that is not UTF-8, given the locale's codeset
// (nl_langinfo(CODESET)). A legacy codeset is used as it is; a UTF-8 or
// plain ASCII locale has no legacy code page of its own, so the Chinese one
// (GB18030, a superset of GBK) is used, which is what cadastre data carries.
QByteArray legacyCodePageName(const QByteArray& localeCodeset);

// Decodes bytes in the local 8-bit code page of the running program.
QString decodeLocal8Bit(const QByteArray& bytes);
