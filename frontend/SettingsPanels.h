#pragma once

#include <QList>

class QFormLayout;
class QWidget;
struct SettingsFields;

// Builds the settings panels of the form into its fields: picture and
// output, naming and task, scene and range line, angles and quality, side
// by side, and the options beside the task buttons. Used while the form is
// built; the widgets belong to the form.
class SettingsPanels {
public:
    SettingsPanels(QWidget* form, SettingsFields& fields) : m_form(form), m_fields(fields) {}

    // The four panels, each in its scroll area, in a splitter.
    QWidget* buildPanels();
    // 继续上次任务 and 测试导出图斑数, for the row of the task buttons (after
    // the panels).
    QWidget* buildRunOptions();
    // What the lock of the form disables: each panel and the options.
    const QList<QWidget*>& lockable() const { return m_lockable; }

private:
    QWidget* buildPicturePanel();
    QWidget* buildNamingPanel();
    void addNamingRows(QFormLayout* form, QWidget* box);
    void addDossierRows(QFormLayout* form);
    QWidget* buildScenePanel();
    void addFrameChoiceRows(QFormLayout* form);
    QWidget* buildAnglePanel();
    QWidget* wrapPanel(QWidget* content);

    QWidget* m_form;
    SettingsFields& m_fields;
    QList<QWidget*> m_lockable;
};
