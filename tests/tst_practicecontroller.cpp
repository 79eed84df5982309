// Sentence tracking and the practice modes, driven by position, length and
// status reports, with a fake player and recorded page calls.
#include "playback/playertimeline.h"
#include "playback/practicecontroller.h"
#include "support/fakeplayer.h"
#include "support/testsupport.h"

#include <QTest>

#include <cmath>

using PageScript::Page;

namespace {

using Mode = PracticeController::Mode;
using Repeat = PracticeController::Repeat;
using PlayState = PracticeController::PlayState;

struct Rig {
    Rig() {
        controller.setPage(&pageScript);
        controller.createPlayer = [this] {
            auto p = std::make_unique<FakePlayer>();
            player = p.get();
            // As the playback manager reports the end of the media.
            QObject::connect(&player->line, &PlayerTimeline::ended, &controller,
                             [this] { controller.mediaStatusChanged(MediaStatusCode::EndOfMedia); });
            return std::unique_ptr<PracticePlayer>(std::move(p));
        };
    }
    // Starts local playback with the given start times and a known length; the player plays.
    void start(const QList<int>& startTimes, qint64 length = 20, Mode mode = Mode::Read) {
        controller.setMode(mode);
        controller.initPlay("file:///data/a.rar", "local", startTimes, "audio");
        player->fileLoads(double(length));
        controller.durationChanged(length);
        recorder.clear();
        player->calls.clear();
    }
    PlayerTimeline& line() { return player->line; }
    // The player's reports at `seconds` (where a seek lands first): the exact one, then the whole-second one.
    void report(double seconds) {
        if (line().isSeeking())
            line().restarted();
        // The test jumps ahead at once; a playing player that has got that far says so again.
        const bool ahead = line().isAdvancing() && seconds > line().position() + PlayerTimeline::aheadTolerance;
        line().positionReported(seconds);
        if (ahead)
            line().positionReported(seconds);
        controller.positionChanged(qint64(seconds));
    }
    // The page snippets that are not progress reports.
    QStringList page() const {
        QStringList out;
        for (const QString& s : recorder.snippets(Page::Other))
            if (!s.startsWith("media.setPlaying"))
                out << s;
        return out;
    }
    TestSupport::ScriptRecorder recorder;
    PageFrames frames;
    PracticePageScript pageScript{frames}; // the bridge's way to the pages, recorded
    PracticeController controller;
    FakePlayer* player = nullptr;
};

} // namespace

class TestPracticeController : public QObject {
    Q_OBJECT

private slots:
    void readingHighlightsEachSentenceOnce();
    void beforeTheFirstSentenceIsMinusOne();
    void nothingWhileTheLengthIsUnknown();
    void progressPercent_data();
    void progressPercent();
    void dictationRepeatsWithAGapThatDoesNotBlock();
    void lastDictationHearing_data();
    void lastDictationHearing();
    void repeatSenLoopsAndRepeateSenSuppresses();
    void fillwordStopsAtTheSentenceEnd();
    void fillwordSolvedOnTheLastSentence_data();
    void fillwordSolvedOnTheLastSentence();
    void playUnits_data();
    void playUnits();
    void playAfterTheEnd();
    void videoDetection_data();
    void videoDetection();
    void sourcesAreResolvedOrStripped();
    void loadedMediaStartsThePage();
    void loadPosition_data();
    void loadPosition();
    void dictationIndexMinusOne();
    void backToReadingResumesAPausedPlayer();
    void withoutAPlayerNothingHappens();
    void ownEndsCloseTheSentence_data();
    void ownEndsCloseTheSentence();
    void boundaryIsActedOnWhenDue_data();
    void boundaryIsActedOnWhenDue();
    void aStalledPlayerIsNotCutShort();
    void lateOnlineAnswerAndSeeksWhileResolving();
    void speedFromAnySourceReachesThePage_data();
    void speedFromAnySourceReachesThePage();
};

