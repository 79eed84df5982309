// A learner's whole journey through the real main window, the real pages and
// the bundled sample service: online practice with real speech, downloads,
// offline practice from the store, video, and settings that survive a restart.
// Each step builds on the one before, as a learner's session does. Screenshots
// of the main stages go to journey-screenshots/ in the working directory.
#include "app/application.h"
#include "app/mainwindow.h"
#include "app/paragraph.h"
#include "app/proxydialog.h"
#include "app/setdialog.h"
#include "app/webview.h"
#include "bridge/pagescript.h"
#include "bridge/webapi.h"
#include "core/logging.h"
#include "core/settings.h"
#include "desktop/desktop.h"
#include "playback/playmanager.h"
#include "playback/practicecontroller.h"
#include "player/mpvwidget.h"
#include "support/media.h"
#include "support/playerclock.h"
#include "support/sampleservice.h"
#include "support/testsupport.h"
#include "support/virtualmicrophone.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <QTimer>
#include <QWebFrame>

using PageScript::Page;
using TestSupport::SampleService;

namespace {

// From the sample catalogue: two audio articles (the service names the first's
// media in a JSON answer and redirects for the second) and the video article.
const QString audioArticle = "7a1e2b3c-4d5e-4f60-8a9b-000000000101";
const QString secondArticle = "7a1e2b3c-4d5e-4f60-8a9b-000000000102";
const QString videoArticle = "7a1e2b3c-4d5e-4f60-8a9b-000000000202";

struct Sentence {
    int startMs;
    QString text;
};

QList<Sentence> sampleSentences(const QString& id) {
    const QByteArray json = TestSupport::fileBytes(SampleService::contentDirectory() + "/sentence/" + id + ".json");
    QList<Sentence> out;
    for (const QJsonValue& s : QJsonDocument::fromJson(json).object().value("sentences").toArray())
        out << Sentence{s.toObject().value("start").toInt(), s.toObject().value("text").toString()};
    return out;
}

QList<int> startTimes(const QList<Sentence>& sentences) {
    QList<int> starts;
    for (const Sentence& s : sentences)
        starts << s.startMs;
    return starts;
}

QString card(const QString& id) {
    return QStringLiteral(".article-card[data-id=\"%1\"]").arg(id);
}

QString downloadRow(const QString& id) {
    return QStringLiteral(".download-row[data-id=\"%1\"]").arg(id);
}

// One snippet a page received, with where the player stood at that moment.
struct Heard {
    Page page;
    QString snippet;
    double playerSeconds;
    qint64 elapsedMs;
};

// The share of a grab that the picture covers (the sample video is a coloured
// card edge to edge; what it leaves is the black of an empty frame).
double pictureShare(const QImage& image) {
    const int samples = ((image.width() + 1) / 2) * ((image.height() + 1) / 2);
    return samples ? double(TestSupport::colouredPixels(image)) / samples : 0.0;
}

QString shotDirectory() {
    return QDir::currentPath() + QStringLiteral("/journey-screenshots");
}

} // namespace

class TestJourney : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void startLoadsPagesAndCatalogue();
    void readingHighlightsFollowTheSpeech();
    void dictationPlaysTheSentenceThreeTimes();
    void fillwordStopsAtTheSentenceEnd();
    void loopRepeatsOneSentence();
    void shadowingScoresTheSentenceSaidBack();
    void desktopParagraphShowsTheSentence();
    void twoArticlesDownload();
    void restartListsTheDownloads();
    void localArticlePlaysFromTheStore();
    void exportAndDelete();
    void videoOverThePageAndFullScreen();
    void settingsSurviveARestart();
    void ownFileDictationAndResume();
    void keepReviewRestartExport();
    void ownFileTimesFitTheSpeech();
    void tokenNeverWentInClearText();

private:
    void startWindow();
    void restart();
    QVariant js(const QString& script, Page page = Page::Main) const;
    void click(const QString& selector) const;
    void shot(const QString& name) const;
    ObDataBase::PlayManager* player() const;
    PracticeController* practice() const { return window->bridge()->practice(); }
    double playerSeconds() const;
    bool heardSnippet(const QString& snippet) const;
    QList<Heard> heardStartingWith(const QString& prefix) const;
    // Every exact position the player reports from now on, into `exact`.
    void followExactPositions();

    SampleService service;
    std::unique_ptr<TestSupport::ScriptRecorder> recorder;
    MainWindow* window = nullptr;
    QElapsedTimer clock;
    QList<Heard> heard;
    QList<Sentence> sentences; // of the audio article
    // Where the player stands, from its exact reports (the player it follows may be replaced).
    mutable TestSupport::PlayerClock playerClock;
    mutable QPointer<ObDataBase::PlayManager> followed;
    QtMessageHandler previousHandler = nullptr;
    QTemporaryDir ownFiles; // the learner's own media, outside the program's directories
};

void TestJourney::initTestCase() {
    TAVROLIN_REQUIRE_AUDIO();
    QVERIFY2(service.start(), service.output().constData());
    service.exportLocation();
    QVERIFY(TestSupport::installPages(service.httpPort(), service.httpsPort()));
    QDir(shotDirectory()).removeRecursively();
    QVERIFY(QDir().mkpath(shotDirectory()));

    sentences = sampleSentences(audioArticle);
    QCOMPARE(sentences.size(), 5);

    // The program's log, as main installs it (the test framework had put its own in place).
    previousHandler = qInstallMessageHandler(Logging::messageHandler);
    clock.start();
    recorder = std::make_unique<TestSupport::ScriptRecorder>();
    recorder->answer = [this](const PageScript::Call& call) {
        heard << Heard{call.page, call.snippet, playerSeconds(), clock.elapsed()};
        return QVariant();
    };
    startWindow();
}

