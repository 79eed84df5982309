// The libmpv controller without a video surface: value conversions, the
// throttle, commands, asynchronous replies and the event loop.
#include "player/mpvcallback.h"
#include "player/mpvcontroller.h"
#include "support/media.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <stdexcept>

namespace {

bool isError(const QVariant& v) {
    return v.userType() == qMetaTypeId<MpvErrorCode>();
}

int errorOf(const QVariant& v) {
    return v.value<MpvErrorCode>().errorCode;
}

} // namespace

class TestMpvController : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void nodesRoundTrip_data();
    void nodesRoundTrip();
    void unsupportedValuesBecomeEmptyNodes();
    void propertyEventWithoutDataIsAnError();
    void propertyEventFormats();
    void eventLoopWithoutHandleOrEventsIsSilent();
    void commandChoosesStringOrNodePath_data();
    void commandChoosesStringOrNodePath();
    void throttledPropertyIsForwardedOnceWithLastValue();
    void pendingValuesAreFlushedInNameOrder();
    void unthrottledPropertyIsForwardedAtOnce();
    void otherEventsAreSignalled();
    void unobserveEmptySetSucceeds();
    void asynchronousReplies_data();
    void asynchronousReplies();
    void deletedCallbackIsSkipped();
    void emptyCallbackThrows();
    void createWithoutAudioAndVideo();
    void createAgainReplacesTheHandle();
    void hookRunsArriveAsClientMessages();

private:
    // Drains what libmpv has queued right now (no event loop in between).
    void drain() { ctrl->parseMpvEvents(); }
    // Feeds one property change as libmpv would deliver it.
    void propertyEvent(const char* name, const QVariant& value, uint64_t userData) {
        MpvNodes::Node node(value);
        mpv_event_property property{name, MPV_FORMAT_NODE, node.get()};
        mpv_event event{MPV_EVENT_PROPERTY_CHANGE, 0, userData, &property};
        ctrl->handleEvent(&event);
    }

    MpvController* ctrl = nullptr;
};

void TestMpvController::initTestCase() {
    TestSupport::useCleanDataDirectory();
}

void TestMpvController::init() {
    ctrl = new MpvController;
    ctrl->create(false, false);
}

void TestMpvController::cleanup() {
    delete ctrl;
    ctrl = nullptr;
}

void TestMpvController::nodesRoundTrip_data() {
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("string") << QVariant(QStringLiteral("Grüße \u4f60")) << QVariant(QStringLiteral("Grüße \u4f60"));
    QTest::newRow("empty string") << QVariant(QString("")) << QVariant(QString(""));
    QTest::newRow("true") << QVariant(true) << QVariant(true);
    QTest::newRow("false") << QVariant(false) << QVariant(false);
    QTest::newRow("int") << QVariant(-7) << QVariant(qlonglong(-7));
    QTest::newRow("uint") << QVariant(7u) << QVariant(qlonglong(7));
    QTest::newRow("int64 max") << QVariant(qlonglong(Q_INT64_C(9223372036854775807)))
                               << QVariant(qlonglong(Q_INT64_C(9223372036854775807)));
    QTest::newRow("int64 min") << QVariant(qlonglong(Q_INT64_C(-9223372036854775807) - 1))
                               << QVariant(qlonglong(Q_INT64_C(-9223372036854775807) - 1));
    QTest::newRow("double") << QVariant(12.5) << QVariant(12.5);
    QTest::newRow("string list") << QVariant(QStringList{"loadfile", "/a b"})
                                 << QVariant(QVariantList{QString("loadfile"), QString("/a b")});
    QTest::newRow("empty list") << QVariant(QVariantList()) << QVariant(QVariantList());
    const QVariantList nested{1.5, QVariantList{true, QString("x")}, QVariantMap{{"k", qlonglong(3)}}};
    QTest::newRow("nested list") << QVariant(nested) << QVariant(nested);
    const QVariantMap map{{"b", QString("2")}, {"a", QVariantList{qlonglong(1), 2.0}}, {"ä", QVariantMap{}}};
    QTest::newRow("map") << QVariant(map) << QVariant(map);
}

