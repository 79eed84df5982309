#pragma once

#include "player/audiodevice.h"
#include "player/mpvtypes.h"

#include <QMap>
#include <QOpenGLWidget>
#include <QSize>
#include <QStringList>
#include <QVariant>

#include <mpv/render.h>

#include <cstdint>

class LogoDrawer;
class MpvController;
class QThread;
class QTimer;

// The video surface and the front door of the media engine. Setters reach the
// controller as queued requests, getters as blocking invocations; the
// controller lives on `worker`.
class MpvWidget : public QOpenGLWidget {
    Q_OBJECT

public:
    explicit MpvWidget(QWidget* parent = nullptr, const QString& clientName = QStringLiteral("mpv"));
    ~MpvWidget() override;

    void openFile(const QString& path);
    void setPaused(bool paused);
    void setSpeed(double speed);
    double speed();
    void setPosition(double seconds);
    void setVolume(qint64 volume);
    qint64 volume();
    double playTime() const { return cachedPlayTime; }
    double playLength() const { return cachedPlayLength; }
    void setCursorHideDelay(int msec);
    void openDiscFolder(const QString& folder);
    void addSubtitleFile(const QString& path);
    void setSubtitleFiles(const QString& files);
    void stop();
    void frameStep();
    void frameBackStep();
    void seek(double seconds, bool exact);
    // To an absolute position, to the sample (or frame).
    void seekExact(double seconds);
    void setMuted(bool muted);
    void setAbLoop(double a, double b);
    void setAudioTrack(qint64 id);
    void setSubtitleTrack(qint64 id);
    void setVideoTrack(qint64 id);
    bool setChapter(qint64 chapter);
    qint64 chapter();
    QString mediaTitle();
    QString libraryVersion();
    bool isEofReached();
    QList<AudioDevice> audioDevices();
    QSize videoSize() const { return currentVideoSize; }
    QStringList protocols() const;
    void showOsdText(const QString& text);
    void setStatsPage(int page);
    int cycleStatsPage();
    void takeScreenshot(const QString& path, int mode);
    void setLogoFile(const QString& path);
    void setLogoColor(const QColor& color);
    void setLogoVisible(bool visible);
    void setLogLevel(const QString& level);
    void setDebugTrace(bool on) { debugTrace = on; }
    MpvController* controller() const { return ctrl; }
    void setPropertyQueued(const QString& name, const QVariant& value);
    void setOptionQueued(const QString& name, const QVariant& value);
    void setOptionIfChanged(const QString& name, const QVariant& value);
    QVariant commandBlocking(const QVariant& params);
    QVariant setPropertyBlocking(const QString& name, const QVariant& value);
    QVariant setOptionBlocking(const QString& name, const QVariant& value);
    QVariant getPropertyBlocking(const QString& name);

    int statsPageShown() const { return statsPage; }
    bool isLogoVisible() const { return logoVisible; }
    LogoDrawer* logo() const { return logoDrawer; }
    mpv_render_context* drawContext() const { return glContext; }
    QThread* workerThread() const { return worker; }

    // GL entry points for libmpv: the current context first, then the loaded GL library.
    static void* procAddress(void* ctx, const char* name);

    static constexpr int unloadHookId = 200211883;

signals:
    void ctrlCommand(QVariant params);
    void ctrlSetOptionVariant(QString name, QVariant value);
    void ctrlSetPropertyVariant(QString name, QVariant value);
    void ctrlSetLogLevel(QString level);
    void audioDeviceList(QList<AudioDevice> audioDevices);
    void playTimeChanged(double time);
    // The exact position ("playback-time"), on every change; -1 without a file.
    void playbackTimeChanged(double time);
    void speedChanged(double speed);
    void eofReachedChanged(bool yes);
    void playLengthChanged(double length);
    void seekableChanged(bool yes);
    void playbackLoading();
    void playbackStarted();
    void pausedChanged(bool yes);
    void playbackFinished();
    void playbackIdling();
    void mediaTitleChanged(QString title);
    void metaDataChanged(QVariantMap metadata);
    void chapterDataChanged(QVariantMap metadata);
    void chaptersChanged(QVariantList chapters);
    void tracksChanged(QVariantList tracks);
    void videoSizeChanged(QSize size);
    void fpsChanged(double fps);
    void avsyncChanged(double sync);
    void displayFramedropsChanged(int64_t count);
    void decoderFramedropsChanged(int64_t count);
    void audioBitrateChanged(double bitrate);
    void videoBitrateChanged(double bitrate);
    void fileNameChanged(QString filename);
    void fileFormatChanged(QString format);
    void fileSizeChanged(int64_t size);
    void fileCreationTimeChanged(int64_t secsSinceEpoch);
    void filePathChanged(QString path);
    void playlistChanged(QVariantList playlist);
    void logoSizeChanged(QSize size);
    void mouseMoved(int x, int y);
    void mousePress(int x, int y);
    void rawMpvEvent(int eventLevel);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private slots:
    void maybeUpdate();
    void ctrl_mpvPropertyChanged(QString name, QVariant v);
    void ctrl_logMessage(QString message);
    void ctrl_clientMessage(uint64_t id, QStringList args);
    void ctrl_unhandledMpvEvent(int eventLevel);
    void ctrl_videoSizeChanged(QSize size);
    void self_frameSwapped();
    void self_playbackStarted();
    void self_playbackFinished();
    void self_metadata(QVariantMap metadata);
    void self_audioDeviceList(QVariantList list);
    void self_mouseMoved();
    void hideTimer_timeout();

private:
    static void onUpdate(void* ctx);
    void updateDrawSize();
    void freeDrawContext();
    void contextAboutToGo();

    QThread* worker = nullptr;
    MpvController* ctrl = nullptr;
    mpv_render_context* glContext = nullptr;
    QTimer* cursorTimer = nullptr;
    QMap<QString, QVariant> optionCache;
    QSize currentVideoSize{-1, -1};
    double cachedPlayTime = 0;
    double cachedPlayLength = 0;
    int glWidth = 0;
    int glHeight = 0;
    int statsPage = 0;
    bool logoVisible = true;
    LogoDrawer* logoDrawer = nullptr;
    bool debugTrace = false;
    QVariant trackToRestore; // video track to select again once a new GL context exists
};