void TestPracticeController::readingHighlightsEachSentenceOnce() {
    // Guards against a highlight sent on every report, or one sentence too early or late.
    Rig rig;
    rig.start({0, 4000, 9000});
    for (double s : {0, 3, 4, 8, 9, 12})
        rig.report(s);
    // The last sentence's highlight repeats on the whole-second reports after the first.
    QCOMPARE(rig.page(), (QStringList{"media.highlight('1');", "media.highlight('2');", "media.highlight('2');"}));
    QCOMPARE(rig.controller.currentIndex(), 2);
}

void TestPracticeController::beforeTheFirstSentenceIsMinusOne() {
    Rig rig;
    rig.start({2000, 5000});
    rig.report(1);
    QCOMPARE(rig.page(), QStringList{"media.highlight('-1');"});
    rig.start({});
    rig.report(1);
    rig.report(2);
    QCOMPARE(rig.page(), (QStringList{"media.highlight('-1');", "media.highlight('-1');"}));
}

void TestPracticeController::nothingWhileTheLengthIsUnknown() {
    Rig rig;
    rig.start({0, 4000}, 0);
    rig.report(5);
    QVERIFY(rig.recorder.calls.isEmpty());
}

void TestPracticeController::progressPercent_data() {
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QString>("snippet");
    QTest::newRow("quarter") << qint64(50) << "media.setPlaying('25');";
    QTest::newRow("truncated") << qint64(199) << "media.setPlaying('99');";
}

void TestPracticeController::progressPercent() {
    QFETCH(qint64, position);
    QFETCH(QString, snippet);
    Rig rig;
    rig.start({0}, 200);
    rig.controller.positionChanged(position);
    QCOMPARE(rig.recorder.snippets(Page::Other).first(), snippet);
}

void TestPracticeController::dictationRepeatsWithAGapThatDoesNotBlock() {
    // Guards against a wrong count, a replay that plays on past the end before
    // going back, or a GUI frozen during the gap.
    Rig rig;
    rig.start({0, 4000, 9000}, 20, Mode::Dictation);
    rig.controller.setDictationHearings(3);
    rig.controller.setPlayIndex(1);

    for (int round = 1; round <= 2; ++round) {
        rig.recorder.clear();
        rig.player->calls.clear();
        rig.report(9);
        QCOMPARE(rig.controller.repeatCount(), round);
        // Paused at the end and back at the start while paused.
        QCOMPARE(rig.player->calls, (QStringList{"pause", "seek 4"}));
        QCOMPARE(rig.controller.playState(), PlayState::Paused);
        QVERIFY(rig.controller.inDictationGap());
        QVERIFY(rig.page().isEmpty());
        // Reports while paused are ignored, and the event loop keeps running.
        rig.report(9);
        QCOMPARE(rig.controller.repeatCount(), round);
        bool timerRan = false;
        QTimer::singleShot(100, [&] { timerRan = true; });
        QTRY_VERIFY_WITH_TIMEOUT(!rig.controller.inDictationGap(), 5000);
        QVERIFY(timerRan);
        QCOMPARE(rig.page(), (QStringList{"media.play(0);", QString("article.setPlayTimes('1', '%1');").arg(round)}));
        QCOMPARE(rig.player->calls, (QStringList{"pause", "seek 4"}));
        rig.controller.play(0); // the page's answer to media.play(0)
        rig.report(4);
    }

    // The last hearing: the player stops at the end by itself (no page round trip) and waits at the start.
    rig.recorder.clear();
    rig.player->calls.clear();
    rig.report(9);
    QCOMPARE(rig.controller.repeatCount(), 0);
    QVERIFY(!rig.controller.inDictationGap());
    QCOMPARE(rig.page(), (QStringList{"media.pause();", "article.setPlayTimes('1', '0');"}));
    QCOMPARE(rig.player->calls, (QStringList{"pause", "seek 4"}));
}

