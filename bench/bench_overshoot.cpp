// How exactly the practice acts at sentence boundaries, on real playback of a
// sample audio article and of the sample video, at normal speed and one other
// speed step. Signed errors in milliseconds (positive = late):
//  - end: where the sound ends at a sentence end, minus the sentence's true end
//    (the next sentence's start): whichever comes first of the player's own stop
//    at the bound (it ends the sound to the sample and pauses; the timeline then
//    stands at the stop) and the practice pausing the player or sending it back
//    (where the player stands at that moment);
//  - start: the first exact position reported after a replay's seek, minus the
//    sentence start;
//  - highlight: where the player stands when the page receives a highlight,
//    minus the start of that sentence.
// "Where the player stands" is the latest exact report carried forward at the
// playing speed (the best of the reports since the last seek or pause, since a
// report can only arrive late); libmpv's own property moves in steps of about
// 60 ms of audio and would read early.
//
// Usage (needs an X display and an audio output, as the tests do):
//   xvfb-run -a build/bench/bench_overshoot [content-dir [mode...]]
// with modes out of loop, dictation, fillword, reading, plan and media audio, video (all by default).
// "plan" is the loop and dictation with a repetition plan (hearings at 0.75,
// 1.0 and 1.25 with pauses for speaking along), three hearings of each
// sentence; its figures are per hearing speed, at the learner's normal speed.
// Prints one line per figure:
//   RESULT mode=<loop|dictation|fillword|reading|plan-loop|plan-dictation> media=<audio|video> speed=<x>
//   edge=<end|start|highlight> n=<N> median_ms=<m> max_abs_ms=<a>
// and on stderr, per session, how many of its sentence ends the player's own
// stop made:
//   ENDS mode=... media=... speed=<x> by_stop=<k> of=<N>
#include "bridge/pagescript.h"
#include "playback/playertimeline.h"
#include "playback/playmanager.h"
#include "playback/practicecontroller.h"
#include "player/mpvwidget.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr double otherSpeed = 1.5; // a step of the Ctrl+Up ladder (1.40, 1.45, 1.50)
constexpr int learnerMs = 300;     // how long the stand-in learner takes to answer

// Where the player stands, from its exact reports.
class PositionEstimate {
public:
    void report(double seconds) {
        reports.push_back({seconds, clock.nsecsElapsed() / 1e9});
        if (reports.size() > 8)
            reports.erase(reports.begin());
    }
    void reset() { reports.clear(); }
    void setRate(double r) { rate = r; }
    void setPaused(bool p) {
        if (p != paused)
            reset(); // carried-forward reports do not span a pause
        paused = p;
    }
    // -1 without a report since the last seek or pause.
    double now() const {
        if (reports.empty())
            return -1;
        const double t = clock.nsecsElapsed() / 1e9;
        double best = -1;
        for (const auto& [position, at] : reports)
            best = std::max(best, paused ? position : position + (t - at) * rate);
        return best;
    }

private:
    struct Report {
        double position;
        double at;
    };
    std::vector<Report> reports;
    QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    double rate = 1.0;
    bool paused = false;
};

// The real player; the session hears from its timeline when the practice
// pauses it or sends it somewhere.
class MeasuringPlayer : public PracticePlayer {
public:
    ObDataBase::PlayManager manager{nullptr};

    QWidget* playerWidget() override { return manager.playerWidget(); }
    PlayerTimeline* timeline() override { return manager.timeline(); }
    void loadMedia(const QString& s) override { manager.loadMedia(s); }
    int volume() override { return manager.volume(); }
    void setVolume(int v) override { manager.setVolume(v); }
    void setSentenceSubtitle(const QString& t) override { manager.setSentenceSubtitle(t); }
    void setTranslationSubtitle(const QString& t) override { manager.setTranslationSubtitle(t); }
    void setSubtitlesVisible(bool v) override { manager.setSubtitlesVisible(v); }
    void setPlayerSubtitlesVisible(bool v) override { manager.setPlayerSubtitlesVisible(v); }
};

struct Figures {
    std::vector<double> end, start, highlight;
    int endsByStop = 0; // of the end figures, those taken at the player's own stop
    // The playing speed at each end and start figure.
    std::vector<double> endSpeed, startSpeed;
};

// The repetition plan of the "plan" mode.
const PracticeController::RepetitionPlan benchPlan{{0.75, 1.0, 1.25}, 0.25};

struct Article {
    QString media;
    QList<int> starts;
    bool video = false;
};

