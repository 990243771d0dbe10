// Field names from dBASE headers built byte by byte, and the output field
// picker they feed.

#include "FrontendTestSupport.h"

#include "DbfFieldNames.h"
#include "LegacyCodePage.h"
#include "VectorSource.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>

// Main header, one 32-byte descriptor per name, the terminator (unless
// headerLength is given), then padding up to fileSize.
static QByteArray dbfFile(const QList<QByteArray>& names, int headerLength = -1, int fileSize = 0)
{
    QByteArray bytes(32, '\0');
    for (const QByteArray& name : names)
        bytes += name + QByteArray(32 - name.size(), '\0');
    if (headerLength < 0) {
        bytes += '\x0D';
        headerLength = int(bytes.size());
    }
    bytes[8] = char(headerLength & 0xFF);
    bytes[9] = char(headerLength >> 8);
    return bytes + QByteArray(qMax(0, fileSize - int(bytes.size())), ' ');
}

class FieldDiscoveryTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void headerWalk();
    void namesAndEncodings();
    void pickerMoves();
    void discoveryKeepsOnlyFieldsTheNewFileHas();
    void shapefileChangeRereadsTheFields();
    void missingAttributeFile();
    void chosenOrderSurvivesARestart();
    void otherVectorSourcesAndCoordinateSystems();

private:
    QStringList read(const QByteArray& bytes);
    QString shapefile(const QString& name, const QList<QByteArray>& fields);
    QStringList order() const;
    QListWidgetItem* entry(const QString& name) const;
    QString note() const;
    void click(const char* name) { QTest::mouseClick(widget<QPushButton>(*m_window, name), Qt::LeftButton); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MainWindow> m_window;
    std::shared_ptr<QList<UserMessage>> m_messages;
};

void FieldDiscoveryTest::init()
{
    // A UTF-8 locale, as on a usual Linux desktop: non-UTF-8 names are read
    // in the Chinese code page.
    QVERIFY(std::setlocale(LC_CTYPE, "C.UTF-8"));
    m_dir = std::make_unique<QTemporaryDir>();
    m_window = std::make_unique<MainWindow>(m_dir->path());
    m_messages = captureMessages(*m_window);
}

QStringList FieldDiscoveryTest::read(const QByteArray& bytes)
{
    writeFile(m_dir->filePath(u"t.dbf"_s), bytes);
    return readDbfFieldNames(m_dir->filePath(u"t.dbf"_s));
}

QString FieldDiscoveryTest::shapefile(const QString& name, const QList<QByteArray>& fields)
{
    writeFile(m_dir->filePath(name + u".dbf"_s), dbfFile(fields));
    writeFile(m_dir->filePath(name + u".shp"_s), "");
    return m_dir->filePath(name + u".shp"_s);
}

QStringList FieldDiscoveryTest::order() const
{
    auto* list = widget<QListWidget>(*m_window, "fieldList");
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names.append(list->item(i)->text());
    return names;
}

QListWidgetItem* FieldDiscoveryTest::entry(const QString& name) const
{
    const QList<QListWidgetItem*> items =
        widget<QListWidget>(*m_window, "fieldList")->findItems(name, Qt::MatchExactly);
    if (items.isEmpty())
        qFatal("no entry %s", qPrintable(name));
    return items.first();
}

QString FieldDiscoveryTest::note() const
{
    auto* label = widget<QLabel>(*m_window, "fieldNoteLabel");
    return label->isVisibleTo(m_window.get()) ? label->text() : QString();
}

void FieldDiscoveryTest::headerWalk()
{
    const QList<QByteArray> three = {"ZDDM", "FWBH", "QLR"};
    // 65: the descriptor at 64 would end at 96, beyond the header.
    QCOMPARE(read(dbfFile(three, 65, 200)), QStringList{u"ZDDM"_s});
    QCOMPARE(read(dbfFile(three, 97, 200)), (QStringList{u"ZDDM"_s, u"FWBH"_s}));
    // The file size bounds the walk too; below 64 nothing is read.
    QCOMPARE(read(dbfFile(three, 4000).left(96)), (QStringList{u"ZDDM"_s, u"FWBH"_s}));
    QVERIFY(read(dbfFile(three, 63, 200)).isEmpty());
    QVERIFY(read(QByteArray(31, '\0')).isEmpty());
    QVERIFY(readDbfFieldNames(m_dir->filePath(u"missing.dbf"_s)).isEmpty());

    QByteArray stopped = dbfFile(three, 129, 200);
    stopped[64] = 0x0D;
    QCOMPARE(read(stopped), QStringList{u"ZDDM"_s});
}

