// The configuration reference against what Vistrel reads, what Tavrin
// writes, the form's tooltips and docs/configuration.md.

#include "FrontendTestSupport.h"

#include "ConfigReference.h"
#include "DefaultSettings.h"

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
};

void ConfigReferenceTest::coversEveryKeyTheRendererReads()
{
    // The key readers in the loader, in reading order, with their types.
    const QString loader = QString::fromUtf8(readFile(QStringLiteral(VISTREL_SOURCE_DIR "/renderer/core/RenderConfig.cpp")));
    const QHash<QString, QString> types = {{u"Int"_s, u"integer"_s}, {u"Double"_s, u"number"_s},
                                           {u"Bool"_s, u"boolean"_s}, {u"String"_s, u"text"_s},
                                           {u"StringList"_s, u"list of texts"_s}};
    QStringList read;
    static const QRegularExpression call(u"read(Int|Double|Bool|String|StringList)Key\\(root, \"(\\w+)\""_s);
    for (auto it = call.globalMatch(loader); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        read.append(m.captured(2) + u": "_s + types.value(m.captured(1)));
    }
    QVERIFY(read.size() > 40);

    QStringList documented;
    for (const ConfigKeyInfo& info : configKeys())
        documented.append(QLatin1String(info.key) + u": "_s + QLatin1String(info.type));
    QCOMPARE(documented, read);
}

void ConfigReferenceTest::matchesWhatTavrinWrites()
{
    QStringList written;
    for (const ConfigKeyInfo& info : configKeys()) {
        if (info.writtenByTavrin)
            written.append(QLatin1String(info.key));
    }
    written.sort();
    QCOMPARE(written, defaultSettings().keys());
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

QTEST_MAIN(ConfigReferenceTest)
#include "ConfigReferenceTest.moc"
