/*
 * The playing speed in the practice view: 0.5 to 2.0 in steps of 0.1 and a
 * button back to normal speed. The shell keeps the speed and says it on every
 * change, whoever made it (this control, the keys Ctrl+Up/Down):
 * media.setSpeed('0.7').
 *
 * ES5 only: the pages run in QtWebKit 5.212.
 */
var Speed = (function () {
  'use strict';

  var S = { value: 1 };

  function label(v) {
    var tenths = Math.abs(Math.round(v * 10) - v * 10) < 1e-6;
    return v.toFixed(tenths ? 1 : 2).replace('.', ',') + '\u00d7';
  }

  function select() { return Tav.byId('pSpeed'); }

  S.show = function (v) {
    var box = select();
    if (!box) { return; }
    var text = v.toFixed(2);
    var found = false;
    for (var i = 0; i < box.options.length; i++) {
      if (box.options[i].value === text) { found = true; }
    }
    if (!found) { // a speed between the steps (set elsewhere)
      var extra = document.createElement('option');
      extra.value = text;
      extra.appendChild(document.createTextNode(label(v)));
      box.appendChild(extra);
    }
    box.value = text;
    Tav.toggleClass(Tav.byId('pSpeedReset'), 'active', Math.abs(v - 1) > 0.001);
  };

  S.choose = function (v) {
    if (!(v > 0)) { return; }
    Tav.call('setSpeed', v);
  };

  S.build = function () {
    var holder = Tav.byId('pSpeedBox');
    if (!holder || select()) { return; }
    holder.appendChild(Tav.el('span', 'group-label', 'Tempo'));
    var box = Tav.el('select', 'speed');
    box.id = 'pSpeed';
    box.title = 'Abspielgeschwindigkeit (Strg+\u2191 / Strg+\u2193)';
    for (var t = 5; t <= 20; t++) {
      var option = document.createElement('option');
      option.value = (t / 10).toFixed(2);
      option.appendChild(document.createTextNode(label(t / 10)));
      box.appendChild(option);
    }
    box.onchange = function () { S.choose(parseFloat(box.value)); };
    holder.appendChild(box);
    var reset = Tav.el('button', 'btn small', '1\u00d7');
    reset.id = 'pSpeedReset';
    reset.title = 'Normale Geschwindigkeit';
    reset.onclick = function () { S.choose(1); };
    holder.appendChild(reset);
    S.show(S.value);
  };

  Tav.on('practiceBuilt', S.build);

  // The shell, on every change of the speed and when practice starts.
  media.setSpeed = function (speed) {
    var v = parseFloat(speed);
    if (!(v > 0)) { return; }
    S.value = v;
    S.show(v);
  };

  return S;
}());
