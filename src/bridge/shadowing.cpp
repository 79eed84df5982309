#include "bridge/shadowing.h"

#include "bridge/bridgecontext.h"
#include "core/pageprotocol.h"
#include "core/scripttext.h"
#include "core/serviceconfig.h"
#include "core/settings.h"
#include "playback/practicecontroller.h"
#include "playback/practicepage.h"

#include <QJsonDocument>
#include <QSettings>
#include <QUrl>

#include <algorithm>

namespace Script = PageProtocol::Script;
namespace Word = PageProtocol;

namespace {

QString json(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// The learner gets twice the sentence's time to say it back, slowed down as it was heard.
constexpr double recordingFactor = 2.0;
constexpr int shortestRecordingMs = 3000;
constexpr int longestRecordingMs = 60000; // twice the longest sentence compared

} // namespace

Shadowing::Shadowing(BridgeContext& context, PracticeController& practice, PracticePage& page, QObject* parent)
    : QObject(parent), context(context), practice(practice), page(page) {
    // The messages come from the module in English; the page is German.
    context.loadPageTranslation();
}

Shadowing::~Shadowing() {
    take.reset();
    if (studioObject)
        studioObject->stopPlaying();
}

QString Shadowing::mediaKey(const QString& source) {
    const QUrl url(source);
    if (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"))
        return url.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo).toString();
    return source;
}

ShadowingStudio* Shadowing::studio() {
    if (!studioObject) {
        LibraryModule* module = context.library.module();
        if (!module)
            return nullptr;
        ensureDataDirectory();
        studioObject = module->openShadowing(dataDirectory());
    }
    return studioObject.get();
}

bool Shadowing::isActive() const {
    return phase != Phase::Idle;
}

void Shadowing::tell(QLatin1String state) {
    page.runInOwnPage(PageScript::build(Script::shadowingState, {QString(state)}));
}

void Shadowing::sendResult(const QJsonObject& result) {
    page.runInOwnPage(PageScript::build(Script::shadowingResult, {json(result)}));
}

void Shadowing::fail(const QString& message) {
    phase = Phase::Idle;
    sendResult(QJsonObject{{QStringLiteral("index"), index},
                           {QStringLiteral("attempt"), QString()},
                           {QStringLiteral("message"), message}});
    tell(Word::shadowingError);
}

void Shadowing::start(int sentence) {
    cancel();
    index = sentence;
    PracticePlayer* player = practice.player();
    if (!player || practice.mediaSource().isEmpty() || sentence < 0 || sentence >= practice.sentences().count()) {
        fail(tr("Open an article or a media file to practise first."));
        return;
    }
    ShadowingStudio* s = studio();
    if (!s) {
        fail(tr("Shadowing cannot work: a part of the program is missing. Installing the program again should help."));
        return;
    }
    ShadowingSentence what;
    what.source = practice.mediaSource();
    what.mediaKey = mediaKey(what.source);
    what.index = sentence;
    what.startMs = practice.sentences().startOf(sentence);
    what.endMs = practice.sentenceEndMs(sentence);
    what.caFile = ServiceConfig::location().caFile;
    const qint64 end = what.endMs > 0 ? what.endMs : std::max<qint64>(practice.duration() * 1000, what.startMs);
    const double speed = std::clamp(practice.speed(), 0.25, 4.0);
    maxMs = int(std::clamp<qint64>(qint64(recordingFactor * double(end - what.startMs) / std::min(speed, 1.0)),
                                   shortestRecordingMs, longestRecordingMs));

    ShadowingEvents events;
    events.context = this;
    events.ready = [this, sentence] {
        if (phase != Phase::Opening)
            return;
        phase = Phase::Playing;
        tell(Word::shadowingPlaying);
        practice.playSentenceOnce(sentence, [this] { heard(); });
        if (!practice.inHearing())
            fail(tr("The sentence cannot be played."));
    };
    events.analysing = [this] {
        phase = Phase::Analysing;
        tell(Word::shadowingAnalysing);
    };
    events.done = [this](const QJsonObject& result) { finished(result); };
    events.failed = [this](const QString& message) {
        practice.cancelHearing();
        fail(message);
    };
    QSettings settings(Settings::settingsFilePath(), QSettings::IniFormat);
    const QString device = settings.value(Settings::Microphone).toString();
    phase = Phase::Opening;
    take = s->begin(what, device, events);
}

void Shadowing::heard() {
    if (phase != Phase::Playing || !take)
        return;
    take->record(maxMs);
    phase = Phase::Recording;
    tell(Word::shadowingRecording);
}

void Shadowing::finished(const QJsonObject& result) {
    phase = Phase::Idle;
    sendResult(result);
    const QString attempt = result.value(QStringLiteral("attempt")).toString();
    if (attempt.isEmpty()) {
        tell(Word::shadowingError); // nothing heard: nothing kept
        return;
    }
    tell(Word::shadowingDone);
    // The comparison at once: original, then the learner.
    playAttempt(attempt, true);
}

void Shadowing::stop() {
    if (studioObject)
        studioObject->stopPlaying();
    switch (phase) {
    case Phase::Recording:
        take->stop();
        break;
    case Phase::Opening:
    case Phase::Playing:
        take.reset();
        practice.cancelHearing();
        fail(tr("Stopped."));
        break;
    case Phase::Analysing:
    case Phase::Idle:
        break;
    }
}

void Shadowing::cancel() {
    if (studioObject)
        studioObject->stopPlaying();
    if (phase == Phase::Opening || phase == Phase::Playing)
        practice.cancelHearing();
    take.reset();
    phase = Phase::Idle;
}

void Shadowing::playAttempt(const QString& id, bool comparison) {
    ShadowingStudio* s = studio();
    if (!s || isActive())
        return;
    practice.pause();
    if (!s->play(id, false, comparison, [this](const QString& error) {
            if (!error.isEmpty())
                sendResult(QJsonObject{{QStringLiteral("index"), index}, {QStringLiteral("message"), error}});
        }))
        qWarning("Shadowing: no attempt %s to play", qPrintable(id));
}

void Shadowing::playSentence(int sentence) {
    if (isActive() || sentence < 0 || sentence >= practice.sentences().count())
        return;
    if (studioObject)
        studioObject->stopPlaying();
    practice.playSentenceOnce(sentence, [] {});
}

QString Shadowing::attempts(int sentence) {
    // No practice yet, or no database yet: nothing to list, nothing to load.
    if (practice.mediaSource().isEmpty())
        return QStringLiteral("[]");
    ShadowingStudio* s = studio();
    if (!s)
        return QStringLiteral("[]");
    const QJsonArray list = s->attempts(mediaKey(practice.mediaSource()), sentence);
    return QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact));
}

bool Shadowing::deleteAttempt(const QString& id) {
    ShadowingStudio* s = studio();
    return s && s->deleteAttempt(id);
}

QJsonObject Shadowing::microphones() {
    ShadowingStudio* s = studio();
    if (!s)
        return QJsonObject{{QStringLiteral("microphones"), QJsonArray()},
                           {QStringLiteral("error"), tr("A part of the program is missing.")}};
    return s->microphones();
}
