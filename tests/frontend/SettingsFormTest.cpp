// Settings form: loading, collecting, saving and the start-up settings file.

#include "FrontendTestSupport.h"

#include "ConfigReference.h"
#include "DefaultSettings.h"

#include "core/ConfigKeys.h"
#include "FormWidgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QDir>
#include <QLineEdit>
#include <QStandardPaths>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QWheelEvent>
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
    void wheelChangesOnlyFocusedFields();
    void arrowStepsWriteTheShownValues();
    void numbersOutOfRange();
    void closingAsksAboutUnsavedEdits();
    void projectKeepsEveryKeyOfTheTable();
    void droppedFilesAndAnUnwritableConfigFolder();

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
    form(*m_window).loadSettings(loaded);
    return form(*m_window).collectSettings(false);
}

void SettingsFormTest::loadThenCollectRoundTrips()
{
    // A file that changes every field, with other values for the keys the
    // form has no field for (they are kept as they were), and the run file
    // the form makes of it.
    const QJsonObject loaded = QJsonDocument::fromJson(R"({
        "width": 1920, "height": 1080, "output_dpi": 600, "warmup_frames": 3,
        "camera_padding": 1.25, "oblique_padding_factor": 0.9, "oblique_distance_factor": 1.1,
        "oblique_view_angle": 65, "avoid_occlusion": false, "occlusion_sample_step": 0.55,
        "angles": ["nw45", "east"], "osgb_path": "/data/city", "shp_path": "/data/parcels.shp",
        "output_dir": "/data/out", "field_names": ["FWBH", "ZDDM"], "field_name": "FWBH",
        "field_separator": "、", "photo_name_template": " <ZDDM>\\照片<FWBH>_# ",
        "auto_strip_gauss_zone": false, "auto_align_shp_to_scene": false, "output_top_range": true,
        "gauss_zone_prefix": 37000000, "shp_offset_x": -12.345, "shp_offset_y": 6.5,
        "range_line_lift": 0.35, "range_line_width": 7.5, "range_line_color": "magenta",
        "output_format": "pdf", "range_line_depth_test": true, "warmup_until_loaded": true,
        "resume": true, "html_report": false, "preview_limit": 9,
        "distance": 120, "background": "black", "jpg_quality": 80, "transparent_bg": true,
        "multisample": 8, "range_line_sample_step": 2, "range_line_smooth_limit": 0,
        "num_threads": 16, "shard_index": 1, "shard_count": 3, "world_file": false,
        "model_srs": "EPSG:4547", "reproject_frames": "never", "layer": "parcels",
        "where": "ZDDM LIKE '4413%'", "retry_failed_only": true,
        "dossier": true, "dossier_template": " <ZDDM>档案 ", "dossier_fields": ["ZDDM", "NAME"],
        "dossier_book": true})")
                                   .object();
    const QJsonObject expected = QJsonDocument::fromJson(R"({
        "width": 1920, "height": 1080, "output_dpi": 600, "warmup_frames": 3,
        "camera_padding": 1.25, "oblique_padding_factor": 0.9, "oblique_distance_factor": 1.1,
        "oblique_view_angle": 65, "avoid_occlusion": false, "occlusion_sample_step": 0.55,
        "angles": ["east", "nw45"], "osgb_path": "/data/city", "shp_path": "/data/parcels.shp",
        "output_dir": "/data/out", "field_names": ["FWBH", "ZDDM"], "field_name": "FWBH",
        "field_separator": "、", "photo_name_template": "<ZDDM>\\照片<FWBH>_#",
        "auto_strip_gauss_zone": false, "auto_align_shp_to_scene": false, "output_top_range": true,
        "gauss_zone_prefix": 37000000, "shp_offset_x": -12.345, "shp_offset_y": 6.5,
        "range_line_lift": 0.35, "range_line_width": 7.5, "range_line_color": "magenta",
        "output_format": "pdf", "range_line_depth_test": true, "warmup_until_loaded": true,
        "resume": true, "html_report": false, "preview_limit": 9,
        "distance": 120, "background": "black", "jpg_quality": 80, "transparent_bg": true,
        "multisample": 8, "range_line_sample_step": 2, "range_line_smooth_limit": 0,
        "num_threads": 16, "shard_index": 1, "shard_count": 3, "world_file": false,
        "model_srs": "EPSG:4547", "frames_crs": "", "reproject_frames": "never", "layer": "parcels",
        "tile_load_timeout": 120, "max_screen_space_error": 1, "where": "ZDDM LIKE '4413%'", "retry_failed_only": true,
        "annotate": [], "caption_template": "<名称> <角度>", "pdf_lossless": false, "min_visible_share": 0.3,
        "outline_all_views": false, "dossier": true, "dossier_template": "<ZDDM>档案",
        "dossier_fields": ["ZDDM", "NAME"], "dossier_book": true})")
                                     .object();
    form(*m_window).loadSettings(loaded);
    QCOMPARE(form(*m_window).collectSettings(true), expected);
    QCOMPARE(form(*m_window).collectSettings(false)[u"preview_limit"_s].toInt(), 0);
    // The retry resumes the batch: without 继续上次任务 it is off.
    widget<QCheckBox>(*m_window, "resumeCheck")->setChecked(false);
    QCOMPARE(form(*m_window).collectSettings(false)[u"retry_failed_only"_s].toBool(), false);
    widget<QCheckBox>(*m_window, "retryCheck")->setChecked(true);
    QCOMPARE(form(*m_window).collectSettings(false)[u"resume"_s].toBool(), true);
}

