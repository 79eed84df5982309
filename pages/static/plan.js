/*
 * The repetition plan ("Wiederholplan") in the practice view: how the modes
 * that repeat a sentence ("Satz wiederholen" and "Diktat") play each hearing,
 * at which speed and with a pause for speaking along after it. The shell keeps
 * the plan for the session, checks it, and says which hearing plays:
 * media.showHearing('2', '3', '0.75') (number, count or 0 in a loop, speed;
 * number 0: the plan is over).
 *
 * ES5 only: the pages run in QtWebKit 5.212.
 */
var Plan = (function () {
  'use strict';

  var P = {};

  var plans = [
    { id: 'off', label: 'aus', plan: null },
    { id: 'slow', label: 'langsam \u2192 normal (0,75 \u00b7 1 \u00b7 1)', plan: { speeds: [0.75, 1, 1], pauseFactor: 0 } },
    { id: 'along', label: 'mit Pausen zum Mitsprechen', plan: { speeds: [1, 1, 1], pauseFactor: 1 } },
    { id: 'slowAlong', label: 'langsam \u2192 normal + Pausen', plan: { speeds: [0.75, 1, 1], pauseFactor: 1 } }
  ];

  function select() { return Tav.byId('pPlan'); }

  function number(v) { return String(v).replace('.', ','); }

  // The entry of a plan as the shell answers it ({"ok", "speeds", "pauseFactor"}); null: none fits.
  function entryOf(answer) {
    if (!answer || !answer.speeds || !answer.speeds.length) { return plans[0]; }
    for (var i = 1; i < plans.length; i++) {
      var p = plans[i].plan;
      if (p.pauseFactor === answer.pauseFactor && p.speeds.join(',') === answer.speeds.join(',')) { return plans[i]; }
    }
    return null;
  }

  P.show = function (answer) {
    var box = select();
    if (!box) { return; }
    var entry = entryOf(answer);
    if (!entry) { // set elsewhere: shown as it is
      var text = answer.speeds.map(number).join(' \u00b7 ') +
        (answer.pauseFactor > 0 ? ', Pause ' + number(answer.pauseFactor) + '\u00d7' : '');
      var option = Tav.byId('pPlanOwn') || document.createElement('option');
      option.id = 'pPlanOwn';
      option.value = 'own';
      option.textContent = text;
      box.appendChild(option);
      box.value = 'own';
    } else {
      box.value = entry.id;
    }
    Tav.toggleClass(box, 'active', box.value !== 'off');
  };

  P.choose = function (id) {
    var entry = plans[0];
    for (var i = 0; i < plans.length; i++) {
      if (plans[i].id === id) { entry = plans[i]; }
    }
    var answer = Tav.parseJson(Tav.call('setRepetitionPlan', entry.plan ? JSON.stringify(entry.plan) : ''));
    if (!answer) { return; } // outside the application
    if (!answer.ok) {
      Practice.setNotice(answer.error || 'Der Wiederholplan wurde nicht übernommen.');
      P.sync();
      return;
    }
    Practice.setNotice('');
    P.show(answer);
    P.hearing(0);
  };

  // The plan in force, from the shell (a page loaded anew finds it there).
  P.sync = function () {
    var answer = Tav.parseJson(Tav.call('repetitionPlan'));
    if (answer && answer.ok) { P.show(answer); }
  };

  // speed: as the shell writes it ("0.75", "1.0").
  P.hearing = function (index, count, speed) {
    var label = Tav.byId('pHearing');
    if (!label) { return; }
    if (!(index > 0)) {
      label.textContent = '';
      return;
    }
    label.textContent = 'Durchgang ' + index + (count > 0 ? '/' + count : '') + ' \u00b7 ' + number(speed) + '\u00d7';
  };

  P.build = function () {
    var holder = Tav.byId('pPlanBox');
    if (!holder || select()) { return; }
    holder.appendChild(Tav.el('span', 'group-label', 'Wiederholplan'));
    var box = Tav.el('select', 'plan');
    box.id = 'pPlan';
    box.title = 'Wie „Satz wiederholen“ und „Diktat“ einen Satz abspielen: Tempo je Durchgang, Pausen zum Mitsprechen';
    for (var i = 0; i < plans.length; i++) {
      var option = document.createElement('option');
      option.value = plans[i].id;
      option.appendChild(document.createTextNode(plans[i].label));
      box.appendChild(option);
    }
    box.onchange = function () { P.choose(box.value); };
    holder.appendChild(box);
    holder.appendChild(Tav.el('span', 'hearing', ''));
    holder.lastChild.id = 'pHearing';
    P.sync();
  };

  Tav.on('practiceBuilt', P.build);
  Tav.on('open', function () { P.hearing(0); });

  // The shell, as each hearing of the plan starts and when the plan is over.
  media.showHearing = function (index, count, speed) {
    P.hearing(parseInt(index, 10), parseInt(count, 10), String(speed));
  };

  return P;
}());
