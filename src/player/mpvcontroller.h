#pragma once

#include "player/mpvtypes.h"

#include <QHash>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QSize>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <mpv/client.h>
#include <mpv/render.h>

#include <cstdint>
#include <memory>

class MpvCallback;
class QTimer;

// Qt values <-> libmpv nodes. A built node owns copies of everything it points to.
namespace MpvNodes {

class Node {
public:
    explicit Node(const QVariant& value);
    ~Node();
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    mpv_node* get() { return &node; }

private:
    mpv_node node{};
};

QVariant toVariant(const mpv_node* node);
// Value of a property event; no data means failure, reported as MpvErrorCode(error).
QVariant propertyValue(const mpv_event_property* property, int error);

} // namespace MpvNodes

// Owns the libmpv client handle and makes every client API call, on a worker
// thread of its own. Results travel back as queued signals.
class MpvController : public QObject {
    Q_OBJECT

public:
    struct ObservedProperty {
        QString name;
        uint64_t userData = 0;
        mpv_format format = MPV_FORMAT_NONE;
    };
    using PropertyList = QVector<ObservedProperty>;

    explicit MpvController(QObject* parent = nullptr);
    ~MpvController() override;

    // The raw handle, for the video widget's render context. Written once by
    // create(), before the widget reads it.
    mpv_handle* mpvHandle() const { return handle.get(); }
    // Read directly by the widget; written once at the end of create().
    QStringList protocols;

    // Handles one event as parseMpvEvents does for each queued one.
    void handleEvent(const mpv_event* event);

public slots:
    void create(bool video = true, bool audio = true);
    void addHook(QString name, int id);
    int observeProperties(MpvController::PropertyList properties, QSet<QString> throttled = {});
    int unobservePropertiesById(QSet<uint64_t> ids);
    void setThrottleTime(int msec);
    QString clientName();
    QStringList protocolList();
    int64_t timeMicroseconds();
    unsigned long apiVersion();
    void setLogLevel(QString logLevel);
    mpv_render_context* mpvDrawContext();
    int setOptionVariant(QString name, QVariant value);
    QVariant command(QVariant params);
    int setPropertyVariant(QString name, QVariant value);
    QVariant getPropertyVariant(QString name);
    int setPropertyString(QString name, QString value);
    QString getPropertyString(QString name);
    void commandAsync(QVariant params, MpvCallback* callback);
    void setPropertyVariantAsync(QString name, QVariant value, MpvCallback* callback);
    void getPropertyVariantAsync(QString name, MpvCallback* callback);
    void parseMpvEvents();
    // The widget registers its render context here (null once it is freed).
    void setDrawContext(mpv_render_context* context);

signals:
    void mpvPropertyChanged(QString name, QVariant v, uint64_t userData);
    void logMessage(QString message);
    void clientMessage(uint64_t id, QStringList args);
    void videoSizeChanged(QSize size);
    void unhandledMpvEvent(int eventNumber);

private:
    struct PendingValue {
        QVariant value;
        uint64_t userData = 0;
    };

    static void wakeup(void* ctx);
    void replyIfRejected(uint64_t userData, int code);
    void reply(uint64_t userData, const QVariant& value);
    uint64_t registerCallback(MpvCallback* callback);
    void checkVideoSize();
    void flushPendingValues();

    std::shared_ptr<mpv_handle> handle;
    mpv_render_context* glContext = nullptr;
    int lastVideoWidth = 0;
    int lastVideoHeight = 0;
    QTimer* throttleTimer = nullptr;
    QSet<QString> throttledNames;
    QMap<QString, PendingValue> pendingValues;
    // Callbacks waiting for a reply; a callback deleted meanwhile is skipped.
    QHash<uint64_t, QPointer<MpvCallback>> waitingCallbacks;
};

Q_DECLARE_METATYPE(MpvController::PropertyList)
Q_DECLARE_OPAQUE_POINTER(mpv_render_context*)
Q_DECLARE_METATYPE(mpv_render_context*)