void SettingsFormTest::collectedKeysAreTheDefaultsKeys()
{
    QCOMPARE(form(*m_window).collectSettings(true).keys(), defaultSettings().keys());

    // Keys without a widget keep the loaded values; keys Vistrel does not
    // read stay out of the run file.
    const QJsonObject collected = collect({{u"jpg_quality"_s, 80}, {u"distance"_s, 120}, {u"num_threads"_s, 16},
                                           {u"my_note"_s, u"x"_s}});
    QCOMPARE(collected[u"jpg_quality"_s].toInt(), 80);
    QCOMPARE(collected[u"distance"_s].toDouble(), 120.0);
    QCOMPARE(collected[u"num_threads"_s].toInt(), 16);
    QVERIFY(!collected.contains(u"my_note"_s));
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

    // Wrong JSON types count as missing; a number out of range stays as it
    // was and shows as invalid (see numbersOutOfRange).
    const QJsonObject s = collect({{u"width"_s, 50000}, {u"height"_s, 1080.5}, {u"output_dpi"_s, u"600"_s},
                                   {u"camera_padding"_s, 1.234}, {u"avoid_occlusion"_s, 1},
                                   {u"output_top_range"_s, u"true"_s}, {u"osgb_path"_s, 5},
                                   {u"field_names"_s, u"FWBH"_s}, {u"field_name"_s, u"BSM"_s}});
    QCOMPARE(widget<FormSpinBox>(*m_window, "widthSpin")->value(), 50000);
    QVERIFY(!widget<FormSpinBox>(*m_window, "widthSpin")->isValid());
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
    // None ticked stays none (the start refuses it) rather than turning into 正射.
    QCOMPARE(angles({}), QJsonArray{});

    widget<QCheckBox>(*m_window, "angle_west")->setChecked(true);
    widget<QCheckBox>(*m_window, "angle_east")->setChecked(true);
    QCOMPARE(form(*m_window).collectSettings(false)[u"angles"_s].toArray(), (QJsonArray{u"east"_s, u"west"_s}));

    // Not a list at all: the default angles, not an empty selection.
    const QJsonArray defaults{u"north"_s, u"se45"_s, u"sw45"_s, u"top"_s};
    QCOMPARE(collect({{u"angles"_s, u"north"_s}})[u"angles"_s].toArray(), defaults);
    QCOMPARE(collect({{u"angles"_s, QJsonValue()}})[u"angles"_s].toArray(), defaults);
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

    // An old render_gui.json that held the settings wins and becomes a
    // project file; render_gui.json then only names it.
    writeFile(config + u"/render_gui.json"_s, R"({"height": 720, "jpg_quality": 80})");
    startWith();
    QJsonObject s = form(*m_window).collectSettings(false);
    QCOMPARE(s[u"width"_s].toInt(), 3840);
    QCOMPARE(s[u"height"_s].toInt(), 720);
    QCOMPARE(s[u"jpg_quality"_s].toInt(), 80);
    const QString project = m_window->settingsFilePath();
    QCOMPARE(readJsonFile(project)[u"jpg_quality"_s].toInt(), 80);
    QCOMPARE(readJsonFile(config + u"/render_gui.json"_s).value(u"project"_s).toString(), project);
    startWith();
    QCOMPARE(widget<QSpinBox>(*m_window, "heightSpin")->value(), 720);

    // A damaged project: named in a message and kept as ….bad; the next
    // save cannot overwrite it.
    writeFile(project, "{\"height\": 720,");
    startWith();
    auto messages = captureMessages(*m_window);
    QTRY_COMPARE(messages->size(), 1);
    QVERIFY2(messages->first().text.contains(QDir::toNativeSeparators(project) + u".bad"_s),
             qPrintable(messages->first().text));
    QCOMPARE(readFile(project + u".bad"_s), QByteArray("{\"height\": 720,"));
    QCOMPARE(widget<QSpinBox>(*m_window, "heightSpin")->value(), 2160);
}

