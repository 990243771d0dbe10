// Settings form: loading, collecting, saving and the start-up settings file.

#include "FrontendTestSupport.h"

#include "DefaultSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

class SettingsFormTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void loadThenCollectRoundTrips();
    void collectedKeysAreTheDefaultsKeys();
    void unofferedOrMistypedValuesFallBack();
    void anglesAreCollectedInKeyOrder();
    void separatorMapping();
    void startupSettingsFiles();
    void saving();

private:
    QJsonObject collect(const QJsonObject& loaded);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MainWindow> m_window;
};

void SettingsFormTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_window = std::make_unique<MainWindow>(m_dir->path());
}

QJsonObject SettingsFormTest::collect(const QJsonObject& loaded)
{
    m_window->loadSettings(loaded);
    return m_window->collectSettings(false);
}

void SettingsFormTest::loadThenCollectRoundTrips()
{
    QJsonObject settings = defaultSettings();
    const QJsonObject changes{
        {u"width"_s, 1920}, {u"height"_s, 1080}, {u"output_dpi"_s, 600}, {u"warmup_frames"_s, 3},
        {u"camera_padding"_s, 1.25}, {u"oblique_padding_factor"_s, 0.9},
        {u"oblique_distance_factor"_s, 1.1}, {u"oblique_view_angle"_s, 65},
        {u"avoid_occlusion"_s, false}, {u"occlusion_sample_step"_s, 0.55},
        {u"angles"_s, QJsonArray{u"east"_s, u"nw45"_s}}, {u"osgb_path"_s, u"/data/city"_s},
        {u"shp_path"_s, u"/data/parcels.shp"_s}, {u"output_dir"_s, u"/data/out"_s},
        {u"field_names"_s, QJsonArray{u"FWBH"_s, u"ZDDM"_s}}, {u"field_name"_s, u"FWBH"_s},
        {u"field_separator"_s, u"、"_s}, {u"photo_name_template"_s, u"<ZDDM>\\照片<FWBH>_#"_s},
        {u"auto_strip_gauss_zone"_s, false}, {u"auto_align_shp_to_scene"_s, false},
        {u"output_top_range"_s, true}, {u"gauss_zone_prefix"_s, 37000000.0},
        {u"shp_offset_x"_s, -12.345}, {u"shp_offset_y"_s, 6.5}, {u"range_line_lift"_s, 0.35},
        {u"range_line_width"_s, 7.5}, {u"range_line_color"_s, u"magenta"_s},
        {u"output_format"_s, u"pdf"_s}};
    for (auto it = changes.begin(); it != changes.end(); ++it)
        settings[it.key()] = it.value();
    QCOMPARE(collect(settings), settings);
}

void SettingsFormTest::collectedKeysAreTheDefaultsKeys()
{
    QCOMPARE(defaultSettings().size(), 37);
    QCOMPARE(m_window->collectSettings(true).keys(), defaultSettings().keys());

    // Keys without a widget always come from the defaults.
    const QJsonObject collected = collect({{u"jpg_quality"_s, 80}, {u"distance"_s, 120}, {u"num_threads"_s, 16}});
    QCOMPARE(collected[u"jpg_quality"_s].toInt(), 95);
    QCOMPARE(collected[u"distance"_s].toDouble(), 300.0);
    QCOMPARE(collected[u"num_threads"_s].toInt(), 4);
}

void SettingsFormTest::unofferedOrMistypedValuesFallBack()
{
    // Values the lists do not offer leave them on their current item.
    QCOMPARE(collect({{u"output_format"_s, u"jpeg"_s}})[u"output_format"_s].toString(), u"png"_s);
    collect({{u"output_format"_s, u"pdf"_s}, {u"oblique_view_angle"_s, 65}, {u"range_line_color"_s, u"cyan"_s}});
    const QJsonObject kept =
        collect({{u"output_format"_s, u"jpeg"_s}, {u"oblique_view_angle"_s, 52}, {u"range_line_color"_s, u"Red"_s}});
    QCOMPARE(kept[u"output_format"_s].toString(), u"pdf"_s);
    QCOMPARE(kept[u"oblique_view_angle"_s].toInt(), 65);
    QCOMPARE(kept[u"range_line_color"_s].toString(), u"cyan"_s);

    // Spin boxes clamp; wrong JSON types count as missing.
    const QJsonObject s = collect({{u"width"_s, 50000}, {u"height"_s, 1080.5}, {u"output_dpi"_s, u"600"_s},
                                   {u"camera_padding"_s, 1.234}, {u"avoid_occlusion"_s, 1},
                                   {u"output_top_range"_s, u"true"_s}, {u"osgb_path"_s, 5},
                                   {u"field_names"_s, u"FWBH"_s}, {u"field_name"_s, u"BSM"_s}});
    QCOMPARE(widget<QSpinBox>(*m_window, "widthSpin")->value(), 20000);
    QCOMPARE(s[u"width"_s].toInt(), 20000);
    QCOMPARE(s[u"height"_s].toInt(), 2160);
    QCOMPARE(s[u"output_dpi"_s].toInt(), 300);
    QCOMPARE(s[u"camera_padding"_s].toDouble(), 1.23);
    QCOMPARE(s[u"avoid_occlusion"_s].toBool(), true);
    QCOMPARE(s[u"output_top_range"_s].toBool(), false);
    QCOMPARE(s[u"osgb_path"_s].toString(), u""_s);
    QCOMPARE(s[u"field_names"_s].toArray(), QJsonArray{u"BSM"_s});
}