void TestMpvController::nodesRoundTrip() {
    // Guards against lost types, truncated integers, broken UTF-8 and leaks in nested nodes.
    QFETCH(QVariant, value);
    QFETCH(QVariant, expected);
    MpvNodes::Node node(value);
    const QVariant back = MpvNodes::toVariant(node.get());
    QCOMPARE(back.userType(), expected.userType());
    QCOMPARE(back, expected);
}

void TestMpvController::unsupportedValuesBecomeEmptyNodes() {
    // Guards against a crash or garbage node for types the table does not list.
    MpvNodes::Node none{QVariant()};
    QCOMPARE(int(none.get()->format), int(MPV_FORMAT_NONE));
    MpvNodes::Node size{QVariant(QSize(1, 2))};
    QCOMPARE(int(size.get()->format), int(MPV_FORMAT_NONE));
    QVERIFY(!MpvNodes::toVariant(none.get()).isValid());
}

void TestMpvController::propertyEventWithoutDataIsAnError() {
    // Guards against a missing value being read as 0 or false.
    mpv_event_property property{"duration", MPV_FORMAT_NONE, nullptr};
    const QVariant v = MpvNodes::propertyValue(&property, MPV_ERROR_PROPERTY_UNAVAILABLE);
    QVERIFY(isError(v));
    QCOMPARE(errorOf(v), int(MPV_ERROR_PROPERTY_UNAVAILABLE));
}

void TestMpvController::propertyEventFormats() {
    // Guards against reading the event data with the wrong format.
    double d = 2.25;
    int64_t i = -5;
    int flag = 1;
    char text[] = "Tön";
    char* textPtr = text;
    mpv_event_property p{"x", MPV_FORMAT_DOUBLE, &d};
    QCOMPARE(MpvNodes::propertyValue(&p, 0), QVariant(2.25));
    p = {"x", MPV_FORMAT_INT64, &i};
    QCOMPARE(MpvNodes::propertyValue(&p, 0), QVariant(qlonglong(-5)));
    p = {"x", MPV_FORMAT_FLAG, &flag};
    QCOMPARE(MpvNodes::propertyValue(&p, 0), QVariant(true));
    p = {"x", MPV_FORMAT_STRING, &textPtr};
    QCOMPARE(MpvNodes::propertyValue(&p, 0), QVariant(QStringLiteral("Tön")));
    p = {"x", MPV_FORMAT_OSD_STRING, &textPtr};
    QCOMPARE(MpvNodes::propertyValue(&p, 0), QVariant(QStringLiteral("Tön")));
}

void TestMpvController::eventLoopWithoutHandleOrEventsIsSilent() {
    // Guards against a crash on a controller whose create() never ran.
    MpvController bare;
    QSignalSpy property(&bare, &MpvController::mpvPropertyChanged);
    QSignalSpy other(&bare, &MpvController::unhandledMpvEvent);
    bare.parseMpvEvents();
    QVERIFY(property.isEmpty() && other.isEmpty());

    // The core's start-up (idle state, built-in scripts) posts events from its
    // own thread, late on a slow machine: only once that has gone quiet may a
    // drain be expected to emit nothing.
    QSignalSpy startup(ctrl, &MpvController::unhandledMpvEvent);
    QElapsedTimer quiet;
    quiet.start();
    int seen = 0;
    while (quiet.elapsed() < 500) {
        drain();
        if (startup.count() != seen) {
            seen = startup.count();
            quiet.restart();
        }
        QTest::qWait(20);
    }
    QSignalSpy after(ctrl, &MpvController::unhandledMpvEvent);
    drain();
    QVERIFY(after.isEmpty());
}