void SettingsFormTest::saving()
{
    auto messages = captureMessages(*m_window);
    widget<QSpinBox>(*m_window, "previewSpin")->setValue(3);
    widget<QSpinBox>(*m_window, "heightSpin")->setValue(720);
    QTest::mouseClick(widget<QPushButton>(*m_window, "saveButton"), Qt::LeftButton);

    const QString path = m_window->settingsFilePath();
    QCOMPARE(widget<QPlainTextEdit>(*m_window, "logView")->toPlainText(),
             u"项目已保存："_s + QDir::toNativeSeparators(path));
    // The renderer's key says "all frames"; the test-export count survives in
    // Tavrin's own key, through a restart and the next save.
    QCOMPARE(readJsonFile(path)[u"preview_limit"_s].toInt(), 0);
    for (int restart = 0; restart < 2; ++restart) {
        m_window = std::make_unique<MainWindow>(m_dir->path());
        QCOMPARE(widget<QSpinBox>(*m_window, "previewSpin")->value(), 3);
        QCOMPARE(widget<QSpinBox>(*m_window, "heightSpin")->value(), 720);
        QCOMPARE(form(*m_window).collectSettings(true)[u"preview_limit"_s].toInt(), 3);
        QVERIFY(m_window->saveSettings(path, form(*m_window).collectGuiSettings()));
    }

    writeFile(m_dir->filePath(u"blocked"_s), "a file where the folder should be");
    messages = captureMessages(*m_window);
    QVERIFY(!m_window->saveSettings(m_dir->filePath(u"blocked/render_gui.json"_s), defaultSettings()));
    QCOMPARE(messages->size(), 1);
    QCOMPARE(messages->first().icon, QMessageBox::Critical);
    QCOMPARE(messages->first().title, u"保存配置失败"_s);
    QVERIFY(!messages->first().text.isEmpty());
}

void SettingsFormTest::wheelChangesOnlyFocusedFields()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    auto* width = widget<QSpinBox>(*m_window, "widthSpin");
    auto* padding = widget<QDoubleSpinBox>(*m_window, "cameraPaddingSpin");
    auto* format = widget<QComboBox>(*m_window, "formatCombo");
    const auto turnWheel = [](QWidget* target) {
        const QPointF at = QRectF(target->rect()).center();
        QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
        return event.isAccepted();
    };

    // Unfocused: the value stays and the event goes on to scroll the form.
    for (QWidget* field : QList<QWidget*>{width, padding, format}) {
        QVERIFY(!field->hasFocus());
        QVERIFY(!turnWheel(field));
    }
    QCOMPARE(width->value(), 3840);
    QCOMPARE(padding->value(), 1.05);
    QCOMPARE(format->currentText(), u"png"_s);

    m_window->activateWindow();
    width->setFocus();
    QTRY_VERIFY(width->hasFocus());
    turnWheel(width);
    QCOMPARE(width->value(), 3839);
}

