#include "playback/practicecontroller.h"

#include "bridge/pagescript.h"

#include <QWidget>

#include <cmath>

using PageScript::Page;

PracticeController::PracticeController(QObject* parent) : QObject(parent) {
    dictationGap.setSingleShot(true);
    dictationGap.setInterval(dictationGapMs);
    connect(&dictationGap, &QTimer::timeout, this, &PracticeController::replayDictationSentence);
}

PracticeController::~PracticeController() = default;

void PracticeController::page(const QString& snippet) {
    PageScript::evaluate(pageFrame.data(), snippet);
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
    playState = QStringLiteral("stop");
    loadPositionState = QStringLiteral("false");
    mediaEnded = false;
    currentIndex = 0;
    repeatCount = 0;
    startTimes = startTime;
    dictationGap.stop();

    if (!playManager && createPlayer)
        playManager = createPlayer();

    QWidget* widget = playManager ? playManager->playerWidget() : nullptr;
    isVideo = src.toLower().indexOf(QLatin1String("mp4"), 1) >= 1 || mediaType == QLatin1String("4");
    if (isVideo) {
        if (widget)
            widget->show();
        if (placeVideo)
            placeVideo();
    } else {
        page(QStringLiteral("media.hideVideoFrame();"));
        if (widget)
            widget->hide();
    }

    if (!playManager)
        return;
    if (type == QLatin1String("online")) {
        if (!resolveOnline) {
            playManager->loadMedia(src);
            return;
        }
        QPointer<PracticeController> self(this);
        resolveOnline(src, [self](const QString& url) {
            if (self && self->playManager)
                self->playManager->loadMedia(url);
        });
    } else if (type == QLatin1String("local")) {
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
    page(PageScript::build(QStringLiteral("media.setPlaying('%1');"), {qint64(position * 100 / duration)}));
    const qint64 ms = position * 1000;

    if (loadPositionState == QLatin1String("true") ||
        (repeatState != QLatin1String("repeatSen") && mode == QLatin1String("read")))
        track(ms);
    else if (loadPositionState == QLatin1String("false"))
        sentenceEnd(ms);
}

void PracticeController::track(qint64 ms) {
    const int n = startTimes.size();
    if (n == 0) {
        currentIndex = -1;
        page(PageScript::build(QStringLiteral("media.highlight('%1');"), {-1}));
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
            page(PageScript::build(QStringLiteral("media.highlight('%1');"), {n - 1}));
            return;
        }
        index = i - 1;
    }
    if (index == currentIndex)
        return;
    currentIndex = index;
    page(PageScript::build(QStringLiteral("media.highlight('%1');"), {index}));
}

void PracticeController::sentenceEnd(qint64 ms) {
    const int n = startTimes.size();
    // The last sentence ends with the media; an index outside -1 .. n-2 has no next start.
    if (currentIndex < -1 || currentIndex >= n - 1)
        return;
    if (ms < startTimes.at(currentIndex + 1))
        return;

    if (mode == QLatin1String("dictation")) {
        ++repeatCount;
        if (QString::number(repeatCount) == playRepeatTimes) {
            repeatCount = 0;
            page(QStringLiteral("media.pause();"));
            page(PageScript::build(QStringLiteral("article.setPlayTimes('%1', '%2');"), {currentIndex, repeatCount}));
            if (playManager)
                playManager->seekToIfNonNegative(sentenceStartSeconds(currentIndex));
        } else {
            pause();
            dictationGap.start();
        }
    } else if (mode == QLatin1String("fillword")) {
        page(QStringLiteral("media.pause();"));
        page(QStringLiteral("media.setFillwordState(true);"));
    } else if (repeatState == QLatin1String("repeatSen")) {
        if (playManager)
            playManager->seekToIfNonNegative(sentenceStartSeconds(currentIndex));
    }
}