void TestPracticeController::lastDictationHearing_data() {
    QTest::addColumn<Repeat>("repeat");
    QTest::addColumn<QStringList>("page");
    QTest::addColumn<QStringList>("player");
    QTest::newRow("once") << Repeat::Once << QStringList{"media.pause();", "article.setPlayTimes('2', '0');"}
                          << QStringList{"pause", "seek 9"};
    QTest::newRow("article over again") << Repeat::Article
                                        << QStringList{"article.initDictation(0);", "article.setPlayTimes('0', '0');"}
                                        << QStringList{"seek 0", "resume"};
    QTest::newRow("next article") << Repeat::NextArticle
                                  << QStringList{"media.pause();", "article.setPlayTimes('2', '0');", "media.next();"}
                                  << QStringList{"pause"};
}

void TestPracticeController::lastDictationHearing() {
    // The last sentence ends with the media; its last hearing follows the repeat setting.
    QFETCH(Repeat, repeat);
    QFETCH(QStringList, page);
    QFETCH(QStringList, player);
    Rig rig;
    rig.start({0, 4000, 9000}, 20, Mode::Dictation);
    rig.controller.setRepeat(repeat);
    rig.controller.setDictationHearings(1);
    rig.controller.setPlayIndex(2);
    rig.report(19);
    rig.player->endOfFile();
    QCOMPARE(rig.page(), page);
    QCOMPARE(rig.player->calls, player);
}

void TestPracticeController::repeatSenLoopsAndRepeateSenSuppresses() {
    Rig rig;
    rig.start({0, 4000, 9000});
    rig.controller.setRepeat(Repeat::Sentence);
    rig.controller.setPlayIndex(1);
    rig.report(8);
    QVERIFY(rig.player->calls.isEmpty());
    for (int i = 0; i < 3; ++i) {
        rig.report(9);
        rig.report(4);
    }
    QCOMPARE(rig.player->calls, (QStringList{"seek 4", "seek 4", "seek 4"}));
    QVERIFY(rig.page().isEmpty()); // no highlight moves while looping

    Rig dictation;
    dictation.start({0, 4000}, 20, Mode::Dictation);
    dictation.controller.setRepeat(Repeat::NoMediaEndReplay);
    dictation.controller.mediaStatusChanged(MediaStatusCode::EndOfMedia);
    QVERIFY(dictation.page().isEmpty());
    QVERIFY(dictation.player->calls.isEmpty());
    QCOMPARE(dictation.controller.repeatCount(), 0);
    QCOMPARE(dictation.controller.playState(), PlayState::Stopped);
}

void TestPracticeController::fillwordStopsAtTheSentenceEnd() {
    Rig rig;
    rig.start({0, 4000, 9000}, 20, Mode::Fillword);
    rig.report(3);
    QVERIFY(rig.page().isEmpty());
    rig.report(4);
    // Stopped by the practice at the end, the page told.
    QCOMPARE(rig.player->calls, QStringList{"pause"});
    QCOMPARE(rig.page(), (QStringList{"media.pause();", "media.setFillwordState(true);"}));

    rig.recorder.clear();
    rig.player->calls.clear();
    rig.controller.fillwordSuccessAction();
    QCOMPARE(rig.controller.currentIndex(), 1);
    // Continues where it paused: the seek goes there (the player's stop at the end is lifted).
    QCOMPARE(rig.player->calls, (QStringList{"seek 4", "resume"}));
    QCOMPARE(rig.page(), (QStringList{"article.initIndex('1', 'fillword');", "media.play();"}));
}

void TestPracticeController::fillwordSolvedOnTheLastSentence_data() {
    QTest::addColumn<Repeat>("repeat");
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("page");
    QTest::addColumn<QStringList>("player");
    QTest::newRow("repeated") << Repeat::Article << 0
                              << QStringList{"article.initIndex('0', 'fillword');", "media.play();"}
                              << QStringList{"seek 0", "resume"};
    QTest::newRow("once") << Repeat::NextArticle << 3
                          << QStringList{"media.next();", "article.initIndex('3', 'fillword');", "media.play();"}
                          << QStringList{"resume"};
}