void SettingsFormTest::arrowStepsWriteTheShownValues()
{
    const QList<QPair<const char*, const char*>> decimals = {
        {"cameraPaddingSpin", "camera_padding"}, {"obliquePaddingSpin", "oblique_padding_factor"},
        {"obliqueDistanceSpin", "oblique_distance_factor"}, {"gaussPrefixSpin", "gauss_zone_prefix"},
        {"offsetXSpin", "shp_offset_x"}, {"offsetYSpin", "shp_offset_y"}, {"lineLiftSpin", "range_line_lift"},
        {"lineWidthSpin", "range_line_width"}, {"occlusionStepSpin", "occlusion_sample_step"}};
    for (int steps = 1; steps <= 9; ++steps) {
        for (const auto& [name, key] : decimals) {
            auto* spin = widget<QDoubleSpinBox>(*m_window, name);
            const QString before = spin->text();
            spin->stepBy(spin->value() >= spin->maximum() ? -1 : 1);
            // Every step shows, and the value written is the value shown.
            QVERIFY2(spin->text() != before, name);
            const double shown = spin->locale().toDouble(spin->cleanText());
            const double written = form(*m_window).collectSettings(false)[QLatin1String(key)].toDouble();
            QVERIFY2(written == shown, qPrintable(u"%1: %2 written, %3 shown"_s.arg(QLatin1String(key))
                                                      .arg(written, 0, 'g', 17).arg(spin->cleanText())));
        }
    }
}

void SettingsFormTest::numbersOutOfRange()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    auto* width = widget<FormSpinBox>(*m_window, "widthSpin");
    auto* prefix = widget<FormDoubleSpinBox>(*m_window, "gaussPrefixSpin");
    auto* start = widget<QPushButton>(*m_window, "startButton");
    auto* test = widget<QPushButton>(*m_window, "testButton");
    const QString ownTip = width->toolTip();
    const auto type = [](QAbstractSpinBox* box, const char* text) {
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, QString::fromLatin1(text));
    };

    // Typed whole, not cut to the digits that fit; shown as invalid with
    // the range, and no task starts.
    type(width, "20000");
    QCOMPARE(width->text(), u"20000"_s);
    QVERIFY(!width->isValid());
    QVERIFY(width->toolTip().contains(u"1 至 16384"_s));
    QVERIFY(!width->styleSheet().isEmpty());
    QVERIFY(!start->isEnabled() && !test->isEnabled());
    type(prefix, "123456789");
    QCOMPARE(prefix->value(), 123456789.0);
    QVERIFY(!prefix->isValid());
    width->clearFocus(); // leaving the field keeps the entry
    QCOMPARE(width->text(), u"20000"_s);

    // Corrected, each field is itself again; below the minimum is invalid too.
    type(width, "2000");
    QVERIFY(width->isValid());
    QCOMPARE(width->toolTip(), ownTip);
    QVERIFY(width->styleSheet().isEmpty());
    QVERIFY(!start->isEnabled());
    type(prefix, "0");
    QVERIFY(start->isEnabled() && test->isEnabled());
    type(width, "0");
    QCOMPARE(width->value(), 0);
    QVERIFY(!start->isEnabled());
    width->stepBy(1); // a step goes back into the range
    QCOMPARE(width->value(), 1);
    QVERIFY(start->isEnabled());
}

void SettingsFormTest::closingAsksAboutUnsavedEdits()
{
    const QString path = m_window->settingsFilePath();
    int answer = 2;
    QList<UserMessage> asked;
    const auto answering = [&](MainWindow& window) {
        window.setMessageHandler([&](const UserMessage& m) {
            asked.append(m);
            return answer;
        });
    };
    answering(*m_window);
    m_window->show();
    QVERIFY(m_window->close()); // nothing changed: no question
    QVERIFY(asked.isEmpty());

    m_window->show();
    widget<QSpinBox>(*m_window, "heightSpin")->setValue(720);
    QVERIFY(!m_window->close()); // 取消 keeps the window
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked.first().choices, (QStringList{u"保存"_s, u"不保存"_s, u"取消"_s}));
    QVERIFY(m_window->isVisible());
    answer = 1; // 不保存
    QVERIFY(m_window->close());
    QVERIFY(!QFileInfo::exists(path));

    m_window = std::make_unique<MainWindow>(m_dir->path());
    answering(*m_window);
    m_window->show();
    widget<QSpinBox>(*m_window, "heightSpin")->setValue(720);
    answer = 0; // 保存
    QVERIFY(m_window->close());
    QCOMPARE(readJsonFile(path)[u"height"_s].toInt(), 720);
    QCOMPARE(asked.size(), 3);
}