void TestJourney::cleanupTestCase() {
    delete window;
    window = nullptr;
    recorder.reset();
    TestSupport::deleteTopLevelWindows();
    if (previousHandler)
        qInstallMessageHandler(previousHandler);
    if (QTest::currentTestFailed() || qEnvironmentVariableIsSet("TAVROLIN_JOURNEY_LOG")) {
        const QByteArray log = TestSupport::fileBytes(Logging::logFilePath());
        fprintf(stderr, "--- application log (last 6000 bytes)\n%s\n", log.right(6000).constData());
    }
}

// As the program starts: the main window with its three pages, each with its bridge.
void TestJourney::startWindow() {
    window = new MainWindow(nullptr);
    const PageFrames& pages = window->context().pages;
    QTRY_VERIFY_WITH_TIMEOUT(pages.frame(Page::Main) && pages.frame(Page::Data) && pages.frame(Page::Paragraph), 15000);
    // The index page reports itself after the full synchronisation; then it has the download state.
    QTRY_VERIFY_WITH_TIMEOUT(recorder->snippets(Page::Main).join('\n').contains("setData('downloadState'"), 15000);
}

// Quitting is closing the main window and ending the event loop; the test has
// no event loop to end (ending one would refuse every later modal dialog).
void TestJourney::restart() {
    recorder->clear();
    QVERIFY(window->close());
    MainWindow* old = window;
    window = nullptr;
    delete old;
    TestSupport::deleteTopLevelWindows(); // what the end of the process would take along
    startWindow();
}

QVariant TestJourney::js(const QString& script, Page page) const {
    const PageFrames& pages = window->context().pages;
    return pages.evaluate(pages.frame(page), script);
}

void TestJourney::click(const QString& selector) const {
    QVERIFY2(
        js(QStringLiteral("var e = document.querySelector('%1'); if (e) { e.click(); } !!e").arg(selector)).toBool(),
        qPrintable(selector));
}

void TestJourney::shot(const QString& name) const {
    QCoreApplication::processEvents();
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    QVERIFY(screen.save(shotDirectory() + "/" + name + ".png"));
}

ObDataBase::PlayManager* TestJourney::player() const {
    if (!window || !window->bridge() || !window->bridge()->practice())
        return nullptr;
    return static_cast<ObDataBase::PlayManager*>(window->bridge()->practice()->player());
}

double TestJourney::playerSeconds() const {
    ObDataBase::PlayManager* p = player();
    if (!p)
        return -1;
    if (p != followed) {
        followed = p;
        playerClock.follow(p);
    }
    const double now = playerClock.now();
    return now >= 0 ? now : p->position();
}

bool TestJourney::heardSnippet(const QString& snippet) const {
    return std::any_of(heard.begin(), heard.end(), [&](const Heard& h) { return h.snippet == snippet; });
}

QList<Heard> TestJourney::heardStartingWith(const QString& prefix) const {
    QList<Heard> out;
    for (const Heard& h : heard)
        if (h.page == Page::Main && h.snippet.startsWith(prefix))
            out << h;
    return out;
}

void TestJourney::followExactPositions() {
    playerSeconds(); // follows the current player
    playerClock.reports.clear();
}

// The player may pass a sentence's end by this much before it is paused or sent
// back (the benchmark carries the tight figure).
constexpr double boundaryBound = 0.15;

void TestJourney::startLoadsPagesAndCatalogue() {
    // The bridges are published into their pages.
    QCOMPARE(js("typeof WebApi").toString(), QString("object"));
    QCOMPARE(js("typeof ListenApi", Page::Data).toString(), QString("object"));
    QCOMPARE(js("typeof ParagraphApi", Page::Paragraph).toString(), QString("object"));
    // The stored (here: default) reading settings reach the main page and are applied.
    QVERIFY(recorder->snippets(Page::Main)
                .contains("setSet('Medium', 'Normal', 'on', 'close', 'highlight', 'Arial', 'justify');"));
    QCOMPARE(js("document.body.style.fontSize").toString(), QString("15px"));
    QTRY_VERIFY(recorder->snippets(Page::Paragraph).contains("paragraph.setLang('de');"));
    // The catalogue comes from the sample service through signed requests.
    QTRY_COMPARE_WITH_TIMEOUT(js("document.querySelectorAll('.article-card').length").toInt(), 5, 15000);
    QCOMPARE(js("document.querySelector('" + card(videoArticle) + " .badge').textContent").toString(),
             QString("▶ Video"));
    QVERIFY(TestSupport::fileBytes(Logging::logFilePath()).contains("page loaded: index"));
    QCOMPARE(window->windowTitle(), QString("Tavrolin"));
    shot("01-catalogue");
    // Signed in, as a learner is: from now on the service's token cookie signs every request.
    js("document.getElementById('userName').value = 'Lena'; document.getElementById('signInBtn').click();");
    QTRY_VERIFY_WITH_TIMEOUT(js("document.getElementById('greeting').textContent").toString().contains("Lena"), 10000);
}

void TestJourney::readingHighlightsFollowTheSpeech() {
    heard.clear();
    click(card(audioArticle) + " .btn.primary");
    QTRY_COMPARE_WITH_TIMEOUT(practice()->sentences().starts(), startTimes(sentences), 15000);
    // Loading starts playback; the highlights follow the speech.
    QTRY_VERIFY_WITH_TIMEOUT(heardSnippet("media.highlight('2');"), 20000);
    QList<Heard> highlights;
    for (const Heard& h : heardStartingWith("media.highlight('"))
        if (h.snippet != "media.highlight('0');")
            highlights << h;
    QCOMPARE(highlights.size(), 2);
    for (int i = 1; i <= 2; ++i) {
        const Heard& h = highlights.at(i - 1);
        QCOMPARE(h.snippet, QString("media.highlight('%1');").arg(i));
        const double start = sentences.at(i).startMs / 1000.0;
        QVERIFY2(
            qAbs(h.playerSeconds - start) <= boundaryBound,
            qPrintable(
                QString("sentence %1 starts at %2 s, highlighted at %3 s").arg(i).arg(start).arg(h.playerSeconds)));
    }
    QCOMPARE(js("document.querySelector('.sentence.current').getAttribute('data-index')").toString(), QString("2"));
    QVERIFY(!player()->isPaused());
    shot("02-reading");
}