void TestPracticeController::fillwordSolvedOnTheLastSentence() {
    QFETCH(Repeat, repeat);
    QFETCH(int, index);
    QFETCH(QStringList, page);
    QFETCH(QStringList, player);
    Rig rig;
    rig.start({0, 4000, 9000}, 20, Mode::Fillword);
    rig.controller.setRepeat(repeat);
    rig.controller.setPlayIndex(2);
    rig.controller.fillwordSuccessAction();
    QCOMPARE(rig.controller.currentIndex(), index);
    QCOMPARE(rig.page(), page);
    QCOMPARE(rig.player->calls, player);
}

void TestPracticeController::playUnits_data() {
    QTest::addColumn<bool>("seconds");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("ms 5000") << false << qint64(5000) << QStringList{"seek 5", "resume"};
    QTest::newRow("ms 5999 to the ms") << false << qint64(5999) << QStringList{"seek 5.999", "resume"};
    QTest::newRow("seconds 5000") << true << qint64(5000) << QStringList{"seek 5000", "resume"};
    QTest::newRow("ms 0 stays") << false << qint64(0) << QStringList{"resume"};
    QTest::newRow("seconds 0 seeks") << true << qint64(0) << QStringList{"seek 0", "resume"};
    QTest::newRow("-1 never seeks") << true << qint64(-1) << QStringList{"resume"};
}

void TestPracticeController::playUnits() {
    QFETCH(bool, seconds);
    QFETCH(qint64, position);
    QFETCH(QStringList, calls);
    Rig rig;
    rig.start({0});
    rig.controller.setPositionsInSeconds(seconds);
    rig.controller.play(position);
    QCOMPARE(rig.player->calls, calls);
    QCOMPARE(rig.controller.playState(), PlayState::Playing);
    QCOMPARE(rig.recorder.snippets(Page::Paragraph), QStringList{"paragraph.setPlayState('pause');"});
    rig.recorder.clear();
    rig.controller.pause();
    QCOMPARE(rig.controller.playState(), PlayState::Paused);
    QCOMPARE(rig.recorder.snippets(Page::Paragraph), QStringList{"paragraph.setPlayState('play');"});
}

void TestPracticeController::playAfterTheEnd() {
    Rig rig;
    rig.start({0, 4000, 9000});
    rig.report(19);
    rig.recorder.clear();
    rig.player->endOfFile();
    QCOMPARE(rig.page(), QStringList{"media.playEnd();"});
    // The paragraph window no longer shows "pause" once the article has ended.
    QCOMPARE(rig.recorder.snippets(Page::Paragraph), QStringList{"paragraph.setPlayState('play');"});
    QCOMPARE(rig.controller.playState(), PlayState::Stopped);
    QVERIFY(rig.line().atEnd());
    rig.controller.play(3000);
    QCOMPARE(rig.player->calls, (QStringList{"seek 3", "resume"})); // straight there
    QVERIFY(!rig.line().atEnd());
    // From where it stands is from the start once it has ended...
    rig.report(19);
    rig.player->endOfFile();
    rig.player->calls.clear();
    rig.controller.play(0);
    QCOMPARE(rig.player->calls, (QStringList{"seek 0", "resume"}));
    // ... unless a sentence was chosen since (guards against dictation that starts over from the top).
    rig.report(19);
    rig.player->endOfFile();
    rig.player->calls.clear();
    rig.controller.setMode(Mode::Dictation);
    rig.controller.setDictationIndex(2);
    rig.controller.play(0);
    QCOMPARE(rig.player->calls, (QStringList{"seek 9", "resume"}));
}

void TestPracticeController::videoDetection_data() {
    QTest::addColumn<QString>("src");
    QTest::addColumn<QString>("mediaType");
    QTest::addColumn<bool>("video");
    QTest::newRow("mp4 at index 0 is audio") << "mp4talk.mp3"
                                             << "audio" << false;
    QTest::newRow("upper-case extension") << "/data/clip.MP4"
                                          << "audio" << true;
    QTest::newRow("media type 4") << "/data/a.rar"
                                  << "4" << true;
    QTest::newRow("plain audio") << "/data/a.rar"
                                 << "audio" << false;
}