void TestMpvController::commandChoosesStringOrNodePath_data() {
    // expand-text returns its text only through the node path; a string command has no result.
    QTest::addColumn<QVariant>("params");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("plain string") << QVariant(QStringLiteral("expand-text abc")) << QVariant();
    QTest::newRow("one-element list") << QVariant(QStringList{"expand-text abc"}) << QVariant();
    QTest::newRow("string list") << QVariant(QStringList{"expand-text", "a b"}) << QVariant(QStringLiteral("a b"));
    QTest::newRow("variant list") << QVariant(QVariantList{QString("expand-text"), QString("x ${speed}")})
                                  << QVariant(QStringLiteral("x 1.00"));
    QTest::newRow("number") << QVariant(42) << QVariant::fromValue(MpvErrorCode(MPV_ERROR_INVALID_PARAMETER));
}

void TestMpvController::commandChoosesStringOrNodePath() {
    // Guards against sending lists through the string parser (paths with blanks would split).
    QFETCH(QVariant, params);
    QFETCH(QVariant, expected);
    const QVariant result = ctrl->command(params);
    QCOMPARE(result.userType(), expected.userType());
    if (isError(expected))
        QCOMPARE(errorOf(result), errorOf(expected));
    else
        QCOMPARE(result, expected);
}

void TestMpvController::throttledPropertyIsForwardedOnceWithLastValue() {
    // Guards against flooding the GUI thread with every change, or forwarding a stale value.
    ctrl->setThrottleTime(150);
    ctrl->observeProperties({}, {QStringLiteral("time-pos")});
    QSignalSpy spy(ctrl, &MpvController::mpvPropertyChanged);
    for (int i = 1; i <= 5; ++i)
        propertyEvent("time-pos", 0.1 * i, uint64_t(100 + i));
    QVERIFY(spy.isEmpty());
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(spy[0][0].toString(), QStringLiteral("time-pos"));
    QCOMPARE(spy[0][1].toDouble(), 0.5);
    QCOMPARE(spy[0][2].value<uint64_t>(), uint64_t(105));
    QTest::qWait(400);
    QCOMPARE(spy.count(), 1); // an interval with nothing pending sends nothing
}

void TestMpvController::pendingValuesAreFlushedInNameOrder() {
    // Guards against the flush following change order rather than name order.
    ctrl->setThrottleTime(150);
    ctrl->observeProperties({}, {QStringLiteral("time-pos")});
    ctrl->observeProperties({}, {QStringLiteral("avsync")}); // adds to the set, removes nothing
    QSignalSpy spy(ctrl, &MpvController::mpvPropertyChanged);
    propertyEvent("time-pos", 3.0, 1);
    propertyEvent("avsync", 0.01, 2);
    QTRY_COMPARE(spy.count(), 2);
    QCOMPARE(spy[0][0].toString(), QStringLiteral("avsync"));
    QCOMPARE(spy[1][0].toString(), QStringLiteral("time-pos"));
    QCOMPARE(spy[1][1].toDouble(), 3.0);
    QCOMPARE(spy[1][2].value<uint64_t>(), uint64_t(1));
}

void TestMpvController::unthrottledPropertyIsForwardedAtOnce() {
    // Guards against delaying properties outside the throttled set, or reordering them.
    ctrl->setThrottleTime(60000);
    ctrl->observeProperties({}, {QStringLiteral("time-pos")});
    QSignalSpy spy(ctrl, &MpvController::mpvPropertyChanged);
    propertyEvent("time-pos", 1.0, 1);
    propertyEvent("duration", 6.0, 7);
    propertyEvent("pause", true, 8);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy[0][0].toString(), QStringLiteral("duration"));
    QCOMPARE(spy[0][1].toDouble(), 6.0);
    QCOMPARE(spy[0][2].value<uint64_t>(), uint64_t(7));
    QCOMPARE(spy[1][1], QVariant(true));

    // And a real change from libmpv takes the same way.
    ctrl->observeProperties({{QStringLiteral("speed"), 9, MPV_FORMAT_DOUBLE}});
    QTRY_COMPARE(spy.count(), 3);
    ctrl->setPropertyVariant(QStringLiteral("speed"), 1.5);
    QTRY_COMPARE(spy.count(), 4);
    QCOMPARE(spy[3][0].toString(), QStringLiteral("speed"));
    QCOMPARE(spy[3][1].toDouble(), 1.5);
    QCOMPARE(spy[3][2].value<uint64_t>(), uint64_t(9));
}