void FieldDiscoveryTest::namesAndEncodings()
{
    QCOMPARE(read(dbfFile({"ZDDM", " ZDDM ", "zddm", "   ", "FWBH"})), (QStringList{u"ZDDM"_s, u"zddm"_s, u"FWBH"_s}));

    QByteArray full = dbfFile({"X"});
    full.replace(32, 12, "ABCDEFGHIJKC");  // 11 name bytes, no NUL, then the type
    QCOMPARE(read(full), QStringList{u"ABCDEFGHIJK"_s});

    // Names follow the renderer's rule for the whole file: "宗地代码" in GBK
    // and "房屋" in UTF-8, each undeclared, are decoded; a .cpg or the
    // language driver byte (0x4D: code page 936) decides when present.
    const QByteArray gbk = "\xD7\xDA\xB5\xD8\xB4\xFA\xC2\xEB";
    QCOMPARE(read(dbfFile({gbk, "ZDDM"})), (QStringList{u"宗地代码"_s, u"ZDDM"_s}));
    QCOMPARE(read(dbfFile({"\xE6\x88\xBF\xE5\xB1\x8B"})), QStringList{u"房屋"_s});
    QByteArray declared = dbfFile({gbk});
    declared[29] = 0x4D;
    QCOMPARE(read(declared), QStringList{u"宗地代码"_s});
    writeFile(m_dir->filePath(u"t.cpg"_s), "936\r\n");
    QCOMPARE(read(dbfFile({gbk})), QStringList{u"宗地代码"_s});
    writeFile(m_dir->filePath(u"t.cpg"_s), "UTF-8");
    QVERIFY(read(dbfFile({gbk})).constFirst().contains(QChar::ReplacementCharacter));
    QFile::remove(m_dir->filePath(u"t.cpg"_s));
    QCOMPARE(declaredShapefileEncoding("8859-5", 0), QByteArray("ISO-8859-5"));
    QCOMPARE(declaredShapefileEncoding("", 0x57), QByteArray("ISO-8859-1"));
    QCOMPARE(legacyCodePageName("ISO-8859-1"), QByteArray("ISO-8859-1"));
    // A service started without a locale (plain ASCII) still reads them.
    QVERIFY(std::setlocale(LC_CTYPE, "C"));
    QCOMPARE(read(dbfFile({gbk})), QStringList{u"宗地代码"_s});
    QCOMPARE(dbfPathForShapefile(u"/data/parcels.v2.SHP"_s), u"/data/parcels.v2.dbf"_s);
}

void FieldDiscoveryTest::pickerMoves()
{
    QCOMPARE(order(), QStringList{u"ZDDM"_s});
    QCOMPARE(fields(*m_window).selectedFields(), QStringList{u"ZDDM"_s});

    fields(*m_window).rebuild({u"ZDDM"_s, u"FWBH"_s, u"QLR"_s}, {u"ZDDM"_s, u"FWBH"_s});
    auto* list = widget<QListWidget>(*m_window, "fieldList");
    QCOMPARE(list->currentItem()->text(), u"ZDDM"_s);
    list->setCurrentItem(entry(u"FWBH"_s));
    click("fieldUpButton");
    QCOMPARE(order(), (QStringList{u"FWBH"_s, u"ZDDM"_s, u"QLR"_s}));
    QCOMPARE(form(*m_window).collectSettings(false)[u"field_names"_s].toArray(), (QJsonArray{u"FWBH"_s, u"ZDDM"_s}));
    QCOMPARE(form(*m_window).collectSettings(false)[u"field_name"_s].toString(), u"FWBH"_s);
    click("fieldUpButton");
    QCOMPARE(order(), (QStringList{u"FWBH"_s, u"ZDDM"_s, u"QLR"_s}));

    click("fieldDownButton");
    click("fieldDownButton");
    click("fieldDownButton");
    QCOMPARE(order(), (QStringList{u"ZDDM"_s, u"QLR"_s, u"FWBH"_s}));
    QCOMPARE(entry(u"QLR"_s)->checkState(), Qt::Unchecked);
    entry(u"QLR"_s)->setCheckState(Qt::Checked);  // moved items keep working
    QCOMPARE(fields(*m_window).selectedFields(), (QStringList{u"ZDDM"_s, u"QLR"_s, u"FWBH"_s}));

    // Unchecking every field says how the frames will be named.
    for (const QString& name : order())
        entry(name)->setCheckState(Qt::Unchecked);
    QVERIFY(note().contains(u"未勾选字段"_s));
}