void TestPracticeController::videoDetection() {
    QFETCH(QString, src);
    QFETCH(QString, mediaType);
    QFETCH(bool, video);
    Rig rig;
    int placed = 0;
    rig.controller.placeVideo = [&] { ++placed; };
    rig.controller.initPlay(src, "local", {0}, mediaType);
    QCOMPARE(rig.controller.isVideo(), video);
    QCOMPARE(placed, video ? 1 : 0);
    QCOMPARE(rig.recorder.snippets(Page::Other).contains("media.hideVideoFrame();"), !video);
    QCOMPARE(rig.player->widget->isVisible(), video);
    // The program shows the sentences itself: the player's own subtitles are off.
    QVERIFY(!rig.player->playerSubtitlesVisible);
}

void TestPracticeController::sourcesAreResolvedOrStripped() {
    Rig rig;
    std::function<void(const QString&)> pending;
    QString asked;
    rig.controller.resolveOnline = [&](const QString& url, std::function<void(const QString&)> done) {
        asked = url;
        pending = done;
    };
    rig.controller.initPlay("http://host/api/v3/media/mp3/a1?agent=x", "online", {}, "audio");
    QCOMPARE(asked, QString("http://host/api/v3/media/mp3/a1?agent=x"));
    QVERIFY(rig.player->calls.isEmpty()); // loads only once resolved
    pending("http://host/media/a1.mp3");
    QCOMPARE(rig.player->calls, QStringList{"load http://host/media/a1.mp3"});

    rig.player->calls.clear();
    rig.controller.initPlay("file:///home/u/data/a1.rar", "local", {}, "audio");
    QCOMPARE(rig.player->calls, QStringList{"load /home/u/data/a1.rar"});
    rig.player->calls.clear();
    rig.controller.initPlay("/x.rar", "other", {1000}, "audio");
    QVERIFY(rig.player->calls.isEmpty());
    QCOMPARE(rig.controller.sentences().starts(), QList<int>{1000});
    QCOMPARE(rig.controller.playState(), PlayState::Stopped);
}

void TestPracticeController::loadedMediaStartsThePage() {
    Rig rig;
    rig.start({0});
    rig.controller.mediaStatusChanged(MediaStatusCode::LoadingMedia);
    rig.controller.mediaStatusChanged(MediaStatusCode::LoadedMedia);
    rig.controller.mediaStatusChanged(2); // unknown values are ignored
    QCOMPARE(rig.page(),
             (QStringList{"media.loadingStart();", "media.loadingEnd();", "media.play(0);", "media.highlight(0);"}));
}

void TestPracticeController::loadPosition_data() {
    QTest::addColumn<int>("percent");
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("player");
    // 20-second media, sentences at 0, 9 and 15 s. In reading mode the play values
    // 1 and whole seconds are read as milliseconds (the page says when it means seconds).
    QTest::newRow("0") << 0 << Mode::Read << 2 << 0 << QStringList{"seek 0.001", "resume"};
    QTest::newRow("50 reading") << 50 << Mode::Read << 2 << 1 << QStringList{"seek 0.01", "resume"};
    QTest::newRow("50 dictation") << 50 << Mode::Dictation << 2 << 1 << QStringList{"seek 9", "resume"};
    // 9 s exactly: a sentence's start belongs to that sentence, not to the one before.
    QTest::newRow("45 on a start") << 45 << Mode::Dictation << 2 << 1 << QStringList{"seek 9", "resume"};
    // Past the last start: the last sentence, from any sentence before.
    QTest::newRow("95 past the last start") << 95 << Mode::Dictation << 0 << 2 << QStringList{"seek 15", "resume"};
    QTest::newRow("99") << 99 << Mode::Read << 2 << 2 << QStringList{"seek 15", "resume"};
}

