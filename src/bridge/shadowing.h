#pragma once

#include "library/librarymodule.h"

#include <QLatin1String>
#include <QObject>
#include <QString>

#include <memory>

class BridgeContext;
class PracticeController;
class PracticePage;

// Shadowing ("Nachsprechen") as the practice page reaches it: the sentence is
// played once through the practice's player, then the microphone records the
// learner, and the page gets the comparison with the original
// (shadowing.state, shadowing.result) and hears both, A then B. The recording
// and the analysis are the library module's (ShadowingStudio), loaded on first
// use; attempts are kept there, the last five per sentence.
class Shadowing : public QObject {
    Q_OBJECT

public:
    Shadowing(BridgeContext& context, PracticeController& practice, PracticePage& page, QObject* parent = nullptr);
    ~Shadowing() override;

    void start(int index);
    // Space or the page's stop: a recording ends (its result follows); a take
    // still waiting for the microphone or playing the sentence is dropped.
    void stop();
    // A take is under way (from the sentence's playing to its analysis).
    bool isActive() const;
    // The practice moves to other media: the take and any playback end, silently.
    void cancel();

    // The attempt's recording, or (comparison) the original and then the recording, at the same loudness.
    void playAttempt(const QString& id, bool comparison);
    // The sentence once more through the practice's player ("Original").
    void playSentence(int index);
    QString attempts(int index);
    bool deleteAttempt(const QString& id);

    // For the preferences: {"microphones":[{"name","description"}],"default","error"}.
    QJsonObject microphones();

    // The practised media as attempts are kept under it: a URL without its
    // query (the signature changes), a local path as it is.
    static QString mediaKey(const QString& source);

private:
    ShadowingStudio* studio();
    void heard();
    void finished(const QJsonObject& result);
    void fail(const QString& message);
    void tell(QLatin1String state);
    void sendResult(const QJsonObject& result);

    BridgeContext& context;
    PracticeController& practice;
    PracticePage& page;
    std::unique_ptr<ShadowingStudio> studioObject;
    // After the studio: a take goes before it.
    std::unique_ptr<ShadowingTake> take;
    enum class Phase { Idle, Opening, Playing, Recording, Analysing };
    Phase phase = Phase::Idle;
    int index = -1;
    int maxMs = 0;
};
