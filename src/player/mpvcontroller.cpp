#include "player/mpvcontroller.h"

#include "player/audiodevice.h"
#include "player/mpvcallback.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMutex>
#include <QTimer>

#include <cstring>
#include <stdexcept>
#include <utility>

void registerMpvTypes() {
    static QBasicMutex mutex;
    static bool done = false;
    QMutexLocker lock(&mutex);
    if (done)
        return;
    done = true;
    qRegisterMetaType<MpvErrorCode>("MpvErrorCode");
    qRegisterMetaType<MpvController::PropertyList>("MpvController::PropertyList");
    qRegisterMetaType<QSet<QString>>("QSet<QString>");
    qRegisterMetaType<QSet<uint64_t>>("QSet<uint64_t>");
    qRegisterMetaType<uint64_t>("uint64_t");
    qRegisterMetaType<int64_t>("int64_t");
    qRegisterMetaType<mpv_render_context*>("mpv_render_context*");
    qRegisterMetaType<MpvCallback*>("MpvCallback*");
    qRegisterMetaType<AudioDevice>("AudioDevice");
    qRegisterMetaType<QList<AudioDevice>>("QList<AudioDevice>");
}

namespace MpvNodes {

namespace {

char* copyString(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    char* copy = new char[utf8.size() + 1];
    std::memcpy(copy, utf8.constData(), utf8.size() + 1);
    return copy;
}

void fill(mpv_node* node, const QVariant& value) {
    const int type = value.userType();
    if (type == QMetaType::QString) {
        node->format = MPV_FORMAT_STRING;
        node->u.string = copyString(value.toString());
    } else if (type == QMetaType::Bool) {
        node->format = MPV_FORMAT_FLAG;
        node->u.flag = value.toBool() ? 1 : 0;
    } else if (type == QMetaType::Int || type == QMetaType::UInt || type == QMetaType::LongLong ||
               type == QMetaType::ULongLong) {
        node->format = MPV_FORMAT_INT64;
        node->u.int64 = value.toLongLong();
    } else if (type == QMetaType::Double) {
        node->format = MPV_FORMAT_DOUBLE;
        node->u.double_ = value.toDouble();
    } else if (value.canConvert<QVariantList>()) {
        const QVariantList list = value.toList();
        auto* array = new mpv_node_list{};
        array->num = list.size();
        array->values = list.isEmpty() ? nullptr : new mpv_node[list.size()]{};
        for (int i = 0; i < list.size(); ++i)
            fill(&array->values[i], list[i]);
        node->format = MPV_FORMAT_NODE_ARRAY;
        node->u.list = array;
    } else if (value.canConvert<QVariantMap>()) {
        const QVariantMap map = value.toMap();
        auto* array = new mpv_node_list{};
        array->num = map.size();
        array->values = map.isEmpty() ? nullptr : new mpv_node[map.size()]{};
        array->keys = map.isEmpty() ? nullptr : new char* [map.size()] {};
        int i = 0;
        for (auto it = map.cbegin(); it != map.cend(); ++it, ++i) {
            array->keys[i] = copyString(it.key());
            fill(&array->values[i], it.value());
        }
        node->format = MPV_FORMAT_NODE_MAP;
        node->u.list = array;
    } else {
        node->format = MPV_FORMAT_NONE;
    }
}

void release(mpv_node* node) {
    switch (node->format) {
    case MPV_FORMAT_STRING:
        delete[] node->u.string;
        break;
    case MPV_FORMAT_NODE_ARRAY:
    case MPV_FORMAT_NODE_MAP: {
        mpv_node_list* list = node->u.list;
        for (int i = 0; i < list->num; ++i) {
            release(&list->values[i]);
            if (list->keys)
                delete[] list->keys[i];
        }
        delete[] list->values;
        delete[] list->keys;
        delete list;
        break;
    }
    default:
        break;
    }
    node->format = MPV_FORMAT_NONE;
}

} // namespace

Node::Node(const QVariant& value) {
    fill(&node, value);
}

Node::~Node() {
    release(&node);
}

QVariant toVariant(const mpv_node* node) {
    switch (node->format) {
    case MPV_FORMAT_STRING:
        return QString::fromUtf8(node->u.string);
    case MPV_FORMAT_FLAG:
        return bool(node->u.flag);
    case MPV_FORMAT_INT64:
        return qlonglong(node->u.int64);
    case MPV_FORMAT_DOUBLE:
        return node->u.double_;
    case MPV_FORMAT_NODE_ARRAY: {
        QVariantList list;
        const mpv_node_list* array = node->u.list;
        list.reserve(array->num);
        for (int i = 0; i < array->num; ++i)
            list.append(toVariant(&array->values[i]));
        return list;
    }
    case MPV_FORMAT_NODE_MAP: {
        QVariantMap map;
        const mpv_node_list* array = node->u.list;
        for (int i = 0; i < array->num; ++i)
            map.insert(QString::fromUtf8(array->keys[i]), toVariant(&array->values[i]));
        return map;
    }
    default:
        return QVariant();
    }
}

QVariant propertyValue(const mpv_event_property* property, int error) {
    // A failed get reply still carries a data pointer (to an empty node); its
    // error field is what tells.
    if (!property->data || property->format == MPV_FORMAT_NONE || error < 0)
        return QVariant::fromValue(MpvErrorCode(error));
    switch (property->format) {
    case MPV_FORMAT_NODE:
        return toVariant(static_cast<const mpv_node*>(property->data));
    case MPV_FORMAT_INT64:
        return qlonglong(*static_cast<const int64_t*>(property->data));
    case MPV_FORMAT_DOUBLE:
        return *static_cast<const double*>(property->data);
    case MPV_FORMAT_STRING:
    case MPV_FORMAT_OSD_STRING:
        return QString::fromUtf8(*static_cast<char* const*>(property->data));
    case MPV_FORMAT_FLAG:
        return bool(*static_cast<const int*>(property->data));
    default:
        return QVariant();
    }
}

} // namespace MpvNodes

