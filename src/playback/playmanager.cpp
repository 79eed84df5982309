#include "playback/playmanager.h"

#include "player/mpvwidget.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QRegExp>
#include <QUrl>
#include <QVBoxLayout>

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
    return widget;
}

void PlayManager::loadMedia(const QString& src) {
    source = src;
    if (!widget)
        return;
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
    seekPending = true;
    // Never into the last second, where the end test would fire at once.
    if (seconds >= duration() - 1)
        seconds = duration() - 1;
    widget->setPosition(seconds);
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
    if (eventLevel == 6) { // start of a file
        emit mediaStatusChanged(LoadingMedia);
        emit mediaStatusChanged(LoadedMedia);
    } else if (eventLevel == 8) { // file loaded
        emit mediaStatusChanged(LoadedMedia);
    }
}

void PlayManager::onPausedChanged(bool value) {
    paused = value;
}

void PlayManager::onDurationChanged(qlonglong value) {
    if (value >= 0)
        emit durationChanged(value);
}

void PlayManager::onPositionChanged(qlonglong value) {
    if (seekPending) {
        // The report after a seek may still carry the old time: swallow it.
        seekPending = false;
        return;
    }
    emit positionChanged(value);
    if (duration() - position() <= 1.0 && duration() > 0) {
        widget->setPaused(true);
        emit mediaStatusChanged(EndOfMedia);
    }
}

} // namespace ObDataBase