void TestJourney::dictationPlaysTheSentenceThreeTimes() {
    click("#pModes [data-mode=\"dictation\"]");
    QCOMPARE(practice()->mode(), PracticeController::Mode::Dictation);
    heard.clear();
    click("li.sentence[data-index=\"0\"]"); // the learner starts with the first sentence
    QCOMPARE(practice()->currentIndex(), 0);
    followExactPositions();
    QTRY_VERIFY_WITH_TIMEOUT(heardSnippet("article.setPlayTimes('0', '0');"), 30000);
    // Never into the next sentence before the pause or the replay.
    const QList<double>& exact = playerClock.reports;
    QVERIFY(exact.size() > 50);
    const double furthest = *std::max_element(exact.begin(), exact.end());
    QVERIFY2(furthest <= sentences.at(1).startMs / 1000.0 + boundaryBound,
             qPrintable(QString("played to %1 s, the next sentence starts at %2 s")
                            .arg(furthest)
                            .arg(sentences.at(1).startMs / 1000.0)));

    QStringList counts;
    for (const Heard& h : heardStartingWith("article.setPlayTimes("))
        counts << h.snippet;
    QCOMPARE(counts, (QStringList{"article.setPlayTimes('0', '1');", "article.setPlayTimes('0', '2');",
                                  "article.setPlayTimes('0', '0');"}));
    // Heard three times: two more hearings and one gap lie between the first count
    // (sent as the first gap ends) and the last.
    const QList<Heard> c = heardStartingWith("article.setPlayTimes(");
    const double between = (c.last().elapsedMs - c.first().elapsedMs) / 1000.0;
    const double sentence = sentences.at(1).startMs / 1000.0;
    QVERIFY2(between >= 2 * sentence + 1.5 - 0.2 && between <= 2 * sentence + 6.0,
             qPrintable(QString("%1 s between the first and the third count").arg(between)));
    // Then the page is told to pause, and the player waits at the sentence start.
    QCOMPARE(heardStartingWith("media.pause();").size(), 1);
    QTRY_VERIFY(player()->isPaused());
    QTRY_VERIFY(playerSeconds() < 0.6);
    QCOMPARE(js("document.getElementById('pTimes').textContent").toString(), QString("Jetzt eintippen"));
    shot("03-dictation");

    // The learner types the sentence; the page moves on to the next one.
    js(QStringLiteral("document.getElementById('pAnswer').value = '%1'; document.getElementById('pCheck').click();")
           .arg(sentences.at(0).text));
    QCOMPARE(practice()->currentIndex(), 1);
    QVERIFY(js("document.querySelector('li.sentence[data-index=\"0\"]').className").toString().contains("done"));
}

