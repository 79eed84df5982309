#pragma once

#include "core/settings.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <memory>

namespace Ui {
class SetDialog;
}
class QComboBox;
class WebApi;

// The modal preferences dialog for the reading settings. Each box's choice is
// kept in values() at once; OK stores all eight and pushes them to the pages,
// Cancel (or closing the dialog) puts the boxes back to the stored values.
// It also chooses the microphone shadowing records from (Settings::Microphone).
class SetDialog : public QDialog {
    Q_OBJECT

public:
    explicit SetDialog(QWidget* parent);
    ~SetDialog() override;

    // The bridge that receives the values on OK.
    void setBridge(WebApi* bridge) { webApi = bridge; }
    WebApi* bridge() const { return webApi; }

    QComboBox* box(const char* objectName) const;

    // Selects the box of each value (a value no box offers leaves its box, and
    // the dialog keeps that value until the box is changed).
    void setValues(const ReadingSettings& values);
    void selectTranslationState(const QString& state);
    const ReadingSettings& values() const { return chosen; }

public slots:
    void reject() override;

protected:
    // The microphones are asked for when the dialog opens: they come and go.
    void showEvent(QShowEvent* event) override;

private slots:
    void on_fontsize_currentIndexChanged(int index);
    void on_theme_currentIndexChanged(int index);
    void on_textAlign_currentIndexChanged(int index);
    void on_fontFamily_currentTextChanged(const QString& arg1);
    void on_explainState_currentIndexChanged(int index);
    void on_explainTipState_currentIndexChanged(int index);
    void on_translationState_currentIndexChanged(int index);
    void on_playRepeatTimes_currentIndexChanged(int index);
    void on_okBtn_clicked();
    void on_cancelBtn_clicked();

private:
    void fillMicrophones();

    WebApi* webApi = nullptr;
    ReadingSettings chosen;
    std::unique_ptr<Ui::SetDialog> form;
};

// Stored values of the preference boxes, in item order.
namespace ReadingChoices {
inline const QStringList fontLevels{"Smaller", "Medium", "Large", "Larger", "Largest"};
inline const QStringList themes{"Normal", "Night", "Sepia", "Gentle", "Fresh", "Green", "Pink", "Parchment"};
inline const QStringList textAligns{"justify", "left"};
inline const QStringList translationStates{"on", "tap", "off"};
inline const QStringList explainStates{"close", "primary", "middle", "senior"};
inline const QStringList explainTipStates{"highlight", "explain"};
} // namespace ReadingChoices
