/*
 * Kept sentences: the "Merken" control of the practice view (button and key M),
 * the review page (sound first, typed answer checked word by word, four ratings
 * with their next intervals), its statistics with a chart, and the export for
 * Anki. The shell keeps the cards and schedules them; everything here is JSON
 * from the bridge, shown as text, never run.
 *
 * ES5 only: the pages run in QtWebKit 5.212.
 */
var Review = (function () {
  'use strict';

  var R = {};
  var byId = function (id) { return document.getElementById(id); };

  R.kept = {};       // sentence index -> card id, for the item in the practice view
  R.queue = [];
  R.card = null;
  R.intervals = null;
  R.revealed = false;

  function call() {
    var text = Tav.call.apply(null, arguments);
    return Tav.parseJson(text) || { ok: false, error: 'Keine Antwort vom Programm.' };
  }

  // "1 Min.", "6 Min.", "3 Std.", "8 Tage", "2 Mon.", "1,5 J."
  R.formatInterval = function (ms) {
    var min = Math.round(ms / 60000);
    if (min < 1) { return '<1 Min.'; }
    if (min < 60) { return min + ' Min.'; }
    var hours = Math.round(ms / 3600000);
    if (hours < 24) { return hours + ' Std.'; }
    var days = Math.round(ms / 86400000);
    if (days < 31) { return days === 1 ? '1 Tag' : days + ' Tage'; }
    if (days < 365) { return Math.round(days / 30) + ' Mon.'; }
    return String(Math.round(days / 36.5) / 10).replace('.', ',') + ' J.';
  };

  // ---- keeping in the practice view --------------------------------------

  function practiceVisible() {
    var p = byId('practice');
    return !!(p && !Tav.hasClass(p, 'hidden') && window.Practice && Practice.sentences && Practice.sentences.length);
  }

  function keepBar() {
    var bar = byId('pKeepBar');
    if (!bar) {
      var notice = byId('pNotice');
      if (!notice) { return null; }
      bar = Tav.el('div', 'keep-bar hidden');
      bar.id = 'pKeepBar';
      notice.parentNode.insertBefore(bar, notice.nextSibling);
    }
    return bar;
  }

  function showKeepBar(text, withRemove) {
    var bar = keepBar();
    if (!bar) { return; }
    bar.innerHTML = '';
    bar.appendChild(Tav.el('span', 'keep-text', text));
    if (withRemove) {
      var remove = Tav.el('button', 'btn small', 'Nicht mehr merken');
      remove.id = 'pKeepRemove';
      remove.onclick = function () { R.forgetCurrent(); };
      var stay = Tav.el('button', 'btn small', 'Behalten');
      stay.onclick = function () { Tav.addClass(bar, 'hidden'); };
      bar.appendChild(remove);
      bar.appendChild(stay);
    }
    Tav.removeClass(bar, 'hidden');
  }

  R.markRows = function () {
    var rows = document.querySelectorAll('#pSentences li.sentence');
    for (var i = 0; i < rows.length; i++) {
      var index = parseInt(rows[i].getAttribute('data-index'), 10);
      Tav.toggleClass(rows[i], 'kept', R.kept.hasOwnProperty(index));
    }
    var button = byId('pKeep');
    if (button && window.Practice) {
      var kept = R.kept.hasOwnProperty(Practice.current);
      Tav.toggleClass(button, 'active', kept);
      button.textContent = kept ? '\u2605 Gemerkt' : '\u2606 Merken';
    }
  };

  // The practice view opened an item: which of its sentences are kept.
  R.practiceOpened = function () {
    R.kept = {};
    var bar = byId('pKeepBar');
    if (bar) { Tav.addClass(bar, 'hidden'); }
    var data = call('keptSentences');
    var list = data && data.kept instanceof Array ? data.kept : [];
    for (var i = 0; i < list.length; i++) { R.kept[list[i].index] = list[i].id; }
    R.markRows();
  };

  R.toggleKeep = function () {
    if (!practiceVisible()) { return; }
    var i = Practice.current;
    if (i < 0) { return; }
    if (R.kept.hasOwnProperty(i)) {
      showKeepBar('Dieser Satz ist gemerkt.', true);
      return;
    }
    var s = Practice.sentences[i] || {};
    var result = call('keepSentence', i, JSON.stringify({
      text: Practice.textOf(i),
      translation: s.chinese || s.translation || '',
      title: (Practice.article && Practice.article.title) || ''
    }));
    if (!result.ok) {
      showKeepBar(result.error || 'Der Satz konnte nicht gemerkt werden.', false);
      return;
    }
    R.kept[i] = result.card.id;
    R.markRows();
    showKeepBar(result.warning || 'Gemerkt \u2013 zum Wiederholen auf der Startseite.', false);
    R.updateCount();
  };

  R.forgetCurrent = function () {
    var i = window.Practice ? Practice.current : -1;
    if (!R.kept.hasOwnProperty(i)) { return; }
    var result = call('forgetCard', R.kept[i]);
    if (result.ok) {
      delete R.kept[i];
      R.markRows();
      showKeepBar('Nicht mehr gemerkt.', false);
      R.updateCount();
    } else {
      showKeepBar(result.error || 'Das ging nicht.', false);
    }
  };

  // ---- the due count on the start page ------------------------------------

  R.updateCount = function () {
    var badge = byId('reviewBadge');
    if (!badge) { return; }
    var data = call('reviewDue');
    var c = data.counts || {};
    var n = (c['new'] || 0) + (c.learning || 0) + (c.review || 0);
    badge.textContent = String(n);
    Tav.toggleClass(badge, 'none', n === 0);
  };

  // ---- the review page ----------------------------------------------------

  function build() {
    var root = byId('review');
    if (!root || root.getAttribute('data-built')) { return root; }
    root.setAttribute('data-built', '1');
    root.innerHTML =
      '<div class="practice-head"><h1>Wiederholen</h1>' +
      '  <a class="btn" id="rBack">\u2190 Zurück</a></div>' +
      '<div class="review-counts" id="rCounts"></div>' +
      '<div class="review-card" id="rCard"></div>' +
      '<div class="section-title">Statistik</div>' +
      '<div class="review-stats" id="rStats"></div>' +
      '<div class="section-title">Exportieren</div>' +
      '<div class="review-export">' +
      '  <button class="btn" id="rExportApkg" title="Eine Notiz je Satz: Satz, Übersetzung, Ton, Quelle">Anki-Paket (.apkg)</button>' +
      '  <button class="btn" id="rExportTsv" title="Tabulatorgetrennt, mit einem Ordner der Töne">Textdatei (.tsv)</button>' +
      '  <span id="rExportNote"></span>' +
      '</div>';
    byId('rBack').onclick = function () { R.hide(); };
    byId('rExportApkg').onclick = function () { R.exportDeck('apkg'); };
    byId('rExportTsv').onclick = function () { R.exportDeck('tsv'); };
    return root;
  }

  R.visible = function () {
    var root = byId('review');
    return !!(root && !Tav.hasClass(root, 'hidden'));
  };

  R.show = function () {
    var root = build();
    if (!root) { return; }
    if (window.Practice && !Tav.hasClass(byId('practice'), 'hidden')) { Practice.close(); }
    Tav.addClass(byId('practice'), 'hidden');
    Tav.addClass(byId('home'), 'hidden');
    Tav.removeClass(root, 'hidden');
    window.scrollTo(0, 0);
    R.load();
    R.renderStats();
  };

  R.hide = function () {
    Tav.addClass(byId('review'), 'hidden');
    Tav.removeClass(byId('home'), 'hidden');
    R.updateCount();
  };

  R.load = function () {
    var data = call('reviewDue');
    R.queue = data.due instanceof Array ? data.due : [];
    R.intervals = data.intervals || null;
    var c = data.counts || {};
    byId('rCounts').innerHTML =
      '<span class="chip">Neu <b>' + (c['new'] || 0) + '</b></span>' +
      '<span class="chip">Lernen <b>' + (c.learning || 0) + '</b></span>' +
      '<span class="chip">Wiederholen <b>' + (c.review || 0) + '</b></span>';
    R.card = R.queue.length ? R.queue[0] : null;
    R.revealed = false;
    R.renderCard();
    if (R.card) { R.replay(); }
  };

  R.replay = function () {
    if (!R.card) { return; }
    if (!R.card.audio) {
      R.setFeedback('Zu diesem Satz gibt es keinen Ton.');
      return;
    }
    var result = call('playCard', R.card.id);
    if (!result.ok) { R.setFeedback(result.error || 'Der Ton kann nicht abgespielt werden.'); }
  };

  R.setFeedback = function (text) {
    var box = byId('rFeedback');
    if (box) { box.textContent = text; }
  };

  R.renderCard = function () {
    var box = byId('rCard');
    Tav.removeClass(box, 'typed-right');
    Tav.removeClass(box, 'typed-wrong');
    if (!R.card) {
      box.innerHTML = '<div class="note info" id="rDone">Für heute ist alles wiederholt. Gut gemacht!</div>';
      return;
    }
    var c = R.card;
    var html =
      '<div class="review-prompt">' + (c.audio ? 'Hör zu und schreib, was du hörst.' :
        'Kein Ton gespeichert \u2013 lies den Satz beim Aufdecken.') + '</div>' +
      '<div class="review-row">' +
      '  <button class="btn" id="rReplay" title="Leertaste oder R">\u25b6 Nochmal hören</button>' +
      '  <input id="rAnswer" placeholder="Was hörst du? (Enter prüft)" autocomplete="off">' +
      '  <button class="btn" id="rCheck">Prüfen</button>' +
      '  <button class="btn primary" id="rReveal">Aufdecken</button>' +
      '</div>' +
      '<div class="feedback" id="rFeedback"></div>' +
      '<div class="review-answer hidden" id="rSolution">' +
      '  <div class="review-words" id="rWords"></div>' +
      '  <div class="de">' + Tav.escapeHtml(c.text) + '</div>' +
      '  <div class="zh">' + Tav.escapeHtml(c.translation) + '</div>' +
      '  <div class="source">' + Tav.escapeHtml(c.title) + '</div>' +
      '</div>' +
      '<div class="review-rate hidden" id="rRate"></div>';
    box.innerHTML = html;
    byId('rReplay').onclick = function () { R.replay(); };
    byId('rCheck').onclick = function () { R.check(); };
    byId('rReveal').onclick = function () { R.reveal(''); };
    byId('rAnswer').onkeydown = function (ev) {
      if (ev.keyCode === 13) { R.check(); }
    };
    var labels = ['Nochmal', 'Schwer', 'Gut', 'Leicht'];
    var rate = byId('rRate');
    for (var g = 1; g <= 4; g++) {
      var b = Tav.el('button', 'btn rate rate' + g);
      b.id = 'rRate' + g;
      b.appendChild(Tav.el('span', 'rate-label', labels[g - 1]));
      var ivl = R.intervals && R.intervals.length === 4 ? R.formatInterval(R.intervals[g - 1]) : '';
      b.appendChild(Tav.el('span', 'rate-interval', ivl));
      b.title = 'Taste ' + g;
      b.onclick = (function (rating) { return function () { R.answer(rating); }; }(g));
      rate.appendChild(b);
    }
  };

  // Word by word, as in dictation; without the shared alignment, the whole sentence.
  R.check = function () {
    var typed = byId('rAnswer') ? byId('rAnswer').value : '';
    if (!typed.replace(/\s+/g, '')) { R.reveal(''); return; }
    R.reveal(typed);
  };

  R.reveal = function (typed) {
    if (!R.card) { return; }
    R.revealed = true;
    var words = byId('rWords');
    words.innerHTML = '';
    var right = false;
    if (typed) {
      if (window.WordAlign && typeof WordAlign.compare === 'function') {
        var parts = WordAlign.compare(R.card.text, typed) || [];
        right = true;
        for (var i = 0; i < parts.length; i++) {
          var p = parts[i];
          if (p.status !== 'right') { right = false; }
          var shown = p.status === 'missing' ? p.expected : p.word;
          var span = Tav.el('span', 'w ' + p.status, shown);
          if (p.status === 'wrong' && p.expected) { span.title = 'Richtig: ' + p.expected; }
          words.appendChild(span);
          words.appendChild(document.createTextNode(' '));
        }
      } else {
        var norm = function (t) {
          return String(t).toLowerCase().replace(/[^a-z\u00c0-\u024f0-9\s]/g, '').replace(/\s+/g, ' ').trim();
        };
        right = norm(typed) === norm(R.card.text);
        words.appendChild(Tav.el('span', 'w ' + (right ? 'right' : 'wrong'), typed));
      }
      R.setFeedback(right ? 'Richtig!' : 'Nicht ganz \u2013 vergleiche mit dem Satz.');
    } else {
      R.setFeedback('');
    }
    Tav.toggleClass(byId('rCard'), 'typed-right', typed && right);
    Tav.toggleClass(byId('rCard'), 'typed-wrong', typed && !right);
    Tav.removeClass(byId('rSolution'), 'hidden');
    Tav.removeClass(byId('rRate'), 'hidden');
    var answer = byId('rAnswer');
    if (answer) { answer.blur(); }
    var focus = byId(right ? 'rRate3' : 'rRate1');
    if (focus) { focus.focus(); }
  };

  R.answer = function (rating) {
    if (!R.card || !R.revealed) { return; }
    var result = call('answerReview', R.card.id, rating);
    if (!result.ok) {
      R.setFeedback(result.error || 'Die Antwort wurde nicht gespeichert.');
      return;
    }
    R.load();
    R.renderStats();
  };

  // ---- statistics ---------------------------------------------------------

  var svgNs = 'http://www.w3.org/2000/svg';
  function svg(tag, attrs) {
    var e = document.createElementNS(svgNs, tag);
    for (var k in attrs) { if (attrs.hasOwnProperty(k)) { e.setAttribute(k, String(attrs[k])); } }
    return e;
  }

  R.renderStats = function () {
    var box = byId('rStats');
    if (!box) { return; }
    var data = call('reviewStats');
    box.innerHTML = '';
    if (!data.ok) {
      box.appendChild(Tav.el('div', 'note', data.error || 'Keine Statistik.'));
      return;
    }
    var today = data.today || {};
    var chips = Tav.el('div', 'review-figures');
    var figures = [
      ['Heute fällig', today.due || 0],
      ['davon neu', today['new'] || 0],
      ['Heute wiederholt', today.reviews || 0],
      ['Serie', (data.streak || 0) + (data.streak === 1 ? ' Tag' : ' Tage')],
      ['Gut/Leicht', Math.round((data.goodShare || 0) * 100) + ' %'],
      ['Gemerkte Sätze', data.cards || 0]
    ];
    for (var f = 0; f < figures.length; f++) {
      var chip = Tav.el('span', 'chip', figures[f][0] + ' ');
      chip.appendChild(Tav.el('b', '', figures[f][1]));
      chips.appendChild(chip);
    }
    box.appendChild(chips);

    // Reviews per day, the last 12 weeks; one bar a day, a tick a week.
    var days = data.days instanceof Array ? data.days : [];
    var max = 1;
    for (var d = 0; d < days.length; d++) { max = Math.max(max, days[d].reviews || 0); }
    var barW = 8, gap = 2, h = 90, top = 12, bottom = 18;
    var axisEnd = 30 + days.length * (barW + gap);
    var width = axisEnd + 24; // room for the last date under today's bar
    var chart = svg('svg', { width: width, height: h + top + bottom, 'class': 'review-chart', id: 'rChart' });
    chart.appendChild(svg('line', { x1: 30, y1: top + h, x2: axisEnd, y2: top + h, stroke: '#cbd2d9' }));
    var label = svg('text', { x: 0, y: top + 8, 'font-size': 10, fill: '#7b8794' });
    label.appendChild(document.createTextNode(String(max)));
    chart.appendChild(label);
    for (var i = 0; i < days.length; i++) {
      var n = days[i].reviews || 0;
      var bh = Math.round(n * h / max);
      var x = 30 + i * (barW + gap);
      var bar = svg('rect', { x: x, y: top + h - bh, width: barW, height: Math.max(bh, n ? 1 : 0),
        fill: i === days.length - 1 ? '#2563eb' : '#7aa7f0' });
      var tip = svg('title', {});
      tip.appendChild(document.createTextNode(days[i].date + ': ' + n));
      bar.appendChild(tip);
      chart.appendChild(bar);
      if ((days.length - 1 - i) % 14 === 0) {
        var t = svg('text', { x: x - 8, y: top + h + 13, 'font-size': 10, fill: '#7b8794' });
        var parts = String(days[i].date).split('-');
        t.appendChild(document.createTextNode(parts.length === 3 ? parts[2] + '.' + parts[1] + '.' : ''));
        chart.appendChild(t);
      }
    }
    var wrap = Tav.el('div', 'review-chart-box');
    wrap.appendChild(Tav.el('div', 'group-label', 'Wiederholungen pro Tag (12 Wochen)'));
    wrap.appendChild(chart);
    box.appendChild(wrap);
  };

  R.exportDeck = function (format) {
    var note = byId('rExportNote');
    note.textContent = '';
    var result = call('exportDeck', format);
    if (result.ok) {
      note.textContent = result.notes + ' Sätze exportiert: ' + result.path;
      note.className = 'export-ok';
    } else if (!result.cancelled) {
      note.textContent = result.error || 'Der Export ist fehlgeschlagen.';
      note.className = 'export-failed';
    }
  };

  // ---- keys ---------------------------------------------------------------

  function typingIn(ev) {
    var t = ev.target || ev.srcElement;
    var tag = t && t.tagName ? t.tagName.toUpperCase() : '';
    return tag === 'INPUT' || tag === 'TEXTAREA' || (t && t.isContentEditable);
  }

  document.addEventListener('keydown', function (ev) {
    if (typingIn(ev) || ev.ctrlKey || ev.altKey || ev.metaKey) { return; }
    if (R.visible()) {
      if (ev.keyCode === 82 || ev.keyCode === 32) { // R, Space
        R.replay();
        ev.preventDefault();
      } else if (R.revealed && ev.keyCode >= 49 && ev.keyCode <= 52) { // 1-4
        R.answer(ev.keyCode - 48);
        ev.preventDefault();
      }
      return;
    }
    if (ev.keyCode === 77 && practiceVisible()) { // M
      R.toggleKeep();
      ev.preventDefault();
    }
  }, false);

  // The shell's play/pause key (Space on the video surface keys) reaches the
  // page as media.play/pause: on the review page it replays the clip instead.
  function wrapMedia() {
    if (!window.media) { return; }
    var play = media.play;
    var pause = media.pause;
    media.play = function () {
      if (R.visible()) { R.replay(); return; }
      return play.apply(media, arguments);
    };
    media.pause = function () {
      if (R.visible()) { R.replay(); return; }
      return pause.apply(media, arguments);
    };
  }

  function init() {
    wrapMedia();
    var button = byId('reviewBtn');
    if (button) {
      button.onclick = function () { R.show(); };
      R.updateCount();
    }
  }

  if (document.readyState === 'loading') {
    document.addEventListener('DOMContentLoaded', init, false);
  } else {
    init();
  }

  return R;
}());