void TestJourney::fillwordStopsAtTheSentenceEnd() {
    heard.clear();
    click("#pModes [data-mode=\"fillword\"]");
    QCOMPARE(practice()->mode(), PracticeController::Mode::Fillword);
    QCOMPARE(practice()->currentIndex(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(heardSnippet("media.setFillwordState(true);"), 15000);
    const Heard stop = heardStartingWith("media.setFillwordState(true);").first();
    QTRY_VERIFY(player()->isPaused());
    const double end = sentences.at(2).startMs / 1000.0;
    QVERIFY2(qAbs(stop.playerSeconds - end) <= boundaryBound,
             qPrintable(QString("sentence ends at %1 s, stopped at %2 s").arg(end).arg(stop.playerSeconds)));
    QTRY_VERIFY(js("Practice.fillwordWaiting").toBool());

    // The missing word: playback continues with the next sentence.
    heard.clear();
    js("document.getElementById('pAnswer').value = Practice.gapWord(Practice.sentences[1].text);"
       "document.getElementById('pCheck').click();");
    QVERIFY(heardSnippet("article.initIndex('2', 'fillword');"));
    QCOMPARE(practice()->currentIndex(), 2);
    QTRY_VERIFY(!player()->isPaused());
    const double at = playerSeconds();
    QTRY_VERIFY_WITH_TIMEOUT(playerSeconds() > at + 0.5, 5000);
}

void TestJourney::loopRepeatsOneSentence() {
    click("#pModes [data-mode=\"read\"]");
    QCOMPARE(practice()->mode(), PracticeController::Mode::Read);
    click("#pRepeat");
    QCOMPARE(practice()->repeat(), PracticeController::Repeat::Sentence);
    click("li.sentence[data-index=\"3\"]");
    followExactPositions(); // from the landing of the seek on
    const double start = sentences.at(3).startMs / 1000.0;
    const double next = sentences.at(4).startMs / 1000.0;

    // Over a little more than two lengths of the sentence the player stays in it
    // (never into the next one) and jumps back at least once.
    QTest::qWait(int((next - start) * 1000 * 2.2));
    const QList<double>& exact = playerClock.reports;
    QVERIFY(exact.size() > 50);
    int jumpsBack = 0;
    for (int i = 1; i < exact.size(); ++i)
        jumpsBack += exact.at(i) < exact.at(i - 1) - 0.5;
    QVERIFY2(jumpsBack >= 1, "the sentence was not repeated");
    for (double s : exact)
        QVERIFY2(s >= start - boundaryBound && s <= next + boundaryBound,
                 qPrintable(QString("left the sentence %1 s to %2 s: at %3 s").arg(start).arg(next).arg(s)));

    // Back to playing once.
    for (int i = 0; i < 3; ++i)
        click("#pRepeat");
    QCOMPARE(practice()->repeat(), PracticeController::Repeat::Once);
}

void TestJourney::shadowingScoresTheSentenceSaidBack() {
    // The learner's voice: the article's sentence 3 itself, cut from its media, said into a virtual microphone.
    const int index = 3;
    const QString voice = ownFiles.filePath("satz.wav");
    QProcess cut;
    cut.start("ffmpeg", {"-loglevel", "error", "-y", "-i",
                         SampleService::contentDirectory() + "/files/media/" + audioArticle + ".mp3", "-ss",
                         QString::number(sentences.at(index).startMs / 1000.0), "-to",
                         QString::number(sentences.at(index + 1).startMs / 1000.0), "-ac", "1", voice});
    QVERIFY(cut.waitForFinished(30000) && cut.exitCode() == 0);
    VirtualMicrophone microphone;
    QVERIFY(microphone.isReady());
    std::unique_ptr<QProcess> saying;

    click("li.sentence[data-index=\"3\"]");
    heard.clear();
    click("#pModes [data-mode=\"shadowing\"]");
    QCOMPARE(practice()->mode(), PracticeController::Mode::Shadowing);
    // The sentence plays; at its end the page asks the learner to speak.
    QTRY_VERIFY_WITH_TIMEOUT(heardSnippet("if(window.shadowing){shadowing.state('recording');}"), 20000);
    QCOMPARE(js("document.getElementById('shStatus').textContent").toString(),
             QString("Jetzt nachsprechen! (Leertaste beendet die Aufnahme)"));
    shot("12-shadowing-recording");
    saying.reset(microphone.say(voice));
    QTRY_VERIFY_WITH_TIMEOUT(heardSnippet("if(window.shadowing){shadowing.state('done');}"), 30000);
    // The score with its parts, both voices drawn, the attempt listed.
    const QString total = js("document.getElementById('shTotal').textContent").toString();
    QVERIFY2(total.endsWith(" Punkte") && total.section(' ', 0, 0).toInt() >= 90, qPrintable(total));
    QCOMPARE(js("document.querySelectorAll('#shParts .shadow-part').length").toInt(), 3);
    QVERIFY(js("document.getElementById('shWave').width").toInt() > 300);
    QCOMPARE(js("document.querySelectorAll('#shAttempts .shadow-attempt').length").toInt(), 1);
    QVERIFY(!js("document.getElementById('shMessage').textContent").toString().isEmpty());
    saying->waitForFinished(10000);
    QTest::qWait(500);
    shot("13-shadowing-result");
    // The window alone, for the user guide.
    QVERIFY(window->grab().save(shotDirectory() + "/13-shadowing-window.png"));

    click("#pModes [data-mode=\"read\"]");
    QCOMPARE(practice()->mode(), PracticeController::Mode::Read);
}

void TestJourney::desktopParagraphShowsTheSentence() {
    click("#pPlay"); // pause, so the current sentence stays put
    QTRY_VERIFY(player()->isPaused());
    Paragraph* paragraph = window->paragraphWindow();
    QVERIFY(!paragraph->isVisible());
    click("#pDesktop");
    QTRY_VERIFY(paragraph->isVisible());
    const int current = js("Practice.current").toInt();
    QVERIFY(current >= 3);
    QTRY_COMPARE(js("document.getElementById('sentence').textContent", Page::Paragraph).toString(),
                 sentences.at(current).text);
    shot("04-desktop-paragraph");
    click("#pDesktop");
    QTRY_VERIFY(!paragraph->isVisible());
    click("#pBack");
}

void TestJourney::twoArticlesDownload() {
    heard.clear();
    click(card(audioArticle) + " .dl-btn");
    click(card(secondArticle) + " .dl-btn");
    const QString finished = "if(window.downloadData){downloadData.downloadFinished('%1');}";
    QTRY_VERIFY_WITH_TIMEOUT(heardSnippet(finished.arg(audioArticle)) && heardSnippet(finished.arg(secondArticle)),
                             30000);
    for (const QString& id : {audioArticle, secondArticle}) {
        // Progress was shown for each part on the way.
        const QList<Heard> progress = heardStartingWith("if(window.downloadData && downloadData.downloadProgress)");
        QVERIFY(std::any_of(progress.begin(), progress.end(), [&](const Heard& h) { return h.snippet.contains(id); }));
        for (const char* part : {".zip", ".rar", ".bin"})
            QVERIFY2(QFileInfo(dataDirectory() + id + part).size() > 0, qPrintable(id + part));
        QTRY_VERIFY(js("document.querySelector('" + downloadRow(id) + "').textContent").toString().contains("Fertig"));
        QCOMPARE(js("document.querySelector('" + card(id) + " .dl-btn').textContent").toString(),
                 QString("Offline üben"));
    }
    js("document.getElementById('downloadsBtn').click()");
    shot("05-downloads");
}

void TestJourney::restartListsTheDownloads() {
    restart();
    QTRY_COMPARE_WITH_TIMEOUT(js("document.querySelectorAll('.download-row').length").toInt(), 2, 15000);
    for (const QString& id : {audioArticle, secondArticle})
        QVERIFY(js("document.querySelector('" + downloadRow(id) + "').textContent").toString().contains("Fertig"));
}

void TestJourney::localArticlePlaysFromTheStore() {
    heard.clear();
    click(downloadRow(audioArticle) + " .btn.primary");
    QTRY_VERIFY_WITH_TIMEOUT(window->view()->url().toString().contains("/local/local.html"), 10000);
    QVERIFY(window->view()->url().toString().contains("articleId=" + audioArticle));
    // The page read the stored article and sentence data back through the bridge.
    QTRY_COMPARE_WITH_TIMEOUT(practice()->sentences().starts(), startTimes(sentences), 15000);
    QCOMPARE(js("document.querySelectorAll('#pSentences li.sentence').length").toInt(), sentences.size());
    QCOMPARE(js("document.querySelector('#pSentences li.sentence .de').textContent").toString(), sentences.at(0).text);
    QVERIFY(js("document.getElementById('pArticleHtml').innerHTML").toString().contains("Der Wochenmarkt"));
    QCOMPARE(js("document.getElementById('pTitle').textContent").toString(), QString("Der Wochenmarkt"));
    // It plays the stored media file.
    QVERIFY2(player()->currentSource().endsWith(audioArticle + ".rar"), qPrintable(player()->currentSource()));
    QTRY_VERIFY_WITH_TIMEOUT(playerSeconds() > 1.0, 10000);
    QVERIFY(!heardStartingWith("media.highlight(").isEmpty());
    click("#articleBtn");
    shot("06-offline-article");
}

void TestJourney::exportAndDelete() {
    const QString stored = dataDirectory() + audioArticle + ".rar";
    QTemporaryDir target;
    // The learner keeps the suggested name and picks another folder.
    const QString exported = target.filePath("Der Wochenmarkt.mp3");
    QString caption;
    QString suggested;
    // The learner picks the target in the save dialog.
    QTimer answer;
    answer.setInterval(50);
    connect(&answer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        answer.stop();
        caption = dialog->windowTitle();
        suggested = dialog->selectedFiles().value(0);
        dialog->setDirectory(target.path());
        QMetaObject::invokeMethod(dialog, "accept");
    });
    answer.start();
    click("#exportBtn");
    answer.stop();
    QCOMPARE(caption, QString("保存音频文件"));
    QCOMPARE(QFileInfo(suggested).fileName(), QString("Der Wochenmarkt.mp3"));
    QVERIFY(QFileInfo::exists(exported));
    QCOMPARE(TestSupport::fileBytes(exported), TestSupport::fileBytes(stored));
    QMessageBox* info = window->bridge()->infoBox();
    QTRY_VERIFY(info->isVisible());
    QCOMPARE(info->text(), QString("文件导出成功。"));
    info->hide();

    // Back online, the learner deletes the article: its files go, the other article's stay.
    click("#pPlay"); // pause
    click("#onlineBtn");
    QTRY_VERIFY_WITH_TIMEOUT(window->view()->url().toString().contains("/static/index.html"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(js("document.querySelectorAll('.download-row').length").toInt(), 2, 15000);
    click(downloadRow(audioArticle) + " .btn:last-child");
    for (const char* part : {".zip", ".rar", ".bin"}) {
        QVERIFY(!QFileInfo::exists(dataDirectory() + audioArticle + part));
        QVERIFY(QFileInfo::exists(dataDirectory() + secondArticle + part));
    }
    QCOMPARE(js("document.querySelectorAll('.download-row').length").toInt(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(js("document.querySelector('" + card(audioArticle) + " .dl-btn').textContent").toString(),
                              QString("Herunterladen"), 15000);
}

void TestJourney::videoOverThePageAndFullScreen() {
    click("#homeBtn");
    heard.clear();
    click(card(videoArticle) + " .btn.primary");
    QTRY_VERIFY_WITH_TIMEOUT(practice()->isVideo() && player() && player()->playerWidget()->isVisible(), 15000);
    // Frames of the video go by (the reported position may still be the last file's for a moment).
    MpvWidget* engine = player()->videoWidget();
    QTRY_VERIFY_WITH_TIMEOUT(engine->getPropertyBlocking("path").toString().endsWith(videoArticle + ".mp4") &&
                                 engine->getPropertyBlocking("estimated-frame-number").toInt() >= 8,
                             15000);
    QWidget* video = player()->playerWidget();
    // The picture is drawn (the sample video is a coloured card, the idle surface black).
    QTRY_VERIFY_WITH_TIMEOUT(
        TestSupport::colouredPixels(video->grab().toImage()) > video->width() * video->height() / 8, 10000);
    const QList<QLabel*> subtitles = video->findChildren<QLabel*>();
    QCOMPARE(subtitles.size(), 2);

    // Placed exactly over the page's video frame, and the picture fills it (at any scale factor).
    auto placedOverFrame = [&] {
        const QStringList r = js("media.showVideoFrame()").toString().split(',');
        if (r.size() != 4)
            return false;
        const QRect g = video->geometry();
        return g == QRect(r[0].toInt(), r[1].toInt(), r[2].toInt(), r[3].toInt()) && g.height() > 100;
    };
    QTRY_VERIFY(placedOverFrame());
    QTRY_VERIFY2(
        pictureShare(engine->grabFramebuffer()) > 0.97,
        qPrintable(QString("the picture covers %1 of its frame").arg(pictureShare(engine->grabFramebuffer()))));
    for (QLabel* line : subtitles)
        QVERIFY(!line->isVisible());

    // Speed and volume by key while the video shows, typed as the window system delivers keys.
    window->activateWindow();
    QTRY_VERIFY(QApplication::activeWindow() == window);
    QWindow* keys = window->windowHandle();
    QTest::keyClick(keys, Qt::Key_Up, Qt::ControlModifier);
    QTRY_COMPARE(player()->speed(), 1.1);
    QTest::keyClick(keys, Qt::Key_Down, Qt::ControlModifier);
    QTRY_COMPARE(player()->speed(), 1.0);
    const int volume = player()->volume();
    QTest::keyClick(keys, Qt::Key_Down);
    QTRY_COMPARE(player()->volume(), qMax(0, volume - 5));
    QTest::keyClick(keys, Qt::Key_Up);
    QTRY_COMPARE(player()->volume(), qMin(100, qMax(0, volume - 5) + 5));
    shot("07-video");

    // Full screen covers the window and shows the subtitles; Escape leaves it.
    click("#pFull");
    QTRY_VERIFY(window->isFullScreen());
    QTRY_COMPARE(video->geometry(), QRect(0, 0, window->width(), window->height()));
    QTRY_VERIFY2(
        pictureShare(engine->grabFramebuffer()) > 0.97,
        qPrintable(QString("the picture covers %1 of the screen").arg(pictureShare(engine->grabFramebuffer()))));
    for (QLabel* line : subtitles)
        QVERIFY(line->isVisible());
    QTRY_VERIFY(!subtitles.first()->text().isEmpty());
    shot("08-video-full-screen");
    QTest::keyClick(window->windowHandle(), Qt::Key_Escape);
    QTRY_VERIFY(!window->isFullScreen());
    for (QLabel* line : subtitles)
        QVERIFY(!line->isVisible());
    QTRY_VERIFY(placedOverFrame());

    click("#pBack");
    QTRY_VERIFY(!video->isVisible());
}

void TestJourney::settingsSurviveARestart() {
    // Preferences, from the page's button.
    click("#prefsBtn");
    SetDialog* prefs = window->preferencesDialog();
    QTRY_VERIFY(prefs->isVisible());
    prefs->box("fontsize")->setCurrentIndex(ReadingChoices::fontLevels.indexOf("Large"));
    prefs->box("theme")->setCurrentIndex(ReadingChoices::themes.indexOf("Night"));
    QTest::mouseClick(prefs->findChild<QPushButton*>("okBtn"), Qt::LeftButton);
    QVERIFY(!prefs->isVisible());
    QCOMPARE(js("document.body.style.fontSize").toString(), QString("17px"));
    QVERIFY(js("document.body.className").toString().contains("theme-Night"));

    // A proxy, from the menu.
    window->findChild<QAction*>("action_Proxy")->trigger();
    ProxyDialog* proxy = window->proxyWindow();
    QTRY_VERIFY(proxy->isVisible());
    const QString proxyPort = QString::number(TestSupport::freePorts().first);
    for (const auto& [field, text] : {std::pair<const char*, QString>{"host", "127.0.0.1"}, {"port", proxyPort}}) {
        QLineEdit* edit = proxy->findChild<QLineEdit*>(field);
        edit->clear();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    QTest::mouseClick(proxy->findChild<QPushButton*>("ok"), Qt::LeftButton);
    QCOMPARE(QNetworkProxy::applicationProxy().hostName(), QString("127.0.0.1"));

    // The window where the learner left it, on the screen at any scale factor.
    const QRect screen = window->screen()->availableGeometry();
    const QRect placed(screen.x() + 70, screen.y() + 40, qMin(1100, screen.width() - 140),
                       qMax(675, qMin(740, screen.height() - 80)));
    window->setGeometry(placed);
    QTRY_COMPARE(window->geometry(), placed);
    shot("09-settings");

    restart();
    QCOMPARE(window->geometry(), placed);
    QCOMPARE(window->bridge()->readingSettings().fontLevel, QString("Large"));
    QCOMPARE(window->bridge()->readingSettings().theme, QString("Night"));
    QTRY_COMPARE(js("document.body.style.fontSize").toString(), QString("17px"));
    QVERIFY(js("document.body.className").toString().contains("theme-Night"));
    QCOMPARE(window->preferencesDialog()->box("fontsize")->currentIndex(), ReadingChoices::fontLevels.indexOf("Large"));
    QCOMPARE(window->proxyWindow()->findChild<QLineEdit*>("port")->text(), proxyPort);
    QCOMPARE(QNetworkProxy::applicationProxy().hostName(), QString("127.0.0.1"));
    QCOMPARE(QNetworkProxy::applicationProxy().port(), proxyPort.toUShort());
    window->applyProxy(QString(), QString(), QString(), QString());
}

void TestJourney::ownFileDictationAndResume() {
    // Guards against an own file that cannot be opened from the page, practised, or found again where it was left.
    QVERIFY(ownFiles.isValid());
    const QString sample = QStringLiteral(TAVROLIN_SAMPLE_MEDIA);
    const QString file = ownFiles.filePath("Am Bahnhof.mp3");
    for (const char* suffix : {".mp3", ".de.srt", ".zh.srt"})
        QVERIFY(QFile::copy(sample + "/gespraech" + suffix, ownFiles.filePath("Am Bahnhof" + QString(suffix))));
    // Back to the start page (after the reload the proxy's removal started), whose "Meine Dateien" is empty.
    recorder->clear();
    window->bridge()->gotoOnline();
    QTRY_VERIFY_WITH_TIMEOUT(recorder->snippets(Page::Main).join('\n').contains("setData('downloadState'"), 15000);
    QCOMPARE(js("document.querySelectorAll('.media-row').length").toInt(), 0);
    Desktop::setOpenFileName([file](QWidget*, const QString&, const QString&, const QString&) { return file; });
    heard.clear();
    click("#mediaOpenBtn");
    Desktop::setOpenFileName(nullptr);

    const QJsonObject item = QJsonDocument::fromJson(window->bridge()->importMedia(file).toUtf8()).object();
    const QString id = item.value("id").toString();
    QList<int> starts;
    QStringList texts;
    for (const QJsonValue& s : item.value("sentences").toArray()) {
        starts << s.toObject().value("start").toInt();
        texts << s.toObject().value("text").toString();
    }
    QCOMPARE(starts.size(), 5);
    QTRY_COMPARE_WITH_TIMEOUT(practice()->sentences().starts(), starts, 15000);
    QCOMPARE(js("document.getElementById('pTitle').textContent").toString(), QString("Am Bahnhof"));

    // Dictation, once the file plays: the learner types the first two sentences.
    QTRY_VERIFY_WITH_TIMEOUT(!heardStartingWith("media.setPlaying(").isEmpty(), 15000);
    click("#pModes [data-mode=\"dictation\"]");
    QCOMPARE(practice()->mode(), PracticeController::Mode::Dictation);
    for (int i = 0; i < 2; ++i) {
        QTRY_COMPARE(practice()->currentIndex(), i);
        QTRY_VERIFY(js("!!document.getElementById('pAnswer')").toBool());
        js(QStringLiteral("document.getElementById('pAnswer').value = '%1'; document.getElementById('pCheck').click();")
               .arg(QString(texts.at(i)).replace("'", "\\'")));
    }
    QTRY_COMPARE(practice()->currentIndex(), 2);
    auto stored = [this] {
        const QJsonArray list = QJsonDocument::fromJson(window->bridge()->mediaLibrary().toUtf8()).array();
        return list.size() == 1 ? list.at(0).toObject() : QJsonObject();
    };
    QTRY_COMPARE(stored().value("lastSentence").toInt(), 2);
    shot("10-own-file-dictation");

    // Next time: the file is in the list, and practice goes on at the third sentence.
    restart();
    QTRY_COMPARE_WITH_TIMEOUT(js("document.querySelectorAll('.media-row').length").toInt(), 1, 15000);
    QVERIFY(js("document.querySelector('.media-row .facts').textContent").toString().contains("zuletzt Satz 3"));
    heard.clear();
    click(".media-row .practise");
    QTRY_COMPARE_WITH_TIMEOUT(practice()->sentences().starts(), starts, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(js("Practice.current").toInt(), 2, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(playerSeconds() >= starts.at(2) / 1000.0 - 0.05, 10000);
    // Going on from there: the place kept is not lost to the first sentence the file starts with.
    QVERIFY(stored().value("lastSentence").toInt() >= 2);
    shot("11-own-file-resumed");
}

void TestJourney::keepReviewRestartExport() {
    // Guards against kept sentences that lose their sound, their schedule or their
    // answers on the way from practice to review, across a restart, and into the export.
    // Still practising the own file: keep the third sentence with the button, the first with the key M.
    QTRY_VERIFY_WITH_TIMEOUT(js("Practice.sentences.length").toInt() == 5, 15000);
    click("#pModes [data-mode=\"read\"]");
    js("Practice.select(2)");
    QTRY_COMPARE(practice()->currentIndex(), 2);
    click("#pKeep");
    QTRY_COMPARE(js("document.querySelectorAll('#pSentences .sentence.kept').length").toInt(), 1);
    js("Practice.select(0); document.activeElement && document.activeElement.blur && document.activeElement.blur();");
    QTRY_COMPARE(practice()->currentIndex(), 0);
    window->activateWindow();
    QWidget* view = window->findChild<WebView*>();
    QVERIFY(view);
    QTest::keyClick(view, Qt::Key_M);
    QTRY_COMPARE(js("document.querySelectorAll('#pSentences .sentence.kept').length").toInt(), 2);
    QVERIFY(js("document.getElementById('pKeep').textContent").toString().contains("Gemerkt"));
    QVERIFY(js("document.querySelector('#pSentences li[data-index=\"0\"]').classList.contains('kept')").toBool());
    QTest::qWait(300); // the view paints the marks
    shot("12-kept-sentences");

    // The start page counts them as due; the review page plays the first one's clip.
    click("#homeBtn");
    QTRY_COMPARE(js("document.getElementById('reviewBadge').textContent").toString(), QString("2"));
    click("#reviewBtn");
    QTRY_VERIFY(js("!document.getElementById('review').classList.contains('hidden')").toBool());
    QTRY_VERIFY(js("!!document.getElementById('rAnswer')").toBool());
    // One typed right, one typed wrong.
    for (int i = 0; i < 2; ++i) {
        const QString text = js("Review.card.text").toString();
        QVERIFY(!text.isEmpty());
        QVERIFY(js("Review.card.audio").toBool());
        const QString typed = i == 0 ? text : QStringLiteral("ganz etwas anderes");
        js(QStringLiteral("document.getElementById('rAnswer').value = '%1'; document.getElementById('rCheck').click();")
               .arg(QString(typed).replace("'", "\\'")));
        QTRY_VERIFY(js("!document.getElementById('rRate').classList.contains('hidden')").toBool());
        QCOMPARE(js("document.getElementById('rCard').classList.contains('typed-right')").toBool(), i == 0);
        // Each button names its next interval.
        QVERIFY(!js("document.querySelector('#rRate3 .rate-interval').textContent").toString().isEmpty());
        if (i == 0) {
            QTest::qWait(300);
            shot("13-review-checked");
        }
        click(i == 0 ? "#rRate3" : "#rRate1");
    }
    QTRY_COMPARE(js("Number(document.querySelector('#rStats .chip:nth-child(3) b').textContent)").toInt(), 2);
    js("document.getElementById('rStats').scrollIntoView()");
    QTest::qWait(300);
    shot("14-review-statistics");

    // After a restart: both are still due (in learning, minutes away), the statistics kept the answers.
    restart();
    QTRY_COMPARE_WITH_TIMEOUT(js("document.getElementById('reviewBadge').textContent").toString(), QString("2"), 15000);
    const QJsonObject stats = QJsonDocument::fromJson(window->bridge()->reviewStats().toUtf8()).object();
    QCOMPARE(stats.value("today").toObject().value("reviews").toInt(), 2);
    QCOMPARE(stats.value("goodShare").toDouble(), 0.5);
    QCOMPARE(stats.value("streak").toInt(), 1);

    // Export as an Anki package through the save dialog, read back with unzip and sqlite3.
    click("#reviewBtn");
    QTRY_VERIFY(js("!!document.getElementById('rExportApkg')").toBool());
    const QString apkg = ownFiles.filePath("Gemerkt.apkg");
    Desktop::setSaveFileName([apkg](QWidget*, const QString&, const QString&, const QString&) { return apkg; });
    click("#rExportApkg");
    Desktop::setSaveFileName(nullptr);
    QTRY_VERIFY(js("document.getElementById('rExportNote').textContent").toString().startsWith("2 Sätze exportiert"));
    const QString out = ownFiles.filePath("unpacked");
    QProcess unzip;
    unzip.start("unzip", {"-q", "-o", apkg, "-d", out});
    QVERIFY(unzip.waitForFinished(30000) && unzip.exitCode() == 0);
    QProcess sqlite;
    sqlite.start("sqlite3", {out + "/collection.anki2", "SELECT count(*) FROM notes WHERE flds LIKE '%[sound:%'"});
    QVERIFY(sqlite.waitForFinished(30000) && sqlite.exitCode() == 0);
    QCOMPARE(sqlite.readAllStandardOutput().trimmed(), QByteArray("2"));
    const QJsonObject media = QJsonDocument::fromJson(TestSupport::fileBytes(out + "/media")).object();
    QCOMPARE(media.size(), 2);
    for (const QString& entry : media.keys())
        QVERIFY(QFileInfo(out + "/" + entry).size() > 1000); // an Ogg Opus clip, not an empty file
}

void TestJourney::ownFileTimesFitTheSpeech() {
    // Guards against subtitles fitted without the learner being told, nudge keys and buttons that reach neither
    // the player nor the library, and a Rückgängig that keeps anything.
    const QString sample = QStringLiteral(TAVROLIN_SAMPLE_MEDIA "/sync");
    const QString file = ownFiles.filePath("Wetter.flac");
    QVERIFY(QFile::copy(sample + "/rede.flac", file));
    QFile truthFile(sample + "/rede.json");
    QVERIFY(truthFile.open(QIODevice::ReadOnly));
    const QJsonArray truth = QJsonDocument::fromJson(truthFile.readAll()).object().value("sentences").toArray();
    auto time = [](qint64 ms) { return QTime::fromMSecsSinceStartOfDay(int(ms)).toString("HH:mm:ss,zzz"); };
    QByteArray srt; // every cue 2.3 s late
    for (int i = 0; i < truth.size(); ++i)
        srt += QString("%1\n%2 --> %3\n%4\n\n")
                   .arg(i + 1)
                   .arg(time(truth.at(i)["start"].toInt() + 2300), time(truth.at(i)["end"].toInt() + 2300),
                        truth.at(i)["text"].toString())
                   .toUtf8();
    QFile cues(ownFiles.filePath("Wetter.srt"));
    QVERIFY(cues.open(QIODevice::WriteOnly) && cues.write(srt) == srt.size());
    cues.close();

    recorder->clear();
    window->bridge()->gotoOnline();
    QTRY_VERIFY_WITH_TIMEOUT(recorder->snippets(Page::Main).join('\n').contains("setData('downloadState'"), 15000);
    Desktop::setOpenFileName([file](QWidget*, const QString&, const QString&, const QString&) { return file; });
    click("#mediaOpenBtn");
    Desktop::setOpenFileName(nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(practice()->sentences().starts().size(), truth.size(), 20000);
    const QString message = js("document.getElementById('pSyncText').textContent").toString();
    QVERIFY2(message.startsWith(QString::fromUtf8("Untertitel um \u22122,3 s verschoben; ")) &&
                 message.endsWith("Satzgrenzen an die Sprache angepasst"),
             qPrintable(message));
    QCOMPARE(js("document.getElementById('pSyncUndo').textContent").toString(), QString::fromUtf8("Rückgängig"));
    const QList<int> fitted = practice()->sentences().starts();
    QVERIFY(qAbs(fitted.at(5) - truth.at(5)["start"].toInt()) <= 40);

    // The keys while practising: "." moves the start later, Shift with "," the end earlier, as typed on a
    // US or a German keyboard.
    js("Practice.select(5)");
    QTRY_COMPARE(js("Practice.current").toInt(), 5);
    const int end = js("Practice.sentences[5].end").toInt();
    window->activateWindow();
    window->view()->setFocus();
    QTRY_VERIFY(QApplication::focusWidget() == window->view());
    QTest::keyClick(window->view(), Qt::Key_Period, Qt::NoModifier);
    QTRY_COMPARE(practice()->sentences().starts().at(5), fitted.at(5) + 50);
    QTest::keyClick(window->view(), Qt::Key_Less, Qt::ShiftModifier);
    QTRY_COMPARE(practice()->sentences().ends().at(5), end - 50);
    QTest::keyClick(window->view(), Qt::Key_Semicolon, Qt::ShiftModifier);
    QTRY_COMPARE(practice()->sentences().ends().at(5), end - 100);
    click("#pEndLater");
    QTRY_COMPARE(practice()->sentences().ends().at(5), end - 50);
    shot("12-own-file-sync");
    // Kept in the library: the file read again has them.
    const QJsonValue kept =
        QJsonDocument::fromJson(window->bridge()->importMedia(file).toUtf8()).object().value("sentences")[5];
    QCOMPARE(kept["start"].toInt(), fitted.at(5) + 50);
    QCOMPARE(kept["end"].toInt(), end - 50);

    click("#pSyncUndo");
    QTRY_COMPARE(practice()->sentences().starts().at(5), truth.at(5)["start"].toInt() + 2300);
    QCOMPARE(js("document.getElementById('pSyncUndo').textContent").toString(), QString("Automatisch anpassen"));
    click("#pSyncUndo");
    QTRY_COMPARE(practice()->sentences().starts(), fitted);
}

void TestJourney::tokenNeverWentInClearText() {
    // Guards against the pages asking the service over plain http, where a signed-in session's requests go without
    // the token (and fail) rather than carry it in clear text.
    const QByteArray log = TestSupport::fileBytes(Logging::logFilePath());
    QVERIFY(log.contains("page loaded: index"));
    QList<QByteArray> withheld;
    for (const QByteArray& line : log.split('\n')) {
        if (line.contains("without the session token"))
            withheld << line;
    }
    QVERIFY2(withheld.isEmpty(), withheld.join('\n').left(2000).constData());
}

// The program's own start-up, with HOME (and so the data and settings) in a
// temporary directory.
int main(int argc, char** argv) {
    QTemporaryDir home;
    for (const auto& [name, sub] : {std::pair<const char*, const char*>{"HOME", ""},
                                    {"XDG_DATA_HOME", "/.local/share"},
                                    {"XDG_CONFIG_HOME", "/.config"},
                                    {"XDG_CACHE_HOME", "/.cache"}})
        qputenv(name, (home.path() + sub).toLocal8Bit());
    Application app(argc, argv);
    TestJourney test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_journey.moc"
