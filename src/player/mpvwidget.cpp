#include "player/mpvwidget.h"

#include "player/logodrawer.h"
#include "player/mpvcontroller.h"

#include <QDebug>
#include <QDir>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <mpv/render_gl.h>

#include <stdexcept>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

const QString unloadHookName = QStringLiteral("on_unload");
const QString osdDuration = QStringLiteral("1000");

void* nullNativeDisplay() {
    return nullptr;
}

bool isValue(const QVariant& v) {
    // User types (MpvErrorCode) mean the library had no value.
    return v.isValid() && v.userType() < QMetaType::User;
}

template <typename T> T valueOr(const QVariant& v, const T& fallback) {
    return isValue(v) && v.canConvert<T>() ? v.value<T>() : fallback;
}

} // namespace

MpvWidget::MpvWidget(QWidget* parent, const QString& clientName) : QOpenGLWidget(parent) {
    registerMpvTypes();

    worker = new QThread;
    worker->start(QThread::InheritPriority);
    ctrl = new MpvController;
    ctrl->moveToThread(worker);

    cursorTimer = new QTimer(this);
    cursorTimer->setSingleShot(true);
    cursorTimer->setInterval(1000);

    connect(this, &MpvWidget::ctrlCommand, ctrl, &MpvController::command, Qt::QueuedConnection);
    connect(this, &MpvWidget::ctrlSetOptionVariant, ctrl, &MpvController::setOptionVariant, Qt::QueuedConnection);
    connect(this, &MpvWidget::ctrlSetPropertyVariant, ctrl, &MpvController::setPropertyVariant, Qt::QueuedConnection);
    connect(this, &MpvWidget::ctrlSetLogLevel, ctrl, &MpvController::setLogLevel, Qt::AutoConnection);

    connect(
        ctrl, &MpvController::mpvPropertyChanged, this,
        [this](const QString& name, const QVariant& v, uint64_t) { ctrl_mpvPropertyChanged(name, v); },
        Qt::QueuedConnection);
    connect(ctrl, &MpvController::logMessage, this, &MpvWidget::ctrl_logMessage, Qt::QueuedConnection);
    connect(ctrl, &MpvController::clientMessage, this, &MpvWidget::ctrl_clientMessage, Qt::QueuedConnection);
    connect(ctrl, &MpvController::unhandledMpvEvent, this, &MpvWidget::ctrl_unhandledMpvEvent, Qt::QueuedConnection);
    connect(ctrl, &MpvController::videoSizeChanged, this, &MpvWidget::ctrl_videoSizeChanged, Qt::QueuedConnection);

    connect(this, &MpvWidget::mouseMoved, this, &MpvWidget::self_mouseMoved);
    connect(cursorTimer, &QTimer::timeout, this, &MpvWidget::hideTimer_timeout);

    // A start-up failure is raised on the worker thread; carry it over and
    // raise it here, after stopping the thread, so the caller can catch it.
    QString failure;
    QMetaObject::invokeMethod(
        ctrl,
        [&failure, this] {
            try {
                ctrl->create(true, true);
            } catch (const std::exception& e) {
                failure = QString::fromUtf8(e.what());
            }
        },
        Qt::BlockingQueuedConnection);
    if (!failure.isNull()) {
        worker->quit();
        worker->wait();
        delete ctrl;
        delete worker;
        throw MediaEngineError(failure.toStdString());
    }

    // The render context needs a GL context, so it is created in initializeGL;
    // until then the controller has none.
    QMetaObject::invokeMethod(
        ctrl, [this] { return ctrl->mpvDrawContext(); }, Qt::BlockingQueuedConnection, &glContext);
    connect(worker, &QThread::finished, ctrl, &QObject::deleteLater);

    MpvController::PropertyList properties;
    auto observe = [&properties](const char* name, mpv_format format) {
        properties.append({QString::fromLatin1(name), 0, format});
    };
    observe("time-pos", MPV_FORMAT_DOUBLE);
    observe("pause", MPV_FORMAT_FLAG);
    observe("media-title", MPV_FORMAT_STRING);
    observe("chapter-metadata", MPV_FORMAT_NODE);
    observe("track-list", MPV_FORMAT_NODE);
    observe("chapter-list", MPV_FORMAT_NODE);
    observe("duration", MPV_FORMAT_DOUBLE);
    observe("estimated-vf-fps", MPV_FORMAT_DOUBLE);
    observe("avsync", MPV_FORMAT_DOUBLE);
    observe("frame-drop-count", MPV_FORMAT_INT64);
    observe("decoder-frame-drop-count", MPV_FORMAT_INT64);
    observe("audio-bitrate", MPV_FORMAT_DOUBLE);
    observe("video-bitrate", MPV_FORMAT_DOUBLE);
    observe("paused-for-cache", MPV_FORMAT_FLAG);
    observe("metadata", MPV_FORMAT_NODE);
    observe("audio-device-list", MPV_FORMAT_NODE);
    observe("filename", MPV_FORMAT_STRING);
    observe("file-format", MPV_FORMAT_STRING);
    observe("file-size", MPV_FORMAT_STRING);
    observe("file-date-created", MPV_FORMAT_NODE);
    observe("format", MPV_FORMAT_STRING);
    observe("path", MPV_FORMAT_STRING);
    observe("seekable", MPV_FORMAT_FLAG);
    // Unthrottled, for practice at the exact sentence boundary; mpv changes it
    // about every 60 ms of audio (or once per video frame).
    observe("playback-time", MPV_FORMAT_DOUBLE);
    observe("speed", MPV_FORMAT_DOUBLE);
    observe("eof-reached", MPV_FORMAT_FLAG);
    const QSet<QString> throttled{
        QStringLiteral("time-pos"),         QStringLiteral("estimated-vf-fps"),         QStringLiteral("avsync"),
        QStringLiteral("frame-drop-count"), QStringLiteral("decoder-frame-drop-count"), QStringLiteral("audio-bitrate"),
        QStringLiteral("video-bitrate")};
    QMetaObject::invokeMethod(
        ctrl, [this, properties, throttled] { ctrl->observeProperties(properties, throttled); },
        Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(
        ctrl, [this] { ctrl->addHook(unloadHookName, unloadHookId); }, Qt::BlockingQueuedConnection);
    setOptionBlocking(QStringLiteral("ytdl"), QStringLiteral("yes"));
    setOptionBlocking(QStringLiteral("audio-client-name"), clientName);
    // libmpv's renderer otherwise waits inside paintGL, on the GUI thread, until a
    // frame's display time (up to 50 ms per frame); with no offset it asks for
    // the repaint at that time instead.
    setOptionBlocking(QStringLiteral("video-timing-offset"), 0.0);
    ctrl->setLogLevel(QStringLiteral("info"));

    connect(this, &QOpenGLWidget::frameSwapped, this, &MpvWidget::self_frameSwapped);
    connect(this, &MpvWidget::playbackStarted, this, &MpvWidget::self_playbackStarted);
    connect(this, &MpvWidget::playbackFinished, this, &MpvWidget::self_playbackFinished);
    setContextMenuPolicy(Qt::CustomContextMenu);
}

MpvWidget::~MpvWidget() {
    // The base class destroys the GL context after this body has run.
    if (QOpenGLContext* gl = context())
        disconnect(gl, nullptr, this, nullptr);
    // libmpv wants the render context gone (with its GL context current)
    // before the core is destroyed on the worker thread.
    freeDrawContext();
    delete logoDrawer;
    logoDrawer = nullptr;
    delete cursorTimer;
    cursorTimer = nullptr;

    // The controller is deleted (and the core terminated) on the worker thread
    // as it finishes; wait for that so no thread or handle outlives the widget.
    QPointer<MpvController> controller = ctrl;
    worker->quit();
    worker->wait();
    delete controller.data();
    ctrl = nullptr;
    delete worker;
    worker = nullptr;
}

void MpvWidget::freeDrawContext() {
    if (!glContext)
        return;
    makeCurrent();
    mpv_render_context_set_update_callback(glContext, nullptr, nullptr);
    QMetaObject::invokeMethod(
        ctrl, [this] { ctrl->setDrawContext(nullptr); }, Qt::BlockingQueuedConnection);
    mpv_render_context_free(glContext);
    glContext = nullptr;
    doneCurrent();
}

void MpvWidget::contextAboutToGo() {
    // The widget moves to another window and gets a new GL context; libmpv drops
    // the video track with the render context, so note it for initializeGL.
    if (glContext && !logoVisible) {
        const QVariant track = getPropertyBlocking(QStringLiteral("vid"));
        if (isValue(track) && track.userType() != QMetaType::Bool)
            trackToRestore = track;
    }
    freeDrawContext();
}

// ---- requests -------------------------------------------------------------

void MpvWidget::openFile(const QString& path) {
    // Clears the subtitles of an earlier file. An empty list, because any text
    // (even a line feed) is taken as a file name that fails to open on every load.
    emit ctrlSetOptionVariant(QStringLiteral("sub-files"), QStringList());
    emit ctrlCommand(QStringList{QStringLiteral("loadfile"), path});
    setCursorHideDelay(cursorTimer->interval());
}

void MpvWidget::setPaused(bool paused) {
    setPropertyQueued(QStringLiteral("pause"), paused);
}

void MpvWidget::setSpeed(double speed) {
    setPropertyQueued(QStringLiteral("speed"), speed);
}

double MpvWidget::speed() {
    return getPropertyBlocking(QStringLiteral("speed")).toDouble();
}

void MpvWidget::setPosition(double seconds) {
    setPropertyQueued(QStringLiteral("time-pos"), seconds);
}

void MpvWidget::setVolume(qint64 volume) {
    setPropertyQueued(QStringLiteral("volume"), volume);
}

qint64 MpvWidget::volume() {
    return getPropertyBlocking(QStringLiteral("volume")).toLongLong();
}

void MpvWidget::setCursorHideDelay(int msec) {
    cursorTimer->stop();
    cursorTimer->setInterval(msec);
    setCursor(Qt::ArrowCursor);
    if (msec > 0)
        cursorTimer->start();
}

void MpvWidget::openDiscFolder(const QString& folder) {
    const QStringList entries = QDir(folder).entryList();
    if (entries.contains(QStringLiteral("VIDEO_TS")) || entries.contains(QStringLiteral("AUDIO_TS")))
        openFile(folder + QStringLiteral("/VIDEO_TS/VIDEO_TS.IFO"));
    else if (entries.contains(QStringLiteral("BDMV")) || entries.contains(QStringLiteral("AACS")))
        openFile(QStringLiteral("bluray://") + folder);
}

void MpvWidget::addSubtitleFile(const QString& path) {
    emit ctrlCommand(QStringList{QStringLiteral("sub-add"), path});
}

void MpvWidget::setSubtitleFiles(const QString& files) {
    emit ctrlSetOptionVariant(QStringLiteral("sub-files"), files);
}

void MpvWidget::stop() {
    emit ctrlCommand(QStringLiteral("stop"));
}

void MpvWidget::frameStep() {
    emit ctrlCommand(QStringLiteral("frame_step"));
}

void MpvWidget::frameBackStep() {
    emit ctrlCommand(QStringLiteral("frame_back_step"));
}

void MpvWidget::seek(double seconds, bool exact) {
    QVariantList params{QStringLiteral("seek"), seconds};
    if (exact)
        params.append(QStringLiteral("exact"));
    emit ctrlCommand(params);
}

void MpvWidget::seekExact(double seconds) {
    emit ctrlCommand(QVariantList{QStringLiteral("seek"), seconds, QStringLiteral("absolute+exact")});
}

void MpvWidget::setMuted(bool muted) {
    setPropertyQueued(QStringLiteral("mute"), muted);
}

void MpvWidget::setAbLoop(double a, double b) {
    setPropertyQueued(QStringLiteral("ab-loop-a"), a < 0 ? QVariant(QStringLiteral("no")) : QVariant(a));
    setPropertyQueued(QStringLiteral("ab-loop-b"), b < 0 ? QVariant(QStringLiteral("no")) : QVariant(b));
}

void MpvWidget::setAudioTrack(qint64 id) {
    setPropertyQueued(QStringLiteral("aid"), id);
}

void MpvWidget::setSubtitleTrack(qint64 id) {
    setPropertyQueued(QStringLiteral("sid"), id);
}

void MpvWidget::setVideoTrack(qint64 id) {
    setPropertyQueued(QStringLiteral("vid"), id);
}

bool MpvWidget::setChapter(qint64 chapter) {
    return !setPropertyBlocking(QStringLiteral("chapter"), chapter).isValid();
}

qint64 MpvWidget::chapter() {
    return getPropertyBlocking(QStringLiteral("chapter")).toLongLong();
}

QString MpvWidget::mediaTitle() {
    return getPropertyBlocking(QStringLiteral("media-title")).toString();
}

QString MpvWidget::libraryVersion() {
    return getPropertyBlocking(QStringLiteral("mpv-version")).toString();
}

bool MpvWidget::isEofReached() {
    return getPropertyBlocking(QStringLiteral("eof-reached")).toBool();
}

QList<AudioDevice> MpvWidget::audioDevices() {
    return AudioDevice::listFromVList(getPropertyBlocking(QStringLiteral("audio-device-list")).toList());
}

QStringList MpvWidget::protocols() const {
    return ctrl->protocols;
}

void MpvWidget::showOsdText(const QString& text) {
    // The stats overlay owns the OSD while it is shown.
    if (statsPage == 1 || statsPage == 2)
        return;
    emit ctrlCommand(QVariantList{QStringLiteral("show_text"), text, osdDuration});
}

void MpvWidget::setStatsPage(int page) {
    const bool shown = statsPage == 1 || statsPage == 2;
    const bool show = page == 1 || page == 2;
    if (shown != show) {
        qDebug() << "toggling stats page";
        emit ctrlCommand(QStringList{QStringLiteral("script-binding"), QStringLiteral("stats/display-stats-toggle")});
    }
    if (show) {
        qDebug() << "setting page to" << page;
        emit ctrlCommand(
            QStringList{QStringLiteral("script-binding"), QStringLiteral("stats/display-page-%1").arg(page)});
    }
    statsPage = page;
}

int MpvWidget::cycleStatsPage() {
    setStatsPage(statsPage < 2 ? statsPage + 1 : 0);
    return statsPage;
}

void MpvWidget::takeScreenshot(const QString& path, int mode) {
    if (mode == 2) {
        grab().save(path);
        return;
    }
    emit ctrlCommand(QStringList{QStringLiteral("screenshot-to-file"), path,
                                 mode == 1 ? QStringLiteral("subtitles") : QStringLiteral("video")});
}

void MpvWidget::setLogoFile(const QString& path) {
    makeCurrent();
    if (!logoDrawer) {
        logoDrawer = new LogoDrawer(this);
        connect(logoDrawer, &LogoDrawer::logoSize, this, &MpvWidget::logoSizeChanged);
    }
    logoDrawer->setLogoFile(path);
    updateDrawSize();
    if (logoVisible)
        update();
    doneCurrent();
}

void MpvWidget::setLogoColor(const QColor& color) {
    if (!logoDrawer) {
        logoDrawer = new LogoDrawer(this);
        connect(logoDrawer, &LogoDrawer::logoSize, this, &MpvWidget::logoSizeChanged);
    }
    logoDrawer->setBackgroundColor(color);
    if (logoVisible)
        update();
}

void MpvWidget::setLogoVisible(bool visible) {
    logoVisible = visible;
    update();
}

void MpvWidget::setLogLevel(const QString& level) {
    emit ctrlSetLogLevel(level);
}

void MpvWidget::setPropertyQueued(const QString& name, const QVariant& value) {
    if (debugTrace)
        qDebug() << "property set" << name << value;
    emit ctrlSetPropertyVariant(name, value);
}

void MpvWidget::setOptionQueued(const QString& name, const QVariant& value) {
    if (debugTrace)
        qDebug() << "option set" << name << value;
    emit ctrlSetOptionVariant(name, value);
}

void MpvWidget::setOptionIfChanged(const QString& name, const QVariant& value) {
    const auto it = optionCache.constFind(name);
    if (it != optionCache.constEnd() && it.value() == value)
        return;
    optionCache.insert(name, value);
    setOptionQueued(name, value);
}

QVariant MpvWidget::commandBlocking(const QVariant& params) {
    QVariant result;
    QMetaObject::invokeMethod(
        ctrl, [this, &params] { return ctrl->command(params); }, Qt::BlockingQueuedConnection, &result);
    return result;
}

QVariant MpvWidget::setPropertyBlocking(const QString& name, const QVariant& value) {
    int code = 0;
    QMetaObject::invokeMethod(
        ctrl, [this, &name, &value] { return ctrl->setPropertyVariant(name, value); }, Qt::BlockingQueuedConnection,
        &code);
    return code == 0 ? QVariant() : QVariant::fromValue(MpvErrorCode(code));
}

QVariant MpvWidget::setOptionBlocking(const QString& name, const QVariant& value) {
    int code = 0;
    QMetaObject::invokeMethod(
        ctrl, [this, &name, &value] { return ctrl->setOptionVariant(name, value); }, Qt::BlockingQueuedConnection,
        &code);
    return code == 0 ? QVariant() : QVariant::fromValue(MpvErrorCode(code));
}

QVariant MpvWidget::getPropertyBlocking(const QString& name) {
    QVariant result;
    QMetaObject::invokeMethod(
        ctrl, [this, &name] { return ctrl->getPropertyVariant(name); }, Qt::BlockingQueuedConnection, &result);
    return result;
}

// ---- mouse ----------------------------------------------------------------

void MpvWidget::mousePressEvent(QMouseEvent* event) {
    emit mousePress(event->x(), event->y());
    QOpenGLWidget::mousePressEvent(event);
}

void MpvWidget::mouseMoveEvent(QMouseEvent* event) {
    emit mouseMoved(event->x(), event->y());
    QOpenGLWidget::mouseMoveEvent(event);
}

void MpvWidget::self_mouseMoved() {
    if (cursorTimer->interval() > 0)
        cursorTimer->start();
    setCursor(Qt::ArrowCursor);
}

void MpvWidget::hideTimer_timeout() {
    setCursor(Qt::BlankCursor);
}

// ---- rendering ------------------------------------------------------------

void* MpvWidget::procAddress(void* /*ctx*/, const char* name) {
    if (qstrcmp(name, "glMPGetNativeDisplay") == 0)
        return reinterpret_cast<void*>(&nullNativeDisplay);
    if (QOpenGLContext* current = QOpenGLContext::currentContext()) {
        if (QFunctionPointer f = current->getProcAddress(QByteArray(name)))
            return reinterpret_cast<void*>(f);
    }
#ifdef Q_OS_WIN
    HMODULE module = static_cast<HMODULE>(QOpenGLContext::openGLModuleHandle());
    if (!module) {
        switch (QOpenGLContext::openGLModuleType()) {
        case QOpenGLContext::LibGL:
            module = GetModuleHandleW(L"opengl32.dll");
            break;
        case QOpenGLContext::LibGLES:
            module = GetModuleHandleW(L"libGLESv2.dll");
            break;
        }
    }
    return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
#else
    // Only a library that is loaded already is asked (RTLD_NOLOAD).
    void* module = QOpenGLContext::openGLModuleHandle();
    bool opened = false;
    if (!module) {
        const char* library = nullptr;
        switch (QOpenGLContext::openGLModuleType()) {
        case QOpenGLContext::LibGL:
            library = "libGL.so.1";
            break;
        case QOpenGLContext::LibGLES:
            library = "libGLESv2.so.2";
            break;
        }
        module = library ? dlopen(library, RTLD_LAZY | RTLD_NOLOAD) : nullptr;
        opened = module != nullptr;
    }
    if (!module)
        return nullptr;
    void* symbol = dlsym(module, name);
    if (opened)
        dlclose(module); // drops only the reference taken above; the library stays loaded
    return symbol;
#endif
}

void MpvWidget::onUpdate(void* ctx) {
    // Called on libmpv threads; only schedule the repaint.
    QMetaObject::invokeMethod(static_cast<MpvWidget*>(ctx), "maybeUpdate", Qt::AutoConnection);
}

void MpvWidget::initializeGL() {
    // A new top-level window brings a new GL context; the render context
    // belongs to the old one and must go with it.
    freeDrawContext();
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &MpvWidget::contextAboutToGo, Qt::UniqueConnection);

    mpv_opengl_init_params glInit{&MpvWidget::procAddress, nullptr};
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glInit},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context* created = nullptr;
    if (mpv_render_context_create(&created, ctrl->mpvHandle(), params) < 0)
        throw MediaEngineError("[MpvWidget] cb init gl failed.");
    glContext = created;
    mpv_render_context_set_update_callback(glContext, &MpvWidget::onUpdate, this);
    QMetaObject::invokeMethod(
        ctrl, [this, created] { ctrl->setDrawContext(created); }, Qt::BlockingQueuedConnection);
    // Freeing the previous render context took the video track down; bring it
    // back for a file that is still playing.
    if (trackToRestore.isValid()) {
        setPropertyQueued(QStringLiteral("vid"), trackToRestore);
        trackToRestore = QVariant();
    }

    if (!logoDrawer)
        logoDrawer = new LogoDrawer(this);
    // On a move to a screen of another scale the framebuffer is made anew
    // without a resize: its size is read again then.
    connect(this, &QOpenGLWidget::resized, this, &MpvWidget::updateDrawSize, Qt::UniqueConnection);
    updateDrawSize();
}