MpvController::MpvController(QObject* parent) : QObject(parent) {
    registerMpvTypes();
    throttleTimer = new QTimer(this);
    connect(throttleTimer, &QTimer::timeout, this, &MpvController::flushPendingValues);
    throttleTimer->setInterval(83);
    throttleTimer->start();
}

MpvController::~MpvController() {
    if (handle)
        mpv_set_wakeup_callback(handle.get(), nullptr, nullptr);
    throttleTimer->deleteLater();
    // The last reference terminates the core; the widget has freed its render
    // context by now, as libmpv requires.
    handle.reset();
}

void MpvController::create(bool video, bool audio) {
    // Release the old core before anything else: it may hold the audio device.
    handle.reset();
    protocols.clear();
    mpv_handle* raw = mpv_create();
    if (!raw)
        throw MediaEngineError("could not create mpv context");
    handle = std::shared_ptr<mpv_handle>(raw, mpv_terminate_destroy);

    // A stats script shipped beside the program replaces libmpv's built-in one;
    // naming a missing file would only add two error lines to every start.
    const QString statsScript = QCoreApplication::applicationDirPath() + QStringLiteral("/scripts/stats.lua");
    if (QFileInfo::exists(statsScript))
        setOptionVariant(QStringLiteral("scripts"), statsScript);

    if (mpv_initialize(raw) < 0)
        throw MediaEngineError("could not initialize mpv context");

    if (!audio) {
        setOptionVariant(QStringLiteral("ao"), QStringLiteral("null"));
        setOptionVariant(QStringLiteral("no-audio"), true);
    }
    if (!video) {
        setOptionVariant(QStringLiteral("vo"), QStringLiteral("null"));
        setOptionVariant(QStringLiteral("no-video"), true);
    } else {
        // Frames go to the render context that the widget creates once it has a GL context.
        setOptionVariant(QStringLiteral("vo"), QStringLiteral("libmpv"));
    }

    mpv_set_wakeup_callback(raw, &MpvController::wakeup, this);
    protocols = getPropertyVariant(QStringLiteral("protocol-list")).toStringList();
}

void MpvController::addHook(QString name, int id) {
    // The "hook-add" command is gone from libmpv; the hook API delivers the same
    // run requests, which parseMpvEvents passes on as "hook_run" client messages.
    mpv_hook_add(handle.get(), uint64_t(id), name.toUtf8().constData(), 0);
}

int MpvController::observeProperties(MpvController::PropertyList properties, QSet<QString> throttled) {
    int result = 0;
    for (const ObservedProperty& property : properties) {
        const int code =
            mpv_observe_property(handle.get(), property.userData, property.name.toUtf8().constData(), property.format);
        result = qMin(result, code);
    }
    throttledNames.unite(throttled);
    return result;
}

int MpvController::unobservePropertiesById(QSet<uint64_t> ids) {
    int result = 0;
    for (uint64_t id : ids)
        result = qMin(result, mpv_unobserve_property(handle.get(), id));
    return result;
}

void MpvController::setThrottleTime(int msec) {
    throttleTimer->setInterval(msec);
}