void TestPracticeController::loadPosition() {
    QFETCH(int, percent);
    QFETCH(Mode, mode);
    QFETCH(int, from);
    QFETCH(int, index);
    QFETCH(QStringList, player);
    Rig rig;
    rig.start({0, 9000, 15000}, 20, mode);
    rig.controller.setPlayIndex(from);
    rig.controller.setLoadingPosition(true);
    rig.player->calls.clear();
    rig.controller.loadPosition(percent);
    QCOMPARE(rig.controller.currentIndex(), index);
    QCOMPARE(rig.page().first(), QString("media.highlight('%1');article.initDictation('%1');"
                                         "article.initIndex('%1', 'fillword');")
                                     .arg(index));
    QCOMPARE(rig.player->calls, player);
}

void TestPracticeController::dictationIndexMinusOne() {
    Rig rig;
    rig.start({0, 4000, 9000}, 20, Mode::Dictation);
    rig.controller.setPlayIndex(2);
    rig.controller.setDictationIndex(-1);
    QCOMPARE(rig.player->calls, QStringList{"seek 9"});
    QCOMPARE(rig.controller.currentIndex(), -1);
    QCOMPARE(rig.controller.repeatCount(), 0);
    rig.controller.setFillwordIndex(1);
    QCOMPARE(rig.player->calls.last(), QString("seek 4"));
    rig.controller.setDictationIndex(7); // outside the list: start of the media
    QCOMPARE(rig.player->calls.last(), QString("seek 0"));
}

void TestPracticeController::backToReadingResumesAPausedPlayer() {
    Rig rig;
    rig.start({0, 4000, 9000}, 20, Mode::Dictation);
    rig.controller.setPlayIndex(1);
    rig.controller.pause();
    rig.recorder.clear();
    rig.player->calls.clear();
    rig.controller.setMode(Mode::Read);
    QCOMPARE(rig.player->calls, (QStringList{"seek 4", "resume"}));
    QCOMPARE(rig.page(), (QStringList{"if(media){media.updatePlayState();}", "if(media){media.highlight('1');}"}));

    rig.recorder.clear();
    rig.player->calls.clear();
    rig.controller.setMode(Mode::Read); // playing: only the highlight
    QVERIFY(rig.player->calls.isEmpty());
    QCOMPARE(rig.page(), QStringList{"if(media){media.highlight('1');}"});

    rig.controller.setPlayIndex(-1);
    rig.controller.pause();
    rig.player->calls.clear();
    rig.controller.setMode(Mode::Read); // no current sentence: from where it stands
    QCOMPARE(rig.player->calls, QStringList{"resume"});

    rig.controller.setRepeat(Repeat::Sentence);
    QCOMPARE(rig.controller.repeat(), Repeat::Sentence);
    QCOMPARE(rig.controller.mode(), Mode::Read);
}

void TestPracticeController::withoutAPlayerNothingHappens() {
    // Page calls before the first initPlay must not crash.
    TestSupport::ScriptRecorder recorder;
    PageFrames frames;
    PracticePageScript page{frames};
    PracticeController controller;
    controller.setPage(&page);
    controller.play(1000);
    controller.pause();
    controller.cancelPlay();
    controller.resetMedia();
    controller.setDictationIndex(1);
    controller.setVolume(30);
    controller.fillwordSuccessAction();
    QCOMPARE(controller.playState(), PlayState::Stopped);
    QCOMPARE(recorder.snippets(Page::Paragraph), QStringList());
}

void TestPracticeController::ownEndsCloseTheSentence_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QList<int>>("ends");
    QTest::addColumn<double>("endsAt");
    QTest::addColumn<QString>("acted");
    QTest::newRow("fill-in") << "fillword" << QList<int>{2500, 6000} << 2.5 << "media.setFillwordState(true);";
    QTest::newRow("dictation") << "dictation" << QList<int>{2500, 6000} << 2.5 << "seek 0";
    QTest::newRow("loop") << "repeatSen" << QList<int>{2500, 6000} << 2.5 << "seek 0";
    QTest::newRow("end past the next start")
        << "fillword" << QList<int>{5000} << 4.0 << "media.setFillwordState(true);";
    QTest::newRow("no ends") << "dictation" << QList<int>{} << 4.0 << "seek 0";
}