void MpvWidget::resizeGL(int w, int h) {
    Q_UNUSED(w);
    Q_UNUSED(h);
    updateDrawSize();
}

void MpvWidget::updateDrawSize() {
    // The framebuffer's size in device pixels, as QOpenGLWidget makes it: with
    // a fractional ratio (125 %, 150 %) the integer ratio would leave the
    // picture in a corner of the frame.
    const QSize pixels = size() * devicePixelRatioF();
    glWidth = pixels.width();
    glHeight = pixels.height();
    if (logoDrawer)
        logoDrawer->resize(glWidth, glHeight);
}

void MpvWidget::paintGL() {
    if (debugTrace)
        qDebug() << "paintGL";
    if (logoVisible) {
        if (logoDrawer)
            logoDrawer->paint(this);
        return;
    }
    if (!glContext)
        return;
    mpv_opengl_fbo fbo{int(defaultFramebufferObject()), glWidth, glHeight, 0};
    int flipY = 1;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
        {MPV_RENDER_PARAM_FLIP_Y, &flipY},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(glContext, params);
}

void MpvWidget::maybeUpdate() {
    if (!window()->isMinimized()) {
        update();
        return;
    }
    // A minimized window gets no repaint, but libmpv still waits for its frames.
    makeCurrent();
    paintGL();
    context()->swapBuffers(context()->surface());
    self_frameSwapped();
    doneCurrent();
}

