#pragma once

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
// kept in its string at once; OK stores all eight and pushes them to the pages.
class SetDialog : public QDialog {
    Q_OBJECT

public:
    explicit SetDialog(QWidget* parent);
    ~SetDialog() override;

    WebApi* bridge = nullptr;

    QComboBox* box(const char* objectName) const;

    QString fontLevel;
    QString theme;
    QString textAlign;
    QString fontFamily;
    QString explainState;
    QString explainTipState;
    QString translationState;
    QString playRepeatTimes;

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
