// The configuration reference against what Vistrel reads, what Tavrin
// writes, the form's tooltips and docs/configuration.md.

#include "FrontendTestSupport.h"

#include "ConfigReference.h"
#include "DefaultSettings.h"

#include "RendererMessages.h"

#include "core/ConfigKeys.h"
#include "core/RunProtocol.h"

#include <QFormLayout>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class ConfigReferenceTest : public QObject
{
    Q_OBJECT

private slots:
    void coversEveryKeyTheRendererReads();
    void matchesWhatTavrinWrites();
    void everyFormRowHasItsTooltip();
    void documentationIsUpToDate();
    void everyFailureMessageReadsInChinese();
};

void ConfigReferenceTest::coversEveryKeyTheRendererReads()
{
    // One text entry per row of the key table, and no entry for a key the
    // renderer does not read.
    QStringList table;
    for (const vistrel::ConfigKey& key : vistrel::configKeyTable())
        table.append(QLatin1String(key.name));
    QStringList documented;
    for (const ConfigKeyInfo& info : configKeys())
        documented.append(QLatin1String(info.key));
    table.sort();
    documented.sort();
    QCOMPARE(documented, table);
    QVERIFY(table.size() > 40);
}

void ConfigReferenceTest::matchesWhatTavrinWrites()
{
    // The form, loaded with the defaults, writes every key Tavrin writes and
    // nothing else; cluster keys stay out.
    QTemporaryDir dir;
    MainWindow window(dir.path());
    form(window).loadSettings(defaultSettings());
    QStringList written = form(window).collectSettings(false).keys();
    QStringList expected;
    for (const vistrel::ConfigKey& key : vistrel::configKeyTable()) {
        if (key.writtenByTavrin)
            expected.append(QLatin1String(key.name));
    }
    expected.sort();
    QCOMPARE(written, expected);
    QVERIFY(!written.contains(u"shard_index"_s));
}

void ConfigReferenceTest::everyFormRowHasItsTooltip()
{
    QTemporaryDir dir;
    MainWindow window(dir.path());

    // Every row of every form, label and field alike.
    int rows = 0;
    for (QFormLayout* form : window.findChildren<QFormLayout*>()) {
        for (int row = 0; row < form->rowCount(); ++row) {
            for (auto role : {QFormLayout::LabelRole, QFormLayout::FieldRole, QFormLayout::SpanningRole}) {
                QLayoutItem* item = form->itemAt(row, role);
                if (item && item->widget()) {
                    QVERIFY2(item->widget()->toolTip().contains(u"配置键："_s),
                             qPrintable(item->widget()->objectName() + u" in row "_s + QString::number(row)));
                    ++rows;
                }
            }
        }
    }
    QVERIFY(rows > 30);

    // Every key that has a label is on the form, with its range and the
    // value the form starts with.
    QStringList tooltips;
    for (QWidget* child : window.findChildren<QWidget*>())
        tooltips.append(child->toolTip());
    for (const ConfigKeyInfo& info : configKeys()) {
        if (!info.label)
            continue;
        const QString tip = configTooltip(info.key);
        QVERIFY2(tooltips.contains(tip), info.key);
        QVERIFY(tip.contains(u"范围："_s) && tip.contains(u"默认："_s));
    }
    QVERIFY(configTooltip("width").contains(u"默认：3840"_s));
    QVERIFY(configTooltip("html_report").contains(u"默认：开"_s));
}

void ConfigReferenceTest::documentationIsUpToDate()
{
    const QString committed = QString::fromUtf8(readFile(QStringLiteral(VISTREL_SOURCE_DIR "/docs/configuration.md")));
    QVERIFY2(committed == configurationMarkdown(),
             "docs/configuration.md is out of date: build/bin/tavrin_config_doc > docs/configuration.md");
    for (const ConfigKeyInfo& info : configKeys())
        QVERIFY(committed.contains(u"| `"_s + QLatin1String(info.key) + u"` |"_s));
}

void ConfigReferenceTest::everyFailureMessageReadsInChinese()
{
    // Walks the protocol's whole message table: each message has a Chinese
    // text with room for the same values, and the values reach the user.
    for (const vistrel::RunMessageText& text : vistrel::runMessageTexts()) {
        const QString chinese = chineseMessagePattern(text.id);
        QVERIFY2(!chinese.isEmpty(), text.pattern);
        QCOMPARE(int(chinese.count(u"{}"_s)), vistrel::patternValueCount(text.pattern));
        std::vector<std::string> values;
        for (int i = 0; i < vistrel::patternValueCount(text.pattern); ++i)
            values.push_back("/项目/v" + std::to_string(i));
        const QString english = QString::fromStdString(vistrel::runMessage(text.id, values));
        const QString shown = translateRendererMessage(english);
        QVERIFY2(shown != english, text.pattern);
        for (const std::string& value : values)
            QVERIFY2(shown.contains(QString::fromStdString(value)), qPrintable(shown));
    }
    QCOMPARE(translateRendererMessage(u"Config error: warmup_frames must be at most 1000."_s),
             u"配置错误：渲染等待帧数（warmup_frames）不能超过 1000。"_s);
    QCOMPARE(exitCodeMeaning(4), QString::fromUtf8(vistrel::findExitCode(4)->chinese));
}

QTEST_MAIN(ConfigReferenceTest)
#include "ConfigReferenceTest.moc"