// One practice session on the real player, with a stand-in page and learner
// that answer the way the sample pages do.
class Session {
public:
    Session(const Article& article, const QString& mode, double speed,
            const PracticeController::RepetitionPlan& plan = {})
        : article(article), mode(mode), speed(speed), plan(plan) {
        controller.setPage(&page);
        controller.createPlayer = [this] {
            auto p = std::make_unique<MeasuringPlayer>();
            player = p.get();
            QWidget* widget = player->playerWidget();
            widget->resize(640, 360);
            auto* m = &player->manager;
            QObject::connect(m, &ObDataBase::PlayManager::positionChanged, &controller,
                             [this](qlonglong s) { controller.positionChanged(s); });
            QObject::connect(m, &ObDataBase::PlayManager::durationChanged, &controller,
                             [this](qlonglong s) { controller.durationChanged(s); });
            QObject::connect(m, &ObDataBase::PlayManager::mediaStatusChanged, &controller,
                             [this](ObDataBase::PlayManager::MediaStatus s) { controller.mediaStatusChanged(int(s)); });
            QObject::connect(m, &ObDataBase::PlayManager::exactPositionChanged, &controller, [this](double s) {
                estimate.report(s);
                if (qEnvironmentVariableIsSet("BENCH_TRACE"))
                    std::fprintf(stderr, "REPORT %.4f paused=%d ctl=%.4f due=%d wall=%lld\n", s,
                                 int(player->manager.isPaused()), controller.exactPosition(),
                                 controller.boundaryDueMs(), QDateTime::currentMSecsSinceEpoch() % 100000);
                // The first report of the player's own after the seek: for audio
                // seeked while paused that is the first once it plays (paused, the
                // landing is reported as the target itself); video reports its frame.
                if (awaitingStart && (this->article.video || !player->manager.isPaused())) {
                    awaitingStart = false;
                    if (positioned) {
                        figures.start.push_back((s - startTarget) * 1000.0);
                        figures.startSpeed.push_back(player->timeline()->speed());
                    }
                }
            });
            QObject::connect(m, &ObDataBase::PlayManager::speedChanged, &controller,
                             [this](double s) { estimate.setRate(s); });
            QObject::connect(m, &ObDataBase::PlayManager::pausedChanged, &controller,
                             [this](bool p) { estimate.setPaused(p); });
            // Connected before the practice is: the stop is measured before the practice acts on it.
            QObject::connect(m->timeline(), &PlayerTimeline::stopReached, &controller, [this] {
                if (positioned)
                    sentenceEnded(player->timeline()->position(), true);
            });
            QObject::connect(m->timeline(), &PlayerTimeline::pauseRequested, &controller, [this] { acted(); });
            QObject::connect(m->timeline(), &PlayerTimeline::seekRequested, &controller, [this](double target) {
                if (qEnvironmentVariableIsSet("BENCH_TRACE"))
                    std::fprintf(stderr, "SEEK %.4f\n", target);
                acted();
                estimate.reset();
                const bool sentenceStart = std::any_of(this->article.starts.begin(), this->article.starts.end(),
                                                       [&](int ms) { return std::abs(ms / 1000.0 - target) < 0.0005; });
                awaitingStart = sentenceStart && positioned;
                startTarget = target;
            });
            return std::unique_ptr<PracticePlayer>(std::move(p));
        };
    }

