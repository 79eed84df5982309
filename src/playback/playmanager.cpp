#include "playback/playmanager.h"

#include "player/mpvwidget.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QRegExp>
#include <QUrl>
#include <QVBoxLayout>

#include <mpv/client.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace ObDataBase {

QString stripMarkup(QString text) {
    return text.remove(QRegExp(QStringLiteral("<[^>]*>")));
}

QString decodeSubtitleText(QString text) {
    text.replace(QStringLiteral("======"), QStringLiteral("'"));
    text.replace(QStringLiteral(";;;;;;"), QStringLiteral("\""));
    return stripMarkup(text);
}

PlayManager::PlayManager(QObject* parent) : QObject(nullptr) {
    Q_UNUSED(parent);
}

PlayManager::~PlayManager() {
    delete widget;
}

namespace {

QLabel* subtitleLine(Qt::Alignment alignment, int pointSize) {
    auto* label = new QLabel;
    label->setWordWrap(true);
    label->setAlignment(alignment);
    label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    QFont font = label->font();
    font.setPointSize(pointSize);
    label->setFont(font);
    return label;
}

} // namespace

QWidget* PlayManager::playerWidget() {
    if (widget)
        return widget;
    widget = new MpvWidget(nullptr, QStringLiteral("mpv"));
    widget->setCursorHideDelay(0);
    widget->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Maximum);

    auto* layout = new QVBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addStretch(0);
    widget->setLayout(layout);

    sentenceLabel = subtitleLine(Qt::AlignHCenter, 25);
    layout->addWidget(sentenceLabel);
    sentenceLabel->setStyleSheet(QStringLiteral("QLabel { color : white; }"));
    sentenceLabel->hide();
    translationLabel = subtitleLine(Qt::AlignCenter, 23);
    layout->addWidget(translationLabel);
    translationLabel->setStyleSheet(QStringLiteral("QLabel { color : white; }"));
    translationLabel->hide();
    layout->addSpacing(10);

    connect(widget, &MpvWidget::pausedChanged, this, &PlayManager::onPausedChanged);
    connect(widget, &MpvWidget::rawMpvEvent, this, &PlayManager::onRawMpvEvent);
    // Times arrive in seconds as double and are truncated toward zero.
    connect(widget, &MpvWidget::playTimeChanged, this, [this](double t) { onPositionChanged(qlonglong(t)); });
    connect(widget, &MpvWidget::playLengthChanged, this, [this](double t) { onDurationChanged(qlonglong(t)); });
    connect(widget, &MpvWidget::playbackTimeChanged, this, &PlayManager::onExactPositionChanged);
    connect(widget, &MpvWidget::speedChanged, this, [this](double s) {
        rate = s > 0 ? s : 1.0;
        emit speedChanged(s);
    });
    connect(widget, &MpvWidget::eofReachedChanged, this, &PlayManager::onEofReachedChanged);
    connect(widget, &MpvWidget::seekableChanged, this, [this](bool yes) { seekable = yes; });
    // The end of the media is the player's own: it pauses after the last sample
    // and keeps the file, so that play can start it again anywhere.
    widget->setPropertyQueued(QStringLiteral("keep-open"), QStringLiteral("yes"));

    seekWatch.setSingleShot(true);
    seekWatch.setInterval(seekTimeoutMs);
    connect(&seekWatch, &QTimer::timeout, this, [this] { seekPending = false; });
    return widget;
}

void PlayManager::loadMedia(const QString& src) {
    source = src;
    if (!widget)
        return;
    loading = true;
    pendingSeek = -1;
    const QUrl url(src, QUrl::TolerantMode);
    const QString target =
        url.isLocalFile() ? url.toLocalFile() : QUrl::fromPercentEncoding(url.toEncoded(QUrl::FullyEncoded));
    widget->openFile(target);
}

void PlayManager::play() {
    setPaused(false);
}

void PlayManager::pause() {
    setPaused(true);
}

void PlayManager::setPaused(bool value) {
    if (widget)
        widget->setPaused(value);
}

double PlayManager::duration() const {
    return widget ? widget->playLength() : 0.0;
}

double PlayManager::position() const {
    return widget ? widget->playTime() : 0.0;
}

double PlayManager::speed() {
    return widget ? widget->speed() : 1.0;
}

void PlayManager::setSpeed(double value) {
    if (widget)
        widget->setSpeed(value);
}

int PlayManager::volume() {
    return widget ? int(widget->volume()) : 0;
}

void PlayManager::setVolume(int value) {
    if (widget)
        widget->setVolume(qint64(value));
}

void PlayManager::seekTo(double seconds) {
    if (!widget)
        return;
    // mpv reads a negative absolute time from the end of the media.
    seconds = std::max(seconds, 0.0);
    settling = false;
    seekTarget = seconds;
    if (loading) {
        // The file is not there yet: the seek is made once it is, and reports
        // wait for it.
        pendingSeek = seconds;
        seekPending = true;
        return;
    }
    if (seekable) {
        seekPending = true;
        seekWatch.start();
    }
    widget->seekExact(std::max(0.0, seconds - frameSeconds / 2));
}

