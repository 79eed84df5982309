/* Sentence times of the learner's own files, fitted to the speech by the
   shell: what was done to them (subtitles shifted, drift, sentence ends moved
   to the speech), "Rückgängig", and nudging the current sentence's start and
   end by 50 ms while practising, with buttons or the keys , and . (with Shift
   for the end). Every change is kept in the library by the shell. */
var Timing = (function () {
  'use strict';

  var T = { item: null, undone: false };
  var stepMs = 50;

  function byId(id) { return Tav.byId(id); }

  // 2300 -> "2,3", -4096 -> "−4,1"
  function decimal(value, digits) {
    var text = Math.abs(value).toFixed(digits).replace('.', ',');
    return (value < 0 && Number(text.replace(',', '.')) !== 0 ? '\u2212' : '') + text;
  }

  // What was done to the times, in a sentence; '' when nothing was.
  T.message = function (item) {
    var sync = item && item.sync;
    if (!sync) { return ''; }
    var sections = item.sentenceSource === 'silence';
    var n = Number(sync.tightened) || 0;
    var tightened = n ? n + (n === 1 ? (sections ? ' Abschnittsgrenze' : ' Satzgrenze') :
      (sections ? ' Abschnittsgrenzen' : ' Satzgrenzen')) + ' an die Sprache angepasst' : '';
    if (sync.mode === 'original') { return T.undone ? 'Originalzeiten der Untertitel' : ''; }
    var parts = [];
    if (sync.mode === 'offset') {
      parts.push('Untertitel von Hand um ' + decimal(Number(sync.offsetMs) / 1000, 1) + ' s verschoben');
    } else if (sync.applied) {
      var text = 'Untertitel um ' + decimal(Number(sync.offsetMs) / 1000, 1) + ' s verschoben';
      var drift = Number(sync.driftPpm) || 0;
      if (Math.abs(drift) >= 50) { text += ', Drift ' + decimal(drift / 10000, 2) + ' %'; }
      parts.push(text);
    }
    if (tightened) { parts.push(parts.length ? tightened.charAt(0).toLowerCase() + tightened.substring(1) : tightened); }
    return parts.join('; ');
  };

  function bar() {
    var box = byId('pTiming');
    if (box) { return box; }
    var notice = byId('pNotice');
    if (!notice) { return null; }
    box = Tav.el('div', 'timing-bar hidden');
    box.id = 'pTiming';
    // The nudge buttons stay together: on a narrow window they wrap as one line.
    box.innerHTML =
      '<span class="timing-message" id="pSyncText"></span>' +
      '<button class="btn small" id="pSyncUndo"></button>' +
      '<span class="timing-nudge">' +
      '<span class="group-label">Satzanfang</span>' +
      '<span class="segmented"><button class="btn small" id="pStartEarlier" title="Anfang 50 ms früher (Taste ,)">' +
      '\u221250 ms</button><button class="btn small" id="pStartLater" title="Anfang 50 ms später (Taste .)">' +
      '+50 ms</button></span>' +
      '<span class="group-label">Satzende</span>' +
      '<span class="segmented"><button class="btn small" id="pEndEarlier" title="Ende 50 ms früher (Umschalt+,)">' +
      '\u221250 ms</button><button class="btn small" id="pEndLater" title="Ende 50 ms später (Umschalt+.)">' +
      '+50 ms</button></span>' +
      '<span class="timing-note" id="pTimingNote"></span></span>';
    notice.parentNode.insertBefore(box, notice.nextSibling);
    byId('pSyncUndo').onclick = function () {
      T.resync(T.item && T.item.sync && T.item.sync.mode !== 'original' ? 'original' : 'auto');
    };
    byId('pStartEarlier').onclick = function () { T.nudge(-stepMs, 0); };
    byId('pStartLater').onclick = function () { T.nudge(stepMs, 0); };
    byId('pEndEarlier').onclick = function () { T.nudge(0, -stepMs); };
    byId('pEndLater').onclick = function () { T.nudge(0, stepMs); };
    return box;
  }

  function note(text) {
    var box = byId('pTimingNote');
    if (box) { box.textContent = text || ''; }
  }

  T.render = function () {
    var box = bar();
    if (!box) { return; }
    var item = T.item;
    Tav.toggleClass(box, 'hidden', !item);
    if (!item) { return; }
    var text = T.message(item);
    byId('pSyncText').textContent = text;
    var undo = byId('pSyncUndo');
    var original = item.sync && item.sync.mode === 'original';
    undo.textContent = original ? 'Automatisch anpassen' : 'Rückgängig';
    Tav.toggleClass(undo, 'hidden', !text);
  };

  // The item being practised (from mediaFiles), or null.
  T.show = function (item) {
    T.item = item && item.id ? item : null;
    T.undone = false;
    note('');
    T.render();
  };

  // New times from the shell: the page's sentences follow (the shell's player already does).
  function take(text) {
    var item = Tav.parseJson(text);
    if (!item || typeof item !== 'object') {
      note('Die Antwort des Programms ist unlesbar.');
      return false;
    }
    if (item.error) {
      note(String(item.error));
      return false;
    }
    var fresh = mediaFiles.sentences(item);
    if (!T.item || fresh.length !== Practice.sentences.length) { return false; }
    for (var i = 0; i < fresh.length; i++) {
      Practice.sentences[i].start = fresh[i].start;
      Practice.sentences[i].end = fresh[i].end;
      Practice.sentences[i].times = fresh[i].times;
    }
    T.item = item;
    note('');
    T.render();
    Practice.renderAll();
    return true;
  };

  T.resync = function (mode) {
    if (!T.item) { return; }
    if (take(Tav.call('resyncMedia', String(T.item.id), mode))) {
      T.undone = mode === 'original';
      T.render();
      if (Practice.current >= 0) { Practice.select(Practice.current); }
    }
  };

  // Moves the current sentence's start and end by the given ms, and plays it.
  T.nudge = function (startBy, endBy) {
    var i = Practice.current;
    var s = Practice.sentences[i];
    if (!T.item || !s) { return; }
    if (take(Tav.call('setSentenceTiming', String(T.item.id), i, s.start + startBy, s.end + endBy))) {
      note((startBy ? 'Anfang ' : 'Ende ') + ((startBy || endBy) > 0 ? '+' : '\u2212') + stepMs + ' ms');
      Practice.select(i);
    }
  };

  Tav.on('open', function (article) {
    if (!article || !article.own) { T.show(null); }
  });

  // By the character typed, so that Shift works on every keyboard layout:
  // , and . move the start; with Shift they give < and > (US) or ; and : (German).
  var keys = { ',': [-1, 0], '.': [1, 0], '<': [0, -1], '>': [0, 1], ';': [0, -1], ':': [0, 1] };
  document.addEventListener('keypress', function (ev) {
    var target = ev.target || ev.srcElement;
    if (!T.item || (target && (target.tagName === 'INPUT' || target.tagName === 'TEXTAREA'))) { return; }
    if (ev.ctrlKey || ev.altKey || ev.metaKey) { return; }
    var ch = String.fromCharCode(ev.charCode || ev.keyCode || 0);
    var move = keys[ch];
    if (!move || (!ev.shiftKey && move[1] !== 0)) { return; }
    var practice = byId('practice');
    if (practice && Tav.hasClass(practice, 'hidden')) { return; }
    T.nudge(move[0] * stepMs, move[1] * stepMs);
    ev.preventDefault();
  }, false);

  return T;
}());
