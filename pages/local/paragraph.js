/* The desktop paragraph window's page: the current sentence, its translation,
   and buttons that steer the practice in the main window. ES5 only. */
var paragraph = (function () {
  'use strict';

  var state = { playState: 'play', lang: 'de', translationState: 'on', repeatState: '', mode: 'read' };
  var dragging = false;

  function byId(id) { return document.getElementById(id); }

  function api(name, a, b) {
    var bridge = window.ParagraphApi;
    if (!bridge || typeof bridge[name] !== 'function') { return; }
    if (arguments.length === 1) { bridge[name](); }
    else if (arguments.length === 2) { bridge[name](a); }
    else { bridge[name](a, b); }
  }

  // Text comes with ' as "======" and " as ";;;;;;".
  function decode(text) {
    return String(text === undefined || text === null ? '' : text)
      .replace(/======/g, '\'').replace(/;;;;;;/g, '"');
  }

  function normalise(text) {
    return String(text).toLowerCase().replace(/[.,!?;:"'()\u201e\u201c\u201d]/g, '').replace(/^\s+|\s+$/g, '');
  }

  function setText(id, text) {
    var e = byId(id);
    if (e) { e.textContent = text; }
  }

  function renderPlay() {
    var b = byId('playBtn');
    if (!b) { return; }
    // The button shows what a press does: "play" offers playing, "pause" offers pausing.
    b.setAttribute('data-state', state.playState);
    b.innerHTML = state.playState === 'pause' ? '&#10074;&#10074;' : '&#9654;';
    b.title = state.playState === 'pause' ? 'Pause' : 'Abspielen';
  }

  function renderStates() {
    var t = byId('translation');
    if (t) {
      t.className = 'translation' + (state.translationState === 'tap' ? ' tap' : '') +
        (state.translationState === 'off' ? ' hidden' : '');
    }
    var r = byId('repeatBtn');
    if (r) { r.className = state.repeatState ? 'on' : ''; }
    var names = { read: 'Lesen', dictation: 'Diktat', fillword: 'Lücke' };
    setText('modeBtn', names[state.mode] || 'Modus');
  }

  var p = {
    setParagraph: function (text) {
      setText('sentence', decode(text));
    },
    setDictTrans: function (text) {
      setText('translation', decode(text));
    },
    // The missing word is marked as {{word}}; the learner may fill it in here too.
    setFillword: function (text) {
      var plain = decode(text);
      var box = byId('sentence');
      if (!box) { return; }
      var m = /\{\{([^}]*)\}\}/.exec(plain);
      box.innerHTML = '';
      if (!m) {
        box.appendChild(document.createTextNode(plain));
        return;
      }
      var answer = m[1];
      box.appendChild(document.createTextNode(plain.substring(0, m.index)));
      var input = document.createElement('input');
      input.className = 'gap';
      input.size = Math.max(4, answer.length);
      input.onkeydown = function (ev) {
        if (ev.keyCode !== 13) { return; }
        if (normalise(input.value) === normalise(answer)) {
          var done = document.createElement('span');
          done.className = 'solved';
          done.textContent = answer;
          box.replaceChild(done, input);
          api('paragraphFillwordSuccess');
        } else {
          input.className = 'gap wrong';
        }
      };
      box.appendChild(input);
      box.appendChild(document.createTextNode(plain.substring(m.index + m[0].length)));
    },
    setChoised: function (text) {
      var e = byId('choised');
      if (!e) { return; }
      var word = decode(text);
      e.textContent = word;
      e.className = word ? 'choised' : 'choised hidden';
    },
    setPlayState: function (playState) {
      state.playState = playState === 'pause' ? 'pause' : 'play';
      renderPlay();
    },
    saveState: function (key, value) {
      state[key] = value === undefined || value === null ? '' : String(value);
      renderStates();
    },
    setLang: function (lang) {
      state.lang = lang || 'de';
      document.documentElement.setAttribute('lang', state.lang);
    },
    state: state
  };

  function init() {
    byId('playBtn').onclick = function () { api('paraSetState', 'play', state.playState); };
    byId('preBtn').onclick = function () { api('paraSetState', 'play', 'pre'); };
    byId('nextBtn').onclick = function () { api('paraSetState', 'play', 'next'); };
    byId('transBtn').onclick = function () { api('paraSetState', 'translateState', state.translationState); };
    byId('repeatBtn').onclick = function () { api('paraSetState', 'repeatState', state.repeatState); };
    byId('modeBtn').onclick = function () { api('paraSetState', 'modeState', state.mode); };
    byId('closeBtn').onclick = function () { api('paraSetState', 'desktopState', 'off'); };
    byId('translation').onclick = function () {
      if (state.translationState === 'tap') { byId('translation').className = 'translation'; }
    };
    byId('dragHandle').onmousedown = function (ev) {
      if (ev.button !== 0) { return; }
      dragging = true;
      api('setDragState', 'start');
      ev.preventDefault();
    };
    document.addEventListener('mouseup', function () {
      if (!dragging) { return; }
      dragging = false;
      api('setDragState', 'end');
    }, false);
    renderPlay();
    renderStates();
    api('pageLoaded', 'paragraph');
  }

  if (document.readyState === 'loading') {
    document.addEventListener('DOMContentLoaded', init, false);
  } else {
    init();
  }
  return p;
}());
