#include "app/setdialog.h"

#include "bridge/webapi.h"
#include "core/appinfo.h"
#include "core/settings.h"
#include "desktop/desktop.h"
#include "ui_setdialog.h"

#include <QSettings>

namespace {

// The stored value for a box index, or the current value when the index is out of range.
QString valueAt(const QStringList& values, int index, const QString& current) {
    return index >= 0 && index < values.size() ? values.at(index) : current;
}

} // namespace

SetDialog::SetDialog(QWidget* parent) : QDialog(parent), form(new Ui::SetDialog) {
    Desktop::ensureResources();
    form->setupUi(this);
    setWindowTitle(QStringLiteral("偏好设置"));

    QSettings settings(Settings::settingsFilePath(), QSettings::IniFormat);
    fontLevel = settings.value(Settings::FontLevel).toString();
    theme = settings.value(Settings::Theme).toString();
    textAlign = settings.value(Settings::TextAlign).toString();
    fontFamily = settings.value(Settings::FontFamily).toString();
    explainState = settings.value(Settings::ExplainState).toString();
    explainTipState = settings.value(Settings::ExplainTipState).toString();
    translationState = settings.value(Settings::TranslationState).toString();
    playRepeatTimes = settings.value(Settings::PlayRepeatTimes).toString();
}

SetDialog::~SetDialog() = default;

QComboBox* SetDialog::box(const char* objectName) const {
    return findChild<QComboBox*>(QLatin1String(objectName));
}

void SetDialog::on_fontsize_currentIndexChanged(int index) {
    fontLevel = valueAt(ReadingChoices::fontLevels, index, fontLevel);
}

void SetDialog::on_theme_currentIndexChanged(int index) {
    theme = valueAt(ReadingChoices::themes, index, theme);
}

void SetDialog::on_textAlign_currentIndexChanged(int index) {
    textAlign = valueAt(ReadingChoices::textAligns, index, textAlign);
}

void SetDialog::on_fontFamily_currentTextChanged(const QString& arg1) {
    fontFamily = arg1;
}

void SetDialog::on_explainState_currentIndexChanged(int index) {
    if (index < 0 || index >= ReadingChoices::explainStates.size())
        return;
    explainState = ReadingChoices::explainStates.at(index);
    // The display mode only matters while explanations are shown.
    form->explainTipState->setEnabled(index != 0);
}

void SetDialog::on_explainTipState_currentIndexChanged(int index) {
    explainTipState = valueAt(ReadingChoices::explainTipStates, index, explainTipState);
}

void SetDialog::on_translationState_currentIndexChanged(int index) {
    translationState = valueAt(ReadingChoices::translationStates, index, translationState);
}

void SetDialog::on_playRepeatTimes_currentIndexChanged(int index) {
    playRepeatTimes = QString::number(index + 3);
}

void SetDialog::on_okBtn_clicked() {
    {
        QSettings settings(Settings::settingsFilePath(), QSettings::IniFormat);
        settings.setValue(Settings::FontLevel, fontLevel);
        settings.setValue(Settings::Theme, theme);
        settings.setValue(Settings::TextAlign, textAlign);
        settings.setValue(Settings::FontFamily, fontFamily);
        settings.setValue(Settings::ExplainState, explainState);
        settings.setValue(Settings::ExplainTipState, explainTipState);
        settings.setValue(Settings::TranslationState, translationState);
        settings.setValue(Settings::PlayRepeatTimes, playRepeatTimes);
    }
    if (bridge) {
        bridge->fontLevel = fontLevel;
        bridge->theme = theme;
        bridge->textAlign = textAlign;
        bridge->fontFamily = fontFamily;
        bridge->explainState = explainState;
        bridge->explainTipState = explainTipState;
        bridge->translationState = translationState;
        bridge->playRepeatTimes = playRepeatTimes;
        bridge->pushReadingSettings(fontLevel, theme, textAlign, fontFamily, explainState, explainTipState,
                                    translationState, playRepeatTimes);
    }
    close();
}

void SetDialog::on_cancelBtn_clicked() {
    close();
}