void PracticeController::replayDictationSentence() {
    page(QStringLiteral("media.play(0);"));
    page(PageScript::build(QStringLiteral("article.setPlayTimes('%1', '%2');"), {currentIndex, repeatCount}));
    if (playManager)
        playManager->seekToIfNonNegative(sentenceStartSeconds(currentIndex));
}

void PracticeController::mediaStatusChanged(int status) {
    switch (status) {
    case MediaStatusCode::LoadingMedia:
        page(QStringLiteral("media.loadingStart();"));
        break;
    case MediaStatusCode::LoadedMedia:
        page(QStringLiteral("media.loadingEnd();"));
        page(QStringLiteral("media.play(0);"));
        page(QStringLiteral("media.highlight(0);"));
        break;
    case MediaStatusCode::EndOfMedia:
        playState = QStringLiteral("stop");
        if (mode == QLatin1String("dictation")) {
            if (repeatState == QLatin1String("repeateSen"))
                break;
            ++repeatCount;
            if (QString::number(repeatCount) == playRepeatTimes) {
                if (repeatState == QLatin1String("repeat")) {
                    page(QStringLiteral("media.next();"));
                } else if (repeatState == QLatin1String("repeated")) {
                    currentIndex = 0;
                    repeatCount = 0;
                    page(QStringLiteral("article.initDictation(0);"));
                }
            }
            mediaEnded = true;
            play(startMsAt(currentIndex) / 1000);
            page(PageScript::build(QStringLiteral("article.setPlayTimes('%1', '%2');"), {currentIndex, repeatCount}));
        } else if (mode == QLatin1String("fillword")) {
            page(QStringLiteral("media.pause();"));
        } else {
            mediaEnded = true;
            // The paragraph window offers to play again; told first, so that a page
            // that starts over (repeat) leaves it showing pause.
            PageScript::evaluate(Page::Paragraph, QStringLiteral("paragraph.setPlayState('play');"));
            page(QStringLiteral("media.playEnd();"));
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
    const bool seconds = clickState == QLatin1String("true");
    if (position > 0 || (position == 0 && seconds))
        playManager->seekToIfNonNegative(seconds ? double(position) : std::floor(position / 1000.0));
    playManager->setPaused(false);
    playState = QStringLiteral("play");
    PageScript::evaluate(Page::Paragraph, QStringLiteral("paragraph.setPlayState('pause');"));
}

void PracticeController::pause() {
    if (!playManager)
        return;
    playManager->setPaused(true);
    playState = QStringLiteral("pause");
    PageScript::evaluate(Page::Paragraph, QStringLiteral("paragraph.setPlayState('play');"));
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
        if (repeatState == QLatin1String("repeated")) {
            currentIndex = 0;
            if (playManager)
                playManager->seekToIfNonNegative(0.0);
        } else {
            page(QStringLiteral("media.next();"));
        }
    }
    if (playManager)
        playManager->play();
    page(PageScript::build(QStringLiteral("article.initIndex('%1', 'fillword');"), {currentIndex}));
    page(QStringLiteral("media.play();"));
}

void PracticeController::setPlayIndex(int index) {
    currentIndex = index;
    loadPositionState = QStringLiteral("false");
}

void PracticeController::setState(const QString& stateName, const QString& state) {
    if (stateName == QLatin1String("repeat")) {
        repeatState = state;
    } else if (stateName == QLatin1String("mode")) {
        mode = state;
        if (state == QLatin1String("read")) {
            if (playState == QLatin1String("pause")) {
                play(startMsAt(currentIndex));
                page(QStringLiteral("if(media){media.updatePlayState();}"));
            }
            page(PageScript::build(QStringLiteral("if(media){media.highlight('%1');}"), {currentIndex}));
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
    page(PageScript::build(
        QStringLiteral("media.highlight('%1');article.initDictation('%1');article.initIndex('%1', 'fillword');"),
        {shown}));
    if (mode == QLatin1String("read"))
        play(playValue);
    else
        play(startMsAt(currentIndex));
    loadPositionState = QStringLiteral("false");
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
