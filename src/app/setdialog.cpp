#include "app/setdialog.h"

#include "bridge/shadowing.h"
#include "bridge/webapi.h"
#include "core/settings.h"
#include "desktop/desktop.h"
#include "ui_setdialog.h"

#include <QComboBox>
#include <QJsonArray>
#include <QJsonObject>
#include <QSettings>

namespace {

// The stored value for a box index, or the current value when the index is out of range.
QString valueAt(const QStringList& values, int index, const QString& current) {
    return index >= 0 && index < values.size() ? values.at(index) : current;
}

// Selects the box item whose stored value is `value`; an unknown value leaves the box as it is.
void selectValue(QComboBox* box, const QStringList& values, const QString& value) {
    const int index = values.indexOf(value);
    if (index >= 0)
        box->setCurrentIndex(index);
}

} // namespace

SetDialog::SetDialog(QWidget* parent) : QDialog(parent), form(new Ui::SetDialog) {
    Desktop::ensureResources();
    form->setupUi(this);
    setWindowTitle(QStringLiteral("偏好设置"));

    // The main window has filled in the defaults at start-up.
    chosen = ReadingSettings::stored();
}

SetDialog::~SetDialog() = default;

QComboBox* SetDialog::box(const char* objectName) const {
    return findChild<QComboBox*>(QLatin1String(objectName));
}

void SetDialog::setValues(const ReadingSettings& values) {
    // Each selection runs its box's handler, so the chosen values follow the boxes.
    selectValue(form->fontsize, ReadingChoices::fontLevels, values.fontLevel);
    selectValue(form->theme, ReadingChoices::themes, values.theme);
    selectValue(form->textAlign, ReadingChoices::textAligns, values.textAlign);
    form->fontFamily->setCurrentText(values.fontFamily);
    form->explainTipState->setEnabled(values.explainState != QLatin1String("close"));
    selectValue(form->translationState, ReadingChoices::translationStates, values.translationState);
    selectValue(form->explainState, ReadingChoices::explainStates, values.explainState);
    selectValue(form->explainTipState, ReadingChoices::explainTipStates, values.explainTipState);
    bool numeric = false;
    const int repeatIndex = values.playRepeatTimes.toInt(&numeric) - 3;
    if (numeric && repeatIndex >= 0 && repeatIndex < form->playRepeatTimes->count())
        form->playRepeatTimes->setCurrentIndex(repeatIndex);
}

void SetDialog::selectTranslationState(const QString& state) {
    selectValue(form->translationState, ReadingChoices::translationStates, state);
}

void SetDialog::on_fontsize_currentIndexChanged(int index) {
    chosen.fontLevel = valueAt(ReadingChoices::fontLevels, index, chosen.fontLevel);
}

void SetDialog::on_theme_currentIndexChanged(int index) {
    chosen.theme = valueAt(ReadingChoices::themes, index, chosen.theme);
}

void SetDialog::on_textAlign_currentIndexChanged(int index) {
    chosen.textAlign = valueAt(ReadingChoices::textAligns, index, chosen.textAlign);
}

void SetDialog::on_fontFamily_currentTextChanged(const QString& arg1) {
    chosen.fontFamily = arg1;
}

void SetDialog::on_explainState_currentIndexChanged(int index) {
    if (index < 0 || index >= ReadingChoices::explainStates.size())
        return;
    chosen.explainState = ReadingChoices::explainStates.at(index);
    // The display mode only matters while explanations are shown.
    form->explainTipState->setEnabled(index != 0);
}

void SetDialog::on_explainTipState_currentIndexChanged(int index) {
    chosen.explainTipState = valueAt(ReadingChoices::explainTipStates, index, chosen.explainTipState);
}

void SetDialog::on_translationState_currentIndexChanged(int index) {
    chosen.translationState = valueAt(ReadingChoices::translationStates, index, chosen.translationState);
}

void SetDialog::on_playRepeatTimes_currentIndexChanged(int index) {
    chosen.playRepeatTimes = QString::number(index + 3);
}

void SetDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    fillMicrophones();
}

void SetDialog::fillMicrophones() {
    QComboBox* box = form->microphone;
    QSettings settings(Settings::settingsFilePath(), QSettings::IniFormat);
    const QString stored = settings.value(Settings::Microphone).toString();
    box->clear();
    box->addItem(tr("系统默认"), QString());
    Shadowing* shadowing = webApi ? webApi->shadowing() : nullptr;
    const QJsonObject found = shadowing ? shadowing->microphones() : QJsonObject();
    for (const QJsonValue& m : found.value(QStringLiteral("microphones")).toArray()) {
        const QString name = m[QStringLiteral("name")].toString();
        const QString description = m[QStringLiteral("description")].toString();
        box->addItem(description.isEmpty() ? name : description, name);
    }
    int at = box->findData(stored);
    if (at < 0) {
        // Chosen once and not there now (unplugged): kept, and said so.
        box->addItem(tr("%1（未连接）").arg(stored), stored);
        at = box->count() - 1;
    }
    box->setCurrentIndex(at);
}

void SetDialog::on_okBtn_clicked() {
    Settings::prepareSettingsFile();
    QSettings(Settings::settingsFilePath(), QSettings::IniFormat)
        .setValue(Settings::Microphone, form->microphone->currentData().toString());
    chosen.save();
    if (webApi) {
        webApi->setReadingSettings(chosen);
        webApi->pushReadingSettings(chosen);
    }
    accept();
}

void SetDialog::on_cancelBtn_clicked() {
    close();
}

void SetDialog::reject() {
    // Escape, the window's close button and Cancel all end here: a choice not
    // confirmed with OK is dropped, so it cannot slip into a later OK.
    const ReadingSettings stored = ReadingSettings::stored();
    setValues(stored);
    chosen = stored;
    QDialog::reject();
}
