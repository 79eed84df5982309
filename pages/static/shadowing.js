/*
 * Nachsprechen (shadowing): the practice mode in which the shell plays the
 * current sentence, records the learner saying it back and compares the two.
 * The shell tells this page where a take is with shadowing.state(...) and
 * sends the comparison with shadowing.result(json); this file draws both
 * waveforms with their pitch contours, the score and its parts, and the
 * earlier attempts. practice.js calls Shadow.start/panelHtml/attach/leave.
 *
 * ES5 only: the pages run in QtWebKit 5.212.
 */
var Shadow = (function () {
  'use strict';

  var S = {
    index: -1,
    state: '',       // '' | starting | playing | recording | analysing | done | error
    result: null,    // the last result for S.index
    attempts: []
  };

  var stateText = {
    starting: 'Mikrofon wird geöffnet \u2026',
    playing: 'Hör gut zu \u2026',
    recording: 'Jetzt nachsprechen! (Leertaste beendet die Aufnahme)',
    analysing: 'Wird ausgewertet \u2026'
  };
  var parts = [
    { key: 'timing', label: 'Timing' },
    { key: 'rhythm', label: 'Rhythmus' },
    { key: 'melody', label: 'Melodie' }
  ];

  function byId(id) { return Tav.byId(id); }

  S.start = function (i) {
    S.index = i;
    S.result = null;
    S.state = 'starting';
    S.loadAttempts();
    Tav.call('startShadowing', i);
    S.render();
  };

  // Leaving the mode: a take under way ends with it.
  S.leave = function () {
    if (S.state === 'starting' || S.state === 'playing' || S.state === 'recording') {
      Tav.call('stopShadowing');
    }
    S.state = '';
  };

  S.loadAttempts = function () {
    var list = Tav.parseJson(Tav.call('shadowingAttempts', S.index) || '[]');
    S.attempts = list && list.length !== undefined ? list : [];
  };

  S.busy = function () {
    return S.state === 'starting' || S.state === 'playing' || S.state === 'recording' || S.state === 'analysing';
  };

  // ---- the panel under the current sentence -------------------------------

  S.panelHtml = function (i) {
    if (i !== S.index) {
      S.index = i;
      S.result = null;
      S.state = '';
      S.loadAttempts();
    }
    return '<div class="shadow-panel" id="shPanel">' +
      '<div class="shadow-status" id="shStatus"></div>' +
      '<div class="shadow-result hidden" id="shResult">' +
      '  <div class="shadow-score"><span class="shadow-total" id="shTotal"></span>' +
      '  <span class="shadow-parts" id="shParts"></span></div>' +
      '  <div class="shadow-legend"><span class="swatch original"></span>Original' +
      '  <span class="swatch learner"></span>Meine Aufnahme' +
      '  <span class="swatch pitch"></span>Satzmelodie</div>' +
      '  <canvas class="shadow-wave" id="shWave"></canvas>' +
      '</div>' +
      '<div class="shadow-message" id="shMessage"></div>' +
      '<div class="shadow-buttons">' +
      '  <button class="btn small primary" id="shAgain">Nochmal</button>' +
      '  <button class="btn small" id="shOriginal">Original</button>' +
      '  <button class="btn small" id="shMine">Meine Aufnahme</button>' +
      '  <button class="btn small" id="shAB">A/B</button>' +
      '  <button class="btn small" id="shNext">Weiter</button>' +
      '</div>' +
      '<div class="shadow-attempts" id="shAttempts"></div>' +
      '</div>';
  };

  S.attach = function () {
    if (!byId('shPanel')) { return; }
    byId('shAgain').onclick = function () { S.start(S.index); };
    byId('shOriginal').onclick = function () { Tav.call('playShadowingSentence', S.index); };
    byId('shMine').onclick = function () { if (S.attemptId()) { Tav.call('playAttempt', S.attemptId()); } };
    byId('shAB').onclick = function () { if (S.attemptId()) { Tav.call('playComparison', S.attemptId()); } };
    byId('shNext').onclick = function () {
      if (Practice.current + 1 < Practice.sentences.length) { Practice.select(Practice.current + 1); }
    };
    S.render();
  };

  S.attemptId = function () {
    if (S.result && S.result.attempt) { return S.result.attempt; }
    return S.attempts.length ? S.attempts[0].id : '';
  };

  S.render = function () {
    var status = byId('shStatus');
    if (!status) { return; }
    var text = stateText[S.state] || '';
    status.innerHTML = (S.state === 'recording' ? '<span class="rec-dot"></span>' : '') +
      (S.busy() && S.state !== 'recording' ? '<span class="spinner"></span>' : '') + Tav.escapeHtml(text);
    Tav.toggleClass(status, 'recording', S.state === 'recording');
    Tav.toggleClass(byId('shPanel'), 'busy', S.busy());

    var r = S.result;
    var shown = !!(r && r.attempt && r.original && r.learner);
    Tav.toggleClass(byId('shResult'), 'hidden', !shown);
    byId('shMessage').textContent = r && r.message && !S.busy() ? r.message : '';
    Tav.toggleClass(byId('shMessage'), 'error', S.state === 'error');
    if (shown) {
      byId('shTotal').textContent = r.score + ' Punkte';
      var html = '';
      for (var k = 0; k < parts.length; k++) {
        var v = Math.max(0, Math.min(100, r[parts[k].key] || 0));
        html += '<span class="shadow-part"><span class="label">' + parts[k].label + '</span>' +
          '<span class="bar"><span class="fill" style="width:' + v + '%"></span></span>' +
          '<span class="value">' + v + '</span></span>';
      }
      byId('shParts').innerHTML = html;
      S.draw(byId('shWave'), r);
    }
    var id = S.attemptId();
    byId('shMine').disabled = !id || S.busy();
    byId('shAB').disabled = !id || S.busy();
    byId('shAgain').disabled = S.state === 'analysing';
    byId('shOriginal').disabled = S.busy();
    S.renderAttempts();
    S.reveal();
  };

  // The whole panel in view (its row may have grown below the list's edge).
  S.reveal = function () {
    var li = Practice.rowElement(S.index);
    var box = byId('pSentences');
    if (!li || !box) { return; }
    var top = li.offsetTop;
    var bottom = top + li.offsetHeight;
    if (bottom > box.scrollTop + box.clientHeight) {
      box.scrollTop = Math.max(0, Math.min(top - 8, bottom - box.clientHeight + 8));
    } else if (top < box.scrollTop) {
      box.scrollTop = Math.max(0, top - 8);
    }
  };

  S.renderAttempts = function () {
    var box = byId('shAttempts');
    if (!box) { return; }
    box.innerHTML = '';
    if (!S.attempts.length) { return; }
    box.appendChild(Tav.el('span', 'group-label', 'Frühere Versuche'));
    for (var k = 0; k < S.attempts.length; k++) {
      var a = S.attempts[k];
      var when = new Date(a.recorded);
      var row = Tav.el('span', 'shadow-attempt');
      row.appendChild(Tav.el('span', 'when', ('0' + when.getHours()).slice(-2) + ':' + ('0' + when.getMinutes()).slice(-2)));
      row.appendChild(Tav.el('span', 'points', a.score + ' P.'));
      row.title = 'Timing ' + a.timing + ' · Rhythmus ' + a.rhythm + ' · Melodie ' + a.melody;
      var play = Tav.el('button', 'btn tiny', '\u25b6');
      play.title = 'Anhören';
      play.onclick = (function (id) { return function () { Tav.call('playAttempt', id); }; }(a.id));
      var ab = Tav.el('button', 'btn tiny', 'A/B');
      ab.title = 'Original, dann dieser Versuch';
      ab.onclick = (function (id) { return function () { Tav.call('playComparison', id); }; }(a.id));
      var del = Tav.el('button', 'btn tiny', '\u2715');
      del.title = 'Löschen';
      del.onclick = (function (id) {
        return function () {
          Tav.call('deleteAttempt', id);
          if (S.result && S.result.attempt === id) { S.result = null; }
          S.loadAttempts();
          S.render();
        };
      }(a.id));
      row.appendChild(play);
      row.appendChild(ab);
      row.appendChild(del);
      box.appendChild(row);
    }
  };

  // ---- drawing ------------------------------------------------------------

  // Both voices on one time axis (10 ms a value, or frameMs), the original
  // above, the learner below, each with its pitch contour (semitones from the
  // speaker's median) over the waveform, and lines where the alignment pairs them.
  S.draw = function (canvas, r) {
    if (!canvas || !canvas.getContext) { return; }
    var ratio = window.devicePixelRatio || 1;
    var width = canvas.clientWidth || 600;
    var height = canvas.clientHeight || 180;
    canvas.width = Math.round(width * ratio);
    canvas.height = Math.round(height * ratio);
    var g = canvas.getContext('2d');
    g.setTransform(ratio, 0, 0, ratio, 0, 0);
    g.clearRect(0, 0, width, height);

    var o = r.original, l = r.learner;
    var frames = Math.max(o.peaks.length, l.peaks.length, 1);
    var x = function (i) { return 4 + i * (width - 8) / frames; };
    var gap = 14;
    var lane = (height - gap) / 2;
    var lanes = [{ voice: o, top: 0, wave: '#93c5fd', line: '#1d4ed8' },
                 { voice: l, top: lane + gap, wave: '#fdba74', line: '#c2410c' }];

    // Alignment: a few pairs of frames that say the same.
    g.strokeStyle = 'rgba(100, 116, 139, 0.35)';
    g.lineWidth = 1;
    var path = r.path || [];
    var every = Math.max(1, Math.round(path.length / 24));
    for (var p = 0; p < path.length; p += every) {
      g.beginPath();
      g.moveTo(x(path[p][0]), lane - 2);
      g.lineTo(x(path[p][1]), lane + gap + 2);
      g.stroke();
    }

    for (var n = 0; n < lanes.length; n++) {
      var v = lanes[n].voice, top = lanes[n].top, mid = top + lane / 2;
      g.fillStyle = lanes[n].wave;
      var step = (width - 8) / frames;
      for (var i = 0; i < v.peaks.length; i++) {
        var h = Math.max(0.5, v.peaks[i] * (lane / 2 - 2));
        g.fillRect(x(i), mid - h, Math.max(1, step - 0.3), 2 * h);
      }
      // Pitch: 12 semitones up or down fill the lane.
      g.strokeStyle = lanes[n].line;
      g.lineWidth = 2;
      g.beginPath();
      var drawing = false;
      for (var k = 0; k < v.pitch.length; k++) {
        var st = v.pitch[k];
        if (st === null || st === undefined) { drawing = false; continue; }
        var y = mid - Math.max(-12, Math.min(12, st)) * (lane / 2 - 4) / 12;
        if (drawing) { g.lineTo(x(k), y); } else { g.moveTo(x(k), y); }
        drawing = true;
      }
      g.stroke();
    }
  };

  return S;
}());

