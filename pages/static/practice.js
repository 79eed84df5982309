/*
 * Shared code of the two main pages (online index and local article page):
 * bridge access, the reading settings (setSet), the page's data store
 * (setData/getData), the download lists, and the sentence practice view with
 * the `media` and `article` objects that the shell calls.
 *
 * ES5 only: the pages run in QtWebKit 5.212.
 */
var Tav = (function () {
  'use strict';

  var T = {};

  // ---- bridge -------------------------------------------------------------

  T.bridge = function () {
    return window.WebApi || null;
  };

  // Calls a bridge slot when the page runs inside the application. Opened in a
  // plain browser, or against a shell that lacks the slot, it does nothing.
  // Arguments are passed one by one: bridged slots are picked by argument count.
  T.call = function (name) {
    var api = T.bridge();
    if (!api || typeof api[name] !== 'function') {
      return undefined;
    }
    var a = Array.prototype.slice.call(arguments, 1);
    try {
      switch (a.length) {
        case 0: return api[name]();
        case 1: return api[name](a[0]);
        case 2: return api[name](a[0], a[1]);
        case 3: return api[name](a[0], a[1], a[2]);
        default: return api[name](a[0], a[1], a[2], a[3]);
      }
    } catch (e) {
      if (window.console) { console.log('bridge call ' + name + ' failed: ' + e); }
      return undefined;
    }
  };

  // ---- text helpers -------------------------------------------------------

  // The shell's snippets put paragraph text between single quotes, so quotes
  // travel in a form of their own.
  T.encodeParagraph = function (text) {
    return String(text === undefined || text === null ? '' : text)
      .replace(/'/g, '======').replace(/"/g, ';;;;;;');
  };
  T.decodeParagraph = function (text) {
    return String(text === undefined || text === null ? '' : text)
      .replace(/======/g, '\'').replace(/;;;;;;/g, '"');
  };

  T.base64EncodeUtf8 = function (text) {
    return window.btoa(unescape(encodeURIComponent(String(text))));
  };
  T.base64DecodeUtf8 = function (b64) {
    var binary = window.atob(String(b64).replace(/\s+/g, ''));
    try {
      return decodeURIComponent(escape(binary));
    } catch (e) {
      return binary; // not UTF-8: hand back the raw characters
    }
  };

  T.escapeHtml = function (text) {
    return String(text === undefined || text === null ? '' : text)
      .replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;')
      .replace(/"/g, '&quot;').replace(/'/g, '&#39;');
  };

  T.parseJson = function (text) {
    if (text === undefined || text === null || text === '') { return null; }
    try {
      return JSON.parse(text);
    } catch (e) {
      return null;
    }
  };

  T.queryParam = function (name) {
    var query = window.location.search.replace(/^\?/, '').split('&');
    for (var i = 0; i < query.length; i++) {
      var pair = query[i].split('=');
      if (decodeURIComponent(pair[0]) === name) {
        return pair.length > 1 ? decodeURIComponent(pair.slice(1).join('=')) : '';
      }
    }
    return '';
  };

  T.byId = function (id) {
    return document.getElementById(id);
  };

  T.el = function (tag, cls, text) {
    var e = document.createElement(tag);
    if (cls) { e.className = cls; }
    if (text !== undefined && text !== null) { e.appendChild(document.createTextNode(String(text))); }
    return e;
  };

  T.hasClass = function (e, c) {
    return (' ' + e.className + ' ').indexOf(' ' + c + ' ') >= 0;
  };
  T.addClass = function (e, c) {
    if (e && !T.hasClass(e, c)) { e.className = (e.className ? e.className + ' ' : '') + c; }
  };
  T.removeClass = function (e, c) {
    if (e) { e.className = (' ' + e.className + ' ').replace(' ' + c + ' ', ' ').replace(/^\s+|\s+$/g, ''); }
  };
  T.toggleClass = function (e, c, on) {
    if (on) { T.addClass(e, c); } else { T.removeClass(e, c); }
  };

  // ---- service ------------------------------------------------------------

  T.service = function () {
    var s = window.TAVROLIN_SERVICE || {};
    return { host: s.host || '127.0.0.1', httpPort: s.httpPort || 8780, httpsPort: s.httpsPort || 8781 };
  };
  // Over https: the shell signs these requests with the session token, which
  // never travels in clear text.
  T.serviceUrl = function (path) {
    var s = T.service();
    return 'https://' + s.host + (String(s.httpsPort) === '443' ? '' : ':' + s.httpsPort) + path;
  };

  // GET a JSON document; `fail` receives a short reason.
  T.getJson = function (url, ok, fail) {
    var xhr = new XMLHttpRequest();
    var done = false;
    var finish = function (err, value) {
      if (done) { return; }
      done = true;
      if (err) { if (fail) { fail(err); } } else { ok(value); }
    };
    try {
      xhr.open('GET', url, true);
      xhr.timeout = 10000;
      xhr.onreadystatechange = function () {
        if (xhr.readyState !== 4) { return; }
        if (xhr.status < 200 || xhr.status >= 300) {
          finish(xhr.status ? 'HTTP ' + xhr.status : 'keine Antwort');
          return;
        }
        var value = T.parseJson(xhr.responseText);
        if (value === null) { finish('keine gültigen Daten'); } else { finish(null, value); }
      };
      xhr.ontimeout = function () { finish('Zeitüberschreitung'); };
      xhr.onerror = function () { finish('keine Antwort'); };
      xhr.send(null);
    } catch (e) {
      finish(String(e));
    }
  };

  // Sentence data as the service sends it: {"sentences":[{start, text, chinese}]}.
  T.parseSentences = function (data) {
    var list = data && data.sentences ? data.sentences : (data instanceof Array ? data : []);
    var out = [];
    for (var i = 0; i < list.length; i++) {
      var s = list[i] || {};
      var start = parseInt(s.start, 10);
      out.push({
        start: isNaN(start) ? 0 : start,
        text: String(s.text || ''),
        chinese: String(s.chinese || s.translation || '')
      });
    }
    out.sort(function (a, b) { return a.start - b.start; });
    return out;
  };

  // ---- events between the parts of a page ---------------------------------

  var listeners = {};
  T.on = function (name, fn) {
    (listeners[name] = listeners[name] || []).push(fn);
  };
  T.fire = function (name, a, b, c) {
    var list = listeners[name] || [];
    for (var i = 0; i < list.length; i++) {
      try { list[i](a, b, c); } catch (e) { if (window.console) { console.log(name + ': ' + e); } }
    }
  };

  // ---- reading settings ---------------------------------------------------

  T.settings = {
    fontLevel: 'Medium', theme: 'Normal', translationState: 'on', explainState: 'close',
    explainTipState: 'highlight', fontFamily: 'Arial', textAlign: 'justify'
  };

  var fontSizes = { Smaller: 13, Medium: 15, Large: 17, Larger: 19, Largest: 22 };
  var themes = ['Normal', 'Night', 'Sepia', 'Gentle', 'Fresh', 'Green', 'Pink', 'Parchment'];

  T.applySettings = function () {
    var s = T.settings;
    var body = document.body;
    if (!body) { return; }
    for (var i = 0; i < themes.length; i++) { T.removeClass(body, 'theme-' + themes[i]); }
    if (themes.indexOf(s.theme) >= 0) { T.addClass(body, 'theme-' + s.theme); }
    body.style.fontSize = (fontSizes[s.fontLevel] || 15) + 'px';
    var family = String(s.fontFamily || 'Arial').replace(/["\\;{}<>]/g, '');
    body.style.fontFamily = '"' + family + '", "DejaVu Sans", "Droid Sans Fallback", sans-serif';
    T.toggleClass(body, 'translation-tap', s.translationState === 'tap');
    T.toggleClass(body, 'translation-off', s.translationState === 'off');
    T.toggleClass(body, 'explain-highlight', s.explainTipState !== 'explain');
    var style = T.byId('readingStyle');
    if (!style) {
      style = document.createElement('style');
      style.id = 'readingStyle';
      document.getElementsByTagName('head')[0].appendChild(style);
    }
    var align = s.textAlign === 'left' ? 'left' : 'justify';
    style.textContent = '.sentence .de, .sentence .zh, .article-html { text-align: ' + align + '; }';
    T.fire('settings', s);
  };

  // Minimum length of a word that counts as hard for each explanation level.
  T.hardWordLength = function () {
    var level = T.settings.explainState;
    if (level === 'primary') { return 8; }
    if (level === 'middle') { return 10; }
    if (level === 'senior') { return 13; }
    return 0;
  };

  // ---- page data store ----------------------------------------------------

  T.store = {};
  T.zipDir = '';

  return T;
}());

// ---- functions the shell evaluates in the main page ------------------------

function setSet(fontLevel, theme, translationState, explainState, explainTipState, fontFamily, textAlign) {
  var s = Tav.settings;
  s.fontLevel = fontLevel || s.fontLevel;
  s.theme = theme || s.theme;
  s.translationState = translationState || s.translationState;
  s.explainState = explainState || s.explainState;
  s.explainTipState = explainTipState || s.explainTipState;
  s.fontFamily = fontFamily || s.fontFamily;
  s.textAlign = textAlign || s.textAlign;
  Tav.applySettings();
}

function setData(key, value) {
  Tav.store[key] = value === undefined || value === null ? '' : String(value);
  Tav.fire('data', key, Tav.store[key]);
}

function getData(key) {
  return Object.prototype.hasOwnProperty.call(Tav.store, key) ? Tav.store[key] : '';
}

function setZipDir(dir) {
  Tav.zipDir = dir === undefined || dir === null ? '' : String(dir);
  Tav.fire('zipDir', Tav.zipDir);
}

// ---- download lists (filled by the offline-data page through the shell) ----

var Downloads = (function () {
  'use strict';
  var D = { channels: {}, articles: {}, order: [], progress: {}, deleted: {}, failed: {} };

  // The offline-data page sends "[" + base64 + "]"; the shell drops the
  // brackets. Plain JSON is accepted too.
  D.decode = function (data) {
    var text = String(data === undefined || data === null ? '' : data).replace(/^\s+|\s+$/g, '');
    if (text === '') { return []; }
    var value = null;
    if (text.charAt(0) === '{' || text.charAt(0) === '[') {
      value = Tav.parseJson(text);
      if (value === null) { value = Tav.parseJson('[' + text + ']'); }
    } else {
      try { value = Tav.parseJson(Tav.base64DecodeUtf8(text)); } catch (e) { value = null; }
    }
    if (value === null) { return []; }
    return value instanceof Array ? value : [value];
  };

  D.add = function (kind, records, state) {
    for (var i = 0; i < records.length; i++) {
      var r = records[i];
      if (!r || !r.uuid) { continue; }
      if (kind === 'channelData') {
        D.channels[r.uuid] = r;
      } else {
        if (state) { r.downloadState = state; }
        if (!D.articles[r.uuid]) { D.order.push(r.uuid); }
        D.articles[r.uuid] = r;
        delete D.deleted[r.uuid];
      }
    }
  };

  D.state = function (id) {
    var a = D.articles[id];
    if (a) { return a.downloadState || 'downloading'; }
    var states = Tav.parseJson(getData('downloadState')) || {};
    return states[id] || '';
  };

  D.percent = function (id) {
    var p = D.progress[id];
    if (!p) { return 0; }
    var sum = 0;
    var kinds = ['lrc', 'mp3', 'archive'];
    for (var i = 0; i < kinds.length; i++) { sum += p[kinds[i]] || 0; }
    return Math.round(sum / kinds.length);
  };

  D.remove = function (id) {
    delete D.articles[id];
    delete D.progress[id];
    delete D.failed[id];
    var at = D.order.indexOf(id);
    if (at >= 0) { D.order.splice(at, 1); }
  };

  D.finishedList = function () {
    var out = [];
    for (var i = 0; i < D.order.length; i++) {
      var a = D.articles[D.order[i]];
      if (a && a.downloadState === 'finished') { out.push(a); }
    }
    return out;
  };

  return D;
}());

var downloadData = {
  downloadProgress: function (received, total, kind, id) {
    var r = parseFloat(received);
    var t = parseFloat(total);
    var p = Downloads.progress[id] = Downloads.progress[id] || {};
    p[kind] = t > 0 ? Math.min(100, Math.round(r * 100 / t)) : (p[kind] || 0);
    Tav.fire('downloadProgress', id);
  },
  // A part that could not be fetched even after the shell's retries.
  downloadFailed: function (id, part, reason) {
    Downloads.failed[id] = { part: String(part || ''), reason: String(reason || '') };
    Tav.fire('downloadFailed', id);
  },
  downloadFinished: function (id) {
    delete Downloads.failed[id];
    if (Downloads.articles[id]) { Downloads.articles[id].downloadState = 'finished'; }
    Downloads.progress[id] = { lrc: 100, mp3: 100, archive: 100 };
    var states = Tav.parseJson(getData('downloadState')) || {};
    states[id] = 'finished';
    Tav.store.downloadState = JSON.stringify(states);
    Tav.fire('downloadFinished', id);
  },
  appendData: function (kind, data, state) {
    Downloads.add(kind, Downloads.decode(data), state);
  },
  getDataFinished: function (type) {
    Tav.fire('downloadList', type);
  }
};

var historyChannel = {
  setDeletedArticleId: function (ids) {
    var list = String(ids === undefined || ids === null ? '' : ids).split(',');
    for (var i = 0; i < list.length; i++) {
      if (list[i]) {
        Downloads.deleted[list[i]] = true;
        Downloads.remove(list[i]);
      }
    }
    Tav.fire('downloadList', 'deleted');
  }
};

// ---- the sentence practice view ---------------------------------------------

var Practice = (function () {
  'use strict';

  var P = {
    root: null,
    article: null,      // {uuid, title, media, ...}
    sentences: [],
    current: -1,
    mode: 'read',       // read | dictation | fillword | shadowing
    repeat: '',         // '' | repeatSen | repeated | repeat
    playing: false,
    loading: false,
    desktop: false,
    translation: 'on',
    dictationSolved: {},
    fillwordSolved: {},
    fillwordWaiting: false,
    playTimes: {},
    resumeAt: -1,       // the sentence to go to once the media is loaded
    options: {}
  };

  var modes = [
    { id: 'read', label: 'Lesen', zh: '阅读' },
    { id: 'dictation', label: 'Diktat', zh: '听写' },
    { id: 'fillword', label: 'Lückentext', zh: '填空' },
    { id: 'shadowing', label: 'Nachsprechen', zh: '跟读' }
  ];
  var repeats = [
    { id: '', label: 'Einmal' },
    { id: 'repeatSen', label: 'Satz wiederholen' },
    { id: 'repeated', label: 'Artikel wiederholen' },
    { id: 'repeat', label: 'Weiter zum nächsten' }
  ];

  function byId(id) { return Tav.byId(id); }

  // ---- words --------------------------------------------------------------

  P.normalise = function (text) {
    return String(text).toLowerCase()
      .replace(/[.,!?;:"'\u201e\u201c\u201d\u201a\u2018\u2019\u00bb\u00ab()\[\]\-\u2013\u2014\u2026\/]/g, ' ')
      .replace(/\s+/g, ' ').replace(/^\s+|\s+$/g, '');
  };

  // The word left out in fill-in-the-word: the longest plain word (no
  // apostrophe or hyphen inside), the first of equals.
  P.gapWord = function (text) {
    var words = String(text).split(/\s+/);
    var best = '';
    for (var i = 0; i < words.length; i++) {
      var w = words[i].replace(/^[^A-Za-z\u00c0-\u024f0-9]+|[^A-Za-z\u00c0-\u024f0-9]+$/g, '');
      if (/^[A-Za-z\u00c0-\u024f0-9]+$/.test(w) && w.length > best.length) { best = w; }
    }
    return best;
  };

  P.mask = function (text) {
    return String(text).replace(/[A-Za-z\u00c0-\u024f0-9]/g, '_');
  };

  // Sentences without text (found in the pauses of the sound) are sections,
  // practised by ear: their label stands in for the text.
  P.hasText = function (i) {
    var s = P.sentences[i];
    return !!(s && s.text);
  };
  P.textOf = function (i) {
    var s = P.sentences[i];
    if (!s) { return ''; }
    return s.text || s.label || 'Abschnitt ' + (i + 1);
  };

  function markWords(text) {
    var min = Tav.hardWordLength();
    var html = Tav.escapeHtml(text);
    if (!min) { return html; }
    return html.replace(/[A-Za-z\u00c0-\u024f]+/g, function (w) {
      return w.length >= min ? '<span class="hard-word" title="Schwieriges Wort">' + w + '</span>' : w;
    });
  }

  function gapHtml(text, solved) {
    var word = P.gapWord(text);
    var html = Tav.escapeHtml(text);
    if (!word) { return html; }
    var at = text.indexOf(word);
    return Tav.escapeHtml(text.substring(0, at)) +
      '<span class="gap' + (solved ? ' solved' : '') + '">' + Tav.escapeHtml(word) + '</span>' +
      Tav.escapeHtml(text.substring(at + word.length));
  }

  // ---- building the view --------------------------------------------------

  P.build = function (root, options) {
    P.root = root;
    P.options = options || {};
    root.innerHTML =
      '<div class="practice-head">' +
      '  <h1 id="pTitle"></h1>' +
      '  <a class="btn" id="pBack"></a>' +
      '</div>' +
      '<div id="pTop">' +
      '  <div class="video-frame hidden" id="videoFrame">Video</div>' +
      '  <div class="player">' +
      '    <div class="player-row">' +
      '      <button class="btn" id="pPrev" title="Vorheriger Satz">&#9664;&#9664;</button>' +
      '      <button class="btn primary play-btn" id="pPlay">&#9654; Abspielen</button>' +
      '      <button class="btn" id="pNext" title="Nächster Satz">&#9654;&#9654;</button>' +
      '      <div class="seek" id="pSeek"><div class="fill" id="pFill"></div></div>' +
      '      <span class="status" id="pStatus"></span>' +
      '    </div>' +
      '    <div class="player-row">' +
      '      <span class="group-label">Modus</span><span class="segmented" id="pModes"></span>' +
      '      <button class="btn small" id="pRepeat"></button>' +
      '      <button class="btn small" id="pTrans"></button>' +
      '      <button class="btn small" id="pDesktop" title="Satz als Fenster auf dem Desktop">Desktop-Fenster</button>' +
      '      <button class="btn small" id="pKeep" title="Satz mit Ton zum Wiederholen merken (M)">&#9734; Merken</button>' +
      '      <button class="btn small hidden" id="pFull">Vollbild</button>' +
      '      <span class="speed-box" id="pSpeedBox"></span>' +
      '      <span class="plan-box" id="pPlanBox"></span>' +
      '      <span class="spacer" style="flex:1"></span>' +
      '      <span class="volume-box"><span class="group-label">Lautstärke</span>' +
      '      <input type="range" min="0" max="100" value="80" class="volume" id="pVolume"></span>' +
      '    </div>' +
      '  </div>' +
      '</div>' +
      '<div id="pNotice" class="hidden"></div>' +
      '<div id="pArticleHtml" class="article-html hidden"></div>' +
      '<ol class="sentences" id="pSentences"></ol>';

    byId('pBack').appendChild(document.createTextNode(P.options.backLabel || 'Zurück'));
    byId('pBack').onclick = function () { if (P.options.onBack) { P.options.onBack(); } };
    byId('pPlay').onclick = function () {
      if (P.playing) { media.pause(); } else { media.play(0); }
    };
    byId('pPrev').onclick = function () { media.previousSentence(); };
    byId('pNext').onclick = function () { media.nextSentence(); };
    byId('pRepeat').onclick = function () { media.repeatControl(); };
    byId('pTrans').onclick = function () { media.translateControl(); };
    byId('pDesktop').onclick = function () { media.desktopControl(); };
    byId('pKeep').onclick = function () { if (window.Review) { Review.toggleKeep(); } };
    byId('pFull').onclick = function () { Tav.call('setVideoFullscreen', 'toggle'); };
    byId('pSeek').onclick = function (ev) {
      var rect = byId('pSeek').getBoundingClientRect();
      var percent = Math.floor((ev.clientX - rect.left) * 100 / Math.max(1, rect.width));
      P.seekPercent(percent);
    };
    byId('pVolume').onchange = function () {
      Tav.call('setVolume', parseInt(byId('pVolume').value, 10));
    };

    var modeBox = byId('pModes');
    for (var i = 0; i < modes.length; i++) {
      var b = Tav.el('button', 'btn small', modes[i].label);
      b.setAttribute('data-mode', modes[i].id);
      b.title = modes[i].zh;
      b.onclick = (function (id) { return function () { P.setMode(id); }; }(modes[i].id));
      modeBox.appendChild(b);
    }

    Tav.on('settings', function () {
      P.translation = Tav.settings.translationState;
      P.renderAll();
    });
    Tav.on('data', function (key, value) {
      if (key === 'repeatState') {
        P.repeat = value === 'repeatSen' || value === 'repeated' || value === 'repeat' ? value : '';
        P.renderControls();
      } else if (key === 'volume') {
        var v = parseInt(String(value).replace(/"/g, ''), 10);
        if (v > 0 && v <= 100) { byId('pVolume').value = v; }
      }
    });
    P.translation = Tav.settings.translationState;
    P.renderControls();
    Tav.fire('practiceBuilt'); // controls of their own files fill in their places
  };

  // ---- opening an article -------------------------------------------------

  // src: the media source handed to initPlay; type: "online" or "local".
  P.open = function (articleRecord, sentences, src, type) {
    P.article = articleRecord || {};
    P.sentences = sentences || [];
    P.current = P.sentences.length ? 0 : -1;
    P.dictationSolved = {};
    P.fillwordSolved = {};
    P.fillwordWaiting = false;
    P.playTimes = {};
    P.playing = false;
    P.resumeAt = P.article.resumeAt > 0 && P.article.resumeAt < P.sentences.length ? P.article.resumeAt : -1;
    P.setNotice('');
    byId('pTitle').textContent = P.article.title || 'Artikel';
    P.renderAll();
    Tav.fire('open', P.article);

    var isVideo = P.article.media === 'video';
    Tav.toggleClass(byId('videoFrame'), 'hidden', !isVideo);
    Tav.toggleClass(byId('pFull'), 'hidden', !isVideo);

    // Positions come in milliseconds from this page.
    Tav.call('setClickState', 'false');
    Tav.call('setState', 'repeat', P.repeat);
    Tav.call('setState', 'mode', P.mode);
    P.sendPrintable();

    var starts = [];
    for (var i = 0; i < P.sentences.length; i++) { starts.push(P.sentences[i].start); }
    if (src) {
      Tav.call('initPlay', src, type, starts, isVideo ? '4' : 'audio');
      // Sentences that end before the next one starts (a film's cues, sections of speech).
      var ends = [];
      for (var e = 0; e < P.sentences.length && P.sentences[e].end > P.sentences[e].start; e++) {
        ends.push(P.sentences[e].end);
      }
      if (ends.length) { Tav.call('setEndTimes', ends); }
    } else if (type === 'online' && P.article.uuid) {
      Tav.call('setFmId', P.article.uuid); // signed media URL, built by the shell
    }
    P.sendParagraph();
    if (window.Review) { Review.practiceOpened(); }
  };

  P.setNotice = function (text) {
    var box = byId('pNotice');
    if (!box) { return; }
    box.textContent = text || '';
    box.className = text ? 'note info' : 'hidden';
  };

  P.close = function () {
    Tav.call('cancelPlay');
    Tav.call('setPrintAble', false);
    P.playing = false;
    P.renderControls();
  };

  P.sendPrintable = function () {
    var html = '<html><head><meta charset="utf-8"><title>' + Tav.escapeHtml(P.article.title || '') +
      '</title></head><body><h1>' + Tav.escapeHtml(P.article.title || '') + '</h1>';
    for (var i = 0; i < P.sentences.length; i++) {
      html += '<p>' + Tav.escapeHtml(P.textOf(i)) + '<br><span style="color:#555">' +
        Tav.escapeHtml(P.sentences[i].chinese) + '</span></p>';
    }
    html += '</body></html>';
    Tav.call('setHtmlPage', html, P.article.title || 'Tavrolin');
    Tav.call('setPrintAble', true);
  };

  // ---- playing ------------------------------------------------------------

  P.startOf = function (i) {
    return i >= 0 && i < P.sentences.length ? P.sentences[i].start : 0;
  };

  // The learner's own choice of a sentence: it replaces the resume that the
  // load may still have pending (else the load's end would jump away from it).
  P.pick = function (i) {
    P.resumeAt = -1;
    P.select(i);
  };

  // Makes sentence i current in the page and in the shell, and plays it.
  P.select = function (i) {
    var n = P.sentences.length;
    if (!n) { return; }
    i = Math.max(0, Math.min(n - 1, i));
    P.current = i;
    P.fillwordWaiting = false;
    if (P.mode === 'dictation') {
      Tav.call('setDictationIndex', i);
      Tav.call('play', 0);
    } else if (P.mode === 'fillword') {
      Tav.call('setFillwordIndex', i);
      Tav.call('play', 0);
    } else if (P.mode === 'shadowing' && window.Shadow) {
      Shadow.start(i); // plays the sentence itself, then records
    } else {
      Tav.call('setPlayIndex', i);
      // 1 ms still seeks (to 0 s); 0 would mean "go on from here".
      Tav.call('play', Math.max(1, P.startOf(i)));
    }
    P.playing = true;
    P.renderAll();
    P.scrollToCurrent();
    P.sendParagraph();
    Tav.fire('sentence', i);
  };

  // A sentence solved in dictation, typed right or (a section without text)
  // heard: on to the next one, or the end.
  P.solveDictation = function (i) {
    if (!P.sentences[i]) { return; }
    P.dictationSolved[i] = true;
    P.renderAll();
    P.sendParagraph();
    if (i + 1 < P.sentences.length) {
      P.select(i + 1);
    } else {
      media.pause();
    }
  };

  P.seekPercent = function (percent) {
    percent = Math.max(0, Math.min(99, percent));
    // In reading mode the shell plays seconds for a position inside the bar.
    var seconds = P.mode === 'read' && percent > 0 && percent < 99;
    if (seconds) { Tav.call('setClickState', 'true'); }
    Tav.call('loadPosition', percent);
    if (seconds) { Tav.call('setClickState', 'false'); }
    P.playing = true;
    P.renderControls();
  };

  P.setMode = function (id) {
    if (P.mode === id) { return; }
    if (P.mode === 'shadowing' && window.Shadow) { Shadow.leave(); }
    P.mode = id;
    P.fillwordWaiting = false;
    Tav.call('setState', 'mode', id);
    Tav.call('saveData', 'mode', id);
    if (id !== 'read' && P.sentences.length) {
      P.select(P.current >= 0 ? P.current : 0);
    } else {
      P.renderAll();
      P.sendParagraph();
    }
  };

  P.setRepeat = function (id) {
    P.repeat = id;
    Tav.call('setState', 'repeat', id);
    Tav.call('saveData', 'repeatState', id);
    P.renderControls();
  };

  // ---- answers ------------------------------------------------------------

  P.checkDictation = function (i, typed) {
    var s = P.sentences[i];
    if (!s) { return false; }
    var words = WordAlign.compare(s.text, typed);
    var ok = WordAlign.allRight(words);
    if (ok) {
      P.solveDictation(i);
    } else {
      var fb = byId('pFeedback');
      if (fb) { fb.innerHTML = P.alignmentHtml(words); }
    }
    return ok;
  };

  // Each word as right, wrong (with the expected one), missing or extra.
  P.alignmentHtml = function (words) {
    var html = '';
    for (var k = 0; k < words.length; k++) {
      var w = words[k];
      if (w.status === 'right') {
        html += '<span class="ok">' + Tav.escapeHtml(w.word) + '</span> ';
      } else if (w.status === 'wrong') {
        html += '<span class="bad">' + Tav.escapeHtml(w.word) + '</span>' +
          '<span class="expected" title="richtig">' + Tav.escapeHtml(w.expected) + '</span> ';
      } else if (w.status === 'missing') {
        html += '<span class="miss" title="fehlt">' + Tav.escapeHtml(w.expected) + '</span> ';
      } else {
        html += '<span class="extra" title="zu viel">' + Tav.escapeHtml(w.word) + '</span> ';
      }
    }
    return html;
  };

  P.checkFillword = function (i, typed) {
    var s = P.sentences[i];
    if (!s) { return false; }
    var ok = P.normalise(typed) === P.normalise(P.gapWord(s.text));
    if (!ok) {
      var fb = byId('pFeedback');
      if (fb) { fb.innerHTML = '<span class="bad">' + Tav.escapeHtml(typed) + '</span> \u2013 noch einmal versuchen'; }
      return false;
    }
    P.fillwordSolved[i] = true;
    if (P.fillwordWaiting) {
      P.fillwordWaiting = false;
      Tav.call('fillwordSuccessAction');
    }
    P.renderAll();
    P.sendParagraph();
    return true;
  };

  // ---- paragraph window ---------------------------------------------------

  P.sendParagraph = function () {
    var s = P.sentences[P.current];
    if (!s) {
      Tav.call('setParagaraph', 'sentence', '');
      Tav.call('setParagaraph', 'chinese', '');
      return;
    }
    if (!s.text) {
      Tav.call('setParagaraph', P.mode === 'dictation' ? 'dictation' : 'sentence',
        Tav.encodeParagraph(P.textOf(P.current)));
      Tav.call('setParagaraph', P.mode === 'dictation' ? 'dictTrans' : 'chinese', Tav.encodeParagraph(s.chinese));
    } else if (P.mode === 'dictation') {
      var shown = P.dictationSolved[P.current] ? s.text : P.mask(s.text);
      Tav.call('setParagaraph', 'dictation', Tav.encodeParagraph(shown));
      Tav.call('setParagaraph', 'dictTrans', Tav.encodeParagraph(s.chinese));
    } else if (P.mode === 'fillword') {
      var word = P.gapWord(s.text);
      var at = s.text.indexOf(word);
      var marked = word && !P.fillwordSolved[P.current]
        ? s.text.substring(0, at) + '{{' + word + '}}' + s.text.substring(at + word.length) : s.text;
      Tav.call('setParagaraph', 'fillword', Tav.encodeParagraph(marked));
      Tav.call('setParagaraph', 'trans', Tav.encodeParagraph(s.chinese));
    } else {
      Tav.call('setParagaraph', 'sentence', Tav.encodeParagraph(s.text));
      Tav.call('setParagaraph', 'chinese', Tav.encodeParagraph(s.chinese));
    }
  };

  // ---- rendering ----------------------------------------------------------

  P.renderControls = function () {
    if (!P.root) { return; }
    var play = byId('pPlay');
    play.innerHTML = P.playing ? '&#10074;&#10074; Pause' : '&#9654; Abspielen';
    var buttons = byId('pModes').getElementsByTagName('button');
    for (var i = 0; i < buttons.length; i++) {
      Tav.toggleClass(buttons[i], 'active', buttons[i].getAttribute('data-mode') === P.mode);
    }
    var label = repeats[0].label;
    for (var r = 0; r < repeats.length; r++) {
      if (repeats[r].id === P.repeat) { label = repeats[r].label; }
    }
    byId('pRepeat').textContent = '\u21bb ' + label;
    Tav.toggleClass(byId('pRepeat'), 'active', P.repeat !== '');
    var trans = { on: 'Übersetzung: an', tap: 'Übersetzung: antippen', off: 'Übersetzung: aus' };
    byId('pTrans').textContent = trans[P.translation] || trans.on;
    Tav.toggleClass(byId('pDesktop'), 'active', P.desktop);
    Tav.toggleClass(document.body, 'translation-tap', P.translation === 'tap');
    Tav.toggleClass(document.body, 'translation-off', P.translation === 'off');
  };

  P.ended = function () {
    P.playing = false;
    P.renderControls();
    P.setStatus('Ende');
  };

  P.setStatus = function (html) {
    var st = byId('pStatus');
    if (st) { st.innerHTML = html; }
  };

  P.rowHtml = function (i) {
    var s = P.sentences[i];
    var cur = i === P.current;
    var html = '<span class="num">' + (i + 1) + '</span>';
    if (!s.text) {
      html += '<div class="de section-label">' + Tav.escapeHtml(P.textOf(i)) +
        ' <span class="times">' + Tav.escapeHtml(s.times || '') + '</span></div>';
      html += '<div class="zh">' + Tav.escapeHtml(s.chinese) + '</div>';
      if (cur && P.mode === 'dictation' && !P.dictationSolved[i]) {
        html += '<div class="answer"><button class="btn small primary" id="pHeard">Gehört</button>' +
          '<span class="playtimes" id="pTimes">' + (P.playTimes[i] ? P.playTimes[i] + '× gehört' :
          'Hör zu, sprich nach, dann weiter') + '</span></div>';
      }
      if (cur && P.mode === 'shadowing' && window.Shadow) { html += Shadow.panelHtml(i); }
      return html;
    }
    if (P.mode === 'dictation' && !P.dictationSolved[i]) {
      html += '<div class="de masked">' + Tav.escapeHtml(P.mask(s.text)) + '</div>';
    } else if (P.mode === 'fillword') {
      html += '<div class="de">' + gapHtml(s.text, P.fillwordSolved[i]) + '</div>';
    } else {
      html += '<div class="de">' + markWords(s.text) + '</div>';
    }
    html += '<div class="zh">' + Tav.escapeHtml(s.chinese) + '</div>';
    if (cur && P.mode === 'dictation' && !P.dictationSolved[i]) {
      html += '<div class="answer"><input id="pAnswer" placeholder="Was hörst du? Satz eintippen und Enter drücken">' +
        '<button class="btn small" id="pCheck">Prüfen</button>' +
        '<span class="playtimes" id="pTimes">' + (P.playTimes[i] ? P.playTimes[i] + '× gehört' : '') + '</span></div>' +
        '<div class="feedback" id="pFeedback"></div>';
    } else if (cur && P.mode === 'shadowing' && window.Shadow) {
      html += Shadow.panelHtml(i);
    } else if (cur && P.mode === 'fillword' && !P.fillwordSolved[i]) {
      html += '<div class="answer"><input id="pAnswer" placeholder="' +
        (P.fillwordWaiting ? 'Welches Wort fehlt? Eintippen und Enter' : 'Zuhören \u2013 welches Wort fehlt?') + '">' +
        '<button class="btn small" id="pCheck">Prüfen</button></div><div class="feedback" id="pFeedback"></div>';
    }
    return html;
  };

  P.renderAll = function () {
    if (!P.root) { return; }
    var list = byId('pSentences');
    list.innerHTML = '';
    for (var i = 0; i < P.sentences.length; i++) {
      var li = Tav.el('li', 'sentence');
      li.setAttribute('data-index', String(i));
      li.innerHTML = P.rowHtml(i);
      if (i === P.current) { Tav.addClass(li, 'current'); }
      if (P.dictationSolved[i] || P.fillwordSolved[i]) { Tav.addClass(li, 'done'); }
      li.onclick = (function (index) {
        return function (ev) {
          var t = ev.target || ev.srcElement;
          if (t && (t.tagName === 'INPUT' || t.tagName === 'BUTTON')) { return; }
          if (P.translation === 'tap') { Tav.toggleClass(this, 'show-zh', true); }
          if (index !== P.current) { P.pick(index); }
        };
      }(i));
      // A word picked with a double click is shown in the paragraph window too.
      li.ondblclick = function () {
        var picked = window.getSelection ? String(window.getSelection()).replace(/^\s+|\s+$/g, '') : '';
        if (picked && picked.length < 80) { Tav.call('setParagaraph', 'choised', Tav.encodeParagraph(picked)); }
      };
      list.appendChild(li);
    }
    if (!P.sentences.length) {
      list.appendChild(Tav.el('li', 'note info', 'Für diesen Artikel gibt es keine Sätze.'));
    }
    if (window.Review) { Review.markRows(); }
    var input = byId('pAnswer');
    if (input) {
      var check = function () {
        if (P.mode === 'dictation') { P.checkDictation(P.current, input.value); }
        else { P.checkFillword(P.current, input.value); }
      };
      input.onkeydown = function (ev) {
        ev.stopPropagation();
        if (ev.keyCode === 13) { check(); }
      };
      byId('pCheck').onclick = check;
    }
    var heard = byId('pHeard');
    if (heard) {
      heard.onclick = function () { P.solveDictation(P.current); };
    }
    if (P.mode === 'shadowing' && window.Shadow) { Shadow.attach(); }
    P.renderControls();
  };

  P.rowElement = function (i) {
    var list = byId('pSentences');
    return list ? list.querySelector('li[data-index="' + i + '"]') : null;
  };

  P.scrollToCurrent = function () {
    var li = P.rowElement(P.current);
    var box = byId('pSentences');
    if (!li || !box) { return; }
    var top = li.offsetTop; // the list is the rows' offset parent
    if (top < box.scrollTop || top + li.offsetHeight > box.scrollTop + box.clientHeight) {
      box.scrollTop = Math.max(0, top - 40);
    }
  };

  P.highlight = function (i) {
    var prev = P.current;
    P.current = i;
    var old = P.rowElement(prev);
    if (prev !== i || !old || !Tav.hasClass(old, 'current')) {
      if (P.mode === 'read') {
        Tav.removeClass(old, 'current');
        Tav.addClass(P.rowElement(i), 'current');
      } else {
        P.renderAll();
      }
      P.scrollToCurrent();
      P.sendParagraph();
      if (i !== prev) { Tav.fire('sentence', i); }
    }
  };

  return P;
}());

// ---- objects the shell calls during practice --------------------------------

var media = {
  play: function (position, fromParagraph) {
    var p = parseInt(position, 10);
    Tav.call('play', isNaN(p) ? 0 : p);
    Practice.playing = true;
    Practice.renderControls();
    return fromParagraph === true;
  },
  pause: function () {
    Tav.call('pause');
    Practice.playing = false;
    Practice.renderControls();
  },
  // Next and previous article (the end of an article with "repeat", the paragraph window's buttons).
  next: function () {
    if (Practice.options.onNextArticle && Practice.options.onNextArticle(1)) { return; }
    Practice.ended();
  },
  pre: function () {
    if (Practice.options.onNextArticle) { Practice.options.onNextArticle(-1); }
  },
  nextSentence: function () {
    Practice.pick(Practice.current + 1);
  },
  previousSentence: function () {
    Practice.pick(Practice.current <= 0 ? 0 : Practice.current - 1);
  },
  highlight: function (index) {
    var i = parseInt(index, 10);
    Practice.highlight(isNaN(i) ? -1 : i);
  },
  setPlaying: function (percent) {
    // Playing: the load is over, and the resume with it.
    if (Practice.resumeAt >= 0 && !Practice.loading) {
      var at = Practice.resumeAt;
      Practice.resumeAt = -1;
      if (Practice.current !== at) { Practice.select(at); }
    }
    var p = Math.max(0, Math.min(100, parseFloat(percent) || 0));
    var fill = Tav.byId('pFill');
    if (fill) { fill.style.width = p + '%'; }
    if (!Practice.loading) { Practice.setStatus(Math.round(p) + ' %'); }
  },
  setFillwordState: function (state) {
    Practice.fillwordWaiting = state === true || state === 'true';
    if (Practice.fillwordWaiting &&
        (Practice.fillwordSolved[Practice.current] || !Practice.hasText(Practice.current))) {
      Practice.fillwordWaiting = false;
      Tav.call('fillwordSuccessAction');
      return;
    }
    Practice.playing = false;
    Practice.renderAll();
    var input = Tav.byId('pAnswer');
    if (input) { input.focus(); }
  },
  loadingStart: function () {
    Practice.loading = true;
    Practice.setStatus('<span class="spinner"></span>Lädt\u2026');
  },
  loadingEnd: function () {
    Practice.loading = false;
    Practice.setStatus('');
    // Back where the learner left off, once the shell has started from the top
    // (the shell reports the load twice: when it starts and when the file is there).
    if (Practice.resumeAt >= 0) {
      var at = Practice.resumeAt;
      var opened = Practice.article;
      window.setTimeout(function () {
        if (Practice.article === opened && Practice.resumeAt === at) { Practice.select(at); }
      }, 0);
    }
  },
  bufferingStart: function () {
    Practice.setStatus('<span class="spinner"></span>Puffert\u2026');
  },
  bufferingEnd: function () {
    Practice.setStatus('');
  },
  // The shell handles the article's end itself only in dictation; in the other
  // modes the page applies the repeat setting.
  playEnd: function () {
    if (Practice.repeat === 'repeated' && Practice.sentences.length) {
      Practice.select(0);
      return;
    }
    if (Practice.repeat === 'repeat' && Practice.options.onNextArticle && Practice.options.onNextArticle(1)) {
      return;
    }
    Practice.ended();
  },
  updatePlayState: function () {
    Practice.playing = true;
    Practice.renderControls();
  },
  translateControl: function () {
    var order = ['on', 'tap', 'off'];
    var next = order[(order.indexOf(Practice.translation) + 1) % order.length];
    Practice.translation = next;
    Tav.settings.translationState = next;
    Tav.call('setTranslationState', next);
    Tav.call('saveData', 'translationState', next);
    Practice.renderControls();
  },
  repeatControl: function () {
    var order = ['', 'repeatSen', 'repeated', 'repeat'];
    Practice.setRepeat(order[(order.indexOf(Practice.repeat) + 1) % order.length]);
  },
  modeControl: function () {
    var order = ['read', 'dictation', 'fillword', 'shadowing'];
    Practice.setMode(order[(order.indexOf(Practice.mode) + 1) % order.length]);
  },
  desktopControl: function () {
    Practice.desktop = !Practice.desktop;
    Tav.call('setDesktopState', Practice.desktop ? 'desktopOn' : 'desktopOff');
    if (Practice.desktop) { Practice.sendParagraph(); }
    Practice.renderControls();
  },
  // The video placeholder in view coordinates, "x,y,width,height".
  showVideoFrame: function () {
    var frame = Tav.byId('videoFrame');
    if (!frame) { return ''; }
    Tav.removeClass(frame, 'hidden');
    var r = frame.getBoundingClientRect();
    return Math.round(r.left) + ',' + Math.round(r.top) + ',' + Math.round(r.width) + ',' + Math.round(r.height);
  },
  hideVideoFrame: function () {
    Tav.addClass(Tav.byId('videoFrame'), 'hidden');
  }
};

var article = {
  setPlayTimes: function (index, times) {
    var i = parseInt(index, 10);
    var n = parseInt(times, 10) || 0;
    Practice.playTimes[i] = n;
    var label = Tav.byId('pTimes');
    if (label && i === Practice.current) {
      label.textContent = n ? n + '× gehört' : (Practice.hasText(i) ? 'Jetzt eintippen' : 'Nachsprechen, dann „Gehört“');
    }
  },
  initDictation: function (index) {
    var i = parseInt(index, 10);
    Practice.current = isNaN(i) ? 0 : i;
    Practice.playTimes = {};
    if (Practice.mode === 'dictation') { Practice.renderAll(); Practice.sendParagraph(); }
  },
  initIndex: function (index, kind) {
    var i = parseInt(index, 10);
    if (isNaN(i)) { return; }
    Practice.current = i;
    Practice.fillwordWaiting = false;
    if (kind === 'fillword' && Practice.mode === 'fillword') {
      Practice.playing = true;
      Practice.renderAll();
      Practice.scrollToCurrent();
      Practice.sendParagraph();
    }
  },
  setHideDisplayTipIndex: function (index) {
    Tav.addClass(Practice.rowElement(parseInt(index, 10)), 'show-zh');
  },
  paragraphFillwordSuccess: function () {
    var s = Practice.sentences[Practice.current];
    if (s) { Practice.checkFillword(Practice.current, Practice.gapWord(s.text)); }
  }
};