void SettingsFormTest::anglesAreCollectedInKeyOrder()
{
    const auto angles = [this](const QJsonArray& loaded) {
        return collect({{u"angles"_s, loaded}})[u"angles"_s].toArray();
    };
    QCOMPARE(angles({u"top"_s, u"oblique"_s}), QJsonArray{u"top"_s});
    QCOMPARE(angles({u"north"_s, u"top"_s, u"se45"_s}), (QJsonArray{u"north"_s, u"se45"_s, u"top"_s}));
    QCOMPARE(angles({}), QJsonArray{u"top"_s});

    widget<QCheckBox>(*m_window, "angle_west")->setChecked(true);
    widget<QCheckBox>(*m_window, "angle_east")->setChecked(true);
    QCOMPARE(m_window->collectSettings(false)[u"angles"_s].toArray(), (QJsonArray{u"east"_s, u"west"_s}));
}

void SettingsFormTest::separatorMapping()
{
    auto* combo = widget<QComboBox>(*m_window, "separatorCombo");
    auto* custom = widget<QLineEdit>(*m_window, "customSeparatorEdit");
    const auto separator = [this](const QString& loaded) {
        return collect({{u"field_separator"_s, loaded}})[u"field_separator"_s].toString();
    };

    QVERIFY(!custom->isEnabled());
    QCOMPARE(separator(u"\\"_s), u"\\"_s);
    QCOMPARE(combo->currentText(), u"\\（文件夹内套文件夹）"_s);
    QCOMPARE(separator(u"-"_s), u"-"_s);
    QVERIFY(!custom->isEnabled());
    QCOMPARE(separator(u"   "_s), u""_s);
    QCOMPARE(combo->currentText(), u"自定义"_s);
    QVERIFY(custom->isEnabled());
    QCOMPARE(separator(u" ~ "_s), u"~"_s);
    combo->setCurrentText(u"_"_s);
    QVERIFY(!custom->isEnabled());
}

void SettingsFormTest::startupSettingsFiles()
{
    const QString config = m_dir->filePath(u"config"_s);
    QDir().mkpath(config);
    const auto startWith = [this] { m_window = std::make_unique<MainWindow>(m_dir->path()); };

    // render.json (here with a byte-order mark) when render_gui.json is missing.
    writeFile(config + u"/render.json"_s, "\xEF\xBB\xBF{\"width\": 640}");
    startWith();
    QCOMPARE(widget<QSpinBox>(*m_window, "widthSpin")->value(), 640);

    // render_gui.json wins; its keys go over the defaults.
    writeFile(config + u"/render_gui.json"_s, R"({"height": 720, "jpg_quality": 80})");
    startWith();
    QJsonObject s = m_window->collectSettings(false);
    QCOMPARE(s[u"width"_s].toInt(), 3840);
    QCOMPARE(s[u"height"_s].toInt(), 720);
    QCOMPARE(s[u"jpg_quality"_s].toInt(), 95);

    writeFile(config + u"/render_gui.json"_s, "{\"height\": 720,");
    startWith();
    QCOMPARE(widget<QSpinBox>(*m_window, "heightSpin")->value(), 2160);
}

void SettingsFormTest::saving()
{
    auto messages = captureMessages(*m_window);
    widget<QSpinBox>(*m_window, "previewSpin")->setValue(3);
    QTest::mouseClick(widget<QPushButton>(*m_window, "saveButton"), Qt::LeftButton);

    const QString path = m_dir->filePath(u"config/render_gui.json"_s);
    const QByteArray text = readFile(path);
    QVERIFY(text.startsWith("{\n    \"angles\": ["));
    QVERIFY(text.indexOf("\"height\"") < text.indexOf("\"width\""));
    QCOMPARE(readJsonFile(path)[u"preview_limit"_s].toInt(), 0);
    QCOMPARE(widget<QPlainTextEdit>(*m_window, "logView")->toPlainText(),
             u"配置已保存："_s + QDir::toNativeSeparators(path));

    writeFile(m_dir->filePath(u"blocked"_s), "a file where the folder should be");
    QVERIFY(!m_window->saveSettings(m_dir->filePath(u"blocked/render_gui.json"_s), defaultSettings()));
    QCOMPARE(messages->size(), 1);
    QCOMPARE(messages->first().icon, QMessageBox::Critical);
    QCOMPARE(messages->first().title, u"保存配置失败"_s);
    QVERIFY(!messages->first().text.isEmpty());
}

QTEST_MAIN(SettingsFormTest)
#include "SettingsFormTest.moc"
