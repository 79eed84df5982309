#include "playback/playmanager.h"

#include "player/mpvwidget.h"

#include <QEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QRegExp>
#include <QUrl>
#include <QVBoxLayout>

#include <mpv/client.h>

#include <cmath>

namespace ObDataBase {

QString stripMarkup(QString text) {
    return text.remove(QRegExp(QStringLiteral("<[^>]*>")));
}

QString decodeSubtitleText(QString text) {
    text.replace(QStringLiteral("======"), QStringLiteral("'"));
    text.replace(QStringLiteral(";;;;;;"), QStringLiteral("\""));
    return stripMarkup(text);
}

PlayManager::~PlayManager() {
    delete widget;
}

namespace {

// A subtitle line centred over the picture, as narrow as its text allows
// without taking more lines than at the picture's full width: the layout gives
// it the height for the full width, and a word-wrapping label's own narrower
// width would wrap it onto lines that are then cut off or drawn over the line
// below.
class SubtitleLine : public QLabel {
public:
    QSize sizeHint() const override {
        const QSize natural = QLabel::sizeHint();
        const int room = parentWidget() ? parentWidget()->contentsRect().width() : natural.width();
        const int height = heightForWidth(room);
        if (natural.width() >= room)
            return QSize(room, height);
        int narrow = natural.width(), wide = room;
        if (heightForWidth(narrow) <= height)
            return QSize(narrow, height);
        while (wide - narrow > 1) {
            const int middle = (narrow + wide) / 2;
            (heightForWidth(middle) <= height ? wide : narrow) = middle;
        }
        return QSize(wide, height);
    }

protected:
    // The hint depends on the picture's width (full screen or not).
    bool event(QEvent* e) override {
        if (e->type() == QEvent::ParentChange && parentWidget())
            parentWidget()->installEventFilter(this);
        return QLabel::event(e);
    }
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched == parentWidget() && e->type() == QEvent::Resize)
            updateGeometry();
        return QLabel::eventFilter(watched, e);
    }
};

// White on a shade of its own, so that it reads on any picture.
QLabel* subtitleLine(Qt::Alignment alignment, int pointSize) {
    auto* label = new SubtitleLine;
    label->setWordWrap(true);
    label->setAlignment(alignment);
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    label->setStyleSheet(QStringLiteral(
        "QLabel { color: white; background-color: rgba(0, 0, 0, 165); border-radius: 6px; padding: 3px 12px; }"));
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
    layout->setSpacing(4);
    layout->addStretch(0);
    widget->setLayout(layout);

    sentenceLabel = subtitleLine(Qt::AlignHCenter, 25);
    layout->addWidget(sentenceLabel, 0, Qt::AlignHCenter);
    sentenceLabel->hide();
    translationLabel = subtitleLine(Qt::AlignCenter, 23);
    layout->addWidget(translationLabel, 0, Qt::AlignHCenter);
    translationLabel->hide();
    layout->addSpacing(10);

    connect(widget, &MpvWidget::rawMpvEvent, this, &PlayManager::onRawMpvEvent);
    // Times arrive in seconds as double and are truncated toward zero.
    connect(widget, &MpvWidget::playTimeChanged, this, [this](double t) { onPositionChanged(qlonglong(t)); });
    connect(widget, &MpvWidget::playLengthChanged, this, [this](double t) {
        line.durationReported(t);
        if (t >= 0)
            emit durationChanged(qlonglong(t));
    });
    // The player reports the picture's time; what is heard is ahead of it by the
    // lead a seek gave the sound.
    connect(widget, &MpvWidget::playbackTimeChanged, this,
            [this](double seconds) { line.positionReported(seconds + soundAhead); });
    connect(widget, &MpvWidget::pausedChanged, &line, &PlayerTimeline::pausedReported);
    connect(widget, &MpvWidget::speedChanged, &line, &PlayerTimeline::speedReported);
    connect(widget, &MpvWidget::eofReachedChanged, &line, &PlayerTimeline::eofReported);
    connect(widget, &MpvWidget::seekableChanged, &line, &PlayerTimeline::seekableReported);
    connect(widget, &MpvWidget::tracksChanged, this, &PlayManager::notePicture);
    // The end of the media is the player's own: it pauses after the last sample
    // and keeps the file, so that play can start it again anywhere.
    widget->setPropertyQueued(QStringLiteral("keep-open"), QStringLiteral("yes"));
    widget->setPropertyQueued(QStringLiteral("audio-pitch-correction"), true);
    return widget;
}