void TestMpvController::otherEventsAreSignalled() {
    // Guards against log lines, client messages or plain events getting lost or garbled.
    QSignalSpy logs(ctrl, &MpvController::logMessage);
    QSignalSpy messages(ctrl, &MpvController::clientMessage);
    QSignalSpy plain(ctrl, &MpvController::unhandledMpvEvent);

    mpv_event_log_message log{"cplayer", "warn", "Grüße\n", MPV_LOG_LEVEL_WARN};
    mpv_event event{MPV_EVENT_LOG_MESSAGE, 0, 0, &log};
    ctrl->handleEvent(&event);
    QCOMPARE(logs.value(0).value(0).toString(), QStringLiteral("[cplayer] warn: Grüße\n"));

    const char* args[] = {"hook_run", "5", "12"};
    mpv_event_client_message message{3, args};
    event = {MPV_EVENT_CLIENT_MESSAGE, 0, 77, &message};
    ctrl->handleEvent(&event);
    QCOMPARE(messages.value(0).value(0).value<uint64_t>(), uint64_t(77));
    QCOMPARE(messages.value(0).value(1).toStringList(), (QStringList{"hook_run", "5", "12"}));

    event = {MPV_EVENT_SEEK, 0, 0, nullptr};
    ctrl->handleEvent(&event);
    QCOMPARE(plain.value(0).value(0).toInt(), int(MPV_EVENT_SEEK));
}

void TestMpvController::unobserveEmptySetSucceeds() {
    // Guards against an empty request reported as failure, and against ids that stay observed.
    QCOMPARE(ctrl->unobservePropertiesById({}), 0);
    ctrl->observeProperties({{QStringLiteral("speed"), 5, MPV_FORMAT_DOUBLE}});
    drain();
    QCOMPARE(ctrl->unobservePropertiesById({5}), 0);
    QSignalSpy spy(ctrl, &MpvController::mpvPropertyChanged);
    ctrl->setPropertyVariant(QStringLiteral("speed"), 1.5);
    drain();
    QVERIFY(spy.isEmpty());
}

void TestMpvController::asynchronousReplies_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("get value") << "get speed" << QVariant(1.0);
    QTest::newRow("get without value") << "get duration"
                                       << QVariant::fromValue(MpvErrorCode(MPV_ERROR_PROPERTY_UNAVAILABLE));
    QTest::newRow("set succeeds") << "set" << QVariant::fromValue(MpvErrorCode(0));
    QTest::newRow("command succeeds") << "command" << QVariant::fromValue(MpvErrorCode(0));
    QTest::newRow("command fails") << "bad command" << QVariant::fromValue(MpvErrorCode(MPV_ERROR_INVALID_PARAMETER));
}

void TestMpvController::asynchronousReplies() {
    // Guards against success being indistinguishable from failure in replies.
    QFETCH(QString, kind);
    QFETCH(QVariant, expected);
    QVariant received;
    bool called = false;
    QPointer<MpvCallback> callback = new MpvCallback([&](QVariant v) {
        received = v;
        called = true;
    });
    if (kind == "get speed")
        ctrl->getPropertyVariantAsync(QStringLiteral("speed"), callback);
    else if (kind == "get duration")
        ctrl->getPropertyVariantAsync(QStringLiteral("duration"), callback);
    else if (kind == "set")
        ctrl->setPropertyVariantAsync(QStringLiteral("speed"), 1.25, callback);
    else if (kind == "command")
        ctrl->commandAsync(QStringList{"expand-text", "x"}, callback);
    else
        ctrl->commandAsync(QStringList{"no-such-command"}, callback);
    QTRY_VERIFY(called);
    QCOMPARE(received.userType(), expected.userType());
    if (isError(expected))
        QCOMPARE(errorOf(received), errorOf(expected));
    else
        QCOMPARE(received, expected);
    QTRY_VERIFY(callback.isNull()); // used once, then gone
}