void MpvWidget::self_frameSwapped() {
    if (!logoVisible && glContext)
        mpv_render_context_report_swap(glContext);
}

void MpvWidget::self_playbackStarted() {
    logoVisible = false;
}

void MpvWidget::self_playbackFinished() {
    logoVisible = true;
    update();
}

// ---- events from the controller ------------------------------------------

void MpvWidget::ctrl_mpvPropertyChanged(QString name, QVariant v) {
    if (debugTrace)
        qDebug() << "property changed" << name << v;

    if (name == QLatin1String("time-pos")) {
        cachedPlayTime = valueOr<double>(v, -1.0);
        emit playTimeChanged(cachedPlayTime);
    } else if (name == QLatin1String("playback-time")) {
        emit playbackTimeChanged(valueOr<double>(v, -1.0));
    } else if (name == QLatin1String("speed")) {
        emit speedChanged(valueOr<double>(v, 1.0));
    } else if (name == QLatin1String("eof-reached")) {
        emit eofReachedChanged(valueOr<bool>(v, false));
    } else if (name == QLatin1String("duration")) {
        cachedPlayLength = valueOr<double>(v, -1.0);
        emit playLengthChanged(cachedPlayLength);
    } else if (name == QLatin1String("seekable")) {
        emit seekableChanged(valueOr<bool>(v, false));
    } else if (name == QLatin1String("pause")) {
        emit pausedChanged(valueOr<bool>(v, true));
    } else if (name == QLatin1String("media-title")) {
        emit mediaTitleChanged(valueOr<QString>(v, QString()));
    } else if (name == QLatin1String("chapter-metadata")) {
        emit chapterDataChanged(valueOr<QVariantMap>(v, QVariantMap()));
    } else if (name == QLatin1String("chapter-list")) {
        emit chaptersChanged(valueOr<QVariantList>(v, QVariantList()));
    } else if (name == QLatin1String("track-list")) {
        emit tracksChanged(valueOr<QVariantList>(v, QVariantList()));
    } else if (name == QLatin1String("estimated-vf-fps")) {
        emit fpsChanged(valueOr<double>(v, 0));
    } else if (name == QLatin1String("avsync")) {
        emit avsyncChanged(valueOr<double>(v, 0));
    } else if (name == QLatin1String("frame-drop-count")) {
        emit displayFramedropsChanged(valueOr<qlonglong>(v, 0));
    } else if (name == QLatin1String("decoder-frame-drop-count")) {
        emit decoderFramedropsChanged(valueOr<qlonglong>(v, 0));
    } else if (name == QLatin1String("audio-bitrate")) {
        emit audioBitrateChanged(valueOr<double>(v, 0));
    } else if (name == QLatin1String("video-bitrate")) {
        emit videoBitrateChanged(valueOr<double>(v, 0));
    } else if (name == QLatin1String("metadata")) {
        self_metadata(valueOr<QVariantMap>(v, QVariantMap()));
    } else if (name == QLatin1String("audio-device-list")) {
        self_audioDeviceList(valueOr<QVariantList>(v, QVariantList()));
    } else if (name == QLatin1String("filename")) {
        emit fileNameChanged(valueOr<QString>(v, QString()));
    } else if (name == QLatin1String("file-format")) {
        emit fileFormatChanged(valueOr<QString>(v, QString()));
    } else if (name == QLatin1String("file-date-created")) {
        emit fileCreationTimeChanged(valueOr<qlonglong>(v, 0));
    } else if (name == QLatin1String("file-size")) {
        emit fileSizeChanged(valueOr<qlonglong>(v, 0));
    } else if (name == QLatin1String("path")) {
        emit filePathChanged(valueOr<QString>(v, QString()));
    }
}

