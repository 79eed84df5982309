// How far past a sentence's true end (the next sentence's start time) the
// player is when the practice controller pauses it or sends it back, on real
// playback of a sample article, in loop and dictation modes. The figure is the
// baseline for a later precision goal.
//
// Usage (needs an X display and an audio output, as the tests do):
//   xvfb-run -a build/bench/bench_overshoot [content-dir]
#include "bridge/pagescript.h"
#include "playback/playmanager.h"
#include "playback/practicecontroller.h"
#include "player/mpvwidget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <clocale>
#include <cstdio>
#include <vector>

namespace {

// Forwards to the real player and notes where the player really stands (asked
// of libmpv, not the throttled report) whenever the controller pauses it or
// sends it back.
class MeasuringPlayer : public PracticePlayer {
public:
    ObDataBase::PlayManager manager{nullptr};
    std::function<void(double)> acted;

    QWidget* playerWidget() override { return manager.playerWidget(); }
    void loadMedia(const QString& s) override { manager.loadMedia(s); }
    void play() override { manager.play(); }
    void setPaused(bool p) override {
        if (p)
            note();
        manager.setPaused(p);
    }
    bool isPaused() const override { return manager.isPaused(); }
    void seekToIfNonNegative(double s) override {
        note();
        manager.seekToIfNonNegative(s);
    }
    double speed() override { return manager.speed(); }
    void setSpeed(double s) override { manager.setSpeed(s); }
    int volume() override { return manager.volume(); }
    void setVolume(int v) override { manager.setVolume(v); }
    void setSentenceSubtitle(const QString& t) override { manager.setSentenceSubtitle(t); }
    void setTranslationSubtitle(const QString& t) override { manager.setTranslationSubtitle(t); }
    void setSubtitlesVisible(bool v) override { manager.setSubtitlesVisible(v); }

private:
    void note() {
        if (acted)
            acted(manager.videoWidget()->getPropertyBlocking("time-pos").toDouble());
    }
};

struct Figures {
    std::vector<double> overshootMs;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Plays `sentence` of the article in `mode` until `events` sentence ends were seen.
Figures measure(const QString& audio, const QList<int>& starts, const QString& mode, int sentence, int events) {
    PracticePageScript page;
    PracticeController controller;
    controller.setPage(&page);
    MeasuringPlayer* player = nullptr;
    Figures figures;
    QElapsedTimer lastAction;
    double lastPosition = -1;
    const double trueEnd = starts.at(sentence + 1) / 1000.0;
    bool positioned = false;

    controller.createPlayer = [&] {
        auto p = std::make_unique<MeasuringPlayer>();
        player = p.get();
        player->playerWidget();
        QObject::connect(&player->manager, &ObDataBase::PlayManager::positionChanged, &controller,
                         [&](qlonglong s) { controller.positionChanged(s); });
        QObject::connect(&player->manager, &ObDataBase::PlayManager::durationChanged, &controller,
                         [&](qlonglong s) { controller.durationChanged(s); });
        QObject::connect(&player->manager, &ObDataBase::PlayManager::mediaStatusChanged, &controller,
                         [&](ObDataBase::PlayManager::MediaStatus s) { controller.mediaStatusChanged(int(s)); });
        player->acted = [&](double position) {
            // One sentence end can bring a pause and a seek in the same turn: count it once.
            // A paused player sent back after the dictation gap stands where it was paused.
            if (!positioned || (lastAction.isValid() && lastAction.elapsed() < 500) ||
                std::abs(position - lastPosition) < 0.02)
                return;
            lastAction.restart();
            lastPosition = position;
            if (position > trueEnd - 0.5)
                figures.overshootMs.push_back((position - trueEnd) * 1000.0);
        };
        return std::unique_ptr<PracticePlayer>(std::move(p));
    };
    // A stand-in page: it starts the sentence once loaded and answers play and pause.
    PageScript::setRecorder([&](const PageScript::Call& call) {
        if (call.snippet == "media.play(0);") {
            if (!positioned) {
                positioned = true;
                controller.setDictationIndex(sentence);
            }
            controller.play(0);
        } else if (call.snippet == "media.pause();") {
            controller.pause();
            QTimer::singleShot(300, [&] { controller.play(0); }); // the learner goes on
        }
        return QVariant();
    });

    controller.mode = mode;
    controller.repeatState = mode == "read" ? "repeatSen" : "";
    controller.playRepeatTimes = "3";
    controller.initPlay(audio, "local", starts, "audio");
    controller.currentIndex = sentence;
    QElapsedTimer limit;
    limit.start();
    while (int(figures.overshootMs.size()) < events && limit.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    PageScript::setRecorder(nullptr);
    controller.cancelPlay();
    return figures;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const QString content =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QCoreApplication::applicationDirPath() + "/../service/content";
    const QString id = "7a1e2b3c-4d5e-4f60-8a9b-000000000101";
    QFile sentences(content + "/sentence/" + id + ".json");
    if (!sentences.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "no sample content at %s\n", qPrintable(content));
        return 1;
    }
    QList<int> starts;
    for (const QJsonValue& s : QJsonDocument::fromJson(sentences.readAll()).object().value("sentences").toArray())
        starts << s.toObject().value("start").toInt();
    const QString audio = content + "/files/media/" + id + ".mp3";

    std::printf("sentence-end overshoot on real playback (time past the next sentence's start\n"
                "when the player is paused or sent back), article %s\n",
                qPrintable(id));
    for (const QString& mode : {QStringLiteral("read"), QStringLiteral("dictation")}) {
        std::vector<double> all;
        for (int sentence : {0, 1, 2}) {
            const Figures f = measure(audio, starts, mode, sentence, 3);
            all.insert(all.end(), f.overshootMs.begin(), f.overshootMs.end());
        }
        const char* label = mode == "read" ? "loop (repeatSen)" : "dictation (3 plays)";
        if (all.empty()) {
            std::printf("  %-20s no sentence end observed (is there an audio output?)\n", label);
            continue;
        }
        std::printf("  %-20s n=%2zu  median %7.1f ms  max %7.1f ms\n", label, all.size(), median(all),
                    *std::max_element(all.begin(), all.end()));
    }
    return 0;
}