PlayManager::PlayManager(QObject* parent) : QObject(nullptr) {
    Q_UNUSED(parent);
    connect(&line, &PlayerTimeline::positionChanged, this, [this](double seconds) {
        exactSeconds = seconds;
        emit exactPositionChanged(seconds);
    });
    connect(&line, &PlayerTimeline::pausedChanged, this, &PlayManager::pausedChanged);
    connect(&line, &PlayerTimeline::speedChanged, this, &PlayManager::speedChanged);
    connect(&line, &PlayerTimeline::ended, this, [this] { emit mediaStatusChanged(EndOfMedia); });
}

void PlayManager::loadMedia(const QString& src) {
    source = src;
    if (!widget)
        return;
    // A seek asked for while the source was being found waits for this file.
    if (!line.isLoading())
        line.expectFile();
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
    line.setPaused(value);
}

double PlayManager::duration() const {
    return widget ? widget->playLength() : 0.0;
}

double PlayManager::position() const {
    return widget ? widget->playTime() : 0.0;
}

int PlayManager::volume() {
    return widget ? int(widget->volume()) : 0;
}

void PlayManager::setVolume(int value) {
    if (widget)
        widget->setVolume(qint64(value));
}

void PlayManager::seekTo(double seconds) {
    line.seek(seconds);
}

void PlayManager::Engine::seekExact(double seconds) {
    if (!owner->widget)
        return;
    const double target = seconds + owner->pitch.seekLead;
    // With a picture the player starts the sound where the first frame it shows
    // starts, at or after the target: up to a frame's time (40 ms at 25/s) of the
    // sentence's start would be lost. Instead it lands on the frame that covers
    // the target, and the sound leads the picture by the rest, so that it starts
    // at the target exactly (a lead of less than a frame is not seen). Frames
    // are taken on the file's frame rate from its start; where they are not,
    // the sound starts within a few ms of the target still.
    double frame = target;
    if (owner->movingPicture && owner->frameRate > 0)
        frame = std::floor(target * owner->frameRate + 1e-6) / owner->frameRate;
    owner->setSoundAhead(target - frame > 0.0005 ? target - frame : 0.0);
    owner->widget->seekExact(frame);
}

void PlayManager::Engine::setPaused(bool paused) {
    if (owner->widget)
        owner->widget->setPaused(paused);
}

// A picture other than cover art decides where the sound starts after a seek.
void PlayManager::notePicture(const QVariantList& tracks) {
    movingPicture = false;
    frameRate = 0;
    for (const QVariant& track : tracks) {
        const QVariantMap t = track.toMap();
        if (t.value(QStringLiteral("type")) == QLatin1String("video") && t.value(QStringLiteral("selected")).toBool() &&
            !t.value(QStringLiteral("albumart")).toBool()) {
            movingPicture = true;
            frameRate = t.value(QStringLiteral("demux-fps")).toDouble();
        }
    }
}

void PlayManager::setSoundAhead(double seconds) {
    if (seconds == soundAhead)
        return;
    soundAhead = seconds;
    widget->setPropertyQueued(QStringLiteral("audio-delay"), -seconds);
}

void PlayManager::Engine::setSpeed(double speed) {
    if (!owner->widget)
        return;
    owner->playingSpeed = speed;
    owner->applyPitchFilter();
    owner->widget->setSpeed(speed);
}