QString MpvController::clientName() {
    return QString::fromUtf8(mpv_client_name(handle.get()));
}

QStringList MpvController::protocolList() {
    return protocols;
}

int64_t MpvController::timeMicroseconds() {
    return mpv_get_time_us(handle.get());
}

unsigned long MpvController::apiVersion() {
    return mpv_client_api_version();
}

void MpvController::setLogLevel(QString logLevel) {
    mpv_request_log_messages(handle.get(), logLevel.toUtf8().constData());
}

mpv_render_context* MpvController::mpvDrawContext() {
    return glContext;
}

void MpvController::setDrawContext(mpv_render_context* context) {
    glContext = context;
}

int MpvController::setOptionVariant(QString name, QVariant value) {
    MpvNodes::Node node(value);
    return mpv_set_option(handle.get(), name.toUtf8().constData(), MPV_FORMAT_NODE, node.get());
}

QVariant MpvController::command(QVariant params) {
    // Acknowledging a hook run is a call of its own in the hook API.
    if (params.userType() == QMetaType::QStringList) {
        const QStringList words = params.toStringList();
        if (words.size() == 2 && words[0] == QLatin1String("hook-ack")) {
            bool ok = false;
            const quint64 id = words[1].toULongLong(&ok);
            const int code = ok ? mpv_hook_continue(handle.get(), id) : MPV_ERROR_INVALID_PARAMETER;
            return code < 0 ? QVariant::fromValue(MpvErrorCode(code)) : QVariant();
        }
    }
    if (params.canConvert(QMetaType::QString)) {
        const int code = mpv_command_string(handle.get(), params.toString().toUtf8().constData());
        return code < 0 ? QVariant::fromValue(MpvErrorCode(code)) : QVariant();
    }
    MpvNodes::Node node(params);
    mpv_node result{};
    const int code = mpv_command_node(handle.get(), node.get(), &result);
    if (code < 0)
        return QVariant::fromValue(MpvErrorCode(code));
    const QVariant value = MpvNodes::toVariant(&result);
    mpv_free_node_contents(&result);
    return value;
}

int MpvController::setPropertyVariant(QString name, QVariant value) {
    MpvNodes::Node node(value);
    return mpv_set_property(handle.get(), name.toUtf8().constData(), MPV_FORMAT_NODE, node.get());
}

QVariant MpvController::getPropertyVariant(QString name) {
    mpv_node node{};
    const int code = mpv_get_property(handle.get(), name.toUtf8().constData(), MPV_FORMAT_NODE, &node);
    if (code < 0)
        return QVariant::fromValue(MpvErrorCode(code));
    const QVariant value = MpvNodes::toVariant(&node);
    mpv_free_node_contents(&node);
    return value;
}

int MpvController::setPropertyString(QString name, QString value) {
    return mpv_set_property_string(handle.get(), name.toUtf8().constData(), value.toUtf8().constData());
}

QString MpvController::getPropertyString(QString name) {
    char* text = mpv_get_property_string(handle.get(), name.toUtf8().constData());
    if (!text)
        return QString();
    const QString value = QString::fromUtf8(text);
    mpv_free(text);
    return value;
}

uint64_t MpvController::registerCallback(MpvCallback* callback) {
    const uint64_t userData = reinterpret_cast<uintptr_t>(callback);
    if (callback)
        waitingCallbacks.insert(userData, callback);
    return userData;
}

// A request that libmpv rejects at once gets no reply event; answer it here so
// that the callback is not left waiting (and alive) for ever.
void MpvController::replyIfRejected(uint64_t userData, int code) {
    if (code < 0)
        reply(userData, QVariant::fromValue(MpvErrorCode(code)));
}

void MpvController::commandAsync(QVariant params, MpvCallback* callback) {
    MpvNodes::Node node(params);
    const uint64_t userData = registerCallback(callback);
    replyIfRejected(userData, mpv_command_node_async(handle.get(), userData, node.get()));
}

void MpvController::setPropertyVariantAsync(QString name, QVariant value, MpvCallback* callback) {
    MpvNodes::Node node(value);
    const uint64_t userData = registerCallback(callback);
    replyIfRejected(userData, mpv_set_property_async(handle.get(), userData, name.toUtf8().constData(), MPV_FORMAT_NODE,
                                                     node.get()));
}

void MpvController::getPropertyVariantAsync(QString name, MpvCallback* callback) {
    const uint64_t userData = registerCallback(callback);
    replyIfRejected(userData,
                    mpv_get_property_async(handle.get(), userData, name.toUtf8().constData(), MPV_FORMAT_NODE));
}