void FieldDiscoveryTest::discoveryKeepsOnlyFieldsTheNewFileHas()
{
    fields(*m_window).rebuild({u"FWBH"_s, u"ZDDM"_s}, {u"FWBH"_s, u"ZDDM"_s});
    // The checked fields come first, in their order, then the file's others.
    const QString first = shapefile(u"first"_s, {"ZDDM", "QLR", "FWBH"});
    form(*m_window).discoverShapefileFields(first);
    QCOMPARE(order(), (QStringList{u"FWBH"_s, u"ZDDM"_s, u"QLR"_s}));
    QCOMPARE(fields(*m_window).selectedFields(), (QStringList{u"FWBH"_s, u"ZDDM"_s}));

    // No field checked: the note and the run file both say "numbered".
    form(*m_window).discoverShapefileFields(shapefile(u"second"_s, {"BSM", "QLR"}));
    QCOMPARE(order(), (QStringList{u"BSM"_s, u"QLR"_s}));
    QVERIFY(fields(*m_window).selectedFields().isEmpty());
    QVERIFY(note().contains(u"按序号命名"_s));
    const QJsonObject collected = form(*m_window).collectSettings(false);
    QCOMPARE(collected[u"field_names"_s].toArray(), QJsonArray());
    QCOMPARE(collected[u"field_name"_s].toString(), QString());
    QVERIFY(m_messages->isEmpty());

    // Back to the first file: the fields it has are checked again.
    form(*m_window).discoverShapefileFields(first);
    QCOMPARE(fields(*m_window).selectedFields(), (QStringList{u"FWBH"_s, u"ZDDM"_s}));
}

void FieldDiscoveryTest::shapefileChangeRereadsTheFields()
{
    // At start the list holds the fields of the shapefile in the settings.
    QDir().mkpath(m_dir->filePath(u"config"_s));
    const QString first = shapefile(u"first"_s, {"ZDDM", "QLR", "FWBH"});
    writeFile(m_dir->filePath(u"config/render_gui.json"_s),
              QJsonDocument(QJsonObject{{u"shp_path"_s, first}, {u"field_names"_s, QJsonArray{u"FWBH"_s, u"BSM"_s}}})
                  .toJson());
    m_window = std::make_unique<MainWindow>(m_dir->path());
    m_messages = captureMessages(*m_window);
    QCOMPARE(order(), (QStringList{u"FWBH"_s, u"ZDDM"_s, u"QLR"_s}));
    QCOMPARE(fields(*m_window).selectedFields(), QStringList{u"FWBH"_s});
    QVERIFY2(note().contains(u"BSM"_s), qPrintable(note()));

    // A path typed into the field is read when the editing ends; checked
    // fields the new file lacks are named.
    entry(u"ZDDM"_s)->setCheckState(Qt::Checked);
    auto* edit = widget<QLineEdit>(*m_window, "shapefileEdit");
    edit->setText(shapefile(u"second"_s, {"ZDDM", "DKBM"}));
    emit edit->editingFinished();
    QCOMPARE(order(), (QStringList{u"ZDDM"_s, u"DKBM"_s}));
    QCOMPARE(fields(*m_window).selectedFields(), QStringList{u"ZDDM"_s});
    QVERIFY2(note().contains(u"FWBH"_s) && !note().contains(u"BSM"_s), qPrintable(note()));
    QVERIFY(m_messages->isEmpty());
}

void FieldDiscoveryTest::missingAttributeFile()
{
    fields(*m_window).rebuild({u"ZDDM"_s, u"FWBH"_s}, {u"FWBH"_s});
    writeFile(m_dir->filePath(u"lonely.shp"_s), "");
    form(*m_window).discoverShapefileFields(m_dir->filePath(u"lonely.shp"_s));
    QCOMPARE(m_messages->size(), 1);
    QCOMPARE(m_messages->first().icon, QMessageBox::Warning);
    QCOMPARE(m_messages->first().title, u"读取字段"_s);
    QCOMPARE(m_messages->first().text, u"未能读取 DBF 字段，请检查 SHP 配套文件。"_s);
    QCOMPARE(order(), (QStringList{u"ZDDM"_s, u"FWBH"_s}));
    QCOMPARE(fields(*m_window).selectedFields(), QStringList{u"FWBH"_s});
}

