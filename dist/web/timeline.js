// A day as the history page draws it: one row per relay, the hours across.
// The plan's on periods are a light bar, the board's reported on periods a
// solid bar over it, commands ticks coloured by their source, a board that
// did not follow a command a red triangle, spells without a line hatched
// across all rows. The periods come from the engine; this only draws them.
'use strict';

const Timeline = (() => {
  const DAY = 24 * 3600;
  const AXIS = 18;
  const PLAN = 'rgb(186,222,250)';
  const BOARD = 'rgb(24,130,60)';
  const MISMATCH = 'rgb(255,0,0)';
  const SOURCES = {
    plan: 'rgb(20,60,200)',
    'catch-up': 'rgb(230,130,0)',
    'start-on': 'rgb(130,50,170)',
    manual: 'rgb(210,20,20)',
    're-assert': 'rgb(0,150,150)',
    remote: 'rgb(140,90,40)',
    restore: 'rgb(200,60,140)',
  };

  const el = (name, attributes) => Pictures.element(name, attributes);

  function clock(second) {
    const two = (n) => String(n).padStart(2, '0');
    return `${two(Math.floor(second / 3600))}:${two(Math.floor(second / 60) % 60)}:${two(second % 60)}`;
  }

  function titled(node, text) {
    const t = el('title', {});
    t.textContent = text;
    node.appendChild(t);
    return node;
  }

  function sourceColour(source) {
    return SOURCES[source] || 'rgb(90,90,90)';
  }

  // day: the engine's timeline; view: {from, seconds}; width in pixels.
  function draw(day, view, width) {
    const nameWidth = width < 500 ? 76 : 110;
    const rows = Math.max(1, day.relays.length);
    const rowH = 24;
    const height = AXIS + rows * rowH + 1;
    const area = Math.max(1, width - nameWidth);
    const to = view.from + view.seconds;
    const x = (second) => nameWidth + ((second - view.from) * area) / view.seconds;
    const svg = el('svg', {
      width, height, viewBox: `0 0 ${width} ${height}`, role: 'img', class: 'timeline',
      'aria-label': `${day.controller} ${day.date} 计划与控制器状态`,
    });
    const defs = el('defs', {});
    for (const [id, colour] of [['hatchBoard', BOARD], ['hatchLost', 'rgb(120,120,120)']]) {
      const p = el('pattern', {
        id, width: 6, height: 6, patternUnits: 'userSpaceOnUse', patternTransform: 'rotate(45)',
      });
      p.appendChild(el('line', { x1: 0, y1: 0, x2: 0, y2: 6, stroke: colour, 'stroke-width': 2 }));
      defs.appendChild(p);
    }
    const clip = el('clipPath', { id: 'timelineArea' });
    clip.appendChild(el('rect', { x: nameWidth, y: 0, width: area, height }));
    defs.appendChild(clip);
    // A long name is cut at its column, as the window elides it.
    const nameClip = el('clipPath', { id: 'nameArea' });
    nameClip.appendChild(el('rect', { x: 0, y: 0, width: nameWidth - 4, height }));
    defs.appendChild(nameClip);
    svg.appendChild(defs);
    svg.appendChild(el('rect', { x: 0, y: 0, width, height, fill: 'white' }));
    const drawing = el('g', { 'clip-path': 'url(#timelineArea)' });
    svg.appendChild(drawing);

    // Hour lines, finer when zoomed in.
    const step = view.seconds <= 2 * 3600 ? 600 : view.seconds <= 8 * 3600 ? 1800 : 3600;
    const labelEvery = width < 500 && view.seconds > 12 * 3600 ? 3 * 3600 : 3600;
    for (let s = Math.ceil(view.from / step) * step; s <= to; s += step) {
      const hour = s % 3600 === 0;
      drawing.appendChild(el('line', {
        x1: x(s), y1: AXIS, x2: x(s), y2: height,
        stroke: hour ? 'rgb(200,200,200)' : 'rgb(232,232,232)',
      }));
      if ((hour && s % labelEvery === 0) || view.seconds <= 2 * 3600) {
        const label = el('text', { x: x(s) + 2, y: 13, class: 'axis' });
        label.textContent = hour ? String(s / 3600) : clock(s).slice(0, 5);
        drawing.appendChild(label);
      }
    }

    const span = (s, top, h, fill, text) => {
      const x1 = x(Math.max(s[0], view.from));
      const x2 = x(Math.min(s[1], to));
      return titled(el('rect', { x: x1, y: top, width: Math.max(1, x2 - x1), height: h, fill }), text);
    };
    const visible = (s) => s[1] > view.from && s[0] < to;
    day.relays.forEach((relay, i) => {
      const top = AXIS + i * rowH;
      const name = `${relay.relay} ${relay.name}`;
      const row = el('g', { class: 'relayRow', 'data-relay': relay.relay });
      for (const s of relay.plan.filter(visible))
        row.appendChild(span(s, top + 1, rowH - 2, PLAN, `${name} 计划接通 ${clock(s[0])}-${clock(s[1] % DAY)}`));
      const boardH = rowH / 2;
      for (const s of relay.board.filter(visible))
        row.appendChild(span(s, top + (rowH - boardH) / 2, boardH, BOARD,
          `${name} 控制器报告接通 ${clock(s[0])}-${clock(s[1] % DAY)}`));
      for (const s of relay.chatter.filter(visible))
        row.appendChild(span(s, top + (rowH - boardH) / 2, boardH, 'url(#hatchBoard)', `${name} 频繁变化`));
      for (const [second, index] of relay.commands) {
        if (second < view.from || second >= to) continue;
        const e = day.events[index];
        row.appendChild(titled(el('rect', {
          x: x(second), y: top, width: 2, height: rowH, fill: sourceColour(e.source),
          'fill-opacity': e.result === 'sent' ? 1 : 0.43,
        }), `${e.at.slice(11)} ${name} ${e.shown.kind} ${e.shown.source} ${e.shown.result}`));
      }
      // Over the ticks: the command it follows must not hide it.
      const mark = Math.min(rowH - 2, 9);
      for (const [second, index] of relay.mismatches) {
        if (second < view.from || second >= to) continue;
        const e = day.events[index];
        const mx = x(second);
        row.appendChild(titled(el('polygon', {
          points: `${mx - mark / 2 - 1},${top + 1} ${mx + mark / 2 + 1},${top + 1} ${mx},${top + 1 + mark}`,
          fill: MISMATCH,
        }), `${e.at.slice(11)} ${name} 未按指令动作 ${e.shown.detail} 实际${e.shown.result}`));
      }
      row.appendChild(el('line', {
        x1: nameWidth, y1: top + rowH - 0.5, x2: width, y2: top + rowH - 0.5, stroke: 'rgb(236,236,236)',
      }));
      drawing.appendChild(row);
    });
    for (const s of day.line_lost.filter(visible)) {
      const r = span(s, AXIS, rows * rowH, 'url(#hatchLost)', `通信中断 ${clock(s[0])}-${clock(s[1] % DAY)}`);
      r.setAttribute('stroke', 'rgb(120,120,120)');
      drawing.appendChild(r);
    }

    svg.appendChild(el('rect', { x: 0, y: 0, width: nameWidth, height, fill: 'rgb(245,245,245)' }));
    const names = el('g', { 'clip-path': 'url(#nameArea)' });
    day.relays.forEach((relay, i) => {
      const label = el('text', { x: 4, y: AXIS + i * rowH + rowH / 2, class: 'name' });
      label.textContent = `${relay.relay} ${relay.name}`;
      names.appendChild(label);
    });
    svg.appendChild(names);
    svg.appendChild(el('rect', {
      x: 0.5, y: 0.5, width: width - 1, height: height - 1, fill: 'none', stroke: 'rgb(160,160,160)',
    }));
    return svg;
  }

  return { draw, clock, sourceColour, DAY };
})();