void TestPracticeController::ownEndsCloseTheSentence() {
    // Guards against playing on into the gap after a sentence (a film between two cues) when its end is known.
    QFETCH(QString, mode);
    QFETCH(QList<int>, ends);
    QFETCH(double, endsAt);
    QFETCH(QString, acted);
    Rig rig;
    const Mode practised = mode == "fillword" ? Mode::Fillword : mode == "dictation" ? Mode::Dictation : Mode::Read;
    rig.start({0, 4000, 9000}, 20, practised);
    if (mode == "repeatSen")
        rig.controller.setRepeat(Repeat::Sentence);
    rig.controller.setEndTimes(ends);
    rig.controller.setPlayIndex(0);
    rig.report(endsAt - 0.1);
    QVERIFY(rig.player->calls.isEmpty() && rig.page().isEmpty());
    rig.report(endsAt);
    QVERIFY2((rig.player->calls + rig.page()).contains(acted), qPrintable((rig.player->calls + rig.page()).join(", ")));
    // The next sentence starts where it always did.
    QCOMPARE(rig.controller.sentenceStartSeconds(1), 4.0);
}

void TestPracticeController::boundaryIsActedOnWhenDue_data() {
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<double>("speed");
    QTest::addColumn<QString>("snippet");
    QTest::newRow("fill-in end") << Mode::Fillword << 1.0 << "media.setFillwordState(true);";
    QTest::newRow("reading highlight, double speed") << Mode::Read << 2.0 << "media.highlight('1');";
}

void TestPracticeController::boundaryIsActedOnWhenDue() {
    // Guards against acting on the next report (up to a whole second late) instead
    // of at the boundary between reports, and against ignoring the speed.
    QFETCH(Mode, mode);
    QFETCH(double, speed);
    QFETCH(QString, snippet);
    Rig rig;
    rig.start({0, 4000, 9000}, 20, mode);
    rig.controller.setPlayIndex(0);
    double actedAt = -1;
    rig.recorder.answer = [&](const PageScript::Call& call) {
        if (call.snippet == snippet && actedAt < 0)
            actedAt = rig.controller.exactPosition();
        return QVariant();
    };
    rig.controller.setSpeed(speed);
    rig.recorder.clear();
    rig.report(3.7);
    QVERIFY(rig.page().isEmpty());
    const int due = rig.controller.boundaryDueMs();
    QVERIFY2(qAbs(due - 300 / speed) <= 3, qPrintable(QString::number(due)));
    // Paused, nothing is due; playing again, it is.
    rig.line().pausedReported(true);
    QCOMPARE(rig.controller.boundaryDueMs(), -1);
    rig.line().pausedReported(false);
    QVERIFY(rig.controller.boundaryDueMs() > 0);

    QTRY_VERIFY_WITH_TIMEOUT(actedAt >= 0, 3000);
    QVERIFY2(actedAt >= 4.0 - PracticeController::boundaryToleranceSeconds && actedAt < 4.15,
             qPrintable(QString::number(actedAt, 'f', 4)));
    QCOMPARE(rig.page().first(), mode == Mode::Fillword ? QString("media.pause();") : snippet);
}

void TestPracticeController::aStalledPlayerIsNotCutShort() {
    // Guards against ending a sentence by the clock while the player stood still
    // (it stalled on a video's first frames at 1.25x): the learner lost the rest
    // of the sentence, and the hearing counted as heard.
    Rig rig;
    rig.start({0, 4000, 9000}, 20, Mode::Fillword);
    rig.controller.setPlayIndex(0);
    rig.report(3.7);
    rig.player->stalledAt = 3.7;
    QTest::qWait(600); // twice the time to the end by the clock, without a report
    QVERIFY2(rig.page().isEmpty(), qPrintable(rig.page().join(", ")));
    rig.player->stalledAt.reset();
    rig.report(3.8); // it plays again
    QTRY_VERIFY_WITH_TIMEOUT(!rig.page().isEmpty(), 1000);
    QCOMPARE(rig.page().first(), QString("media.pause();"));
    QVERIFY(rig.controller.exactPosition() >= 4.0 - PracticeController::boundaryToleranceSeconds);
}