void FieldDiscoveryTest::chosenOrderSurvivesARestart()
{
    // FWBH moved above ZDDM and saved; after a restart the list and the next
    // run keep that order, the file's other fields following.
    QDir().mkpath(m_dir->filePath(u"city"_s));
    form(*m_window).loadSettings({{u"osgb_path"_s, m_dir->filePath(u"city"_s)},
                                  {u"shp_path"_s, shapefile(u"parcels"_s, {"ZDDM", "QLR", "FWBH"})},
                                  {u"output_dir"_s, m_dir->filePath(u"out"_s)},
                                  {u"field_names"_s, QJsonArray{u"ZDDM"_s, u"FWBH"_s}}});
    QCOMPARE(order(), (QStringList{u"ZDDM"_s, u"FWBH"_s, u"QLR"_s}));
    widget<QListWidget>(*m_window, "fieldList")->setCurrentItem(entry(u"FWBH"_s));
    click("fieldUpButton");
    click("saveButton");
    QCOMPARE(readJsonFile(m_window->settingsFilePath())[u"field_names"_s].toArray(),
             (QJsonArray{u"FWBH"_s, u"ZDDM"_s}));

    m_window = std::make_unique<MainWindow>(m_dir->path());
    m_messages = captureMessages(*m_window);
    QCOMPARE(order(), (QStringList{u"FWBH"_s, u"ZDDM"_s, u"QLR"_s}));
    writeFakeRenderer(m_dir->path(), "exit 0");
    m_window->startTask(false);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->running(), 15000);
    const QJsonObject run = readJsonFile(m_dir->filePath(u"config/render_qt_run.json"_s));
    QCOMPARE(run[u"field_names"_s].toArray(), (QJsonArray{u"FWBH"_s, u"ZDDM"_s}));
    QCOMPARE(run[u"field_name"_s].toString(), u"FWBH"_s);
}

void FieldDiscoveryTest::otherVectorSourcesAndCoordinateSystems()
{
    const QString sample = QStringLiteral(VISTREL_SAMPLE_DIR);
    const QString gpkg = sample + u"/parcels_wgs84.gpkg"_s;
    QCOMPARE(readVectorFieldNames(gpkg), (QStringList{u"ZDDM"_s, u"FWBH"_s, u"NAME"_s, u"CS"_s}));
    form(*m_window).discoverShapefileFields(gpkg);
    QCOMPARE(order(), (QStringList{u"ZDDM"_s, u"FWBH"_s, u"NAME"_s, u"CS"_s}));
    QVERIFY(m_messages->isEmpty());

    const QString city = sample + u"/city"_s;
    QCOMPARE(coordinateSystemsNote(city, gpkg),
             u"模型：CGCS2000 / 3-degree Gauss-Kruger CM 114E；图斑：WGS 84 → 将转换到模型坐标"_s);
    // The zone in the shapefile's false easting is the prefix the renderer takes off.
    QVERIFY2(coordinateSystemsNote(city, sample + u"/parcels.shp"_s).endsWith(u"（坐标系一致）"_s),
             qPrintable(coordinateSystemsNote(city, sample + u"/parcels.shp"_s)));
    QVERIFY(coordinateSystemsNote(sample + u"/city_enu"_s, gpkg).startsWith(u"模型：ENU:30."_s));
    // A 3D Tiles model stands at its root transform's origin, named as Vistrel names it.
    for (const QString& tileset : {sample + u"/city_3dtiles"_s, sample + u"/city_3dtiles/tileset.json"_s})
        QVERIFY2(coordinateSystemsNote(tileset, gpkg).startsWith(u"模型：ENU:30.631815"_s),
                 qPrintable(coordinateSystemsNote(tileset, gpkg)));
    QVERIFY(coordinateSystemsNote(u""_s, gpkg).isEmpty());
}

QTEST_MAIN(FieldDiscoveryTest)
#include "FieldDiscoveryTest.moc"
