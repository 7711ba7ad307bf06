// The monitor's pictures as the window draws them: a relay pulled in or
// released, a contact closed, open or absent. Red is what carries current;
// the stylesheet greys a picture whose state is not known.
'use strict';

const Pictures = (() => {
  const NS = 'http://www.w3.org/2000/svg';
  const RED = 'rgb(255,0,0)';
  const BLACK = 'rgb(0,0,0)';
  // Drawn at one and a half times the window's size: a finger needs room.
  const SCALE = 1.5;

  function element(name, attributes) {
    const e = document.createElementNS(NS, name);
    for (const [key, value] of Object.entries(attributes)) e.setAttribute(key, value);
    return e;
  }

  function picture(width, height, title) {
    const svg = element('svg', {
      viewBox: `0 0 ${width} ${height}`,
      width: width * SCALE,
      height: height * SCALE,
      role: 'img',
      'aria-label': title,
    });
    const t = element('title', {});
    t.textContent = title;
    svg.appendChild(t);
    return svg;
  }

  function line(svg, x1, y1, x2, y2, colour, width, cap = 'butt') {
    svg.appendChild(element('line', {
      x1, y1, x2, y2, stroke: colour, 'stroke-width': width, 'stroke-linecap': cap,
    }));
  }

  // A terminal: a small ring.
  function terminal(svg, x, y, colour) {
    svg.appendChild(element('circle', {
      cx: x, cy: y, r: 3, fill: 'none', stroke: colour, 'stroke-width': 1.6,
    }));
  }

  function leads(svg, width, y, colour, inset) {
    line(svg, 0.5, y, inset, y, colour, 2);
    line(svg, width - inset, y, width - 0.5, y, colour, 2);
  }

  // A coil box in the middle, terminals on both sides and the armature bar
  // above; pulled in, the bar lies on both terminals.
  function relay(on, title) {
    const w = 49;
    const h = 25;
    const y = h - 7.5;
    const svg = picture(w, h, title);
    const side = on ? RED : BLACK;
    leads(svg, w, y, side, 6.5);
    terminal(svg, 10, y, side);
    terminal(svg, w - 10, y, side);
    svg.appendChild(element('rect', {
      x: 18.5, y: y - 2.5, width: 12, height: 7, fill: 'none', stroke: side, 'stroke-width': 1.4,
    }));
    line(svg, 18.5, y + 4.5, 30.5, y - 2.5, side, 1.4);
    if (on) {
      line(svg, 10, y - 4, w - 10, y - 4, RED, 2.4, 'round');
      line(svg, 10, y - 4, 10, y - 3, RED, 2.4, 'round');
      line(svg, w - 10, y - 4, w - 10, y - 3, RED, 2.4, 'round');
    } else {
      line(svg, 10, y - 4, w - 12, 2, RED, 2.4, 'round');
    }
    return svg;
  }

  // A contact: two terminals and the blade from the left one.
  function contact(closed, title) {
    const w = 41;
    const h = 21;
    const y = 14.5;
    const svg = picture(w, h, title);
    const colour = closed ? RED : BLACK;
    leads(svg, w, y, colour, 5.5);
    terminal(svg, 9, y, colour);
    terminal(svg, w - 9, y, colour);
    if (closed) line(svg, 11.5, y - 1.5, w - 9, y - 3, colour, 2.2, 'round');
    else line(svg, 11.5, y - 1.5, w - 12, 2, colour, 2.2, 'round');
    return svg;
  }

  function absent(title) {
    const w = 41;
    const h = 21;
    const y = 14.5;
    const svg = picture(w, h, title);
    leads(svg, w, y, BLACK, 5.5);
    terminal(svg, 9, y, BLACK);
    terminal(svg, w - 9, y, BLACK);
    const cx = w / 2;
    const cy = 10.5;
    line(svg, cx - 5, cy - 5, cx + 5, cy + 5, RED, 2, 'round');
    line(svg, cx - 5, cy + 5, cx + 5, cy - 5, RED, 2, 'round');
    return svg;
  }

  return { relay, contact, absent, element };
})();