void PlayManager::seekToIfNonNegative(double seconds) {
    if (seconds >= 0)
        seekTo(seconds);
}

void PlayManager::setSentenceSubtitle(const QString& text) {
    if (sentenceLabel)
        sentenceLabel->setText(decodeSubtitleText(text));
}

void PlayManager::setTranslationSubtitle(const QString& text) {
    if (!translationLabel)
        return;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) {
        translationLabel->setText(stripMarkup(text));
        return;
    }
    translationLabel->setText(decodeSubtitleText(document.object().value(QStringLiteral("chinese")).toString()));
}

void PlayManager::setSubtitlesVisible(bool visible) {
    if (!sentenceLabel)
        return;
    sentenceLabel->setVisible(visible);
    translationLabel->setVisible(visible);
}

void PlayManager::onRawMpvEvent(int eventLevel) {
    switch (eventLevel) {
    case MPV_EVENT_START_FILE:
        seekPending = pendingSeek >= 0;
        settling = false;
        eofReached = false;
        endReported = false;
        emit mediaStatusChanged(LoadingMedia);
        emit mediaStatusChanged(LoadedMedia);
        break;
    case MPV_EVENT_FILE_LOADED: {
        loading = false;
        // Video starts on a frame: a seek is rounded to the nearest one rather
        // than moved on to the next (up to a frame late).
        const QVariant art = widget->getPropertyBlocking(QStringLiteral("current-tracks/video/albumart"));
        const double fps = widget->getPropertyBlocking(QStringLiteral("container-fps")).toDouble();
        frameSeconds = art.userType() == QMetaType::Bool && !art.toBool() && fps > 1 ? 1.0 / fps : 0.0;
        if (pendingSeek >= 0)
            seekTo(std::exchange(pendingSeek, -1.0));
        emit mediaStatusChanged(LoadedMedia);
        break;
    }
    case MPV_EVENT_END_FILE:
        // A seek into a file that has gone never lands (one for the next file waits).
        seekPending = pendingSeek >= 0;
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        if (!seekPending)
            break;
        if (paused && frameSeconds == 0) {
            // Paused, the player counts the audio it has queued as played and
            // reports up to a tenth of a second early; it stands at the target.
            seekPending = false;
            seekWatch.stop();
            onExactPositionChanged(seekTarget);
            holdAtTarget = true;
            settle(seekTarget);
        } else {
            // The seek has landed when the player restarts at its target (a file's
            // first start can come between a seek and its landing). Reports from
            // here on are from the new position; the first is where it landed.
            const QVariant landed = widget->getPropertyBlocking(QStringLiteral("playback-time"));
            const double target = duration() > 0 ? std::min(seekTarget, duration()) : seekTarget;
            if (landed.userType() != QMetaType::Double || std::abs(landed.toDouble() - target) > landingTolerance)
                break;
            seekPending = false;
            seekWatch.stop();
            onExactPositionChanged(landed.toDouble());
            settle(landed.toDouble());
        }
        break;
    default:
        break;
    }
}

void PlayManager::settle(double landed) {
    settling = true;
    landedSeconds = landed;
    landedClock.start();
}

void PlayManager::onPausedChanged(bool value) {
    paused = value;
    if (!value)
        holdAtTarget = false;
    emit pausedChanged(value);
    checkEnd();
}

void PlayManager::onEofReachedChanged(bool reached) {
    eofReached = reached;
    if (!reached)
        endReported = false;
    checkEnd();
}

void PlayManager::checkEnd() {
    // The player reaches the end of the file before the last samples are heard,
    // and pauses once they are: that is the end.
    if (eofReached && paused && !endReported) {
        endReported = true;
        emit mediaStatusChanged(EndOfMedia);
    }
}

void PlayManager::onDurationChanged(qlonglong value) {
    if (value >= 0)
        emit durationChanged(value);
}

void PlayManager::onPositionChanged(qlonglong value) {
    // While a file loads the reports are still the previous file's.
    if (seekPending || loading)
        return;
    emit positionChanged(value);
}

void PlayManager::onExactPositionChanged(double seconds) {
    // No file, a report from before the seek, or from the previous file while one loads.
    if (seconds < 0 || seekPending || loading)
        return;
    if (holdAtTarget && paused)
        return;
    if (settling && landedClock.elapsed() < seekTimeoutMs) {
        // From the landing on, the player stands between there and as far as it
        // can have played since.
        const double furthest = landedSeconds + landedClock.elapsed() / 1000.0 * rate + landingTolerance;
        if (seconds < landedSeconds - landingTolerance || seconds > furthest)
            return;
    }
    settling = false;
    exactSeconds = seconds;
    emit exactPositionChanged(seconds);
}

} // namespace ObDataBase