// ---- what the shell calls -------------------------------------------------

var shadowing = {
  state: function (state) {
    Shadow.state = String(state);
    if (Shadow.state === 'done' || Shadow.state === 'error') { Shadow.loadAttempts(); }
    Shadow.render();
  },
  result: function (json) {
    var r = Tav.parseJson(json);
    if (!r) { return; }
    if (r.index !== undefined && r.index !== Shadow.index) { return; } // an older sentence's take
    if (r.attempt || !Shadow.result || !Shadow.result.attempt) {
      Shadow.result = r;
    } else {
      Shadow.result.message = r.message; // a playback that failed: the score stays
    }
    Shadow.render();
  }
};

// N switches to Nachsprechen while no text field has the focus.
document.addEventListener('keydown', function (ev) {
  var t = ev.target || ev.srcElement;
  var tag = t && t.tagName ? t.tagName.toUpperCase() : '';
  if (tag === 'INPUT' || tag === 'TEXTAREA' || (t && t.isContentEditable)) { return; }
  if (ev.ctrlKey || ev.altKey || ev.metaKey) { return; }
  if ((ev.keyCode === 78 || ev.key === 'n' || ev.key === 'N') && window.Practice && Practice.root &&
      Practice.sentences.length && !Tav.hasClass(Practice.root, 'hidden')) {
    Practice.setMode('shadowing');
    ev.preventDefault();
  }
}, false);