void TestMpvController::deletedCallbackIsSkipped() {
    // Guards against a reply reaching a callback whose owner already deleted it.
    auto* owner = new QObject;
    bool called = false;
    auto* callback = new MpvCallback([&](QVariant) { called = true; }, owner);
    ctrl->getPropertyVariantAsync(QStringLiteral("speed"), callback);
    delete owner;
    bool later = false;
    ctrl->getPropertyVariantAsync(QStringLiteral("speed"), new MpvCallback([&](QVariant) { later = true; }));
    QTRY_VERIFY(later);
    QVERIFY(!called);
}

void TestMpvController::emptyCallbackThrows() {
    auto* callback = new MpvCallback(std::function<void(QVariant)>());
    QVERIFY_EXCEPTION_THROWN(callback->reply(QVariant(1)), std::bad_function_call);
    QPointer<MpvCallback> guard = callback;
    QTRY_VERIFY(guard.isNull()); // still cleaned up
}

void TestMpvController::createWithoutAudioAndVideo() {
    // Guards against the off switches being ignored (a test box has no device for either).
    QCOMPARE(ctrl->getPropertyString(QStringLiteral("vo")), QStringLiteral("null"));
    QCOMPARE(ctrl->getPropertyString(QStringLiteral("ao")), QStringLiteral("null"));
    QVERIFY(ctrl->protocolList().contains(QStringLiteral("file")));
    QVERIFY(!ctrl->mpvDrawContext());
    QVERIFY(ctrl->apiVersion() >= MPV_MAKE_VERSION(2, 0));
    QVERIFY(ctrl->timeMicroseconds() > 0);
    QVERIFY(ctrl->getPropertyString(QStringLiteral("no-such-property")).isNull());

    MpvController withVideo;
    withVideo.create(true, true);
    QCOMPARE(withVideo.getPropertyString(QStringLiteral("vo")), QStringLiteral("libmpv"));
}

void TestMpvController::createAgainReplacesTheHandle() {
    // Guards against keeping the old core's state (or leaking it) on a second create.
    QCOMPARE(ctrl->setPropertyVariant(QStringLiteral("speed"), 2.5), 0);
    ctrl->create(false, false);
    QCOMPARE(ctrl->getPropertyVariant(QStringLiteral("speed")), QVariant(1.0));
    QCOMPARE(ctrl->getPropertyString(QStringLiteral("ao")), QStringLiteral("null"));
}

void TestMpvController::hookRunsArriveAsClientMessages() {
    // Guards against a registered hook that never reaches the widget (libmpv would wait for its ack).
    const QString audio = TestSupport::shortAudioFile();
    QVERIFY(!audio.isEmpty());
    ctrl->addHook(QStringLiteral("on_unload"), 4242);
    QSignalSpy messages(ctrl, &MpvController::clientMessage);
    QSignalSpy events(ctrl, &MpvController::unhandledMpvEvent);
    ctrl->command(QStringList{"loadfile", audio});
    QTRY_VERIFY(!messages.isEmpty()); // without an audio output the file ends at once
    const QStringList args = messages[0][1].toStringList();
    QCOMPARE(args.size(), 3);
    QCOMPARE(args[0], QStringLiteral("hook_run"));
    QCOMPARE(args[1], QStringLiteral("4242"));
    QVERIFY(!ctrl->command(QStringList{"hook-ack", args[2]}).isValid());
    QTRY_VERIFY(events.contains(QVariantList{int(MPV_EVENT_END_FILE)}));
}

TAVROLIN_MEDIA_TEST_MAIN(TestMpvController)
#include "tst_mpvcontroller.moc"
