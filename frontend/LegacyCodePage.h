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

// The encoding a shapefile declares, mapped the way GDAL maps it: the first
// line of its .cpg ("936" is CP936, "8859-1" ISO-8859-1, "UTF-8", or a name
// such as GBK used as it is) or, without one, the DBF's language driver
// byte (0x4D is CP936, 0x57 ISO-8859-1, ...). Empty when neither declares one.
QByteArray declaredShapefileEncoding(const QByteArray& cpgFirstLine, int languageDriver);

// The encoding of shapefile text that declares none: UTF-8 when it is valid
// UTF-8, otherwise GB18030, the encoding of Chinese GIS data.
QByteArray undeclaredShapefileEncoding(bool textIsUtf8);