void TestPracticeController::lateOnlineAnswerAndSeeksWhileResolving() {
    // Guards against article A's media loading under article B's sentence times,
    // and against a seek lost while the online source is still being resolved.
    Rig rig;
    QList<std::function<void(const QString&)>> answers;
    rig.controller.resolveOnline = [&](const QString&, std::function<void(const QString&)> done) { answers << done; };
    rig.controller.initPlay("http://host/a", "online", {0, 4000}, "audio");
    rig.controller.initPlay("http://host/b", "online", {0, 2000, 5000}, "audio");
    rig.player->calls.clear();
    rig.controller.setDictationIndex(2);
    QVERIFY(rig.player->calls.isEmpty()); // held until the source is known
    answers.at(0)("http://media/a.mp3");
    QVERIFY(rig.player->calls.isEmpty());
    answers.at(1)("http://media/b.mp3");
    rig.player->fileLoads();
    QCOMPARE(rig.player->calls, (QStringList{"load http://media/b.mp3", "seek 5"}));

    rig.player->calls.clear();
    rig.controller.initPlay("http://host/c", "online", {}, "audio");
    rig.controller.initPlay("file:///data/d.rar", "local", {}, "audio");
    answers.at(2)("http://media/c.mp3");
    QCOMPARE(rig.player->calls, QStringList{"load /data/d.rar"});
}

void TestPracticeController::speedFromAnySourceReachesThePage_data() {
    QTest::addColumn<double>("asked");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("played");
    QTest::newRow("a step") << 0.7 << "0.7"
                            << "0.7";
    QTest::newRow("between the steps") << 1.25 << "1.25"
                                       << "1.25";
    QTest::newRow("too slow") << 0.1 << "0.5"
                              << "0.5";
    QTest::newRow("too fast") << 3.0 << "2.0"
                              << "2";
}

void TestPracticeController::speedFromAnySourceReachesThePage() {
    // Guards against a speed outside 0.5 .. 2.0 reaching the player, against the
    // page not hearing of a change it did not make (the keys, the player), and
    // against a new player starting at normal speed.
    QFETCH(double, asked);
    QFETCH(QString, shown);
    QFETCH(QString, played);
    Rig rig;
    rig.start({0, 4000});
    QList<double> chosen;
    QObject::connect(&rig.controller, &PracticeController::speedChosen, [&](double s) { chosen << s; });
    rig.controller.setSpeed(asked);
    QCOMPARE(rig.player->calls, QStringList{"speed " + played});
    QCOMPARE(rig.page(), QStringList{"media.setSpeed('" + shown + "');"});
    QCOMPARE(chosen, QList<double>{shown.toDouble()});
    // Not a number: nothing changes.
    rig.controller.setSpeed(std::nan(""));
    QCOMPARE(rig.player->calls.size(), 1);
    // The player changing by itself is told too.
    rig.recorder.clear();
    rig.line().speedReported(1.0);
    QCOMPARE(rig.page(), QStringList{"media.setSpeed('1.0');"});
    // The next article's page is told the kept speed, and the player keeps it.
    rig.controller.setSpeed(asked);
    rig.recorder.clear();
    rig.player->calls.clear();
    rig.controller.initPlay("file:///data/b.rar", "local", {0}, "audio");
    QVERIFY(rig.page().contains("media.setSpeed('" + shown + "');"));
    QCOMPARE(rig.controller.speed(), shown.toDouble());
}

QTEST_MAIN(TestPracticeController)
#include "tst_practicecontroller.moc"