// Every key of the key table the form has no field for, and a key Vistrel
// does not read, come back unchanged through open and save; the renderer's
// reach the run file.
void SettingsFormTest::projectKeepsEveryKeyOfTheTable()
{
    QJsonObject project{{u"my_note"_s, u"北区第二批"_s}};
    for (const vistrel::ConfigKey& key : vistrel::configKeyTable()) {
        // field_name follows the field list, which the form shows.
        if (configKey(QLatin1String(key.name))->label || key.name == std::string_view("field_name"))
            continue;
        QJsonValue changed;
        switch (key.type()) {
        case vistrel::ConfigKeyType::Integer: changed = 7; break;
        case vistrel::ConfigKeyType::Number: changed = 2.75; break;
        case vistrel::ConfigKeyType::Boolean: changed = !defaultSetting(key.name).toBool(); break;
        case vistrel::ConfigKeyType::Text: changed = u"EPSG:4547"_s; break;
        case vistrel::ConfigKeyType::TextList: changed = QJsonArray{u"x"_s}; break;
        }
        project.insert(QLatin1String(key.name), changed);
    }
    const QString path = m_dir->filePath(u"项目/北区.json"_s);
    QDir().mkpath(m_dir->filePath(u"项目"_s));
    writeFile(path, QJsonDocument(project).toJson());
    auto messages = captureMessages(*m_window);
    QVERIFY(m_window->openProject(path));
    widget<QSpinBox>(*m_window, "heightSpin")->setValue(720);
    QVERIFY(m_window->saveProject());

    const QJsonObject saved = readJsonFile(path), run = form(*m_window).collectSettings(false);
    QCOMPARE(saved[u"height"_s].toInt(), 720);
    for (auto it = project.begin(); it != project.end(); ++it) {
        QVERIFY2(saved.value(it.key()) == it.value(), qPrintable(it.key()));
        if (vistrel::findConfigKey(it.key().toStdString()))
            QVERIFY2(run.value(it.key()) == it.value(), qPrintable(it.key()));
    }
    QVERIFY(messages->isEmpty());

    // The next start opens it again.
    m_window = std::make_unique<MainWindow>(m_dir->path());
    QCOMPARE(m_window->settingsFilePath(), path);
    QCOMPARE(widget<QSpinBox>(*m_window, "heightSpin")->value(), 720);
}

void SettingsFormTest::droppedFilesAndAnUnwritableConfigFolder()
{
    // A vector source dropped on the window fills the frames row, a folder
    // the model row.
    writeFile(m_dir->filePath(u"parcels.shp"_s), "");
    QDir().mkpath(m_dir->filePath(u"city"_s));
    captureMessages(*m_window);
    m_window->openDroppedPath(m_dir->filePath(u"parcels.shp"_s));
    m_window->openDroppedPath(m_dir->filePath(u"city"_s));
    QCOMPARE(widget<QLineEdit>(*m_window, "shapefileEdit")->text(), QDir::toNativeSeparators(m_dir->filePath(u"parcels.shp"_s)));
    QCOMPARE(widget<QLineEdit>(*m_window, "modelPathEdit")->text(), QDir::toNativeSeparators(m_dir->filePath(u"city"_s)));

    // Where the program's config folder cannot be written (here a file is in
    // its place), Tavrin keeps its files in the user's folder and says so.
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir programDir;
    writeFile(programDir.filePath(u"config"_s), "");
    m_window = std::make_unique<MainWindow>(programDir.path());
    const QString userFolder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QVERIFY(m_window->settingsFilePath().startsWith(userFolder));
    QVERIFY(widget<QPlainTextEdit>(*m_window, "logView")->toPlainText().contains(QDir::toNativeSeparators(userFolder)));
    QVERIFY(m_window->saveProject());
    QVERIFY(QFileInfo::exists(m_window->settingsFilePath()));
    QDir(userFolder).removeRecursively();
    QStandardPaths::setTestModeEnabled(false);
}

QTEST_MAIN(SettingsFormTest)
#include "SettingsFormTest.moc"