void MpvWidget::self_metadata(QVariantMap metadata) {
    QVariantMap lowered;
    for (auto it = metadata.cbegin(); it != metadata.cend(); ++it)
        lowered.insert(it.key().toLower(), it.value());
    emit metaDataChanged(lowered);
}

void MpvWidget::self_audioDeviceList(QVariantList list) {
    emit audioDeviceList(AudioDevice::listFromVList(list));
}

void MpvWidget::ctrl_logMessage(QString message) {
    qDebug().noquote() << message;
}

void MpvWidget::ctrl_clientMessage(uint64_t /*id*/, QStringList args) {
    // The unload hook: [kind, hook id, run id]; anything shorter is not ours.
    if (args.size() < 3 || args[1] != QString::number(unloadHookId))
        return;
    const QVariantList playlist = getPropertyBlocking(QStringLiteral("playlist")).toList();
    if (playlist.size() > 1)
        emit playlistChanged(playlist);
    emit ctrlCommand(QStringList{QStringLiteral("hook-ack"), args[2]});
}

void MpvWidget::ctrl_unhandledMpvEvent(int eventLevel) {
    switch (eventLevel) {
    case MPV_EVENT_SHUTDOWN:
        if (debugTrace)
            qDebug() << "event shutdown";
        emit playbackFinished();
        break;
    case MPV_EVENT_START_FILE:
        if (debugTrace)
            qDebug() << "start file";
        emit playbackLoading();
        break;
    case MPV_EVENT_END_FILE:
        if (debugTrace)
            qDebug() << "end file";
        emit playbackFinished();
        break;
    case MPV_EVENT_FILE_LOADED:
        if (debugTrace)
            qDebug() << "file loaded";
        emit playbackStarted();
        break;
    case MPV_EVENT_IDLE:
        if (debugTrace)
            qDebug() << "idling";
        emit playbackIdling();
        break;
    default:
        break;
    }
    emit rawMpvEvent(eventLevel);
}

void MpvWidget::ctrl_videoSizeChanged(QSize size) {
    currentVideoSize = size;
    emit videoSizeChanged(size);
}