    Figures run(int ends, int highlights) {
        PageScript::setRecorder([this](const PageScript::Call& call) {
            answer(call.snippet);
            return QVariant();
        });
        controller.setMode(mode == "dictation"  ? PracticeController::Mode::Dictation
                           : mode == "fillword" ? PracticeController::Mode::Fillword
                                                : PracticeController::Mode::Read);
        controller.setRepeat(mode == "loop" ? PracticeController::Repeat::Sentence : PracticeController::Repeat::Once);
        controller.setDictationHearings(3);
        controller.setRepetitionPlan(plan);
        controller.initPlay(article.media, "local", article.starts, article.video ? "4" : "audio");
        if (article.video)
            player->playerWidget()->show();
        QElapsedTimer limit;
        limit.start();
        QTimer wake; // sleeps in the event loop instead of polling, so the bench adds no load
        wake.start(50);
        while ((int(figures.end.size()) < ends || int(figures.highlight.size()) < highlights) &&
               limit.elapsed() < 240000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (limit.elapsed() >= 240000)
            std::fprintf(stderr, "%s: gave up after 240 s\n", qPrintable(mode));
        PageScript::setRecorder(nullptr);
        controller.cancelPlay();
        return figures;
    }

private:
    // The stand-in page and learner.
    void answer(const QString& snippet) {
        if (qEnvironmentVariableIsSet("BENCH_TRACE") && !snippet.startsWith("media.setPlaying"))
            std::fprintf(stderr, "TRACE %.3f ctl=%.3f due=%d %s idx=%d\n", estimate.now(), controller.exactPosition(),
                         controller.boundaryDueMs(), qPrintable(snippet), controller.currentIndex());
        if (snippet == "media.play(0);" || snippet == "media.play();") {
            if (!positioned) {
                positioned = true;
                if (plan.isEmpty())
                    player->manager.setSpeed(speed);
                else
                    controller.setSpeed(speed); // the speed after the plan

                startSentence(firstSentence());
                return;
            }
            controller.play(0);
        } else if (snippet == "media.pause();") {
            controller.pause();
            if (mode == "dictation") // heard three times: the learner types it and goes on
                later([this] { startSentence(nextSentence(controller.currentIndex())); });
            else if (mode == "fillword" && controller.currentIndex() >= article.starts.size() - 1)
                later([this] { startSentence(0); }); // the end of the media: once more
        } else if (snippet == "media.setFillwordState(true);") {
            later([this] { controller.fillwordSuccessAction(); });
        } else if (snippet.startsWith("media.highlight('") && positioned) {
            // A sentence's highlight; the last sentence's repeats on the whole-second reports are not.
            const int index = snippet.mid(17).section(QLatin1Char('\''), 0, 0).toInt();
            const double at = estimate.now();
            if (index >= 1 && index < article.starts.size() && at >= 0 && index != highlighted)
                figures.highlight.push_back((at - article.starts.at(index) / 1000.0) * 1000.0);
            highlighted = index;
        } else if (snippet == "media.playEnd();" || snippet == "media.next();") {
            later([this] { startSentence(0); }); // once more from the start
        }
    }

    int firstSentence() const { return mode == "reading" || mode == "fillword" ? 0 : 1; }
    int nextSentence(int i) const { return i + 1 < article.starts.size() - 1 ? i + 1 : 1; }

    void startSentence(int i) {
        if (mode == "dictation") {
            controller.setDictationIndex(i);
            controller.play(0);
        } else if (mode == "fillword") {
            controller.setFillwordIndex(i);
            controller.play(0);
        } else {
            controller.setPlayIndex(i);
            controller.play(std::max(1, article.starts.at(i)));
        }
    }

    void later(std::function<void()> f) { QTimer::singleShot(learnerMs, &controller, std::move(f)); }

    // The practice paused the player or sent it back. Already paused, the sound
    // had ended before (the player's own stop, measured there).
    void acted() {
        if (!positioned || player->manager.isPaused())
            return;
        const double at = estimate.now();
        if (at >= 0)
            sentenceEnded(at, false);
    }

    // The sound ended at `at`: how far past the sentence end is that?
    void sentenceEnded(double at, bool byStop) {
        const int i = controller.currentIndex();
        if (i < -1 || i + 1 >= article.starts.size())
            return;
        const double end = article.starts.at(i + 1) / 1000.0;
        // One sentence end brings a pause and a seek: count it once.
        if (lastEnd.isValid() && lastEnd.elapsed() < 200)
            return;
        if (at > end - 0.5 && at < end + 1.5) {
            lastEnd.restart();
            figures.end.push_back((at - end) * 1000.0);
            figures.endsByStop += byStop;
            figures.endSpeed.push_back(player->timeline()->speed());
            // With a plan the learner loops a sentence for the plan's hearings,
            // then picks the next one (during the pause after the last).
            if (mode == "loop" && !plan.isEmpty() && figures.end.size() % plan.speeds.size() == 0)
                later([this] { startSentence(nextSentence(controller.currentIndex())); });
        }
    }

    const Article article;
    const QString mode;
    const double speed;
    const PracticeController::RepetitionPlan plan;
    PageFrames frames;
    PracticePageScript page{frames};
    PracticeController controller;
    MeasuringPlayer* player = nullptr;
    PositionEstimate estimate;
    Figures figures;
    bool positioned = false;
    bool awaitingStart = false;
    int highlighted = 0;
    double startTarget = 0;
    QElapsedTimer lastEnd;
};

void result(const char* mode, const char* media, double speed, const char* edge, std::vector<double> v) {
    if (v.empty()) {
        std::printf("RESULT mode=%s media=%s speed=%.2f edge=%s n=0 median_ms=nan max_abs_ms=nan\n", mode, media, speed,
                    edge);
        return;
    }
    std::sort(v.begin(), v.end());
    const double median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    double maxAbs = 0;
    for (double x : v)
        maxAbs = std::max(maxAbs, std::abs(x));
    std::printf("RESULT mode=%s media=%s speed=%.2f edge=%s n=%zu median_ms=%.1f max_abs_ms=%.1f\n", mode, media, speed,
                edge, v.size(), median, maxAbs);
    std::fflush(stdout);
}

// On stderr: how many sentence ends the player's own stop made (the rest, the practice's pause or seek).
void endsByStop(const char* mode, const char* media, double speed, const Figures& f) {
    std::fprintf(stderr, "ENDS mode=%s media=%s speed=%.2f by_stop=%d of=%zu\n", mode, media, speed, f.endsByStop,
                 f.end.size());
}

// A plan's figures, by the speed each was taken at.
void planResults(const char* mode, const char* media, const Figures& f) {
    endsByStop(mode, media, 1.0, f);
    for (double speed : benchPlan.speeds) {
        std::vector<double> end, start;
        for (size_t i = 0; i < f.end.size(); ++i)
            if (std::abs(f.endSpeed[i] - speed) < 0.001)
                end.push_back(f.end[i]);
        for (size_t i = 0; i < f.start.size(); ++i)
            if (std::abs(f.startSpeed[i] - speed) < 0.001)
                start.push_back(f.start[i]);
        if (end.empty() && start.empty())
            continue; // a speed a hearing of the plan never plays at
        result(mode, media, speed, "end", end);
        result(mode, media, speed, "start", start);
    }
}

Article article(const QString& content, const QString& id, const QString& suffix, bool video) {
    Article a;
    QFile sentences(content + "/sentence/" + id + ".json");
    if (!sentences.open(QIODevice::ReadOnly))
        return a;
    for (const QJsonValue& s : QJsonDocument::fromJson(sentences.readAll()).object().value("sentences").toArray())
        a.starts << s.toObject().value("start").toInt();
    a.media = content + "/files/media/" + id + suffix;
    a.video = video;
    return a;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const QString content =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QCoreApplication::applicationDirPath() + "/../service/content";
    const Article audio = article(content, "7a1e2b3c-4d5e-4f60-8a9b-000000000101", ".mp3", false);
    const Article video = article(content, "7a1e2b3c-4d5e-4f60-8a9b-000000000202", ".mp4", true);
    if (audio.starts.size() < 4 || video.starts.size() < 4 || !QFile::exists(audio.media) ||
        !QFile::exists(video.media)) {
        std::fprintf(stderr, "no sample content at %s\n", qPrintable(content));
        return 1;
    }

    QStringList modes = QCoreApplication::arguments().mid(2);
    if (!modes.contains("audio") && !modes.contains("video"))
        modes << "audio"
              << "video";
    const QStringList allModes{"loop", "dictation", "fillword", "reading", "plan"};
    if (std::none_of(allModes.begin(), allModes.end(), [&](const QString& m) { return modes.contains(m); }))
        modes << allModes;
    for (const auto& [media, a] : {std::pair{"audio", audio}, std::pair{"video", video}}) {
        if (!modes.contains(media))
            continue;
        for (double speed : {1.0, otherSpeed}) {
            if (modes.contains("loop")) {
                const Figures loop = Session(a, "loop", speed).run(9, 0);
                result("loop", media, speed, "end", loop.end);
                endsByStop("loop", media, speed, loop);
                result("loop", media, speed, "start", loop.start);
            }
            if (modes.contains("dictation")) {
                const Figures dictation = Session(a, "dictation", speed).run(9, 0);
                result("dictation", media, speed, "end", dictation.end);
                endsByStop("dictation", media, speed, dictation);
                result("dictation", media, speed, "start", dictation.start);
            }
            if (modes.contains("fillword")) {
                const Figures fillword = Session(a, "fillword", speed).run(2 * (a.starts.size() - 1), 0);
                result("fillword", media, speed, "end", fillword.end);
                endsByStop("fillword", media, speed, fillword);
            }
            if (modes.contains("reading")) {
                const Figures reading = Session(a, "reading", speed).run(0, 2 * (a.starts.size() - 1));
                result("reading", media, speed, "highlight", reading.highlight);
            }
            if (modes.contains("plan") && speed == 1.0) {
                // Three hearings of each sentence, in dictation and in the loop.
                planResults("plan-dictation", media, Session(a, "dictation", speed, benchPlan).run(12, 0));
                planResults("plan-loop", media, Session(a, "loop", speed, benchPlan).run(12, 0));
            }
        }
    }
    return 0;
}