// Slower or faster, the voice keeps its pitch through scaletempo2, which
// stretches the sound in overlapped windows found by a search at least as long
// as a low voice's period (85 Hz: 12 ms). Its windows reach back before the
// point the sound starts from after a seek, as far as the window is long, and
// there lies the previous sentence; so the window is short, and faster than
// normal (2 ms) the seek lands as far past the start as the window reaches back
// at that speed. The player's usual 20 ms window lets up to 30 ms of the
// previous sentence sound; scaletempo in short strides, its older filter,
// garbles low voices. At normal speed there is no filter at all, which would
// cut the start after every seek.
void PlayManager::applyPitchFilter() {
    PitchFilter wanted;
    if (playingSpeed > 1.0) {
        wanted.name = QStringLiteral("scaletempo2=window-size=2:search-interval=15");
        wanted.seekLead = 0.003 * playingSpeed;
    } else if (playingSpeed < 1.0) {
        wanted.name = QStringLiteral("scaletempo2=window-size=3:search-interval=15");
    }
    pitch.seekLead = wanted.seekLead;
    if (wanted.name != pitch.name) {
        pitch.name = wanted.name;
        widget->setPropertyQueued(QStringLiteral("af"), wanted.name);
    }
}

void PlayManager::Engine::setStop(std::optional<double> seconds) {
    // Where the player's own --end would stop the file: it ends the sound to the
    // sample, and the player pauses there (keep-open).
    if (owner->widget)
        owner->widget->setPropertyQueued(QStringLiteral("end"), seconds ? QVariant(QString::number(*seconds, 'f', 6))
                                                                        : QVariant(QStringLiteral("none")));
}

std::optional<double> PlayManager::Engine::standing() {
    if (!owner->widget)
        return std::nullopt;
    const QVariant at = owner->widget->getPropertyBlocking(QStringLiteral("playback-time"));
    if (at.userType() != QMetaType::Double)
        return std::nullopt;
    return at.toDouble() + owner->soundAhead;
}

void PlayManager::setSentenceSubtitle(const QString& text) {
    if (!sentenceLabel)
        return;
    sentenceLabel->setText(decodeSubtitleText(text));
    showSubtitleLines();
}

void PlayManager::setTranslationSubtitle(const QString& text) {
    if (!translationLabel)
        return;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        translationLabel->setText(stripMarkup(text));
    else
        translationLabel->setText(decodeSubtitleText(document.object().value(QStringLiteral("chinese")).toString()));
    showSubtitleLines();
}

void PlayManager::setSubtitlesVisible(bool visible) {
    subtitlesShown = visible;
    showSubtitleLines();
}

void PlayManager::showSubtitleLines() {
    if (!sentenceLabel)
        return;
    // An empty line would be an empty shade.
    sentenceLabel->setVisible(subtitlesShown && !sentenceLabel->text().isEmpty());
    translationLabel->setVisible(subtitlesShown && !translationLabel->text().isEmpty());
}

void PlayManager::setPlayerSubtitlesVisible(bool visible) {
    if (widget)
        widget->setPropertyQueued(QStringLiteral("sub-visibility"), visible);
}

void PlayManager::onRawMpvEvent(int eventLevel) {
    switch (eventLevel) {
    case MPV_EVENT_START_FILE:
        setSoundAhead(0);
        line.fileStarting();
        emit mediaStatusChanged(LoadingMedia);
        emit mediaStatusChanged(LoadedMedia);
        break;
    case MPV_EVENT_FILE_LOADED: {
        // A video (not a cover picture) starts on a frame. The track list is read
        // now: its report can come after the first seek.
        notePicture(widget->getPropertyBlocking(QStringLiteral("track-list")).toList());
        line.fileLoaded(movingPicture);
        emit mediaStatusChanged(LoadedMedia);
        break;
    }
    case MPV_EVENT_END_FILE:
        line.fileEnded();
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        line.restarted();
        break;
    default:
        break;
    }
}

void PlayManager::onPositionChanged(qlonglong value) {
    // While a file loads the reports are still the previous file's.
    if (line.isSeeking() || line.isLoading())
        return;
    emit positionChanged(value);
}

} // namespace ObDataBase
