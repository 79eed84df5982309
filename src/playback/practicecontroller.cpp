#include "playback/practicecontroller.h"

#include "core/pageprotocol.h"
#include "core/scripttext.h"
#include "playback/practicepage.h"

#include <QPointer>
#include <QWidget>

#include <cmath>

namespace Script = PageProtocol::Script;
using PageScript::build;
namespace Word = PageProtocol;

PracticeController::PracticeController(QObject* parent) : QObject(parent) {
    dictationGap.setSingleShot(true);
    dictationGap.setInterval(dictationGapMs);
    connect(&dictationGap, &QTimer::timeout, this, &PracticeController::replayDictationSentence);
}

PracticeController::~PracticeController() = default;

void PracticeController::page(const QString& snippet) {
    if (pageTarget)
        pageTarget->runInOwnPage(snippet);
}

void PracticeController::paragraphPage(const QString& snippet) {
    if (pageTarget)
        pageTarget->runInParagraphPage(snippet);
}

qint64 PracticeController::startMsAt(int index) const {
    return index >= 0 && index < startTimes.size() ? startTimes.at(index) : 0;
}

double PracticeController::sentenceStartSeconds(int index) const {
    if (index == -1)
        index = currentIndex;
    return startMsAt(index) / 1000.0;
}

void PracticeController::initPlay(const QString& src, const QString& type, const QList<int>& startTime,
                                  const QString& mediaType) {
    playState = Word::stopped;
    loadPositionState = Word::no;
    mediaEnded = false;
    currentIndex = 0;
    repeatCount = 0;
    startTimes = startTime;
    dictationGap.stop();

    if (!playManager && createPlayer)
        playManager = createPlayer();

    QWidget* widget = playManager ? playManager->playerWidget() : nullptr;
    isVideo = src.toLower().indexOf(Word::videoSourceMark, 1) >= 1 || mediaType == Word::videoMediaType;
    if (isVideo) {
        if (widget)
            widget->show();
        if (placeVideo)
            placeVideo();
    } else {
        page(Script::hideVideoFrame);
        if (widget)
            widget->hide();
    }

    if (!playManager)
        return;
    if (type == Word::online) {
        if (!resolveOnline) {
            playManager->loadMedia(src);
            return;
        }
        QPointer<PracticeController> self(this);
        resolveOnline(src, [self](const QString& url) {
            if (self && self->playManager)
                self->playManager->loadMedia(url);
        });
    } else if (type == Word::local) {
        QString path = src;
#ifdef Q_OS_WIN
        path.remove(QStringLiteral("file:///"));
#else
        // Keep the root of an absolute path: "file:///home/x" is "/home/x" here.
        path.replace(QStringLiteral("file:///"), QStringLiteral("/"));
#endif
        playManager->loadMedia(path);
    }
}

void PracticeController::positionChanged(qint64 position) {
    // During the pause between dictation replays, reports of the paused player are
    // ignored, so the same sentence end is not handled twice.
    if (dictationGap.isActive())
        return;
    if (duration == 0)
        return;
    page(build(Script::setPlaying, {qint64(position * 100 / duration)}));
    const qint64 ms = position * 1000;

    if (loadPositionState == Word::yes || (repeatState != Word::repeatSentence && mode == Word::readMode))
        track(ms);
    else if (loadPositionState == Word::no)
        sentenceEnd(ms);
}

void PracticeController::track(qint64 ms) {
    const int n = startTimes.size();
    if (n == 0) {
        currentIndex = -1;
        page(build(Script::highlight, {-1}));
        return;
    }
    int index = -1;
    if (ms >= startTimes.at(0)) {
        int i = 1;
        while (i < n && ms >= startTimes.at(i))
            ++i;
        if (i == n) {
            // In the last sentence the highlight is repeated on every report.
            currentIndex = n - 1;
            page(build(Script::highlight, {n - 1}));
            return;
        }
        index = i - 1;
    }
    if (index == currentIndex)
        return;
    currentIndex = index;
    page(build(Script::highlight, {index}));
}

void PracticeController::sentenceEnd(qint64 ms) {
    const int n = startTimes.size();
    // The last sentence ends with the media; an index outside -1 .. n-2 has no next start.
    if (currentIndex < -1 || currentIndex >= n - 1)
        return;
    if (ms < startTimes.at(currentIndex + 1))
        return;

    if (mode == Word::dictationMode) {
        ++repeatCount;
        if (QString::number(repeatCount) == playRepeatTimes) {
            repeatCount = 0;
            page(Script::pause);
            page(build(Script::setPlayTimes, {currentIndex, repeatCount}));
            if (playManager)
                playManager->seekToIfNonNegative(sentenceStartSeconds(currentIndex));
        } else {
            pause();
            dictationGap.start();
        }
    } else if (mode == Word::fillwordMode) {
        page(Script::pause);
        page(Script::setFillwordState);
    } else if (repeatState == Word::repeatSentence) {
        if (playManager)
            playManager->seekToIfNonNegative(sentenceStartSeconds(currentIndex));
    }
}

void PracticeController::replayDictationSentence() {
    page(Script::playFromStart);
    page(build(Script::setPlayTimes, {currentIndex, repeatCount}));
    if (playManager)
        playManager->seekToIfNonNegative(sentenceStartSeconds(currentIndex));
}