void MpvController::wakeup(void* ctx) {
    // Runs on a libmpv thread: only hand the work over to the controller's thread.
    QMetaObject::invokeMethod(static_cast<MpvController*>(ctx), "parseMpvEvents", Qt::QueuedConnection);
}

void MpvController::parseMpvEvents() {
    while (handle) {
        const mpv_event* event = mpv_wait_event(handle.get(), 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        handleEvent(event);
    }
}

void MpvController::handleEvent(const mpv_event* event) {
    switch (event->event_id) {
    case MPV_EVENT_LOG_MESSAGE: {
        const auto* msg = static_cast<const mpv_event_log_message*>(event->data);
        emit logMessage(
            QStringLiteral("[%1] %2: %3")
                .arg(QString::fromUtf8(msg->prefix), QString::fromUtf8(msg->level), QString::fromUtf8(msg->text)));
        break;
    }
    case MPV_EVENT_GET_PROPERTY_REPLY:
        reply(event->reply_userdata,
              MpvNodes::propertyValue(static_cast<const mpv_event_property*>(event->data), event->error));
        break;
    case MPV_EVENT_SET_PROPERTY_REPLY:
    case MPV_EVENT_COMMAND_REPLY:
        reply(event->reply_userdata, QVariant::fromValue(MpvErrorCode(event->error)));
        break;
    case MPV_EVENT_CLIENT_MESSAGE: {
        const auto* msg = static_cast<const mpv_event_client_message*>(event->data);
        QStringList args;
        for (int i = 0; i < msg->num_args; ++i)
            args.append(QString::fromUtf8(msg->args[i]));
        emit clientMessage(event->reply_userdata, args);
        break;
    }
    case MPV_EVENT_HOOK: {
        // Same shape as the client message of the old hook command: kind, hook user id, run id.
        const auto* hook = static_cast<const mpv_event_hook*>(event->data);
        emit clientMessage(event->reply_userdata, {QStringLiteral("hook_run"), QString::number(event->reply_userdata),
                                                   QString::number(hook->id)});
        break;
    }
    case MPV_EVENT_VIDEO_RECONFIG:
        checkVideoSize();
        break;
    case MPV_EVENT_PROPERTY_CHANGE: {
        const auto* property = static_cast<const mpv_event_property*>(event->data);
        const QString name = QString::fromUtf8(property->name);
        const QVariant value = MpvNodes::propertyValue(property, event->error);
        if (!throttledNames.contains(name))
            emit mpvPropertyChanged(name, value, event->reply_userdata);
        else
            pendingValues.insert(name, PendingValue{value, event->reply_userdata});
        break;
    }
    case MPV_EVENT_PLAYBACK_RESTART:
        // Throttled values still pending describe playback from before a seek:
        // send them ahead of the restart, so that whoever waits for it can drop them.
        flushPendingValues();
        emit unhandledMpvEvent(event->event_id);
        break;
    default:
        emit unhandledMpvEvent(event->event_id);
        break;
    }
}

void MpvController::reply(uint64_t userData, const QVariant& value) {
    if (!userData)
        return;
    // The callback's owner may have deleted it while the request was under way.
    const QPointer<MpvCallback> callback = waitingCallbacks.take(userData);
    if (callback)
        QMetaObject::invokeMethod(callback.data(), "reply", Qt::QueuedConnection, Q_ARG(QVariant, value));
}

void MpvController::checkVideoSize() {
    const QVariant width = getPropertyVariant(QStringLiteral("width"));
    const QVariant height = getPropertyVariant(QStringLiteral("height"));
    const bool failed =
        width.userType() == qMetaTypeId<MpvErrorCode>() || height.userType() == qMetaTypeId<MpvErrorCode>();
    if (!failed && width.toInt() > 0 && height.toInt() > 0) {
        if (width.toInt() != lastVideoWidth || height.toInt() != lastVideoHeight) {
            lastVideoWidth = width.toInt();
            lastVideoHeight = height.toInt();
            emit videoSizeChanged(QSize(lastVideoWidth, lastVideoHeight));
        }
    } else if (lastVideoWidth > 0 && lastVideoHeight > 0) {
        lastVideoWidth = -1;
        lastVideoHeight = -1;
        emit videoSizeChanged(QSize(-1, -1));
    }
}

void MpvController::flushPendingValues() {
    if (pendingValues.isEmpty())
        return;
    // Emitting can re-enter the event loop in a slot; take the values first.
    const QMap<QString, PendingValue> values = std::exchange(pendingValues, {});
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        emit mpvPropertyChanged(it.key(), it.value().value, it.value().userData);
}