void PracticeController::mediaStatusChanged(int status) {
    switch (status) {
    case MediaStatusCode::LoadingMedia:
        page(Script::loadingStart);
        break;
    case MediaStatusCode::LoadedMedia:
        page(Script::loadingEnd);
        page(Script::playFromStart);
        page(Script::highlightFirst);
        break;
    case MediaStatusCode::EndOfMedia:
        playState = Word::stopped;
        if (mode == Word::dictationMode) {
            if (repeatState == Word::repeatSentenceDictation)
                break;
            ++repeatCount;
            if (QString::number(repeatCount) == playRepeatTimes) {
                if (repeatState == Word::repeatArticle) {
                    page(Script::next);
                } else if (repeatState == Word::repeatAll) {
                    currentIndex = 0;
                    repeatCount = 0;
                    page(Script::initDictation);
                }
            }
            mediaEnded = true;
            play(startMsAt(currentIndex) / 1000);
            page(build(Script::setPlayTimes, {currentIndex, repeatCount}));
        } else if (mode == Word::fillwordMode) {
            page(Script::pause);
        } else {
            mediaEnded = true;
            // The paragraph window offers to play again; told first, so that a page
            // that starts over (repeat) leaves it showing pause.
            paragraphPage(Script::offerPlay);
            page(Script::playEnd);
        }
        break;
    default:
        break;
    }
}

void PracticeController::play(qint64 position) {
    if (!playManager)
        return;
    if (mediaEnded) {
        playManager->seekToIfNonNegative(0.0);
        playManager->play();
        mediaEnded = false;
    }
    const bool seconds = clickState == Word::yes;
    if (position > 0 || (position == 0 && seconds))
        playManager->seekToIfNonNegative(seconds ? double(position) : std::floor(position / 1000.0));
    playManager->setPaused(false);
    playState = Word::playing;
    paragraphPage(Script::offerPause);
}

void PracticeController::pause() {
    if (!playManager)
        return;
    playManager->setPaused(true);
    playState = Word::paused;
    paragraphPage(Script::offerPlay);
}

void PracticeController::cancelPlay() {
    if (!playManager)
        return;
    dictationGap.stop();
    playManager->setPaused(true);
    if (QWidget* widget = playManager->playerWidget())
        widget->hide();
}

void PracticeController::resetMedia() {
    if (!playManager)
        return;
    if (QWidget* widget = playManager->playerWidget())
        widget->hide();
}

void PracticeController::fillwordSuccessAction() {
    ++currentIndex;
    if (currentIndex == startTimes.size()) {
        if (repeatState == Word::repeatAll) {
            currentIndex = 0;
            if (playManager)
                playManager->seekToIfNonNegative(0.0);
        } else {
            page(Script::next);
        }
    }
    if (playManager)
        playManager->play();
    page(build(Script::initFillwordIndex, {currentIndex}));
    page(Script::play);
}

void PracticeController::setPlayIndex(int index) {
    currentIndex = index;
    loadPositionState = Word::no;
}

void PracticeController::setState(const QString& stateName, const QString& state) {
    if (stateName == Word::repeatStateName) {
        repeatState = state;
    } else if (stateName == Word::modeStateName) {
        mode = state;
        if (state == Word::readMode) {
            if (playState == Word::paused) {
                play(startMsAt(currentIndex));
                page(Script::updatePlayStateIfMedia);
            }
            page(build(Script::highlightIfMedia, {currentIndex}));
        }
    }
}

void PracticeController::setVolume(int volume) {
    if (playManager)
        playManager->setVolume(volume);
}

void PracticeController::loadPosition(int position) {
    const int n = startTimes.size();
    int shown = 0;
    qint64 playValue = 0;
    if (position == 0) {
        currentIndex = 0;
        shown = 0;
        playValue = 1;
    } else if (position == 99) {
        currentIndex = n - 1;
        shown = n - 1;
        playValue = startMsAt(n - 1);
    } else {
        const qint64 seconds = qint64(float(duration) * position / 100);
        playValue = seconds;
        if (n > 0) {
            const qint64 ms = seconds * 1000;
            if (ms < startTimes.at(0)) {
                currentIndex = -1;
                repeatCount = 0;
            } else {
                for (int i = 1; i < n; ++i) {
                    if (ms < startTimes.at(i)) {
                        currentIndex = i - 1;
                        repeatCount = 0;
                        break;
                    }
                }
            }
        }
        shown = currentIndex;
    }
    page(build(Script::showPosition, {shown}));
    if (mode == Word::readMode)
        play(playValue);
    else
        play(startMsAt(currentIndex));
    loadPositionState = Word::no;
}

void PracticeController::setDictationIndex(int index) {
    const int target = index == -1 ? currentIndex : index;
    if (playManager)
        playManager->seekToIfNonNegative(sentenceStartSeconds(target));
    currentIndex = index;
    repeatCount = 0;
}

void PracticeController::setFillwordIndex(int index) {
    const int target = index == -1 ? currentIndex : index;
    if (playManager)
        playManager->seekToIfNonNegative(sentenceStartSeconds(target));
    currentIndex = index;
}
